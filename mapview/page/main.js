// The page functions the console calls, and the page's own wiring.

function callNative(name, args) {
  try {
    if (window.cef && cef.extension && typeof cef.extension[name] === "function") {
      cef.extension[name].apply(cef.extension, args || []);
    }
  } catch (e) {
    // A failed native call must not stop the page function that made it.
  }
}

// What the page has to say about data it was given goes to the console's
// trace, never into a dialog: a box would stop the page until clicked.
function pageWarning(text) {
  if (window.console && console.warn) console.warn(String(text));
}

// A drag moves its element on the next frame; a release that comes before
// that frame (a busy page) would end the drag where the previous frame left
// it, and a zone corner would drop short of where the operator let go. The
// drag's last position is applied before it ends.
(function () {
  var finish = L.Draggable.prototype.finishDrag;
  L.Draggable.prototype.finishDrag = function () {
    if (this._moved && this._moving && this._newPos) {
      L.Util.cancelAnimFrame(this._animRequest);
      this._updatePosition();
    }
    return finish.apply(this, arguments);
  };
})();

// A latitude and longitude the map can show; anything else is no position.
function onEarth(lat, lng) {
  return isFinite(lat) && isFinite(lng) && Math.abs(lat) <= 90 && Math.abs(lng) <= 180;
}

function parseCoordinate(text) {
  if (typeof text === "number") return text;
  var s = String(text).trim();
  return s === "" ? NaN : Number(s);
}

function setAddress(text) {
  setText(document.getElementById("Address"), text);
  document.getElementById("Address").setAttribute("title", String(text || ""));
}

// --- reverse geocoding, answered by the console through the asset scheme

var geocodeSeq = 0;
var geocodeWaiting = {};  // request number -> what to do with the answer
var addressSeq = 0;       // the toolbar address line's latest request

// Asks the geocoder about latlng; callback(results) gets the answer. False
// when nothing could be asked (no position, no geocoder).
function geocode(latlng, callback) {
  var config = window.pageConfig || {};
  if (!latlng || !config.geocodeUrl) return false;
  var seq = ++geocodeSeq;
  geocodeWaiting[seq] = callback;
  var script = document.createElement("script");
  script.src = config.geocodeUrl + "?lat=" + latlng.lat.toFixed(6) + "&lng=" + latlng.lng.toFixed(6) + "&seq=" + seq;
  script.onload = function () {
    if (script.parentNode) script.parentNode.removeChild(script);
  };
  script.onerror = function () {
    if (script.parentNode) script.parentNode.removeChild(script);
    var waiting = geocodeWaiting[seq];
    delete geocodeWaiting[seq];
    if (waiting) waiting(null);
  };
  document.head.appendChild(script);
  return true;
}

// Clearing goes through here too (latlng null), so that an answer still on its
// way for an earlier request cannot write the address back afterwards.
function requestAddress(latlng) {
  var mine = ++addressSeq;
  var asked = geocode(latlng, function (results) {
    if (mine !== addressSeq) return;
    var text = "";
    if (results && results.length > 1) text = results[1];
    setAddress(text);
  });
  if (!asked) setAddress("");
}

// Called by the geocoder's answer.
function velmoraGeocodeReply(seq, results) {
  var waiting = geocodeWaiting[seq];
  if (!waiting) return;
  delete geocodeWaiting[seq];
  waiting(results);
}

// --- selection, popup and track

function vehicleIcon(vehicleID) {
  return iconIndex[String(vehicleID)] || null;
}

function showTrack(vehicle) {
  trackLine.setLatLngs(vehicle ? vehicle.track : []);
  if (global.trackingLine && vehicle) {
    if (!map.hasLayer(trackLine)) trackLine.addTo(map);
  } else if (map.hasLayer(trackLine)) {
    map.removeLayer(trackLine);
  }
}

function selectVehicle(vehicleID, latlng, previous) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var position = vehicle.latlng || latlng;
  if (position) map.panTo(position, { animate: false });
  if (previous && previous !== vehicleID) {
    var old = vehicleIcon(previous);
    if (old) old.setImage(global.normalIcon);
  }
  var icon = vehicleIcon(vehicleID);
  if (icon) icon.setImage(global.selectIcon);
  global.currentVehicle = vehicleID;
  // The popup follows the selection; the vehicle it showed goes back to its
  // group with the one selected before.
  if (previous && previous !== vehicleID) fillPopup(vehicle);
  refreshKeptOut();
  showTrack(vehicle);
  requestAddress(position || null);
  eventPopup.place();
}

