// The finer base map: Natural Earth 1:10m land and borders, fetched through
// the asset scheme the first time the map is zoomed to FINE_MAP_ZOOM or
// closer, and drawn instead of the 1:50m geometry from there on. Below that
// zoom, and until it has arrived (or when it cannot be loaded), the 1:50m
// geometry stays.
var FINE_MAP_ZOOM = 6;

var fineMap = { state: "none", land: null, borders: null, shown: false }; // state: none, loading, ready, failed

function createFineMap() {
  map.on("zoomend", updateFineMap);
  updateFineMap();
}

function loadFineMap() {
  var config = window.pageConfig || {};
  if (!config.assetBase) { fineMap.state = "failed"; return; }
  fineMap.state = "loading";
  var script = document.createElement("script");
  script.id = "FineMapScript";
  script.src = config.assetBase + "geodata/world-10m.js";
  script.onload = function () {
    try {
      // Far from the 180th meridian the finer map needs no copies a world
      // away: the view jumps back past them (createBaseMap).
      var geometry = buildBaseGeometry(window.velmoraWorld10m, true);
      fineMap.land = new BaseLand(geometry.land, {
        renderer: baseMap.renderer, interactive: false, weight: 0.8, fillOpacity: 1, smoothFactor: 1
      });
      fineMap.borders = new BaseBorders(geometry.borders, {
        renderer: baseMap.renderer, interactive: false, weight: 1, dashArray: "4 3", smoothFactor: 1
      });
      fineMap.state = "ready";
    } catch (e) {
      fineMap.state = "failed";
    }
    window.velmoraWorld10m = null; // the decoded copy is all the page keeps
    styleFineMap();
    updateFineMap();
  };
  script.onerror = function () { fineMap.state = "failed"; };
  document.head.appendChild(script);
}

function updateFineMap() {
  var fine = map.getZoom() >= FINE_MAP_ZOOM;
  if (fine && fineMap.state === "none") loadFineMap();
  var useFine = fine && fineMap.state === "ready";
  swapLayer(fineMap.land, useFine);
  swapLayer(fineMap.borders, useFine);
  swapLayer(baseMap.land, !useFine);
  swapLayer(baseMap.borders, !useFine);
  // Land under the water, borders over both, whichever set shows.
  if (useFine !== fineMap.shown) {
    fineMap.shown = useFine;
    orderBaseLayers();
  }
}

function swapLayer(layer, shown) {
  if (!layer) return;
  if (shown && !map.hasLayer(layer)) layer.addTo(map);
  else if (!shown && map.hasLayer(layer)) map.removeLayer(layer);
}

// The finer geometry takes the style of the current base map type.
function styleFineMap() {
  var style = BASE_STYLES[baseMap.type];
  if (!style) return;
  if (fineMap.land) fineMap.land.setStyle({ color: style.coast, fillColor: style.land });
  if (fineMap.borders) fineMap.borders.setStyle({ color: style.border });
}
