// Finding topics: Ctrl+F, typing, stepping with Enter, Shift+Enter and F3, Escape.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { MOD, editorSuite, makeMap } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();

// The selected topic's text once it is wholly in view with its ancestors unfolded, which
// also lets a layout or view animation finish.
const settledSelection = (page) => page.waitForFunction(() => {
  const m = CogitraEditor.minder;
  const node = m.getSelectedNode();
  const r = node.getRenderContainer().node.getBoundingClientRect();
  const v = document.getElementById('minder-view').getBoundingClientRect();
  for (let up = node.parent; up; up = up.parent) if (!up.isExpanded()) return false;
  return r.width > 0 && r.left >= v.left && r.right <= v.right && r.top >= v.top && r.bottom <= v.bottom
    && node.getText();
}, null, { timeout: 5000 }).then((h) => h.jsonValue());

it('finds topics by text and note, unfolds and shows each match, steps both ways, Escape closes', async () => {
  const page = await suite.open();
  const map = makeMap(150);
  map.root.children[0].data.note = 'See also TOPIC 14';
  for (const main of map.root.children) main.data.expandState = 'collapse';
  await page.setMap(map);

  await page.keyboard.press(`${MOD}+f`);
  await page.keyboard.type('topic 14');
  // Topic 1 by its note, then 14 and 140..149: twelve, in the map's order.
  assert.equal(await page.textContent('#find-bar output'), '1 of 12');
  const seen = [await settledSelection(page)];
  for (let i = 1; i < 12; i++) {
    await page.keyboard.press(i % 2 ? 'Enter' : 'F3');
    seen.push(await settledSelection(page));
  }
  assert.deepEqual(seen, ['Topic 1', 'Topic 14', ...Array.from({ length: 10 }, (_, i) => `Topic ${140 + i}`)]);
  assert.equal(await page.textContent('#find-bar output'), '12 of 12');
  await page.keyboard.press('Enter');
  assert.equal(await settledSelection(page), seen[0]);
  await page.keyboard.press('Shift+Enter');
  assert.equal(await settledSelection(page), seen[11]);
  // Unfolding is part of the map: it is saved with it.
  const unfolded = await page.map();
  assert.deepEqual(unfolded.root.children.map((c) => c.data.expandState),
    ['collapse', 'expand', 'expand', 'collapse', 'collapse', 'collapse']);

  await page.keyboard.type('x');
  assert.equal(await page.textContent('#find-bar output'), 'No matches');
  await page.keyboard.press('Backspace');
  await page.keyboard.press('Escape');
  assert.equal(await page.isVisible('#find-bar'), false);
  // The map has the keys again, on the last match.
  await page.keyboard.press('F3');
  assert.equal(await settledSelection(page), seen[0]);
  await page.keyboard.press('Tab');
  await page.keyboard.type('Found it');
  await page.keyboard.press('Enter');
  assert.equal(await settledSelection(page), 'Found it');
  // Another map: the matches of this one go with the bar.
  await page.keyboard.press(`${MOD}+f`);
  await page.setMap(map);
  assert.equal(await page.isVisible('#find-bar'), false);
});
