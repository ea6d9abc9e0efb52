// Maps in and out of the page: the PNG of a save (the final layout, the editor's fonts and
// sizes at the screen's density, pictures that load or do not), and File > Import and Export.
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { after, it } from 'node:test';
import { fileURLToPath } from 'node:url';
import { editorSuite, makeMap, pngSize, typeNode } from '../../tests/support/editor-page.mjs';

// A 4x4 opaque red PNG.
const redPng = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEElEQVR4nGP4z8AARwzEcQCukw/x0F8jngAAAABJRU5ErkJggg==', 'base64');

const fixtures = path.join(path.dirname(fileURLToPath(import.meta.url)), 'fixtures');
const cli = process.env.COGITRA_CLI || path.resolve(fixtures, '../../../build/src/cli/cogitra-cli');
const hanging = [];
const suite = editorSuite({
  '/pictures/red.png': (req, res) => res.writeHead(200, { 'Content-Type': 'image/png' }).end(redPng),
  '/pictures/missing.png': (req, res) => res.writeHead(404).end('gone'),
  '/pictures/not-an-image.png': (req, res) => res.writeHead(200, { 'Content-Type': 'image/png' }).end('<html>'),
  '/pictures/never.png': (req, res) => hanging.push(res),
});
after(() => hanging.forEach((res) => res.destroy()));

const save = async (page) => Buffer.from((await page.evaluate(async () => {
  await SaveMap();
  return window.g_ZetPngResult;
})).split(',')[1], 'base64');

async function openWith(map) {
  const page = await suite.open();
  await page.setMap(map);
  return page;
}

// The picture's size: the map's box, one point and a margin of 20 on each side.
const finalBox = (page) => page.evaluate(() => {
  const b = CogitraEditor.minder.getRenderContainer().getRenderBox();
  return { width: Math.trunc(b.width + 41), height: Math.trunc(b.height + 41) };
});

it('catches the final layout even while an animation runs, and draws no selection outline', async () => {
  const page = await openWith(makeMap(20));
  // Adding a node starts an animated layout; save at once.
  await typeNode(page, 'Tab', 'A much longer topic text than the others');
  const size = pngSize(await save(page));
  await page.waitForTimeout(800);
  assert.deepEqual(size, await finalBox(page));

  await page.evaluate(() => {
    const m = CogitraEditor.minder;
    m.select([m.getRoot(), m.getRoot().getChildren()[2]], true);
  });
  const withSelection = await save(page);
  assert.equal(await page.evaluate(() => CogitraEditor.minder.getSelectedNodes().length), 2);
  await page.evaluate(() => CogitraEditor.minder.removeAllSelectedNodes());
  assert.ok(withSelection.equals(await save(page)), 'the picture is the same with and without a selection');
});

it('leaves nodes where the newest layout put them', async () => {
  const page = await openWith(makeMap(20));
  const places = () => page.evaluate(() => {
    const out = [];
    CogitraEditor.minder.getRoot().traverse((node) => out.push(node.getGlobalLayoutTransform().m));
    return JSON.stringify(out);
  });
  // An animated layout ends; right then, a wider centre, which moves every other node, is
  // laid out at once. The late last frame of the first animation must not move them back.
  await page.evaluate(() => new Promise((resolve) => {
    const minder = CogitraEditor.minder;
    minder.layout();
    minder.getRoot()._layoutTimeline.on('finish', () => {
      minder.getRoot().setText('A much longer central topic than before');
      minder.getRoot().render();
      minder.setOption('layoutAnimationDuration', 0);
      minder.layout();
      resolve();
    });
  }));
  const right = await places();
  await page.waitForTimeout(500);
  assert.equal(await places(), right);
});

it('renders a map too tall for a canvas scaled down to fit', async () => {
  // The right-hand logic chart puts all 1500 topics in one column.
  const page = await openWith({ ...makeMap(1500, { fanout: 1500 }), template: 'right' });
  const full = await finalBox(page);
  assert.ok(full.height > 16000, `the map is ${full.height} pixels tall`);
  const size = pngSize(await save(page));
  assert.ok(size.height <= 16000 && size.height > 8000, JSON.stringify(size));
  // Scaled as a whole: the proportions stay, and the map fills the picture within its margin.
  const ratio = (s) => (s.width - 41) / (s.height - 41);
  assert.ok(Math.abs(ratio(size) / ratio(full) - 1) < 0.03, JSON.stringify({ size, full }));
  const margins = await page.evaluate(async (png) => {
    const image = new Image();
    image.src = `data:image/png;base64,${png}`;
    await image.decode();
    const canvas = new OffscreenCanvas(image.width, image.height);
    const context = canvas.getContext('2d');
    context.drawImage(image, 0, 0);
    const pixels = new Uint32Array(context.getImageData(0, 0, image.width, image.height).data.buffer);
    const drawn = { left: image.width, top: image.height, right: -1, bottom: -1 };
    for (let i = 0; i < pixels.length; i++) {
      if (pixels[i] === pixels[0]) continue;
      const x = i % image.width;
      const y = Math.floor(i / image.width);
      Object.assign(drawn, { left: Math.min(drawn.left, x), right: Math.max(drawn.right, x), top: Math.min(drawn.top, y), bottom: y });
    }
    return [drawn.left, drawn.top, image.width - 1 - drawn.right, image.height - 1 - drawn.bottom];
  }, (await save(page)).toString('base64'));
  assert.ok(margins.every((m) => m >= 15 && m <= 25), `margins left, top, right, bottom: ${margins}`);
  assert.deepEqual(await finalBox(page), full);
});

