// Takes the picture of the desktop notebook page that service/README.md shows: the notebook
// service with the demo account, the page in headless Chromium with "Meetings" open, the
// selection on "Project map" and "Whiteboard photos" in view.
//   node scripts/desktop-screenshot.mjs build/service/cogitra-notebook-service [OUT.png]
// (COGITRA_CHROMIUM names the browser, /usr/bin/chromium by default; playwright-core comes
// from editor/, which scripts/setup installs.)
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { launchBrowser } from '../tests/support/editor-page.mjs';
import { startService, stopAll } from '../tests/support/app-session.mjs';

const source = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..');
const program = process.argv[2];
const out = path.resolve(process.argv[3] || path.join(source, 'docs', 'desktop-notebook.png'));
if (!program) {
  console.error('usage: desktop-screenshot.mjs SERVICE-PROGRAM [OUT.png]');
  process.exit(2);
}
const data = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-desktop-shot-'));
let browser;
try {
  process.env.COGITRA_SERVICE = path.resolve(program);
  const { root } = await startService(data);
  browser = await launchBrowser();
  const page = await browser.newPage({ viewport: { width: 1280, height: 760 } });
  await page.goto(`${root}/desktop/`);
  await page.click('.section:has-text("Meetings")');
  await page.click('.page:has-text("Project map")');
  await page.click('#selectButton');
  await page.waitForSelector('#selected:has-text("Project map")');
  await page.click('.page:has-text("Whiteboard photos")');
  await page.waitForSelector('#pageTitle:has-text("Whiteboard photos")');
  await page.waitForTimeout(500); // the page's images in its frame
  await page.screenshot({ path: out });
  console.log(out);
} finally {
  if (browser) await browser.close();
  await stopAll();
  fs.rmSync(data, { recursive: true, force: true });
}
