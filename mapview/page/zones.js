// The watch rules' zones on the map: their layer (which the operator may
// hide), drawing a new zone, and moving a zone's corners. The console sends
// each zone with putZone() and takes what the operator drew through
// cef.extension (onZoneDrawn, onZoneEdited). An outline travels as the text
// the console stores: "lat lng radius" for a circle (metres on the ground),
// "lat lng,lat lng,..." for a polygon. Names are data: shown through
// textContent only.
//
// A polygon's edges each take the short way round the globe, as the rules
// read them: its longitudes are unwrapped before it is drawn, and a zone
// reaching over the antimeridian is drawn on both sides of it.

var ZONE_COLOR = "#8E24AA";
var ZONE_EDIT_COLOR = "#EF6C00";
// A click this close (pixels) to the last corner adds no corner: the second
// click of the double click that ends a polygon lands here.
var ZONE_SNAP_PX = 6;
var ZONE_ALARMS = ["", "Entry", "Exit", "Entry and exit"];

var zoneLayer = null;      // every zone's shapes
var zoneDraftLayer = null; // the zone being drawn or edited
var zoneRenderer = null;
var zoneIndex = {};        // id -> { id, name, shape, centre, radius, vertices, layers, ... }
var zoneDrawing = null;    // the drawing in progress, or null
var zoneEditing = null;    // the zone whose corners are being moved, or null
var zoneControl = null;

// --- outlines

function parseZoneNumbers(text) {
  var parts = String(text).trim().split(/\s+/);
  var numbers = [];
  for (var i = 0; i < parts.length; i++) {
    // Number("") is 0: an empty part is no number.
    if (parts[i] === "") return null;
    var n = Number(parts[i]);
    if (!isFinite(n)) return null;
    numbers.push(n);
  }
  return numbers;
}

// The outline of a stored text, or null when it is none.
function parseZoneGeometry(shape, text) {
  if (shape === "circle") {
    var c = parseZoneNumbers(text);
    if (!c || c.length !== 3 || !onEarth(c[0], c[1]) || !(c[2] > 0)) return null;
    return { centre: L.latLng(c[0], c[1]), radius: c[2] };
  }
  if (shape !== "polygon") return null;
  var corners = String(text).split(",");
  var vertices = [];
  for (var k = 0; k < corners.length; k++) {
    var v = parseZoneNumbers(corners[k]);
    if (!v || v.length !== 2 || !onEarth(v[0], v[1])) return null;
    vertices.push(L.latLng(v[0], v[1]));
  }
  return vertices.length >= 3 ? { vertices: vertices } : null;
}

function zoneNumber(value, decimals) {
  // toFixed writes a dot in every locale.
  return Number(value).toFixed(decimals);
}

// The longitude brought into -180 .. 180.
function wrapLongitude(lng) {
  var w = ((lng + 180) % 360 + 360) % 360 - 180;
  return w === -180 && lng > 0 ? 180 : w;
}

function circleText(centre, radius) {
  return zoneNumber(centre.lat, 6) + " " + zoneNumber(wrapLongitude(centre.lng), 6) + " " + zoneNumber(radius, 1);
}

function polygonText(vertices) {
  var parts = [];
  for (var i = 0; i < vertices.length; i++) {
    parts.push(zoneNumber(vertices[i].lat, 6) + " " + zoneNumber(wrapLongitude(vertices[i].lng), 6));
  }
  return parts.join(",");
}

// Each corner's longitude moved by whole turns so that no edge is longer
// than half the globe: the polygon as the rules read it.
function unwrapCorners(vertices) {
  var out = [];
  var previous = null;
  for (var i = 0; i < vertices.length; i++) {
    var lng = vertices[i].lng;
    if (previous !== null) {
      while (lng - previous > 180) lng -= 360;
      while (lng - previous < -180) lng += 360;
    }
    out.push(L.latLng(vertices[i].lat, lng));
    previous = lng;
  }
  return out;
}

