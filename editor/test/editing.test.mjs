// Editing as a user does it: keys, the text box, undo, folding, the view, dialogs, finding.
import assert from 'node:assert/strict';
import { beforeEach, it } from 'node:test';
import { MOD, editorSuite, makeMap, typeNode as typeNodeOn } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();
let page;
beforeEach(async () => {
  page = await suite.open();
});

const map = () => page.map();
const texts = (node) => node.children.map((c) => c.data.text);
const typeNode = (key, text) => typeNodeOn(page, key, text);
const press = async (...keys) => { for (const key of keys) await page.keyboard.press(key); };
const zoom = () => page.evaluate(() => CogitraEditor.minder.getZoomValue());
const editorFontSize = () => page.$eval('#node-editor', (e) => parseFloat(e.style.fontSize));
// Arrow keys wait for a running layout animation; so does this.
const selectedText = () => page.evaluate(() => new Promise((resolve) => {
  const m = CogitraEditor.minder;
  setTimeout(() => resolve(m.getSelectedNode()?.getText()), m.getOption('layoutAnimationDuration') + 100);
}));
// Where on the page an element ('#id') is, or the selected topic, the root or the whole map.
const rectOf = (what) => page.evaluate((w) => {
  const m = CogitraEditor.minder;
  const shapes = { selected: () => m.getSelectedNode(), root: () => m.getRoot(), map: () => m };
  const e = shapes[w] ? shapes[w]().getRenderContainer().node : document.querySelector(w);
  return e.getBoundingClientRect().toJSON();
}, what);
const within = (r, v) => r.left >= v.left && r.right <= v.right && r.top >= v.top && r.bottom <= v.bottom;

it('Tab and Enter add, F2, a double click and typing edit, Space folds, arrows move, keys act in order while the map moves; undo walks it all back, redo forward', async () => {
  const start = await map();
  await typeNode('Tab', 'First');
  await press('F2');
  assert.equal(await page.inputValue('#node-editor'), 'First');
  await page.keyboard.type('ignored');
  await press('Escape');
  assert.equal((await map()).root.children[0].data.text, 'First');

  await page.keyboard.type('Second');
  await press('Shift+Enter');
  await page.keyboard.type('line');
  await press('Enter');
  assert.equal((await map()).root.children[0].data.text, 'Second\nline');

  await page.waitForTimeout(700);
  const box = await rectOf('selected');
  await page.mouse.click(10, 400);
  await page.mouse.dblclick(box.x + box.width / 2, box.y + box.height / 2);
  assert.equal(await page.inputValue('#node-editor'), 'Second\nline');
  await press('Escape');

  // No pauses: each key lands while the layout animation of the one before runs.
  await typeNode('Tab', 'Kid');
  await press('ArrowLeft', ' ');
  assert.equal((await map()).root.children[0].data.expandState, 'collapse');
  // A folded topic's children are not among the places the arrows go.
  await press('ArrowRight', 'ArrowLeft', 'ArrowRight', 'Enter');
  await page.keyboard.type('Other');
  await press('Enter');
  assert.deepEqual(texts((await map()).root), ['Second\nline', 'Other']);
  assert.deepEqual(texts((await map()).root.children[0]), ['Kid']);
  // The two sides of the mind map: Other on the left, the first topic on the right.
  await press('ArrowRight');
  assert.equal(await selectedText(), 'Central Topic');
  await press('ArrowRight');
  assert.equal(await selectedText(), 'Second\nline');
  await press(' ', 'Delete');
  assert.deepEqual(texts((await map()).root), ['Other']);
  await press(`${MOD}+z`);
  assert.equal(await selectedText(), 'Second\nline');
  assert.notEqual((await map()).root.children[0].data.expandState, 'collapse');
  await press(`${MOD}+Shift+z`);
  const end = await map();
  await press(...Array(10).fill(`${MOD}+z`));
  assert.deepEqual(await map(), start);
  await press(...Array(10).fill(`${MOD}+Shift+z`));
  assert.deepEqual(await map(), end);
  // Nothing left to redo, something to undo: the buttons say so.
  await page.waitForFunction(() => document.querySelector('[data-action=redo]').disabled
    && !document.querySelector('[data-action=undo]').disabled);

  // On a large map a removed subtree comes back exactly.
  await page.setMap(makeMap(600));
  const before = await map();
  await page.evaluate(() => { CogitraEditor.minder.select(CogitraEditor.minder.getRoot().getChildren()[2], true); });
  await press('Delete', `${MOD}+z`);
  assert.deepEqual(await map(), before);
});

