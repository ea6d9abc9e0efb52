// The PNG rendering of the map that readers of the page see: the map's own SVG drawn on a
// canvas with the editor's fonts, a margin that keeps shadows whole, and as many pixels per
// point as the screen has. Node pictures are loaded first; one that cannot be loaded is
// left out of the rendering rather than holding it up.

import { drawHeldBack } from './layout-guard.js';

const IMAGE_TIMEOUT_MS = 8000;
const EXPORT_TIMEOUT_MS = 30000;

// A canvas past these is refused by the browser (or is a picture nobody can upload):
// larger maps are rendered scaled down to fit.
const MAX_SIDE = 16000;
const MAX_AREA = 64e6;
// Around the map on each side; the picture is the map's box plus one point plus twice this.
const MARGIN = 20;
const PADDING = 2 * MARGIN + 1;
// Finer than this is hardly seen on any screen and makes the upload much larger.
const MAX_PIXEL_RATIO = 2;

const ANIMATION_OPTIONS = ['layoutAnimationDuration', 'viewAnimationDuration', 'zoomAnimationDuration'];

// Loads a node's picture (through XHR, as a picture from another site then needs no CORS
// header) and checks that it decodes, with a time limit. Resolves to the picture as a data
// URL, which the map's SVG can hold, or null.
function loadPicture(url) {
  return new Promise((resolve) => {
    let done = false;
    const finish = (dataUrl) => {
      if (!done) {
        done = true;
        resolve(dataUrl);
      }
    };
    setTimeout(() => finish(null), IMAGE_TIMEOUT_MS);
    try {
      const xhr = new XMLHttpRequest();
      xhr.open('GET', url + '?_=' + Date.now(), true);
      xhr.responseType = 'blob';
      xhr.onload = () => {
        if (xhr.status !== 200) return finish(null);
        const objectUrl = URL.createObjectURL(xhr.response);
        loadImage(objectUrl)
          .then(() => new Promise((read) => {
            const reader = new FileReader();
            reader.onload = () => read(reader.result);
            reader.onerror = () => read(null);
            reader.readAsDataURL(xhr.response);
          }))
          .catch(() => null)
          .then(finish)
          .finally(() => URL.revokeObjectURL(objectUrl));
      };
      xhr.onerror = () => finish(null);
      xhr.onabort = () => finish(null);
      xhr.send();
    } catch (e) {
      finish(null);
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

// The scale of the map (1 when it fits) and the pixels per point that keep the canvas
// within the browser's limits. A map too large at one pixel per point is scaled down.
function fitting(minder) {
  const box = minder.getRenderContainer().getRenderBox();
  const room = MAX_SIDE - PADDING;
  const scale = Math.min(1, room / box.width, room / box.height,
    Math.sqrt(MAX_AREA / ((box.width + PADDING) * (box.height + PADDING))));
  if (scale < 1) return { scale, ratio: 1 };
  const width = box.width + PADDING;
  const height = box.height + PADDING;
  const wanted = Math.min(MAX_PIXEL_RATIO, Math.max(1, window.devicePixelRatio || 1));
  const ratio = Math.max(1, Math.min(wanted, MAX_SIDE / width, MAX_SIDE / height, Math.sqrt(MAX_AREA / (width * height))));
  return { scale, ratio };
}

// The map as a standalone SVG text, placed inside the margin, in the fonts the editor
// shows it in: on the page the map inherits its font, which a picture has nowhere to get.
// A picture on its own loads nothing from elsewhere, so node pictures go in as data.
function svgSource(minder, pictures) {
  const paper = minder.getPaper();
  const container = minder.getRenderContainer();
  const box = container.getRenderBox();
  const width = Math.trunc(box.width + PADDING);
  const height = Math.trunc(box.height + PADDING);
  const viewTransform = paper.shapeNode.getAttribute('transform');
  paper.shapeNode.setAttribute('transform', `translate(${MARGIN + 0.5}, ${MARGIN + 0.5})`);
  // The box is where the map is drawn; the container moves it within its own scale.
  const scale = container.transform.scale ? container.transform.scale[0] : 1;
  container.translate(-box.x / scale, -box.y / scale);
  let svg;
  try {
    svg = paper.node.cloneNode(true);
  } finally {
    container.translate(box.x / scale, box.y / scale);
    paper.shapeNode.setAttribute('transform', viewTransform);
  }
  // Topics far from the view are hidden in the page only (layout-guard.js).
  for (const shape of svg.querySelectorAll('[style*="visibility"]')) shape.style.removeProperty('visibility');
  for (const image of svg.querySelectorAll('image')) {
    const href = image.getAttribute('xlink:href') || image.getAttribute('href');
    const data = pictures.get(href);
    if (data) image.setAttributeNS('http://www.w3.org/1999/xlink', 'xlink:href', data);
    else image.remove();
  }
  const font = getComputedStyle(container.node);
  svg.setAttribute('width', width);
  svg.setAttribute('height', height);
  svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
  svg.setAttribute('style', `font-family: ${font.fontFamily}; font-size: ${font.fontSize};`);
  // Characters XML does not allow would make the whole picture fail to load.
  const xml = new XMLSerializer().serializeToString(svg).replace(/[\x00-\x08\x0B\x0C\x0E-\x1F\x7F]/g, '');
  return { xml, width, height };
}

function loadImage(url) {
  return new Promise((resolve, reject) => {
    const image = new Image();
    image.onload = () => resolve(image);
    image.onerror = () => reject(new Error('a part of the picture did not load'));
    image.src = url;
  });
}

async function loadSvg(xml) {
  const url = URL.createObjectURL(new Blob([xml], { type: 'image/svg+xml' }));
  try {
    return await loadImage(url);
  } finally {
    URL.revokeObjectURL(url);
  }
}

// The theme's background: a colour, or a picture repeated.
async function paintBackground(minder, ctx, width, height) {
  const declared = String(minder.getStyle('background') || '');
  const url = /url\("?([^")]+)"?\)/.exec(declared);
  let fill = kity.Color.parse(declared).toString();
  if (url) {
    const tile = await withTimeout(loadImage(url[1]), IMAGE_TIMEOUT_MS).catch(() => null);
    if (tile) fill = ctx.createPattern(tile, 'repeat');
  }
  ctx.fillStyle = fill;
  ctx.fillRect(0, 0, width, height);
}

function crc32(bytes) {
  let crc = ~0;
  for (const byte of bytes) {
    crc ^= byte;
    for (let k = 0; k < 8; k++) crc = (crc >>> 1) ^ (0xedb88320 & -(crc & 1));
  }
  return ~crc >>> 0;
}

// Tells viewers the picture's density, so that a picture made on a high-density screen is
// shown at the map's size, only sharper.
function withDensity(dataUrl, ratio) {
  if (ratio === 1) return dataUrl;
  const bytes = Uint8Array.from(atob(dataUrl.slice(dataUrl.indexOf(',') + 1)), (c) => c.charCodeAt(0));
  const perMetre = Math.round((ratio * 96) / 0.0254);
  const chunk = new Uint8Array(21);
  const view = new DataView(chunk.buffer);
  view.setUint32(0, 9);
  chunk.set([0x70, 0x48, 0x59, 0x73], 4); // pHYs
  view.setUint32(8, perMetre);
  view.setUint32(12, perMetre);
  chunk[16] = 1; // per metre
  view.setUint32(17, crc32(chunk.subarray(4, 17)));
  // Right after the signature (8 bytes) and the header chunk (25 bytes).
  const out = new Uint8Array(bytes.length + chunk.length);
  out.set(bytes.subarray(0, 33));
  out.set(chunk, 33);
  out.set(bytes.subarray(33), 33 + chunk.length);
  let binary = '';
  for (let i = 0; i < out.length; i += 0x8000) binary += String.fromCharCode(...out.subarray(i, i + 0x8000));
  return 'data:image/png;base64,' + btoa(binary);
}

// The map's SVG source at the given scale (a map too large at one pixel per point is drawn
// smaller).
function scaledSvg(minder, pictures, scale) {
  const container = minder.getRenderContainer();
  if (scale < 1) container.setScale(scale);
  try {
    return svgSource(minder, pictures);
  } finally {
    if (scale < 1) {
      container.transform.scale = null;
      container._applyTransform();
    }
  }
}

async function renderOnce(minder, pictures, { scale, ratio }) {
  const { xml, width, height } = scaledSvg(minder, pictures, scale);
  const canvas = document.createElement('canvas');
  canvas.width = Math.round(width * ratio);
  canvas.height = Math.round(height * ratio);
  const ctx = canvas.getContext('2d');
  ctx.scale(ratio, ratio);
  await paintBackground(minder, ctx, width, height);
  ctx.drawImage(await loadSvg(xml), 0, 0, width, height);
  const dataUrl = canvas.toDataURL('image/png');
  if (!dataUrl.startsWith('data:image/png;base64,') || dataUrl.length < 40) throw new Error('the canvas gave no picture');
  return { dataUrl: withDensity(dataUrl, ratio), svg: xml, ratio };
}

// Makes the picture with draw(pictures, fit) once the map is still, unselected and its node
// pictures loaded. settle: a layout animation may be running, so lay the map out again
// without one first.
async function makePicture(minder, settle, draw) {
  // All of the map, also what opening has not drawn yet.
  drawHeldBack(minder);
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
    const fit = fitting(minder);
    // A map scaled down to fit is an overview: it goes without node pictures.
    const images = fit.scale < 1 ? withImages.map(() => null)
      : await Promise.all(withImages.map((node) => loadPicture(node.getData('image'))));
    const broken = withImages.filter((node, i) => !images[i]);
    const pictures = new Map(withImages.map((node, i) => [node.getData('image'), images[i]]).filter(([, data]) => data));
    // A node whose picture is left out is laid out without it: no hole where it was.
    const restore = strip(minder, broken);
    try {
      const result = await draw(pictures, fit);
      return { ...result, skippedImages: broken.length, scale: fit.scale };
    } finally {
      restore();
    }
  } finally {
    if (selected.length) minder.select(selected, true);
    for (const name of ANIMATION_OPTIONS) minder.setOption(name, saved[name]);
  }
}

// Resolves to { dataUrl, svg, skippedImages, scale, ratio }; rejects when no picture could
// be made.
export function renderPng(minder, { settle = true } = {}) {
  return makePicture(minder, settle, (pictures, fit) => withTimeout(renderOnce(minder, pictures, fit), EXPORT_TIMEOUT_MS));
}

// The same picture as SVG text, without drawing it: { svg, skippedImages, scale }.
export function renderSvg(minder) {
  return makePicture(minder, true, (pictures, fit) => ({ svg: scaledSvg(minder, pictures, fit.scale).xml }));
}