var POPUP_PLACEHOLDERS = {};
POPUP_PLACEHOLDERS[Driver] = "Driver Name";
POPUP_PLACEHOLDERS[Company] = "Company";
POPUP_PLACEHOLDERS[Registration] = "Registration Number";
POPUP_PLACEHOLDERS[License] = "License";
POPUP_PLACEHOLDERS[Maker] = "Vehicle Maker";
POPUP_PLACEHOLDERS[Model] = "Vehicle Model";

function fillOptionalFields(vehicle) {
  contextMenu.setVehicleName(vehicle.vehicleName);
  contextMenu.UpdateItem(Driver, vehicle.driver, POPUP_PLACEHOLDERS[Driver]);
  contextMenu.UpdateItem(Company, vehicle.company, POPUP_PLACEHOLDERS[Company]);
  contextMenu.UpdateItem(Registration, vehicle.registration, POPUP_PLACEHOLDERS[Registration]);
  contextMenu.UpdateItem(License, vehicle.license, POPUP_PLACEHOLDERS[License]);
  contextMenu.UpdateItem(Maker, vehicle.maker, POPUP_PLACEHOLDERS[Maker]);
  contextMenu.UpdateItem(Model, vehicle.model, POPUP_PLACEHOLDERS[Model]);
}

function fillMovingFields(vehicle) {
  contextMenu.UpdateItem("Speed", formatSpeed(vehicle.speed));
  contextMenu.UpdateItem("Latitude", vehicle.latlng ? formatLatitude(vehicle.latlng.lat) : "");
  contextMenu.UpdateItem("Longitude", vehicle.latlng ? formatLongitude(vehicle.latlng.lng) : "");
  contextMenu.UpdateItem("Update Time", vehicle.updateTime);
}

function fillPopup(vehicle) {
  contextMenu.setVehicleID(vehicle.vehicleID);
  fillOptionalFields(vehicle);
  contextMenu.UpdateItem("image", vehicle.imgPath);
  fillMovingFields(vehicle);
  contextMenu.UpdateItem("Info1", vehicle.info1);
  contextMenu.UpdateItem("Info2", vehicle.info2);
}

function popupShows(vehicleID) {
  return contextMenu.vehicleID() === String(vehicleID);
}

function onVehicleIconClick(vehicleID, e) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var item = listBox.item(vehicleID);
  if (item) listBox.setCurrentVehicle(e, item);
  fillPopup(vehicle);
  contextMenu.Display(e);
  refreshKeptOut();
}

function onEventLineClick(e, vehicleID) {
  var item = listBox.item(vehicleID);
  if (item && findVehicle(vehicleID)) listBox.setCurrentVehicle(e, item);
}

function onVehicleMenuClick(e, key, vehicleID) {
  if (e.button !== 0) return;
  // A vehicle removed while its menu was open has no track to ask for, and
  // no answer would switch the tooltips back on.
  if (key === "tracking" && !findVehicle(vehicleID)) return;
  global.tooltipEnabled = false;
  removeTooltip();
  if (key === "edit") callNative("onClickEdit", [String(vehicleID)]);
  else if (key === "remove") callNative("onClickRemove", [String(vehicleID)]);
  else if (key === "delete") callNative("onClickDelete", [String(vehicleID)]);
  else if (key === "tracking") {
    trackingVehicle = String(vehicleID);
    callNative("onClickTrackingLine", [String(vehicleID)]);
  }
}

// --- page functions called by the console

