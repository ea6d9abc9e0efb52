// The .deb as a user gets it: its files are valid, and the program unpacked from it into a fresh
// root signs in and loads the editor page it installed. Under Xvfb, with variables from CTest.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { test, after } from 'node:test';
import { editorPage, signIn, startApp, startService, stopAll, waitFor } from '../support/app-session.mjs';

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-deb-'));
after(async () => {
  await stopAll();
  fs.rmSync(work, { recursive: true, force: true });
});
const run = (program, args) => execFileSync(program, args, { encoding: 'utf8' });

test('the package installs a program that finds its editor page', async () => {
  run('cpack', ['-G', 'DEB', '-B', work, '-D', `CPACK_OUTPUT_FILE_PREFIX=${work}`, '--config', path.join(process.env.COGITRA_BUILD_DIR, 'CPackConfig.cmake')]);
  const deb = fs.readdirSync(work).find((f) => f.endsWith('.deb'));
  assert.ok(deb, 'cpack made no .deb');
  const listed = run('dpkg-deb', ['-c', path.join(work, deb)]);
  const share = './usr/share/';
  for (const file of ['./usr/bin/cogitra', './usr/bin/cogitra-cli',
    `${share}applications/com.ardentis.Cogitra.desktop`, `${share}metainfo/com.ardentis.Cogitra.metainfo.xml`,
    `${share}icons/hicolor/48x48/apps/com.ardentis.Cogitra.png`, `${share}icons/hicolor/256x256/apps/com.ardentis.Cogitra.png`,
    `${share}cogitra/editor-site/km/v1.0/en/index-mac.html`, `${share}cogitra/editor-site/km/v1.0/cn/index-mac.html`]) {
    assert.match(listed, new RegExp(` ${file.replace(/\./g, '\\.')}\\n`), `${file} is not in the package`);
  }
  assert.match(run('dpkg-deb', ['-f', path.join(work, deb), 'Depends']), /libqt6webenginewidgets6/);

  const root = path.join(work, 'root');
  run('dpkg-deb', ['-x', path.join(work, deb), root]);
  run('desktop-file-validate', [path.join(root, 'usr/share/applications/com.ardentis.Cogitra.desktop')]);
  run('appstreamcli', ['validate', '--no-net', path.join(root, 'usr/share/metainfo/com.ardentis.Cogitra.metainfo.xml')]);

  delete process.env.COGITRA_EDITOR_SITE_DIR;
  process.env.COGITRA_APP = path.join(root, 'usr/bin/cogitra');
  const service = await startService(path.join(work, 'service'));
  const app = await startApp(service.root, path.join(work, 'app'), { COGITRA_LANG: 'en' });
  await signIn(app);
  const editor = await editorPage(app);
  await waitFor('the editor in the page', () => editor.evaluate('typeof CogitraEditor === "object"'));
  editor.close();
  await waitFor('the main window', async () => /"[^"]*Cogitra"/.test(run('xwininfo', ['-root', '-tree'])));
});
