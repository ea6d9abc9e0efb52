// Moving topics with the mouse and working on several at once.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { MOD, editorSuite, makeMap, topicAt } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();

it('drag onto or between topics, undo; Ctrl+click and Shift+drag select several for Delete, priority and progress', async () => {
  // Topics 1 to 4 in one column right of the root.
  const page = await suite.open();
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
  page.outline = async () => {
    const walk = (node) => node.data.text.replace('Topic ', '') + (node.children.length ? `(${node.children.map(walk).join(' ')})` : '');
    return walk((await page.map()).root);
  };

  await page.drag(await page.at(4), await page.at(1));
  assert.equal(await page.outline(), 'map(1(4) 2 3)');
  const target = await page.at(3);
  await page.drag(await page.at(1), { x: target.x, y: target.y - target.height * 0.6 });
  assert.equal(await page.outline(), 'map(2 1(4) 3)');
  await page.keyboard.press(`${MOD}+z`);
  await page.keyboard.press(`${MOD}+z`);
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
  await page.keyboard.press(`${MOD}+3`);
  await page.keyboard.press(`${MOD}+Shift+Digit5`);
  const marks = (await page.map()).root.children.map((c) => [c.data.priority ?? 0, c.data.progress ?? 0]);
  assert.deepEqual(marks, [[3, 5], [0, 0], [3, 5], [0, 0]]);

  // From empty canvas right of topic 2 to the left of topic 3.
  const [second, third] = [await page.at(2), await page.at(3)];
  await page.keyboard.down('Shift');
  await page.drag({ x: second.x + 80, y: second.y - second.height }, { x: second.x - 10, y: third.y + 2 });
  await page.keyboard.up('Shift');
  await page.keyboard.press('Delete');
  assert.equal(await page.outline(), 'map(1 4)');
});
