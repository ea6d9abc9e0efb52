// A page opened without the desktop notebook: it does not answer, the message offers the page
// picker, the sign-in window comes first, the picker is used with the keyboard alone, and the
// edited map is saved to the chosen page, where the desktop notebook's view shows it. The
// application's own windows are answered with xdotool as a person answers them.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { editorPage, endpoints, signIn, startApp, startService, stopAll, waitFor } from '../support/app-session.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-picker-'));
const appData = path.join(work, 'app');
const typed = 'Chosen in the picker';

function xdotool(...args) {
  try {
    return execFileSync('xdotool', args, { stdio: ['ignore', 'pipe', 'ignore'] }).toString().trim();
  } catch {
    return '';
  }
}

const windowsNamed = (pattern) => xdotool('search', '--onlyvisible', '--name', pattern).split('\n').filter(Boolean);
const windowNamed = (pattern) => windowsNamed(pattern)[0];

// Waits for the window, gives it the keyboard and presses the keys until it has closed (the
// next window may carry the same title).
async function answer(what, pattern, keys, type = '') {
  const id = await waitFor(what, async () => windowNamed(pattern), 60000);
  xdotool('windowfocus', '--sync', id);
  if (type) xdotool('type', '--delay', '20', type);
  await waitFor(`${what} to close`, async () => {
    xdotool('windowfocus', '--sync', id);
    xdotool('key', ...keys);
    await new Promise((resolve) => setTimeout(resolve, 500));
    return !windowsNamed(pattern).includes(id);
  }, 60000);
}

// The page's id and what it shows, from the desktop notebook's own pages.
async function desktopPage(root, sectionName, title) {
  const tree = await (await fetch(`${root}/desktop/api/tree`)).json();
  const sections = [];
  const walk = (node) => {
    if (Array.isArray(node)) node.forEach(walk);
    else if (node && typeof node === 'object') {
      if (node.name === sectionName && node.id && !node.sections) sections.push(node.id);
      Object.values(node).forEach(walk);
    }
  };
  walk(tree);
  for (const id of sections) {
    const { pages } = await (await fetch(`${root}/desktop/api/sections/${encodeURIComponent(id)}/pages`)).json();
    const page = pages.find((p) => p.title === title);
    if (page) return page.id;
  }
  return null;
}

describe('a page opened through the picker while the desktop notebook does not answer', () => {
  let service;
  let app;

  before(async () => {
    service = await startService(path.join(work, 'service'));
  });
  after(async () => {
    await stopAll();
    fs.rmSync(work, { recursive: true, force: true });
  });

  it('offers the picker, signs in, opens the chosen page, and saves the edit to it', async () => {
    const pageId = await desktopPage(service.root, 'Meetings', 'Project map');
    assert.ok(pageId);
    // Nothing listens where the desktop notebook would answer.
    app = await startApp(service.root, appData, { COGITRA_DESKTOP_ROOT: 'http://127.0.0.1:9' });

    await answer('the offer of the other ways to a page', '^Cogitra$', ['alt+p']);
    await answer('the notice that a sign-in comes first', '^Cogitra$', ['Return']);
    await signIn(app);
    await answer('the page picker', '^Open Page$', ['Return'], 'project map');

    const editor = await editorPage(app);
    await waitFor('the chosen page\'s map', async () => (await editor.mapJson()).length > 0
      && windowNamed('^Project map .* - Cogitra$'), 60000);
    await editor.typeChildOfRoot(typed);
    await editor.press('Enter');
    const saved = await waitFor('the edit in the map', async () => {
      const json = await editor.mapJson();
      return json.includes(typed) && json;
    });
    await editor.click('[data-action="save"]');
    await waitFor('the map saved in the editor', async () => (await editor.evaluate('IsModified()')) === false, 60000);
    editor.close();

    const html = await (await fetch(`${service.root}/desktop/api/pages/${encodeURIComponent(pageId)}/view`)).text();
    const images = [...html.matchAll(/<img\b[^>]*>/g)].map((m) => m[0]);
    assert.equal(images.filter((i) => i.includes('alt="ZetCogitra"')).length, 1, 'one picture for readers');
    const cli = (args) => execFileSync(process.env.COGITRA_CLI, args,
      { env: { ...process.env, ...endpoints(service.root, appData) } }).toString('utf8');
    const listed = JSON.parse(cli(['pages', '--section', 'Meetings'])).notebooks[0].sections[0].pages;
    const link = listed.find((p) => p.title === 'Project map').link;
    assert.deepEqual(JSON.parse(cli(['open', '--link', link])), JSON.parse(saved));
  });
});
