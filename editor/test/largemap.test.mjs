// Edits on a map too large to lay out whole at every keystroke: after each one the map must
// look exactly as the engine's own measuring and full layout draw it, and every topic stand
// where that puts it.
import assert from 'node:assert/strict';
import { it } from 'node:test';
import { MOD, editorSuite, makeMap, selectTopic, typeNode } from '../../tests/support/editor-page.mjs';

const suite = editorSuite();

// The drawn map (the SVG inside the view's offset, which the engine moves to follow the
// selection after every layout), every topic's place, and how many topics were moved
// since the last look.
const picture = (page) => page.evaluate(async () => {
  const frame = () => new Promise((resolve) => requestAnimationFrame(resolve));
  const m = CogitraEditor.minder;
  // Small maps animate topics into place (300 ms and a late frame 150 ms after): wait until
  // every one has arrived, on a loaded machine too.
  const arriving = () => {
    let n = 0;
    m.getRoot().traverse((node) => { if (node._layoutTimeline) n++; });
    return n;
  };
  for (let i = 0; i < 100 && arriving(); i++) await new Promise((resolve) => setTimeout(resolve, 50));
  await new Promise((resolve) => setTimeout(resolve, 100)).then(frame).then(frame);
  const places = [];
  m.getRoot().traverse((node) => {
    const { e, f } = node.getGlobalLayoutTransform().m;
    places.push(`${node.getText()} ${e},${f}`);
  });
  // Topics and connections in view that the page hides as far from it.
  const view = m.getViewDragger().getView();
  const inView = (box) => box.right >= view.left && box.left <= view.right && box.bottom >= view.top && box.top <= view.bottom;
  let hiddenInView = 0;
  m.getRoot().traverse((node) => {
    const box = node.getLayoutBox();
    const hidden = (shape) => !!shape && shape.node.style.visibility === 'hidden';
    const around = node.parent ? box.merge(node.parent.getLayoutBox()) : box;
    hiddenInView += (inView(box) && hidden(node.getRenderContainer())) + (inView(around) && hidden(node._connection));
  });
  // Attributes in a fixed order (showing and hiding a shape again moves its attribute),
  // without the hiding of what is far from the view.
  const canon = (e) => {
    if (e.nodeType !== 1) return e.textContent;
    const attributes = [...e.attributes].map((a) => `${a.name}="${a.value.replace('visibility: hidden;', '').trim()}"`)
      .filter((a) => a !== 'style=""').sort().join(' ');
    return `<${e.tagName} ${attributes}>${[...e.childNodes].map(canon).join('')}</>`;
  };
  const moved = window.moved.size;
  window.moved.clear();
  return { places, moved, hiddenInView, svg: [...m.getRenderContainer().node.childNodes].map(canon).join('') };
});

// The reference is where the engine's full layout puts everything, so without animation.
const fullLayout = (page) => page.evaluate(async () => {
  const { layoutInFull } = await import('/km/v1.0/app/layout-guard.js');
  const m = CogitraEditor.minder;
  const duration = m.getOption('layoutAnimationDuration');
  m.setOption('layoutAnimationDuration', 0);
  try {
    layoutInFull(m);
  } finally {
    m.setOption('layoutAnimationDuration', duration);
  }
});

// 1,000 topics are laid out without animation; 150 are animated, and quick keys cut
// animations short.
for (const [size, leaf] of [[1000, 'Topic 400'], [150, 'Topic 100']]) {
  it(`edits on a ${size}-topic map draw the same map as a full layout, step by step`, async () => {
    const page = await suite.open();
    const map = makeMap(size);
    // A topic dragged off its place, as stored maps may hold them.
    map.root.children[0].children[0].data.layout_right_offset = { x: 40, y: 25 };
    // A branch stored folded: its topics' fold buttons are hidden until it is unfolded.
    map.root.children[2].data.expandState = 'collapse';
    await page.setMap(map);
    await page.evaluate(() => {
      window.moved = new Set();
      CogitraEditor.minder.on('layoutapply', ({ node }) => window.moved.add(node));
    });
    const press = async (...keys) => { for (const key of keys) await page.keyboard.press(key); };
    const select = (text) => selectTopic(page, text);
    const type = async (...parts) => {
      await page.keyboard.type(parts.shift());
      for (const part of parts) await press('Shift+Enter').then(() => page.keyboard.type(part));
      await press('Enter');
    };
    // [what, the step, at most how many topics it may move: its branch and its siblings]
    const steps = [
      ['opened', async () => {}],
      ['a child added to a topic without any', () => select(leaf).then(() => typeNode(page, 'Tab', 'New child'))],
      ['a sibling over two lines', () => press('Enter').then(() => type('Two', 'lines of text'))],
      ['a topic renamed longer',
        () => select('Topic 7').then(() => press('F2')).then(() => type('Topic 7 renamed longer')), 100],
      ['a branch folded', () => select('Topic 2').then(() => press(' '))],
      ['a branch removed', () => select('Topic 9').then(() => press('Delete'))],
      ['a main topic added: topics change sides',
        () => select('Topic map').then(() => typeNode(page, 'Tab', 'Main'))],
      ['a topic moved up among its siblings', () => select('Topic 30').then(() => press('Alt+ArrowUp'))],
      ['a branch copied and pasted', () => select('Topic 11').then(() => press(`${MOD}+c`))
        .then(() => select('Topic 25')).then(() => press(`${MOD}+v`))],
      ['undone back to the start', () => press(...Array(9).fill(`${MOD}+z`))],
      ['redone', () => press(...Array(9).fill(`${MOD}+Shift+z`))],
      ['the fold undone', () => select('Topic 2').then(() => press(' '))],
      ['another theme', () => page.evaluate(() => CogitraEditor.minder.execCommand('Theme', 'classic'))],
      ['a branch stored folded, unfolded', () => select('Topic 3').then(() => press(' '))],
    ];
    for (const [name, step, mostMoved = Infinity] of steps) {
      await step();
      const fast = await picture(page);
      await fullLayout(page);
      const full = await picture(page);
      assert.deepEqual(fast.places, full.places, `${size}: ${name}`);
      assert.ok(fast.svg === full.svg, `${size}: ${name}: the drawing differs from the full layout's`);
      assert.ok(fast.moved <= mostMoved, `${size}: ${name}: ${fast.moved} topics moved`);
      assert.equal(fast.hiddenInView, 0, `${size}: ${name}: shapes in view hidden`);
    }
  });
}

