// The offline base map: land and country borders decoded from the vendored
// Natural Earth topology, drawn on one canvas in a light ("Map") and a dark
// ("Satellite") style. Optional online tile layers go over it.
var BASE_STYLES = {
  map: { sea: "#A9CCE3", land: "#F6F3EC", coast: "#8FB3CF", border: "#B49DB5", river: "#8DB9DA", dark: false },
  satellite: { sea: "#0E2236", land: "#25384C", coast: "#3D5B7A", border: "#6A84A3", river: "#2C5478", dark: true }
};

// Decodes the topology's quantized arcs into [longitude, latitude] lists.
function decodeArcs(topology) {
  var t = topology.transform;
  var sx = t ? t.scale[0] : 1, sy = t ? t.scale[1] : 1;
  var tx = t ? t.translate[0] : 0, ty = t ? t.translate[1] : 0;
  return topology.arcs.map(function (arc) {
    var x = 0, y = 0;
    return arc.map(function (p) {
      if (t) { x += p[0]; y += p[1]; } else { x = p[0]; y = p[1]; }
      return [x * sx + tx, y * sy + ty];
    });
  });
}

function arcPoints(arcs, index) {
  return index < 0 ? arcs[~index].slice().reverse() : arcs[index];
}

function ringPoints(arcs, indices) {
  var points = [];
  for (var k = 0; k < indices.length; k++) {
    var a = arcPoints(arcs, indices[k]);
    for (var i = k ? 1 : 0; i < a.length; i++) points.push(a[i]);
  }
  return points;
}

// Makes longitudes continuous, so a ring or line that crosses the 180th
// meridian runs on past it instead of across the whole world. A ring that
// then goes once round the globe (Antarctica) is closed over its pole.
function unwrapLine(points, closeOverPole) {
  var out = [], shift = 0, prev = null, latSum = 0;
  for (var i = 0; i < points.length; i++) {
    var lon = points[i][0] + shift;
    if (prev !== null) {
      while (lon - prev > 180) { shift -= 360; lon -= 360; }
      while (prev - lon > 180) { shift += 360; lon += 360; }
    }
    out.push([lon, points[i][1]]);
    latSum += points[i][1];
    prev = lon;
  }
  if (closeOverPole && out.length > 2 && Math.abs(out[out.length - 1][0] - out[0][0]) > 180) {
    var poleLat = latSum < 0 ? -89.99 : 89.99;
    out.push([out[out.length - 1][0], poleLat]);
    out.push([out[0][0], poleLat]);
  }
  return out;
}

function toLatLngs(points, offset) {
  var out = new Array(points.length);
  for (var i = 0; i < points.length; i++) out[i] = [points[i][1], points[i][0] + offset];
  return out;
}

// Land polygons and the borders shared by two countries, each repeated one
// world to the west and east so the map has no edge when panned; with
// nearSeamOnly only those within 30 degrees of the 180th meridian.
function nearSeam(points) {
  for (var i = 0; i < points.length; i++) {
    if (Math.abs(points[i][0]) > 150) return true;
  }
  return false;
}

function buildBaseGeometry(topology, nearSeamOnly) {
  var arcs = decodeArcs(topology);
  var land = [];
  var geometries = topology.objects.land.type === "GeometryCollection"
    ? topology.objects.land.geometries : [topology.objects.land];
  geometries.forEach(function (g) {
    var polygons = g.type === "Polygon" ? [g.arcs] : g.type === "MultiPolygon" ? g.arcs : [];
    polygons.forEach(function (polygon) {
      land.push(polygon.map(function (ring) { return unwrapLine(ringPoints(arcs, ring), true); }));
    });
  });
  var owners = {};
  topology.objects.countries.geometries.forEach(function (g, gi) {
    var polygons = g.type === "Polygon" ? [g.arcs] : g.type === "MultiPolygon" ? g.arcs : [];
    polygons.forEach(function (polygon) {
      polygon.forEach(function (ring) {
        ring.forEach(function (index) {
          var a = index < 0 ? ~index : index;
          (owners[a] = owners[a] || {})[gi] = true;
        });
      });
    });
  });
  var borders = [];
  for (var a in owners) {
    if (Object.keys(owners[a]).length > 1) borders.push(unwrapLine(arcs[a], false));
  }
  var result = { land: [], borders: [] };
  [-360, 0, 360].forEach(function (offset) {
    land.forEach(function (polygon) {
      if (offset && nearSeamOnly && !nearSeam(polygon[0])) return;
      result.land.push(polygon.map(function (ring) { return toLatLngs(ring, offset); }));
    });
    borders.forEach(function (line) {
      if (offset && nearSeamOnly && !nearSeam(line)) return;
      result.borders.push(toLatLngs(line, offset));
    });
  });
  return result;
}

var baseMap = { renderer: null, land: null, borders: null, tiles: {}, type: "map", wholeWorlds: false };

// The land and the borders are each one layer of thousands of rings, which
// Leaflet clips ring by ring, point by point, after every move of the map.
// These layers keep each ring's pixel box from the last projection (done
// once a zoom) and clip only the rings whose box meets the view.
function projectRingBounds(layer) {
  layer._ringBounds = layer._rings.map(function (ring) { return L.bounds(ring); });
}

