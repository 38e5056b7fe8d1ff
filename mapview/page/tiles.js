// Tile layers sit in their own pane: above the offline base map's canvas
// (overlayPane), so they cover it where they have tiles and let it show
// through where a tile is missing or fails to load, and below the track and
// the vehicle icons.
var TILES_PANE_Z = 450;
var TRACK_PANE_Z = 460;
// Past the file's deepest zoom its tiles are enlarged for this many levels;
// deeper, the base map shows again.
var LOCAL_TILES_OVERZOOM = 2;

function createTilePanes() {
  map.createPane("tilesPane").style.zIndex = TILES_PANE_Z;
  var track = map.createPane("trackPane");
  track.style.zIndex = TRACK_PANE_Z;
  track.style.pointerEvents = "none";
}

// The console's own tile set (an MBTiles file served by the velmora scheme),
// shown in both map styles, only inside its bounds and zoom levels.
function createLocalTiles() {
  var config = window.pageConfig || {};
  if (!config.localTiles) return;
  var b = config.localBounds;
  var bounds = b && b.length === 4 ? L.latLngBounds([b[0], b[1]], [b[2], b[3]]) : null;
  var minZoom = Math.max(0, Number(config.localMinZoom) || 0);
  var maxZoom = Math.max(minZoom, Number(config.localMaxZoom) || 0);
  baseMap.localTiles = L.tileLayer(config.localTiles, {
    pane: "tilesPane",
    bounds: bounds,
    minZoom: minZoom,
    minNativeZoom: minZoom,
    maxNativeZoom: maxZoom,
    maxZoom: maxZoom + LOCAL_TILES_OVERZOOM,
    attribution: escapeMarkup(config.localAttribution || "")
  }).addTo(map);
}
