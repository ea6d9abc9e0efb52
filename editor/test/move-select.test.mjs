// Moving topics with the mouse and working on several at once.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { editorSuite } from '../../tests/support/editor-page.mjs';

const MOD = process.platform === 'darwin' ? 'Meta' : 'Control';
const suite = editorSuite();

const small = () => ({
  root: {
    data: { id: 'r', text: 'Root' },
    children: ['A', 'B', 'C', 'D'].map((t) => ({ data: { id: t, text: t }, children: [] })),
  },
  template: 'right',
  theme: 'fresh-blue',
  version: '1.4.43',
});

async function open() {
  const page = await suite.open();
  await page.setMap(small());
  await page.waitForTimeout(300);
  return page;
}

// The middle of a topic on the page, by its text.
const centre = (page, text) => page.evaluate((t) => {
  let found = null;
  CogitraEditor.minder.getRoot().traverse((n) => { if (n.getText() === t) found = n; });
  const r = found.getRenderContainer().node.getBoundingClientRect();
  return { x: r.x + r.width / 2, y: r.y + r.height / 2, height: r.height };
}, text);

async function drag(page, from, to) {
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move((from.x + to.x) / 2, (from.y + to.y) / 2, { steps: 4 });
  await page.mouse.move(to.x, to.y, { steps: 4 });
  await page.mouse.up();
  await page.waitForTimeout(400);
}

const outline = (node) => node.data.text + (node.children.length ? `(${node.children.map(outline).join(' ')})` : '');
const selected = (page) => page.evaluate(() => CogitraEditor.minder.getSelectedNodes().map((n) => n.getText()).sort());

it('a topic dropped on another becomes its subtopic, dropped between two it moves there; undo puts it back', async () => {
  const page = await open();
  await drag(page, await centre(page, 'D'), await centre(page, 'A'));
  assert.equal(outline((await page.map()).root), 'Root(A(D) B C)');
  // Between B and C, just above C.
  const c = await centre(page, 'C');
  await drag(page, await centre(page, 'A'), { x: c.x, y: c.y - c.height * 0.6 });
  assert.equal(outline((await page.map()).root), 'Root(B A(D) C)');
  await page.keyboard.press(`${MOD}+z`);
  await page.keyboard.press(`${MOD}+z`);
  assert.equal(outline((await page.map()).root), 'Root(A B C D)');
});

it('Ctrl+click and a drag rectangle select several, and Delete, priority and progress act on all of them', async () => {
  const page = await open();
  await page.mouse.click(...Object.values(await centre(page, 'A')).slice(0, 2));
  await page.keyboard.down(MOD);
  await page.mouse.click(...Object.values(await centre(page, 'C')).slice(0, 2));
  await page.keyboard.up(MOD);
  assert.deepEqual(await selected(page), ['A', 'C']);
  await page.keyboard.press(`${MOD}+3`);
  await page.keyboard.press(`${MOD}+Shift+Digit5`);
  const marks = (await page.map()).root.children.map((c) => [c.data.text, c.data.priority ?? 0, c.data.progress ?? 0]);
  assert.deepEqual(marks, [['A', 3, 5], ['B', 0, 0], ['C', 3, 5], ['D', 0, 0]]);

  // A rectangle from empty canvas around B and C.
  const b = await centre(page, 'B');

  await page.keyboard.down('Shift');
  await drag(page, { x: b.x + 80, y: b.y - b.height }, { x: b.x - 10, y: (await centre(page, 'C')).y + 2 });
  await page.keyboard.up('Shift');
  assert.deepEqual(await selected(page), ['B', 'C']);
  await page.keyboard.press('Delete');
  assert.equal(outline((await page.map()).root), 'Root(A D)');
});
