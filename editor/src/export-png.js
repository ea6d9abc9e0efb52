// PNG rendering of the map with the engine's exporter. The exporter waits forever for a
// node picture that does not answer 200 and alerts on others, so pictures are checked
// first and the ones that cannot be loaded are left out of the rendering.

const IMAGE_TIMEOUT_MS = 8000;
const EXPORT_TIMEOUT_MS = 30000;

// A canvas past these is refused by the browser (or is a picture nobody can upload):
// larger maps are rendered scaled down to fit.
const MAX_SIDE = 16000;
const MAX_AREA = 64e6;
const PADDING = 41;

const ANIMATION_OPTIONS = ['layoutAnimationDuration', 'viewAnimationDuration', 'zoomAnimationDuration'];

// Loads a picture the way the exporter will (XHR, then decode), with a time limit.
function imageLoads(url) {
  return new Promise((resolve) => {
    let done = false;
    const finish = (ok) => {
      if (!done) {
        done = true;
        resolve(ok);
      }
    };
    setTimeout(() => finish(false), IMAGE_TIMEOUT_MS);
    try {
      const xhr = new XMLHttpRequest();
      xhr.open('GET', url + '?_=' + Date.now(), true);
      xhr.responseType = 'blob';
      xhr.onload = () => {
        if (xhr.status !== 200) return finish(false);
        const image = new Image();
        const objectUrl = URL.createObjectURL(xhr.response);
        image.onload = () => {
          URL.revokeObjectURL(objectUrl);
          finish(true);
        };
        image.onerror = () => {
          URL.revokeObjectURL(objectUrl);
          finish(false);
        };
        image.src = objectUrl;
      };
      xhr.onerror = () => finish(false);
      xhr.onabort = () => finish(false);
      xhr.send();
    } catch (e) {
      finish(false);
    }
  });
}

function withTimeout(promise, ms) {
  return Promise.race([
    promise,
    new Promise((resolve, reject) => setTimeout(() => reject(new Error('timed out')), ms)),
  ]);
}

function nodesWithImages(minder) {
  const nodes = [];
  minder.getRoot().traverse((node) => {
    if (node.getData('image')) nodes.push(node);
  });
  return nodes;
}

// Takes the pictures off the given nodes for the rendering and returns a function that
// puts them back.
function strip(minder, nodes) {
  const saved = nodes.map((node) => [node, node.getData('image'), node.getData('imageSize')]);
  for (const node of nodes) {
    node.setData('image', null);
    node.setData('imageSize', null);
    node.render();
  }
  if (nodes.length) minder.layout();
  return () => {
    for (const [node, image, size] of saved) {
      node.setData('image', image);
      node.setData('imageSize', size);
      node.render();
    }
    if (saved.length) minder.layout();
  };
}

// The scale that keeps the exporter's canvas within the browser's limits (1 when it fits).
function fittingScale(minder) {
  // The exporter pads after scaling.
  const box = minder.getRenderContainer().getRenderBox();
  const room = MAX_SIDE - PADDING;
  return Math.min(1, room / box.width, room / box.height, Math.sqrt(MAX_AREA / ((box.width + PADDING) * (box.height + PADDING))));
}

async function renderOnce(minder, skipNodes, scale) {
  const restore = strip(minder, skipNodes);
  const container = minder.getRenderContainer();
  if (scale < 1) container.setScale(scale);
  const originalAlert = window.alert;
  window.alert = (message) => console.warn('export:', message);
  try {
    const dataUrl = await withTimeout(Promise.resolve(minder.exportData('png')), EXPORT_TIMEOUT_MS);
    if (typeof dataUrl !== 'string' || !dataUrl.startsWith('data:image/png;base64,') || dataUrl.length < 40) {
      throw new Error('the canvas gave no picture');
    }
    return dataUrl;
  } finally {
    window.alert = originalAlert;
    if (scale < 1) {
      container.transform.scale = null;
      container._applyTransform();
    }
    restore();
  }
}

// Resolves to { dataUrl, skippedImages, scale }; rejects when no picture could be made.
// settle: a layout animation may be running, so lay the map out again without one first.
export async function renderPng(minder, { settle = true } = {}) {
  const saved = {};
  for (const name of ANIMATION_OPTIONS) {
    saved[name] = minder.getOption(name);
    minder.setOption(name, 0);
  }
  // The picture is for readers of the page: without the editor's selection outline.
  const selected = minder.getSelectedNodes().slice();
  try {
    if (selected.length) minder.removeAllSelectedNodes();
    // Bring every node to its final place: a layout still animating would be caught midway.
    if (settle) minder.layout();
    const withImages = nodesWithImages(minder);
    const scale = fittingScale(minder);
    // The exporter places node pictures unscaled: a scaled rendering goes without them.
    const checks = scale < 1 ? withImages.map(() => false)
      : await Promise.all(withImages.map((node) => imageLoads(node.getData('image'))));
    const broken = withImages.filter((node, i) => !checks[i]);
    try {
      return { dataUrl: await renderOnce(minder, broken, scale), skippedImages: broken.length, scale };
    } catch (e) {
      if (!withImages.length || broken.length === withImages.length) throw e;
      console.warn('export with pictures failed, retrying without them', e);
      return { dataUrl: await renderOnce(minder, withImages, scale), skippedImages: withImages.length, scale };
    }
  } finally {
    if (selected.length) minder.select(selected, true);
    for (const name of ANIMATION_OPTIONS) minder.setOption(name, saved[name]);
  }
}
