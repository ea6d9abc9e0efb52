// The page as the application drives it, in each interface language. Bad map texts start an
// empty map with a notice, good ones come back as they went in; each map has its own history.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { MOD, editorSuite, makeMap, typeNode } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();
const blank = (map) => [map.root.data.text, map.root.children];
const chain = (levels) => ({ data: { id: `c${levels}`, text: `level ${levels}` }, children: levels ? [chain(levels - 1)] : [] });

const languages = [
  { lang: 'en', htmlLang: 'en', rootText: 'Central Topic', save: 'Save', newLabel: 'New', badMap: /could not be read/, two: '2 topics selected' },
  { lang: 'cn', htmlLang: 'zh-CN', rootText: '中心主题', save: '保存', newLabel: '新建', badMap: /无法读取/, two: '已选中 2 个主题' },
];
for (const l of languages) {
  it(`${l.lang}: the first map and the notices, each theme listed once, the toolbar one row of named controls, the selection announced`, async () => {
    // The main window's default size.
    const page = await suite.open({ lang: l.lang, viewport: { width: 1100, height: 720 } });
    assert.equal(await page.getAttribute('html', 'lang'), l.htmlLang);
    assert.equal(await page.textContent('[data-action=save] span'), l.save);
    const first = await page.map();
    assert.equal(first.root.data.text, l.rootText);
    for (const key of ['template', 'theme', 'version']) assert.equal(typeof first[key], 'string', key);
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
    assert.match(tree, new RegExp(`button "${l.newLabel}"`));

    await page.setMap('not a map');
    assert.match(await page.textContent('#notice'), l.badMap);
    await typeNode(page, 'Tab', '分支 branch');
    await page.waitForFunction(() => document.getElementById('announce').textContent === '分支 branch');
    await page.keyboard.press(`${MOD}+a`);
    await page.waitForFunction((text) => document.getElementById('announce').textContent === text, l.two);
  });
}

it('without the application: a bad map text starts an empty map with a notice; odd values are cleaned; a rich map nested to the limit comes back exactly; saving needs the application', async () => {
  const badTexts = ['{"root": {"data": {"text": "cut off"', 'hello world', '[1,2,3]', 'null', '42', '',
    '{"template":"default","theme":"fresh-blue"}', '{"root":"text"}', '{"root":[]}',
    JSON.stringify({ root: chain(257) })]; // nested one level past the limit
  const page = await suite.open({ withHost: false });
  for (const text of badTexts) {
    await page.setMap(makeMap(5));
    await page.evaluate(() => { document.getElementById('notice').textContent = ''; });
    await page.setMap(text);
    assert.match(await page.textContent('#notice'), /could not be read/, text.slice(0, 50));
    assert.deepEqual(blank(await page.map()), ['Central Topic', []], text.slice(0, 50));
  }
  await typeNode(page, 'Tab', 'Still editing');
  assert.equal((await page.map()).root.children[0].data.text, 'Still editing');

  await page.setMap({
    root: {
      data: { text: 12, priority: 'high', progress: 99 },
      children: [null, 7, 'x', { data: 'not an object', children: 'nope' },
        { data: { text: 'ok', hyperlink: 'javascript:alert(1)' } }],
    },
    template: 'no-such-layout',
    theme: 'no-such-theme',
  });
  const cleaned = await page.map();
  assert.deepEqual([cleaned.root.data, cleaned.root.children.map((c) => c.data.text), cleaned.template, cleaned.theme],
    [{ text: '12' }, ['', 'ok'], 'default', 'fresh-blue']);
  // The stored link stays, but a click on it runs nothing.
  assert.equal(await page.evaluate(() => document.querySelector('#minder-view a')
    .dispatchEvent(new MouseEvent('click', { bubbles: true, cancelable: true }))), false);
  await page.click('button[data-action="save"]');
  await page.waitForFunction(() => !!window.g_ZetPngResult);
  assert.match(await page.textContent('#notice'), /application/);

  const map = makeMap(40);
  Object.assign(map.root.children[0].data, { priority: 1, progress: 5, note: 'note\n**bold**', hyperlink: 'https://example.com', hyperlinkTitle: 'Example' });
  Object.assign(map.root.children[1].data, { expandState: 'collapse', 'font-weight': 'bold', background: '#ffcc00' });
  map.root.children[2].data.text = "Quote ' \" \\ \t tab 中文 😀 \u2028 sep";
  map.root.children[3].children.push(chain(254));
  Object.assign(map, { template: 'right', theme: 'snow' });
  await page.evaluate(() => { document.getElementById('notice').hidden = true; });
  await page.setMap(map);
  assert.deepEqual(await page.map(), map);
  assert.equal(await page.isVisible('#notice'), false);
  await page.click('button[data-action="newMap"]');
  assert.deepEqual((await page.map()).root.children, []);
});

