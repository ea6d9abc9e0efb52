// Takes the picture of the desktop notebook page that service/README.md shows: the notebook
// service with the demo account, the page in headless Chromium with "Meetings" open, the
// selection on "Project map" and "Whiteboard photos" in view.
//   node tests/e2e/desktop-screenshot.mjs build/service/cogitra-notebook-service [OUT.png]
// (COGITRA_CHROMIUM names the browser, /usr/bin/chromium by default; playwright-core comes
// from editor/, which scripts/setup installs.)
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';
import { fileURLToPath } from 'node:url';

const source = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const require = createRequire(path.join(source, 'editor', 'package.json'));
const { chromium } = require('playwright-core');

const program = process.argv[2];
const out = path.resolve(process.argv[3] || path.join(source, 'docs', 'desktop-notebook.png'));
if (!program) {
  console.error('usage: desktop-screenshot.mjs SERVICE-PROGRAM [OUT.png]');
  process.exit(2);
}
const data = fs.mkdtempSync(path.join(os.tmpdir(), 'cogitra-desktop-shot-'));
const service = spawn(program, ['--data', data, '--seed-demo'], { stdio: ['ignore', 'pipe', 'inherit'] });
let browser;
try {
  const root = await new Promise((resolve, reject) => {
    let text = '';
    const timer = setTimeout(() => reject(new Error('the service printed no address')), 20000);
    service.stdout.on('data', (d) => {
      text += d;
      if (text.includes('\n')) {
        clearTimeout(timer);
        resolve(text.split('\n')[0].trim());
      }
    });
    service.on('exit', () => reject(new Error('the service ended')));
  });
  browser = await chromium.launch({ executablePath: process.env.COGITRA_CHROMIUM || '/usr/bin/chromium', args: ['--no-sandbox', '--disable-gpu'] });
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
  service.kill('SIGTERM');
  await new Promise((resolve) => (service.exitCode === null ? service.on('exit', resolve) : resolve()));
  fs.rmSync(data, { recursive: true, force: true });
}
