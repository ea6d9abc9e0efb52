// The page's changes to the engine, each with its reason; installed before the engine is
// created.
//
// 1. The engine ends each node's layout animation with one more frame 150 ms after it, in
// case the last one was dropped. That frame also lands when a newer layout has moved the
// node since, and puts it back where the older layout wanted it: nodes overlap until the
// next change, and a picture rendered then shows them so. This replacement of the
// engine's applyLayoutResult is the engine's own, except that a node's late frame is
// applied only while its animation is still the node's newest.
//
// 2. The engine lays out every node of the map twice for any change, then moves and
// redraws the connection of every node; on a map of thousands of topics one keystroke
// took a third of a second and more. layout() below lays out again only the nodes whose
// box, children, fold or depth changed and their ancestors, and applyLayoutResult touches
// only the nodes that moved or were laid out again; everything ends where the engine's full
// layout puts it. Layouts that read positions outside a node's own branch (fish-bone,
// tianpan, a node with a layout of its own) and theme or template changes get the full
// layout.
//
// 3. After every layout the engine's arrow-key navigation works out the nearest neighbours
// of every node against every other node, which grows with the square of the map (seconds
// at 5,000 topics). The page navigates by its own geometry (geometry.js); the engine's
// table is built on demand when a node has none, so after a layout it is only dropped.
//
// 4. The engine measures each line of text right after moving it, so every measurement
// waits for the browser to lay out the page again: opening 5,000 topics spent seconds there.
// Lines whose text was set since the last measurement are measured together at the first
// request, before anything moves, and each request in the same task takes its line's
// figure (moved by as much as the line has moved since).
//
// 5. Without animation the engine draws each node's connection twice for one move (on
// layoutapply and again on layoutfinish, for the same place); the second is skipped. A
// node not yet laid out has no place to draw it from: the engine drew it where the parent
// is on rendering, and again once laid out; only the second is drawn.
//
// 6. Every line of text reads the browser's computed font when it is created and whenever
// its font is set, for the one use of that font: looking up how far text aligned to its
// top, middle or bottom is shifted. Each read waits for the browser to work out the styles
// of the page again (a second and more when opening 5,000 topics), and topics' lines are
// never aligned that way. A line in the page reads its font when the shift is looked up.
//
// 7. The engine looks every style of every node up in the theme by name for each render
// and layout, splitting the name again at each miss ('main-padding-left' is found under
// 'padding'): hundreds of thousands of look-ups when opening 5,000 topics. What a name
// gives in a theme is kept, per theme, until another theme is registered under its name.
//
// 8. The engine creates the fold button of every topic, a group of three shapes with their
// own listeners, also for topics without children, where it is never shown: a third of a
// second when opening 5,000 topics. It is created when the topic first has children, where
// the engine would have put it: right before the topic's outline.
//
// 9. The engine makes a new layout object, through its class system, each time it lays out
// a node or asks how to place one: tens of thousands when opening 5,000 topics. Layouts keep
// no state of their own, so one object per layout serves every node. Which layout a node has
// is worked out from its parent's, up to the main topic, whose side is read from its place:
// for each node again; within one round of layout it is kept.
//
// 10. With layout animated (small maps), every node of the map was animated to its place and
// its connection drawn again when it arrived, also the nodes that did not move: on a map of
// a few hundred topics a fold or a delete then missed the next frame. Only the nodes that
// move, or whose own or parent's layout was done again, are animated; the rest keep their
// place and connection, which are what the engine would draw again.
//
// 11. Every topic that moved had its connection worked out again, with new points, vectors
// and path objects, although most move along with their parent, a whole branch at a time
// (adding or folding deep in a map moves half of its side). Where a topic and its parent
// moved by the same amount and neither was laid out again, the connection's path is moved
// by as much; its numbers are kept, so that moving it again parses nothing.
//
// 12. For every topic that moved, the engine set its fold button's sign and place again,
// although both lie in the topic's own frame and depend only on its box, its children, its
// fold and its parent's: a fold button of a topic that only moved along, as in 11, is as it
// was.
//
// 13. Opening a map drew every topic's connection and fold button before the first frame:
// a quarter of opening 5,000 topics, nearly all of it out of view. While a large map opens
// (openViewFirst), both are held back; those near the view are drawn before the page shows
// the map, the rest right after that frame, or at once when anything comes first: a
// command, a layout, the view moving, a key, a click, the wheel, the window resized, a
// picture of the map. Connections are made in the order of their topics, as the engine
// makes them, and are drawn from where the topics are then, as the engine would draw them
// again.
//
// 14. For every topic the engine makes one object for each kind of drawing it knows (eleven)
// through its class system, whose constructors find their base class by looking up their
// caller on the stack: 55,000 objects and about 0.17 s when opening 5,000 topics. Those whose
// classes add nothing to the base class's constructor (no constructor or mixin of their own)
// are made directly, with the fields the class system gives them.
//
// 15. A topic's outline is a rectangle the engine draws again for its position, its size and
// its corners' radius in turn: its path was built and set three times for every outline
// drawn. It is built once, with all three.
//
// 16. The engine measures a topic's lines of text and then places each line at its height in
// the topic, and a line placed after it was measured has its text laid out by the browser
// once more (about 0.2 s when opening 5,000 topics). Lines are placed as their text is set,
// where the engine then places them, and placing a line where it already is changes nothing.
//
// 17. An edit on a large map moved every topic it shifted before the frame that shows it: an
// add near the main topic shifts half of its side, nearly all of it out of view (most of the
// script of an add at 2,000 topics). A branch that only moves along (neither it nor its
// parent laid out again), holds no selected topic and stands, with its connection, more than
// half a window from the view before and after the move is placed right after that frame, or
// at once when anything comes first (as in 13) or one of its topics is selected (the view
// moves to a selected topic from where it stands).
//
// 18. The browser records the drawing of every shape of the map again for each frame in
// which anything of it changed: about 60 ms of every frame at 5,000 topics, whatever the
// change. On a large map, topics and connections more than half a window from the view are
// hidden (visibility: they are still measured and laid out) and shown again before any frame
// shows the view near them: after each layout and whenever the view moves. Pictures of the
// map show everything (export-png.js takes the hiding off its copy).

