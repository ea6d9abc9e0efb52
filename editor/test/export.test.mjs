// The PNG rendering: the map's final layout, pictures that load, and no hang or alert for
// pictures that do not.
import assert from 'node:assert/strict';
import { after, describe, it } from 'node:test';
import { editorSuite, makeMap, pngSize } from '../../tests/support/editor-page.mjs';

// A 4x4 opaque red PNG.
const redPng = Buffer.from('iVBORw0KGgoAAAANSUhEUgAAAAQAAAAECAIAAAAmkwkpAAAAEElEQVR4nGP4z8AARwzEcQCukw/x0F8jngAAAABJRU5ErkJggg==', 'base64');

const hanging = [];
const suite = editorSuite({
  '/pictures/red.png': (req, res) => res.writeHead(200, { 'Content-Type': 'image/png' }).end(redPng),
  '/pictures/missing.png': (req, res) => res.writeHead(404).end('gone'),
  '/pictures/not-an-image.png': (req, res) => res.writeHead(200, { 'Content-Type': 'image/png' }).end('<html>'),
  '/pictures/never.png': (req, res) => hanging.push(res),
});
after(() => {
  for (const res of hanging) res.destroy();
});

async function save(page) {
  const before = await page.evaluate(() => window.__calls.length);
  await page.evaluate(() => SaveMap());
  await page.waitForFunction((n) => window.__calls.length > n, before, { timeout: 60000 });
  const png = await page.evaluate(() => window.g_ZetPngResult);
  return Buffer.from(png.split(',')[1], 'base64');
}

// A fresh page showing the map.
async function openWith(map) {
  const page = await suite.open();
  await page.setMap(map);
  return page;
}

const finalBox = (page) => page.evaluate(() => {
  const b = CogitraEditor.minder.getRenderContainer().getRenderBox();
  return { width: Math.trunc(b.width + 41), height: Math.trunc(b.height + 41) };
});

describe('PNG rendering', () => {
  it('catches the final layout even while an animation runs, and draws no selection outline', async () => {
    const page = await openWith(makeMap(20));
    // Adding a node starts an animated layout; save at once.
    await page.keyboard.press('Tab');
    await page.keyboard.type('A much longer topic text than the others');
    await page.keyboard.press('Enter');
    const size = pngSize(await save(page));
    await page.waitForTimeout(800);
    assert.deepEqual(size, await finalBox(page));

    await page.evaluate(() => {
      const m = CogitraEditor.minder;
      m.select([m.getRoot(), m.getRoot().getChildren()[2]], true);
    });
    const withSelection = await save(page);
    const selected = await page.evaluate(() => CogitraEditor.minder.getSelectedNodes().map((n) => n.getText()));
    assert.deepEqual(selected, ['Topic map', 'Topic 3']);
    await page.evaluate(() => CogitraEditor.minder.removeAllSelectedNodes());
    assert.ok(withSelection.equals(await save(page)), 'the picture is the same with and without a selection');
  });

  it('leaves nodes where the newest layout put them', async () => {
    const page = await openWith(makeMap(20));
    const places = () => page.evaluate(() => {
      const out = [];
      CogitraEditor.minder.getRoot().traverse((node) => {
        const m = node.getGlobalLayoutTransform().m;
        out.push([m.e, m.f]);
      });
      return out;
    });
    // An animated layout ends; right then, a change is laid out at once. The late last
    // frame of the first animation must not move the nodes back.
    const settled = await page.evaluate(() => new Promise((resolve) => {
      const minder = CogitraEditor.minder;
      const root = minder.getRoot();
      minder.layout();
      root._layoutTimeline.on('finish', () => {
        // A wider centre moves every other node.
        root.setText('A much longer central topic than before');
        root.render();
        const duration = minder.getOption('layoutAnimationDuration');
        minder.setOption('layoutAnimationDuration', 0);
        minder.layout();
        minder.setOption('layoutAnimationDuration', duration);
        resolve(true);
      });
    }));
    assert.ok(settled);
    const right = await places();
    await page.waitForTimeout(500);
    assert.deepEqual(await places(), right);
  });

  it('renders a map too tall for a canvas scaled down to fit', async () => {
    // The right-hand logic chart puts all 1500 topics in one column.
    const page = await openWith({ ...makeMap(1500, { fanout: 1500 }), template: 'right' });
    const full = await finalBox(page);
    assert.ok(full.height > 16000, `the map is ${full.height} pixels tall`);
    const size = pngSize(await save(page));
    assert.ok(size.height <= 16000 && size.height > 8000, JSON.stringify(size));
    // Scaled as a whole: the proportions stay.
    const ratio = (s) => (s.width - 41) / (s.height - 41);
    assert.ok(Math.abs(ratio(size) / ratio(full) - 1) < 0.03, JSON.stringify({ size, full }));
    // The view itself is as it was.
    assert.deepEqual(await finalBox(page), full);
  });

  it('includes a picture that loads, and still renders without it when it does not, without an alert', async () => {
    const rows = [
      ['loads', '/pictures/red.png', true],
      ['missing', '/pictures/missing.png'],
      ['not a picture', '/pictures/not-an-image.png'],
      ['never answered', '/pictures/never.png'],
      ['on an unreachable host', 'http://127.0.0.1:1/x.png'],
    ];
    for (const [name, path, loads] of rows) {
      const map = makeMap(6);
      Object.assign(map.root.children[1].data, { image: path.startsWith('http') ? path : suite.server.origin + path, imageSize: { width: 40, height: 30 } });
      const page = await openWith(map);
      const size = pngSize(await save(page));
      if (loads) {
        assert.deepEqual(size, await finalBox(page), name);
        assert.equal(await page.isVisible('#notice'), false, name);
      } else {
        assert.ok(size.width > 100, name);
        assert.match(await page.textContent('#notice'), /could not be loaded/, name);
      }
      assert.deepEqual(page.alerts, [], name);
      // The picture stays in the map itself.
      assert.deepEqual(await page.map(), map, name);
    }
  });
});
