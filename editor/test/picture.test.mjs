// The picture saved on the page is the map as the editor shows it: the same fonts and
// topic sizes, Latin and Chinese, the node pictures inside, and as sharp as the screen.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { editorSuite, makeMap, pngSize } from '../../tests/support/editor-page.mjs';

// A 4x4 opaque red PNG.
const redPng = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEElEQVR4nGP4z8AARwzEcQCukw/x0F8jngAAAABJRU5ErkJggg==', 'base64');
const suite = editorSuite({ '/red.png': (req, res) => res.writeHead(200, { 'Content-Type': 'image/png' }).end(redPng) });

it('on a high-density screen the picture has the editor\'s fonts, the screen\'s pixels, and the node pictures', async () => {
  const page = await suite.open({ deviceScaleFactor: 2 });
  // A font the map would not get by default, so a picture that names its own shows.
  await page.addStyleTag({ content: '.km-view { font-family: "Noto Sans CJK SC", serif; }' });
  const map = makeMap(7);
  map.theme = 'classic'; // topics with shadows
  map.root.children[0].data.text = '中文主题 思维导图';
  Object.assign(map.root.children[1].data, { image: suite.server.origin + '/red.png', imageSize: { width: 40, height: 30 } });
  map.root.children[2].data.text = 'Wide Latin topic WWW mmm';
  map.root.children[4].data.text = '混合 mixed 文字';
  await page.setMap(map);
  const { dataUrl, svg } = await page.evaluate(async () => {
    const { renderPng } = await import('../app/export-png.js');
    return renderPng(CogitraEditor.minder);
  });

  const widths = await page.evaluate((source) => {
    const frame = document.createElement('iframe');
    document.body.append(frame);
    const picture = new DOMParser().parseFromString(source, 'image/svg+xml').documentElement;
    frame.contentDocument.body.append(frame.contentDocument.importNode(picture, true));
    const rows = [...frame.contentDocument.querySelectorAll('text')].map((text) => [
      text.textContent, Math.round(document.getElementById(text.id).getBBox().width), Math.round(text.getBBox().width)]);
    frame.remove();
    return rows;
  }, svg);
  assert.equal(widths.length, 7);
  for (const [text, editor, picture] of widths) assert.ok(Math.abs(editor - picture) <= 2, `${text}: ${editor} in the editor, ${picture} in the picture`);

  const png = Buffer.from(dataUrl.split(',')[1], 'base64');
  const box = await page.evaluate(() => CogitraEditor.minder.getRenderContainer().getRenderBox());
  // The map's box, one point and a margin of 20 on each side, twice over.
  assert.deepEqual(pngSize(png), { width: 2 * Math.trunc(box.width + 41), height: 2 * Math.trunc(box.height + 41) });
  // 192 dots per inch: shown at the map's own size by viewers that read it.
  const phys = png.indexOf('pHYs');
  assert.deepEqual([png.readUInt32BE(phys + 4), png.readUInt32BE(phys + 8), png[phys + 12]], [7559, 7559, 1]);
  // The square red picture in its 40 by 30 point place, as the editor draws it: 30 by 30
  // points at two pixels a point.
  const red = await page.evaluate(async (url) => {
    const bitmap = await createImageBitmap(await (await fetch(url)).blob());
    const ctx = new OffscreenCanvas(bitmap.width, bitmap.height).getContext('2d');
    ctx.drawImage(bitmap, 0, 0);
    const { data } = ctx.getImageData(0, 0, bitmap.width, bitmap.height);
    let count = 0;
    for (let i = 0; i < data.length; i += 4) if (data[i] > 250 && data[i + 1] < 5 && data[i + 2] < 5) count++;
    return count;
  }, dataUrl);
  assert.ok(Math.abs(red - 60 * 60) < 250, `${red} red pixels`);
});
