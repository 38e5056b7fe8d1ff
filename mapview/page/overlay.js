// The vehicle icon: a canvas the size of the icon image, centred on the
// vehicle's position in its own pane above the track, shown rotated by the
// course about its centre. The image is drawn once; the rotation is part of
// the element's transform, so a turn costs a style change, not a redraw.
// A left click selects the vehicle and opens its popup.
var iconImages = {};

function loadIconImage(src, onReady) {
  var entry = iconImages[src];
  if (!entry) {
    entry = { image: new Image(), ready: false, waiting: [] };
    iconImages[src] = entry;
    entry.image.onload = function () {
      entry.ready = true;
      var waiting = entry.waiting;
      entry.waiting = [];
      for (var i = 0; i < waiting.length; i++) waiting[i]();
    };
    entry.image.src = src;
  }
  if (entry.ready) {
    onReady();
  } else {
    entry.waiting.push(onReady);
  }
  return entry.image;
}

// options.className replaces "VehicleIcon"; options.interactive false makes
// an icon that takes no clicks (the history replay's marker).
var ImageCanvasOverlay = L.Layer.extend({
  initialize: function (latlng, src, vehicleID, options) {
    this._latlng = L.latLng(latlng);
    this._shownAt = null;
    this._src = src;
    this._angle = 0;
    this._vehicleID = vehicleID;
    this._canvas = null;
    this._className = (options && options.className) || "VehicleIcon";
    this._interactive = !(options && options.interactive === false);
  },

  onAdd: function (map) {
    var self = this;
    var canvas = L.DomUtil.create("canvas", this._className + " leaflet-zoom-animated");
    canvas.style.transformOrigin = "50% 50%";
    canvas.width = 0;
    canvas.height = 0;
    if (this._interactive) {
      canvas.setAttribute("data-vehicle", this._vehicleID);
      L.DomEvent.on(canvas, "mousedown", L.DomEvent.stopPropagation);
      L.DomEvent.on(canvas, "click", function (e) {
        L.DomEvent.stop(e);
        if (e.button === 0) onVehicleIconClick(self._vehicleID, e);
      });
      L.DomEvent.on(canvas, "dblclick", L.DomEvent.stop);
    } else {
      canvas.style.pointerEvents = "none";
    }
    this._canvas = canvas;
    map.getPane("vehiclePane").appendChild(canvas);
    this._setImage(this._src);
  },

  onRemove: function () {
    L.DomUtil.remove(this._canvas);
    this._canvas = null;
  },

  getEvents: function () {
    return { zoom: this._reset, viewreset: this._reset, zoomanim: this._animateZoom };
  },

  // Where the layer is as far as the layers holding it know (a vehicle
  // group finds it by this position).
  getLatLng: function () { return this._latlng; },

  // Fires "move" as a marker does, so a vehicle group regroups it.
  setLatLng: function (latlng) {
    var old = this._latlng;
    this._latlng = L.latLng(latlng);
    this._shownAt = null;
    this._reset();
    this.fire("move", { oldLatLng: old, latlng: this._latlng });
  },

  // Draws the icon at latlng while the layer stays at getLatLng() for the
  // layers holding it, until the next setLatLng (see moveVehicleIcon).
  showAt: function (latlng) {
    this._shownAt = L.latLng(latlng);
    this._reset();
  },

  // Where the icon is drawn.
  getShownLatLng: function () { return this._shownAt || this._latlng; },

  // Makes where the icon is drawn the layer's position, telling no one: for
  // a layer no group holds at the moment.
  settle: function () {
    if (this._shownAt) this._latlng = this._shownAt;
    this._shownAt = null;
  },

  // The angle in radians, clockwise from north.
  setAngle: function (radians) {
    if (radians === this._angle) return;
    this._angle = radians;
    this._applyTransform();
  },

  getAngle: function () { return this._angle; },

  setImage: function (src) {
    if (src === this._src) return;
    this._src = src;
    this._setImage(src);
  },

  getImage: function () { return this._src; },

  _setImage: function (src) {
    var self = this;
    // The callback may run at once when the image is cached, so it takes
    // the image from the cache rather than from this._image.
    this._image = loadIconImage(src, function () {
      if (self._src !== src || !self._canvas) return;
      self._image = iconImages[src].image;
      self._canvas.width = self._image.naturalWidth;
      self._canvas.height = self._image.naturalHeight;
      self._draw();
      self._reset();
      // The place names were kept clear of the box it had until now.
      placeLabels.moved = true;
    });
  },

  _draw: function () {
    var canvas = this._canvas;
    if (!canvas || !canvas.width) return;
    var ctx = canvas.getContext("2d");
    var w = canvas.width, h = canvas.height;
    ctx.clearRect(0, 0, w, h);
    ctx.drawImage(this._image, 0, 0, w, h);
  },

  _applyTransform: function () {
    var canvas = this._canvas;
    if (!canvas || !this._pos) return;
    canvas._leaflet_pos = this._pos;
    canvas.style.transform = "translate3d(" + this._pos.x + "px," + this._pos.y + "px,0) rotate(" + this._angle + "rad)";
  },

  _placeAt: function (p) {
    this._pos = p.subtract([this._canvas.width / 2, this._canvas.height / 2]).round();
    this._applyTransform();
  },

  _reset: function () {
    if (!this._map || !this._canvas) return;
    this._placeAt(this._map.latLngToLayerPoint(this.getShownLatLng()));
  },

  _animateZoom: function (e) {
    if (!this._canvas) return;
    this._placeAt(this._map._latLngToNewLayerPoint(this.getShownLatLng(), e.zoom, e.center));
  }
});

// 37°26'30.84"N: whole degrees, whole minutes, seconds to two decimals and
// the hemisphere by the value's own sign (so -0.5 is south, not north).
function formatDegrees(value, positive, negative) {
  var v = Number(value);
  if (!isFinite(v)) return "";
  var hemisphere = v < 0 ? negative : positive;
  var a = Math.abs(v);
  var degrees = Math.floor(a);
  var minutesFull = (a - degrees) * 60;
  var minutes = Math.floor(minutesFull);
  var seconds = (minutesFull - minutes) * 60;
  if (seconds.toFixed(2) === "60.00") { seconds = 0; minutes += 1; }
  if (minutes === 60) { minutes = 0; degrees += 1; }
  return degrees + "\u00B0" + minutes + "'" + seconds.toFixed(2) + "\"" + hemisphere;
}

function formatLatitude(value) { return formatDegrees(value, "N", "S"); }
function formatLongitude(value) { return formatDegrees(value, "E", "W"); }

// Knots as km/h and mph, two decimals each.
function formatSpeed(knots) {
  var s = Number(knots);
  if (!isFinite(s)) s = 0;
  return (s * 1.852).toFixed(2) + "km/h (" + (s * 1.151).toFixed(2) + " mph)";
}