// The shifts (degrees of longitude) a shape spanning west .. east is drawn
// at: itself, and its copy on the other side of the antimeridian.
function zoneShifts(west, east) {
  var shifts = [0];
  if (east > 180) shifts.push(-360);
  if (west < -180) shifts.push(360);
  return shifts;
}

function circleShifts(centre, radius) {
  var cos = Math.cos(centre.lat * Math.PI / 180);
  var reach = cos > 1e-6 ? radius / (111320 * cos) : 360;
  if (Math.abs(centre.lat) + radius / 111320 >= 90) reach = 360; // round a pole
  return zoneShifts(centre.lng - reach, centre.lng + reach);
}

function shiftCorners(corners, shift) {
  var out = [];
  for (var i = 0; i < corners.length; i++) out.push(L.latLng(corners[i].lat, corners[i].lng + shift));
  return out;
}

// --- the layer

function createZoneLayer() {
  var pane = map.createPane("zonePane");
  pane.style.zIndex = 450;
  var draftPane = map.createPane("zoneDraftPane");
  draftPane.style.zIndex = 640;
  zoneRenderer = L.canvas({ pane: "zonePane", padding: 0.5 });
  zoneLayer = L.layerGroup().addTo(map);
  zoneDraftLayer = L.layerGroup().addTo(map);
  zoneControl = new ZoneControl({ position: "topleft" });
  zoneControl.addTo(map);
  document.addEventListener("keydown", function (e) {
    if (e.key === "Escape" && (zoneDrawing || zoneEditing)) cancelZoneDrawing();
  });
}

function zoneSummary(zone) {
  var text = zone.name;
  var alarm = ZONE_ALARMS[(zone.entry ? 1 : 0) + (zone.exit ? 2 : 0)];
  var parts = [];
  if (alarm) parts.push(alarm + " after " + zone.dwell + " s");
  if (zone.limit > 0) parts.push("limit " + zone.limit + " km/h");
  return parts.length ? text + " (" + parts.join(", ") + ")" : text;
}

function zoneTooltip(zone) {
  var label = document.createElement("span");
  setText(label, zoneSummary(zone));
  return label;
}

function removeZoneShapes(zone) {
  for (var i = 0; i < zone.layers.length; i++) zoneLayer.removeLayer(zone.layers[i]);
  zone.layers = [];
}

function drawZoneShapes(zone) {
  removeZoneShapes(zone);
  var style = {
    color: ZONE_COLOR, weight: 2, opacity: 0.9, fillColor: ZONE_COLOR, fillOpacity: 0.12,
    renderer: zoneRenderer, bubblingMouseEvents: true
  };
  var shapes = [];
  if (zone.shape === "circle") {
    var shifts = circleShifts(zone.centre, zone.radius);
    for (var i = 0; i < shifts.length; i++) {
      shapes.push(L.circle([zone.centre.lat, zone.centre.lng + shifts[i]], L.extend({ radius: zone.radius }, style)));
    }
  } else {
    var corners = unwrapCorners(zone.vertices);
    var west = Infinity, east = -Infinity;
    for (var k = 0; k < corners.length; k++) {
      west = Math.min(west, corners[k].lng);
      east = Math.max(east, corners[k].lng);
    }
    var polygonShifts = zoneShifts(west, east);
    for (var j = 0; j < polygonShifts.length; j++) {
      shapes.push(L.polygon(shiftCorners(corners, polygonShifts[j]), style));
    }
  }
  for (var n = 0; n < shapes.length; n++) {
    shapes[n].bindTooltip(zoneTooltip(zone), { sticky: true, className: "ZoneTooltip" });
    shapes[n].zoneID = zone.id;
    zoneLayer.addLayer(shapes[n]);
  }
  zone.layers = shapes;
}

// --- page functions called by the console

