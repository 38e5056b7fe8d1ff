// Place labels over the base map: city and town names from the GeoNames
// extract, placed greedily in rank order (capitals first, then by
// population) so each zoom shows what an atlas would. A label is placed only
// where its box meets no other label, no vehicle icon and no widget; the
// placement is redone after every move or zoom and, while vehicles move, once
// a second. Names are set with textContent, never parsed as markup.

// By zoom: the smallest population shown, and the smallest capital.
var LABEL_LEVELS = [
  { zoom: 2, population: 5000000, capital: 2000000 },
  { zoom: 3, population: 2000000, capital: 500000 },
  { zoom: 4, population: 1000000, capital: 100000 },
  { zoom: 5, population: 400000, capital: 20000 },
  { zoom: 6, population: 150000, capital: 20000 },
  { zoom: 7, population: 60000, capital: 0 },
  { zoom: 8, population: 25000, capital: 0 },
  { zoom: 9, population: 12000, capital: 0 },
  { zoom: 99, population: 5000, capital: 0 }
];
var LABEL_FONT = "Arial, Helvetica, sans-serif";
var LABEL_DOT = 5;      // the place's dot, px
var LABEL_GAP = 3;      // between dot and name
var LABEL_MARGIN = 2;   // kept free around every box
var LABEL_CELL = 64;    // collision grid cell
var LABEL_MAX = 400;    // labels on screen at most
var LABEL_REFRESH_MS = 1000;
// Elements that labels keep clear of (inside or over the map).
var LABEL_WIDGETS = ["EventPopup", "ContextMenu", "Tooltip", "VehicleContextMenu", "TrackingBar",
  "Toolbar", "ListHeader", "LeftColumn"];

var placeLabels = {
  enabled: true,
  ready: false,      // the place data has arrived
  failed: false,     // it could not be loaded
  pane: null,
  pool: [],          // label elements, reused
  shown: 0,          // how many of the pool are in use
  count: 0,          // places in the data
  names: null, lat: null, lng: null, population: null, capital: null,
  firstTown: 0,      // index of the first place that is not a capital
  widths: null,      // measured text width per place (0 = not yet)
  measure: null,     // canvas context for text widths
  moved: false,      // a vehicle moved since the last placement
  widgets: "",       // where the widgets were at the last placement
  lastMs: 0,
  times: []          // the last placement times, ms
};

function labelLevel(zoom) {
  for (var i = 0; i < LABEL_LEVELS.length; i++) {
    if (zoom <= LABEL_LEVELS[i].zoom) return LABEL_LEVELS[i];
  }
  return LABEL_LEVELS[LABEL_LEVELS.length - 1];
}

// Font size by population; capitals are bold.
function labelSize(index) {
  var p = placeLabels.population[index];
  return p >= 1000000 ? 13 : p >= 200000 ? 12 : p >= 50000 ? 11 : 10;
}

function labelFont(index) {
  return (placeLabels.capital[index] ? "bold " : "") + labelSize(index) + "px " + LABEL_FONT;
}

function labelTextWidth(index) {
  var w = placeLabels.widths[index];
  if (!w) {
    placeLabels.measure.font = labelFont(index);
    w = Math.ceil(placeLabels.measure.measureText(placeLabels.names[index]).width) + 1;
    placeLabels.widths[index] = w;
  }
  return w;
}

function createPlaceLabels() {
  var pane = map.createPane("labelPane");
  pane.style.zIndex = 450; // over the base map and the live track, under the icons
  pane.style.pointerEvents = "none";
  L.DomUtil.addClass(pane, "leaflet-zoom-hide");
  pane.style.willChange = "transform"; // drawn once, not again under every moving icon
  placeLabels.pane = pane;
  placeLabels.measure = document.createElement("canvas").getContext("2d");
  map.on("moveend resize", schedulePlaceLabels);
  setInterval(function () {
    var widgets = widgetSignature();
    if (placeLabels.moved || widgets !== placeLabels.widgets) updatePlaceLabels();
  }, LABEL_REFRESH_MS);
  var config = window.pageConfig || {};
  if (!config.assetBase) return;
  var script = document.createElement("script");
  script.src = config.assetBase + "geodata/labels.js";
  script.onload = function () { loadPlaceLabels(window.velmoraPlaces); };
  script.onerror = function () { placeLabels.failed = true; };
  document.head.appendChild(script);
}

