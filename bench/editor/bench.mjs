// Loading and rendering maps of 500, 2000 and 5000 nodes in the editor page, against the
// engine alone on a blank page in the same run; editing one topic (add, rename, undo, delete,
// fold) in maps of 200, 2000 and 5000 nodes the same way; and the page's memory at 5000 nodes.
// The blank page creates the engine with layout animation off, as the editor page opens
// maps; a ratio above 1 is the editor page's own cost.
//
//   node bench/editor/bench.mjs [site folder] [repeats] [edits|load]
//
// Each figure is the median of the repeats, in milliseconds, from handing over the map
// text or the command to the first frame painted after it (for PNG: until the data URL is
// there); opening also to the frame after the page has drawn what it leaves for after the
// first.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
if (process.argv[2]) process.env.COGITRA_EDITOR_SITE_DIR = path.resolve(process.argv[2]);
const repeats = Number(process.argv[3] || 5);
// 'edits' or 'load' runs only that part.
const only = process.argv[4] || '';
const harness = await import(path.join(here, '..', '..', 'tests', 'support', 'editor-page.mjs'));
const { launchBrowser, makeMap, openEditor, startServer } = harness;

const blank = fs.readFileSync(path.join(here, 'blank.html'));
const server = await startServer({
  '/bench/blank.html': (req, res) => res.writeHead(200, { 'Content-Type': 'text/html' }).end(blank),
});
const browser = await launchBrowser();

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  return sorted[Math.floor(sorted.length / 2)];
};

// Time from the call to the first frame painted after it (the probe is queued before the
// call, so it runs before anything the call itself leaves for after that frame), and to the
// next frame once the page has drawn what it left for then.
const timeLoad = (page, fn, text) => page.evaluate(async ([name, t]) => {
  const painted = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
  const first = painted();
  const start = performance.now();
  window[name](t);
  await first;
  const shown = performance.now() - start;
  await new Promise((resolve) => setTimeout(resolve, 0));
  await painted();
  return { shown, all: performance.now() - start };
}, [fn, text]);

async function openBlank() {
  const context = await browser.newContext({ viewport: { width: 1280, height: 800 } });
  const page = await context.newPage();
  await page.goto(`${server.origin}/bench/blank.html`);
  await page.waitForFunction(() => !!window.minder);
  return page;
}

async function heapAfterGc(page) {
  const cdp = await page.context().newCDPSession(page);
  await cdp.send('HeapProfiler.collectGarbage');
  await cdp.send('Performance.enable');
  const { metrics } = await cdp.send('Performance.getMetrics');
  const get = (name) => metrics.find((m) => m.name === name)?.value ?? 0;
  return { heap: get('JSHeapUsedSize'), nodes: get('Nodes') };
}

// One round of edits on the topic with the given id, each timed from the command to the
// first frame painted after it, as opening is, and over once the page has done what it left
// for after that frame: add a child, rename it, undo the rename, delete the child, fold the
// topic (then unfold it, untimed). The editor page goes through its keys where it has
// them (Space folds, Ctrl+Z undoes) and through the engine's commands otherwise, so its
// history and publishing of the map are included; the engine alone undoes with its patch.
const editRound = (page, who, id) => page.evaluate(async ([w, topic]) => {
  const minder = w === 'page' ? window.CogitraEditor.minder : window.minder;
  const painted = () => new Promise((resolve) => requestAnimationFrame(() => setTimeout(resolve, 0)));
  const frame = () => new Promise((resolve) => setTimeout(resolve, 0)).then(painted);
  const timed = async (fn) => {
    const first = painted();
    const start = performance.now();
    fn();
    await first;
    const time = performance.now() - start;
    await frame();
    return time;
  };
  const key = (k, ctrl) => document.getElementById('node-editor').dispatchEvent(
    new KeyboardEvent('keydown', { key: k, ctrlKey: !!ctrl, bubbles: true, cancelable: true }));
  const pathOf = (node) => {
    const steps = [];
    for (; node.parent; node = node.parent) steps.unshift(`/children/${node.parent.children.indexOf(node)}`);
    return `/root${steps.join('')}`;
  };
  let node = null;
  minder.getRoot().traverse((n) => { if (n.getData('id') === topic) node = n; });
  minder.select(node, true);
  await frame();
  const out = {};
  out.add = await timed(() => minder.execCommand('AppendChildNode', 'New topic'));
  const child = minder.getSelectedNode();
  out.rename = await timed(() => minder.execCommand('text', 'A longer name for the new topic'));
  out.undo = await timed(() => {
    if (w === 'page') key('z', true);
    else minder.applyPatches([{ op: 'replace', path: `${pathOf(child)}/data/text`, value: 'New topic' }]);
  });
  if (child.getText() !== 'New topic') throw new Error(`${w}: undo left "${child.getText()}"`);
  minder.select(child, true);
  out.delete = await timed(() => minder.execCommand('RemoveNode'));
  minder.select(node, true);
  await frame();
  out.fold = await timed(() => (w === 'page' ? key(' ') : minder.execCommand('Collapse')));
  if (node.isExpanded()) throw new Error(`${w}: fold left the topic open`);
  node.expand();
  node.renderTree();
  minder.layout();
  await frame();
  return out;
}, [who, id]);

