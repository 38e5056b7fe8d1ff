// Tile layers sit in their own pane: above the offline base map's canvas
// (overlayPane), so they cover it where they have tiles and let it show
// through where a tile is missing or fails to load, and below the track and
// the vehicle icons.
var TILES_PANE_Z = 450;
var TRACK_PANE_Z = 460;
// Past the file's deepest zoom its tiles are enlarged for this many levels;
// deeper, the base map shows again.
var LOCAL_TILES_OVERZOOM = 2;
// Most tiles asked for in one batch: a view's worth, so a large window's
// first tiles are not held back by its last.
var LOCAL_TILES_BATCH = 32;

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
  var options = {
    pane: "tilesPane",
    bounds: bounds,
    minZoom: minZoom,
    minNativeZoom: minZoom,
    maxNativeZoom: maxZoom,
    maxZoom: maxZoom + LOCAL_TILES_OVERZOOM,
    attribution: escapeMarkup(config.localAttribution || "")
  };
  baseMap.localTiles = config.localTilesBatch
    ? new BatchedTileLayer(config.localTiles, new TileBatcher(config.localTilesBatch), options)
    : L.tileLayer(config.localTiles, options);
  baseMap.localTiles.addTo(map);
}

// Asks the console for tiles in batches: the engine's cost of one request
// is far above the cost of one tile, so the tiles asked for in one turn of
// the page go out together (address: the batch template with {z}, plus
// "?xy=x,y,x,y..."). The answer has a line per tile, in order: the tile's
// data: address, or an empty line when there is none.
function TileBatcher(address) {
  this.address = address;
  this.waiting = null;
}

// Gives image the tile z/x/y as its src, or calls missing() when there is
// no such tile or the request fails. An image that has a src by the time
// the answer comes (the map let go of it) is left alone.
TileBatcher.prototype.ask = function (z, x, y, image, missing) {
  if (!this.waiting) {
    this.waiting = [];
    setTimeout(L.Util.bind(this.send, this), 0);
  }
  this.waiting.push({z: z, x: x, y: y, image: image, missing: missing});
};

TileBatcher.prototype.send = function () {
  var waiting = this.waiting;
  this.waiting = null;
  var byZoom = {};
  for (var i = 0; i < waiting.length; i++) {
    (byZoom[waiting[i].z] = byZoom[waiting[i].z] || []).push(waiting[i]);
  }
  for (var z in byZoom) {
    for (var start = 0; start < byZoom[z].length; start += LOCAL_TILES_BATCH) {
      this.request(Number(z), byZoom[z].slice(start, start + LOCAL_TILES_BATCH));
    }
  }
};

TileBatcher.prototype.request = function (z, tiles) {
  // Each tile is named once (the console refuses a batch that names one
  // twice); images waiting for the same tile share its line.
  var xy = [], line = {};
  for (var i = 0; i < tiles.length; i++) {
    var key = tiles[i].x + "," + tiles[i].y;
    if (!line.hasOwnProperty(key)) {
      line[key] = xy.length / 2;
      xy.push(tiles[i].x, tiles[i].y);
    }
  }
  var request = new XMLHttpRequest();
  request.open("GET", L.Util.template(this.address, {z: z}) + "?xy=" + xy.join(","));
  request.onload = function () {
    var lines = request.status === 200 ? request.responseText.split("\n") : [];
    for (var i = 0; i < tiles.length; i++) {
      var tile = tiles[i];
      if (tile.image.hasAttribute("src")) continue;
      var text = lines[line[tile.x + "," + tile.y]];
      // Only a data: picture becomes the image's address.
      if (text && text.lastIndexOf("data:image/", 0) === 0) tile.image.src = text;
      else tile.missing();
    }
  };
  request.onerror = function () {
    for (var i = 0; i < tiles.length; i++) {
      if (!tiles[i].image.hasAttribute("src")) tiles[i].missing();
    }
  };
  request.send();
};

// Leaflet's tile layer with its images' addresses from a TileBatcher.
var BatchedTileLayer = L.TileLayer.extend({
  initialize: function (url, batcher, options) {
    L.TileLayer.prototype.initialize.call(this, url, options);
    this.batcher = batcher;
  },

  createTile: function (coords, done) {
    var tile = document.createElement("img");
    L.DomEvent.on(tile, "load", L.Util.bind(this._tileOnLoad, this, done, tile));
    L.DomEvent.on(tile, "error", L.Util.bind(this._tileOnError, this, done, tile));
    tile.alt = "";
    tile.setAttribute("role", "presentation");
    var layer = this;
    this.batcher.ask(this._getZoomForUrl(), coords.x, coords.y, tile, function () {
      layer._tileOnError(done, tile, new Error("no tile"));
    });
    return tile;
  }
});
