// The script protocol between the page and the application. The application evaluates
// SetJsonData('<map JSON>'), NewMap() and SaveMap() here and reads back g_ZetJsonResult
// (the map, never empty once the page is ready) and g_ZetPngResult (its picture as a data
// URL). The page asks the application through window.external.JsCall, which the
// application injects before the page's scripts run; a plain browser has no such method.
import { renderPng } from './export-png.js';
import { parseMapText } from './mapdoc.js';
import { showNotice } from './notice.js';

export function hostAvailable() {
  const external = window.external;
  return !!external && typeof external.JsCall === 'function';
}

// Returns false when there is no application to ask.
export function callHost(command) {
  if (!hostAvailable()) return false;
  try {
    window.external.JsCall(command);
    return true;
  } catch (e) {
    console.warn('JsCall failed', command, e);
    return false;
  }
}

export function publishJson(text) {
  window.g_ZetJsonResult = text;
}

export function publishPng(dataUrl) {
  window.g_ZetPngResult = dataUrl;
}

// maps: how the editor replaces its whole map, { load(map, { undoable }),
// loadBlank(undoable), isPristine() }.
export function installProtocol({ minder, inline }, maps, t) {
  function loadSafely(map) {
    try {
      maps.load(map, { undoable: false });
      return true;
    } catch (e) {
      console.warn('the engine refused the map', e);
      maps.loadBlank(false);
      return false;
    }
  }

  window.SetJsonData = function SetJsonData(text) {
    const { map, problem } = parseMapText(typeof text === 'string' ? text : String(text ?? ''));
    if (!map || !loadSafely(map)) {
      if (problem) console.warn('SetJsonData:', problem);
      if (!map) maps.loadBlank(false);
      showNotice(t.badMap, 'warning');
    }
  };

  window.NewMap = function NewMap() {
    maps.loadBlank(!maps.isPristine());
  };

  // Both globals hold this map before the application is asked to save it. A second call
  // while a picture is being made waits for that one.
  let saving = null;
  window.SaveMap = function SaveMap() {
    if (saving) return saving;
    inline.commit();
    saving = (async () => {
      try {
        const json = JSON.stringify(minder.exportJson());
        const settle = minder.getOption('layoutAnimationDuration') > 0;
        const { dataUrl, skippedImages } = await renderPng(minder, { settle });
        publishJson(json);
        publishPng(dataUrl);
        if (skippedImages) showNotice(t.imagesSkipped, 'warning');
        if (!callHost('Save')) showNotice(t.needsApp, 'info');
      } catch (e) {
        console.warn('SaveMap:', e);
        showNotice(t.renderFailed, 'error');
      } finally {
        saving = null;
      }
    })();
    return saving;
  };
}
