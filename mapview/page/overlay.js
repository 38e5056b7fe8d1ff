// The vehicle icon: an image element the size of the icon image, centred on
// the vehicle's position in its own pane above the track, shown rotated by
// the course about its centre. The rotation is part of the element's
// transform, so a turn costs a style change, not a redraw. Icons of one
// image share its decoded pixels, and the transform is a plane one, so
// thousands of them on the map (a fleet in alarm, each out of its group)
// are drawn into their pane's layer: no drawing surface or compositor
// layer each.
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

// The icons on the map, placed anew by one handler of the map's zoom events:
// a handler each would make adding thousands of icons at once (a fleet's
// alarms) cost their number squared, as the map checks every new handler
// against those it has.
var iconsOnMap = { icons: {}, listening: false };

function resetIconsOnMap() {
  for (var id in iconsOnMap.icons) iconsOnMap.icons[id]._reset();
}

function animateIconsOnMap(e) {
  for (var id in iconsOnMap.icons) iconsOnMap.icons[id]._animateZoom(e);
}

// options.className replaces "VehicleIcon"; options.interactive false makes
// an icon that takes no clicks (the history replay's marker).
var ImageIconOverlay = L.Layer.extend({
  initialize: function (latlng, src, vehicleID, options) {
    this._latlng = L.latLng(latlng);
    this._shownAt = null;
    this._src = src;
    this._angle = 0;
    this._vehicleID = vehicleID;
    this._element = null;
    this._width = 0;
    this._height = 0;
    this._className = (options && options.className) || "VehicleIcon";
    this._interactive = !(options && options.interactive === false);
    this._pane = "vehiclePane";
  },

  onAdd: function (map) {
    var self = this;
    var element = L.DomUtil.create("img", "IconOverlay " + this._className + " leaflet-zoom-animated");
    element.style.transformOrigin = "50% 50%";
    element.setAttribute("alt", "");
    element.draggable = false;
    if (this._interactive) {
      element.setAttribute("data-vehicle", this._vehicleID);
      L.DomEvent.on(element, "mousedown", L.DomEvent.stopPropagation);
      L.DomEvent.on(element, "click", function (e) {
        L.DomEvent.stop(e);
        if (e.button === 0) onVehicleIconClick(self._vehicleID, e);
      });
      L.DomEvent.on(element, "dblclick", L.DomEvent.stop);
    } else {
      element.style.pointerEvents = "none";
    }
    // Not shown until its image's size is known: it is centred by it.
    element.style.visibility = "hidden";
    this._element = element;
    map.getPane(this._pane).appendChild(element);
    iconsOnMap.icons[L.stamp(this)] = this;
    if (!iconsOnMap.listening) {
      iconsOnMap.listening = true;
      map.on({ zoom: resetIconsOnMap, viewreset: resetIconsOnMap, zoomanim: animateIconsOnMap });
    }
    this._setImage(this._src);
  },

  onRemove: function () {
    delete iconsOnMap.icons[L.stamp(this)];
    L.DomUtil.remove(this._element);
    this._element = null;
  },

  // Moves the icon to another of the map's panes (now if it is shown).
  setPane: function (name) {
    if (name === this._pane) return;
    this._pane = name;
    if (this._element && this._map) this._map.getPane(name).appendChild(this._element);
  },

  // The icon's element while it is on the map, else null.
  getElement: function () { return this._element; },

  // The image's size in pixels (0 until it has loaded): read from the image,
  // never from the element, which would force a layout.
  getSize: function () { return L.point(this._width, this._height); },

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
    // The callback may run at once when the image is cached; it reads the
    // image's size from the cache.
    loadIconImage(src, function () {
      var element = self._element;
      if (self._src !== src || !element) return;
      var image = iconImages[src].image;
      self._width = image.naturalWidth;
      self._height = image.naturalHeight;
      element.width = self._width;
      element.height = self._height;
      element.src = src;
      element.style.visibility = "";
      self._reset();
      // The place names were kept clear of the box it had until now.
      placeLabels.moved = true;
    });
  },

  _applyTransform: function () {
    var element = this._element;
    if (!element || !this._pos) return;
    element._leaflet_pos = this._pos;
    element.style.transform = "translate(" + this._pos.x + "px," + this._pos.y + "px) rotate(" + this._angle + "rad)";
  },

  _placeAt: function (p) {
    this._pos = p.subtract([this._width / 2, this._height / 2]).round();
    this._applyTransform();
  },

  _reset: function () {
    if (!this._map || !this._element) return;
    this._placeAt(this._map.latLngToLayerPoint(this.getShownLatLng()));
  },

  _animateZoom: function (e) {
    if (!this._element) return;
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