it('zooms by key, button, Ctrl+wheel and pinch, and to fit; the text box follows the zoom', async () => {
  await page.setMap(makeMap(80));
  const wheel = async (...deltas) => {
    await page.keyboard.down('Control');
    for (const d of deltas) await page.mouse.wheel(0, d);
    await page.keyboard.up('Control');
    await page.waitForTimeout(200);
  };
  await press(`${MOD}+=`);
  assert.equal(await zoom(), 125);
  await page.click('[data-action=zoomIn]');
  assert.equal(await zoom(), 150);
  await press('F2');
  const size150 = await editorFontSize();
  await press('Escape', `${MOD}+-`, `${MOD}+-`, `${MOD}+-`);
  assert.equal(await zoom(), 75);
  await press('F2');
  assert.ok(Math.abs(size150 / (await editorFontSize()) - 2) < 0.01);
  await press('Escape');

  await page.mouse.move(640, 400);
  await wheel(-120);
  assert.equal(await zoom(), 100);
  await wheel(-20, -20, -20, -20, -20, -20); // a pinch: many small steps
  assert.equal(await zoom(), 125);
  await press('F2');
  await wheel(120);
  assert.equal(await zoom(), 100);
  assert.equal(await page.evaluate(() => CogitraEditor.inline.isEditing()), true);
  await press('Escape');
  // The browser's own zoom of the page never sees the event.
  assert.equal(await page.evaluate(() => !document.querySelector('.toolbar').dispatchEvent(
    new WheelEvent('wheel', { deltaY: -5, ctrlKey: true, bubbles: true, cancelable: true }))), true);

  await press(`${MOD}+0`);
  // The view moves there in an animation, which a loaded machine draws late.
  let fits = false;
  for (let i = 0; i < 50 && !fits; i++, await page.waitForTimeout(100)) fits = within(await rectOf('map'), await rectOf('#minder-view'));
  assert.ok(fits);
  assert.equal(await page.textContent('#zoom-value'), `${await zoom()}%`);
});

it('dragging the empty canvas pans the map and keeps the selection; a topic typed at the edge of the view stays in view', async () => {
  await typeNode('Tab', 'Selected');
  await page.waitForTimeout(700);
  const drag = async (dx, dy) => {
    await page.mouse.move(200, 200);
    await page.mouse.down();
    await page.mouse.move(200 + dx, 200 + dy, { steps: 5 });
    await page.mouse.up();
  };
  const start = await rectOf('root');
  await drag(60, 30);
  const end = await rectOf('root');
  assert.ok(Math.abs(end.x - start.x - 60) < 2 && Math.abs(end.y - start.y - 30) < 2, JSON.stringify({ start, end }));
  assert.equal(await selectedText(), 'Selected');

  const view = await rectOf('#minder-view');
  await drag(view.right - (await rectOf('selected')).right - 10, 0);
  await press('Tab');
  await page.keyboard.type('A new idea typed right at the edge of the window');
  await page.waitForTimeout(100);
  assert.ok(within(await rectOf('#node-editor'), view));
  await press('Enter');
  await page.waitForTimeout(700);
  assert.ok(within(await rectOf('selected'), view));
});

