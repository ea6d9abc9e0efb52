// A whole session as a person has it: the local notebook service with the demo account,
// a page selected in its desktop notebook, Cogitra started against it, a sign-in in the
// sign-in window, two nodes added in the editor with the keyboard, Save, and then the page
// checked on the service and opened again after both programs restart.
import assert from 'node:assert/strict';
import { spawn, execFileSync } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { after, before, describe, it } from 'node:test';
import { PageSession, keys, listPages, waitFor } from './cdp.mjs';

const env = process.env;
const require = createRequire(path.join(env.COGITRA_SOURCE_DIR, 'editor', 'package.json'));
const { chromium } = require('playwright-core');

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-e2e-'));
const serviceData = path.join(work, 'service');
const appData = path.join(work, 'app');
const children = new Set();

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function start(program, args, extraEnv) {
  const child = spawn(program, args, { env: { ...env, ...extraEnv }, stdio: ['ignore', 'pipe', 'pipe'] });
  child.output = '';
  child.stdout.on('data', (d) => { child.output += d; });
  child.stderr.on('data', (d) => { child.output += d; });
  child.exited = new Promise((resolve) => child.on('exit', resolve));
  children.add(child);
  return child;
}

async function stop(child) {
  if (child.exitCode === null && child.signalCode === null) child.kill('SIGTERM');
  const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
  await child.exited;
  clearTimeout(timer);
  children.delete(child);
}

async function startService() {
  const service = start(env.COGITRA_SERVICE, ['--data', serviceData, '--seed-demo']);
  service.root = await waitFor('the notebook service', async () => service.output.split('\n').length > 1 && service.output.split('\n')[0]);
  return service;
}

function endpoints(root) {
  return {
    COGITRA_GRAPH_ROOT: root, COGITRA_LOGIN_ROOT: root, COGITRA_ACCOUNT_ROOT: root,
    COGITRA_MAKER_ROOT: root, COGITRA_DESKTOP_ROOT: root, COGITRA_DATA_ROOT: appData,
  };
}

async function startApp(root) {
  const port = await freePort();
  const app = start(env.COGITRA_APP, [], {
    ...endpoints(root),
    QTWEBENGINE_REMOTE_DEBUGGING: `127.0.0.1:${port}`,
    QTWEBENGINE_DISABLE_SANDBOX: '1',
    QT_QPA_PLATFORM: 'xcb',
  });
  app.debugPort = port;
  return app;
}

async function pageWhere(app, what, test) {
  const target = await waitFor(what, async () => (await listPages(app.debugPort)).find(test));
  return PageSession.connect(target.webSocketDebuggerUrl);
}

const editorPage = (app) => pageWhere(app, 'the editor page', (t) => t.url.includes('/km/v1.0/'));
const mapJson = (editor) => editor.evaluate('window.g_ZetJsonResult || ""');

// What the page holds, as the desktop notebook's view of it shows it.
async function pageImages(root, pageId) {
  const html = await (await fetch(`${root}/desktop/api/pages/${encodeURIComponent(pageId)}/view`)).text();
  const images = [...html.matchAll(/<img\b[^>]*>/g)].map((m) => m[0]);
  const alt = (name) => images.filter((i) => i.includes(`alt="${name}"`));
  return { previews: alt('ZetCogitra'), containers: alt('ZetGif') };
}

// The map that the page carries now, read from its container image; null without one.
async function pageMap(root, pageId) {
  const { containers } = await pageImages(root, pageId);
  if (containers.length === 0) return null;
  const src = containers[0].match(/src="([^"]+)"/)[1].replaceAll('&amp;', '&');
  const file = path.join(work, 'page.gif');
  fs.writeFileSync(file, Buffer.from(await (await fetch(new URL(src, root))).arrayBuffer()));
  return cli(['container', 'extract', file], root);
}

function cli(args, root) {
  return execFileSync(env.COGITRA_CLI, args, { env: { ...env, ...endpoints(root) } }).toString('utf8');
}

