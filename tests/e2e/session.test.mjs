// A whole session as a person has it, against the local notebook service with the demo
// account: a page selected in its desktop notebook, a sign-in, nodes typed and saved, the page
// read back; restarted while the desktop notebook does not answer, the page opened through the
// picker and saved to; an unsaved edit kept over a SIGKILL. Windows are answered with xdotool.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { answer, editorPage, endpoints, signIn, startApp, startService, stop, stopAll, waitFor } from '../support/app-session.mjs';
import { launchBrowser } from '../support/editor-page.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-e2e-'));
const serviceData = path.join(work, 'service');
const appData = path.join(work, 'app');
const draftFile = path.join(appData, 'Ardentis', 'Cogitra', 'draft.json');

// The map that the page carries now, read from its container image, as the desktop
// notebook's view of the page shows it; null without one, and a failure when a save left more
// than one picture for readers or container behind.
async function pageMap(root, pageId) {
  const html = await (await fetch(`${root}/desktop/api/pages/${encodeURIComponent(pageId)}/view`)).text();
  const images = [...html.matchAll(/<img\b[^>]*>/g)].map((m) => m[0]);
  const [previews, containers] = ['ZetCogitra', 'ZetGif'].map((name) => images.filter((i) => i.includes(`alt="${name}"`)));
  if (containers.length === 0) return null;
  assert.deepEqual([previews.length, containers.length], [1, 1]);
  const src = containers[0].match(/src="([^"]+)"/)[1].replaceAll('&amp;', '&');
  const file = path.join(work, 'page.gif');
  fs.writeFileSync(file, Buffer.from(await (await fetch(new URL(src, root))).arrayBuffer()));
  return cli(['container', 'extract', file], root);
}

function cli(args, root) {
  return execFileSync(process.env.COGITRA_CLI, args, { env: { ...process.env, ...endpoints(root, appData) } }).toString('utf8');
}

describe('a session from the desktop notebook to the page and back', () => {
  let service;
  let app;
  let pageId;
  let savedJson;

  before(async () => {
    service = await startService(serviceData);
  });
  after(async () => {
    await stopAll();
    fs.rmSync(work, { recursive: true, force: true });
  });

  it('selects a page in the desktop notebook by its web page', async () => {
    const browser = await launchBrowser();
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
  });

  it('signs in through the sign-in window and saves two nodes typed in the page\'s map', async () => {
    app = await startApp(service.root, appData);
    await signIn(app);
    const editor = await editorPage(app);
    // Until the page's map arrives the editor shows a new, empty map.
    await waitFor('the page\'s map in the editor', async () => JSON.parse(await editor.mapJson()).root.data.text === 'Cogitra demo');
    const before = JSON.parse(await editor.mapJson());
    await editor.typeChildOfRoot('Typed child');
    await editor.press('Enter');
    await editor.press('Enter');
    await waitFor('the text box', () => editor.evaluate('CogitraEditor.inline.isEditing()'));
    await editor.type('Typed sibling');
    await editor.press('Enter');
    savedJson = await waitFor('both nodes in the map', async () => {
      const json = await editor.mapJson();
      return json.includes('Typed child') && json.includes('Typed sibling') && json;
    });
    assert.equal(JSON.parse(savedJson).root.children.length, before.root.children.length + 2);

    await editor.click('[data-action="save"]');
    await waitFor('the saved map on the page', async () => (await pageMap(service.root, pageId)) === savedJson, 60000);
    // Cogitra sees the save end on its next tick; until then it keeps the edits as unsaved
    // and would offer them back after a kill.
    await waitFor('the map saved in the editor', async () => (await editor.evaluate('IsModified()')) === false);
    editor.close();
    assert.equal(cli(['open'], service.root), savedJson);
  });

  it('opens the page through the picker while the desktop notebook does not answer, saves to it, and keeps an unsaved edit over a SIGKILL', async () => {
    await stop(app);
    app = await startApp(service.root, appData, { COGITRA_DESKTOP_ROOT: 'http://127.0.0.1:9' });
    await answer('the offer of the other ways to a page', '^Cogitra$', ['alt+p']);
    await answer('the page picker', '^Open Page$', ['Return'], 'project map');
    let editor = await editorPage(app);
    await waitFor('the saved map of the chosen page', async () => (await editor.mapJson()) === savedJson);
    await editor.typeChildOfRoot('Chosen in the picker');
    await editor.press('Enter');
    await waitFor('the edit in the map', async () => (await editor.mapJson()).includes('Chosen in the picker'));
    await editor.click('[data-action="save"]');
    await waitFor('the edit on the page', async () => (await pageMap(service.root, pageId)).includes('Chosen in the picker'), 60000);

    await editor.typeChildOfRoot('Typed before the kill');
    await editor.press('Enter');
    await waitFor('the draft', async () => fs.existsSync(draftFile) && fs.readFileSync(draftFile, 'utf8').includes('Typed before the kill'), 5000);
    editor.close();

    app.kill('SIGKILL');
    await stop(app);
    app = await startApp(service.root, appData);
    await answer('the offer of the unsaved edits', '^Cogitra$', ['Return']);
    editor = await editorPage(app);
    await waitFor('the edit in the editor', async () => (await editor.mapJson()).includes('Typed before the kill'));
    assert.equal(await editor.evaluate('IsModified()'), true);
    editor.close();
  });
});
