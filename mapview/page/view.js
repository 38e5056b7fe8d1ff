// The map's view: its lowest zoom, the first view of a start, the fit to
// the fleet and the view the console keeps for the next start.
//
// The console calls setMapView() with the view it kept, or fitFleet() when
// it kept none. An empty fleet shows the whole world, and the view then
// follows the fleet as vehicles get their first positions, until the
// operator moves the map. Every view after that (and after a fit of a fleet
// that has positions) goes to the console, a second after the map settled.

// Street level: where "Show on map" and a double click in the list take a
// vehicle, and the closest a fit of the fleet goes.
var STREET_ZOOM = 16;
// Web Mercator ends at this latitude: the map's world is a square.
var WORLD_LATITUDE = 85.0511;
var VIEW_REPORT_MS = 1000;
// A burst of arrivals (a fleet coming on line, or a flood of new ids) makes
// one fit a second at most: each fit redraws the map, and one at street
// level fetches the finer geodata.
var FOLLOW_FIT_MS = 1000;
var FIT_PADDING_PX = 40;

var mapView = {
  follow: false,    // fit the fleet again when a vehicle gets its first position
  report: false,    // views go to the console
  reportTimer: null,
  fitTimer: null,
  reported: ""      // the last view sent, as sent
};

// The lowest zoom whose world is at least as tall as the map, so no band
// of nothing shows above or below it.
function lowestZoom(mapHeight) {
  var h = Math.max(1, Number(mapHeight) || 0);
  return Math.max(0, Math.ceil(Math.log(h / 256) / Math.LN2 - 1e-9));
}

// After a change of the map's size: its lowest zoom, and while the view
// follows the fleet, a new fit (the alarm queue opening beside the map must
// not push the fleet out of it).
function mapResized() {
  updateMinZoom();
  if (mapView.follow) fleetGrew();
}

function updateMinZoom() {
  if (!map) return;
  var zoom = lowestZoom(map.getSize().y);
  if (zoom === map.getMinZoom()) return;
  // Leaflet would animate up to a new lowest zoom, and a view set during
  // that animation would be lost.
  if (map.getZoom() < zoom) map.setZoom(zoom, { animate: false });
  map.setMinZoom(zoom);
}

function createMapView() {
  // North and south the view stops at the world's edges; east and west the
  // base map repeats.
  map.setMaxBounds(L.latLngBounds([-WORLD_LATITUDE, -540], [WORLD_LATITUDE, 540]));
  map.options.maxBoundsViscosity = 1;
  updateMinZoom();
  // Any of the operator's own moves ends following the fleet. Captured, so
  // a press on a vehicle icon (which stops the press) counts too.
  var container = map.getContainer();
  ["mousedown", "wheel", "dblclick", "keydown", "touchstart"].forEach(function (type) {
    container.addEventListener(type, operatorMovesMap, true);
  });
  map.on("moveend", scheduleViewReport);
  new FitFleetControl({ position: "topleft" }).addTo(map);
}

// Where the map starts, before the fleet is in: the view the console kept
// (pageConfig.startView, [latitude, longitude, zoom]) or the stored fleet's
// bounds (pageConfig.startBounds, [south, west, north, east]), fitted as
// fitFleet fits them. The map is then drawn once, at the view it will
// show, rather than the whole world first; the console still sends
// setMapView or fitFleet once the fleet is in. Without either, the world.
function setStartView(worldZoom) {
  var config = window.pageConfig || {};
  var v = config.startView, b = config.startBounds;
  if (v && v.length === 3 && onEarth(Number(v[0]), Number(v[1])) && isFinite(Number(v[2]))) {
    map.setView([Number(v[0]), Number(v[1])], Math.round(Number(v[2])), { animate: false });
    return;
  }
  if (b && b.length === 4 && onEarth(Number(b[0]), Number(b[1])) && onEarth(Number(b[2]), Number(b[3]))) {
    var padding = Math.min(FIT_PADDING_PX, Math.floor(Math.min(map.getSize().x, map.getSize().y) / 4));
    map.fitBounds(L.latLngBounds([Number(b[0]), Number(b[1])], [Number(b[2]), Number(b[3])]),
                  { padding: [padding, padding], maxZoom: STREET_ZOOM, animate: false });
    return;
  }
  map.setView([20, 0], worldZoom, { animate: false });
}

function operatorMovesMap() {
  mapView.follow = false;
  mapView.report = true;
}