function ringsInView(layer, bounds) {
  var rings = [];
  for (var i = 0; i < layer._rings.length; i++) {
    if (layer._ringBounds[i].intersects(bounds)) rings.push(layer._rings[i]);
  }
  return rings;
}

var BaseLand = L.Polygon.extend({
  _project: function () {
    L.Polygon.prototype._project.call(this);
    projectRingBounds(this);
  },
  _clipPoints: function () {
    var all = this._rings, w = this.options.weight, p = L.point(w, w), b = this._renderer._bounds;
    this._rings = ringsInView(this, L.bounds(b.min.subtract(p), b.max.add(p)));
    L.Polygon.prototype._clipPoints.call(this);
    this._rings = all;
  }
});

var BaseBorders = L.Polyline.extend({
  _project: function () {
    L.Polyline.prototype._project.call(this);
    projectRingBounds(this);
  },
  _clipPoints: function () {
    var all = this._rings;
    this._rings = ringsInView(this, this._renderer._bounds);
    L.Polyline.prototype._clipPoints.call(this);
    this._rings = all;
  }
});

function escapeMarkup(text) {
  return String(text).replace(/[&<>"']/g, function (c) {
    return { "&": "&amp;", "<": "&lt;", ">": "&gt;", "\"": "&quot;", "'": "&#39;" }[c];
  });
}

// The copies of the worlds east and west of this one hold at first only
// what lies within 30 degrees of the 180th meridian: enough for any view
// within this many degrees of longitude of the date line. Every ring of
// them is added once a view reaches past that (a wide view at a low zoom):
// a start at a city draws and projects a third of the rings.
var SEAM_COPY_REACH = 210;

function viewPastSeamCopies() {
  var bounds = map.getBounds();
  return bounds.getWest() < -SEAM_COPY_REACH || bounds.getEast() > SEAM_COPY_REACH;
}

function ensureWholeWorlds() {
  if (baseMap.wholeWorlds || !baseMap.land || !viewPastSeamCopies()) return;
  baseMap.wholeWorlds = true;
  var geometry = buildBaseGeometry(window.velmoraWorld, false);
  baseMap.land.setLatLngs(geometry.land);
  baseMap.borders.setLatLngs(geometry.borders);
}

function createBaseMap() {
  baseMap.renderer = L.canvas({ padding: 0.5 });
  if (window.velmoraWorld) {
    baseMap.wholeWorlds = viewPastSeamCopies();
    var geometry = buildBaseGeometry(window.velmoraWorld, !baseMap.wholeWorlds);
    baseMap.land = new BaseLand(geometry.land, {
      renderer: baseMap.renderer, interactive: false, weight: 0.8, fillOpacity: 1, smoothFactor: 1
    }).addTo(map);
    baseMap.borders = new BaseBorders(geometry.borders, {
      renderer: baseMap.renderer, interactive: false, weight: 1, dashArray: "4 3", smoothFactor: 1
    }).addTo(map);
  }
  var config = window.pageConfig || {};
  if (config.roadTiles) {
    baseMap.tiles.map = L.tileLayer(config.roadTiles, {
      pane: "tilesPane", maxZoom: 19, attribution: escapeMarkup(config.roadAttribution || "")
    });
  }
  if (config.satelliteTiles) {
    baseMap.tiles.satellite = L.tileLayer(config.satelliteTiles, {
      pane: "tilesPane", maxZoom: 19, attribution: escapeMarkup(config.satelliteAttribution || "")
    });
  }
  map.attributionControl.setPrefix("Leaflet");
  map.attributionControl.addAttribution("Natural Earth \u00B7 Water: GSHHG \u00B7 Places \u00A9 GeoNames (CC BY 4.0)");
  setMapType("map");
  map.on("moveend zoomend resize", ensureWholeWorlds);
  // Past the repeated worlds the view jumps back by one turn: it looks the same.
  map.on("moveend", function () {
    var c = map.getCenter();
    if (c.lng > 180 || c.lng < -180) {
      map.setView([c.lat, ((c.lng + 540) % 360) - 180], map.getZoom(), { animate: false });
    }
  });
}

// "map": road tiles or the light offline style; "satellite": satellite
// tiles or the dark offline style.
function setMapType(type) {
  if (!BASE_STYLES[type]) return;
  baseMap.type = type;
  var style = BASE_STYLES[type];
  for (var name in baseMap.tiles) {
    if (name === type) baseMap.tiles[name].addTo(map);
    else map.removeLayer(baseMap.tiles[name]);
  }
  var container = document.getElementById("map");
  container.style.background = style.sea;
  container.className = container.className.replace(/ ?dark/g, "") + (style.dark ? " dark" : "");
  if (baseMap.land) baseMap.land.setStyle({ color: style.coast, fillColor: style.land });
  if (baseMap.borders) baseMap.borders.setStyle({ color: style.border });
  styleFineMap();
  styleWater();
  var select = document.getElementById("MapType");
  if (select && select.value !== type) select.value = type;
}