function putZone(zoneID, name, shape, geometry, entry, exit, dwell, limit) {
  var id = String(zoneID);
  var outline = parseZoneGeometry(String(shape), geometry);
  if (!outline) {
    pageWarning("putZone: zone " + id + " has no outline in " + String(geometry));
    return;
  }
  var zone = zoneIndex[id] || { id: id, layers: [] };
  zone.name = String(name);
  zone.shape = String(shape);
  zone.centre = outline.centre || null;
  zone.radius = outline.radius || 0;
  zone.vertices = outline.vertices || null;
  zone.entry = Number(entry) === 1;
  zone.exit = Number(exit) === 1;
  zone.dwell = Number(dwell) || 0;
  zone.limit = Number(limit) || 0;
  zoneIndex[id] = zone;
  // A zone changed while its corners are being moved shows its new outline
  // once the edit ends.
  if (zoneEditing && zoneEditing.id === id) endZoneEditing();
  drawZoneShapes(zone);
}

function removeZone(zoneID) {
  var id = String(zoneID);
  var zone = zoneIndex[id];
  if (!zone) return;
  if (zoneEditing && zoneEditing.id === id) endZoneEditing();
  removeZoneShapes(zone);
  delete zoneIndex[id];
}

function setZonesVisible(visible) {
  var on = Number(visible) === 1 || visible === true;
  if (on && !map.hasLayer(zoneLayer)) zoneLayer.addTo(map);
  if (!on && map.hasLayer(zoneLayer)) map.removeLayer(zoneLayer);
  if (zoneControl) zoneControl.update();
}

// The map shows the whole zone.
function showZone(zoneID) {
  var zone = zoneIndex[String(zoneID)];
  if (!zone || zone.layers.length === 0) return;
  setZonesVisible(1);
  map.fitBounds(zone.layers[0].getBounds(), { padding: [40, 40], maxZoom: 17, animate: false });
}

// --- drawing a new zone

function startZoneDrawing(shape) {
  cancelZoneDrawing();
  var kind = String(shape) === "circle" ? "circle" : "polygon";
  zoneDrawing = { shape: kind, corners: [], centre: null, pointer: null, draft: null };
  setZonesVisible(1);
  map.doubleClickZoom.disable();
  map.getContainer().classList.add("ZoneDrawing");
  map.on("click", onZoneDrawClick);
  map.on("mousemove", onZoneDrawMove);
  map.on("dblclick", onZoneDrawDoubleClick);
  zoneControl.hint(kind === "circle" ? "Click the centre of the circle." : "Click the first corner.", false);
}

function cancelZoneDrawing() {
  if (zoneEditing) endZoneEditing();
  if (!zoneDrawing) return;
  zoneDrawing = null;
  zoneDraftLayer.clearLayers();
  map.off("click", onZoneDrawClick);
  map.off("mousemove", onZoneDrawMove);
  map.off("dblclick", onZoneDrawDoubleClick);
  map.getContainer().classList.remove("ZoneDrawing");
  // The map zooms on a double click again, once this one has passed.
  setTimeout(function () { if (!zoneDrawing && !zoneEditing) map.doubleClickZoom.enable(); }, 0);
  zoneControl.hint("", false);
}

// The drawing's shapes again: the corners so far and a line to the pointer.
function drawZoneDraft() {
  var d = zoneDrawing;
  zoneDraftLayer.clearLayers();
  var style = { color: ZONE_EDIT_COLOR, weight: 2, dashArray: "6 6", fillOpacity: 0.08, interactive: false,
    pane: "zoneDraftPane" };
  if (d.shape === "circle") {
    if (!d.centre) return;
    L.circleMarker(d.centre, { radius: 4, color: ZONE_EDIT_COLOR, interactive: false, pane: "zoneDraftPane" })
      .addTo(zoneDraftLayer);
    if (d.pointer) {
      L.circle(d.centre, L.extend({ radius: map.distance(d.centre, d.pointer) }, style)).addTo(zoneDraftLayer);
    }
    return;
  }
  var corners = d.corners.slice();
  if (d.pointer) corners.push(d.pointer);
  for (var i = 0; i < d.corners.length; i++) {
    L.circleMarker(d.corners[i], { radius: 4, color: ZONE_EDIT_COLOR, interactive: false, pane: "zoneDraftPane" })
      .addTo(zoneDraftLayer);
  }
  if (corners.length >= 2) L.polygon(corners, style).addTo(zoneDraftLayer);
}

