// Vehicle icons that overlap are shown as one group icon with the number of
// vehicles in it, marked when one of them has timed out or had a recent
// event; a click on it zooms in. The selected vehicle and the one whose popup
// is open are always drawn on their own. "auto" groups above
// GROUPING_AUTO_VEHICLES live vehicles.
var GROUPING_AUTO_VEHICLES = 50;
// From this zoom on every vehicle has its own icon again.
var GROUPING_OFF_ZOOM = 15;
var GROUPING_RADIUS_PX = 50;
var RECENT_EVENT_MS = 10 * 60000;
// Vehicles in alarm leave the groups and each has an icon of its own while
// no more than this many are in alarm. Above it (a mass alarm) those in
// alarm that overlap form alarm groups of their own, red and blinking:
// thousands of overlapping icons cannot be told apart, and each fix of one
// would have the page draw all that lie under and over it anew.
var ALARM_GROUPING_AUTO = 200;

// Where each shown icon is: icon._place is "map" (on its own), "group" (the
// vehicles' groups) or "alarms" (the alarm groups). moved: grouped icons
// drawn somewhere else than their group has them.
var vehicleGroup = { layer: null, alarms: null, alarmsOn: false, mode: "auto", on: false, kept: {},
                     refreshPending: false, moved: [], movesPending: false };
// How often the group takes the moves of its icons, and how far (in pixels
// at the zoom shown) an icon must have moved for it: a group's circle and
// count do not change for less.
var GROUP_MOVES_MS = 200;
var GROUP_MOVE_MIN_PX = 4;

function createVehicleGroup() {
  var config = window.pageConfig || {};
  vehicleGroup.mode = config.grouping === "on" || config.grouping === "off" ? config.grouping : "auto";
  if (typeof L.markerClusterGroup !== "function") {
    vehicleGroup.mode = "off";
    return;
  }
  // No animation: the vehicle icons are canvas layers, not Leaflet markers,
  // and only the plain (unanimated) paths of the group work on any layer.
  vehicleGroup.layer = createGroupLayer("vehiclePane", vehicleGroupIcon);
  vehicleGroup.alarms = createGroupLayer("alarmPane", alarmGroupIcon);
  // Moves too small to matter at one zoom may matter at the next.
  map.on("zoomend", applyGroupMoves);
  // The group draws its icons anew on these; its handlers come first.
  map.on("zoomend moveend", markCoveredGroups);
}

function createGroupLayer(pane, iconCreateFunction) {
  return L.markerClusterGroup({
    clusterPane: pane,
    maxClusterRadius: GROUPING_RADIUS_PX,
    disableClusteringAtZoom: GROUPING_OFF_ZOOM,
    spiderfyOnMaxZoom: false,
    showCoverageOnHover: false,
    zoomToBoundsOnClick: true,
    animate: false,
    animateAddingMarkers: false,
    iconCreateFunction: iconCreateFunction
  }).addTo(map);
}

function liveVehicleCount() {
  var n = 0;
  for (var i = 0; i < vehicleContainer.length; i++) if (!vehicleContainer[i].deleted) n++;
  return n;
}

function groupingWanted() {
  if (!vehicleGroup.layer || vehicleGroup.mode === "off") return false;
  return vehicleGroup.mode === "on" || liveVehicleCount() > GROUPING_AUTO_VEHICLES;
}

// The selected vehicle and the one whose popup is open: on their own always.
function shownOnItsOwn(id) {
  return id === String(global.currentVehicle) || (contextMenu.isVisible() && popupShows(id));
}

function keptOutOfGroup(vehicleID) {
  var id = String(vehicleID);
  return alarmVehicles[id] === true || shownOnItsOwn(id);
}

// Where an icon belongs now: "none" when hidden, "group", "alarms" or "map".
function wantedPlace(icon) {
  if (!icon._shown) return "none";
  if (!vehicleGroup.on) return "map";
  var id = String(icon._vehicleID);
  if (shownOnItsOwn(id)) return "map";
  if (alarmVehicles[id] !== true) return "group";
  return vehicleGroup.alarmsOn ? "alarms" : "map";
}

function groupLayerOf(place) {
  return place === "group" ? vehicleGroup.layer : place === "alarms" ? vehicleGroup.alarms : null;
}

function alarmGroupingWanted() {
  return vehicleGroup.on && alarmBlink.count > ALARM_GROUPING_AUTO;
}

// Whether the alarm groups should be on; when that changes, the icons of
// the vehicles in alarm are placed anew (they are pushed onto icons).
function updateAlarmGrouping(icons) {
  var on = alarmGroupingWanted();
  if (on === vehicleGroup.alarmsOn) return;
  vehicleGroup.alarmsOn = on;
  for (var id in alarmVehicles) {
    var icon = iconIndex[id];
    if (icon) icons.push(icon);
  }
}

