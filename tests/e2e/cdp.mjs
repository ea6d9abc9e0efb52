// A small client of the DevTools protocol that Qt WebEngine serves when
// QTWEBENGINE_REMOTE_DEBUGGING is set. Playwright's connectOverCDP needs browser-context
// commands that Qt WebEngine does not offer, so the test speaks to each page directly:
// script evaluation, key presses and typed text, and mouse clicks, as a user makes them.
export class PageSession {
  static async connect(webSocketUrl) {
    const socket = new WebSocket(webSocketUrl);
    await new Promise((resolve, reject) => {
      socket.onopen = resolve;
      socket.onerror = () => reject(new Error(`cannot connect to ${webSocketUrl}`));
    });
    return new PageSession(socket);
  }

  constructor(socket) {
    this.socket = socket;
    this.nextId = 1;
    this.waiting = new Map();
    socket.onmessage = (event) => {
      const message = JSON.parse(event.data);
      const pending = this.waiting.get(message.id);
      if (!pending) return;
      this.waiting.delete(message.id);
      if (message.error) pending.reject(new Error(message.error.message));
      else pending.resolve(message.result);
    };
    socket.onclose = () => {
      for (const pending of this.waiting.values()) pending.reject(new Error('page closed'));
      this.waiting.clear();
    };
  }

  send(method, params = {}) {
    const id = this.nextId++;
    this.socket.send(JSON.stringify({ id, method, params }));
    return new Promise((resolve, reject) => this.waiting.set(id, { resolve, reject }));
  }

  async evaluate(expression) {
    const reply = await this.send('Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true });
    if (reply.exceptionDetails) throw new Error(`${expression}: ${reply.exceptionDetails.text}`);
    return reply.result.value;
  }

  async press(key, code = key, keyCode = 0) {
    const base = { key, code, windowsVirtualKeyCode: keyCode, nativeVirtualKeyCode: keyCode };
    await this.send('Input.dispatchKeyEvent', { type: 'rawKeyDown', ...base });
    if (key === 'Enter') await this.send('Input.dispatchKeyEvent', { type: 'char', text: '\r', ...base });
    await this.send('Input.dispatchKeyEvent', { type: 'keyUp', ...base });
  }

  async type(text) {
    for (const ch of text) await this.send('Input.dispatchKeyEvent', { type: 'char', text: ch, key: ch });
  }

  async click(selector) {
    const box = await this.evaluate(`(() => { const r = document.querySelector(${JSON.stringify(selector)}).getBoundingClientRect();
      return { x: r.left + r.width / 2, y: r.top + r.height / 2 }; })()`);
    for (const type of ['mousePressed', 'mouseReleased']) {
      await this.send('Input.dispatchMouseEvent', { type, x: box.x, y: box.y, button: 'left', clickCount: 1 });
    }
  }

  close() {
    this.socket.close();
  }
}

export const keys = {
  Tab: ['Tab', 'Tab', 9],
  Enter: ['Enter', 'Enter', 13],
};

// The pages that the application shows, as the debugging port lists them.
export async function listPages(port) {
  try {
    const reply = await fetch(`http://127.0.0.1:${port}/json/list`);
    return (await reply.json()).filter((t) => t.type === 'page');
  } catch {
    return [];
  }
}

export async function waitFor(what, probe, timeoutMs = 60000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe().catch(() => undefined);
    if (value) return value;
    if (Date.now() > end) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
}