it('renders without a picture that does not load, with a notice and no alert, and keeps it in the map', async () => {
  for (const path of ['/pictures/missing.png', '/pictures/not-an-image.png', '/pictures/never.png', 'http://127.0.0.1:1/x.png']) {
    const map = makeMap(6);
    Object.assign(map.root.children[1].data, { image: new URL(path, suite.server.origin).href, imageSize: { width: 40, height: 30 } });
    const page = await openWith(map);
    assert.ok(pngSize(await save(page)).width > 100, path);
    assert.match(await page.textContent('#notice'), /could not be loaded/, path);
    assert.deepEqual(await page.map(), map, path);
  }
});

it('on a high-density screen the picture has the editor\'s fonts, the screen\'s pixels, and the node pictures', async () => {
  const page = await suite.open({ deviceScaleFactor: 2 });
  // A font the map would not get by default, so a picture that names its own shows.
  await page.addStyleTag({ content: '.km-view { font-family: "Noto Sans CJK SC", serif; }' });
  const map = makeMap(7);
  map.theme = 'classic'; // topics with shadows
  map.root.children[0].data.text = '中文主题 思维导图';
  Object.assign(map.root.children[1].data, { image: suite.server.origin + '/pictures/red.png', imageSize: { width: 40, height: 30 } });
  map.root.children[2].data.text = 'Wide Latin topic WWW mmm';
  map.root.children[4].data.text = '混合 mixed 文字';
  await page.setMap(map);
  const { dataUrl, svg, skippedImages } = await page.evaluate(async () => {
    const { renderPng } = await import('../app/export-png.js');
    return renderPng(CogitraEditor.minder);
  });
  assert.equal(skippedImages, 0);

  const widths = await page.evaluate((source) => {
    const frame = document.createElement('iframe');
    document.body.append(frame);
    const picture = new DOMParser().parseFromString(source, 'image/svg+xml').documentElement;
    frame.contentDocument.body.append(frame.contentDocument.importNode(picture, true));
    return [...frame.contentDocument.querySelectorAll('text')].map((text) => [
      text.textContent, Math.round(document.getElementById(text.id).getBBox().width), Math.round(text.getBBox().width)]);
  }, svg);
  assert.equal(widths.length, 7);
  for (const [text, editor, picture] of widths) assert.ok(Math.abs(editor - picture) <= 2, `${text}: ${editor} in the editor, ${picture} in the picture`);

  const png = Buffer.from(dataUrl.split(',')[1], 'base64');
  const box = await finalBox(page);
  assert.deepEqual(pngSize(png), { width: 2 * box.width, height: 2 * box.height });
  // 192 dots per inch: shown at the map's own size by viewers that read it.
  const phys = png.indexOf('pHYs');
  assert.deepEqual([png.readUInt32BE(phys + 4), png.readUInt32BE(phys + 8), png[phys + 12]], [7559, 7559, 1]);
  // The square red picture fills 30 by 30 points of its 40 by 30 place, at two pixels a point.
  const red = await page.evaluate(async (url) => {
    const bitmap = await createImageBitmap(await (await fetch(url)).blob());
    const ctx = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
    ctx.drawImage(bitmap, 0, 0);
    const { data } = ctx.getImageData(0, 0, bitmap.width, bitmap.height);
    return data.filter((v, i) => i % 4 === 0 && v > 250 && data[i + 1] < 5 && data[i + 2] < 5).length;
  }, dataUrl);
  assert.ok(Math.abs(red - 60 * 60) < 250, `${red} red pixels`);
});

const outline = (node, depth = 0) =>
  '\t'.repeat(depth) + node.data.text + '\n' + (node.children || []).map((c) => outline(c, depth + 1)).join('');
const find = (node, text) => (node.data.text === text ? node : node.children.map((c) => find(c, text)).find(Boolean));

// The garden last: its notes, links and marks are read back.
const imports = [
  ['plan.md', 'Launch plan\n\tGoals\n\t\tShip 2.0\n\t\t\tInstaller for every platform\n\t\t\tRelease notes\n\t\t中文文档\n\tRisks\n\t\tLate translations\n'],
  ['garden.mm', 'Garden\n\tVegetables\n\t\tTomatoes\n\t\tBeans\n\tFlowers & herbs\n'],
];

async function exported(page, kind) {
  await page.evaluate((k) => { window.__calls = []; return ExportPicture(k); }, kind);
  await page.waitForFunction(() => window.__calls.some((c) => c.command === 'Exported'));
  return page.evaluate(() => window.g_ZetExportResult);
}

it('each format converted by cogitra-cli opens as its topics, notes and links, and exports as PNG, SVG and JSON with the text being typed', async () => {
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
  await page.keyboard.press('Tab');
  await page.keyboard.type('Typed only');
  const svg = await exported(page, 'svg');
  assert.match(svg, /^<svg[^>]*xmlns="http:\/\/www.w3.org\/2000\/svg"/);
  assert.ok(svg.includes('Flowers &amp; herbs') && svg.includes('Typed only'));
  await page.keyboard.press('Tab');
  await page.keyboard.type('Typed too');
  assert.match(await page.evaluate(() => ExportJson()), /"text":"Typed too"/);
});
