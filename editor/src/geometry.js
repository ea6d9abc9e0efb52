// Where things are on the canvas: the zoom steps, fitting the map into the view and the
// node that lies in a direction from the selection. Nodes are taken where they will be
// when a running layout animation ends, not where they pass.
import { settledBoxes } from './layout-guard.js';

export const ZOOM_STEPS = [10, 25, 50, 75, 100, 125, 150, 200, 300];

export function setZoom(minder, value) {
  const zoom = Math.max(ZOOM_STEPS[0], Math.min(ZOOM_STEPS[ZOOM_STEPS.length - 1], value));
  minder.execCommand('zoom', zoom);
}

// Zooms out until the whole map fits with a margin, never in past 100%, and centres it.
export function fitInView(kity, minder, view) {
  let box = null;
  for (const b of settledBoxes(kity, minder).values()) box = box ? box.merge(b) : b;
  if (!box) return;
  const scale = Math.min((view.clientWidth * 0.9) / box.width, (view.clientHeight * 0.9) / box.height);
  setZoom(minder, Math.min(100, Math.floor(scale * 100)));
  const center = minder.getPaper().getViewPort().center;
  const offset = new kity.Point(center.x - (box.x + box.width / 2), center.y - (box.y + box.height / 2));
  minder.getViewDragger().moveTo(offset);
}

// The nearest visible node in a direction ('left', 'right', 'up', 'down') from the
// selected one, preferring siblings and the parent as the engine's own navigation does;
// null when there is none.
export function nodeToward(kity, minder, direction) {
  const from = minder.getSelectedNode();
  const boxes = settledBoxes(kity, minder);
  const a = boxes.get(from);
  if (!a) return null;
  let best = null;
  let bestDistance = Infinity;
  for (const [node, b] of boxes) {
    if (node === from) continue;
    const ahead = {
      left: b.right < a.left,
      right: b.left > a.right,
      up: b.bottom < a.top,
      down: b.top > a.bottom,
    }[direction];
    if (!ahead) continue;
    const dx = Math.max(a.left, b.left) - Math.min(a.right, b.right);
    const dy = Math.max(a.top, b.top) - Math.min(a.bottom, b.bottom);
    let distance = dx < 0 ? dy : dy < 0 ? dx : Math.hypot(dx, dy);
    if (node.parent === from.parent) distance /= 10;
    if (node === from.parent || node.parent === from) distance /= 5;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = node;
    }
  }
  return best;
}

// A wheel event's vertical movement in pixels, whatever unit it came in.
export function wheelPixels(e) {
  return e.deltaY * (e.deltaMode === 1 ? 16 : e.deltaMode === 2 ? 400 : 1);
}
