// Keyboard first: every editing action has a key. Cmd on macOS, Ctrl elsewhere.

export const isMac = /Mac|iPhone|iPad/.test(navigator.platform || navigator.userAgent);

export function hasMod(e) {
  return isMac ? e.metaKey && !e.ctrlKey : e.ctrlKey && !e.metaKey;
}

function isPrintable(e) {
  return e.key.length === 1 && !e.ctrlKey && !e.metaKey && !e.altKey;
}

// actions: the editor's operations by name (see main.js).
export function installKeyboard(editor, actions) {
  const { inline } = editor;

  function editingKey(e) {
    if (e.isComposing || e.keyCode === 229) return false;
    if (e.key === 'Enter' && !e.shiftKey && !e.altKey && !hasMod(e)) {
      inline.commit();
      return true;
    }
    if (e.key === 'Escape') {
      inline.cancel();
      return true;
    }
    if (e.key === 'Tab' && !e.shiftKey) {
      inline.commit();
      actions.addChild();
      return true;
    }
    if (hasMod(e) && e.key.toLowerCase() === 's') {
      inline.commit();
      actions.save();
      return true;
    }
    return false;
  }

  const modKeys = {
    z: (e) => (e.shiftKey ? actions.redo() : actions.undo()),
    y: () => actions.redo(),
    '=': () => actions.zoomIn(),
    '+': () => actions.zoomIn(),
    '-': () => actions.zoomOut(),
    0: () => actions.fit(),
    s: () => actions.save(),
    o: () => actions.open(),
    n: (e) => (e.shiftKey ? actions.note() : actions.newMap()),
    k: () => actions.link(),
    f: () => actions.find(),
    a: () => actions.selectAll(),
    c: () => actions.copy(),
    x: () => actions.cut(),
    v: () => actions.paste(),
  };

  function commandKey(e) {
    if (hasMod(e)) {
      const key = e.key.length === 1 ? e.key.toLowerCase() : e.key;
      // By the key's place, not its character: Shift turns the digits into other
      // characters on most layouts.
      const digit = /^(?:Digit|Numpad)([1-9])$/.exec(e.code)?.[1] ?? (/^[1-9]$/.test(key) ? key : null);
      if (digit) {
        if (e.shiftKey) actions.progress(Number(digit));
        else actions.priority(Number(digit));
        return true;
      }
      const handler = modKeys[key] || (e.code === 'Equal' ? modKeys['='] : null);
      if (!handler) return false;
      handler(e);
      return true;
    }
    if (e.ctrlKey || e.metaKey) return false;
    switch (e.key) {
      case 'Tab':
        if (e.shiftKey) actions.addParent();
        else actions.addChild();
        return true;
      case 'Enter':
        if (e.shiftKey || e.altKey) return false;
        actions.addSibling();
        return true;
      case 'Delete':
      case 'Backspace':
        actions.remove();
        return true;
      case 'F2':
        actions.edit();
        return true;
      case 'F3':
        actions.findNext(e.shiftKey);
        return true;
      case ' ':
        actions.toggleFold();
        return true;
      case 'ArrowLeft':
      case 'ArrowRight':
      case 'ArrowUp':
      case 'ArrowDown':
        actions.navigate(e);
        return true;
      case 'Escape':
        actions.closeFind();
        return true;
      default:
        return false;
    }
  }

  document.addEventListener('keydown', (e) => {
    const target = e.target;
    if (target.closest && target.closest('dialog, select, input')) return;
    if (target !== inline.box && target !== document.body && target.tagName !== 'BUTTON') return;
    let handled;
    if (inline.isEditing()) {
      handled = editingKey(e);
    } else {
      handled = commandKey(e);
      if (!handled && isPrintable(e) && editor.minder.getSelectedNode()) {
        // Let the key through: it lands in the box and becomes the first letter.
        inline.begin('replace');
        return;
      }
    }
    if (handled) {
      e.preventDefault();
      e.stopPropagation();
    }
  });
}