it('a dark system leaves the map its theme; layout and theme by picker, notes and links in dialogs, unsafe links refused; undo takes them back; a map put in closes a dialog', async () => {
  const colours = () => page.evaluate(() => [
    getComputedStyle(document.querySelector('.statusbar')).backgroundColor,
    getComputedStyle(CogitraEditor.minder.getRenderTarget()).backgroundColor]);
  const [lightBar, lightMap] = await colours();
  await page.emulateMedia({ colorScheme: 'dark' });
  const [darkBar, darkMap] = await colours();
  const brightness = (rgb) => rgb.match(/\d+/g).slice(0, 3).reduce((a, v) => a + Number(v), 0) / 3;
  assert.ok(brightness(lightBar) > 200 && brightness(darkBar) < 80, `${lightBar} / ${darkBar}`);
  assert.equal(darkMap, lightMap);

  await typeNode('Tab', 'Linked');
  await press(`${MOD}+Shift+n`);
  await page.keyboard.type('first');
  await press('Enter');
  await page.keyboard.type('second');
  await press(`${MOD}+Enter`);
  await page.waitForFunction(() => JSON.parse(window.g_ZetJsonResult).root.children[0].data.note === 'first\nsecond');
  await page.selectOption('select[data-picker=template]', 'structure');
  await page.selectOption('select[data-picker=theme]', 'snow');
  await press(`${MOD}+k`);
  await page.fill('#link-dialog input', 'javascript:alert(1)');
  await page.click('#link-dialog button[value=ok]');
  assert.equal(await page.isVisible('#link-dialog .error'), true);
  await page.fill('#link-dialog input', 'example.com/page');
  await page.click('#link-dialog button[value=ok]');
  await page.waitForFunction(() => JSON.parse(window.g_ZetJsonResult).root.children[0].data.hyperlink === 'https://example.com/page');
  const marks = ({ root, template, theme }) => [root.children[0].data.hyperlink, template, theme];
  assert.deepEqual(marks(await map()), ['https://example.com/page', 'structure', 'snow']);
  await press(`${MOD}+z`, `${MOD}+z`, `${MOD}+z`);
  assert.deepEqual(marks(await map()), [undefined, 'default', 'fresh-blue']);

  await press(`${MOD}+k`);
  await page.fill('#link-dialog input', 'https://example.com/meant-for-the-old-map');
  await page.setMap(makeMap(5));
  // Closed without an answer: the link was meant for the old map.
  assert.equal(await page.isVisible('dialog[open]'), false);
  await page.waitForTimeout(100);
  assert.deepEqual(await map(), makeMap(5));
  // Keys go back to the map.
  await typeNode('Tab', 'New map topic');
  assert.equal((await map()).root.children.at(-1).data.text, 'New map topic');
});

// The selected topic's text once it is in view with its ancestors unfolded (animations done).
const settledSelection = () => page.waitForFunction(() => {
  const m = CogitraEditor.minder;
  const node = m.getSelectedNode();
  const r = node.getRenderContainer().node.getBoundingClientRect();
  const v = document.getElementById('minder-view').getBoundingClientRect();
  for (let up = node.parent; up; up = up.parent) if (!up.isExpanded()) return false;
  return r.width > 0 && r.left >= v.left && r.right <= v.right && r.top >= v.top && r.bottom <= v.bottom
    && node.getText();
}, null, { timeout: 5000 }).then((h) => h.jsonValue());

it('Ctrl+F finds topics by text and note, unfolds and shows each match, steps both ways, Escape closes', async () => {
  const big = makeMap(150);
  big.root.children[0].data.note = 'See also TOPIC 14';
  for (const main of big.root.children) main.data.expandState = 'collapse';
  await page.setMap(big);

  await page.keyboard.press(`${MOD}+f`);
  await page.keyboard.type('topic 14');
  // Topic 1 by its note, then 14 and 140..149: twelve, in the map's order.
  assert.equal(await page.textContent('#find-bar output'), '1 of 12');
  const seen = [await settledSelection()];
  for (let i = 1; i < 12; i++) {
    await page.keyboard.press(i % 2 ? 'Enter' : 'F3');
    seen.push(await settledSelection());
  }
  assert.deepEqual(seen, ['Topic 1', 'Topic 14', ...Array.from({ length: 10 }, (_, i) => `Topic ${140 + i}`)]);
  assert.equal(await page.textContent('#find-bar output'), '12 of 12');
  await page.keyboard.press('Enter');
  assert.equal(await settledSelection(), seen[0]);
  await page.keyboard.press('Shift+Enter');
  assert.equal(await settledSelection(), seen[11]);
  // Unfolding is part of the map: it is saved with it.
  assert.deepEqual((await map()).root.children.map((c) => c.data.expandState),
    ['collapse', 'expand', 'expand', 'collapse', 'collapse', 'collapse']);

  await page.keyboard.type('x');
  assert.equal(await page.textContent('#find-bar output'), 'No matches');
  await press('Backspace', 'Escape');
  assert.equal(await page.isVisible('#find-bar'), false);
  // The map has the keys again, on the last match.
  await page.keyboard.press('F3');
  assert.equal(await settledSelection(), seen[0]);
  await typeNode('Tab', 'Found it');
  assert.equal(await settledSelection(), 'Found it');
  // Another map: the matches of this one go with the bar.
  await page.keyboard.press(`${MOD}+f`);
  await page.setMap(big);
  assert.equal(await page.isVisible('#find-bar'), false);
});
