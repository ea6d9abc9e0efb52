// Edits on a map too large to lay out whole at every keystroke: after each one the map must
// look exactly as the engine's full layout draws it, and every topic stand where it puts it.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { editorSuite, makeMap, typeNode } from '../../tests/support/editor-page.mjs';

const MOD = process.platform === 'darwin' ? 'Meta' : 'Control';
const suite = editorSuite();

// The drawn map (the SVG inside the view's offset, which the engine moves to follow the
// selection after every layout) and every topic's place, after the page has settled.
const picture = (page) => page.evaluate(async () => {
  await new Promise((resolve) => setTimeout(() => requestAnimationFrame(() => requestAnimationFrame(resolve)), 100));
  const m = CogitraEditor.minder;
  const places = [];
  m.getRoot().traverse((node) => {
    const { e, f } = node.getGlobalLayoutTransform().m;
    places.push(`${node.getText()} ${e},${f}`);
  });
  // Attributes in a fixed order: showing and hiding a shape again moves its attribute.
  const canon = (e) => (e.nodeType !== 1 ? e.textContent
    : `<${e.tagName} ${[...e.attributes].map((a) => `${a.name}="${a.value}"`).sort().join(' ')}>${[...e.childNodes].map(canon).join('')}</>`);
  return { places, svg: [...m.getRenderContainer().node.childNodes].map(canon).join('') };
});

const fullLayout = (page) => page.evaluate(async () => {
  const { layoutInFull } = await import('/km/v1.0/app/layout-guard.js');
  layoutInFull(CogitraEditor.minder);
});

const select = (page, text) => page.evaluate((t) => {
  const m = CogitraEditor.minder;
  let found = null;
  m.getRoot().traverse((node) => { if (node.getText() === t) found = node; });
  m.select(found, true);
}, text);

it('edits on a 1,000-topic map draw the same map as a full layout, step by step', async () => {
  const page = await suite.open();
  await page.setMap(makeMap(1000));
  const press = async (...keys) => { for (const key of keys) await page.keyboard.press(key); };
  const steps = [
    ['a child added and named', () => select(page, 'Topic 40').then(() => typeNode(page, 'Tab', 'New child'))],
    ['a sibling over two lines', async () => {
      await press('Enter');
      await page.keyboard.type('Two');
      await press('Shift+Enter');
      await page.keyboard.type('lines of text');
      await press('Enter');
    }],
    ['a topic renamed longer', () => select(page, 'Topic 7').then(() => press('F2')).then(() => page.keyboard.type('Topic 7 with a much longer name')).then(() => press('Enter'))],
    ['a branch folded', () => select(page, 'Topic 2').then(() => press(' '))],
    ['a branch removed', () => select(page, 'Topic 9').then(() => press('Delete'))],
    ['a main topic added: topics change sides', () => select(page, 'Topic map').then(() => typeNode(page, 'Tab', 'Main'))],
    ['a topic moved up among its siblings', () => select(page, 'Topic 30').then(() => press('Alt+ArrowUp'))],
    ['a branch copied and pasted', () => select(page, 'Topic 11').then(() => press(`${MOD}+c`)).then(() => select(page, 'Topic 25')).then(() => press(`${MOD}+v`))],
    ['undone back to the start', () => press(...Array(9).fill(`${MOD}+z`))],
    ['redone', () => press(...Array(9).fill(`${MOD}+Shift+z`))],
    ['the fold undone', () => select(page, 'Topic 2').then(() => press(' '))],
  ];
  for (const [name, step] of steps) {
    await step();
    const fast = await picture(page);
    await fullLayout(page);
    const full = await picture(page);
    assert.deepEqual(fast.places, full.places, name);
    assert.ok(fast.svg === full.svg, `${name}: the drawing differs from the full layout's`);
  }
});
