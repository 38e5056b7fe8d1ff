// The vehicle list: one entry per vehicle with its latest event icon, its
// name and the time-out mark.
function ListBox(options) {
  this.options = options || {};
  this.handlers = [];
  this.items = {};       // vehicle id -> entry element
  this.nextIndex = 0;
  var block = document.createElement("div");
  block.setAttribute("id", "ListBox");
  document.getElementById("VehicleList").appendChild(block);
  this.block = block;
}

ListBox.prototype.listen = EventPopup.prototype.listen;

ListBox.prototype.item = function (vehicleID) {
  var item = this.items[String(vehicleID)];
  return item && item.parentNode ? item : null;
};

ListBox.prototype.AddItem = function (vehicleName, vehicleID, latlng) {
  var self = this;
  var id = String(vehicleID);
  var item = document.createElement("div");
  item.className = "ListItem";
  item.setAttribute("id", id);
  item.vehicleID = id;
  item.latlng = latlng;
  item.index = this.nextIndex++;

  var eventIcon = document.createElement("img");
  eventIcon.className = "EventIcon";
  eventIcon.setAttribute("src", "images/icon_white.png");
  eventIcon.setAttribute("alt", "");
  eventIcon.style.display = "none";
  eventIcon.eventName = "";
  var name = document.createElement("span");
  name.className = "Name";
  setText(name, vehicleName);
  name.setAttribute("title", String(vehicleName));
  var mark = document.createElement("img");
  mark.className = "TimeoutMark";
  mark.setAttribute("src", "images/icon_white.png");
  mark.setAttribute("alt", "");
  mark.style.display = "none";
  item.appendChild(eventIcon);
  item.appendChild(name);
  item.appendChild(mark);
  item.eventIcon = eventIcon;
  item.nameElement = name;
  item.timeoutMark = mark;

  // Entry handlers go with the entry; they are not kept in this.handlers.
  eventIcon.addEventListener("mouseover", function (e) {
    if (self.options.MouseOverLeftHandler) self.options.MouseOverLeftHandler(e, eventIcon.eventName);
  });
  eventIcon.addEventListener("mouseout", function (e) {
    if (self.options.MouseOutHandler) self.options.MouseOutHandler(e);
  });
  name.addEventListener("mouseover", function (e) {
    if (self.options.MouseOverTextHandler) self.options.MouseOverTextHandler(e, name.textContent);
  });
  name.addEventListener("mouseout", function (e) {
    if (self.options.MouseOutHandler) self.options.MouseOutHandler(e);
  });
  item.addEventListener("mousedown", function (e) {
    if (e.button === 1) return;
    self.setCurrentVehicle(e, item);
  });
  item.addEventListener("dblclick", function (e) {
    if (self.options.DoubleClickHandler) self.options.DoubleClickHandler(e, id);
  });
  item.addEventListener("contextmenu", function (e) {
    e.preventDefault();
    self.setCurrentVehicle(e, item);
    if (self.options.ContextMenu) self.options.ContextMenu(e, id);
  });

  this.block.appendChild(item);
  this.items[id] = item;
  var vehicle = findVehicle(id);
  if (vehicle) {
    vehicle.index = item.index;
    restartTimer(vehicle);
  }
  return item;
};

ListBox.prototype.UpdateItem = function (vehicleID, vehicleName, latlng, eventSrc, eventType) {
  var id = String(vehicleID);
  var user = eventType === userDefined;
  var vehicle = findVehicle(id);
  if (!user && vehicle) restartTimer(vehicle);
  var item = this.item(id);
  if (!item) return;
  if (item.nameElement.textContent !== String(vehicleName)) {
    setText(item.nameElement, vehicleName);
    item.nameElement.setAttribute("title", String(vehicleName));
  }
  if (!user && item.timedOut) {
    item.timedOut = false;
    item.timeoutMark.style.display = "none";
    noteVehicleStatus();
  }
  if (latlng) item.latlng = latlng;
  // The last event's icon stays on the entry, selected or not: it is what
  // tells the operator what happened.
  if (eventSrc) {
    item.eventIcon.setAttribute("src", String(eventSrc));
    item.eventIcon.style.display = "inline";
  }
  if (eventType && !user) item.eventIcon.eventName = String(eventType);
};

ListBox.prototype.DeleteItem = function (vehicleID) {
  var item = this.item(vehicleID);
  if (item) this.block.removeChild(item);
  delete this.items[String(vehicleID)];
};

ListBox.prototype.setTimedOut = function (vehicleID) {
  var item = this.item(vehicleID);
  if (!item) return;
  item.timedOut = true;
  item.timeoutMark.setAttribute("src", "images/icon_timeout.png");
  item.timeoutMark.style.display = "inline";
};