const A = makeMap(6, { prefix: 'Page A' });
const B = makeMap(4, { prefix: 'Page B' });
// One undoable step: a child of the selected topic.
const edit = (page, text) => page.evaluate((x) => CogitraEditor.minder.execCommand('AppendChildNode', x), text);
const press = async (page, key, times) => { for (let i = 0; i < times; i++) await page.keyboard.press(key); };
const undo = (page, times = 1) => press(page, `${MOD}+z`, times);
const redo = (page, times = 1) => press(page, `${MOD}+Shift+z`, times);
const calls = (page) => page.evaluate(() => window.__calls);
// What the application heard, drafts aside (they have their own test).
const heard = async (page) => (await calls(page)).map((c) => c.command).filter((c) => c !== 'Draft');
const modified = (page) => page.evaluate(() => IsModified());
// How far the central topic's centre is from the view's, once any move of the view has ended.
const offCentre = (page) => page.evaluate(async () => {
  await new Promise((resolve) => setTimeout(resolve, 300));
  const view = document.getElementById('minder-view').getBoundingClientRect();
  const root = CogitraEditor.minder.getRoot().getRenderContainer().node.getBoundingClientRect();
  return [root.x + root.width / 2 - view.x - view.width / 2, root.y + root.height / 2 - view.y - view.height / 2].map(Math.round);
});

it('modified follows the history, typed text included; Restore is an edit; opening a map, a new one or a bad one starts a new, unmodified history', async () => {
  const page = await suite.open();
  await page.setMap(A);
  await page.keyboard.type('typed');
  assert.equal(await modified(page), true);
  // Text still being typed is in the draft.
  await page.waitForFunction(() => window.__calls.at(-1).command === 'Draft' && JSON.parse(window.g_ZetDraftJson).root.data.text === 'typed');
  await page.keyboard.press('Escape');
  await edit(page, 'edited');
  const edited = await page.map();
  await page.evaluate((text) => RestoreJsonData(text), JSON.stringify(B));
  assert.deepEqual(await page.map(), B);
  await undo(page);
  assert.deepEqual(await page.map(), edited);
  await page.evaluate(() => RestoreJsonData('{"root": "not a topic"}'));
  assert.match(await page.textContent('#notice'), /could not be read/);
  assert.deepEqual(await page.map(), edited);
  await redo(page);
  assert.deepEqual(await page.map(), B);
  await undo(page, 2);
  assert.deepEqual(await page.map(), A);
  assert.equal(await modified(page), false);
  // A new edit after undoing to the clean point leaves it for good.
  await edit(page, 'three');
  await undo(page);
  await redo(page);
  assert.equal(await modified(page), true);

  for (const [replace, expected] of [[(p) => p.setMap(B), B], [(p) => p.evaluate(() => NewMap())], [(p) => p.setMap('not a map')]]) {
    await page.setMap(A);
    await edit(page, 'unsaved on A');
    await edit(page, 'undone on A');
    await undo(page);
    // The view far from the map, as after scrolling a large one: the next map is still centred.
    await page.evaluate(() => CogitraEditor.minder.getViewDragger().move(new kity.Point(0, -5000)));
    await replace(page);
    const [dx, dy] = await offCentre(page);
    assert.ok(Math.abs(dx) < 5 && Math.abs(dy) < 40, `the central topic ${dx}, ${dy} from the view's centre`);
    const opened = await page.map();
    if (expected) assert.deepEqual(opened, expected);
    else assert.deepEqual(blank(opened), ['Central Topic', []]);
    await undo(page, 3);
    await redo(page, 3);
    assert.deepEqual(await page.map(), opened);
    assert.equal(await modified(page), false);
  }
  assert.deepEqual(await heard(page), Array(7).fill(['Modified', 'Unmodified']).flat());
});

