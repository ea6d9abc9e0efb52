// Editing as a user does it: keys, the text box over the node, undo and redo, folding,
// zoom and panning, pickers and dialogs.
import assert from 'node:assert/strict';
import { afterEach, beforeEach, describe, it } from 'node:test';
import { editorSuite, makeMap } from '../../tests/support/editor-page.mjs';

const MOD = process.platform === 'darwin' ? 'Meta' : 'Control';

const suite = editorSuite();
let page;
beforeEach(async () => {
  page = await suite.open();
});
afterEach(async () => {
  assert.deepEqual(page.errors, []);
  assert.deepEqual(page.alerts, []);
  await page.context().close();
});

const map = () => page.map();
const texts = (node) => node.children.map((c) => c.data.text);
// Arrow keys wait for a running layout animation; so does this.
const selectedText = () => page.evaluate(() => new Promise((resolve) => {
  const m = CogitraEditor.minder;
  const answer = () => resolve(m.getSelectedNode()?.getText());
  setTimeout(answer, m.getOption('layoutAnimationDuration') + 100);
}));
const editing = () => page.evaluate(() => CogitraEditor.inline.isEditing());
// Where on the page an element ('#id') is, or the selected topic, the root or the whole map.
const rectOf = (what) => page.evaluate((w) => {
  const m = CogitraEditor.minder;
  const shapes = { selected: () => m.getSelectedNode(), root: () => m.getRoot(), map: () => m };
  const e = shapes[w] ? shapes[w]().getRenderContainer().node : document.querySelector(w);
  return e.getBoundingClientRect().toJSON();
}, what);
const within = (r, v) => r.left >= v.left && r.right <= v.right && r.top >= v.top && r.bottom <= v.bottom;

async function typeNode(keyToAdd, text) {
  await page.keyboard.press(keyToAdd);
  assert.equal(await editing(), true, `${keyToAdd} opens the text box`);
  await page.keyboard.type(text);
  await page.keyboard.press('Enter');
}

describe('keyboard editing', () => {
  it('Tab adds a child, Enter a sibling, both edited in place', async () => {
    await typeNode('Tab', 'Alpha');
    await typeNode('Enter', 'Beta');
    await typeNode('Tab', 'Beta child');
    const m = await map();
    assert.deepEqual(texts(m.root), ['Alpha', 'Beta']);
    assert.deepEqual(texts(m.root.children[1]), ['Beta child']);
    assert.equal(await selectedText(), 'Beta child');
  });

  it('F2 edits, Escape cancels, typing replaces, Shift+Enter breaks the line', async () => {
    await typeNode('Tab', 'First');
    await page.keyboard.press('F2');
    assert.equal(await page.inputValue('#node-editor'), 'First');
    await page.keyboard.type('ignored');
    await page.keyboard.press('Escape');
    assert.equal(await editing(), false);
    assert.equal((await map()).root.children[0].data.text, 'First');

    await page.keyboard.type('Second');
    await page.keyboard.press('Shift+Enter');
    await page.keyboard.type('line');
    await page.keyboard.press('Enter');
    assert.equal((await map()).root.children[0].data.text, 'Second\nline');
  });

  it('a double click edits the node under the pointer', async () => {
    await typeNode('Tab', 'Clickable');
    await page.waitForTimeout(700);
    const box = await rectOf('selected');
    await page.mouse.click(10, 400);
    await page.mouse.dblclick(box.x + box.width / 2, box.y + box.height / 2);
    assert.equal(await editing(), true);
    assert.equal(await page.inputValue('#node-editor'), 'Clickable');
  });

  it('undo walks back through adds, text edits and Delete to the start, redo forward again', async () => {
    const start = await map();
    await typeNode('Tab', 'A');
    await typeNode('Enter', 'B');
    await typeNode('Tab', 'C');
    await page.keyboard.press('Delete');
    assert.deepEqual(texts((await map()).root.children[1]), []);
    await page.keyboard.press(`${MOD}+z`);
    assert.equal(await selectedText(), 'C');
    await page.keyboard.press(`${MOD}+Shift+z`);
    const end = await map();
    for (let i = 0; i < 7; i++) await page.keyboard.press(`${MOD}+z`);
    assert.deepEqual(await map(), start);
    for (let i = 0; i < 7; i++) await page.keyboard.press(`${MOD}+Shift+z`);
    assert.deepEqual(await map(), end);
    // Nothing left to redo, something to undo: the buttons say so.
    await page.waitForFunction(() => document.querySelector('[data-action=redo]').disabled
      && !document.querySelector('[data-action=undo]').disabled);
  });

  it('undo on a large map re-creates a removed subtree exactly', async () => {
    await page.setMap(makeMap(600));
    const before = await map();
    await page.evaluate(() => {
      const m = CogitraEditor.minder;
      m.select(m.getRoot().getChildren()[2], true);
    });
    await page.keyboard.press('Delete');
    assert.equal((await map()).root.children.length, before.root.children.length - 1);
    await page.keyboard.press(`${MOD}+z`);
    assert.deepEqual(await map(), before);
  });

  it('Space folds, arrows move the selection, and keys pressed while the map moves act in order', async () => {
    // No pauses: each key lands while the layout animation of the one before runs.
    await typeNode('Tab', 'Parent');
    await typeNode('Tab', 'Kid');
    await page.keyboard.press('ArrowLeft');
    await page.keyboard.press(' ');
    assert.equal((await map()).root.children[0].data.expandState, 'collapse');
    // A folded topic's children are not among the places the arrows go.
    await page.keyboard.press('ArrowRight');
    await page.keyboard.press('ArrowLeft');
    await page.keyboard.press('Tab');
    await page.keyboard.type('Second');
    await page.keyboard.press('Enter');
    assert.deepEqual(texts((await map()).root), ['Parent', 'Second']);
    assert.deepEqual(texts((await map()).root.children[0]), ['Kid']);
    // The two sides of the mind map: Second on the left, Parent on the right.
    await page.keyboard.press('ArrowRight');
    assert.equal(await selectedText(), 'Central Topic');
    await page.keyboard.press('ArrowRight');
    assert.equal(await selectedText(), 'Parent');
    await page.keyboard.press(' ');
    assert.notEqual((await map()).root.children[0].data.expandState, 'collapse');
  });

  it('priority and progress by key, undone by undo', async () => {
    await typeNode('Tab', 'Marked');
    await page.keyboard.press(`${MOD}+2`);
    await page.keyboard.press(`${MOD}+Shift+9`);
    let node = (await map()).root.children[0].data;
    assert.equal(node.priority, 2);
    assert.equal(node.progress, 9);
    await page.keyboard.press(`${MOD}+z`);
    node = (await map()).root.children[0].data;
    assert.equal(node.priority, 2);
    assert.equal(node.progress ?? null, null);
  });
});

