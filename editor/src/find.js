// The find bar: topics whose text or note holds what is typed, stepped through in the
// map's order. Each match is selected, its folded ancestors opened and brought into view.

function matchesOf(minder, query) {
  const needle = query.trim().toLocaleLowerCase();
  if (!needle) return [];
  const found = [];
  minder.getRoot().preTraverse((node) => {
    const text = [node.getData('text'), node.getData('note')].filter((v) => typeof v === 'string');
    if (text.some((v) => v.toLocaleLowerCase().includes(needle))) found.push(node);
  });
  return found;
}

// Opens every folded ancestor; true when something was opened.
function reveal(node) {
  const folded = [];
  for (let up = node.parent; up; up = up.parent) if (up.getData('expandState') === 'collapse') folded.push(up);
  for (const up of folded) {
    up.expand();
    up.renderTree();
  }
  return folded.length > 0;
}

export function installFind(editor, t) {
  const { minder, inline } = editor;
  const bar = document.getElementById('find-bar');
  const input = bar.querySelector('input');
  const count = bar.querySelector('output');
  let current = -1;

  function show(matches) {
    if (!input.value.trim()) count.textContent = '';
    else if (!matches.length) count.textContent = t.findNone || 'No matches';
    else count.textContent = (t.findCount || '{n} of {m}').replace('{n}', current + 1).replace('{m}', matches.length);
    bar.classList.toggle('missing', !!input.value.trim() && !matches.length);
  }

  // step: 0 stays on the match already selected (or the first), 1 and -1 move on. The
  // matches are found afresh each time: the map may have changed in between.
  function go(step) {
    const matches = matchesOf(minder, input.value);
    const at = matches.indexOf(minder.getSelectedNode());
    if (!matches.length) current = -1;
    else if (at < 0) current = step < 0 ? matches.length - 1 : 0;
    else current = (at + step + matches.length) % matches.length;
    show(matches);
    if (current < 0) return;
    const node = matches[current];
    if (reveal(node)) {
      minder.layout();
      minder.fire('contentchange');
    }
    minder.select(node, true);
  }

  function open() {
    bar.hidden = false;
    input.focus();
    input.select();
    if (input.value) go(0);
  }

  function close() {
    if (bar.hidden) return false;
    bar.hidden = true;
    inline.focusReceiver();
    return true;
  }

  input.addEventListener('input', () => go(0));
  bar.addEventListener('keydown', (e) => {
    const enter = e.key === 'Enter' && !e.isComposing;
    if (enter || e.key === 'F3') go(e.shiftKey ? -1 : 1);
    else if (e.key === 'Escape') close();
    else if ((e.ctrlKey || e.metaKey) && e.key.toLowerCase() === 'f') input.select();
    else return;
    e.preventDefault();
    e.stopPropagation();
  });
  // The buttons leave the keyboard in the field.
  bar.addEventListener('mousedown', (e) => {
    if (e.target.closest('button')) e.preventDefault();
  });
  bar.addEventListener('click', (e) => {
    const button = e.target.closest('button[data-find]');
    if (!button) return;
    if (button.dataset.find === 'close') close();
    else go(button.dataset.find === 'prev' ? -1 : 1);
  });

  return {
    open,
    close,
    // F3 from the map: the next match of what was last looked for, or the bar to type it.
    step(back) {
      if (!input.value.trim()) return open();
      bar.hidden = false;
      go(back ? -1 : 1);
    },
  };
}