function insertVehicle(isLoaded, latitude, longitude, vehicleID, vehicleName, updateTime) {
  var id = String(vehicleID);
  var latlng = 0;
  if (String(latitude) !== "" && String(longitude) !== "") {
    var lat = parseCoordinate(latitude), lng = parseCoordinate(longitude);
    if (onEarth(lat, lng)) latlng = L.latLng(lat, lng);
    else pageWarning("insertVehicle: no position in " + String(latitude) + ", " + String(longitude));
  }
  var known = findVehicle(id);
  if (known) {
    // Already on the page: an insert is then only a fresh name and time, and
    // a fresh position when it carries one. An empty position is "not known
    // yet": the marker stays as it is.
    refreshVehicle(known, vehicleName, latlng, String(updateTime || ""));
    return;
  }
  var icon = new ImageIconOverlay(latlng || L.latLng(0, 0), global.normalIcon, id);
  iconContainer.push(icon);
  iconIndex[id] = icon;
  if (latlng) {
    showVehicleIcon(icon);
    fleetGrew();
  }
  placeLabels.moved = true;
  var name = String(vehicleName);
  var unique = replaceSameVehicleName(name, id);
  if (unique !== name) {
    name = unique;
    callNative("onChangeName", [id, name]);
  }
  if (vehicleContainer.length > MAX_VEHICLES) return;
  var vehicle = new VehicleInfo(vehicleContainer.length, id, latlng, name);
  vehicle.updateTime = String(updateTime || "");
  vehicleContainer.push(vehicle);
  vehicleIndex[id] = vehicle;
  countVehicleName(vehicle.vehicleName, 1);
  listBox.AddItem(name, id, latlng);
  updateGrouping();
  if (String(isLoaded) === "0") eventPopup.AddItem(id, name + " is added", "images/icon_add.png");
}

// A frame of the fleet's news in one call (the console sends one every
// tenth of a second): each row is one call of these functions, its name
// first, run on its own as if it had been sent alone.
var FRAME_CALLS = { insertVehicle: true, updateVehicle: true, moveTo: true };
function runFrame(rows) {
  for (var i = 0; i < rows.length; i++) {
    var row = rows[i];
    if (!row || !FRAME_CALLS.hasOwnProperty(row[0])) continue;
    try {
      window[row[0]].apply(window, row.slice(1));
    } catch (e) {
      console.error(String(e));
    }
  }
}

function updateVehicle(latitude, longitude, vehicleID, vehicleName, updateTime) {
  var lat = parseCoordinate(latitude), lng = parseCoordinate(longitude);
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  // Without a position the name and time are still fresh; the marker stays.
  var latlng = 0;
  if (onEarth(lat, lng)) latlng = L.latLng(lat, lng);
  else pageWarning("updateVehicle: no position in " + String(latitude) + ", " + String(longitude));
  refreshVehicle(vehicle, vehicleName, latlng, String(updateTime));
}

// Name, time and, unless latlng is 0, position of a vehicle the page holds;
// a device update, so the entry's time-out restarts.
function refreshVehicle(vehicle, vehicleName, latlng, updateTime) {
  var name = replaceSameVehicleName(String(vehicleName), vehicle.vehicleID);
  listBox.UpdateItem(vehicle.vehicleID, name, latlng, "", "");
  setVehicleName(vehicle, name);
  if (latlng) vehicle.latlng = latlng;
  vehicle.updateTime = updateTime;
  if (popupShows(vehicle.vehicleID)) {
    contextMenu.setVehicleName(name);
    contextMenu.UpdateItem("Update Time", vehicle.updateTime);
  }
}

function updateVehicleName(vehicleID, vehicleName) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  setVehicleName(vehicle, String(vehicleName));
  listBox.UpdateItem(vehicle.vehicleID, replaceSameVehicleName(vehicle.vehicleName, vehicle.vehicleID), 0, "", userDefined);
}

function insertOptionalInfo(isLoaded, vehicleID, name, company, maker, model, registration, driver, license) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var unique = replaceSameVehicleName(String(name), vehicle.vehicleID);
  listBox.UpdateItem(vehicle.vehicleID, unique, 0, "", "");
  setVehicleName(vehicle, unique);
  vehicle.company = String(company);
  vehicle.maker = String(maker);
  vehicle.model = String(model);
  vehicle.registration = String(registration);
  vehicle.driver = String(driver);
  vehicle.license = String(license);
  if (popupShows(vehicle.vehicleID)) fillOptionalFields(vehicle);
}

function updateOptionalInfo(vehicleID, name, company, maker, model, registration, driver, license) {
  insertOptionalInfo(true, vehicleID, name, company, maker, model, registration, driver, license);
}

function insertUserDefinedInfo(vehicleID, imgPath, info1, info2) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  vehicle.imgPath = String(imgPath);
  vehicle.info1 = String(info1);
  vehicle.info2 = String(info2);
}

