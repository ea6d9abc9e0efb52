// Undo history over the engine: each step keeps the patches that lead from one map state
// to the next and back, so undoing a small edit on a large map re-renders only what changed.
// Every map state the history can reach has a number, never reused within the page, so the
// clean point (the map as opened, started or saved) is one number and "modified" is a
// comparison, however large the map.

const LIMIT = 300;

function deepEqual(a, b) {
  if (a === b) return true;
  if (typeof a !== 'object' || typeof b !== 'object' || a === null || b === null) {
    return Number.isNaN(a) && Number.isNaN(b);
  }
  if (Array.isArray(a) !== Array.isArray(b)) return false;
  if (Array.isArray(a)) {
    if (a.length !== b.length) return false;
    for (let i = 0; i < a.length; i++) if (!deepEqual(a[i], b[i])) return false;
    return true;
  }
  const keysA = Object.keys(a).filter((k) => a[k] !== undefined);
  const keysB = Object.keys(b).filter((k) => b[k] !== undefined);
  if (keysA.length !== keysB.length) return false;
  for (const k of keysA) if (!deepEqual(a[k], b[k])) return false;
  return true;
}

function clone(value) {
  return value === undefined ? undefined : JSON.parse(JSON.stringify(value));
}

function nodeKey(node) {
  return node.data && node.data.id !== undefined ? String(node.data.id) : null;
}

function sameNode(a, b) {
  return nodeKey(a) === nodeKey(b);
}

// Patches in the engine's form ('/root/children/1/data/text'), valid when applied in order.
function diffNode(a, b, path, out) {
  const da = a.data || {};
  const db = b.data || {};
  for (const key of Object.keys(da)) {
    if (da[key] !== undefined && db[key] === undefined) out.push({ op: 'remove', path: `${path}/data/${key}` });
  }
  for (const key of Object.keys(db)) {
    if (db[key] === undefined) continue;
    if (da[key] === undefined) out.push({ op: 'add', path: `${path}/data/${key}`, value: clone(db[key]) });
    else if (!deepEqual(da[key], db[key])) out.push({ op: 'replace', path: `${path}/data/${key}`, value: clone(db[key]) });
  }

  const ca = a.children || [];
  const cb = b.children || [];
  let head = 0;
  while (head < ca.length && head < cb.length && sameNode(ca[head], cb[head])) head++;
  let tail = 0;
  while (tail < ca.length - head && tail < cb.length - head
         && sameNode(ca[ca.length - 1 - tail], cb[cb.length - 1 - tail])) tail++;

  for (let i = 0; i < head; i++) diffNode(ca[i], cb[i], `${path}/children/${i}`, out);
  for (let i = ca.length - tail - 1; i >= head; i--) out.push({ op: 'remove', path: `${path}/children/${i}` });
  for (let i = head; i < cb.length - tail; i++) out.push({ op: 'add', path: `${path}/children/${i}`, value: clone(cb[i]) });
  for (let i = 0; i < tail; i++) {
    const ia = ca.length - tail + i;
    const ib = cb.length - tail + i;
    diffNode(ca[ia], cb[ib], `${path}/children/${ib}`, out);
  }
}

export function diffMaps(a, b) {
  const out = [];
  if (a.template !== b.template) out.push({ op: 'replace', path: '/template', value: b.template });
  if (a.theme !== b.theme) out.push({ op: 'replace', path: '/theme', value: b.theme });
  diffNode(a.root, b.root, '/root', out);
  return out;
}

export { deepEqual };

export class History {
  constructor(minder) {
    this.minder = minder;
    this.undoStack = [];
    this.redoStack = [];
    this.current = null;
    this.applying = false;
    this.restingSelection = [];
    this.serial = 0;
    this.base = 0;
    this.start = 0;
    this.clean = 0;
  }

  // A new map: nothing before it can be undone, and it is the clean point.
  reset(json) {
    this.undoStack = [];
    this.redoStack = [];
    this.current = json;
    this.restingSelection = this.selectionIds();
    this.base = ++this.serial;
    this.start = this.base;
    this.clean = this.base;
  }