// Moves a vehicle's icon. The icon is drawn at its new place at once; the
// group takes the moves of its icons together, a few times a second: it
// redraws every group icon on screen after each change, so a change per
// fix would cost as much as the screen holds, for every fix. Until then
// the group has the icon where it was (it finds icons, its own and their
// neighbours', by that position).
function moveVehicleIcon(icon, latlng) {
  if (!groupLayerOf(icon._place)) {
    icon.setLatLng(latlng);
    if (vehicleGroup.on && vehicleGroup.kept[icon._vehicleID]) markCoveredGroupsSoon();
    return;
  }
  if (!icon._groupMovePending) {
    icon._groupMovePending = true;
    vehicleGroup.moved.push(icon);
  }
  icon.showAt(latlng);
  if (!vehicleGroup.movesPending) {
    vehicleGroup.movesPending = true;
    setTimeout(applyGroupMoves, GROUP_MOVES_MS);
  }
}

function movedFarEnough(icon) {
  var zoom = map.getZoom();
  // From this zoom on the group shows every icon on its own.
  if (zoom >= GROUPING_OFF_ZOOM) return false;
  var a = map.project(icon.getLatLng(), zoom), b = map.project(icon.getShownLatLng(), zoom);
  return Math.abs(a.x - b.x) >= GROUP_MOVE_MIN_PX || Math.abs(a.y - b.y) >= GROUP_MOVE_MIN_PX;
}

// Hands the group the moves that matter at this zoom: each such icon is
// taken out where the group has it and put in again where it is drawn.
// The others stay waiting.
function applyGroupMoves() {
  vehicleGroup.movesPending = false;
  var moved = vehicleGroup.moved, waiting = [], icons = [];
  for (var i = 0; i < moved.length; i++) {
    var icon = moved[i];
    if (!icon._groupMovePending) continue; // left the group meanwhile
    if (movedFarEnough(icon)) icons.push(icon);
    else waiting.push(icon);
  }
  vehicleGroup.moved = waiting;
  if (!icons.length) return;
  var places = ["group", "alarms"];
  for (var p = 0; p < places.length; p++) {
    var layer = groupLayerOf(places[p]), mine = [];
    for (var k = 0; k < icons.length; k++) if (icons[k]._place === places[p]) mine.push(icons[k]);
    if (!mine.length) continue;
    layer.removeLayers(mine);
    // Quietly: the group still listens to icons it took out in bulk, and
    // would put each one back on its own, at the cost of a whole redraw.
    for (k = 0; k < mine.length; k++) {
      mine[k]._groupMovePending = false;
      mine[k].settle();
    }
    layer.addLayers(mine);
  }
  markCoveredGroups();
}

function takeOutOfGroup(icon) {
  groupLayerOf(icon._place).removeLayer(icon);
  icon._groupMovePending = false;
  icon.settle();
}

// Puts icons that are shown but were never placed where they belong, the
// grouped ones in one bulk insert: added one at a time, each would make the
// group redraw what it holds.
function placeNewVehicleIcons(icons) {
  var on = groupingWanted();
  // Switching grouping places every shown icon, these among them.
  if (on !== vehicleGroup.on) {
    updateGrouping();
    return;
  }
  var grouped = [];
  for (var i = 0; i < icons.length; i++) {
    var icon = icons[i];
    if (!icon._shown || icon._place) continue;
    if (wantedPlace(icon) === "group") {
      icon._place = "group";
      grouped.push(icon);
    } else {
      placeVehicleIcon(icon);
    }
  }
  if (grouped.length) vehicleGroup.layer.addLayers(grouped);
  markCoveredGroups();
}

// Puts one icon where it belongs now (wantedPlace): nowhere when hidden, in
// the vehicles' or the alarm groups, or on the map by itself.
function placeVehicleIcon(icon) {
  var want = wantedPlace(icon);
  var place = icon._place || "none";
  if (want === place) { raiseKeptIcon(icon); return; }
  if (groupLayerOf(place)) takeOutOfGroup(icon);
  else if (place === "map") map.removeLayer(icon);
  // In the pane it is drawn in before a group shows it by itself.
  icon._place = want;
  raiseKeptIcon(icon);
  if (groupLayerOf(want)) groupLayerOf(want).addLayer(icon);
  else if (want === "map") icon.addTo(map);
  raiseKeptIcon(icon);
}

