// Pictures of the map for the application's File > Export, drawn as the page's picture is
// (the editor's fonts, node pictures held inside): ExportPicture('png' | 'svg') sets
// g_ZetExportResult (a PNG data URL or the SVG text; empty when none could be made) and
// then calls JsCall("Exported").
import { renderPng, renderSvg } from './export-png.js';
import { callHost } from './protocol.js';

export function installPictureExport(minder) {
  let running = false;
  window.ExportPicture = async function ExportPicture(kind) {
    if (running) return;
    running = true;
    let result = '';
    try {
      result = kind === 'svg' ? (await renderSvg(minder)).svg : (await renderPng(minder)).dataUrl;
    } catch (e) {
      console.warn('ExportPicture:', e);
    }
    window.g_ZetExportResult = typeof result === 'string' ? result : '';
    running = false;
    callHost('Exported');
  };
}
