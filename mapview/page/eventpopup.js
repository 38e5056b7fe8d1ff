// The floating event list: newest line on top, at most 17 lines. It stands
// in the map's top right corner, out of the way of the map's controls and
// of the selected vehicle: it moves down past them, gets shorter or
// narrower, and with no room left it shrinks to its counter. The operator
// can also fold it to the counter and open it again.
var EVENT_LIST_WIDTH = 310;     // outer width: 300 and the padding
var EVENT_LIST_MIN_WIDTH = 170;
var EVENT_LIST_MIN_HEIGHT = 58; // the close row and two lines
var EVENT_LIST_MARGIN = 10;     // from the map's edges and from what it avoids
var EVENT_LIST_TOP = 13;        // below the map's top edge
var EVENT_COUNTER_WIDTH = 104;
var EVENT_COUNTER_HEIGHT = 24;

function EventPopup(options) {
  var self = this;
  this.options = options || {};
  this.handlers = [];
  this.DEFAULT_ITEM_COUNT = 9;
  this.TOTAL_ITEM_COUNT = 18;
  this.ITEM_HEIGHT = 16;
  this.DEFAULT_HEIGHT = 150;
  this.shown = false;      // has lines the operator has not closed
  this.collapsed = false;  // folded to the counter by the operator
  this.count = 0;          // events since the list was last closed

  var block = document.createElement("div");
  block.setAttribute("id", "EventPopup");
  var closeRow = document.createElement("div");
  closeRow.className = "CloseRow";
  var fold = document.createElement("span");
  fold.className = "FoldButton";
  fold.setAttribute("title", "Fold the event list");
  setText(fold, "\u2013");
  closeRow.appendChild(fold);
  var close = document.createElement("img");
  close.setAttribute("src", "images/eventpopup_close_normal.png");
  close.setAttribute("alt", "");
  closeRow.appendChild(close);
  block.appendChild(closeRow);
  document.body.appendChild(block);
  this.block = block;
  this.closeRow = closeRow;
  this.height = this.DEFAULT_HEIGHT;

  var counter = document.createElement("div");
  counter.setAttribute("id", "EventCounter");
  counter.setAttribute("title", "Open the event list");
  document.body.appendChild(counter);
  this.counter = counter;

  this.listen(close, "mouseover", function () { close.setAttribute("src", "images/eventpopup_close_mover.png"); });
  this.listen(close, "mouseout", function () { close.setAttribute("src", "images/eventpopup_close_normal.png"); });
  this.listen(close, "mousedown", function (e) {
    if (e.button !== 0) return;
    e.stopPropagation();
    self.Hide();
    self.DeleteItem();
  });
  this.listen(fold, "mousedown", function (e) {
    if (e.button !== 0) return;
    e.stopPropagation();
    self.setCollapsed(true);
  });
  this.listen(counter, "mousedown", function (e) {
    if (e.button !== 0) return;
    e.stopPropagation();
    self.setCollapsed(false);
  });
}

EventPopup.prototype.listen = function (element, type, handler) {
  element.addEventListener(type, handler, false);
  this.handlers.push([element, type, handler]);
};

EventPopup.prototype.AddItem = function (key, value, src) {
  var self = this;
  var height = this.height;
  var children = this.block.childNodes.length; // the close row counts
  if (children > this.DEFAULT_ITEM_COUNT - 1 && children < this.TOTAL_ITEM_COUNT) {
    this.height += this.ITEM_HEIGHT;
  }
  if (children > this.TOTAL_ITEM_COUNT - 1) {
    this.block.removeChild(this.block.lastChild);
  }
  var line = document.createElement("div");
  line.className = "EventLine";
  line.setAttribute("data-vehicle", String(key));
  line.setAttribute("title", String(value));
  if (src) {
    var icon = document.createElement("img");
    icon.setAttribute("src", String(src));
    icon.setAttribute("alt", "");
    line.appendChild(icon);
  } else {
    line.className += " noicon";
  }
  var text = document.createElement("span");
  setText(text, value);
  line.appendChild(text);
  line.addEventListener("mouseover", function (e) {
    if (self.options.EventPopupMouseOverHandler) self.options.EventPopupMouseOverHandler(e, String(value));
  });
  line.addEventListener("mouseout", function (e) {
    if (self.options.EventPopupMouseOutHandler) self.options.EventPopupMouseOutHandler(e);
  });
  line.addEventListener("mousedown", function (e) {
    if (e.button !== 0) return;
    if (self.options.EventPopupClickHandler) self.options.EventPopupClickHandler(e, String(key));
  });
  if (icon) {
    icon.addEventListener("mousedown", function (e) {
      if (e.button !== 0) return;
      if (self.options.EventPopupImgClickHandler) self.options.EventPopupImgClickHandler(e, String(key));
    });
  }
  // Line handlers are not kept in this.handlers: they go with the line,
  // so a console left running for weeks does not collect them.
  this.block.insertBefore(line, this.closeRow.nextSibling);
  this.count++;
  // The place is measured only when the list opens or grows: a burst of
  // events must not make the page lay itself out once per line.
  if (!this.shown || this.height !== height) this.Display();
  else if (this.counter.style.display === "block") this.showCount();
};

EventPopup.prototype.showCount = function () {
  setText(this.counter, this.count === 1 ? "1 event" : this.count + " events");
};