ListBox.prototype.vehicleName = function (vehicleID) {
  var item = this.item(vehicleID);
  return item ? item.nameElement.textContent : "";
};

// Selection: any button but the middle one.
ListBox.prototype.setCurrentVehicle = function (e, item) {
  if (e && e.button === 1) return;
  if (!item || !item.parentNode) return;
  var previous = global.currentVehicle;
  for (var id in this.items) {
    var other = this.items[id];
    if (other !== item && other.className !== "ListItem") other.className = "ListItem";
  }
  item.className = "ListItem selected";
  selectVehicle(item.vehicleID, item.latlng, previous);
};

ListBox.prototype.order = function () {
  var ids = [];
  for (var child = this.block.firstChild; child; child = child.nextSibling) ids.push(child.vehicleID);
  return ids;
};

// Equal names without case: the exact comparison decides, greater first.
function compareVehicleNames(a, b) {
  var la = a.toLowerCase(), lb = b.toLowerCase();
  if (la < lb) return -1;
  if (la > lb) return 1;
  if (a > b) return -1;
  if (a < b) return 1;
  return 0;
}

function sortVehicleList(e) {
  if (e && !isLeftButton(e)) return;
  if (!listBox) return;
  var items = [];
  for (var child = listBox.block.firstChild; child; child = child.nextSibling) items.push(child);
  items.sort(function (a, b) {
    return compareVehicleNames(a.nameElement.textContent, b.nameElement.textContent);
  });
  var fragment = document.createDocumentFragment();
  for (var i = 0; i < items.length; i++) fragment.appendChild(items[i]);
  listBox.block.appendChild(fragment);
}

// Time-outs: a vehicle not heard from for global.timeout is marked silent;
// the mark stays until the vehicle is heard again. Every vehicle has the
// same period, so the order in which vehicles were last heard is the order
// of their deadlines: one Map kept in that order (a vehicle heard again
// moves to its end) and one timer for the earliest deadline. A fix costs a
// Map delete and set, where a timer per vehicle cost two timer calls.
var silenceWatch = { due: new Map(), timer: null };

// The vehicle was heard: its time-out starts over. With no period set yet
// nothing is watched (a zero period would mark every vehicle silent at once).
function restartTimer(vehicle) {
  var id = vehicle.vehicleID;
  silenceWatch.due.delete(id);
  if (global.timeout > 0 && !vehicle.deleted) {
    silenceWatch.due.set(id, performance.now() + global.timeout);
    armSilenceWatch();
  }
}

function armSilenceWatch() {
  if (silenceWatch.timer !== null || silenceWatch.due.size === 0) return;
  var first = silenceWatch.due.values().next().value;
  silenceWatch.timer = setTimeout(checkSilence, Math.max(0, Math.ceil(first - performance.now())));
}

// Marks the vehicles whose deadline has passed; they leave the watch until
// they are heard again. A timer that fires early, or for a vehicle heard
// since it was set, marks nothing and is set again for the new earliest one.
function checkSilence() {
  silenceWatch.timer = null;
  var now = performance.now(), silent = [];
  var entries = silenceWatch.due.entries();
  for (var e = entries.next(); !e.done && e.value[1] <= now; e = entries.next()) silent.push(e.value[0]);
  for (var i = 0; i < silent.length; i++) {
    silenceWatch.due.delete(silent[i]);
    listBox.setTimedOut(silent[i]);
  }
  if (silent.length > 0) noteVehicleStatus();
  armSilenceWatch();
}

function resetTimeout(timeout) {
  var period = Number(timeout) * 60000;
  if (!isFinite(period) || period < 0) return;
  if (period === global.timeout) return;
  // A changed period starts every vehicle's time-out over. The timer is set
  // again once all are: the one set for the old period, or while old
  // deadlines still led the watch, may be later than the new deadlines.
  global.timeout = period;
  for (var i = 0; i < vehicleContainer.length; i++) restartTimer(vehicleContainer[i]);
  if (silenceWatch.timer !== null) clearTimeout(silenceWatch.timer);
  silenceWatch.timer = null;
  armSilenceWatch();
}

function enableTooltip() { global.tooltipEnabled = true; }
function hideTooltip() { removeTooltip(); }

function onListMouseOverLeft(e, eventName) {
  if (global.tooltipEnabled && eventName) showTooltip(e, eventName);
}
function onListMouseOverText(e, name) {
  if (global.tooltipEnabled && name) showTooltip(e, name);
}
function onListMouseOut() { removeTooltip(); }
function onListContextMenu(e, vehicleID) {
  removeTooltip();
  vehicleContextMenu.Display(e, vehicleID);
}