function updateUserDefinedInfo(vehicleID, vehicleName, info1, info2, imgPath) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var name = String(vehicleName);
  if (name !== "") name = replaceSameVehicleName(name, vehicle.vehicleID);
  setVehicleName(vehicle, name);
  vehicle.info1 = String(info1);
  vehicle.info2 = String(info2);
  vehicle.imgPath = String(imgPath);
  callNative("onChangeName", [vehicle.vehicleID, name]);
  listBox.UpdateItem(vehicle.vehicleID, name, 0, "", userDefined);
  if (popupShows(vehicle.vehicleID)) {
    contextMenu.setVehicleName(name);
    contextMenu.UpdateItem("image", vehicle.imgPath);
    contextMenu.UpdateItem("Info1", vehicle.info1);
    contextMenu.UpdateItem("Info2", vehicle.info2);
  }
}

function updateImgPath(vehicleID, imgPath) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  vehicle.imgPath = String(imgPath);
  var field = document.getElementById("Image Path");
  if (field) field.value = vehicle.imgPath;
  if (popupShows(vehicle.vehicleID)) contextMenu.UpdateItem("image", vehicle.imgPath);
}

function moveTo(latitude, longitude, speed, hour, minute, second, direction, vehicleID) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var lat = Number(latitude), lng = Number(longitude);
  if (!onEarth(lat, lng)) return;
  var latlng = L.latLng(lat, lng);
  vehicle.addTrackPoint(latlng);
  vehicle.speed = Number(speed) || 0;
  var course = Number(direction);
  if (course >= 0) vehicle.bearing = course;
  vehicle.latlng = latlng;
  if (popupShows(vehicle.vehicleID)) fillMovingFields(vehicle);
  var icon = vehicleIcon(vehicle.vehicleID);
  if (icon) {
    if (course >= 0) icon.setAngle(course * Math.PI / 180);
    moveVehicleIcon(icon, latlng);
    if (!vehicleIconShown(icon)) {
      showVehicleIcon(icon);
      fleetGrew();
    }
    placeLabels.moved = true;
  }
  listBox.UpdateItem(vehicle.vehicleID, vehicle.vehicleName, latlng, "", "");
  if (global.currentVehicle === vehicle.vehicleID) {
    if (global.trackingLine) trackLine.setLatLngs(vehicle.track);
    // An open history view keeps the map where the operator looks at it.
    if (!trackHistory && !map.getBounds().contains(latlng)) {
      map.panTo(latlng, { animate: false });
      requestAddress(null);
    }
    eventPopup.place();
  }
}

function updateEventInfo(eventType, vehicleName, time, deviceTitle, vehicleID) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var kind = eventKind(eventType);
  var name = replaceSameVehicleName(String(vehicleName), vehicle.vehicleID);
  setVehicleName(vehicle, name);
  listBox.UpdateItem(vehicle.vehicleID, name, 0, kind.icon, kind.name);
  if (kind.icon) {
    vehicle.lastEventIcon = kind.icon;
    vehicle.lastEventTime = Date.now();
    noteVehicleStatus();
  }
  var line = name + " " + kind.name;
  var title = String(deviceTitle);
  if (title !== " ") line += " (" + title + ")";
  eventPopup.AddItem(vehicle.vehicleID, line, kind.icon);
}

function deleteVehicle(vehicleID) {
  var vehicle = findVehicle(vehicleID);
  if (!vehicle) return;
  var id = vehicle.vehicleID;
  callNative("onChangeName", [id, listBox.vehicleName(id) || vehicle.vehicleName]);
  listBox.DeleteItem(id);
  var icon = vehicleIcon(id);
  if (icon) hideVehicleIcon(icon);
  delete iconIndex[id];
  placeLabels.moved = true;
  contextMenu.Hide();
  vehicle.track = [];
  if (global.currentVehicle === id) {
    global.currentVehicle = 0;
    showTrack(null);
  }
  requestAddress(null);
  markVehicleDeleted(vehicle);
  restartTimer(vehicle); // a deleted vehicle is no longer watched
  updateGrouping();
}

// --- alarms

// Alarm markers and list entries blink together: one timer dims the pane
// that holds the alarm icons and the alarm entries in sight in the list, so
// thousands of blinking vehicles cost the page one layer's opacity and a
// screenful of entries twice a second, not an animation, a filter or a
// restyle each.
var ALARM_BLINK_MS = 500;
var alarmBlink = { timer: null, count: 0, dim: false, dimmed: [] };

