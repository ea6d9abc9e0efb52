// The editor page in headless Chromium for the page's tests, the end-to-end test, the benchmark
// and the screenshot tools: the built site served on 127.0.0.1, playwright-core from editor/.
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import { createRequire } from 'node:module';
import assert from 'node:assert/strict';
import { after, afterEach, before } from 'node:test';
import { fileURLToPath } from 'node:url';

const editorDir = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..', 'editor');
const { chromium } = createRequire(path.join(editorDir, 'package.json'))('playwright-core');

export const siteDir = path.resolve(process.env.COGITRA_EDITOR_SITE_DIR || path.join(editorDir, 'dist', 'site'));
export const chromiumPath = process.env.COGITRA_CHROMIUM || '/usr/bin/chromium';

const types = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' };

// extraRoutes: { '/path': (req, res) => ... } for test pictures and the like.
export async function startServer(extraRoutes = {}) {
  const index = path.join(siteDir, 'km', 'v1.0', 'en', 'index-mac.html');
  if (!fs.existsSync(index)) throw new Error(`no built editor site in ${siteDir} (build cogitra_editor_site first)`);
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://127.0.0.1');
    const route = extraRoutes[url.pathname];
    if (route) return route(req, res);
    const file = path.normalize(path.join(siteDir, decodeURIComponent(url.pathname)));
    if (!file.startsWith(siteDir + path.sep) || !fs.statSync(file, { throwIfNoEntry: false })?.isFile()) {
      return res.writeHead(404).end('not found');
    }
    res.writeHead(200, { 'Content-Type': `${types[path.extname(file)] || 'application/octet-stream'}; charset=utf-8` });
    fs.createReadStream(file).pipe(res);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  const { port } = server.address();
  return {
    origin: `http://127.0.0.1:${port}`,
    close: () => new Promise((resolve) => { server.closeAllConnections(); server.close(resolve); }),
  };
}

export function launchBrowser() {
  return chromium.launch({
    executablePath: chromiumPath, headless: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--js-flags=--expose-gc', '--enable-precise-memory-info'],
  });
}

// A page with the editor loaded; withHost injects a window.external.JsCall that records each
// call with its time and the page globals. page.map() reads the map, page.setMap(map) puts one in.
export async function openEditor(browser, origin, { lang = 'en', withHost = true, viewport, deviceScaleFactor } = {}) {
  const context = await browser.newContext({ viewport: viewport || { width: 1280, height: 800 }, deviceScaleFactor });
  const page = await context.newPage();
  Object.assign(page, { errors: [], alerts: [] });
  page.on('pageerror', (e) => { page.errors.push(String(e)); });
  page.on('dialog', (d) => { page.alerts.push(d.message()); d.dismiss().catch(() => {}); });
  if (withHost) {
    await page.addInitScript(() => {
      window.__calls = [];
      window.external.JsCall = (command) => {
        window.__calls.push({ command, at: performance.now(), json: window.g_ZetJsonResult,
          png: window.g_ZetPngResult, mark: window.g_ZetSaveMark, draft: window.g_ZetDraftJson });
      };
    });
  }
  page.map = async () => JSON.parse(await page.evaluate(() => window.g_ZetJsonResult));
  page.setMap = (map) => page.evaluate((text) => SetJsonData(text), typeof map === 'string' ? map : JSON.stringify(map));
  await page.goto(`${origin}/km/v1.0/${lang}/index-mac.html`);
  await page.waitForFunction(() => document.readyState === 'complete' && !!window.g_ZetJsonResult);
  return page;
}

// The server and the browser for one test file; suite.open(options) gives a fresh page,
// closed after the test, which fails if the page threw or alerted.
export function editorSuite(extraRoutes) {
  const suite = { pages: [] };
  before(async () => {
    [suite.server, suite.browser] = await Promise.all([startServer(extraRoutes), launchBrowser()]);
  });
  afterEach(async () => {
    for (const page of suite.pages.splice(0)) {
      await page.context().close();
      assert.deepEqual([page.errors, page.alerts], [[], []]);
    }
  });
  after(() => Promise.all([suite.browser?.close(), suite.server?.close()]));
  suite.open = async (options) => {
    const page = await openEditor(suite.browser, suite.server.origin, options);
    suite.pages.push(page);
    return page;
  };
  return suite;
}

export const MOD = process.platform === 'darwin' ? 'Meta' : 'Control';

// The middle of the topic with this text on the page; selectTopic selects it alone.
const topicScript = ([wanted, select]) => {
  let node;
  CogitraEditor.minder.getRoot().traverse((n) => { if (n.getText() === wanted) node = n; });
  if (select) CogitraEditor.minder.select(node, true);
  const r = node.getRenderContainer().node.getBoundingClientRect();
  return { x: r.x + r.width / 2, y: r.y + r.height / 2, height: r.height };
};
export const topicAt = (page, text) => page.evaluate(topicScript, [text, false]);
export const selectTopic = (page, text) => page.evaluate(topicScript, [text, true]);

// keyToAdd (Tab: a child, Enter: a sibling) on the selected topic, then text and Enter.
export async function typeNode(page, keyToAdd, text) {
  await page.keyboard.press(keyToAdd);
  assert.equal(await page.evaluate(() => CogitraEditor.inline.isEditing()), true, `${keyToAdd} opens the text box`);
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
}

// A map of n nodes in the engine's format, filled breadth first, fanout children a topic.
export function makeMap(n, { fanout = 6, prefix = 'Topic' } = {}) {
  const nodes = Array.from({ length: Math.max(n, 1) },
    (_, i) => ({ data: { id: `n${i}`, text: i ? `${prefix} ${i}` : `${prefix} map` }, children: [] }));
  nodes.forEach((node, i) => i && nodes[Math.floor((i - 1) / fanout)].children.push(node));
  return { root: nodes[0], template: 'default', theme: 'fresh-blue', version: '1.4.43' };
}

export function pngSize(bytes) {
  if (bytes.toString('latin1', 0, 16) !== '\x89PNG\r\n\x1a\n\0\0\0\rIHDR') throw new Error('not a PNG');
  return { width: bytes.readUInt32BE(16), height: bytes.readUInt32BE(20) };
}