// A large map opens and changes in view first: what is in view is drawn and placed at once
// (connections and fold buttons, topics an edit moves), the rest right after the frame or at
// once when something comes first; connections stay in their topics' order, and what is far
// from the view is hidden, but not in pictures.
it('a large map opens and changes in view first, the rest after the frame or when asked', async () => {
  const page = await suite.open();
  const text = JSON.stringify(makeMap(1000));
  const seen = await page.evaluate(async (text) => {
    const { settledBoxes } = await import('/km/v1.0/app/layout-guard.js');
    const { renderSvg } = await import('/km/v1.0/app/export-png.js');
    const m = CogitraEditor.minder;
    const look = () => {
      const view = m.getViewDragger().getView();
      const counts = { inView: 0, inViewDone: 0, away: 0, awayDone: 0, awayHidden: 0 };
      for (const [node, box] of settledBoxes(kity, m)) {
        if (node.isRoot()) continue;
        const at = node.getLayoutBox();
        const done = at.x === box.x && at.y === box.y && !!node._connection && !!node._connection.node.getAttribute('d')
          && (!node.children.length || !!node.getRenderer('ExpanderRenderer').getRenderShape());
        const inView = box.right >= view.left && box.left <= view.right && box.bottom >= view.top && box.top <= view.bottom;
        counts[inView ? 'inView' : 'away']++;
        counts[inView ? 'inViewDone' : 'awayDone'] += done;
        counts.awayHidden += !inView && node.getRenderContainer().node.style.visibility === 'hidden';
      }
      const order = [];
      m.getRoot().preTraverse((node) => node._connection && order.push(node._connection.node));
      const paths = [...m.getConnectContainer().node.children];
      counts.inTopicOrder = paths.length === order.length && paths.every((path, i) => path === order[i]);
      return counts;
    };
    const afterFrame = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
    const seen = {};
    SetJsonData(text);
    seen.opened = look();
    await afterFrame();
    seen.openedFrame = look();
    SetJsonData(text);
    window.dispatchEvent(new KeyboardEvent('keydown', { key: 'Shift' }));
    seen.openedKey = look();
    SetJsonData(text);
    const saved = SaveMap();
    seen.openedPicture = look();
    await saved;
    let topic;
    m.getRoot().traverse((node) => { if (node.getText() === 'Topic 1') topic = node; });
    m.select(topic, true);
    await new Promise((resolve) => setTimeout(resolve, 300));
    m.execCommand('AppendChildNode', 'New');
    seen.edited = look();
    await afterFrame();
    seen.editedFrame = look();
    m.execCommand('AppendSiblingNode', 'Another');
    // Selecting a topic that waits moves the view from where it stands.
    const [waiting] = [...settledBoxes(kity, m)].find(([node, box]) => node.getLayoutBox().y !== box.y);
    m.select(waiting, true);
    seen.editedSelect = look();
    seen.pictureHides = (await renderSvg(m)).svg.includes('visibility');
    return seen;
  }, text);
  for (const when of ['opened', 'edited']) {
    const { inView, inViewDone, away, awayDone } = seen[when];
    assert.ok(inView > 10 && inViewDone === inView, `${when}: in view ${inViewDone} of ${inView} done at once`);
    assert.ok(away - awayDone > 100, `${when}: ${away - awayDone} of ${away} away left for after the frame`);
  }
  for (const when of ['openedFrame', 'openedKey', 'openedPicture', 'editedFrame', 'editedSelect']) {
    const counts = seen[when];
    // A topic added later has its connection last, as the engine makes it.
    const order = when.startsWith('opened') ? { inTopicOrder: true } : {};
    assert.deepEqual(counts, { ...counts, inViewDone: counts.inView, awayDone: counts.away, ...order }, when);
  }
  // Away from the view means hidden (the view shows a few dozen of the 1,000), not in a picture.
  assert.ok(seen.editedFrame.awayHidden > 500, `${seen.editedFrame.awayHidden} topics away hidden`);
  assert.equal(seen.pictureHides, false, 'a picture of the map hides what is far from the view');
});
