// Map texts from outside: bad ones start an empty map with a notice and leave the page
// working; good ones come back as they went in. Both interface languages.
import assert from 'node:assert/strict';
import { after, before, describe, it } from 'node:test';
import { launchBrowser, makeMap, openEditor, startServer } from './harness.mjs';

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

let deep = { data: { text: 'deep' }, children: [] };
for (let i = 0; i < 300; i++) deep = { data: { text: `level ${i}` }, children: [deep] };

const badTexts = [
  ['not JSON', '{"root": {"data": {"text": "cut off"'],
  ['plain words', 'hello world'],
  ['an array', '[1,2,3]'],
  ['null', 'null'],
  ['a number', '42'],
  ['no root', '{"template":"default","theme":"fresh-blue"}'],
  ['root is a string', '{"root":"text"}'],
  ['root is an array', '{"root":[]}'],
  ['nested past any real map', JSON.stringify({ root: deep })],
  ['empty', ''],
];

describe('bad map texts', () => {
  for (const [name, text] of badTexts) {
    it(`${name}: notice, empty map, the page keeps working`, async () => {
      const page = await openEditor(browser, server.origin);
      await page.evaluate((t) => SetJsonData(t), JSON.stringify(makeMap(5)));
      await page.evaluate((t) => SetJsonData(t), text);
      const notice = await page.textContent('#notice');
      assert.match(notice, /could not be read/);
      const map = JSON.parse(await page.evaluate(() => window.g_ZetJsonResult));
      assert.deepEqual(map.root.children, []);
      assert.equal(map.root.data.text, 'Central Topic');
      await page.keyboard.press('Tab');
      await page.keyboard.type('Still editing');
      await page.keyboard.press('Enter');
      const after = JSON.parse(await page.evaluate(() => window.g_ZetJsonResult));
      assert.equal(after.root.children[0].data.text, 'Still editing');
      assert.deepEqual(page.errors, []);
      await page.context().close();
    });
  }

  it('odd values inside a map are cleaned, not fatal', async () => {
    const page = await openEditor(browser, server.origin);
    const text = JSON.stringify({
      root: {
        data: { text: 12, priority: 'high', progress: 99 },
        children: [null, 7, 'x', { data: 'not an object', children: 'nope' },
          { data: { text: 'ok', hyperlink: 'javascript:alert(1)' } }],
      },
      template: 'no-such-layout',
      theme: 'no-such-theme',
    });
    await page.evaluate((t) => SetJsonData(t), text);
    const map = JSON.parse(await page.evaluate(() => window.g_ZetJsonResult));
    assert.equal(map.root.data.text, '12');
    assert.equal(map.root.data.priority, undefined);
    assert.equal(map.root.data.progress, undefined);
    assert.deepEqual(map.root.children.map((c) => c.data.text), ['', 'ok']);
    assert.equal(map.template, 'default');
    assert.equal(map.theme, 'fresh-blue');
    // The stored link stays, but a click on it runs nothing.
    const clicked = await page.evaluate(() => {
      const a = document.querySelector('#minder-view a');
      if (!a) return 'no link drawn';
      const event = new MouseEvent('click', { bubbles: true, cancelable: true });
      a.dispatchEvent(event);
      return event.defaultPrevented ? 'blocked' : 'followed';
    });
    assert.equal(clicked, 'blocked');
    assert.deepEqual(page.errors, []);
    assert.deepEqual(page.alerts, []);
    await page.context().close();
  });
});

describe('good map texts', () => {
  it('a rich map comes back exactly as it went in', async () => {
    const page = await openEditor(browser, server.origin);
    const map = makeMap(40);
    Object.assign(map.root.children[0].data, { priority: 1, progress: 5, note: 'note\n**bold**', hyperlink: 'https://example.com', hyperlinkTitle: 'Example' });
    Object.assign(map.root.children[1].data, { expandState: 'collapse', 'font-weight': 'bold', background: '#ffcc00' });
    map.template = 'right';
    map.theme = 'snow';
    map.root.children[2].data.text = "Quote ' \" \\ \t tab 中文 😀 \u2028 sep";
    await page.evaluate((t) => SetJsonData(t), JSON.stringify(map));
    assert.deepEqual(JSON.parse(await page.evaluate(() => window.g_ZetJsonResult)), map);
    assert.equal(await page.isVisible('#notice'), false);
    await page.context().close();
  });
});

describe('interface languages', () => {
  it('the Chinese variant has Chinese texts and the same protocol', async () => {
    const page = await openEditor(browser, server.origin, { lang: 'cn' });
    assert.equal(await page.getAttribute('html', 'lang'), 'zh-CN');
    assert.equal(await page.textContent('[data-action=save] span'), '保存');
    await page.evaluate(() => SetJsonData('not a map'));
    assert.match(await page.textContent('#notice'), /无法读取/);
    await page.keyboard.press('Tab');
    await page.keyboard.type('分支');
    await page.keyboard.press('Enter');
    const map = JSON.parse(await page.evaluate(() => window.g_ZetJsonResult));
    assert.equal(map.root.data.text, '中心主题');
    assert.equal(map.root.children[0].data.text, '分支');
    await page.context().close();
  });
});