function setAlarm(vehicleID, on) {
  if (on) setAlarms([vehicleID], []);
  else setAlarms([], [vehicleID]);
}

// The alarm state of many vehicles at once, as the console sends it once
// per turn: their list entries are marked, their icons leave the groups
// (or go back) in one pass and the groups are marked once.
function setAlarms(on, off) {
  var changed = [], icons = [], i, id;
  for (i = 0; i < off.length; i++) {
    id = String(off[i]);
    if (alarmVehicles[id] !== true) continue;
    delete alarmVehicles[id];
    alarmBlink.count--;
    changed.push(id);
  }
  for (i = 0; i < on.length; i++) {
    id = String(on[i]);
    if (alarmVehicles[id] === true) continue;
    alarmVehicles[id] = true;
    alarmBlink.count++;
    changed.push(id);
  }
  for (i = 0; i < changed.length; i++) {
    id = changed[i];
    var item = listBox.item(id);
    if (item) {
      if (alarmVehicles[id] === true) item.setAttribute("data-alarm", "1");
      else item.removeAttribute("data-alarm");
    }
    if (keptOutOfGroup(id)) vehicleGroup.kept[id] = true;
    else delete vehicleGroup.kept[id];
    var icon = vehicleIcon(id);
    if (icon) icons.push(icon);
  }
  if (!changed.length) return;
  updateAlarmGrouping(icons);
  placeVehicleIcons(icons);
  markCoveredGroups();
  updateAlarmBlink();
}

function updateAlarmBlink() {
  if (alarmBlink.count > 0 && alarmBlink.timer === null) {
    alarmBlink.timer = setInterval(function () { setAlarmDim(!alarmBlink.dim); }, ALARM_BLINK_MS);
  } else if (alarmBlink.count <= 0 && alarmBlink.timer !== null) {
    clearInterval(alarmBlink.timer);
    alarmBlink.timer = null;
    setAlarmDim(false);
  }
}

function setAlarmDim(dim) {
  alarmBlink.dim = dim;
  map.getPane("alarmPane").classList.toggle("AlarmDim", dim);
  var i, dimmed = alarmBlink.dimmed;
  for (i = 0; i < dimmed.length; i++) dimmed[i].removeAttribute("data-dim");
  alarmBlink.dimmed = [];
  if (!dim) return;
  // Entries are of one height; one scrolled into sight meanwhile shows
  // undimmed until the next blink.
  var block = listBox.block, first = block.firstElementChild;
  var height = first ? first.offsetHeight : 0;
  if (!height) return;
  var from = Math.floor(block.scrollTop / height), to = Math.ceil((block.scrollTop + block.clientHeight) / height);
  for (i = from; i <= to && i < block.children.length; i++) {
    var item = block.children[i];
    if (!item.hasAttribute("data-alarm")) continue;
    item.setAttribute("data-dim", "1");
    alarmBlink.dimmed.push(item);
  }
}

// "Show on map" of the alarm queue: the vehicle is selected as by a click
// in the list, shown at street level and its popup opened.
function showAlarmVehicle(vehicleID) {
  var item = listBox.item(vehicleID);
  if (!item || !findVehicle(vehicleID)) return;
  listBox.setCurrentVehicle(null, item);
  item.scrollIntoView({ block: "nearest" });
  showVehicleClose(item.vehicleID);
}

// A double click on a list entry: the same, for the vehicle it names.
function onListDoubleClick(e, vehicleID) {
  if (!isLeftButton(e)) return;
  var item = listBox.item(vehicleID);
  if (!item || !findVehicle(vehicleID)) return;
  if (global.currentVehicle !== item.vehicleID) listBox.setCurrentVehicle(e, item);
  showVehicleClose(item.vehicleID);
}

// --- tracking line

function setTrackingLine(enabled) {
  global.trackingLine = enabled;
  showTrack(findVehicle(global.currentVehicle));
  updateTrackingButton(false);
}

function updateTrackingButton(hover) {
  var button = document.getElementById("TrackingButton");
  var src;
  if (hover) src = global.trackingLine ? "images/trackingline_mover.png" : "images/trackingline_mover_normal.png";
  else src = global.trackingLine ? "images/trackingline_clicked.png" : "images/trackingline_normal.png";
  button.setAttribute("src", src);
}

