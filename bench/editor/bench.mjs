// Loading and rendering maps of 500, 2000 and 5000 nodes in the editor page, against the
// engine alone on a blank page in the same run; and the page's memory at 5000 nodes.
// The blank page creates the engine with layout animation off, as the editor page opens
// maps; a ratio above 1 is the editor page's own cost.
//
//   node bench/editor/bench.mjs [site folder] [repeats]
//
// Each figure is the median of the repeats, in milliseconds, from handing over the map
// text to the first frame painted after it (for PNG: until the data URL is there).
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const here = path.dirname(fileURLToPath(import.meta.url));
if (process.argv[2]) process.env.COGITRA_EDITOR_SITE_DIR = path.resolve(process.argv[2]);
const repeats = Number(process.argv[3] || 5);
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

// Time from the call to the next painted frame.
const timeLoad = (page, fn, text) => page.evaluate(async ([name, t]) => {
  const start = performance.now();
  window[name](t);
  await new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
  return performance.now() - start;
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

const rows = [];
try {
  for (const size of [500, 2000, 5000]) {
    const text = JSON.stringify(makeMap(size));
    const load = { page: [], engine: [] };
    const png = { page: [], engine: [] };
    for (let i = 0; i < repeats; i++) {
      // Alternate which runs first so that neither always gets the warmer machine.
      const order = i % 2 ? ['engine', 'page'] : ['page', 'engine'];
      for (const who of order) {
        const page = who === 'page' ? await openEditor(browser, server.origin) : await openBlank();
        load[who].push(await timeLoad(page, who === 'page' ? 'SetJsonData' : 'loadMap', text));
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
    rows.push({ size, what: 'load + render', page: median(load.page), engine: median(load.engine) });
    rows.push({ size, what: 'PNG', page: median(png.page), engine: median(png.engine) });
  }

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

  console.log(`editor page vs engine alone, median of ${repeats}, ms (lower is better)`);
  console.log('nodes  step            page ms  engine ms  ratio');
  for (const r of rows) {
    console.log(`${String(r.size).padStart(5)}  ${r.what.padEnd(14)} ${r.page.toFixed(1).padStart(8)} ${r.engine.toFixed(1).padStart(10)}  ${(r.page / r.engine).toFixed(2)}`);
  }
  const mb = (b) => (b / 1048576).toFixed(1);
  console.log(`memory at 5000 nodes: page ${mb(pageFull.heap)} MB JS heap (${mb(pageFull.heap - pageEmpty.heap)} MB for the map), ` +
    `${pageFull.nodes} DOM nodes; engine alone ${mb(bareFull.heap)} MB, ${bareFull.nodes} DOM nodes; ratio ${(pageFull.heap / bareFull.heap).toFixed(2)}`);
} finally {
  await browser.close();
  await server.close();
}
