// Lakes and rivers over the offline base map, from the vendored GSHHG
// water (third_party/gshhg), fetched through the asset scheme when the map
// first needs them: from WATER_COARSE_ZOOM the large lakes and major rivers
// of the whole world (one file), from WATER_FINE_ZOOM every lake and
// permanent river of the 10-degree cells in view (a file each). They are
// drawn on the base map's canvas over the land and under the borders, so
// place labels, tracks and vehicles stay above them.
var WATER_COARSE_ZOOM = 4;
var WATER_FINE_ZOOM = 8;
var WATER_CELL = 10;
// Cells kept decoded beyond those in view: panning back needs no fetch.
var WATER_KEPT_CELLS = 8;
// Minor rivers (levels 2 and 3) from this zoom on.
var WATER_MINOR_RIVER_ZOOM = 9;

var water = {
  state: "none",       // the coarse file: none, loading, ready, failed
  coarse: null,        // { lakes, majorRivers } layers
  cellNames: {},       // the cells that exist
  cells: {},           // name -> { state, lakes, rivers, used }
  fine: null,          // { lakes, majorRivers, minorRivers } layers of the kept cells
  fineKey: "",         // the ready cells the fine layers were built from
  useTick: 0
};

function createWater() {
  map.on("zoomend moveend", updateWater);
  updateWater();
}

function waterRequest(file, onJson, onFail) {
  var config = window.pageConfig || {};
  if (!config.assetBase) { onFail(); return; }
  var request = new XMLHttpRequest();
  request.open("GET", config.assetBase + "geodata/" + file);
  request.onload = function () {
    var data = null;
    try {
      if (request.status === 200 || request.status === 0) data = JSON.parse(request.responseText);
    } catch (e) {
      data = null;
    }
    if (data && data.lakes && data.rivers) onJson(data);
    else onFail();
  };
  request.onerror = onFail;
  request.send();
}

// [id, level, x0, y0, dx, dy, ...] in 1e-5 degrees to [lat, lng] pairs.
function decodeWaterFeature(f) {
  var points = new Array((f.length - 2) / 2);
  var x = 0, y = 0;
  for (var i = 2, k = 0; i + 1 < f.length; i += 2, k++) {
    x += f[i];
    y += f[i + 1];
    points[k] = [y / 1e5, x / 1e5];
  }
  return points;
}

// Lake rings and river lines by kind, each feature once (a feature crossing
// a cell border comes with every cell it reaches).
function collectWater(sets) {
  var seen = {}, out = { lakes: [], major: [], minor: [] };
  sets.forEach(function (data) {
    data.lakes.forEach(function (f) {
      if (seen[f[0]]) return;
      seen[f[0]] = true;
      out.lakes.push([decodeWaterFeature(f)]);
    });
    data.rivers.forEach(function (f) {
      if (seen[f[0]]) return;
      seen[f[0]] = true;
      (f[1] <= 1 ? out.major : out.minor).push(decodeWaterFeature(f));
    });
  });
  return out;
}

function waterLayers(found) {
  var options = { renderer: baseMap.renderer, interactive: false, smoothFactor: 1 };
  return {
    // Islands are rings inside lakes: filled even-odd, they stay land.
    lakes: new BaseLand(found.lakes, L.extend({ weight: 0.8, fillOpacity: 1, fillRule: "evenodd" }, options)),
    majorRivers: new BaseBorders(found.major, L.extend({ weight: 1.6, lineCap: "round" }, options)),
    minorRivers: found.minor ? new BaseBorders(found.minor, L.extend({ weight: 1, lineCap: "round" }, options)) : null
  };
}

function loadCoarseWater() {
  water.state = "loading";
  waterRequest("water-coarse.json", function (data) {
    var found = collectWater([data]);
    found.minor = null;
    water.coarse = waterLayers(found);
    (data.cells || []).forEach(function (name) { water.cellNames[name] = true; });
    water.state = "ready";
    styleWater();
    updateWater();
  }, function () { water.state = "failed"; });
}

function cellName(lat, lng) {
  var south = Math.floor(lat / WATER_CELL) * WATER_CELL;
  var west = ((Math.floor(lng / WATER_CELL) * WATER_CELL + 540) % 360 + 360) % 360 - 180;
  return south + "_" + west;
}

