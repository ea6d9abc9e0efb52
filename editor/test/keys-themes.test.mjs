// The toolbar and keys in each language: theme names, the row of controls at the default
// window size, progress keys on a US keyboard, Ctrl+Enter in the note dialog.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { editorSuite, typeNode } from '../../tests/support/editor-page.mjs';

const MOD = process.platform === 'darwin' ? 'Meta' : 'Control';
const suite = editorSuite();

for (const lang of ['en', 'cn']) {
  it(`${lang}: each theme is listed once under its own name, and the toolbar is one row`, async () => {
    // The main window's default size.
    const page = await suite.open({ lang, viewport: { width: 1100, height: 720 } });
    const { labels, themes, tops } = await page.evaluate(() => ({
      labels: [...document.querySelectorAll('select[data-picker=theme] option')].map((o) => o.textContent),
      themes: Object.keys(kityminder.Minder.getThemeList()),
      tops: [...document.querySelectorAll('.toolbar button, .toolbar select')].map((e) => e.getBoundingClientRect().top),
    }));
    assert.equal(new Set(labels).size, themes.length, labels.join(' | '));
    assert.ok(Math.max(...tops) - Math.min(...tops) < 10, `controls on rows at ${[...new Set(tops)]}`);
  });
}

it('Ctrl+Shift+digit sets progress by the key pressed, whatever character Shift makes of it', async () => {
  const page = await suite.open();
  await typeNode(page, 'Tab', 'Marked');
  const progress = async () => (await page.map()).root.children[0].data.progress;
  // A US keyboard: Shift+9 is "(", Shift+2 is "@".
  await page.keyboard.press(`${MOD}+Shift+Digit9`);
  assert.equal(await progress(), 9);
  await page.keyboard.press(`${MOD}+Shift+Digit2`);
  assert.equal(await progress(), 2);
});

it('Ctrl+Enter confirms the note dialog; Enter alone breaks the line', async () => {
  const page = await suite.open();
  await typeNode(page, 'Tab', 'Annotated');
  await page.keyboard.press(`${MOD}+Shift+n`);
  await page.keyboard.type('first');
  await page.keyboard.press('Enter');
  await page.keyboard.type('second');
  await page.keyboard.press(`${MOD}+Enter`);
  await page.waitForFunction(() => !document.querySelector('dialog[open]'));
  assert.equal((await page.map()).root.children[0].data.note, 'first\nsecond');
});

it('in a dark system the controls turn dark and the map keeps its theme; controls are named; the selection is announced', async () => {
  const page = await suite.open({ lang: 'cn', viewport: { width: 900, height: 700 } });
  const colours = () => page.evaluate(() => [
    getComputedStyle(document.querySelector('.statusbar')).backgroundColor,
    getComputedStyle(CogitraEditor.minder.getRenderTarget()).backgroundColor]);
  const [lightBar, lightMap] = await colours();
  await page.emulateMedia({ colorScheme: 'dark' });
  const [darkBar, darkMap] = await colours();
  const brightness = (rgb) => rgb.match(/\d+/g).slice(0, 3).reduce((a, v) => a + Number(v), 0) / 3;
  assert.ok(brightness(lightBar) > 200 && brightness(darkBar) < 80, `${lightBar} / ${darkBar}`);
  assert.equal(darkMap, lightMap);

  // Narrow enough that the buttons show no labels: they still have names.
  const tree = await page.locator('.toolbar').ariaSnapshot();
  assert.doesNotMatch(tree, /- (button|combobox)(?! ")/, tree);
  assert.match(tree, /button "新建"/);

  await typeNode(page, 'Tab', '分支一');
  await page.waitForFunction(() => document.getElementById('announce').textContent === '分支一');
  await page.keyboard.press(`${MOD}+a`);
  await page.waitForFunction(() => document.getElementById('announce').textContent === '已选中 2 个主题');
});
