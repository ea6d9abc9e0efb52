// The editor page's wiring: the engine, the map it shows, the editing actions behind the
// keys and buttons, and the pointer on the canvas. The script protocol the application
// drives lives in protocol.js, where things lie on the canvas in geometry.js.
import { installClipboard } from './clipboard.js';
import { askLink, askNote, cancelDialogs, isSafeLink } from './dialogs.js';
import { installFileExport } from './export-file.js';
import { installFind } from './find.js';
import { fitInView, nodeToward, wheelPixels, ZOOM_STEPS } from './geometry.js';
import { History } from './history.js';
import { InlineEditor } from './inline-editor.js';
import { installLayoutGuard, openViewFirst } from './layout-guard.js';
import { installKeyboard, isMac } from './keyboard.js';
import { blankMap, countNodes, templateNames, themeNames } from './mapdoc.js';
import { showNotice } from './notice.js';
import { callHost, hostAvailable, installProtocol, publishJson, publishPng } from './protocol.js';
import { installToolbar } from './toolbar.js';

const t = window.COGITRA_STRINGS || {};
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
// Tells the protocol that the map changed; set once the protocol is installed.
let changed = () => {};
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
  changed();
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
      selectedCount: minder.getSelectedNodes().length,
      selectedText: selected ? selected.getText() : '',
      canRemove: !!selected && minder.queryCommandState('RemoveNode') !== -1,
      canNote: minder.queryCommandState('Note') !== -1,
      template: minder.getTemplate(),
      theme: minder.getTheme(),
      priority: selected ? minder.queryCommandValue('priority') : 0,
      progress: selected ? minder.queryCommandValue('progress') : 0,
      zoom: Math.round(minder.getZoomValue() || 100),
    });
    if (!inline.isEditing()) inline.placeReceiver();
  });
}

// Replaces the whole map: opening and New start a new history, restoring is an edit.
function load(map, { undoable }) {
  inline.cancel();
  cancelDialogs();
  // Matches and their count belong to the map being replaced.
  find.close();
  loading = true;
  const nodeCount = countNodes(map);
  try {
    // Opening places every node at once; edits afterwards animate on small maps.
    minder.setOption('layoutAnimationDuration', 0);
    openViewFirst(minder, nodeCount, () => {
      minder.importJson(map);
      // Zooming and moving the view report content changes too; they are part of opening.
      minder.execCommand('zoom', 100);
      // The central topic in view first: selecting a node out of view moves the view to it
      // with the engine's own animation (100 ms, whatever the options say), which would carry
      // on past the camera's move and leave the map near an edge.
      minder.execCommand('camera', minder.getRoot(), 0);
    });
    minder.select(minder.getRoot(), true);
  } finally {
    loading = false;
    tuneAnimation(nodeCount);
  }
  const json = currentJson();
  publishJson(JSON.stringify(json));
  if (undoable) history.record(json);
  else history.reset(json);
  refreshUi();
}

function loadBlank() {
  load(blankMap(t.rootText || 'Central Topic', minder.getTemplate(), minder.getTheme()), { undoable: false });
}

changed = installProtocol(editor, { load, loadBlank }, t);

function exec(name, ...args) {
  if (minder.queryCommandState(name) === -1) return false;
  minder.execCommand(name, ...args);
  return true;
}

const clipboard = installClipboard(editor, t);
installFileExport(editor);

function addAndEdit(command) {
  if (!minder.getSelectedNode()) minder.select(minder.getRoot(), true);
  if (exec(command, t.childText || 'Subtopic')) inline.begin('edit');
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
    else {
      const node = nodeToward(kity, minder, e.key.slice('Arrow'.length).toLowerCase());
      if (node) minder.select(node, true);
    }
  },
  selectAll() {
    const nodes = [];
    minder.getRoot().traverse((n) => nodes.push(n));
    minder.select(nodes, true);
  },
  copy: () => clipboard.copy(),
  cut: () => clipboard.cut(),
  // Ctrl+V reaches the page as the browser's paste event, which clipboard.js handles.
  paste() {},
  zoomIn: () => exec('ZoomIn'),
  zoomOut: () => exec('ZoomOut'),
  fit: () => fitInView(kity, minder, view),
  template: (name) => exec('Template', name),
  theme: (name) => exec('Theme', name),
  priority: (value) => exec('Priority', value || null),
  progress: (value) => exec('Progress', value || null),
  async note() {
    // A note belongs to one topic: with several selected there is none to edit.
    if (minder.queryCommandState('Note') === -1) return;
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
  changed();
  refreshUi();
}

const find = installFind(editor, t);
Object.assign(actions, { find: find.open, findNext: find.step, closeFind: find.close });

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
  if (e.timeStamp - wheelZoom.at > 400) wheelZoom.sum = 0;
  wheelZoom = { sum: wheelZoom.sum + wheelPixels(e), at: e.timeStamp };
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

loadBlank();
minder.focus();
inline.focusReceiver();
