// Map texts as the application hands them over: parse, check and clean them so that
// nothing a page or a stored file holds can break the engine.

// Far beyond any map a person draws; a text past these limits is refused, not cut.
export const MAX_NODES = 100000;
export const MAX_DEPTH = 256;

export const DEFAULT_TEMPLATE = 'default';
export const DEFAULT_THEME = 'fresh-blue';

function isPlainObject(value) {
  return value !== null && typeof value === 'object' && !Array.isArray(value);
}

export function templateNames() {
  return Object.keys(kityminder.Minder.getTemplateList());
}

export function themeNames() {
  return Object.keys(kityminder.Minder.getThemeList());
}

function newId() {
  return Date.now().toString(36) + Math.random().toString(36).slice(2, 8);
}

export function blankMap(rootText, template, theme) {
  return {
    root: { data: { id: newId(), created: Date.now(), text: rootText }, children: [] },
    template: template || DEFAULT_TEMPLATE,
    theme: theme || DEFAULT_THEME,
    version: kityminder.Minder.version,
  };
}

function cleanMark(data, key, low, high) {
  if (!(key in data)) return;
  const value = Number(data[key]);
  if (Number.isInteger(value) && value >= low && value <= high) data[key] = value;
  else delete data[key];
}

function cleanData(raw) {
  const data = isPlainObject(raw) ? { ...raw } : {};
  if (typeof data.text !== 'string') {
    data.text = typeof data.text === 'number' ? String(data.text) : '';
  }
  cleanMark(data, 'priority', 1, 9);
  cleanMark(data, 'progress', 1, 9);
  for (const key of ['note', 'hyperlink', 'hyperlinkTitle', 'image', 'imageTitle']) {
    if (key in data && typeof data[key] !== 'string') delete data[key];
  }
  if ('imageSize' in data) {
    const size = data.imageSize;
    if (!isPlainObject(size) || !(size.width > 0) || !(size.height > 0)) {
      delete data.image;
      delete data.imageSize;
    }
  }
  return data;
}

// Returns { map } for a usable map, or { problem } naming why the text is not one.
export function parseMapText(text) {
  if (typeof text !== 'string' || text.trim() === '') return { problem: 'empty' };
  let parsed;
  try {
    parsed = JSON.parse(text);
  } catch (e) {
    return { problem: 'not JSON: ' + e.message };
  }
  return cleanMap(parsed);
}

export function cleanMap(parsed) {
  if (!isPlainObject(parsed) || !isPlainObject(parsed.root)) return { problem: 'no root' };

  const root = { data: cleanData(parsed.root.data), children: [] };
  // Iterative walk: a hostile text may nest deeper than the call stack allows.
  const pending = [[parsed.root, root, 0]];
  let count = 1;
  while (pending.length) {
    const [source, target, depth] = pending.pop();
    if (!Array.isArray(source.children)) continue;
    for (const child of source.children) {
      if (!isPlainObject(child)) continue;
      if (++count > MAX_NODES) return { problem: 'too many nodes' };
      if (depth + 1 > MAX_DEPTH) return { problem: 'nested too deeply' };
      const copy = { data: cleanData(child.data), children: [] };
      target.children.push(copy);
      pending.push([child, copy, depth + 1]);
    }
  }

  const template = templateNames().includes(parsed.template) ? parsed.template : DEFAULT_TEMPLATE;
  const theme = themeNames().includes(parsed.theme) ? parsed.theme : DEFAULT_THEME;
  const version = typeof parsed.version === 'string' ? parsed.version : kityminder.Minder.version;
  return { map: { root, template, theme, version } };
}

export function countNodes(map) {
  let count = 0;
  const pending = [map.root];
  while (pending.length) {
    const node = pending.pop();
    count++;
    for (const child of node.children || []) pending.push(child);
  }
  return count;
}
