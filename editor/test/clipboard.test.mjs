// Copy, cut and paste of branches: between two pages through the system clipboard, and
// text from other programs handed to the application to read.
import assert from 'node:assert/strict';
import { beforeEach, describe, it } from 'node:test';
import { editorSuite } from '../../tests/support/editor-page.mjs';

const MOD = process.platform === 'darwin' ? 'Meta' : 'Control';
const suite = editorSuite();

const branchMap = {
  root: { data: { id: 'r', text: 'Trip' }, children: [
    { data: { id: 'a', text: 'Pack', note: 'the night before', priority: 2 }, children: [
      { data: { id: 'a1', text: 'Tent' }, children: [] },
      { data: { id: 'a2', text: 'Two\nlines' }, children: [] },
    ] },
    { data: { id: 'b', text: 'Route' }, children: [] },
  ] },
  template: 'default', theme: 'fresh-blue', version: '1.4.43',
};

async function open() {
  const page = await suite.open();
  await page.context().grantPermissions(['clipboard-read', 'clipboard-write']);
  return page;
}
const select = (page, text) => page.evaluate((wanted) => {
  const m = CogitraEditor.minder;
  let found = null;
  m.getRoot().traverse((n) => { if (n.getText() === wanted) found = n; });
  m.select(found, true);
}, text);
const clipboardText = (page) => page.evaluate(() => navigator.clipboard.readText());
const strip = ({ data: { id, created, ...data }, children }) => ({ data, children: children.map(strip) });
const ids = (node) => [node.data.id, ...node.children.flatMap(ids)];

describe('clipboard', () => {
  let first;
  let second;
  beforeEach(async () => {
    first = await open();
    await first.setMap(branchMap);
    second = await open();
  });

  it('a branch copied on one page is pasted on another with its subtopics, as one undoable edit', async () => {
    await select(first, 'Pack');
    await first.keyboard.press(`${MOD}+c`);
    assert.equal(await clipboardText(first), 'Pack\n\tTent\n\tTwo lines\n');
    assert.deepEqual(await first.map(), branchMap, 'copying changes nothing');

    const before = await second.map();
    await second.keyboard.press(`${MOD}+v`);
    await select(second, 'Central Topic');
    await second.keyboard.press(`${MOD}+v`);
    const root = (await second.map()).root;
    assert.deepEqual(root.children.map(strip), [strip(branchMap.root.children[0]), strip(branchMap.root.children[0])]);
    const all = ids(root);
    assert.equal(new Set(all).size, all.length, 'every pasted topic has an id of its own');
    await second.keyboard.press(`${MOD}+z`);
    await second.keyboard.press(`${MOD}+z`);
    assert.deepEqual(await second.map(), before);
  });

  it('cut removes the branch, paste puts it under the selected topic; the root cannot be cut', async () => {
    await select(first, 'Pack');
    await first.keyboard.press(`${MOD}+x`);
    await select(first, 'Route');
    await first.keyboard.press(`${MOD}+v`);
    const root = (await first.map()).root;
    assert.deepEqual(root.children.map((c) => c.data.text), ['Route']);
    assert.deepEqual(strip(root.children[0].children[0]), strip(branchMap.root.children[0]));

    await select(first, 'Trip');
    await first.keyboard.press(`${MOD}+x`);
    assert.equal((await first.map()).root.children.length, 1);
    assert.match(await clipboardText(first), /^Trip\n\tRoute\n\t\tPack\n/);
  });

  it('text from elsewhere goes to the application, whose topics land under the selection', async () => {
    await second.evaluate(() => navigator.clipboard.writeText('- one\n  - two'));
    await second.keyboard.press(`${MOD}+v`);
    const calls = await second.evaluate(() => window.__calls.map((c) => c.command));
    assert.ok(calls.includes('PasteText'));
    assert.equal(await second.evaluate(() => window.g_ZetPasteText), '- one\n  - two');
    // The application's answer; a hostile one changes nothing.
    const pasted = { root: { data: { text: '' }, children: [{ data: { text: 'one' }, children: [{ data: { text: 'two' } }] }] } };
    assert.equal(await second.evaluate((t) => PasteTopics(t), JSON.stringify(pasted)), true);
    assert.equal(await second.evaluate(() => PasteTopics('{"root":')), false);
    const root = (await second.map()).root;
    assert.deepEqual(root.children.map(strip), [{ data: { text: 'one' }, children: [{ data: { text: 'two' }, children: [] }] }]);
    // A map holds 256 levels below its root: a chain that deep fits under the root, not
    // under a topic one level down.
    const chain = (n) => (n ? { data: { text: `L${n}` }, children: [chain(n - 1)] } : { data: { text: 'end' }, children: [] });
    const deep = JSON.stringify({ root: { data: { text: '' }, children: [chain(255)] } });
    await select(second, 'one');
    assert.equal(await second.evaluate((t) => PasteTopics(t), deep), false);
    await select(second, 'Central Topic');
    assert.equal(await second.evaluate((t) => PasteTopics(t), deep), true);
  });

  it('typing in a topic or the find bar keeps the browser\'s own copy and paste', async () => {
    await select(first, 'Route');
    await first.keyboard.press('F2');
    await first.keyboard.press(`${MOD}+a`);
    await first.keyboard.press(`${MOD}+c`);
    assert.equal(await clipboardText(first), 'Route');
    await first.keyboard.press('End');
    await first.keyboard.press(`${MOD}+v`);
    await first.keyboard.press('Enter');
    assert.equal((await first.map()).root.children[1].data.text, 'RouteRoute');
    // The find bar takes pasted text as text.
    await first.keyboard.press(`${MOD}+f`);
    await first.keyboard.press(`${MOD}+v`);
    assert.equal(await first.inputValue('#find-bar input'), 'Route');
    assert.equal((await first.map()).root.children.length, 2);
  });
});
