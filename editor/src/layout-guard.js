// The engine ends each node's layout animation with one more frame 150 ms after it, in
// case the last one was dropped. That frame also lands when a newer layout has moved the
// node since, and puts it back where the older layout wanted it: nodes overlap until the
// next change, and a picture rendered then shows them so. This replacement of the
// engine's applyLayoutResult is the engine's own, except that a node's late frame is
// applied only while its animation is still the node's newest.
export function installLayoutGuard(kity, Minder) {
  Minder.prototype.applyLayoutResult = function applyLayoutResult(root, duration, callback) {
    root = root || this.getRoot();
    const minder = this;
    let pending = root.getComplex();
    const consume = () => {
      if (!--pending && callback) callback();
    };
    // As the engine does: large maps are laid out without animation.
    if (pending > 200) duration = 0;

    const applyMatrix = (node, matrix) => {
      node.setGlobalLayoutTransform(matrix);
      minder.fire('layoutapply', { node, matrix });
    };
    const finish = (node, matrix) => {
      applyMatrix(node, matrix);
      minder.fire('layoutfinish', { node, matrix });
      consume();
    };

    const apply = (node, parentMatrix) => {
      const matrix = node.getLayoutTransform().merge(parentMatrix.clone());
      const lastMatrix = node.getGlobalLayoutTransform() || new kity.Matrix();
      const offset = node.getLayoutOffset();
      matrix.translate(offset.x, offset.y);
      matrix.m.e = Math.round(matrix.m.e);
      matrix.m.f = Math.round(matrix.m.f);

      if (node._layoutTimeline) {
        node._layoutTimeline.stop();
        node._layoutTimeline = null;
      }
      if (duration) {
        const timeline = new kity.Animator(lastMatrix, matrix, applyMatrix).start(node, duration, 'ease');
        node._layoutTimeline = timeline;
        timeline.on('finish', () => {
          setTimeout(() => {
            if (node._layoutTimeline === timeline) finish(node, matrix);
          }, 150);
        });
      } else {
        finish(node, matrix);
      }
      for (const child of node.children) apply(child, matrix);
    };
    apply(root, root.parent ? root.parent.getGlobalLayoutTransform() : new kity.Matrix());
    return this;
  };
}

// Where a node's box will be once the running layout animation has ended: the same
// transform that applyLayoutResult above moves the node to. Key handling goes by these
// places, so that a key pressed during an animation acts at once and in order.
export function settledBoxes(kity, minder) {
  const boxes = new Map();
  const walk = (node, parentMatrix, shown) => {
    const matrix = node.getLayoutTransform().merge(parentMatrix.clone());
    const offset = node.getLayoutOffset();
    matrix.translate(offset.x, offset.y);
    matrix.m.e = Math.round(matrix.m.e);
    matrix.m.f = Math.round(matrix.m.f);
    const box = matrix.transformBox(node.getContentBox());
    if (shown && box.width && box.height) boxes.set(node, box);
    const childrenShown = shown && node.isExpanded();
    for (const child of node.children) walk(child, matrix, childrenShown);
  };
  walk(minder.getRoot(), new kity.Matrix(), true);
  return boxes;
}
