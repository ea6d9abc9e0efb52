// The script protocol the application drives: globals, functions, JsCall, title.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { launchBrowser, makeMap, openEditor, startServer } from './harness.mjs';
import { pngSize } from './png.mjs';

let server;
let browser;
before(async () => {
  server = await startServer();
  browser = await launchBrowser();
});
after(async () => {
  await browser?.close();
  await server?.close();
});

const json = (page) => page.evaluate(() => JSON.parse(window.g_ZetJsonResult));

describe('page ready', () => {
  for (const lang of ['en', 'cn']) {
    it(`${lang}: title holds "Zet" and g_ZetJsonResult is a map from the start`, async () => {
      const page = await openEditor(browser, server.origin, { lang });
      assert.match(await page.title(), /Zet/);
      const map = await json(page);
      assert.ok(map.root && map.root.data && typeof map.root.data.text === 'string');
      assert.equal(typeof map.template, 'string');
      assert.equal(typeof map.theme, 'string');
      assert.equal(typeof map.version, 'string');
      assert.equal(await page.evaluate(() => window.g_ZetPngResult), '');
      for (const name of ['SetJsonData', 'NewMap', 'SaveMap']) {
        assert.equal(await page.evaluate((n) => typeof window[n], name), 'function');
      }
      assert.deepEqual(page.errors, []);
      await page.context().close();
    });
  }
});

describe('SetJsonData and NewMap', () => {
  it('round-trips a map taken from the page itself', async () => {
    const page = await openEditor(browser, server.origin);
    await page.evaluate((text) => SetJsonData(text), JSON.stringify(makeMap(40)));
    await page.keyboard.press('Tab');
    await page.keyboard.type("It's a \"quoted\" \\ topic");
    await page.keyboard.press('Enter');
    await page.evaluate(() => CogitraEditor.minder.execCommand('Priority', 3));
    await page.evaluate(() => CogitraEditor.minder.execCommand('Note', 'a note\nwith two lines'));
    const first = await page.evaluate(() => window.g_ZetJsonResult);
    await page.evaluate(() => NewMap());
    assert.notEqual(await page.evaluate(() => window.g_ZetJsonResult), first);
    // As the application hands it over: inside an apostrophe literal.
    const literal = first.replace(/\\/g, '\\\\').replace(/'/g, "\\'");
    await page.evaluate(`SetJsonData('${literal}')`);
    assert.deepEqual(JSON.parse(await page.evaluate(() => window.g_ZetJsonResult)), JSON.parse(first));
    assert.deepEqual(page.errors, []);
    await page.context().close();
  });

  it('NewMap starts an empty map with the interface language root text', async () => {
    for (const [lang, text] of [['en', 'Central Topic'], ['cn', '中心主题']]) {
      const page = await openEditor(browser, server.origin, { lang });
      await page.evaluate((t) => SetJsonData(t), JSON.stringify(makeMap(10)));
      await page.evaluate(() => NewMap());
      const map = await json(page);
      assert.equal(map.root.data.text, text);
      assert.deepEqual(map.root.children, []);
      await page.context().close();
    }
  });
});

describe('SaveMap and JsCall', () => {
  it('sets both globals before it calls JsCall("Save"), once', async () => {
    const page = await openEditor(browser, server.origin);
    await page.evaluate((t) => SetJsonData(t), JSON.stringify(makeMap(12)));
    await page.evaluate(() => SaveMap());
    await page.waitForFunction(() => window.__calls.length > 0);
    const calls = await page.evaluate(() => window.__calls);
    assert.deepEqual(calls.map((c) => c.command), ['Save']);
    assert.deepEqual(JSON.parse(calls[0].json), await json(page));
    assert.match(calls[0].png, /^data:image\/png;base64,/);
    assert.equal(calls[0].png, await page.evaluate(() => window.g_ZetPngResult));
    await page.context().close();
  });

  it('a text still being typed is part of what is saved', async () => {
    const page = await openEditor(browser, server.origin);
    await page.keyboard.press('Tab');
    await page.keyboard.type('Typed, not committed');
    await page.evaluate(() => SaveMap());
    await page.waitForFunction(() => window.__calls.length > 0);
    const saved = JSON.parse(await page.evaluate(() => window.__calls[0].json));
    assert.equal(saved.root.children[0].data.text, 'Typed, not committed');
    await page.context().close();
  });

  it('renders a real PNG of the map size', async () => {
    const page = await openEditor(browser, server.origin);
    await page.evaluate((t) => SetJsonData(t), JSON.stringify(makeMap(40)));
    await page.evaluate(() => SaveMap());
    await page.waitForFunction(() => window.__calls.length > 0);
    const png = await page.evaluate(() => window.g_ZetPngResult);
    const size = pngSize(Buffer.from(png.split(',')[1], 'base64'));
    const box = await page.evaluate(() => {
      const b = CogitraEditor.minder.getRenderContainer().getRenderBox();
      return { width: b.width, height: b.height };
    });
    // The exporter pads the map by 20 pixels on every side.
    assert.equal(size.width, Math.trunc(box.width + 1 + 40));
    assert.equal(size.height, Math.trunc(box.height + 1 + 40));
    assert.ok(size.width > 300 && size.height > 200, JSON.stringify(size));
    await page.context().close();
  });

  it('the Save button saves, the New and Open buttons ask the application', async () => {
    const page = await openEditor(browser, server.origin);
    await page.click('button[data-action="newMap"]');
    await page.click('button[data-action="open"]');
    await page.click('button[data-action="save"]');
    await page.waitForFunction(() => window.__calls.length === 3);
    const calls = await page.evaluate(() => window.__calls);
    assert.deepEqual(calls.map((c) => c.command), ['New', 'Open', 'Save']);
    assert.match(calls[2].png, /^data:image\/png;base64,/);
    await page.context().close();
  });

  it('without the application the page still edits and says saving needs it', async () => {
    const page = await openEditor(browser, server.origin, { withHost: false });
    await page.keyboard.press('Tab');
    await page.keyboard.type('Offline');
    await page.keyboard.press('Enter');
    await page.click('button[data-action="save"]');
    await page.waitForFunction(() => !!window.g_ZetPngResult);
    const notice = await page.textContent('#notice');
    assert.match(notice, /application/);
    assert.equal((await json(page)).root.children[0].data.text, 'Offline');
    await page.click('button[data-action="newMap"]');
    assert.deepEqual((await json(page)).root.children, []);
    assert.deepEqual(page.errors, []);
    await page.context().close();
  });
});