describe('view', () => {
  it('zooms in, out and to fit; the text box follows the zoom', async () => {
    await page.setMap(makeMap(80));
    const zoom = () => page.evaluate(() => CogitraEditor.minder.getZoomValue());
    await page.keyboard.press(`${MOD}+=`);
    assert.equal(await zoom(), 125);
    await page.click('[data-action=zoomIn]');
    assert.equal(await zoom(), 150);
    await page.keyboard.press('F2');
    const size150 = await page.$eval('#node-editor', (e) => parseFloat(e.style.fontSize));
    await page.keyboard.press('Escape');
    await page.keyboard.press(`${MOD}+-`);
    await page.keyboard.press(`${MOD}+-`);
    await page.keyboard.press(`${MOD}+-`);
    assert.equal(await zoom(), 75);
    await page.keyboard.press('F2');
    const size75 = await page.$eval('#node-editor', (e) => parseFloat(e.style.fontSize));
    assert.ok(Math.abs(size150 / size75 - 2) < 0.01, `${size150} / ${size75}`);
    await page.keyboard.press('Escape');
    await page.keyboard.press(`${MOD}+0`);
    await page.waitForTimeout(500);
    // Fit shows the whole map inside the view.
    assert.ok(within(await rectOf('map'), await rectOf('#minder-view')));
    assert.equal(await page.textContent('#zoom-value'), `${await zoom()}%`);
  });

  it('Ctrl+wheel and a pinch zoom the map, not the page', async () => {
    const zoom = () => page.evaluate(() => CogitraEditor.minder.getZoomValue());
    const wheel = async (...deltas) => {
      await page.keyboard.down('Control');
      for (const d of deltas) await page.mouse.wheel(0, d);
      await page.keyboard.up('Control');
      await page.waitForTimeout(200);
    };
    await page.mouse.move(640, 400);
    await wheel(-120);
    assert.equal(await zoom(), 125);
    // A pinch: many small steps.
    await wheel(-20, -20, -20, -20, -20, -20);
    assert.equal(await zoom(), 150);
    await page.keyboard.press('F2');
    await wheel(120);
    assert.equal(await zoom(), 125);
    assert.equal(await editing(), true);
    // The browser's own zoom of the page never sees the event.
    const canceled = await page.evaluate(() => !document.querySelector('.toolbar').dispatchEvent(
      new WheelEvent('wheel', { deltaY: -5, ctrlKey: true, bubbles: true, cancelable: true })));
    assert.equal(canceled, true);
  });

  it('a topic typed at the edge of the view stays in view', async () => {
    await page.setMap(makeMap(200));
    const viewRect = await rectOf('#minder-view');
    // The rightmost topic that is wholly in view.
    await page.evaluate((v) => {
      const m = CogitraEditor.minder;
      let best = null;
      m.getRoot().traverse((node) => {
        const r = node.getRenderContainer().node.getBoundingClientRect();
        if (r.width && r.left >= v.left && r.right <= v.right && r.top >= v.top && r.bottom <= v.bottom
            && (!best || r.right > best.right)) best = { node, right: r.right };
      });
      m.select(best.node, true);
    }, viewRect);
    await page.keyboard.press('Tab');
    await page.keyboard.type('A new idea typed right at the edge of the window');
    await page.waitForTimeout(100);
    const box = await rectOf('#node-editor');
    assert.ok(within(box, viewRect), JSON.stringify({ box, viewRect }));
    await page.keyboard.press('Enter');
    await page.waitForTimeout(700);
    const node = await rectOf('selected');
    assert.ok(within(node, viewRect), JSON.stringify({ node, viewRect }));
  });

  it('dragging the empty canvas pans the map and keeps the selection', async () => {
    await typeNode('Tab', 'Selected');
    await page.waitForTimeout(700);
    const where = () => rectOf('root');
    const start = await where();
    await page.mouse.move(200, 200);
    await page.mouse.down();
    await page.mouse.move(260, 230, { steps: 5 });
    await page.mouse.up();
    const end = await where();
    assert.ok(Math.abs(end.x - start.x - 60) < 2 && Math.abs(end.y - start.y - 30) < 2, JSON.stringify({ start, end }));
    assert.equal(await selectedText(), 'Selected');
  });
});

