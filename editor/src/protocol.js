// The script protocol between the page and the application. The application evaluates
// these here:
// - SetJsonData('<map JSON>') opens a page's map and NewMap() starts a blank one; each starts
//   a new undo history and leaves the map unmodified.
// - RestoreJsonData('<map JSON>') puts the last saved map back as an ordinary, undoable edit;
//   a text that is not a map changes nothing.
// - SaveMap() sets g_ZetJsonResult (the map, never empty once the page is ready),
//   g_ZetPngResult (its picture as a data URL) and g_ZetSaveMark (which state of the map that
//   is), then calls JsCall("Save"). After the save succeeded the application calls
//   MarkSaved(mark) with that mark: the saved state becomes the clean point, so edits made
//   while the save ran stay modified. A mark from a map replaced since then is ignored.
// - IsModified() tells whether the map differs from its clean point.
// The page asks the application through window.external.JsCall, which the application
// injects before the page's scripts run; a plain browser has no such method. Besides "New",
// "Open" and "Save" from the buttons, the page calls JsCall("Modified") and
// JsCall("Unmodified") whenever the modified state flips, and while modified keeps
// g_ZetDraftJson at the current map and calls JsCall("Draft"): at most once per 500 ms and
// within a second of the last change, so that unsaved edits can be kept on disk.
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

const DRAFT_QUIET_MS = 250;
const DRAFT_EVERY_MS = 500;
const DRAFT_WITHIN_MS = 800;

// Tells the application when the map becomes modified or clean again, and while it is
// modified hands it drafts: after a short quiet spell, but no later than a second after the
// first change not yet in a draft, and never two within half a second. Text being typed
// into a topic counts as a change: closing the window must not drop it unasked.
function trackModified(isModified, currentMap) {
  let reported = false;
  let timer = null;
  let pendingSince = 0;
  let lastDraft = -Infinity;

  function draft() {
    timer = null;
    if (!isModified()) return;
    lastDraft = performance.now();
    window.g_ZetDraftJson = JSON.stringify(currentMap());
    callHost('Draft');
  }

  return function changed() {
    const modified = isModified();
    if (modified !== reported) {
      reported = modified;
      callHost(modified ? 'Modified' : 'Unmodified');
    }
    const now = performance.now();
    if (timer) clearTimeout(timer);
    else pendingSince = now;
    timer = null;
    if (!modified) return;
    const at = Math.max(Math.min(now + DRAFT_QUIET_MS, pendingSince + DRAFT_WITHIN_MS), lastDraft + DRAFT_EVERY_MS);
    timer = setTimeout(draft, at - now);
  };
}

// maps: how the editor replaces its whole map, { load(map, { undoable }), loadBlank() }.
// Returns changed(), which the editor calls after every change of its map.
export function installProtocol({ minder, inline, history }, maps, t) {
  const isModified = () => history.isModified() || inline.hasTyped();
  // The map with the text being typed in its topic.
  function currentMap() {
    const json = minder.exportJson();
    if (!inline.hasTyped()) return json;
    const id = inline.node.getData('id');
    const text = inline.box.value.replace(/\r\n?/g, '\n');
    const visit = (node) => {
      if (node.data && node.data.id === id) node.data.text = text;
      else (node.children || []).forEach(visit);
    };
    visit(json.root);
    return json;
  }
  const changed = trackModified(isModified, currentMap);
  inline.onTextChange = changed;

  function loadSafely(map) {
    try {
      maps.load(map, { undoable: false });
      return true;
    } catch (e) {
      console.warn('the engine refused the map', e);
      maps.loadBlank();
      return false;
    }
  }

  window.SetJsonData = function SetJsonData(text) {
    const { map, problem } = parseMapText(typeof text === 'string' ? text : String(text ?? ''));
    if (!map || !loadSafely(map)) {
      if (problem) console.warn('SetJsonData:', problem);
      if (!map) maps.loadBlank();
      showNotice(t.badMap, 'warning');
    }
    changed();
  };

  window.NewMap = function NewMap() {
    maps.loadBlank();
    changed();
  };

  window.RestoreJsonData = function RestoreJsonData(text) {
    const { map, problem } = parseMapText(typeof text === 'string' ? text : String(text ?? ''));
    if (map) {
      const before = JSON.parse(JSON.stringify(history.current));
      try {
        maps.load(map, { undoable: true });
        changed();
        return;
      } catch (e) {
        console.warn('the engine refused the map', e);
        // Puts back what the engine may have half replaced; no step is recorded.
        maps.load(before, { undoable: true });
      }
    } else {
      console.warn('RestoreJsonData:', problem);
    }
    showNotice(t.badMap, 'warning');
  };

  window.IsModified = isModified;

  // The mark may come back as a number's text.
  window.MarkSaved = function MarkSaved(mark) {
    if (typeof mark === 'string' && mark.trim() !== '') mark = Number(mark);
    if (history.markClean(mark)) changed();
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
        const mark = history.state();
        const settle = minder.getOption('layoutAnimationDuration') > 0;
        const { dataUrl, skippedImages } = await renderPng(minder, { settle });
        publishJson(json);
        publishPng(dataUrl);
        window.g_ZetSaveMark = mark;
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
  return changed;
}
