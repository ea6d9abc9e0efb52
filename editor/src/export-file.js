// Pictures of the map for the application's File > Export: ExportPicture('png' | 'svg') sets
// g_ZetExportResult (a PNG data URL or the SVG text; empty when none could be made) and
// then calls JsCall("Exported").
import { renderPng } from './export-png.js';
import { callHost } from './protocol.js';

async function renderSvg(minder) {
  const selected = minder.getSelectedNodes().slice();
  try {
    if (selected.length) minder.removeAllSelectedNodes();
    return await minder.exportData('svg');
  } finally {
    if (selected.length) minder.select(selected, true);
  }
}

export function installPictureExport(minder) {
  let running = false;
  window.ExportPicture = async function ExportPicture(kind) {
    if (running) return;
    running = true;
    let result = '';
    try {
      result = kind === 'svg' ? await renderSvg(minder) : (await renderPng(minder)).dataUrl;
    } catch (e) {
      console.warn('ExportPicture:', e);
    }
    window.g_ZetExportResult = typeof result === 'string' ? result : '';
    running = false;
    callHost('Exported');
  };
}