// Templates whose layouts (mind, left, right, bottom) place a node's children from the
// node's box and its children's branches alone.
const LOCAL_TEMPLATES = new Set(['default', 'right', 'structure']);
const ZERO = Object.freeze({ x: 0, y: 0 });

// The node whose connection is not to be drawn again (see finish below).
let connectDrawn = null;
// The nodes laid out again, while a partial layout without animation moves the others.
let movedAlong = null;
// Drawing held back while a large map opens (13): { opening, connections, buttons }, the
// nodes whose connection or fold button is still to be made; null when nothing is.
let heldBack = null;
// Branches a partial layout left to place after the next frame (17): { relaid, nodes }, the
// layout's nodes laid out again and each branch's node with what placing it needs.
let heldPlaces = null;
// Maps of fewer topics open with everything drawn at once, and draw all of the map (18).
const HOLD_BACK_FROM = 500;
// Whether topics far from the view are hidden (18), and whether a look again is queued.
let hidingFar = false;
let hideAgain = false;
// Connections whose path is the same shape wherever both ends are: moved by as much as
// both ends moved, it is what the engine would draw there, number for number (only
// halves, rounding and sums of the ends' places go into them).
const SHIFTABLE = new Set(['under', 'bezier']);

export function installLayoutGuard(kity, Minder) {
  const updateConnect = Minder.prototype.updateConnect;
  engineWay = { layout: Minder.prototype.layout, apply: Minder.prototype.applyLayoutResult, active: false };
  Minder.prototype.updateConnect = function updateConnectOnce(node) {
    const skip = node === connectDrawn || !node._globalLayoutTransform;
    if (!engineWay.active && (skip || (movedAlong && shiftConnection(node, movedAlong)))) return;
    updateConnect.call(this, node);
    rememberConnection(node);
  };
  installPartialLayout(kity, Minder);
  installSharedLayouts(Minder);
  installBatchedTextMeasure(kity);
  installFontOnDemand(kity);
  installStyleMemo(Minder);
  installViewFirst(kity, Minder);
  Minder.registerInitHook(function renderersMadeDirectly() {
    // What the class system gives a class that adds nothing to its base's constructor.
    const plain = String(kity.createClass('PlainRenderer', { base: kityminder.Render }).__KityConstructor);
    for (const [section, classes] of Object.entries(this._rendererClasses)) {
      this._rendererClasses[section] = classes.map((Renderer) => madeDirectly(Renderer, plain));
    }
  });
  Minder.registerInitHook(function outlinesDrawnOnce() {
    const Outline = rendererClass(this, 'OutlineRenderer');
    if (Outline) installOutlineDrawnOnce(kity, Outline);
  });
  Minder.registerInitHook(function linesPlacedFirst() {
    const Lines = rendererClass(this, 'TextRenderer');
    if (Lines) installLinesPlacedFirst(kity, Lines);
  });
  Minder.registerInitHook(function foldButtonsOnDemand() {
    const Expander = rendererClass(this, 'ExpanderRenderer');
    if (!Expander) return;
    installFoldButtonOnDemand(Expander);
    // A topic that gains children is laid out again but not always drawn again.
    this.on('layoutapply', ({ node }) => makeFoldButton(node));
  });
  Minder.registerInitHook(function foldButtonsMoveAlong() {
    const expand = this._modules.Expand;
    const update = expand && expand.events && expand.events.layoutapply;
    if (!update) return;
    this.off('layoutapply', update);
    this.on('layoutapply', function updateUnlessMovedAlong(e) {
      const node = e.node;
      if (movedAlong && !laidOutAgain(node, movedAlong)) return;
      update.call(this, e);
    });
  });
  Minder.registerInitHook(function dropNeighbourTable() {
    const keyboard = this._modules.KeyboardModule;
    const build = keyboard && keyboard.events && keyboard.events.layoutallfinish;
    if (!build) return;
    this.off('layoutallfinish', build);
    this.on('layoutallfinish', function forgetNeighbours() {
      this.getRoot().traverse((node) => {
        node._nearestNodes = null;
      });
    });
  });

  Minder.prototype.applyLayoutResult = function applyLayoutResult(root, duration, callback) {
    root = root || this.getRoot();
    let pending = root.getComplex();
    const consume = () => {
      if (!--pending && callback) callback();
    };
    // As the engine does: large maps are laid out without animation.
    if (pending > 200) duration = 0;
    // Nodes laid out again by a partial layout; null when all were. Then only the nodes that
    // moved or were laid out again are applied, and the callback comes once the last of them
    // is in place (counted down as they arrive; the callback waits for the walk to end).
    const relaid = this._layoutRelaid || null;
    if (relaid) pending = 1;
    const place = placer(kity, this, relaid, duration, () => {
      if (relaid) pending++;
      return consume;
    });
    // Branches far from the view are placed after the next frame (17).
    const later = relaid && !duration && heldPlaces === null ? holdPlaces(this, relaid) : null;
    try {
      place(root, root.parent ? root.parent.getGlobalLayoutTransform() : new kity.Matrix(), null, later);
    } finally {
      movedAlong = null;
    }
    if (later && later.nodes.size) {
      heldPlaces = later;
      requestAnimationFrame(() => setTimeout(() => drawHeldBack(this), 0));
    }
    if (relaid) consume();
    hideFarSoon(this);
    return this;
  };
}

