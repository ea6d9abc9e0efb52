// Moving branches: by mouse, several at once, through the clipboard, and text from elsewhere.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { MOD, editorSuite, makeMap, selectTopic, topicAt } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();

const branchMap = {
  root: { data: { id: 'r', text: 'Trip' }, children: [
    { data: { id: 'a', text: 'Pack', note: 'the night before', priority: 2 }, children: [
      { data: { id: 'a1', text: 'Tent' }, children: [] }, { data: { id: 'a2', text: 'Two\nlines' }, children: [] }] },
    { data: { id: 'b', text: 'Route' }, children: [] }] },
  template: 'default', theme: 'fresh-blue', version: '1.4.43',
};

async function open(map) {
  const page = await suite.open();
  await page.context().grantPermissions(['clipboard-read', 'clipboard-write']);
  if (map) await page.setMap(map);
  page.clipboard = () => page.evaluate(() => navigator.clipboard.readText());
  page.keys = async (...keys) => { for (const key of keys) await page.keyboard.press(key); };
  return page;
}
const strip = ({ data: { id, created, ...data }, children }) => ({ data, children: children.map(strip) });
const ids = (node) => [node.data.id, ...node.children.flatMap(ids)];

it('branches copied between pages, pasted as one undoable edit, cut and moved, dragged; typed text is the browser\'s, other text the application\'s; several topics at once', async () => {
  const [first, second] = [await open(branchMap), await open()];
  await selectTopic(first, 'Pack');
  await first.keys(`${MOD}+c`);
  assert.equal(await first.clipboard(), 'Pack\n\tTent\n\tTwo lines\n');
  assert.deepEqual(await first.map(), branchMap, 'copying changes nothing');

  const before = await second.map();
  await second.keys(`${MOD}+v`);
  await selectTopic(second, 'Central Topic');
  await second.keys(`${MOD}+v`);
  const root = (await second.map()).root;
  assert.deepEqual(root.children.map(strip), [strip(branchMap.root.children[0]), strip(branchMap.root.children[0])]);
  const all = ids(root);
  assert.equal(new Set(all).size, all.length, 'every pasted topic has an id of its own');
  await second.keys(`${MOD}+z`, `${MOD}+z`);
  assert.deepEqual(await second.map(), before);

  await first.keys(`${MOD}+x`);
  await selectTopic(first, 'Route');
  await first.keys(`${MOD}+v`);
  const moved = (await first.map()).root;
  assert.deepEqual(moved.children.map((c) => c.data.text), ['Route']);
  assert.deepEqual(strip(moved.children[0].children[0]), strip(branchMap.root.children[0]));
  await selectTopic(first, 'Trip');
  await first.keys(`${MOD}+x`);
  assert.equal((await first.map()).root.children.length, 1);
  assert.match(await first.clipboard(), /^Trip\n\tRoute\n\t\tPack\n/);

  // Typing in a topic or the find bar keeps the browser's own copy and paste.
  await selectTopic(first, 'Route');
  await first.keys('F2', `${MOD}+a`, `${MOD}+c`);
  assert.equal(await first.clipboard(), 'Route');
  await first.keys('End', `${MOD}+v`, 'Enter');
  assert.equal((await first.map()).root.children[0].data.text, 'RouteRoute');
  await first.keys(`${MOD}+f`, `${MOD}+v`);
  assert.equal(await first.inputValue('#find-bar input'), 'Route');
  assert.equal((await first.map()).root.children.length, 1);

  // Text from elsewhere goes to the application, whose topics land under the selection.
  await second.evaluate(() => navigator.clipboard.writeText('- one\n  - two'));
  await second.keys(`${MOD}+v`);
  assert.ok((await second.evaluate(() => window.__calls.map((c) => c.command))).includes('PasteText'));
  assert.equal(await second.evaluate(() => window.g_ZetPasteText), '- one\n  - two');
  // The application's answer; a hostile one changes nothing.
  const paste = (map) => second.evaluate((t) => PasteTopics(t), typeof map === 'string' ? map : JSON.stringify(map));
  assert.equal(await paste({ root: { data: { text: '' }, children: [{ data: { text: 'one' }, children: [{ data: { text: 'two' } }] }] } }), true);
  assert.equal(await paste('{"root":'), false);
  assert.deepEqual((await second.map()).root.children.map(strip), [{ data: { text: 'one' }, children: [{ data: { text: 'two' }, children: [] }] }]);
  // A map holds 256 levels below its root: this chain fits under the root, not one level down.
  const chain = (n) => (n ? { data: { text: `L${n}` }, children: [chain(n - 1)] } : { data: { text: 'end' }, children: [] });
  const deep = { root: { data: { text: '' }, children: [chain(255)] } };
  await selectTopic(second, 'one');
  assert.equal(await paste(deep), false);
  await selectTopic(second, 'Central Topic');
  assert.equal(await paste(deep), true);

  // Dragging onto or between topics 1 to 4, in one column right of the root; several at once.
  const page = second;
  await page.setMap({ ...makeMap(5, { fanout: 4 }), template: 'right' });
  await page.waitForTimeout(300);
  page.at = (n) => topicAt(page, `Topic ${n}`);
  page.drag = async (from, to) => {
    await page.mouse.move(from.x, from.y);
    await page.mouse.down();
    await page.mouse.move((from.x + to.x) / 2, (from.y + to.y) / 2, { steps: 4 });
    await page.mouse.move(to.x, to.y, { steps: 4 });
    await page.mouse.up();
    await page.waitForTimeout(400);
  };
  const walk = (node) => node.data.text.replace('Topic ', '') + (node.children.length ? `(${node.children.map(walk).join(' ')})` : '');
  page.outline = async () => walk((await page.map()).root);

  await page.drag(await page.at(4), await page.at(1));
  assert.equal(await page.outline(), 'map(1(4) 2 3)');
  const target = await page.at(3);
  await page.drag(await page.at(1), { x: target.x, y: target.y - target.height * 0.6 });
  assert.equal(await page.outline(), 'map(2 1(4) 3)');
  await page.keys(`${MOD}+z`, `${MOD}+z`);
  assert.equal(await page.outline(), 'map(1 2 3 4)');
  await page.waitForTimeout(400);

  const click = async (n) => { const p = await page.at(n); await page.mouse.click(p.x, p.y); };
  await click(1);
  await page.keyboard.down(MOD);
  await click(3);
  await page.keyboard.up(MOD);
  // A note is for one topic: its dialog does not open to lose what is typed.
  await page.keyboard.press(`${MOD}+Shift+n`);
  assert.equal(await page.isVisible('#note-dialog'), false);
  await page.keys(`${MOD}+3`, `${MOD}+Shift+Digit5`);
  const marks = (await page.map()).root.children.map((c) => [c.data.priority ?? 0, c.data.progress ?? 0]);
  assert.deepEqual(marks, [[3, 5], [0, 0], [3, 5], [0, 0]]);

  // From empty canvas right of topic 2 to the left of topic 3.
  const [two, three] = [await page.at(2), await page.at(3)];
  await page.keyboard.down('Shift');
  await page.drag({ x: two.x + 80, y: two.y - two.height }, { x: two.x - 10, y: three.y + 2 });
  await page.keyboard.up('Shift');
  await page.keyboard.press('Delete');
  assert.equal(await page.outline(), 'map(1 4)');
});
