// One short message at a time over the map; a newer message replaces an older one.
let timer = null;

export function showNotice(text, kind = 'info', ms = 6000) {
  const box = document.getElementById('notice');
  box.textContent = text;
  box.dataset.kind = kind;
  box.hidden = false;
  box.classList.remove('leaving');
  clearTimeout(timer);
  timer = setTimeout(() => {
    box.classList.add('leaving');
    timer = setTimeout(() => {
      box.hidden = true;
    }, 250);
  }, ms);
}