// How a layout's result is applied: placer(...)(node, parentMatrix, parentWas, later) moves
// a node and its branch where the layout put them (the parent now at parentMatrix, before
// at parentWas; null: treat it as moved), animated over duration, except branches
// later.far() says may wait (17), which go into later.nodes. arrived() is called once per
// node moved and returns what to call when it is in place.
function placer(kity, minder, relaid, duration, arrived) {
  const partial = !!relaid;
  if (partial && !duration) movedAlong = relaid;
  const applyMatrix = (node, matrix) => {
    node.setGlobalLayoutTransform(matrix);
    minder.fire('layoutapply', { node, matrix });
  };
  const finish = (node, matrix, done) => {
    applyMatrix(node, matrix);
    // The connection was drawn for this very place by layoutapply a moment ago.
    connectDrawn = node;
    try {
      minder.fire('layoutfinish', { node, matrix });
    } finally {
      connectDrawn = null;
    }
    done();
  };
  const apply = (node, parentMatrix, parentWas, later) => {
    const matrix = node.getLayoutTransform().merge(parentMatrix.clone());
    const lastMatrix = node.getGlobalLayoutTransform() || new kity.Matrix();
    const offset = layoutOffset(node);
    matrix.translate(offset.x, offset.y);
    matrix.m.e = Math.round(matrix.m.e);
    matrix.m.f = Math.round(matrix.m.f);

    // A node that stays where it is, as does its parent, and whose own and parent's layout
    // did not change: its place and its connection are drawn as they would be again, and
    // as nothing below it was laid out again either, so is its whole branch.
    const was = node._globalLayoutTransform || null;
    const moved = !sameMatrix(was, matrix);
    if (partial && !moved && sameMatrix(parentWas, parentMatrix) && !node._layoutTimeline && !laidOutAgain(node, relaid)) {
      return;
    }
    if (later && !node._layoutTimeline && later.far(node, matrix, parentWas)) {
      later.nodes.set(node, [parentMatrix, parentWas]);
      return;
    }

    const done = arrived();
    if (node._layoutTimeline) {
      node._layoutTimeline.stop();
      node._layoutTimeline = null;
    }
    if (duration) {
      const timeline = new kity.Animator(lastMatrix, matrix, applyMatrix).start(node, duration, 'ease');
      node._layoutTimeline = timeline;
      timeline.on('finish', () => {
        setTimeout(() => {
          if (node._layoutTimeline !== timeline) return;
          node._layoutTimeline = null;
          finish(node, matrix, done);
        }, 150);
      });
    } else {
      finish(node, matrix, done);
    }
    for (const child of node.children) apply(child, matrix, was, later);
  };
  return apply;
}