  // The number of the map state shown now.
  state() {
    return this.undoStack.length ? this.undoStack[this.undoStack.length - 1].id : this.base;
  }

  isModified() {
    return this.state() !== this.clean;
  }

  // state is a number state() gave out for this map; one from a map replaced since then is
  // ignored. Returns whether it was taken.
  markClean(state) {
    if (!Number.isInteger(state) || state < this.start || state > this.serial) return false;
    this.clean = state;
    return true;
  }

  canUndo() {
    return this.undoStack.length > 0;
  }

  canRedo() {
    return this.redoStack.length > 0;
  }

  selectionIds() {
    return this.minder.getSelectedNodes().map((node) => node.getData('id'));
  }

  // Called for selection changes outside commands, so that an undo brings back the
  // selection the user had before the change.
  noteSelection() {
    if (!this.applying) this.restingSelection = this.selectionIds();
  }

  // Called after every content change with the map as it is now. Returns whether a step
  // was recorded (false when nothing in the map changed).
  record(json) {
    if (this.applying) return false;
    if (!this.current) {
      this.reset(json);
      return false;
    }
    const redo = diffMaps(this.current, json);
    if (redo.length === 0) return false;
    const undo = diffMaps(json, this.current);
    const after = this.selectionIds();
    this.undoStack.push({ id: ++this.serial, undo, redo, before: this.restingSelection, after });
    // The oldest state left is now the one after the dropped step.
    if (this.undoStack.length > LIMIT) this.base = this.undoStack.shift().id;
    this.redoStack = [];
    this.current = json;
    this.restingSelection = after;
    return true;
  }

  undo() {
    const step = this.undoStack.pop();
    if (!step) return false;
    this.apply(step.undo, step.before);
    this.redoStack.push(step);
    return true;
  }

  redo() {
    const step = this.redoStack.pop();
    if (!step) return false;
    this.apply(step.redo, step.after);
    this.undoStack.push(step);
    return true;
  }

  apply(patches, selection) {
    const minder = this.minder;
    const target = JSON.parse(JSON.stringify(this.current));
    this.applying = true;
    try {
      try {
        // The engine keeps the data objects it is given: hand it copies.
        minder.applyPatches(clone(patches));
      } catch (e) {
        console.warn('undo patch failed, reloading the map state', e);
      }
      const reached = minder.exportJson();
      const expected = this.expectedAfter(patches, target);
      if (deepEqual(reached, expected)) {
        this.current = reached;
      } else {
        minder.importJson(expected);
        this.current = minder.exportJson();
      }
      this.restoreSelection(selection);
    } finally {
      this.applying = false;
    }
  }

  // The state a list of patches leads to, computed on plain data; the engine's result is
  // checked against it and replaced by it when the two differ.
  expectedAfter(patches, start) {
    const state = start;
    for (const patch of patches) {
      const segments = patch.path.split('/').slice(1);
      if (segments[0] === 'template' || segments[0] === 'theme') {
        state[segments[0]] = patch.value;
        continue;
      }
      let parent = state;
      let key = segments[0];
      for (let i = 1; i < segments.length; i++) {
        parent = parent[key];
        key = segments[i];
      }
      if (Array.isArray(parent)) {
        const index = Number(key);
        if (patch.op === 'remove') parent.splice(index, 1);
        else if (patch.op === 'add') parent.splice(index, 0, clone(patch.value));
        else parent[index] = clone(patch.value);
      } else if (patch.op === 'remove') {
        delete parent[key];
      } else {
        parent[key] = clone(patch.value);
      }
    }
    return state;
  }

  restoreSelection(ids) {
    const minder = this.minder;
    const wanted = new Set(ids);
    const nodes = [];
    minder.getRoot().traverse((node) => {
      if (wanted.has(node.getData('id'))) nodes.push(node);
    });
    if (nodes.length) minder.select(nodes, true);
    else minder.select(minder.getRoot(), true);
    this.restingSelection = this.selectionIds();
  }
}