// --- layout

function layout() {
  var cx = global.width, cy = global.height;
  var listWidth = global.listVisible ? global.listWidth : 0;
  var toolbar = document.getElementById("Toolbar");
  toolbar.style.left = listWidth + "px";
  toolbar.style.width = Math.max(0, cx - listWidth - global.headerMenuPadding) + "px";
  var content = document.getElementById("Content");
  var mapElement = document.getElementById("map");
  content.style.left = listWidth + "px";
  content.style.width = Math.max(0, cx - listWidth) + "px";
  mapElement.style.width = Math.max(0, cx - listWidth) + "px";
  var h = Math.max(0, cy - global.headerHeight) + "px";
  content.style.height = h;
  mapElement.style.height = h;
  document.getElementById("LeftColumn").style.height = h;
  document.getElementById("VehicleList").style.height = h;
  document.getElementById("Address").style.maxWidth = Math.max(80, cx - listWidth - 330) + "px";
  if (map) {
    map.invalidateSize({ pan: false });
    mapResized();
  }
  if (eventPopup) eventPopup.place();
}

function setPageSize(cx, cy) {
  cx = Number(cx);
  cy = Number(cy);
  if (!isFinite(cx) || !isFinite(cy) || cx <= 0 || cy <= 0) return;
  contextMenu.changePosition(cx + global.listWidth, cy - global.headerHeight);
  global.width = cx;
  global.height = cy;
  layout();
  contextMenu.keepInside();
}

function setListVisible(visible) {
  global.listVisible = visible;
  document.getElementById("ListHeader").style.display = visible ? "block" : "none";
  document.getElementById("LeftColumn").style.display = visible ? "block" : "none";
  document.getElementById("ShowListButton").style.display = visible ? "none" : "block";
  removeTooltip();
  layout();
}

// --- toolbar wiring

function hoverButton(id, normal, hover, tip, onClick) {
  var button = document.getElementById(id);
  button.addEventListener("mouseover", function (e) {
    if (hover) button.setAttribute("src", hover);
    showTooltip(e, tip);
  });
  button.addEventListener("mouseout", function () {
    if (normal) button.setAttribute("src", normal);
    removeTooltip();
  });
  button.addEventListener("mousedown", function (e) {
    if (e.button !== 0) return;
    e.stopPropagation();
    onClick(e);
  });
}

function wireToolbar() {
  var title = document.getElementById("ListTitle");
  title.addEventListener("mousedown", function (e) { sortVehicleList(e); });
  hoverButton("HideListButton", "images/list_off_normal.png", "images/list_off_mover.png", "Hide List",
    function () { setListVisible(false); });
  hoverButton("ShowListButton", "images/list_on_normal.png", "images/list_on_mover.png", "Show List",
    function () { setListVisible(true); });
  hoverButton("SetupButton", "images/setup_normal.png", "images/setup_mover.png", "Setup",
    function () { callNative("onClickSetup", []); });
  hoverButton("LogButton", "images/log_normal.png", "images/log_mover.png", "Log",
    function () { callNative("onClickLog", []); });

  var tracking = document.getElementById("TrackingButton");
  tracking.addEventListener("mouseover", function (e) { updateTrackingButton(true); showTooltip(e, "Tracking"); });
  tracking.addEventListener("mouseout", function () { updateTrackingButton(false); removeTooltip(); });
  tracking.addEventListener("mousedown", function (e) {
    if (e.button !== 0) return;
    e.stopPropagation();
    tracking.setAttribute("src", "images/trackingline_clicked.png");
  });
  tracking.addEventListener("mouseup", function (e) {
    if (e.button !== 0) return;
    setTrackingLine(!global.trackingLine);
    updateTrackingButton(true);
  });

  document.getElementById("MapType").addEventListener("change", function (e) {
    setMapType(e.target.value);
  });
  // The page draws its own menus.
  document.addEventListener("contextmenu", function (e) { e.preventDefault(); });
}

// Not an onload attribute: the page's policy runs no script written into
// its markup.
window.addEventListener("load", function () { initialize(); });

