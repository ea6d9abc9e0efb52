// The toolbar and keys in each language: theme names, the row of controls at the default
// window size and names without labels, dark mode, progress keys on a US keyboard,
// Ctrl+Enter in the note dialog, the selection announced.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { MOD, editorSuite, typeNode } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();

for (const [lang, newLabel] of [['en', 'New'], ['cn', '新建']]) {
  it(`${lang}: each theme is listed once under its own name, the toolbar is one row, its controls named`, async () => {
    // The main window's default size.
    const page = await suite.open({ lang, viewport: { width: 1100, height: 720 } });
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
    assert.match(tree, new RegExp(`button "${newLabel}"`));
  });
}

it('dark system, map keeps its theme; Ctrl+Shift+digit and Ctrl+Enter in the note; selection announced', async () => {
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
  // A US keyboard: Shift+9 is "(", Shift+2 is "@".
  const topic = async () => (await page.map()).root.children[0].data;
  await page.keyboard.press(`${MOD}+Shift+Digit9`);
  assert.equal((await topic()).progress, 9);
  await page.keyboard.press(`${MOD}+Shift+Digit2`);
  await page.keyboard.press(`${MOD}+Shift+n`);
  await page.keyboard.type('first');
  await page.keyboard.press('Enter');
  await page.keyboard.type('second');
  await page.keyboard.press(`${MOD}+Enter`);
  await page.waitForFunction(() => !document.querySelector('dialog[open]'));
  const { progress, note } = await topic();
  assert.deepEqual([progress, note], [2, 'first\nsecond']);
  await page.keyboard.press(`${MOD}+a`);
  await page.waitForFunction(() => document.getElementById('announce').textContent === '已选中 2 个主题');
});
