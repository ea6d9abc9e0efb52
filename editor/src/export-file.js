// What the application's File > Export writes. Text being typed into a topic goes into the
// map first, as with Save. ExportJson() returns the map's JSON; ExportPicture('png' | 'svg')
// draws the map as the page's picture is drawn (the editor's fonts, node pictures held
// inside), sets g_ZetExportResult (a PNG data URL or the SVG text; empty when none could be
// made) and then calls JsCall("Exported").
import { renderPng, renderSvg } from './export-png.js';
import { callHost } from './protocol.js';

export function installFileExport({ minder, inline }) {
  window.ExportJson = function ExportJson() {
    inline.commit();
    return window.g_ZetJsonResult;
  };

  let running = false;
  window.ExportPicture = async function ExportPicture(kind) {
    if (running) return;
    running = true;
    inline.commit();
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