// Puts many icons where they belong now. The group takes out and puts in
// all of them in one pass each: it clusters once, not once per icon.
function placeVehicleIcons(icons) {
  var moves = [], out = { group: [], alarms: [] }, into = { group: [], alarms: [] }, i, place;
  for (i = 0; i < icons.length; i++) {
    var icon = icons[i];
    var want = wantedPlace(icon);
    place = icon._place || "none";
    if (want === place) { raiseKeptIcon(icon); continue; }
    moves.push([icon, want, place]);
    if (out[place]) out[place].push(icon);
    if (into[want]) into[want].push(icon);
  }
  for (place in out) {
    var taken = out[place], group = groupLayerOf(place);
    if (!taken.length) continue;
    group.removeLayers(taken);
    for (i = 0; i < taken.length; i++) {
      // Taken out in bulk, an icon still has the group listening to it: its
      // next move would put it back in the group while it is on the map by
      // itself (counted twice, and gone with the group's next redraw).
      taken[i].off(group._childMarkerEventHandlers, group);
      taken[i]._groupMovePending = false;
      taken[i].settle();
    }
  }
  // Each in the pane it is drawn in before it is shown there.
  for (i = 0; i < moves.length; i++) {
    moves[i][0]._place = moves[i][1];
    raiseKeptIcon(moves[i][0]);
  }
  for (i = 0; i < moves.length; i++) {
    if (moves[i][2] === "map") map.removeLayer(moves[i][0]);
    if (moves[i][1] === "map") moves[i][0].addTo(map);
  }
  for (place in into) if (into[place].length) groupLayerOf(place).addLayers(into[place]);
  for (i = 0; i < moves.length; i++) raiseKeptIcon(moves[i][0]);
}

// Group icons stack by their height on screen; an icon kept out of its group
// is drawn above them, or the group's circle would cover it.
var KEPT_ICON_Z = 100000;
function raiseKeptIcon(icon) {
  // A vehicle with an alarm nobody acknowledged glows and blinks with the
  // pane that holds such icons (page.css), also when its alarm group shows
  // it by itself later.
  icon.setPane(alarmVehicles[String(icon._vehicleID)] === true ? "alarmPane" : "vehiclePane");
  if (!icon._element) return;
  icon._element.style.zIndex = icon._place === "map" && keptOutOfGroup(icon._vehicleID) ? String(KEPT_ICON_Z) : "";
}

function showVehicleIcon(icon) {
  icon._shown = true;
  // While the stored fleet loads, icons wait to go in together.
  if (fleetLoad.active) fleetLoad.icons.push(icon);
  else placeVehicleIcon(icon);
}

function hideVehicleIcon(icon) {
  icon._shown = false;
  placeVehicleIcon(icon);
}

function vehicleIconShown(icon) { return !!icon._shown; }

// After vehicles came or went: switches grouping on or off as a whole.
function updateGrouping() {
  if (fleetLoad.active) return;
  var on = groupingWanted();
  if (on === vehicleGroup.on) return;
  vehicleGroup.on = on;
  vehicleGroup.alarmsOn = alarmGroupingWanted();
  var icons = [];
  for (var id in iconIndex) if (iconIndex[id]._shown) icons.push(iconIndex[id]);
  // Bulk: each group clusters all of its new icons in one pass.
  placeVehicleIcons(icons);
  markCoveredGroups();
}

// After the selection or the popup changed: the vehicles they name leave the
// group, the ones they named before go back.
function refreshKeptOut() {
  var now = {};
  if (global.currentVehicle) now[String(global.currentVehicle)] = true;
  for (var alarmID in alarmVehicles) now[alarmID] = true;
  if (contextMenu && contextMenu.isVisible() && contextMenu.vehicleID()) now[contextMenu.vehicleID()] = true;
  var before = vehicleGroup.kept;
  vehicleGroup.kept = now;
  var id;
  for (id in before) if (iconIndex[id]) placeVehicleIcon(iconIndex[id]);
  for (id in now) if (iconIndex[id]) placeVehicleIcon(iconIndex[id]);
  markCoveredGroups();
}

// A time-out or an event changed what a group icon should mark; group icons
// are redrawn at most once a second.
function noteVehicleStatus() {
  if (!vehicleGroup.on || vehicleGroup.refreshPending) return;
  vehicleGroup.refreshPending = true;
  setTimeout(function () {
    vehicleGroup.refreshPending = false;
    if (vehicleGroup.on) vehicleGroup.layer.refreshClusters();
    if (vehicleGroup.alarmsOn) vehicleGroup.alarms.refreshClusters();
    markCoveredGroups();
  }, 1000);
}