// Rows of [name, latitude x 100, longitude x 100, population, capital],
// in rank order. Rows that are not of that form are skipped.
function loadPlaceLabels(rows) {
  if (!Array.isArray(rows)) { placeLabels.failed = true; return; }
  var n = rows.length;
  var names = [], lat = new Float64Array(n), lng = new Float64Array(n);
  var population = new Float64Array(n), capital = new Uint8Array(n);
  var k = 0, firstTown = -1;
  for (var i = 0; i < n; i++) {
    var r = rows[i];
    if (!Array.isArray(r) || r.length < 5 || typeof r[0] !== "string") continue;
    var a = Number(r[1]) / 100, b = Number(r[2]) / 100, p = Number(r[3]);
    if (!isFinite(a) || !isFinite(b) || !isFinite(p) || Math.abs(a) > 90 || Math.abs(b) > 180) continue;
    names.push(r[0]);
    lat[k] = a; lng[k] = b; population[k] = p; capital[k] = r[4] ? 1 : 0;
    if (!capital[k] && firstTown < 0) firstTown = k;
    k++;
  }
  placeLabels.names = names;
  placeLabels.lat = lat; placeLabels.lng = lng;
  placeLabels.population = population; placeLabels.capital = capital;
  placeLabels.count = k;
  placeLabels.firstTown = firstTown < 0 ? k : firstTown;
  placeLabels.widths = new Float64Array(k);
  placeLabels.ready = true;
  window.velmoraPlaces = null; // the typed copy is all the page needs
  updatePlaceLabels();
}

function setPlaceLabelsEnabled(on) {
  placeLabels.enabled = !!on;
  updatePlaceLabels();
}

var placeLabelsPending = false;
function schedulePlaceLabels() {
  if (placeLabelsPending) return;
  placeLabelsPending = true;
  setTimeout(function () { placeLabelsPending = false; updatePlaceLabels(); }, 0);
}

// A grid of boxes in container pixels for the collision test.
function LabelGrid(width, height) {
  this.cols = Math.max(1, Math.ceil(width / LABEL_CELL));
  this.rows = Math.max(1, Math.ceil(height / LABEL_CELL));
  this.cells = new Array(this.cols * this.rows);
}

LabelGrid.prototype.range = function (box, visit) {
  var c0 = Math.max(0, Math.floor(box.x / LABEL_CELL)), c1 = Math.min(this.cols - 1, Math.floor((box.x + box.w) / LABEL_CELL));
  var r0 = Math.max(0, Math.floor(box.y / LABEL_CELL)), r1 = Math.min(this.rows - 1, Math.floor((box.y + box.h) / LABEL_CELL));
  for (var r = r0; r <= r1; r++) {
    for (var c = c0; c <= c1; c++) {
      if (visit(r * this.cols + c)) return true;
    }
  }
  return false;
};

LabelGrid.prototype.add = function (box) {
  var cells = this.cells;
  this.range(box, function (i) { (cells[i] || (cells[i] = [])).push(box); return false; });
};

// A box that holds the point, or null.
LabelGrid.prototype.at = function (x, y) {
  var cells = this.cells, found = null;
  this.range({ x: x, y: y, w: 0, h: 0 }, function (i) {
    var list = cells[i];
    for (var k = 0; list && k < list.length; k++) {
      var o = list[k];
      if (x >= o.x && x <= o.x + o.w && y >= o.y && y <= o.y + o.h) { found = o; return true; }
    }
    return false;
  });
  return found;
};

