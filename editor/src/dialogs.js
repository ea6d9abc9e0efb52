// Note and link editors: small modal dialogs that answer with a promise.
import { hasMod } from './keyboard.js';

function ask(dialog, prepare, read) {
  return new Promise((resolve) => {
    prepare(dialog);
    // Cmd/Ctrl+Enter confirms, also from the note's text where Enter breaks the line.
    const onKey = (e) => {
      if (e.key !== 'Enter' || !hasMod(e)) return;
      e.preventDefault();
      dialog.querySelector('button[value=ok]').click();
    };
    const onClose = () => {
      dialog.removeEventListener('close', onClose);
      dialog.removeEventListener('keydown', onKey);
      const choice = dialog.returnValue;
      resolve(choice === 'ok' ? read(dialog) : choice === 'clear' ? { clear: true } : null);
    };
    dialog.addEventListener('close', onClose);
    dialog.addEventListener('keydown', onKey);
    dialog.returnValue = 'cancel';
    dialog.showModal();
  });
}

// Drops any question still open: its answer was meant for a map that is no longer there.
export function cancelDialogs() {
  for (const dialog of document.querySelectorAll('dialog[open]')) dialog.close('cancel');
}

export function askNote(current) {
  const dialog = document.getElementById('note-dialog');
  return ask(
    dialog,
    (d) => {
      const area = d.querySelector('textarea');
      area.value = current || '';
      setTimeout(() => area.focus(), 0);
    },
    (d) => ({ text: d.querySelector('textarea').value }),
  );
}

// Web and mail addresses only: a link in the map is opened with a click, and a
// "javascript:" address would run in the page.
export function cleanLink(text) {
  const trimmed = String(text || '').trim();
  if (!trimmed) return null;
  const candidate = /^[a-z][a-z0-9+.-]*:/i.test(trimmed) ? trimmed : 'https://' + trimmed;
  let url;
  try {
    url = new URL(candidate);
  } catch (e) {
    return null;
  }
  if (!['http:', 'https:', 'mailto:'].includes(url.protocol)) return null;
  if (url.protocol !== 'mailto:' && !url.hostname) return null;
  return url.href;
}

export function isSafeLink(href) {
  return cleanLink(href) !== null && /^(https?|mailto):/i.test(String(href).trim());
}

export function askLink(current) {
  const dialog = document.getElementById('link-dialog');
  const input = dialog.querySelector('input');
  const error = dialog.querySelector('.error');
  const form = dialog.querySelector('form');
  const check = (e) => {
    if (e.submitter && e.submitter.value === 'ok' && cleanLink(input.value) === null) {
      e.preventDefault();
      error.hidden = false;
    }
  };
  form.addEventListener('submit', check);
  return ask(
    dialog,
    () => {
      input.value = current || '';
      error.hidden = true;
      setTimeout(() => input.select(), 0);
    },
    () => ({ url: cleanLink(input.value) }),
  ).finally(() => form.removeEventListener('submit', check));
}