function initialize() {
  vehicleContainer = [];
  vehicleIndex = {};
  iconContainer = [];
  iconIndex = {};

  var mapElement = document.getElementById("map");
  var initialWidth = window.innerWidth > 0 ? window.innerWidth : global.width;
  // The map's element takes its size beside the list first: the start view
  // is then centred in the map as it will be seen, not shifted by a resize.
  if (window.innerWidth > 0 && window.innerHeight > 0) {
    global.width = window.innerWidth;
    global.height = window.innerHeight;
  }
  layout();
  map = L.map(mapElement, {
    minZoom: lowestZoom(window.innerHeight > 0 ? window.innerHeight - global.headerHeight : global.height),
    maxZoom: 18,
    zoomControl: true,
    attributionControl: true,
    fadeAnimation: false,
    worldCopyJump: false
  });
  // Before any layer is drawn.
  setStartView(Math.max(1, Math.floor(Math.log2(Math.max(256, initialWidth - global.listWidth) / 256))));
  var pane = map.createPane("vehiclePane");
  pane.style.zIndex = 620;
  // Icons of vehicles in alarm: above the others and the group icons, and
  // blinking as one layer (page.css).
  map.createPane("alarmPane").style.zIndex = 625;
  createTilePanes();
  trackLine = L.polyline([], { pane: "trackPane", color: "#D00000", opacity: 0.8, weight: 6, interactive: false });
  // The history track: under the vehicle icons, over the live track.
  var historyPane = map.createPane("historyPane");
  historyPane.style.zIndex = 610;
  historyRenderer = L.canvas({ pane: "historyPane", padding: 0.5 });
  createBaseMap();
  createFineMap();
  createWater();
  createPlaceLabels();
  createMapView();
  L.control.scale({ position: "bottomleft", metric: true, imperial: true, maxWidth: 120 }).addTo(map);
  createLocalTiles();
  createVehicleGroup();
  createZoneLayer();

  listBox = new ListBox({
    DoubleClickHandler: onListDoubleClick,
    MouseOverLeftHandler: onListMouseOverLeft,
    MouseOutHandler: onListMouseOut,
    ContextMenu: onListContextMenu,
    MouseOverTextHandler: onListMouseOverText
  });
  contextMenu = new CustomContextMenu({ Base: mapElement });
  contextMenu.AddImage("image", "images/user_blank.png");
  contextMenu.setVehicleName("");
  contextMenu.AddTextWithImg(Driver, "", "images/info_user.png");
  contextMenu.AddTextWithImg(Company, "", "images/info_company.png");
  contextMenu.AddTextWithImg(Registration, "", "images/info_carnumber.png");
  contextMenu.AddItem(License, "");
  contextMenu.AddItem(Maker, "");
  contextMenu.AddItem(Model, "");
  ["Speed", "Latitude", "Longitude", "Update Time", "Info1", "Info2"].forEach(function (row) {
    contextMenu.AddItem(row, "");
  });
  eventPopup = new EventPopup({
    EventPopupClickHandler: onEventLineClick,
    EventPopupImgClickHandler: onEventLineClick,
    EventPopupMouseOverHandler: function (e, text) { showTooltip(e, text); },
    EventPopupMouseOutHandler: function () { removeTooltip(); }
  });
  // The list steps aside for the selected vehicle wherever the map takes it.
  map.on("moveend zoomend", function () { eventPopup.place(); });
  tooltip = new Tooltip({});
  vehicleContextMenu = new VehicleContextMenu({ MouseClickHandler: onVehicleMenuClick });
  vehicleContextMenu.AddItem("edit", "Edit");
  vehicleContextMenu.AddItem("remove", "Remove");
  vehicleContextMenu.AddItem("tracking", "Tracking Line");
  vehicleContextMenu.AddItem("delete", "Delete");

  document.getElementById("ShowListButton").style.display = "none";
  wireToolbar();
  wireTrackingBar();
  updateTrackingButton(false);
  if (window.innerWidth > 0 && window.innerHeight > 0) {
    setPageSize(window.innerWidth, window.innerHeight);
  } else {
    layout();
  }
  // The console also sends setPageSize; following the window directly keeps
  // the layout right when a resize happens before the page has loaded.
  window.addEventListener("resize", function () {
    if (window.innerWidth !== global.width || window.innerHeight !== global.height) {
      setPageSize(window.innerWidth, window.innerHeight);
    }
  });
}