LabelGrid.prototype.hits = function (box) {
  var cells = this.cells;
  return this.range(box, function (i) {
    var list = cells[i];
    if (!list) return false;
    for (var k = 0; k < list.length; k++) {
      var o = list[k];
      if (box.x < o.x + o.w && o.x < box.x + box.w && box.y < o.y + o.h && o.y < box.y + box.h) return true;
    }
    return false;
  });
};

// Widgets, map controls, vehicle icons and markers, as container boxes;
// the icons and markers also into iconGrid.
function labelObstacles(grid, iconGrid, size) {
  var origin = map.getContainer().getBoundingClientRect();
  function addRect(r, also) {
    if (r.width <= 0 || r.height <= 0) return;
    var box = { x: r.left - origin.left - LABEL_MARGIN, y: r.top - origin.top - LABEL_MARGIN,
      w: r.width + 2 * LABEL_MARGIN, h: r.height + 2 * LABEL_MARGIN };
    if (box.x < size.x && box.y < size.y && box.x + box.w > 0 && box.y + box.h > 0) {
      grid.add(box);
      if (also) also.add(box);
    }
  }
  for (var i = 0; i < LABEL_WIDGETS.length; i++) {
    var element = document.getElementById(LABEL_WIDGETS[i]);
    if (element && element.offsetParent !== null) addRect(element.getBoundingClientRect());
  }
  var controls = map.getContainer().querySelectorAll(".leaflet-control");
  for (i = 0; i < controls.length; i++) addRect(controls[i].getBoundingClientRect());
  // Markers and tooltips other layers put on the map, and the vehicle group
  // icons (which lie in the vehicles' own pane).
  var others = map.getContainer().querySelectorAll(".leaflet-marker-pane > *, .leaflet-tooltip-pane > *, .VehicleGroup");
  for (i = 0; i < others.length && i < 2000; i++) addRect(others[i].getBoundingClientRect(), iconGrid);
  // A group's count shown under its circle lies outside the group's box.
  var counts = map.getContainer().querySelectorAll(".VehicleGroup.Covered .VehicleGroupCount");
  for (i = 0; i < counts.length; i++) addRect(counts[i].getBoundingClientRect());
  // Vehicle icons by projection: reading thousands of element boxes would
  // force a layout per call.
  var icons = iconContainer || [];
  for (i = 0; i < icons.length; i++) {
    var icon = icons[i];
    if (!icon._map || !icon.getElement()) continue;
    var w = icon.getSize().x || 16, h = icon.getSize().y || 16;
    // The box round the icon as it is turned now; a later turn comes with
    // a move, and a move makes the labels be placed again.
    var a = icon.getAngle(), cos = Math.abs(Math.cos(a)), sin = Math.abs(Math.sin(a));
    var bw = Math.ceil(w * cos + h * sin), bh = Math.ceil(w * sin + h * cos);
    var p = map.latLngToContainerPoint(icon.getShownLatLng());
    if (p.x < -bw || p.y < -bh || p.x > size.x + bw || p.y > size.y + bh) continue;
    var box = { x: p.x - bw / 2 - LABEL_MARGIN, y: p.y - bh / 2 - LABEL_MARGIN,
      w: bw + 2 * LABEL_MARGIN, h: bh + 2 * LABEL_MARGIN };
    grid.add(box);
    iconGrid.add(box);
  }
}

function labelElement(k) {
  var pool = placeLabels.pool;
  if (k < pool.length) return pool[k];
  var dot = L.DomUtil.create("div", "PlaceDot", placeLabels.pane);
  var element = L.DomUtil.create("div", "PlaceLabel", placeLabels.pane);
  var entry = { element: element, dot: dot, index: -1, x: NaN, y: NaN, dx: NaN, dy: NaN };
  pool.push(entry);
  return entry;
}

function moveElement(element, x, y) {
  element.style.transform = "translate3d(" + x + "px," + y + "px,0)";
}