describe('a session from the desktop notebook to the page and back', () => {
  let service;
  let app;
  let pageId;
  let savedJson;
  let demoMap;

  before(async () => {
    service = await startService();
  });
  after(async () => {
    for (const child of [...children]) await stop(child);
    fs.rmSync(work, { recursive: true, force: true });
  });

  it('selects a page in the desktop notebook by its web page', async () => {
    const browser = await chromium.launch({ executablePath: env.COGITRA_CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });
    try {
      const page = await browser.newPage();
      await page.goto(`${service.root}/desktop/`);
      await page.click('.section:has-text("Meetings")');
      await page.click('.page:has-text("Project map")');
      await page.click('#selectButton');
      await page.waitForSelector('#selected:has-text("Project map")');
      pageId = await page.$eval('.page.chosen', (row) => row.dataset.id);
    } finally {
      await browser.close();
    }
    assert.ok(pageId);
    demoMap = await pageMap(service.root, pageId);
  });

  it('signs in through the sign-in window and shows the page\'s map', async () => {
    app = await startApp(service.root);
    const login = await pageWhere(app, 'the sign-in window', (t) => t.url.includes('/oauth2/v2.0/authorize'));
    // The sign-in window gives its page one second to load; on a loaded machine it may
    // stay blank, and a person would reload it.
    for (let attempt = 1; ; attempt++) {
      const shown = await waitFor('the sign-in form', () => login.evaluate('!!document.getElementById("passwd")'), 15000)
        .catch((e) => { if (attempt === 4) throw e; return false; });
      if (shown) break;
      await login.send('Page.reload', { ignoreCache: true });
    }
    await login.evaluate('void document.getElementById("loginfmt").focus()');
    await login.evaluate('void document.getElementById("loginfmt").select()');
    await login.type('demo@cogitra.test');
    await login.evaluate('void document.getElementById("passwd").focus()');
    await login.type('cogitra-demo');
    await login.press(...keys.Enter);
    login.close();

    const editor = await editorPage(app);
    // Until the page's map arrives the editor shows a new, empty map.
    const rootText = demoMap ? JSON.parse(demoMap).root.data.text : null;
    await waitFor('the page\'s map in the editor', async () => {
      const json = await mapJson(editor);
      return json.length > 0 && (rootText === null || JSON.parse(json).root.data.text === rootText);
    });
    editor.close();
  });

  it('adds two nodes with the keyboard and saves from the editor\'s Save button', async () => {
    const editor = await editorPage(app);
    const before = JSON.parse(await mapJson(editor));
    // The window may not have the system's focus under Xvfb; the page is told it has.
    await editor.send('Emulation.setFocusEmulationEnabled', { enabled: true }).catch(() => {});
    await editor.evaluate('void CogitraEditor.minder.select(CogitraEditor.minder.getRoot(), true)');
    await editor.evaluate('void CogitraEditor.inline.focusReceiver()');
    await editor.press(...keys.Tab);
    await waitFor('the text box', () => editor.evaluate('CogitraEditor.inline.isEditing()'));
    await editor.type('Typed child');
    await editor.press(...keys.Enter);
    await editor.press(...keys.Enter);
    await waitFor('the text box', () => editor.evaluate('CogitraEditor.inline.isEditing()'));
    await editor.type('Typed sibling');
    await editor.press(...keys.Enter);
    savedJson = await waitFor('both nodes in the map', async () => {
      const json = await mapJson(editor);
      return json.includes('Typed child') && json.includes('Typed sibling') && json;
    });
    assert.equal(JSON.parse(savedJson).root.children.length, before.root.children.length + 2);

    await editor.click('[data-action="save"]');
    await waitFor('the saved map on the page', async () => (await pageMap(service.root, pageId)) === savedJson, 60000);
    editor.close();

    const { previews, containers } = await pageImages(service.root, pageId);
    assert.equal(previews.length, 1, 'one picture for readers');
    assert.equal(containers.length, 1, 'one map container');
  });

  it('opens the saved map after both programs restart, in Cogitra and in cogitra-cli', async () => {
    await stop(app);
    await stop(service);
    service = await startService();
    app = await startApp(service.root);
    const editor = await editorPage(app);
    await waitFor('the saved map in the editor', async () => (await mapJson(editor)).includes('Typed sibling'));
    assert.deepEqual(JSON.parse(await mapJson(editor)), JSON.parse(savedJson));
    editor.close();

    assert.equal(cli(['open'], service.root), savedJson);
  });

  it('opens in Cogitra what cogitra-cli saved', async () => {
    const map = JSON.parse(savedJson);
    map.root.data.text = 'Saved from the terminal';
    const jsonFile = path.join(work, 'cli.json');
    fs.writeFileSync(jsonFile, JSON.stringify(map));
    const pngFile = path.join(work, 'cli.png');
    const png = (await (await fetch(`${service.root}/desktop/api/pages/${encodeURIComponent(pageId)}/view`)).text())
      .match(/alt="ZetCogitra"[^>]*src="([^"]+)"|src="([^"]+)"[^>]*alt="ZetCogitra"/);
    const pngSrc = (png[1] || png[2]).replaceAll('&amp;', '&');
    fs.writeFileSync(pngFile, Buffer.from(await (await fetch(new URL(pngSrc, service.root))).arrayBuffer()));
    cli(['save', '--json', jsonFile, '--png', pngFile], service.root);

    const editor = await editorPage(app);
    await editor.click('[data-action="open"]');
    await waitFor('the map from the terminal', async () => (await mapJson(editor)).includes('Saved from the terminal'));
    editor.close();
    const { previews, containers } = await pageImages(service.root, pageId);
    assert.equal(previews.length, 1);
    assert.equal(containers.length, 1);
  });
});