describe('pickers and dialogs', () => {
  it('layout and theme pickers change the map, and undo changes them back', async () => {
    await page.selectOption('select[data-picker=template]', 'structure');
    await page.selectOption('select[data-picker=theme]', 'snow');
    let m = await map();
    assert.equal(m.template, 'structure');
    assert.equal(m.theme, 'snow');
    await page.keyboard.press(`${MOD}+z`);
    await page.keyboard.press(`${MOD}+z`);
    m = await map();
    assert.equal(m.template, 'default');
    assert.equal(m.theme, 'fresh-blue');
  });

  it('notes and links are edited in dialogs; unsafe links are refused', async () => {
    await typeNode('Tab', 'Annotated');
    await page.keyboard.press(`${MOD}+Shift+n`);
    await page.fill('#note-dialog textarea', 'Remember this');
    await page.click('#note-dialog button[value=ok]');
    await page.waitForFunction(() => JSON.parse(window.g_ZetJsonResult).root.children[0].data.note === 'Remember this');

    await page.keyboard.press(`${MOD}+k`);
    await page.fill('#link-dialog input', 'javascript:alert(1)');
    await page.click('#link-dialog button[value=ok]');
    assert.equal(await page.isVisible('#link-dialog .error'), true);
    await page.fill('#link-dialog input', 'example.com/page');
    await page.click('#link-dialog button[value=ok]');
    await page.waitForFunction(() => JSON.parse(window.g_ZetJsonResult).root.children[0].data.hyperlink === 'https://example.com/page');
    // Keys go back to the map.
    await typeNode('Enter', 'After');
    assert.deepEqual(texts((await map()).root), ['Annotated', 'After']);
  });

  it('a map put in while a dialog is open closes it, and its answer goes nowhere', async () => {
    for (const [key, field] of [[`${MOD}+Shift+n`, '#note-dialog textarea'], [`${MOD}+k`, '#link-dialog input']]) {
      await typeNode('Tab', 'Old map topic');
      await page.keyboard.press(key);
      await page.fill(field, 'https://example.com/meant-for-the-old-map');
      await page.setMap(makeMap(5));
      // A dialog left open would take its OK to the new map.
      const wasOpen = await page.evaluate(() => {
        const ok = document.querySelector('dialog[open] button[value=ok]');
        ok?.click();
        return !!ok;
      });
      assert.equal(wasOpen, false);
      await page.waitForTimeout(100);
      assert.deepEqual(await map(), makeMap(5));
      // Keys go to the new map.
      await typeNode('Tab', 'New map topic');
      assert.equal((await map()).root.children.at(-1).data.text, 'New map topic');
    }
  });
});
