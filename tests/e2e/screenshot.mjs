// Takes the picture of Cogitra's main window with the demo map that the README shows:
// the local notebook service with the demo account, Cogitra signed in through its sign-in
// window, the window captured from the X server once the map is in the editor; with a
// second file name, the sign-in window too, its form filled in.
//   node --experimental-websocket tests/e2e/screenshot.mjs OUT.png [SIGNIN.png]
//   (under Xvfb: scripts/screenshot)
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { PageSession, keys, listPages, waitFor } from './cdp.mjs';

const env = process.env;
const out = path.resolve(process.argv[2] || 'docs/demo-map.png');
const signInOut = process.argv[3] ? path.resolve(process.argv[3]) : '';
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-shot-'));
const children = [];

function start(program, args, extraEnv = {}) {
  const child = spawn(program, args, { env: { ...env, ...extraEnv }, stdio: ['ignore', 'pipe', 'pipe'] });
  child.output = '';
  child.stdout.on('data', (d) => { child.output += d; });
  child.stderr.on('data', () => {});
  children.push(child);
  return child;
}

const freePort = () => new Promise((resolve) => {
  const server = net.createServer();
  server.listen(0, '127.0.0.1', () => { const { port } = server.address(); server.close(() => resolve(port)); });
});

// The top-level window whose title matches, as a PNG file.
function captureWindow(title, file) {
  const tree = execFileSync('xwininfo', ['-root', '-tree']).toString();
  const line = tree.split('\n').find((l) => title.test(l) && /\d+x\d+\+/.test(l));
  if (!line) throw new Error(`no window ${title} on the display`);
  const id = line.trim().split(/\s+/)[0];
  fs.mkdirSync(path.dirname(file), { recursive: true });
  execFileSync('import', ['-window', id, file]);
  console.log(`screenshot: ${file}`);
}

try {
  const service = start(env.COGITRA_SERVICE, ['--data', path.join(work, 'service'), '--seed-demo']);
  const root = await waitFor('the notebook service', async () => service.output.includes('\n') && service.output.split('\n')[0]);
  const port = await freePort();
  start(env.COGITRA_APP, [], {
    COGITRA_GRAPH_ROOT: root, COGITRA_LOGIN_ROOT: root, COGITRA_ACCOUNT_ROOT: root,
    COGITRA_MAKER_ROOT: root, COGITRA_DESKTOP_ROOT: root, COGITRA_DATA_ROOT: path.join(work, 'app'),
    COGITRA_LANG: 'en', QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`, QTWEBENGINE_DISABLE_SANDBOX: '1',
  });
  const page = async (test) => PageSession.connect((await waitFor('a page', async () => (await listPages(port)).find(test))).webSocketDebuggerUrl);

  const login = await page((t) => t.url.includes('/oauth2/v2.0/authorize'));
  for (let attempt = 1; ; attempt++) {
    const shown = await waitFor('the sign-in form', () => login.evaluate('!!document.getElementById("passwd")'), 15000).catch(() => false);
    if (shown) break;
    if (attempt === 4) throw new Error('the sign-in form did not load');
    await login.send('Page.reload', { ignoreCache: true });
  }
  await login.evaluate('void document.getElementById("loginfmt").focus()');
  await login.type('demo@cogitra.test');
  await login.evaluate('void document.getElementById("passwd").focus()');
  await login.type('cogitra-demo');
  if (signInOut) {
    await new Promise((resolve) => setTimeout(resolve, 800)); // the web view paints
    captureWindow(/"Sign In to OneNote"/, signInOut);
  }
  await login.press(...keys.Enter);
  login.close();

  const editor = await page((t) => t.url.includes('/km/v1.0/'));
  // The demo map has several main topics; a new map has none.
  await waitFor('the demo map', async () => {
    const json = await editor.evaluate('window.g_ZetJsonResult || ""');
    return json && JSON.parse(json).root.children?.length > 0;
  });
  await new Promise((resolve) => setTimeout(resolve, 1500)); // the layout animation
  // The whole map in view, as the Fit button puts it.
  await editor.send('Emulation.setFocusEmulationEnabled', { enabled: true }).catch(() => {});
  await editor.click('[data-action="fit"]');
  await new Promise((resolve) => setTimeout(resolve, 1500));
  editor.close();

  captureWindow(/"[^"]*Cogitra"/, out);
} finally {
  for (const child of children.reverse()) child.kill('SIGTERM');
  await Promise.all(children.map((c) => new Promise((resolve) => (c.exitCode !== null ? resolve() : c.on('exit', resolve)))));
  fs.rmSync(work, { recursive: true, force: true });
}