// Shows place index with its name in box and its dot at point (container
// pixels).
function showLabel(k, index, box, point) {
  var entry = labelElement(k);
  var element = entry.element;
  if (entry.index !== index) {
    entry.index = index;
    setText(element, placeLabels.names[index]);
    element.style.font = labelFont(index);
    element.style.height = box.h + "px";
    element.style.lineHeight = box.h + "px";
    var kind = placeLabels.capital[index] ? " capital" : "";
    element.className = "PlaceLabel" + kind;
    entry.dot.className = "PlaceDot" + kind;
  }
  var p = map.containerPointToLayerPoint([box.x, box.y]);
  if (p.x !== entry.x || p.y !== entry.y) {
    entry.x = p.x; entry.y = p.y;
    moveElement(element, p.x, p.y);
  }
  var d = map.containerPointToLayerPoint([point.x - LABEL_DOT / 2, point.y - LABEL_DOT / 2]).round();
  if (d.x !== entry.dx || d.y !== entry.dy) {
    entry.dx = d.x; entry.dy = d.y;
    moveElement(entry.dot, d.x, d.y);
  }
  element.style.display = "";
  entry.dot.style.display = "";
}

// The boxes of the shown widgets as text: a widget that opens, closes or
// moves makes the labels be placed again.
function widgetSignature() {
  var parts = [];
  for (var i = 0; i < LABEL_WIDGETS.length; i++) {
    var element = document.getElementById(LABEL_WIDGETS[i]);
    if (!element || element.offsetParent === null) { parts.push("-"); continue; }
    var r = element.getBoundingClientRect();
    parts.push(Math.round(r.left) + "," + Math.round(r.top) + "," + Math.round(r.width) + "," + Math.round(r.height));
  }
  return parts.join(";");
}

function updatePlaceLabels() {
  var t0 = performance.now();
  placeLabels.moved = false;
  placeLabels.widgets = widgetSignature();
  var k = 0;
  if (placeLabels.enabled && placeLabels.ready && map) k = placeLabelsNow();
  for (var i = k; i < placeLabels.shown; i++) {
    placeLabels.pool[i].element.style.display = "none";
    placeLabels.pool[i].dot.style.display = "none";
  }
  placeLabels.shown = k;
  var ms = performance.now() - t0;
  placeLabels.lastMs = ms;
  placeLabels.times.push(ms);
  if (placeLabels.times.length > 200) placeLabels.times.shift();
}

// Where a name may go round its dot, in order of preference: right, left,
// above, below. Each spot is the box's offset from the dot: [x in box
// widths, x in px, y in box heights, y in px]. When an icon covers the dot,
// the same four sides of the icon's box come next, so that a city keeps its
// name beside the vehicle standing on it, however the vehicle is turned.
var LABEL_NEAR = LABEL_DOT / 2 + LABEL_GAP;
var LABEL_SPOTS = [
  [0, LABEL_NEAR, -0.5, 0], [-1, -LABEL_NEAR, -0.5, 0], [-0.5, 0, -1, -LABEL_NEAR], [-0.5, 0, 0, LABEL_NEAR]
];

// Sets box (with its margin) to spot s round the dot at p, or, from spot 4
// on, round the icon box on it; false when there is no such spot.
function labelSpot(box, s, p, w, h, icon) {
  if (s < LABEL_SPOTS.length) {
    var spot = LABEL_SPOTS[s];
    box.x = p.x + spot[0] * w + spot[1] - LABEL_MARGIN;
    box.y = p.y + spot[2] * h + spot[3] - LABEL_MARGIN;
    return true;
  }
  if (!icon) return false;
  var side = s - LABEL_SPOTS.length;
  if (side === 0 || side === 1) {
    box.x = side === 0 ? icon.x + icon.w : icon.x - box.w;
    box.y = p.y - box.h / 2;
  } else {
    box.x = p.x - box.w / 2;
    box.y = side === 2 ? icon.y - box.h : icon.y + icon.h;
  }
  return true;
}

