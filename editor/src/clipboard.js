// Branches on the system clipboard, so that they survive opening another page: the copied
// topics with their subtopics as the editor's JSON, for pasting into a map, and as an
// indented outline, for pasting anywhere else. Text pasted from elsewhere goes to the
// application, which reads it as Markdown or an indented outline, the way it imports files,
// and hands the topics back through PasteTopics('<map JSON>').
import { callHost } from './protocol.js';
import { cleanMap, countNodes, MAX_DEPTH, MAX_NODES } from './mapdoc.js';
import { showNotice } from './notice.js';

export const BRANCHES_TYPE = 'application/x-cogitra-branches';

// The selected topics without those inside another selected one, in map order.
function selectedBranches(minder) {
  const selected = new Set(minder.getSelectedNodes());
  const branches = [];
  minder.getRoot().traverse((node) => {
    let inside = false;
    for (let up = node.parent; up && !inside; up = up.parent) inside = selected.has(up);
    if (selected.has(node) && !inside) branches.push(node);
  });
  return branches;
}

export function outlineText(branches) {
  const lines = [];
  const visit = (node, depth) => {
    lines.push('\t'.repeat(depth) + String(node.data.text ?? '').replace(/\s+/g, ' ').trim());
    for (const child of node.children || []) visit(child, depth + 1);
  };
  for (const branch of branches) visit(branch, 0);
  return lines.join('\n') + '\n';
}

function depthOf(node) {
  let depth = 0;
  for (let up = node.parent; up; up = up.parent) depth++;
  return depth;
}

function treeDepth(node) {
  let deepest = 0;
  const pending = [[node, 0]];
  while (pending.length) {
    const [n, d] = pending.pop();
    deepest = Math.max(deepest, d);
    for (const child of n.children || []) pending.push([child, d + 1]);
  }
  return deepest;
}

export function installClipboard({ minder, inline }, t) {
  // Text being edited (in a topic, the find bar or a dialog) is the browser's to copy and
  // paste; everything else is topics.
  function inText(e) {
    return inline.isEditing() || !!(e.target.closest && e.target.closest('dialog, input, select'));
  }
  function copiesTopics(e) {
    return !inText(e) && minder.getSelectedNodes().length > 0;
  }

  // For the keys here and for the application's Edit actions alike.
  for (const type of ['copy', 'cut']) {
    document.addEventListener(type, (e) => {
      if (!copiesTopics(e) || !e.clipboardData) return;
      const branches = selectedBranches(minder).map((node) => minder.exportNode(node));
      e.clipboardData.setData('text/plain', outlineText(branches));
      e.clipboardData.setData(BRANCHES_TYPE, JSON.stringify({ branches }));
      e.preventDefault();
      if (type === 'cut' && minder.queryCommandState('RemoveNode') !== -1) minder.execCommand('RemoveNode');
    });
  }

  // Adds the branches (the editor's {data, children}) under the selected topic as one
  // edit; false when there is no room for them.
  function pasteBranches(branches) {
    const { map } = cleanMap({ root: { data: { text: '' }, children: branches } });
    if (!map || !map.root.children.length) return false;
    const parent = minder.getSelectedNode() || minder.getRoot();
    const before = countNodes(minder.exportJson());
    if (before + countNodes(map) - 1 > MAX_NODES || depthOf(parent) + treeDepth(map.root) > MAX_DEPTH) {
      showNotice(t.pasteTooLarge, 'warning');
      return false;
    }
    // Fresh ids: the same branch may be pasted many times into one map.
    const insert = (json, under) => {
      const { id, created, ...data } = json.data;
      const node = minder.createNode(data, under);
      for (const child of json.children) insert(child, node);
      return node;
    };
    const pasted = map.root.children.map((json) => insert(json, parent));
    if (!parent.isExpanded()) parent.expand();
    parent.renderTree();
    minder.select(pasted, true);
    minder.layout();
    minder.fire('contentchange');
    return true;
  }

  window.PasteTopics = function PasteTopics(text) {
    let parsed;
    try {
      parsed = JSON.parse(text);
    } catch (e) {
      return false;
    }
    return pasteBranches(parsed?.root?.children || []);
  };

  document.addEventListener('paste', (e) => {
    if (inText(e) || !e.clipboardData) return;
    e.preventDefault();
    const ours = e.clipboardData.getData(BRANCHES_TYPE);
    if (ours) {
      let branches = [];
      try {
        branches = JSON.parse(ours).branches;
      } catch (err) {
        console.warn('paste: unreadable branches', err);
      }
      pasteBranches(Array.isArray(branches) ? branches : []);
      return;
    }
    const text = e.clipboardData.getData('text/plain');
    if (!text.trim()) return;
    window.g_ZetPasteText = text;
    if (!callHost('PasteText')) showNotice(t.pasteNeedsApp, 'info');
  });

  // Ctrl+V is left to the browser, which fires the paste event above with the clipboard's
  // contents; the page's other keys are handled further down.
  window.addEventListener('keydown', (e) => {
    const mod = /Mac|iPhone|iPad/.test(navigator.platform || '') ? e.metaKey : e.ctrlKey;
    if (mod && !e.altKey && !e.shiftKey && e.key.toLowerCase() === 'v') e.stopPropagation();
  }, true);

  return {
    copy: () => document.execCommand('copy'),
    cut: () => document.execCommand('cut'),
  };
}