// The branches of a partial layout that may be placed after the next frame (17): those that
// only move along (neither they nor their parent laid out again), hold no selected topic,
// and stand, with their connection, more than half a window from the view before and after.
function holdPlaces(minder, relaid) {
  const far = farFromView(minder);
  const selected = new Set();
  for (let node of minder.getSelectedNodes()) {
    for (; node && !selected.has(node); node = node.parent) selected.add(node);
  }
  return {
    relaid,
    nodes: new Map(),
    far(node, matrix, parentMatrixWas) {
      const parent = node.parent;
      const branch = node._branchBox;
      if (!parent || !branch || selected.has(node) || laidOutAgain(node, relaid)) return false;
      const places = [translation(node), placeOf(matrix)];
      const parentPlaces = [placeOf(parentMatrixWas), translation(parent)];
      if (!places.every(Boolean) || !parentPlaces.every(Boolean)) return false;
      const box = parent.getContentBox();
      return places.every((at) => far(boxAt(branch, at))) && parentPlaces.every((at) => far(boxAt(box, at)));
    },
  };
}

// Where a connection was last drawn from and to, and its path there.
function rememberConnection(node) {
  const connection = node._connection;
  const parent = node.parent;
  node._connectionAt = null;
  if (!connection || !parent || parent.isCollapsed() || !SHIFTABLE.has(node.getConnect())) return;
  const at = translation(node);
  const parentAt = translation(parent);
  if (at && parentAt) node._connectionAt = { at, parentAt, path: connection.getPathData() };
}

// A node and its parent moved by the same amount, neither laid out again (so neither box
// changed): the connection's path moves by as much. Returns false where it has to be drawn.
function shiftConnection(node, relaid) {
  const was = node._connectionAt;
  const parent = node.parent;
  if (!was || !parent || laidOutAgain(node, relaid) || parent.isCollapsed()) return false;
  const at = translation(node);
  const parentAt = translation(parent);
  if (!at || !parentAt) return false;
  const dx = at.x - was.at.x;
  const dy = at.y - was.at.y;
  if (parentAt.x - was.parentAt.x !== dx || parentAt.y - was.parentAt.y !== dy) return false;
  if (was.parts === undefined) was.parts = pathParts(was.path);
  if (!was.parts) return false;
  const parts = shiftParts(was.parts, dx, dy);
  const path = partsToPath(parts);
  if (path !== was.path) node._connection.setPathData(path);
  node._connectionAt = { at, parentAt, path, parts };
  return true;
}

// Whether a partial layout did a node's or its parent's layout again: what is drawn from
// both (its place in the parent, its connection, its fold button) may have changed.
function laidOutAgain(node, relaid) {
  return relaid.has(node) || (!!node.parent && relaid.has(node.parent));
}

// The place of a node moved without turning or scaling; null otherwise.
function translation(node) {
  return placeOf(node._globalLayoutTransform);
}

function placeOf(matrix) {
  if (!matrix) return null;
  const m = matrix.m;
  return m.a === 1 && m.b === 0 && m.c === 0 && m.d === 1 ? { x: m.e, y: m.f } : null;
}

// A path of absolute moves, lines and curves ('M1 2C3,4,5,6,7 8L9 10', as the engine writes
// them) as its numbers, whether each is an x or a y, and the text around them, so that
// moving it again parses nothing; null for any other path.
const PATH = /^(?:[MLCSQT][-0-9., e+]*)+$/;
const NUMBER = /-?[0-9.]+(?:e[-+]?[0-9]+)?|[MLCSQT]/g;
function pathParts(path) {
  if (!PATH.test(path)) return null;
  const texts = [];
  const numbers = [];
  const isY = [];
  let from = 0;
  let count = 0;
  for (const match of path.matchAll(NUMBER)) {
    if (/[MLCSQT]/.test(match[0])) {
      if (count % 2) return null;
      count = 0;
      continue;
    }
    texts.push(path.slice(from, match.index));
    numbers.push(Number(match[0]));
    isY.push(count++ % 2 === 1);
    from = match.index + match[0].length;
  }
  if (count % 2) return null;
  texts.push(path.slice(from));
  return { texts, numbers, isY };
}

function shiftParts({ texts, numbers, isY }, dx, dy) {
  return { texts, isY, numbers: numbers.map((n, i) => n + (isY[i] ? dy : dx)) };
}

function partsToPath({ texts, numbers }) {
  let path = texts[0];
  for (let i = 0; i < numbers.length; i++) path += String(numbers[i]) + texts[i + 1];
  return path;
}

// The engine's getLayoutOffset looks the offset up under the parent's layout name, which
// takes a walk up the map for every node; most nodes were never dragged and have none.
function layoutOffset(node) {
  for (const key in node.data) {
    if (key.startsWith('layout_')) return node.getLayoutOffset();
  }
  return ZERO;
}

function sameMatrix(a, b) {
  if (!a || !b) return false;
  const x = a.m;
  const y = b.m;
  return x.a === y.a && x.b === y.b && x.c === y.c && x.d === y.d && x.e === y.e && x.f === y.f;
}

// What a node's place in its parent's layout depends on besides its children's branches,
// kept after each layout to find the nodes an edit changed.
function rememberInputs(node, depth) {
  const box = node.getContentBox();
  node._layoutInputs = {
    x: box.x, y: box.y, width: box.width, height: box.height,
    expanded: node.isExpanded(), depth, parent: node.parent, children: node.children.slice(),
  };
  // The side a main topic is on, which its whole branch is laid out for (default template).
  node._layoutSide = depth === 1 ? node.getLayout() : undefined;
}

