// The editor page: the engine, the script protocol the application drives, and the
// editing actions behind the keys and buttons.
import { callHost, hostAvailable, publishJson, publishPng } from './bridge.js';
import { askLink, askNote, cancelDialogs, isSafeLink } from './dialogs.js';
import { renderPng } from './export-png.js';
import { History } from './history.js';
import { InlineEditor } from './inline-editor.js';
import { installLayoutGuard, settledBoxes } from './layout-guard.js';
import { installKeyboard, isMac } from './keyboard.js';
import { blankMap, countNodes, parseMapText, templateNames, themeNames } from './mapdoc.js';
import { showNotice } from './notice.js';
import { installToolbar } from './toolbar.js';

const t = window.COGITRA_STRINGS || {};
const ZOOM_STEPS = [10, 25, 50, 75, 100, 125, 150, 200, 300];
// Above this many nodes, layout moves are not animated: they would stutter.
const ANIMATE_UP_TO = 300;

publishJson('');
publishPng('');

installLayoutGuard(kity, kityminder.Minder);

const view = document.getElementById('minder-view');
const minder = new kityminder.Minder({
  renderTo: view,
  enableKeyReceiver: false,
  zoom: ZOOM_STEPS,
  defaultTheme: 'fresh-blue',
  // The engine brings the selected node into view after each change; its animated move
  // is sometimes cut short by the next layout and leaves the node outside.
  viewAnimationDuration: 0,
});
const inline = new InlineEditor(minder, document.getElementById('node-editor'));
const history = new History(minder);
const editor = { minder, inline, history };
// For the page's tests and for looking into a running editor from the developer tools.
window.CogitraEditor = editor;
let loading = false;
const layoutDuration = minder.getOption('layoutAnimationDuration');

function currentJson() {
  return minder.exportJson();
}

function tuneAnimation(nodeCount) {
  minder.setOption('layoutAnimationDuration', nodeCount > ANIMATE_UP_TO ? 0 : layoutDuration);
}

// Keeps g_ZetJsonResult equal to the map after every change, and records the change.
function publish() {
  const json = currentJson();
  publishJson(JSON.stringify(json));
  history.record(json);
  refreshUi();
}

minder.on('contentchange', () => {
  if (!loading) publish();
});
minder.on('selectionchange', () => {
  if (!minder._hasEnterExecCommand) history.noteSelection();
  refreshUi();
});
minder.on('zoom viewchange', () => refreshUi());

let refreshToolbar = () => {};
let uiQueued = false;
function refreshUi() {
  if (uiQueued) return;
  uiQueued = true;
  requestAnimationFrame(() => {
    uiQueued = false;
    const selected = minder.getSelectedNode();
    refreshToolbar({
      canUndo: history.canUndo(),
      canRedo: history.canRedo(),
      hasSelection: !!selected,
      canRemove: !!selected && minder.queryCommandState('RemoveNode') !== -1,
      template: minder.getTemplate(),
      theme: minder.getTheme(),
      priority: selected ? minder.queryCommandValue('priority') : 0,
      progress: selected ? minder.queryCommandValue('progress') : 0,
      zoom: Math.round(minder.getZoomValue() || 100),
    });
    if (!inline.isEditing()) inline.placeReceiver();
  });
}

// Replaces the whole map (opening, New); not an edit of the map itself.
function load(map, { undoable }) {
  inline.cancel();
  cancelDialogs();
  loading = true;
  try {
    // Opening places every node at once; edits afterwards animate on small maps.
    minder.setOption('layoutAnimationDuration', 0);
    minder.importJson(map);
  } finally {
    loading = false;
    tuneAnimation(countNodes(map));
  }
  minder.execCommand('zoom', 100);
  minder.select(minder.getRoot(), true);
  minder.execCommand('camera', minder.getRoot(), 0);
  const json = currentJson();
  publishJson(JSON.stringify(json));
  if (undoable) history.record(json);
  else history.reset(json);
  refreshUi();
}

function loadBlank(undoable) {
  load(blankMap(t.rootText || 'Central Topic', minder.getTemplate(), minder.getTheme()), { undoable });
}

function loadSafely(map) {
  try {
    load(map, { undoable: false });
    return true;
  } catch (e) {
    console.warn('the engine refused the map', e);
    loadBlank(false);
    return false;
  }
}

window.SetJsonData = function SetJsonData(text) {
  const { map, problem } = parseMapText(typeof text === 'string' ? text : String(text ?? ''));
  if (!map || !loadSafely(map)) {
    if (problem) console.warn('SetJsonData:', problem);
    if (!map) loadBlank(false);
    showNotice(t.badMap, 'warning');
  }
};

