// Unsaved edits outlive a kill: edit a page's map, SIGKILL Cogitra, start it again and take
// the edits back from the question it asks; declined, they are gone.
// The question is a window of the application's own, answered with xdotool as a person
// answers it with the keyboard.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { after, before, describe, it } from 'node:test';
import { editorPage, signIn, startApp, startService, stop, stopAll, waitFor } from '../support/app-session.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-crash-'));
const appData = path.join(work, 'app');
const draftFile = path.join(appData, 'Ardentis', 'Cogitra', 'draft.json');
const typed = 'Typed before the kill';

function xdotool(...args) {
  try {
    return execFileSync('xdotool', args, { stdio: ['ignore', 'pipe', 'ignore'] }).toString().trim();
  } catch {
    return '';
  }
}

// The question's box carries the application's bare name as its title.
const questionWindow = () => xdotool('search', '--onlyvisible', '--name', '^Cogitra$').split('\n')[0];

async function answerQuestion(key) {
  const id = await waitFor('the question', async () => questionWindow(), 60000);
  xdotool('windowfocus', '--sync', id);
  xdotool('key', key);
  await waitFor('the question to close', async () => !questionWindow(), 10000);
}

const mainWindowTitle = () => {
  const id = xdotool('search', '--onlyvisible', '--name', ' - Cogitra$').split('\n')[0];
  return id ? xdotool('getwindowname', id) : '';
};

describe('edits that were not saved when Cogitra was killed', () => {
  let service;
  let app;
  let pageMapText;

  before(async () => {
    service = await startService(path.join(work, 'service'));
  });
  after(async () => {
    await stopAll();
    fs.rmSync(work, { recursive: true, force: true });
  });

  it('keeps an edit on disk within two seconds, then is killed', async () => {
    app = await startApp(service.root, appData);
    await signIn(app);
    const editor = await editorPage(app);
    await waitFor('the page\'s map', async () => (await editor.mapJson()).length > 0 && mainWindowTitle().includes('Project map'));
    pageMapText = JSON.parse(await editor.mapJson()).root.data.text;

    await editor.typeChildOfRoot(typed);
    await editor.press('Enter');
    await waitFor('the edit in the map', async () => (await editor.mapJson()).includes(typed));
    await waitFor('the draft', async () => fs.existsSync(draftFile) && fs.readFileSync(draftFile, 'utf8').includes(typed), 2000);
    assert.equal(fs.statSync(draftFile).mode & 0o077, 0, 'the draft is private');
    assert.match(mainWindowTitle(), /^\*Project map/);
    editor.close();

    app.kill('SIGKILL');
    await stop(app);
  });

  it('offers the edits back at the next start, and they come back as unsaved changes', async () => {
    app = await startApp(service.root, appData);
    await answerQuestion('Return');
    const editor = await editorPage(app);
    await waitFor('the edits in the editor', async () => (await editor.mapJson()).includes(typed), 60000);
    await waitFor('the modified mark in the title', async () => /^\*Project map/.test(mainWindowTitle()));
    assert.equal(await editor.evaluate('IsModified()'), true);
    editor.close();
    await stop(app);
  });

  it('forgets them when the offer is declined', async () => {
    assert.ok(fs.existsSync(draftFile));
    app = await startApp(service.root, appData);
    await answerQuestion('Escape');
    const editor = await editorPage(app);
    await waitFor('the page\'s own map', async () => {
      const json = await editor.mapJson();
      return json.length > 0 && JSON.parse(json).root.data.text === pageMapText && mainWindowTitle().startsWith('Project map');
    }, 60000);
    assert.ok(!(await editor.mapJson()).includes(typed));
    assert.ok(!fs.existsSync(draftFile), 'not offered again');
    editor.close();
  });
});