// A kept-out icon is drawn above the group icons; one standing amid the
// vehicles of a group (as the selected vehicle often does) would hide the
// group's count. Such a group shows its count under its circle instead.
// The kept icons are binned in squares of GROUP_COVER_PX, so a group looks
// at the nine squares around it only: thousands of kept icons (vehicles
// with alarms) cost what their number does, not that times the groups.
var GROUP_COVER_PX = 18;
function markCoveredGroups() {
  if (!vehicleGroup.layer) return;
  var cells = {};
  function cover(latlng) {
    var at = map.latLngToLayerPoint(latlng);
    var key = Math.floor(at.x / GROUP_COVER_PX) + "," + Math.floor(at.y / GROUP_COVER_PX);
    (cells[key] || (cells[key] = [])).push(at);
  }
  if (vehicleGroup.on) {
    for (var id in vehicleGroup.kept) {
      var icon = iconIndex[id];
      if (icon && icon._place === "map") cover(icon.getLatLng());
    }
    // The alarm groups and the icons they show by themselves.
    if (vehicleGroup.alarmsOn) {
      vehicleGroup.alarms._featureGroup.eachLayer(function (layer) { cover(layer.getLatLng()); });
    }
  }
  vehicleGroup.layer._featureGroup.eachLayer(function (layer) {
    if (!(layer instanceof L.MarkerCluster) || !layer._icon) return;
    var p = map.latLngToLayerPoint(layer.getLatLng()), covered = false;
    var cx = Math.floor(p.x / GROUP_COVER_PX), cy = Math.floor(p.y / GROUP_COVER_PX);
    for (var dx = -1; dx <= 1 && !covered; dx++) {
      for (var dy = -1; dy <= 1 && !covered; dy++) {
        var near = cells[(cx + dx) + "," + (cy + dy)];
        for (var k = 0; near && k < near.length && !covered; k++) {
          covered = Math.abs(near[k].x - p.x) < GROUP_COVER_PX && Math.abs(near[k].y - p.y) < GROUP_COVER_PX;
        }
      }
    }
    if (covered) L.DomUtil.addClass(layer._icon, "Covered");
    else L.DomUtil.removeClass(layer._icon, "Covered");
  });
}

// markCoveredGroups once, a moment later, however often it is asked for
// meanwhile (a kept icon's every fix asks).
var coveredGroupsPending = false;
function markCoveredGroupsSoon() {
  if (coveredGroupsPending) return;
  coveredGroupsPending = true;
  setTimeout(function () {
    coveredGroupsPending = false;
    markCoveredGroups();
  }, GROUP_MOVES_MS);
}

// The group icon: the number of vehicles, a time-out mark and the icon of
// the latest recent event among them. Built with textContent and
// setAttribute only: nothing of a vehicle becomes markup.
function vehicleGroupIcon(cluster) { return groupIcon(cluster, ""); }

// An alarm group: red, and blinking with the pane it lies in.
function alarmGroupIcon(cluster) { return groupIcon(cluster, " AlarmGroup"); }

function groupIcon(cluster, kind) {
  var children = cluster.getAllChildMarkers();
  var timedOut = false, eventIcon = "", eventTime = 0, now = Date.now();
  for (var i = 0; i < children.length; i++) {
    var id = children[i]._vehicleID;
    var item = listBox.item(id);
    if (item && item.timedOut) timedOut = true;
    var vehicle = findVehicle(id);
    if (vehicle && vehicle.lastEventIcon && now - vehicle.lastEventTime < RECENT_EVENT_MS &&
        vehicle.lastEventTime > eventTime) {
      eventTime = vehicle.lastEventTime;
      eventIcon = vehicle.lastEventIcon;
    }
  }
  var count = cluster.getChildCount();
  var size = count < 10 ? "small" : count < 100 ? "medium" : "large";
  var inner = document.createElement("div");
  var number = document.createElement("span");
  number.className = "VehicleGroupCount";
  setText(number, count);
  inner.appendChild(number);
  var marks = "";
  if (timedOut) {
    inner.appendChild(groupMark("VehicleGroupTimeout", "images/icon_timeout.png"));
    marks += " timedout";
  }
  if (eventIcon) {
    inner.appendChild(groupMark("VehicleGroupEvent", eventIcon));
    marks += " event";
  }
  return L.divIcon({
    html: inner,
    className: "marker-cluster marker-cluster-" + size + " VehicleGroup" + kind + marks,
    iconSize: L.point(40, 40)
  });
}

function groupMark(className, src) {
  var mark = document.createElement("img");
  mark.className = className;
  mark.setAttribute("src", src);
  mark.setAttribute("alt", "");
  return mark;
}
