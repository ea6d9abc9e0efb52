// The page in each interface language: its first map, notices, toolbar and themes; dark mode,
// Ctrl+Enter in the note dialog, the selection announced.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { MOD, editorSuite, typeNode } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();

const languages = [
  { lang: 'en', htmlLang: 'en', rootText: 'Central Topic', save: 'Save', newLabel: 'New', badMap: /could not be read/ },
  { lang: 'cn', htmlLang: 'zh-CN', rootText: '中心主题', save: '保存', newLabel: '新建', badMap: /无法读取/ },
];
for (const l of languages) {
  it(`${l.lang}: the first map and the notices, each theme listed once, the toolbar one row of named controls`, async () => {
    // The main window's default size.
    const page = await suite.open({ lang: l.lang, viewport: { width: 1100, height: 720 } });
    assert.equal(await page.getAttribute('html', 'lang'), l.htmlLang);
    assert.equal(await page.textContent('[data-action=save] span'), l.save);
    const first = await page.map();
    assert.equal(first.root.data.text, l.rootText);
    for (const key of ['template', 'theme', 'version']) assert.equal(typeof first[key], 'string', key);
    assert.equal(await page.evaluate(() => window.g_ZetPngResult), '');
    const { labels, themes, tops } = await page.evaluate(() => ({
      labels: [...document.querySelectorAll('select[data-picker=theme] option')].map((o) => o.textContent),
      themes: Object.keys(kityminder.Minder.getThemeList()),
      tops: [...document.querySelectorAll('.toolbar button, .toolbar select')].map((e) => e.getBoundingClientRect().top),
    }));
    assert.equal(new Set(labels).size, themes.length, labels.join(' | '));
    assert.ok(Math.max(...tops) - Math.min(...tops) < 10, `controls on rows at ${[...new Set(tops)]}`);
    // Narrow enough that the buttons show no labels: they still have names.
    await page.setViewportSize({ width: 900, height: 700 });
    const tree = await page.locator('.toolbar').ariaSnapshot();
    assert.doesNotMatch(tree, /- (button|combobox)(?! ")/, tree);
    assert.match(tree, new RegExp(`button "${l.newLabel}"`));

    await page.setMap('not a map');
    assert.match(await page.textContent('#notice'), l.badMap);
    await typeNode(page, 'Tab', '分支 branch');
    assert.equal((await page.map()).root.children[0].data.text, '分支 branch');
  });
}

it('dark system, map keeps its theme; Ctrl+Enter in the note; selection announced', async () => {
  const page = await suite.open({ lang: 'cn' });
  const colours = () => page.evaluate(() => [
    getComputedStyle(document.querySelector('.statusbar')).backgroundColor,
    getComputedStyle(CogitraEditor.minder.getRenderTarget()).backgroundColor]);
  const [lightBar, lightMap] = await colours();
  await page.emulateMedia({ colorScheme: 'dark' });
  const [darkBar, darkMap] = await colours();
  const brightness = (rgb) => rgb.match(/\d+/g).slice(0, 3).reduce((a, v) => a + Number(v), 0) / 3;
  assert.ok(brightness(lightBar) > 200 && brightness(darkBar) < 80, `${lightBar} / ${darkBar}`);
  assert.equal(darkMap, lightMap);

  await typeNode(page, 'Tab', '分支一');
  await page.waitForFunction(() => document.getElementById('announce').textContent === '分支一');
  await page.keyboard.press(`${MOD}+Shift+n`);
  await page.keyboard.type('first');
  await page.keyboard.press('Enter');
  await page.keyboard.type('second');
  await page.keyboard.press(`${MOD}+Enter`);
  await page.waitForFunction(() => !document.querySelector('dialog[open]'));
  assert.equal((await page.map()).root.children[0].data.note, 'first\nsecond');
  await page.keyboard.press(`${MOD}+a`);
  await page.waitForFunction(() => document.getElementById('announce').textContent === '已选中 2 个主题');
});
