// Buttons and pickers. They never keep the keyboard focus: the map keeps it.

// The engine names the compact variants "-compact" for some families and "-compat" for
// the fresh ones; stored maps keep whichever name the engine gave.
function themeLabel(name, t) {
  const suffix = /-(compact|compat)$/.exec(name);
  const compact = !!suffix;
  const base = compact ? name.slice(0, suffix.index) : name;
  const [family, color] = base.split('-');
  let label = t['theme_' + family] || family;
  if (color) label += (t.themeJoin ?? ' ') + (t['color_' + color] || color);
  if (compact) label = (t.compactTheme || '{name} (compact)').replace('{name}', label);
  return label;
}

function fill(select, entries) {
  select.textContent = '';
  for (const [value, label] of entries) {
    const option = document.createElement('option');
    option.value = String(value);
    option.textContent = label;
    select.append(option);
  }
}

export function installToolbar(editor, actions, t, names) {
  const bar = document.querySelector('.toolbar');
  bar.addEventListener('mousedown', (e) => {
    if (e.target.closest('button')) e.preventDefault();
  });
  bar.addEventListener('click', (e) => {
    const button = e.target.closest('button[data-action]');
    if (!button || button.disabled) return;
    actions[button.dataset.action]();
    editor.inline.focusReceiver();
  });

  const pickers = {};
  for (const select of bar.querySelectorAll('select[data-picker]')) pickers[select.dataset.picker] = select;
  fill(pickers.template, names.templates.map((n) => [n, t['tpl_' + n] || n]));
  fill(pickers.theme, names.themes.map((n) => [n, themeLabel(n, t)]));
  const percent = (v) => Math.round(((v - 1) / 8) * 100) + '%';
  fill(pickers.priority, [[0, t.priority]].concat([1, 2, 3, 4, 5, 6, 7, 8, 9].map((v) => [v, 'P' + v])));
  fill(pickers.progress, [[0, t.progress]].concat([1, 2, 3, 4, 5, 6, 7, 8, 9].map((v) => [
    v, t['progress' + v] || percent(v)])));

  for (const [name, select] of Object.entries(pickers)) {
    select.addEventListener('change', () => {
      const value = select.value;
      if (name === 'template') actions.template(value);
      else if (name === 'theme') actions.theme(value);
      else if (name === 'priority') actions.priority(Number(value));
      else actions.progress(Number(value));
      editor.inline.focusReceiver();
    });
  }

  // Screen readers hear the selected topic's text as the selection moves.
  const announce = document.getElementById('announce');

  const buttons = {};
  for (const button of bar.querySelectorAll('button[data-action]')) buttons[button.dataset.action] = button;

  return function refresh(state) {
    buttons.undo.disabled = !state.canUndo;
    buttons.redo.disabled = !state.canRedo;
    for (const name of ['child', 'sibling', 'link']) buttons[name].disabled = !state.hasSelection;
    buttons.note.disabled = !state.canNote;
    buttons.remove.disabled = !state.canRemove;
    pickers.priority.disabled = pickers.progress.disabled = !state.hasSelection;
    pickers.template.value = state.template;
    pickers.theme.value = state.theme;
    pickers.priority.value = String(state.priority || 0);
    pickers.progress.value = String(state.progress || 0);
    document.getElementById('zoom-value').textContent = state.zoom + '%';
    const count = state.selectedCount;
    const said = count > 1 ? (t.selectedCount || '{n} topics selected').replace('{n}', count) : state.selectedText;
    if (announce.textContent !== said) announce.textContent = said;
  };
}