EventPopup.prototype.Display = function () {
  this.shown = true;
  this.place();
};

EventPopup.prototype.Hide = function () {
  this.shown = false;
  this.count = 0;
  this.height = this.DEFAULT_HEIGHT;
  this.place();
};

EventPopup.prototype.DeleteItem = function () {
  while (this.block.lastChild && this.block.lastChild !== this.closeRow) {
    this.block.removeChild(this.block.lastChild);
  }
};

EventPopup.prototype.lineCount = function () { return this.block.childNodes.length - 1; };

EventPopup.prototype.setCollapsed = function (collapsed) {
  this.collapsed = !!collapsed;
  removeTooltip();
  this.place();
};

// Whether the list is folded to its counter now, by the operator or for
// want of room.
EventPopup.prototype.isCollapsed = function () {
  return this.shown && this.block.style.display === "none";
};

// Puts the list (or its counter) where it covers nothing it must not.
EventPopup.prototype.place = function () {
  if (!this.shown) {
    // Closed: nothing to measure; it opens in the map's top right corner.
    this.block.style.left = (global.width - EVENT_LIST_MARGIN - EVENT_LIST_WIDTH) + "px";
    this.block.style.width = (EVENT_LIST_WIDTH - 10) + "px";
    this.block.style.height = this.height + "px";
    this.block.style.display = "none";
    this.counter.style.display = "none";
    return;
  }
  var area = eventListArea();
  var obstacles = area ? eventListObstacles() : [];
  var spot = area ? eventListSpot(area, obstacles, EVENT_LIST_WIDTH, this.height + 10,
    EVENT_LIST_MIN_WIDTH, EVENT_LIST_MIN_HEIGHT) : null;
  var open = !this.collapsed && spot !== null;
  if (spot) {
    this.block.style.left = spot.left + "px";
    this.block.style.top = spot.top + "px";
    this.block.style.width = (spot.width - 10) + "px";
    this.block.style.height = (spot.height - 10) + "px";
  }
  this.block.style.display = open ? "block" : "none";
  var folded = !open;
  if (folded) {
    this.showCount();
    var chip = area ? eventListSpot(area, obstacles, EVENT_COUNTER_WIDTH, EVENT_COUNTER_HEIGHT,
      EVENT_COUNTER_WIDTH, EVENT_COUNTER_HEIGHT) : null;
    // No free place even for the counter (a tiny map): the top right corner.
    if (!chip && area) {
      chip = { left: area.right - EVENT_LIST_MARGIN - EVENT_COUNTER_WIDTH, top: area.top + EVENT_LIST_TOP };
    }
    if (chip) {
      this.counter.style.left = chip.left + "px";
      this.counter.style.top = chip.top + "px";
    }
  }
  this.counter.style.display = folded ? "block" : "none";
};

// The map's box on the page, or null before the map is laid out.
function eventListArea() {
  if (!map) return null;
  var r = map.getContainer().getBoundingClientRect();
  if (r.width <= 0 || r.height <= 0) return null;
  return { left: r.left, top: r.top, right: r.right, bottom: r.bottom };
}

// What the list must leave free: the map's controls, the history bar and
// the selected vehicle's icon.
function eventListObstacles() {
  var boxes = [];
  var add = function (element) {
    if (!element || element.offsetParent === null) return;
    var r = element.getBoundingClientRect();
    if (r.width > 0 && r.height > 0) boxes.push({ left: r.left, top: r.top, right: r.right, bottom: r.bottom });
  };
  var controls = map.getContainer().querySelectorAll(".leaflet-control");
  for (var i = 0; i < controls.length; i++) add(controls[i]);
  add(document.getElementById("TrackingBar"));
  var icon = global.currentVehicle ? vehicleIcon(global.currentVehicle) : null;
  if (icon && icon._place === "map") add(icon.getElement());
  return boxes;
}

// Where a box of width x height goes in area (page coordinates): at the
// right edge, as high as it is free of every obstacle. With no such place
// it may be shorter (down to minHeight) and then narrower (down to
// minWidth); null when nothing fits.
function eventListSpot(area, obstacles, width, height, minWidth, minHeight) {
  var m = EVENT_LIST_MARGIN;
  var top = area.top + EVENT_LIST_TOP, bottom = area.bottom - m;
  for (var w = width; w >= minWidth; w -= 20) {
    var left = area.right - m - w;
    if (left < area.left + m) continue;
    // The obstacles in this column, as bands of height.
    var bands = [];
    for (var i = 0; i < obstacles.length; i++) {
      var o = obstacles[i];
      if (o.right + m > left && o.left - m < left + w) bands.push([o.top - m, o.bottom + m]);
    }
    bands.sort(function (a, b) { return a[0] - b[0]; });
    var best = null, y = top;
    for (var k = 0; k <= bands.length; k++) {
      var end = k < bands.length ? Math.min(bands[k][0], bottom) : bottom;
      var free = end - y;
      if (free >= height) return { left: left, top: Math.round(y), width: w, height: height };
      if (free >= minHeight && (!best || free > best.height)) {
        best = { left: left, top: Math.round(y), width: w, height: Math.floor(free) };
      }
      if (k < bands.length) y = Math.max(y, bands[k][1]);
    }
    if (best) return best;
  }
  return null;
}
