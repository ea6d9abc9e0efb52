// Cogitra as a person runs it, for the end-to-end test and the screenshot tools: the local
// notebook service with its demo account, the application pointed at it, and the
// application's pages reached through the DevTools protocol that Qt WebEngine serves when
// QTWEBENGINE_REMOTE_DEBUGGING is set. Playwright's connectOverCDP needs browser-context
// commands that Qt WebEngine does not offer, so each page is spoken to directly. The
// programs come from COGITRA_SERVICE and COGITRA_APP; node 20 needs --experimental-websocket.
import { execFileSync, spawn } from 'node:child_process';
import net from 'node:net';

const env = process.env;

// Script evaluation, key presses, typed text and mouse clicks in one page, as a user makes them.
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
    Object.assign(this, { socket, nextId: 1, waiting: new Map() });
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

  // Tab or Enter.
  async press(key) {
    const keyCode = { Tab: 9, Enter: 13 }[key];
    const base = { key, code: key, windowsVirtualKeyCode: keyCode, nativeVirtualKeyCode: keyCode };
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

  // The map the editor shows (the page keeps g_ZetJsonResult at it), '' before it has one.
  mapJson() { return this.evaluate('window.g_ZetJsonResult || ""'); }

  // Tab on the root and the text typed: a new child, left in its text box. The window may not
  // have the system's focus under Xvfb; the page is told it has.
  async typeChildOfRoot(text) {
    await this.send('Emulation.setFocusEmulationEnabled', { enabled: true }).catch(() => {});
    await this.evaluate('void CogitraEditor.minder.select(CogitraEditor.minder.getRoot(), true)');
    await this.evaluate('void CogitraEditor.inline.focusReceiver()');
    await this.press('Tab');
    await waitFor('the text box', () => this.evaluate('CogitraEditor.inline.isEditing()'));
    await this.type(text);
  }

  close() { this.socket.close(); }
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

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

const children = new Set();

function start(program, args, extraEnv) {
  const child = spawn(program, args, { env: { ...env, ...extraEnv }, stdio: ['ignore', 'pipe', 'pipe'] });
  child.output = '';
  for (const stream of [child.stdout, child.stderr]) stream.on('data', (d) => { child.output += d; });
  child.exited = new Promise((resolve) => child.on('exit', resolve));
  children.add(child);
  return child;
}

export async function stop(child) {
  if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
  const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
  await child.exited;
  clearTimeout(timer);
  children.delete(child);
}

export async function stopAll() {
  for (const child of [...children].reverse()) await stop(child);
}

// The service's first line of output is its address.
export async function startService(dataDir) {
  const service = start(env.COGITRA_SERVICE, ['--data', dataDir, '--seed-demo']);
  service.root = await waitFor('the notebook service', async () => service.output.includes('\n') && service.output.split('\n')[0].trim());
  return service;
}

// Every address the application and cogitra-cli reach goes to the local service.
export function endpoints(root, appData) {
  return {
    COGITRA_GRAPH_ROOT: root, COGITRA_LOGIN_ROOT: root, COGITRA_ACCOUNT_ROOT: root,
    COGITRA_MAKER_ROOT: root, COGITRA_DESKTOP_ROOT: root, COGITRA_DATA_ROOT: appData,
  };
}

export async function startApp(root, appData, extraEnv = {}) {
  const port = await freePort();
  const app = start(env.COGITRA_APP, [], {
    ...endpoints(root, appData),
    QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`,
    QTWEBENGINE_DISABLE_SANDBOX: '1',
    QT_QPA_PLATFORM: 'xcb',
    ...extraEnv,
  });
  app.debugPort = port;
  return app;
}

// The first page the application shows that passes test, as the debugging port lists them.
export async function pageWhere(app, what, test) {
  const target = await waitFor(what, async () => {
    const reply = await fetch(`http://127.0.0.1:${app.debugPort}/json/list`);
    return (await reply.json()).find((t) => t.type === 'page' && test(t));
  });
  return PageSession.connect(target.webSocketDebuggerUrl);
}

export const editorPage = (app) => pageWhere(app, 'the editor page', (t) => t.url.includes('/km/v1.0/'));

// Fills in the sign-in window with the demo account; beforeSubmit runs with the form filled.
export async function signIn(app, beforeSubmit = async () => {}) {
  const login = await pageWhere(app, 'the sign-in window', (t) => t.url.includes('/oauth2/v2.0/authorize'));
  // The sign-in window gives its page one second to load; on a loaded machine it may stay
  // blank, and a person would reload it.
  for (let attempt = 1; ; attempt++) {
    const shown = await waitFor('the sign-in form', () => login.evaluate('!!document.getElementById("passwd")'), 15000)
      .catch((e) => { if (attempt === 4) throw e; return false; });
    if (shown) break;
    await login.send('Page.reload', { ignoreCache: true });
  }
  await login.evaluate('void document.getElementById("loginfmt").focus(), document.getElementById("loginfmt").select()');
  await login.type('demo@cogitra.test');
  await login.evaluate('void document.getElementById("passwd").focus()');
  await login.type('cogitra-demo');
  await beforeSubmit();
  await login.press('Enter');
  login.close();
}

function xdotool(...args) {
  try {
    return execFileSync('xdotool', args, { stdio: ['ignore', 'pipe', 'ignore'] }).toString().trim();
  } catch {
    return '';
  }
}

const windowsNamed = (pattern) => xdotool('search', '--onlyvisible', '--name', pattern).split('\n').filter(Boolean);

// One of the application's own windows, answered with xdotool as a person answers it: it is
// given the keyboard, text is typed, and the keys are pressed until it has closed (the next
// window may carry the same title).
export async function answer(what, pattern, keys, text = '') {
  const id = await waitFor(what, async () => windowsNamed(pattern)[0], 60000);
  xdotool('windowfocus', '--sync', id);
  if (text) xdotool('type', '--delay', '20', text);
  await waitFor(`${what} to close`, async () => {
    xdotool('windowfocus', '--sync', id);
    xdotool('key', ...keys);
    await new Promise((resolve) => setTimeout(resolve, 500));
    return !windowsNamed(pattern).includes(id);
  }, 60000);
}
