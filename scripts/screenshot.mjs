// Takes the picture of Cogitra's main window with the demo map that the README shows:
// the local notebook service with the demo account, Cogitra signed in through its sign-in
// window, the window captured from the X server once the map is in the editor; with a
// second file name, the sign-in window too, its form filled in.
//   node --experimental-websocket scripts/screenshot.mjs OUT.png [SIGNIN.png]
//   (under Xvfb: scripts/screenshot)
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { editorPage, signIn, startApp, startService, stopAll, waitFor } from '../tests/support/app-session.mjs';

const out = path.resolve(process.argv[2] || 'docs/demo-map.png');
const signInOut = process.argv[3] ? path.resolve(process.argv[3]) : '';
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-shot-'));
const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

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
  const service = await startService(path.join(work, 'service'));
  const app = await startApp(service.root, path.join(work, 'app'), { COGITRA_LANG: 'en' });
  await signIn(app, async () => {
    if (!signInOut) return;
    await pause(800); // the web view paints
    captureWindow(/"Sign In to OneNote"/, signInOut);
  });

  const editor = await editorPage(app);
  // The demo map has several main topics; a new map has none.
  await waitFor('the demo map', async () => {
    const json = await editor.evaluate('window.g_ZetJsonResult || ""');
    return json && JSON.parse(json).root.children?.length > 0;
  });
  await pause(1500); // the layout animation
  // The whole map in view, as the Fit button puts it.
  await editor.send('Emulation.setFocusEmulationEnabled', { enabled: true }).catch(() => {});
  await editor.click('[data-action="fit"]');
  await pause(1500);
  editor.close();

  captureWindow(/"[^"]*Cogitra"/, out);
} finally {
  await stopAll();
  fs.rmSync(work, { recursive: true, force: true });
}