window.NewMap = function NewMap() {
  loadBlank(!isPristine());
};

let saving = null;
window.SaveMap = function SaveMap() {
  if (saving) return saving;
  inline.commit();
  saving = (async () => {
    try {
      const json = JSON.stringify(currentJson());
      const { dataUrl, skippedImages } = await renderPng(minder, { settle: minder.getOption('layoutAnimationDuration') > 0 });
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

// A blank map nobody has touched: replacing it needs no undo step.
function isPristine() {
  const root = minder.getRoot();
  return root.getChildren().length === 0 && root.getText() === (t.rootText || 'Central Topic') && !history.canUndo();
}

function exec(name, ...args) {
  if (minder.queryCommandState(name) === -1) return false;
  minder.execCommand(name, ...args);
  return true;
}

function addAndEdit(command) {
  if (!minder.getSelectedNode()) minder.select(minder.getRoot(), true);
  if (exec(command, t.childText || 'Subtopic')) inline.begin('edit');
}

function setZoom(value) {
  minder.execCommand('zoom', Math.max(ZOOM_STEPS[0], Math.min(ZOOM_STEPS[ZOOM_STEPS.length - 1], value)));
}

function fit() {
  let box = null;
  for (const b of settledBoxes(kity, minder).values()) box = box ? box.merge(b) : b;
  if (!box) return;
  const width = view.clientWidth;
  const height = view.clientHeight;
  const zoom = Math.min(100, Math.floor(Math.min((width * 0.9) / box.width, (height * 0.9) / box.height) * 100));
  setZoom(zoom);
  const center = minder.getPaper().getViewPort().center;
  minder.getViewDragger().moveTo(new kity.Point(center.x - (box.x + box.width / 2), center.y - (box.y + box.height / 2)));
}

// The nearest visible node in a direction, preferring siblings and the parent as the
// engine's own navigation does. Goes by where the nodes will be when a layout animation
// ends, not where they pass.
function navigate(direction) {
  const from = minder.getSelectedNode();
  const boxes = settledBoxes(kity, minder);
  const a = boxes.get(from);
  if (!a) return;
  let best = null;
  let bestDistance = Infinity;
  for (const [node, b] of boxes) {
    if (node === from) continue;
    const ahead = { left: b.right < a.left, right: b.left > a.right, up: b.bottom < a.top, down: b.top > a.bottom }[direction];
    if (!ahead) continue;
    const dx = Math.max(a.left, b.left) - Math.min(a.right, b.right);
    const dy = Math.max(a.top, b.top) - Math.min(a.bottom, b.bottom);
    let distance = dx < 0 ? dy : dy < 0 ? dx : Math.hypot(dx, dy);
    if (node.parent === from.parent) distance /= 10;
    if (node === from.parent || node.parent === from) distance /= 5;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = node;
    }
  }
  if (best) minder.select(best, true);
}

const actions = {
  newMap() {
    if (!callHost('New')) window.NewMap();
  },
  open() {
    if (!callHost('Open')) showNotice(t.needsAppOpen, 'info');
  },
  save() {
    window.SaveMap();
  },
  undo() {
    inline.cancel();
    if (history.undo()) publishAfterHistory();
  },
  redo() {
    inline.cancel();
    if (history.redo()) publishAfterHistory();
  },
  addChild: () => addAndEdit('AppendChildNode'),
  addSibling: () => addAndEdit('AppendSiblingNode'),
  addParent: () => addAndEdit('AppendParentNode'),
  child: () => actions.addChild(),
  sibling: () => actions.addSibling(),
  remove: () => exec('RemoveNode'),
  edit: () => inline.begin('edit'),
  toggleFold() {
    const nodes = minder.getSelectedNodes().filter((n) => n.getChildren().length);
    if (!nodes.length) return;
    const expand = !nodes[0].isExpanded();
    for (const node of nodes) {
      if (expand) node.expand();
      else node.collapse();
      node.renderTree();
    }
    minder.layout();
    minder.fire('contentchange');
  },
  navigate(e) {
    if (!minder.getSelectedNode()) {
      minder.select(minder.getRoot(), true);
      return;
    }
    // Alt+Up/Down moves the node among its siblings (the engine's arrange command).
    if (e.altKey) minder.dispatchKeyEvent(e);
    else navigate(e.key.slice('Arrow'.length).toLowerCase());
  },
  selectAll() {
    const nodes = [];
    minder.getRoot().traverse((n) => nodes.push(n));
    minder.select(nodes, true);
  },
  copy: () => exec('Copy'),
  cut: () => exec('Cut'),
  paste: () => exec('Paste'),
  zoomIn: () => exec('ZoomIn'),
  zoomOut: () => exec('ZoomOut'),
  fit,
  template: (name) => exec('Template', name),
  theme: (name) => exec('Theme', name),
  priority: (value) => exec('Priority', value || null),
  progress: (value) => exec('Progress', value || null),
  async note() {
    if (!minder.getSelectedNode()) return;
    const answer = await askNote(minder.queryCommandValue('note'));
    if (answer) exec('Note', answer.clear || !answer.text.trim() ? null : answer.text);
    inline.focusReceiver();
  },
  async link() {
    if (!minder.getSelectedNode()) return;
    const current = minder.queryCommandValue('HyperLink');
    const answer = await askLink(current && current.url);
    if (answer) exec('HyperLink', answer.clear ? null : answer.url, answer.clear ? null : answer.url);
    inline.focusReceiver();
  },
};

function publishAfterHistory() {
  publishJson(JSON.stringify(currentJson()));
  refreshUi();
}

installKeyboard(editor, actions);
refreshToolbar = installToolbar(editor, actions, t, { templates: templateNames(), themes: themeNames() });

minder.on('normal.dblclick', (e) => {
  const node = e.getTargetNode();
  if (node) {
    minder.select(node, true);
    inline.begin('edit');
  }
});

minder.on('editnoterequest', () => actions.note());

// Drag on empty canvas pans; Shift+drag selects with a marquee (the engine's own).
let panFrom = null;
minder.on('beforemousedown', (e) => {
  const origin = e.originEvent;
  if (inline.isEditing()) inline.commit();
  inline.focusReceiver();
  if (origin.button === 0 && !origin.shiftKey && !e.getTargetNode()) {
    panFrom = { x: origin.clientX, y: origin.clientY };
    view.classList.add('panning');
    e.stopPropagation();
    origin.preventDefault();
  }
});
window.addEventListener('mousemove', (e) => {
  if (!panFrom) return;
  const zoom = (minder.getZoomValue() || 100) / 100;
  minder.getViewDragger().move(new kity.Point((e.clientX - panFrom.x) / zoom, (e.clientY - panFrom.y) / zoom));
  panFrom = { x: e.clientX, y: e.clientY };
});
window.addEventListener('mouseup', () => {
  if (!panFrom) return;
  panFrom = null;
  view.classList.remove('panning');
  minder.fire('viewchanged');
});

// Cmd/Ctrl+wheel, and a trackpad pinch, which arrives as one, zoom the map and never the
// page: the toolbar keeps its size. A pinch comes in many small steps that add up.
const WHEEL_STEP = 100;
let wheelZoom = { sum: 0, at: 0 };
window.addEventListener('wheel', (e) => {
  if (!e.ctrlKey && !e.metaKey) return;
  e.preventDefault();
  e.stopPropagation();
  const delta = e.deltaY * (e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? 400 : 1);
  if (e.timeStamp - wheelZoom.at > 400) wheelZoom.sum = 0;
  wheelZoom = { sum: wheelZoom.sum + delta, at: e.timeStamp };
  if (Math.abs(wheelZoom.sum) < WHEEL_STEP) return;
  if (wheelZoom.sum < 0) actions.zoomIn();
  else actions.zoomOut();
  wheelZoom.sum = 0;
}, { capture: true, passive: false });

// Links in the map open in a new window, which the application hands to the browser.
// Anything but a web or mail address is not followed.
view.addEventListener('click', (e) => {
  const anchor = e.target.closest && e.target.closest('a');
  if (!anchor) return;
  const href = anchor.getAttribute('href') || anchor.getAttribute('xlink:href') || '';
  if (!isSafeLink(href)) {
    e.preventDefault();
    e.stopPropagation();
  }
}, true);

window.addEventListener('resize', () => refreshUi());

document.documentElement.classList.toggle('mac', isMac);
document.documentElement.classList.toggle('hosted', hostAvailable());
document.getElementById('app-state').textContent = hostAvailable() ? '' : t.needsApp;

// The map shows its selection in full colour while it has the keyboard.
inline.box.addEventListener('focus', () => minder.focus());
window.addEventListener('blur', () => minder.blur());
window.addEventListener('focus', () => inline.focusReceiver());

loadBlank(false);
minder.focus();
inline.focusReceiver();