function onZoneDrawClick(e) {
  var d = zoneDrawing;
  if (!d) return;
  if (d.shape === "circle") {
    if (!d.centre) {
      d.centre = e.latlng;
      zoneControl.hint("Click a point on the rim.", false);
      drawZoneDraft();
      return;
    }
    var radius = map.distance(d.centre, e.latlng);
    if (!(radius >= 1)) return;
    finishZoneDrawing("circle", circleText(d.centre, radius));
    return;
  }
  if (d.corners.length > 0) {
    var last = map.latLngToContainerPoint(d.corners[d.corners.length - 1]);
    if (last.distanceTo(e.containerPoint) <= ZONE_SNAP_PX) return;
  }
  d.corners.push(e.latlng);
  zoneControl.hint(d.corners.length < 3 ? "Click the next corner." : "Click the next corner, or double-click the last.",
    false);
  drawZoneDraft();
}

function onZoneDrawMove(e) {
  if (!zoneDrawing) return;
  zoneDrawing.pointer = e.latlng;
  drawZoneDraft();
}

function onZoneDrawDoubleClick(e) {
  var d = zoneDrawing;
  if (!d || d.shape !== "polygon") return;
  if (e && e.originalEvent) L.DomEvent.stop(e.originalEvent);
  if (d.corners.length < 3) {
    zoneControl.hint("A polygon needs three corners at least.", false);
    return;
  }
  finishZoneDrawing("polygon", polygonText(d.corners));
}

function finishZoneDrawing(shape, geometry) {
  cancelZoneDrawing();
  // The console stores it and sends it back with putZone.
  callNative("onZoneDrawn", [shape, geometry]);
}

// --- moving a zone's corners

function editZone(zoneID) {
  cancelZoneDrawing();
  var zone = zoneIndex[String(zoneID)];
  if (!zone) return;
  setZonesVisible(1);
  map.doubleClickZoom.disable();
  var e = zoneEditing = { id: zone.id, shape: zone.shape, handles: [], draft: null };
  var style = { color: ZONE_EDIT_COLOR, weight: 3, fillOpacity: 0.12, interactive: false, pane: "zoneDraftPane" };
  var handle = function (latlng, role) {
    var marker = L.marker(latlng, {
      draggable: true, pane: "zoneDraftPane", keyboard: false,
      icon: L.divIcon({ className: "ZoneHandle", iconSize: [12, 12] })
    });
    marker.zoneRole = role;
    marker.on("drag", function () { redrawZoneEdit(); });
    marker.addTo(zoneDraftLayer);
    e.handles.push(marker);
    return marker;
  };
  if (zone.shape === "circle") {
    e.draft = L.circle(zone.centre, L.extend({ radius: zone.radius }, style)).addTo(zoneDraftLayer);
    handle(zone.centre, "centre");
    // The rim handle east of the centre, as far as the radius.
    var rim = L.latLng(zone.centre.lat,
      zone.centre.lng + zone.radius / (111320 * Math.max(1e-6, Math.cos(zone.centre.lat * Math.PI / 180))));
    handle(rim, "rim");
    e.radius = zone.radius;
    e.lastCentre = zone.centre;
  } else {
    var corners = unwrapCorners(zone.vertices);
    e.draft = L.polygon(corners, style).addTo(zoneDraftLayer);
    for (var i = 0; i < corners.length; i++) handle(corners[i], "corner");
  }
  zoneControl.hint("Drag the corners, then Done.", true);
  map.fitBounds(e.draft.getBounds(), { padding: [60, 60], maxZoom: 17, animate: false });
}