function inputsChanged(node, depth) {
  const was = node._layoutInputs;
  if (!was || was.depth !== depth || was.parent !== node.parent) return true;
  if (was.expanded !== node.isExpanded()) return true;
  const box = node.getContentBox();
  if (was.x !== box.x || was.y !== box.y || was.width !== box.width || was.height !== box.height) return true;
  const children = node.children;
  if (was.children.length !== children.length) return true;
  for (let i = 0; i < children.length; i++) if (was.children[i] !== children[i]) return true;
  return false;
}

function installBatchedTextMeasure(kity) {
  const Text = kity.Text.prototype;
  const setContent = Text.setContent;
  const measure = Text.getBoundaryBox;
  let unmeasured = new Set();
  const measured = new Map();
  const position = (shape) => [shape.node.getAttribute('x'), shape.node.getAttribute('y')];

  Text.setContent = function setContentAndForget(content) {
    measured.delete(this);
    // A line the engine does not measure (its text is known) is not kept past this task.
    if (!unmeasured.size) queueMicrotask(() => unmeasured.clear());
    unmeasured.add(this);
    return setContent.call(this, content);
  };
  Text.getBoundaryBox = function boundaryBox() {
    if (engineWay.active) return measure.call(this);
    if (unmeasured.has(this)) {
      const shapes = unmeasured;
      unmeasured = new Set();
      if (!measured.size) queueMicrotask(() => measured.clear());
      for (const shape of shapes) measured.set(shape, { box: measure.call(shape), at: position(shape) });
    }
    const known = measured.get(this);
    if (!known) return measure.call(this);
    measured.delete(this);
    const [x, y] = position(this);
    if (x !== known.at[0]) return measure.call(this);
    const box = known.box;
    const dy = (parseFloat(y) || 0) - (parseFloat(known.at[1]) || 0);
    return dy ? new kity.Box(box.x, box.y + dy, box.width, box.height) : box;
  };
}

function installFoldButtonOnDemand(Renderer) {
  const create = Renderer.prototype.create;
  const shouldRender = Renderer.prototype.shouldRender;
  Renderer.prototype.shouldRender = function shownOrHadChildren(node) {
    if (this.getRenderShape()) return shouldRender.call(this, node);
    if (!node.children.length || !shouldRender.call(this, node)) return false;
    if (!heldBack || !heldBack.opening) return true;
    heldBack.buttons.add(node);
    return false;
  };
  Renderer.prototype.create = function createBeforeOutline(node) {
    const button = create.call(this, node);
    const container = node.getRenderContainer();
    const outline = node.getRenderer('OutlineRenderer');
    const before = outline && outline.getRenderShape();
    if (button && before && before.container === container) {
      container.removeShape(button);
      container.addShape(button, container.indexOf(before));
    }
    return button;
  };
}

// The engine's renderer class of that name, among those the minder's modules registered.
function rendererClass(minder, name) {
  return Object.values(minder._rendererClasses).flat().find((c) => c.__KityClassName === name);
}

// The fold button of a topic that has none yet and should.
function makeFoldButton(node) {
  const renderer = node.getRenderer('ExpanderRenderer');
  if (!renderer || renderer.getRenderShape() || !renderer.shouldRender(node)) return;
  renderer.setRenderShape(renderer.create(node));
  renderer.update(renderer.getRenderShape(), node);
}

let Path = null;
function installViewFirst(kity, Minder) {
  Path = kity.Path;
  const createConnect = Minder.prototype.createConnect;
  Minder.prototype.createConnect = function createConnectUnlessHeldBack(node) {
    if (heldBack && heldBack.opening && !node.isRoot()) heldBack.connections.add(node);
    else createConnect.call(this, node);
  };
  const layout = Minder.prototype.layout;
  Minder.prototype.layout = function layoutAllDrawn(...args) {
    drawHeldBack(this);
    return layout.apply(this, args);
  };
  // Selecting a topic moves the view to it, from where it stands: a branch waiting to be
  // placed is placed first.
  const select = Minder.prototype.select;
  Minder.prototype.select = function selectWhereItStands(nodes, single) {
    const waiting = (node) => {
      for (; node; node = node.parent) if (heldPlaces.nodes.has(node)) return true;
      return false;
    };
    if (heldPlaces && [nodes].flat().some(waiting)) drawHeldBack(this);
    return select.call(this, nodes, single);
  };
  Minder.registerInitHook(function drawHeldBackFirst() {
    const drawAll = () => drawHeldBack(this);
    this.on('beforeExecCommand viewchange', drawAll);
    for (const type of ['keydown', 'pointerdown', 'wheel', 'resize']) window.addEventListener(type, drawAll, true);
    this.on('viewchange', () => hideFarSoon(this));
    window.addEventListener('resize', () => hideFarSoon(this));
  });
}