it('SaveMap sets both globals to the map with the text being typed before one JsCall("Save"), marks the state it exported; the buttons ask the application', async () => {
  const page = await suite.open();
  await page.setMap(A);
  await page.keyboard.press('Tab');
  await page.keyboard.type('Typed, not committed');
  const editedAt = await page.evaluate(async () => {
    const saving = SaveMap();
    await new Promise((resolve) => setTimeout(resolve));
    const m = CogitraEditor.minder;
    m.select(m.getRoot(), true);
    m.execCommand('AppendChildNode', 'typed during the save');
    const at = performance.now();
    await saving;
    return at;
  });
  const save = (await calls(page)).find((c) => c.command === 'Save');
  assert.ok(save.at > editedAt);
  assert.equal(save.png, await page.evaluate(() => window.g_ZetPngResult));
  assert.match(save.png, /^data:image\/png;base64,/);
  // An edit made while the save ran stays modified.
  await page.evaluate((mark) => MarkSaved(mark), save.mark);
  assert.equal(await modified(page), true);
  await undo(page);
  assert.equal(await modified(page), false);
  const saved = await page.map();
  assert.equal(saved.root.children.at(-1).data.text, 'Typed, not committed');
  assert.deepEqual(JSON.parse(save.json), saved);

  // A mark of the map before is ignored.
  await page.setMap(B);
  await edit(page, 'on B');
  await page.evaluate((mark) => MarkSaved(mark), save.mark);
  await undo(page);
  for (const action of ['newMap', 'open', 'save']) await page.click(`button[data-action="${action}"]`);
  await page.waitForFunction(() => window.__calls.filter((c) => c.command === 'Save').length === 2);
  assert.deepEqual(await heard(page), ['Modified', 'Save', 'Unmodified', 'Modified', 'Unmodified', 'New', 'Open', 'Save']);
});

it('drafts: at most one per 500 ms while editing, the last one within a second of the last change, none while unmodified', async () => {
  const page = await suite.open();
  await page.setMap(A);
  const changes = await page.evaluate(async () => {
    const times = [];
    // Fast typing, then edits a little slower than the quiet spell before a draft.
    for (let i = 0; i < 14; i++) {
      CogitraEditor.minder.execCommand('AppendChildNode', `edit ${i}`);
      times.push(performance.now());
      await new Promise((resolve) => setTimeout(resolve, i < 8 ? 100 : 300));
    }
    return times;
  });
  await page.waitForTimeout(1200);
  const drafts = (await calls(page)).filter((c) => c.command === 'Draft');
  for (let i = 1; i < drafts.length; i++) assert.ok(drafts[i].at - drafts[i - 1].at >= 495, `drafts ${drafts[i].at - drafts[i - 1].at} ms apart`);
  for (const change of changes) {
    const next = drafts.find((d) => d.at > change);
    assert.ok(next && next.at <= change + 1000, `a change waited ${next ? next.at - change : 'forever'} ms for its draft`);
  }
  assert.deepEqual(JSON.parse(drafts.at(-1).draft), await page.map());

  // A change followed at once by opening a map: the draft it had scheduled never comes.
  const count = (await calls(page)).length;
  await edit(page, 'then opened another map');
  await page.setMap(B);
  await page.waitForTimeout(1100);
  assert.deepEqual((await calls(page)).slice(count).map((c) => c.command), ['Unmodified']);
});
