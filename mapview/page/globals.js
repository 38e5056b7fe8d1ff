// Labels of the optional vehicle fields.
var Driver = "Driver Name";
var Company = "Company Name";
var Registration = "Registration Number";
var License = "License";
var Maker = "Vehicle Maker";
var Model = "Vehicle Model";

// A list update with this event type must not restart the vehicle's time-out.
var userDefined = "userDefined";

// At most this many vehicles get a page record and a list entry.
var MAX_VEHICLES = 5000;
// A track keeps at most this many points; the oldest goes first.
var MAX_TRACK_POINTS = 1001;

var global = {
  tooltipEnabled: true,
  popupWidth: 270,
  popupHeight: 184,
  popupExpandedHeight: 327,
  width: 900,
  height: 600,
  headerMenuPadding: 5,
  listWidth: 200,
  headerHeight: 27,
  listVisible: true,
  currentVehicle: 0,
  normalIcon: "images/point_normal.png",
  selectIcon: "images/point_select.png",
  timeout: 0,
  trackingLine: true
};

// Event kinds 0 to 13: the name shown and the icon of the event list.
var EVENT_KINDS = [
  ["Sensor", "images/icon_sensor.png"],
  ["Motion", "images/icon_motion.png"],
  ["Video Loss", "images/icon_videoloss.png"],
  ["Text-In", "images/icon_textin.png"],
  ["S.M.A.R.T. Bad", "images/icon_diskbad.png"],
  ["S.M.A.R.T. Temperature", "images/icon_disktemperature.png"],
  ["Record Bad", "images/icon_record bad.png"],
  ["Disk Bad", "images/icon_diskbad.png"],
  ["Disk Full", "images/icon_diskfull.png"],
  ["Archive Disk Bad", "images/icon_diskbad.png"],
  ["Archive Disk Full", "images/icon_diskfull.png"],
  ["G-Sensor", "images/icon_gsensor.png"],
  ["Fan Failure", "images/icon_fanfailure.png"],
  ["Emergency", "images/icon_emergency.png"]
];

function eventKind(eventType) {
  var kind = parseInt(eventType, 10);
  if (isNaN(kind) || kind < 0 || kind >= EVENT_KINDS.length) {
    return { name: "", icon: "" };
  }
  return { name: EVENT_KINDS[kind][0], icon: EVENT_KINDS[kind][1] };
}

// Every text from a device or the operator goes through here or through
// setAttribute: never through innerHTML, so a name is shown, not parsed.
function setText(element, text) {
  element.textContent = (text === undefined || text === null) ? "" : String(text);
}

// Only the left button (or a call without an event) acts on toolbar buttons.
function isLeftButton(e) {
  return !e || e.button === undefined || e.button === 0;
}

var vehicleContainer = null; // page records in arrival order
var vehicleIndex = null;     // vehicle id -> live (not deleted) record
var iconContainer = null;    // vehicle icons in arrival order
var iconIndex = null;        // vehicle id -> icon
var map = null;
var trackLine = null;
var listBox = null;
var contextMenu = null;
var eventPopup = null;
var tooltip = null;
var vehicleContextMenu = null;
var trackingList = [];

// Vehicles whose alarm nobody has acknowledged yet: their markers are kept
// out of groups and blink, and so do their list entries.
var alarmVehicles = {};