// Runs open(), which replaces the map and moves the view to it, with the drawing of
// connections and fold buttons held back on a large map (13): those near the view are
// drawn before this returns, the rest after the next frame.
export function openViewFirst(minder, nodeCount, open) {
  // Whatever was held back belongs to the map being replaced.
  heldPlaces = null;
  hidingFar = nodeCount >= HOLD_BACK_FROM;
  heldBack = nodeCount < HOLD_BACK_FROM ? null : { opening: true, connections: new Set(), buttons: new Set() };
  if (!heldBack) return open();
  try {
    return open();
  } finally {
    heldBack.opening = false;
    drawHeldBack(minder, nearView(minder));
    if (heldBack) requestAnimationFrame(() => setTimeout(() => drawHeldBack(minder), 0));
  }
}

// What is held back, all of it or where near(node) says; nothing while the map still opens.
export function drawHeldBack(minder, near = null) {
  if (heldPlaces && !near) placeHeldBack(minder);
  const held = heldBack;
  if (!held || held.opening) return;
  if (!near) heldBack = null;
  if (held.connections.size) {
    const container = minder.getConnectContainer();
    // Each connection goes where the engine would have made it: in its topic's order.
    let index = 0;
    minder.getRoot().preTraverse((node) => {
      if (node._connection) {
        index++;
      } else if (held.connections.has(node) && (!near || near(node))) {
        held.connections.delete(node);
        node._connection = new Path();
        container.addShape(node._connection, index++);
        minder.updateConnect(node);
      }
    });
  }
  for (const node of held.buttons) {
    if (near && !near(node)) continue;
    held.buttons.delete(node);
    makeFoldButton(node);
  }
  hideFarSoon(minder);
}

// Looks again at which topics are far from the view (18), once what is running now is done:
// before the frame that shows the change, also when the change is made by an animation's
// frame (a look queued for the next frame would come one frame late, after a long jump of
// the view on a slow machine). While a map opens, once everything is drawn (its first frame
// comes sooner without).
function hideFarSoon(minder) {
  if (!hidingFar || hideAgain || heldBack) return;
  hideAgain = true;
  queueMicrotask(() => {
    hideAgain = false;
    if (hidingFar) hideFar(minder);
  });
}

function hideFar(minder) {
  const far = farFromView(minder);
  const hide = (shape, hidden) => {
    if (!shape || !!shape._hiddenFar === hidden) return;
    shape._hiddenFar = hidden;
    shape.node.style.visibility = hidden ? 'hidden' : '';
    if (!shape.node.style.length) shape.node.removeAttribute('style');
  };
  const walk = (node, parentBox) => {
    const at = translation(node);
    const box = at && boxAt(node.getContentBox(), at);
    hide(node.getRenderContainer(), !!box && far(box));
    // A connection runs within the box around its topic and the parent.
    hide(node._connection, !!box && !!parentBox && far(around(box, parentBox)));
    for (const child of node.children) walk(child, box);
  };
  walk(minder.getRoot(), null);
}

// Whether a box lies more than half a window beyond the view (13, 17, 18).
function farFromView(minder) {
  const view = minder.getViewDragger().getView();
  const margin = Math.max(view.width, view.height) / 2;
  return (box) => box.right < view.left - margin || box.left > view.right + margin
    || box.bottom < view.top - margin || box.top > view.bottom + margin;
}

// A box in a node's frame where the node is placed at.
function boxAt(box, at) {
  return { left: box.left + at.x, right: box.right + at.x, top: box.top + at.y, bottom: box.bottom + at.y };
}

function around(a, b) {
  return {
    left: Math.min(a.left, b.left), right: Math.max(a.right, b.right),
    top: Math.min(a.top, b.top), bottom: Math.max(a.bottom, b.bottom),
  };
}

// Places the branches a partial layout left for after the frame (17), as it would have.
function placeHeldBack(minder) {
  const { relaid, nodes } = heldPlaces;
  heldPlaces = null;
  const place = placer(kity, minder, relaid, 0, () => () => {});
  const root = minder.getRoot();
  const inMap = (node) => {
    while (node.parent) node = node.parent;
    return node === root;
  };
  try {
    for (const [node, [parentMatrix, parentWas]] of nodes) {
      if (inMap(node)) place(node, parentMatrix, parentWas, null);
    }
  } finally {
    movedAlong = null;
  }
  // They were far from the view where it was when they were laid out.
  hideFarSoon(minder);
}

// Whether a topic or its connection lies within half a window of the view.
function nearView(minder) {
  const far = farFromView(minder);
  // A node's box where it is laid out, without making one where the node only moved.
  const boxOf = (node) => {
    const place = translation(node);
    return place ? boxAt(node.getContentBox(), place) : node.getLayoutBox();
  };
  return (node) => {
    const parent = node.parent;
    if (!node._globalLayoutTransform || (parent && !parent._globalLayoutTransform)) return false;
    const box = boxOf(node);
    return !far(parent ? around(box, boxOf(parent)) : box);
  };
}