// The cells the view (and a margin of half a view) reaches.
function cellsInView() {
  var b = map.getBounds().pad(0.5);
  var names = [];
  var south = Math.max(-90, Math.floor(b.getSouth() / WATER_CELL) * WATER_CELL);
  var north = Math.min(89.999, b.getNorth());
  var west = Math.floor(b.getWest() / WATER_CELL) * WATER_CELL;
  for (var lat = south; lat <= north; lat += WATER_CELL) {
    for (var lng = west; lng <= b.getEast() && names.length < 64; lng += WATER_CELL) {
      var name = cellName(lat, lng);
      if (names.indexOf(name) < 0) names.push(name);
    }
  }
  return names;
}

function loadCell(name) {
  var cell = water.cells[name] = { state: "loading", data: null, used: ++water.useTick };
  waterRequest("water/" + name + ".json", function (data) {
    cell.data = data;
    cell.state = "ready";
    updateWater();
  }, function () { cell.state = "failed"; });
}

// Drops the least recently used cells beyond those in view and
// WATER_KEPT_CELLS more.
function forgetCells(inView) {
  var ready = [];
  for (var name in water.cells) {
    if (water.cells[name].state === "ready" && inView.indexOf(name) < 0) ready.push(name);
  }
  ready.sort(function (a, b) { return water.cells[a].used - water.cells[b].used; });
  for (var i = 0; i < ready.length - WATER_KEPT_CELLS; i++) delete water.cells[ready[i]];
}

function updateFineWater(fine) {
  if (!fine) return;
  var inView = cellsInView();
  inView.forEach(function (name) {
    if (!water.cellNames[name]) return;
    var cell = water.cells[name];
    if (!cell) loadCell(name);
    else cell.used = ++water.useTick;
  });
  forgetCells(inView);
  var names = [];
  for (var name in water.cells) if (water.cells[name].state === "ready") names.push(name);
  names.sort();
  var key = names.join(" ");
  if (key === water.fineKey) return;
  water.fineKey = key;
  var previous = water.fine;
  water.fine = waterLayers(collectWater(names.map(function (n) { return water.cells[n].data; })));
  if (previous) {
    for (var kind in previous) swapLayer(previous[kind], false);
  }
  styleWater();
}

function updateWater() {
  if (!map) return;
  var zoom = map.getZoom();
  if (zoom >= WATER_COARSE_ZOOM && water.state === "none") loadCoarseWater();
  var fine = zoom >= WATER_FINE_ZOOM && water.state === "ready";
  updateFineWater(fine);
  var coarse = zoom >= WATER_COARSE_ZOOM && !fine;
  var added = false;
  var show = function (layer, shown) {
    if (!layer) return;
    if (shown && !map.hasLayer(layer)) added = true;
    swapLayer(layer, shown);
  };
  if (water.coarse) {
    show(water.coarse.lakes, coarse);
    show(water.coarse.majorRivers, coarse);
  }
  if (water.fine) {
    show(water.fine.lakes, fine);
    show(water.fine.majorRivers, fine);
    show(water.fine.minorRivers, fine && zoom >= WATER_MINOR_RIVER_ZOOM);
    // Rivers widen as the map comes closer.
    var major = zoom >= 12 ? 3 : zoom >= 10 ? 2.2 : 1.6;
    if (water.fine.majorRivers.options.weight !== major) water.fine.majorRivers.setStyle({ weight: major });
    var minor = zoom >= 12 ? 2 : 1.2;
    if (water.fine.minorRivers.options.weight !== minor) water.fine.minorRivers.setStyle({ weight: minor });
  }
  if (added) orderBaseLayers();
}

// Whether nothing the view needs is still on its way.
function waterSettled() {
  if (water.state === "loading") return false;
  for (var name in water.cells) if (water.cells[name].state === "loading") return false;
  return true;
}

// Land at the bottom, then water, then borders.
function orderBaseLayers() {
  [fineMap.land, baseMap.land].forEach(function (layer) {
    if (layer && map.hasLayer(layer)) layer.bringToBack();
  });
  [fineMap.borders, baseMap.borders].forEach(function (layer) {
    if (layer && map.hasLayer(layer)) layer.bringToFront();
  });
}

// Lakes take the sea's colour, with the coast's line round them.
function styleWater() {
  var style = BASE_STYLES[baseMap.type];
  if (!style) return;
  [water.coarse, water.fine].forEach(function (set) {
    if (!set) return;
    set.lakes.setStyle({ color: style.coast, fillColor: style.sea });
    set.majorRivers.setStyle({ color: style.river });
    if (set.minorRivers) set.minorRivers.setStyle({ color: style.river });
  });
}
