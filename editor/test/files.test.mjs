// Files in and out as File > Import and File > Export handle them: each format converted
// by cogitra-cli (the converter the application uses) and put in as RestoreJsonData does,
// and the pictures the page makes for an export, read back.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { it } from 'node:test';
import { fileURLToPath } from 'node:url';
import { MOD, editorSuite, pngSize } from '../../tests/support/editor-page.mjs';

const fixtures = path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixtures');
const cli = process.env.COGITRA_CLI || path.resolve(fixtures, '../../../build/src/cli/cogitra-cli');
const suite = editorSuite();

const outline = (node, depth = 0) =>
  '\t'.repeat(depth) + node.data.text + '\n' + (node.children || []).map((c) => outline(c, depth + 1)).join('');
const find = (node, text) => (node.data.text === text ? node : node.children.map((c) => find(c, text)).find(Boolean));

const imports = [
  ['outline.txt', 'Week\n\tMonday\n\t\tGym\n\t\tGroceries\n\tTuesday\n\tWednesday\n\t\tCall home\n'],
  ['reading.opml', 'Reading list\n\tBooks\n\t\tThe Pragmatic Programmer\n\t\tRefactoring\n\tPapers\n\t\tOut of the Tar Pit\n'],
  ['garden.mm', 'Garden\n\tVegetables\n\t\tTomatoes\n\t\tBeans\n\tFlowers & herbs\n'],
  ['plan.md', 'Launch plan\n\tGoals\n\t\tShip 2.0\n\t\t\tInstaller for every platform\n\t\t\tRelease notes\n\t\t中文文档\n\tRisks\n\t\tLate translations\n'],
];

async function exported(page, kind) {
  await page.evaluate(() => { window.__calls = []; });
  await page.evaluate((k) => ExportPicture(k), kind);
  await page.waitForFunction(() => window.__calls.some((c) => c.command === 'Exported'));
  return page.evaluate(() => window.g_ZetExportResult);
}

it('each format opens as its topics, notes and links, exports as PNG and SVG with the text being typed; Undo takes each import back', async () => {
  const page = await suite.open();
  const blank = await page.map();
  for (const [file, expected] of imports) {
    const json = execFileSync(cli, ['convert', '--to', 'json', path.join(fixtures, file)]).toString();
    await page.evaluate((text) => RestoreJsonData(text), json);
    assert.equal(outline((await page.map()).root), expected, file);
  }

  const png = await exported(page, 'png');
  assert.match(png, /^data:image\/png;base64,/);
  const { width, height } = pngSize(Buffer.from(png.split(',')[1], 'base64'));
  assert.ok(width > 300 && height > 100, `${width}x${height}`);
  const svg = await exported(page, 'svg');
  assert.match(svg, /^<svg[^>]*xmlns="http:\/\/www.w3.org\/2000\/svg"/);
  assert.ok(svg.includes('中文文档') && svg.includes('Launch plan'));

  await page.keyboard.press(`${MOD}+z`);
  const garden = (await page.map()).root;
  assert.deepEqual([find(garden, 'Vegetables').data.note, find(garden, 'Vegetables').data.priority],
    ['Plant after the\nlast frost', 1]);
  assert.equal(find(garden, 'Beans').data.hyperlink, 'https://example.com/beans');
  for (let i = 1; i < imports.length; i++) await page.keyboard.press(`${MOD}+z`);
  assert.deepEqual(await page.map(), blank);

  // Text still being typed into a topic is exported, as Save would save it.
  await page.keyboard.press('Tab');
  await page.keyboard.type('Typed only');
  assert.ok((await exported(page, 'svg')).includes('Typed only'));
  await page.keyboard.press('Tab');
  await page.keyboard.type('Typed too');
  assert.match(await page.evaluate(() => ExportJson()), /"text":"Typed too"/);
});