// A class the same as Renderer but made without the class system (14), or Renderer itself
// where its constructors do anything more than the base class's (plain, the constructor of
// one that does not).
function madeDirectly(Renderer, plain) {
  const Base = kityminder.Render;
  for (let c = Renderer; c !== Base; c = c.__KityBaseClass) {
    if (!c || c.__KityMixins || String(c.__KityConstructor) !== plain) return Renderer;
  }
  const construct = Base.__KityConstructor;
  function Made(node) {
    const renderer = Object.create(Renderer.prototype);
    construct.call(renderer, node);
    renderer.__KityClassName = Renderer.__KityClassName;
    return renderer;
  }
  Made.prototype = Renderer.prototype;
  Object.setPrototypeOf(Made, Renderer);
  return Made;
}

function installOutlineDrawnOnce(kity, Outline) {
  const Rect = kity.Rect.prototype;
  const draw = Rect.update;
  Rect.update = function drawUnlessHeld() {
    return this._drawnOnce ? this : draw.call(this);
  };
  const update = Outline.prototype.update;
  Outline.prototype.update = function updateDrawingOnce(outline, node, box) {
    if (engineWay.active) return update.call(this, outline, node, box);
    outline._drawnOnce = true;
    try {
      return update.call(this, outline, node, box);
    } finally {
      outline._drawnOnce = false;
      draw.call(outline);
    }
  };
}

function installLinesPlacedFirst(kity, Lines) {
  const Text = kity.Text.prototype;
  const setY = Text.setY;
  Text.setY = function setYUnlessThere(y) {
    if (!engineWay.active && this.node.getAttribute('y') === String(y)) return this;
    return setY.call(this, y);
  };
  const update = Lines.prototype.update;
  Lines.prototype.update = function updatePlacingLines(group, node, box) {
    const measureLater = update.call(this, group, node, box);
    if (typeof measureLater !== 'function' || engineWay.active) return measureLater;
    // The engine's heights for its lines, worked out as it does once they are measured.
    const lineHeight = node.getStyle('line-height');
    const fontSize = node.getData('font-size') || node.getStyle('font-size');
    const lines = group.getItems();
    const height = (lineHeight * fontSize) * lines.length - (lineHeight - 1) * fontSize;
    const yStart = -height / 2;
    lines.forEach((line, i) => line.setY(yStart + i * fontSize * lineHeight));
    return measureLater;
  };
}

function installSharedLayouts(Minder) {
  const create = Minder.getLayoutInstance;
  const shared = new Map();
  Minder.getLayoutInstance = function sharedLayout(name) {
    const LayoutClass = Minder.getLayoutList()[name];
    if (!LayoutClass || engineWay.active) return create.call(this, name);
    let layout = shared.get(LayoutClass);
    if (!layout) shared.set(LayoutClass, (layout = create.call(this, name)));
    return layout;
  };
}

function installStyleMemo(Minder) {
  const getStyle = Minder.prototype.getStyle;
  const byTheme = new WeakMap();
  Minder.prototype.getStyle = function rememberedStyle(name, node) {
    const theme = this.getThemeItems(node);
    if (!theme || engineWay.active) return getStyle.call(this, name, node);
    let styles = byTheme.get(theme);
    if (!styles) byTheme.set(theme, (styles = new Map()));
    if (!styles.has(name)) styles.set(name, getStyle.call(this, name, node));
    return styles.get(name);
  };
}

function installFontOnDemand(kity) {
  const Text = kity.Text.prototype;
  const readFont = Text._buildFontHash;
  Text._buildFontHash = function fontWhenAsked() {
    // A line not in the page has no computed font yet; reading it costs nothing.
    this._fontUnread = this.node.isConnected;
    if (!this._fontUnread) readFont.call(this);
  };
  Object.defineProperty(Text, '_cachedFontHash', {
    configurable: true,
    get() {
      if (this._fontUnread) {
        this._fontUnread = false;
        readFont.call(this);
      }
      return this._fontHash;
    },
    set(hash) {
      this._fontHash = hash;
    },
  });
}

// The engine's own way, for comparing with: every line of text measured alone, every node
// laid out and moved by the engine's own code, every connection drawn as it draws them.
let engineWay = null;
export function layoutInFull(minder) {
  drawHeldBack(minder);
  const root = minder.getRoot();
  engineWay.active = true;
  minder.applyLayoutResult = engineWay.apply;
  try {
    root.traverse((node) => {
      node._currentTextHash = null;
      node._branchBox = null;
    });
    root.renderTree();
    engineWay.layout.call(minder);
  } finally {
    delete minder.applyLayoutResult;
    engineWay.active = false;
  }
  rememberAll(root);
}

function rememberAll(root) {
  const pending = [[root, 0]];
  while (pending.length) {
    const [node, depth] = pending.pop();
    rememberInputs(node, depth);
    for (const child of node.children) pending.push([child, depth + 1]);
  }
}