// --- the fleet

// The bounds of every vehicle with a position, or null.
function fleetBounds() {
  var bounds = null;
  for (var id in iconIndex) {
    var icon = iconIndex[id];
    if (!vehicleIconShown(icon)) continue;
    var latlng = icon.getLatLng();
    if (bounds) bounds.extend(latlng);
    else bounds = L.latLngBounds(latlng, latlng);
  }
  return bounds;
}

// Fits the view to the fleet: one vehicle at street level, several as close
// as shows them all (at most street level). No vehicle with a position:
// the whole world, and the view follows the first vehicles that get one.
// Answers whether there was a vehicle to fit.
function fitFleet() {
  mapView.follow = !fitToFleet();
  return !mapView.follow;
}

function fitToFleet() {
  clearTimeout(mapView.fitTimer);
  mapView.fitTimer = null;
  var bounds = fleetBounds();
  if (!bounds) {
    map.setView([20, 0], map.getMinZoom(), { animate: false });
    return false;
  }
  var padding = Math.min(FIT_PADDING_PX, Math.floor(Math.min(map.getSize().x, map.getSize().y) / 4));
  map.fitBounds(bounds, { padding: [padding, padding], maxZoom: STREET_ZOOM, animate: false });
  mapView.report = true;
  return true;
}

// A vehicle got its first position: while the view follows the fleet, it
// is fitted again once the burst of arrivals is over.
function fleetGrew() {
  if (!mapView.follow || mapView.fitTimer !== null) return;
  mapView.fitTimer = setTimeout(function () {
    mapView.fitTimer = null;
    if (mapView.follow) fitToFleet();
  }, FOLLOW_FIT_MS);
}

// The view the console kept; anything the map cannot show is ignored.
function setMapView(latitude, longitude, zoom) {
  var lat = Number(latitude), lng = Number(longitude), z = Math.round(Number(zoom));
  if (!onEarth(lat, lng) || !isFinite(z)) {
    pageWarning("setMapView: no view in " + latitude + ", " + longitude + ", " + zoom);
    return;
  }
  clearTimeout(mapView.fitTimer);
  mapView.fitTimer = null;
  mapView.follow = false;
  mapView.report = true;
  z = Math.max(map.getMinZoom(), Math.min(map.getMaxZoom(), z));
  map.setView([lat, lng], z, { animate: false });
  mapView.reported = viewText().join(" ");
}

// --- the view kept by the console

function viewText() {
  var c = map.getCenter();
  var lng = ((c.lng + 540) % 360 + 360) % 360 - 180;
  return [c.lat.toFixed(6), lng.toFixed(6), String(map.getZoom())];
}

function scheduleViewReport() {
  if (!mapView.report) return;
  clearTimeout(mapView.reportTimer);
  mapView.reportTimer = setTimeout(function () {
    mapView.reportTimer = null;
    var view = viewText();
    if (view.join(" ") === mapView.reported) return;
    mapView.reported = view.join(" ");
    callNative("onMapViewChanged", view);
  }, VIEW_REPORT_MS);
}

// --- one vehicle at street level

// Centres the vehicle at street level (closer zooms stay) and opens its
// popup; the vehicle must be selected already.
function showVehicleClose(vehicleID) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var icon = vehicleIcon(vehicleID);
  var latlng = vehicle.latlng || (icon && vehicleIconShown(icon) ? icon.getLatLng() : null);
  mapView.follow = false;
  mapView.report = true;
  if (latlng) map.setView(latlng, Math.max(map.getZoom(), STREET_ZOOM), { animate: false });
  fillPopup(vehicle);
  contextMenu.Display(null);
  refreshKeptOut();
}

// --- the "Fit fleet" button under the zoom buttons

var FitFleetControl = L.Control.extend({
  onAdd: function () {
    var bar = L.DomUtil.create("div", "leaflet-bar leaflet-control FitFleet");
    var button = L.DomUtil.create("a", "FitFleetButton", bar);
    button.href = "#";
    button.title = "Fit fleet";
    button.setAttribute("role", "button");
    button.setAttribute("aria-label", "Fit fleet");
    L.DomUtil.create("span", "FitFleetGlyph", button);
    L.DomEvent.disableClickPropagation(bar);
    L.DomEvent.on(button, "click", function (e) {
      L.DomEvent.preventDefault(e);
      if (isLeftButton(e)) fitFleet();
    });
    return bar;
  }
});
