// The text box over a node. The same textarea receives the keyboard while nobody edits, so
// that typing (or an input method) starts an edit right where the node is.

// Room kept between the text box and the edges of the view.
const MARGIN = 24;

export class InlineEditor {
  constructor(minder, textarea) {
    this.minder = minder;
    this.box = textarea;
    this.node = null;
    this.original = '';
    this.frame = 0;
    this.committing = false;
    // Told when the text being typed changes and when the box closes.
    this.onTextChange = () => {};
    this.box.classList.add('receiver');
    this.box.addEventListener('compositionstart', () => {
      if (!this.isEditing()) this.begin('replace');
    });
    this.box.addEventListener('input', () => {
      if (this.isEditing()) {
        this.fitToText();
        this.onTextChange();
      } else {
        this.box.value = '';
      }
    });
    this.box.addEventListener('blur', () => {
      if (this.isEditing() && !this.committing) this.commit();
    });
  }

  isEditing() {
    return this.node !== null;
  }

  // Text typed that is not in the map yet.
  hasTyped() {
    return this.isEditing() && this.box.value !== this.original;
  }

  focusReceiver() {
    if (document.activeElement !== this.box) this.box.focus({ preventScroll: true });
    if (!this.isEditing()) this.placeReceiver();
  }

  // The idle receiver sits on the selected node, invisible, so that an input method's
  // candidate window opens next to it.
  placeReceiver() {
    const node = this.minder.getSelectedNode();
    const rect = node ? this.textRect(node) : null;
    this.box.style.left = (rect ? rect.left : 0) + 'px';
    this.box.style.top = (rect ? rect.top : 0) + 'px';
  }

  shapeRect(node, rendererName) {
    const renderer = node.getRenderer && node.getRenderer(rendererName);
    const shape = renderer && renderer.getRenderShape && renderer.getRenderShape();
    const element = shape && shape.node ? shape.node : node.getRenderContainer().node;
    return element.getBoundingClientRect();
  }

  textRect(node) {
    return this.shapeRect(node, 'TextRenderer');
  }

  // mode 'edit' keeps the text and selects it; 'replace' starts from an empty box so the
  // key being typed becomes the new text.
  begin(mode) {
    const node = this.minder.getSelectedNode();
    if (!node) return false;
    if (this.isEditing()) this.commit();
    this.node = node;
    this.original = node.getText() || '';
    this.box.classList.remove('receiver');
    this.box.classList.add('editing');
    this.box.setAttribute('aria-hidden', 'false');
    this.box.value = mode === 'replace' ? '' : this.original;
    this.minder.setStatus('textedit');
    this.track();
    this.focusReceiver();
    if (mode !== 'replace') this.box.select();
    return true;
  }

  // Follows the node while it moves: layout animation, zoom and panning.
  track() {
    cancelAnimationFrame(this.frame);
    const step = () => {
      if (!this.isEditing()) return;
      this.follow();
      this.frame = requestAnimationFrame(step);
    };
    step();
  }

  follow() {
    const node = this.node;
    if (!node.getRenderContainer().node.isConnected) {
      this.cancel();
      return;
    }
    const text = this.textRect(node);
    const outline = this.shapeRect(node, 'OutlineRenderer');
    const zoom = (this.minder.getZoomValue() || 100) / 100;
    const fontSize = (node.getData('font-size') || node.getStyle('font-size') || 14) * zoom;
    const style = this.box.style;
    style.fontSize = fontSize + 'px';
    style.lineHeight = (node.getStyle('line-height') || 1.5) * fontSize + 'px';
    style.fontWeight = node.getData('font-weight') || node.getStyle('font-weight') || 'normal';
    // Over the node's outline, with the text where the node draws it.
    const border = 2;
    style.left = outline.left + 'px';
    style.top = outline.top + 'px';
    style.minWidth = outline.width + 'px';
    style.minHeight = outline.height + 'px';
    style.paddingLeft = Math.max(2, text.left - outline.left - border) + 'px';
    style.paddingRight = style.paddingLeft;
    style.paddingTop = Math.max(0, text.top - outline.top - border) + 'px';
    this.fitToText();
    this.keepInView(zoom);
  }

  // Moves the map so that the box stays inside the view while it grows with the text.
  keepInView(zoom) {
    const view = this.minder.getRenderTarget().getBoundingClientRect();
    const box = this.box.getBoundingClientRect();
    const shift = (low, high, from, to) => {
      let d = 0;
      if (to > high - MARGIN) d = high - MARGIN - to;
      if (from + d < low + MARGIN) d = low + MARGIN - from;
      return d;
    };
    const dx = shift(view.left, view.right, box.left, box.right);
    const dy = shift(view.top, view.bottom, box.top, box.bottom);
    if (dx || dy) this.minder.getViewDragger().move(new kity.Point(dx / zoom, dy / zoom));
  }

  fitToText() {
    const style = this.box.style;
    style.height = 'auto';
    style.width = 'auto';
    style.width = Math.min(this.box.scrollWidth + 8, window.innerWidth * 0.8) + "px";
    style.height = this.box.scrollHeight + 'px';
  }

  finish() {
    cancelAnimationFrame(this.frame);
    this.node = null;
    this.box.value = '';
    this.box.classList.remove('editing');
    this.box.classList.add('receiver');
    this.box.setAttribute('aria-hidden', 'true');
    this.box.removeAttribute('style');
    if (this.minder.getStatus() === 'textedit') this.minder.setStatus('normal', true);
  }

  // Puts the typed text into the node; returns whether the map changed.
  commit() {
    if (!this.isEditing()) return false;
    const node = this.node;
    const text = this.box.value.replace(/\r\n?/g, '\n');
    this.committing = true;
    try {
      this.finish();
      if (text === this.original || !node.getRenderContainer().node.isConnected) return false;
      this.minder.select(node, true);
      this.minder.execCommand('text', text);
      return true;
    } finally {
      this.committing = false;
      this.placeReceiver();
      this.onTextChange();
    }
  }

  cancel() {
    if (!this.isEditing()) return;
    this.committing = true;
    this.finish();
    this.committing = false;
    this.placeReceiver();
    this.onTextChange();
  }
}