function installPartialLayout(kity, Minder) {
  // A node's branch box (its own box and its children's branches, before its own place is
  // applied) stays the same until the node is laid out again; the engine works it out again
  // all the way down for every node it places. Kept on the node, used during layout() only.
  const engineTreeBox = kityminder.Layout.prototype.getTreeBox;
  let laying = false;
  function getTreeBox(nodes) {
    if (!laying) return engineTreeBox.call(this, nodes);
    let box = new kity.Box();
    for (const node of Array.isArray(nodes) ? nodes : [nodes]) {
      let branch = node._branchBox;
      if (!branch) {
        branch = node.getContentBox();
        if (node.isExpanded() && node.children.length) branch = branch.merge(this.getTreeBox(node.children));
        node._branchBox = branch;
      }
      box = box.merge(node.getLayoutTransform().transformBox(branch));
    }
    return box;
  }
  // Each layout class has its own copy of the base class's methods.
  for (const LayoutClass of Object.values(Minder.getLayoutList())) {
    LayoutClass.prototype.getTreeBox = getTreeBox;
  }
  const doLayout = (node, round) => {
    node._branchBox = null;
    node.getLayoutInstance().doLayout(node, node.getChildren(), round);
  };
  // Which layout a node has, kept for one round: a main topic's side is read from where the
  // root placed it, and the root is laid out last in every round.
  const getLayout = kityminder.Node.prototype.getLayout;
  let layoutNames = null;
  kityminder.Node.prototype.getLayout = function layoutThisRound() {
    if (!layoutNames) return getLayout.call(this);
    let name = layoutNames.get(this);
    if (name === undefined) layoutNames.set(this, (name = getLayout.call(this)));
    return name;
  };
  const inOneRound = (lay) => {
    layoutNames = new Map();
    try {
      lay();
    } finally {
      layoutNames = null;
    }
  };

  // The engine's layout: every node, children first, in two rounds (the second lets a node's
  // layout depend on where the first put it).
  function layoutAll(root) {
    root.traverse((node) => node.setLayoutTransform(null));
    const layoutNode = (node, round) => {
      for (const child of node.children) layoutNode(child, round);
      doLayout(node, round);
    };
    inOneRound(() => layoutNode(root, 1));
    inOneRound(() => layoutNode(root, 2));
  }

  // Lays out the given nodes again, deepest first, so that each finds its children's
  // branches done; the layouts used here give the same in either round.
  function layoutSome(nodes, depthOf) {
    const order = [...nodes].sort((a, b) => depthOf.get(b) - depthOf.get(a));
    inOneRound(() => {
      for (const node of order) doLayout(node, 2);
    });
  }

  // Lays out the nodes whose inputs changed and their ancestors, and returns them; main
  // topics that changed sides (topics added or removed before them) have their whole branch
  // laid out again for the new side, and the root after it.
  function layoutChanged(root, changed, depthOf) {
    const relaid = new Set();
    for (let node of changed) {
      for (; node && !relaid.has(node); node = node.parent) relaid.add(node);
    }
    layoutSome(relaid, depthOf);
    const turned = new Set();
    for (const topic of root.children) {
      if (topic.getLayout() !== topic._layoutSide) topic.traverse((node) => turned.add(node));
    }
    if (turned.size) {
      turned.add(root);
      layoutSome(turned, depthOf);
      for (const node of turned) relaid.add(node);
    }
    for (const node of relaid) rememberInputs(node, depthOf.get(node));
    return relaid;
  }

  Minder.prototype.layout = function layout() {
    const duration = this.getOption('layoutAnimationDuration');
    const root = this.getRoot();
    const style = `${this.getTemplate()}/${this.getTheme()}`;
    let partial = this._layoutStyle === style && LOCAL_TEMPLATES.has(this.getTemplate());

    const depthOf = new Map();
    const changed = [];
    const pending = [[root, 0]];
    while (pending.length) {
      const [node, depth] = pending.pop();
      depthOf.set(node, depth);
      if (node.getData('layout')) partial = false;
      if (partial && inputsChanged(node, depth)) changed.push(node);
      for (const child of node.children) pending.push([child, depth + 1]);
    }

    let relaid = null;
    laying = true;
    try {
      if (partial) {
        relaid = layoutChanged(root, changed, depthOf);
      } else {
        layoutAll(root);
        for (const [node, depth] of depthOf) rememberInputs(node, depth);
      }
    } finally {
      laying = false;
    }
    this._layoutStyle = style;

    const minder = this;
    this._layoutRelaid = relaid;
    try {
      this.applyLayoutResult(root, duration, () => {
        // As the engine does: listeners added right after this call still hear it.
        setTimeout(() => minder.fire('layoutallfinish'), 0);
      });
    } finally {
      this._layoutRelaid = null;
    }
    return this.fire('layout');
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
