// File > Import and File > Export: each format converted by cogitra-cli and put in as
// RestoreJsonData does, and the pictures the page makes for an export, read back.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { it } from 'node:test';
import { fileURLToPath } from 'node:url';
import { editorSuite, pngSize } from '../../tests/support/editor-page.mjs';

const fixtures = path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixtures');
const cli = process.env.COGITRA_CLI || path.resolve(fixtures, '../../../build/src/cli/cogitra-cli');
const suite = editorSuite();

const outline = (node, depth = 0) =>
  '\t'.repeat(depth) + node.data.text + '\n' + (node.children || []).map((c) => outline(c, depth + 1)).join('');
const find = (node, text) => (node.data.text === text ? node : node.children.map((c) => find(c, text)).find(Boolean));

// The garden last: its notes, links and marks are read back.
const imports = [
  ['outline.txt', 'Week\n\tMonday\n\t\tGym\n\t\tGroceries\n\tTuesday\n\tWednesday\n\t\tCall home\n'],
  ['reading.opml', 'Reading list\n\tBooks\n\t\tThe Pragmatic Programmer\n\t\tRefactoring\n\tPapers\n\t\tOut of the Tar Pit\n'],
  ['plan.md', 'Launch plan\n\tGoals\n\t\tShip 2.0\n\t\t\tInstaller for every platform\n\t\t\tRelease notes\n\t\t中文文档\n\tRisks\n\t\tLate translations\n'],
  ['garden.mm', 'Garden\n\tVegetables\n\t\tTomatoes\n\t\tBeans\n\tFlowers & herbs\n'],
];

async function exported(page, kind) {
  await page.evaluate((k) => { window.__calls = []; return ExportPicture(k); }, kind);
  await page.waitForFunction(() => window.__calls.some((c) => c.command === 'Exported'));
  return page.evaluate(() => window.g_ZetExportResult);
}

it('each format opens as its topics, notes and links, and exports as PNG and SVG', async () => {
  const page = await suite.open();
  for (const [file, expected] of imports) {
    const json = execFileSync(cli, ['convert', '--to', 'json', path.join(fixtures, file)]).toString();
    await page.evaluate((text) => RestoreJsonData(text), json);
    assert.equal(outline((await page.map()).root), expected, file);
  }
  const garden = (await page.map()).root;
  assert.deepEqual([find(garden, 'Vegetables').data.note, find(garden, 'Vegetables').data.priority],
    ['Plant after the\nlast frost', 1]);
  assert.equal(find(garden, 'Beans').data.hyperlink, 'https://example.com/beans');

  const { width, height } = pngSize(Buffer.from((await exported(page, 'png')).split(',')[1], 'base64'));
  assert.ok(width > 300 && height > 100, `${width}x${height}`);
  const svg = await exported(page, 'svg');
  assert.match(svg, /^<svg[^>]*xmlns="http:\/\/www.w3.org\/2000\/svg"/);
  assert.ok(svg.includes('Flowers &amp; herbs') && svg.includes('Tomatoes'));
});