function redrawZoneEdit() {
  var e = zoneEditing;
  if (!e) return;
  if (e.shape === "circle") {
    var centre = e.handles[0].getLatLng(), rim = e.handles[1].getLatLng();
    // Moving the centre carries the rim along.
    if (!centre.equals(e.lastCentre)) {
      rim = L.latLng(rim.lat + centre.lat - e.lastCentre.lat, rim.lng + centre.lng - e.lastCentre.lng);
      e.handles[1].setLatLng(rim);
      e.lastCentre = centre;
    }
    e.radius = map.distance(centre, rim);
    e.draft.setLatLng(centre);
    e.draft.setRadius(e.radius);
    return;
  }
  var corners = [];
  for (var i = 0; i < e.handles.length; i++) corners.push(e.handles[i].getLatLng());
  e.draft.setLatLngs(corners);
}

// The corners as they now are; null when no edit is open.
function zoneEditOutline() {
  var e = zoneEditing;
  if (!e) return null;
  if (e.shape === "circle") return circleText(e.handles[0].getLatLng(), e.radius);
  var corners = [];
  for (var i = 0; i < e.handles.length; i++) corners.push(e.handles[i].getLatLng());
  return polygonText(corners);
}

function finishZoneEditing() {
  var e = zoneEditing;
  if (!e) return;
  var outline = zoneEditOutline();
  endZoneEditing();
  callNative("onZoneEdited", [String(e.id), e.shape, outline]);
}

function endZoneEditing() {
  if (!zoneEditing) return;
  zoneEditing = null;
  zoneDraftLayer.clearLayers();
  setTimeout(function () { if (!zoneDrawing && !zoneEditing) map.doubleClickZoom.enable(); }, 0);
  zoneControl.hint("", false);
}

// --- the control: the layer's switch, drawing, the list

var ZoneControl = L.Control.extend({
  onAdd: function () {
    var box = L.DomUtil.create("div", "leaflet-bar leaflet-control ZoneControl");
    var row = L.DomUtil.create("div", "ZoneRow", box);
    var label = L.DomUtil.create("label", "ZoneToggle", row);
    var toggle = L.DomUtil.create("input", "", label);
    toggle.type = "checkbox";
    toggle.id = "ZoneLayerToggle";
    toggle.checked = true;
    label.appendChild(document.createTextNode(" Zones"));
    L.DomEvent.on(toggle, "change", function () { setZonesVisible(toggle.checked ? 1 : 0); });
    var button = function (parent, id, text, title, act) {
      var b = L.DomUtil.create("a", "ZoneButton", parent);
      b.id = id;
      b.href = "#";
      b.title = title;
      b.setAttribute("role", "button");
      setText(b, text);
      L.DomEvent.on(b, "click", function (e) {
        L.DomEvent.preventDefault(e);
        if (isLeftButton(e)) act();
      });
      return b;
    };
    button(row, "ZoneDrawCircle", "Circle", "Draw a circle zone", function () { startZoneDrawing("circle"); });
    button(row, "ZoneDrawPolygon", "Polygon", "Draw a polygon zone", function () { startZoneDrawing("polygon"); });
    button(row, "ZoneList", "List", "The zones", function () { callNative("onClickZones", []); });
    this._hint = L.DomUtil.create("div", "ZoneHint", box);
    this._hintText = L.DomUtil.create("span", "", this._hint);
    this._done = button(this._hint, "ZoneEditDone", "Done", "Keep the moved corners", function () {
      finishZoneEditing();
    });
    this._cancel = button(this._hint, "ZoneDrawCancel", "Cancel", "Stop (Esc)", function () { cancelZoneDrawing(); });
    this._toggle = toggle;
    L.DomEvent.disableClickPropagation(box);
    L.DomEvent.disableScrollPropagation(box);
    this.hint("", false);
    return box;
  },
  // A line under the buttons while a zone is drawn or edited; Done only
  // while editing.
  hint: function (text, editing) {
    if (!this._hint) return;
    setText(this._hintText, text);
    this._hint.style.display = text ? "block" : "none";
    this._done.style.display = editing ? "inline-block" : "none";
    if (eventPopup) eventPopup.place();
  },
  update: function () {
    if (this._toggle) this._toggle.checked = map.hasLayer(zoneLayer);
  }
});