const rows = [];
try {
  for (const size of only === 'load' ? [] : [200, 2000, 5000]) {
    const text = JSON.stringify(makeMap(size));
    const times = { page: {}, engine: {} };
    for (const who of ['page', 'engine']) {
      const page = who === 'page' ? await openEditor(browser, server.origin) : await openBlank();
      await page.evaluate(([name, t]) => window[name](t), [who === 'page' ? 'SetJsonData' : 'loadMap', text]);
      for (let i = 0; i < repeats; i++) {
        // A topic with children some levels down, a different one each round.
        const round = await editRound(page, who, `n${Math.floor(size / 12) + i}`);
        for (const [step, ms] of Object.entries(round)) (times[who][step] ||= []).push(ms);
      }
      await page.context().close();
    }
    for (const step of Object.keys(times.page)) {
      rows.push({ size, what: step, page: median(times.page[step]), engine: median(times.engine[step]) });
    }
  }

  for (const size of [500, 2000, 5000]) {
    if (only === 'edits') break;
    const text = JSON.stringify(makeMap(size));
    const load = { page: [], engine: [] };
    const loadAll = { page: [], engine: [] };
    const png = { page: [], engine: [] };
    for (let i = 0; i < repeats; i++) {
      // Alternate which runs first so that neither always gets the warmer machine.
      const order = i % 2 ? ['engine', 'page'] : ['page', 'engine'];
      for (const who of order) {
        const page = who === 'page' ? await openEditor(browser, server.origin) : await openBlank();
        const { shown, all } = await timeLoad(page, who === 'page' ? 'SetJsonData' : 'loadMap', text);
        load[who].push(shown);
        loadAll[who].push(all);
        png[who].push(await page.evaluate(async (w) => {
          const start = performance.now();
          if (w === 'page') {
            const before = window.__calls.length;
            await window.SaveMap();
            if (window.__calls.length === before) throw new Error('SaveMap did not save');
          } else {
            await window.renderPng();
          }
          return performance.now() - start;
        }, who));
        await page.context().close();
      }
    }
    rows.push({ size, what: 'load, shown', page: median(load.page), engine: median(load.engine) });
    rows.push({ size, what: 'load, all drawn', page: median(loadAll.page), engine: median(loadAll.engine) });
    rows.push({ size, what: 'PNG', page: median(png.page), engine: median(png.engine) });
  }

  console.log(`editor page vs engine alone, median of ${repeats}, ms (lower is better)`);
  console.log('nodes  step            page ms  engine ms  ratio');
  for (const r of rows) {
    console.log(`${String(r.size).padStart(5)}  ${r.what.padEnd(14)} ${r.page.toFixed(1).padStart(8)} ${r.engine.toFixed(1).padStart(10)}  ${(r.page / r.engine).toFixed(2)}`);
  }

  if (only !== 'edits') {
    const text = JSON.stringify(makeMap(5000));
    const page = await openEditor(browser, server.origin);
    const pageEmpty = await heapAfterGc(page);
    await page.evaluate((t) => SetJsonData(t), text);
    const pageFull = await heapAfterGc(page);
    await page.context().close();
    const bare = await openBlank();
    await bare.evaluate((t) => loadMap(t), text);
    const bareFull = await heapAfterGc(bare);
    await bare.context().close();
    const mb = (b) => (b / 1048576).toFixed(1);
    console.log(`memory at 5000 nodes: page ${mb(pageFull.heap)} MB JS heap (${mb(pageFull.heap - pageEmpty.heap)} MB for the map), ` +
      `${pageFull.nodes} DOM nodes; engine alone ${mb(bareFull.heap)} MB, ${bareFull.nodes} DOM nodes; ratio ${(pageFull.heap / bareFull.heap).toFixed(2)}`);
  }
} finally {
  await browser.close();
  await server.close();
}