function placeLabelsNow() {
  var size = map.getSize();
  if (size.x <= 0 || size.y <= 0) return 0;
  var zoom = Math.round(map.getZoom());
  var level = labelLevel(zoom);
  // Names keep clear of everything; dots only of other names and dots, so
  // a place under a vehicle icon still gets its name beside the icon.
  var grid = new LabelGrid(size.x, size.y);
  var names = new LabelGrid(size.x, size.y);
  var icons = new LabelGrid(size.x, size.y);
  labelObstacles(grid, icons, size);
  var bounds = map.getBounds();
  var south = bounds.getSouth(), north = bounds.getNorth();
  var west = bounds.getWest(), east = bounds.getEast();
  var centreLng = (west + east) / 2;
  var allLongitudes = east - west >= 360;
  var pl = placeLabels, placed = 0;
  var box = { x: 0, y: 0, w: 0, h: 0 };
  var dot = { x: 0, y: 0, w: LABEL_DOT + 2, h: LABEL_DOT + 2 };
  for (var pass = 0; pass < 2 && placed < LABEL_MAX; pass++) {
    var from = pass === 0 ? 0 : pl.firstTown, to = pass === 0 ? pl.firstTown : pl.count;
    var minimum = pass === 0 ? level.capital : level.population;
    for (var i = from; i < to && placed < LABEL_MAX; i++) {
      if (pl.population[i] < minimum) break; // the rest of this pass is smaller
      var lat = pl.lat[i];
      if (lat < south || lat > north) continue;
      // The copy of the place nearest the view's centre.
      var lng = pl.lng[i] + Math.round((centreLng - pl.lng[i]) / 360) * 360;
      if (!allLongitudes && (lng < west || lng > east)) continue;
      var p = map.latLngToContainerPoint([lat, lng]);
      dot.x = p.x - dot.w / 2; dot.y = p.y - dot.h / 2;
      if (dot.x < 0 || dot.y < 0 || dot.x + dot.w > size.x || dot.y + dot.h > size.y || names.hits(dot)) continue;
      var h = labelSize(i) + 4;
      var w = labelTextWidth(i);
      box.w = w + 2 * LABEL_MARGIN;
      box.h = h + 2 * LABEL_MARGIN;
      var found = false, icon = null;
      for (var s = 0; s < LABEL_SPOTS.length + 4 && !found; s++) {
        if (s === LABEL_SPOTS.length) icon = icons.at(p.x, p.y);
        if (!labelSpot(box, s, p, w, h, icon)) break;
        if (box.x < 0 || box.y < 0 || box.x + box.w > size.x || box.y + box.h > size.y) continue;
        found = !grid.hits(box) && !names.hits(box);
      }
      if (!found) continue;
      var kept = { x: box.x, y: box.y, w: box.w, h: box.h };
      grid.add(kept);
      names.add(kept);
      names.add({ x: dot.x, y: dot.y, w: dot.w, h: dot.h });
      showLabel(placed, i, { x: kept.x + LABEL_MARGIN, y: kept.y + LABEL_MARGIN, w: w, h: h }, p);
      placed++;
    }
  }
  return placed;
}

// For the console's checks: the names on screen with their boxes in map
// container pixels, as the engine laid them out, and where their dots are.
function placedLabels() {
  var origin = map.getContainer().getBoundingClientRect();
  var out = [];
  for (var i = 0; i < placeLabels.shown; i++) {
    var entry = placeLabels.pool[i];
    var r = entry.element.getBoundingClientRect();
    var d = entry.dot.getBoundingClientRect();
    out.push({ name: placeLabels.names[entry.index], population: placeLabels.population[entry.index],
      x: r.left - origin.left, y: r.top - origin.top, w: r.width, h: r.height,
      dotX: d.left - origin.left + d.width / 2, dotY: d.top - origin.top + d.height / 2 });
  }
  return out;
}
