// The history view: a vehicle's stored track drawn over the live map, with a
// playback bar that replays it. The console sends showTrackingMap(), the
// points (insertGpsInfo one at a time, or insertGpsTrack many at once) and
// showTrackingLine(). Live commands keep working while the view is open.

var HISTORY_COLOR = "#1E63D6";
// A longer silence between two fixes is a gap: drawn dashed, jumped over.
var HISTORY_GAP_S = 600;
// Direction arrows along the track, at most.
var HISTORY_ARROWS = 40;
var REPLAY_SPEEDS = [1, 10, 60, 600];
var REPLAY_DEFAULT_SPEED = 60;
// A geocoder answer that has not come in this time no longer holds up the next.
var TRACK_ADDRESS_PATIENCE_MS = 2000;

var trackHistory = null;   // the open history view, or null
var trackingVehicle = "";  // the vehicle whose menu asked for the track
var historyRenderer = null;

// "2026-01-31 17:05:09" as seconds, read without a zone (the device's own
// clock); NaN for anything else. A track holds many fixes of one day, so the
// last day's start is kept.
var trackTimeDay = { text: "", seconds: NaN };

function trackDigits(text, at, count) {
  var v = 0;
  for (var i = at; i < at + count; i++) {
    var c = text.charCodeAt(i) - 48;
    if (c < 0 || c > 9) return -1;
    v = v * 10 + c;
  }
  return v;
}

function parseTrackTime(text) {
  if (typeof text !== "string" || text.length !== 19 || text.charCodeAt(4) !== 45 || text.charCodeAt(7) !== 45 ||
      text.charCodeAt(10) !== 32 || text.charCodeAt(13) !== 58 || text.charCodeAt(16) !== 58) return NaN;
  var day = text.substring(0, 10);
  if (day !== trackTimeDay.text) {
    var year = trackDigits(text, 0, 4), month = trackDigits(text, 5, 2), date = trackDigits(text, 8, 2);
    var seconds = NaN;
    if (year >= 0 && month >= 1 && month <= 12 && date >= 1 && date <= 31) {
      seconds = Date.UTC(year, month - 1, date) / 1000;
      // Date.UTC rolls 2026-02-30 over into March; such a text is no date.
      if (new Date(seconds * 1000).getUTCDate() !== date) seconds = NaN;
    }
    trackTimeDay = { text: day, seconds: seconds };
  }
  var hour = trackDigits(text, 11, 2), minute = trackDigits(text, 14, 2), second = trackDigits(text, 17, 2);
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59) return NaN;
  return trackTimeDay.seconds + hour * 3600 + minute * 60 + second;
}

function addTrackingPoint(latitude, longitude, bearing, speed, time) {
  var lat = Number(latitude), lng = Number(longitude);
  if (!isFinite(lat) || !isFinite(lng) || lat < -90 || lat > 90) return;
  var course = Number(bearing);
  var knots = speed === undefined || speed === null ? NaN : Number(speed);
  trackingList.push({
    latlng: L.latLng(lat, lng),
    bearing: isFinite(course) ? course : -1,
    speed: isFinite(knots) ? knots : NaN,
    time: typeof time === "string" ? time : "",
    t: 0,
    afterGap: false
  });
}

// --- commands

function showTrackingMap() {
  var saved = trackHistory ? trackHistory.savedView : null;
  removeHistory();
  trackingList = [];
  openHistory(saved);
}

// The position, the course; then the speed (knots) and the stored time text,
// which the replay needs and a point sent without them lacks.
function insertGpsInfo(latitude, longitude, bearing, speed, time) {
  addTrackingPoint(latitude, longitude, bearing, speed, time);
}

// Many points in one call: latitude, longitude, course, speed, time, again
// and again.
function insertGpsTrack(values) {
  if (!Array.isArray(values)) return;
  for (var i = 0; i + 4 < values.length; i += 5) {
    addTrackingPoint(values[i], values[i + 1], values[i + 2], values[i + 3], values[i + 4]);
  }
}

// Draws the collected points as the history track; latitude and longitude
// are the last fix's, where the end is marked.
function showTrackingLine(latitude, longitude) {
  if (!trackHistory) openHistory(null);
  var points = trackingList;
  trackingList = [];
  if (points.length === 0) {
    closeTrackingLine();
    return;
  }
  var h = trackHistory;
  removeHistoryLayers(h);
  h.points = points;
  timeTrack(points);
  // The view first: the track is then drawn once, at the zoom it is seen at.
  showTrackingBar(h);
  fitHistory(h);
  h.layer = L.layerGroup().addTo(map);
  drawTrack(h, points);
  var endLat = Number(latitude), endLng = Number(longitude);
  var end = isFinite(endLat) && isFinite(endLng) ? L.latLng(endLat, endLng) : points[points.length - 1].latlng;
  L.marker(points[0].latlng, {
    icon: L.divIcon({ className: "TrackStart", iconSize: [14, 14] }), pane: "historyPane", interactive: false, keyboard: false
  }).addTo(h.layer);
  L.marker(end, {
    icon: L.divIcon({ className: "TrackEnd", iconSize: [14, 14] }), pane: "historyPane", interactive: false, keyboard: false
  }).addTo(h.layer);
  h.marker = new ImageIconOverlay(points[0].latlng, global.selectIcon, "", { className: "ReplayMarker", interactive: false });
  h.marker.addTo(map);
  h.clock = points[0].t;
  h.index = 0;
  h.visits = [0];
  renderReplay(h, true);
}

// The next history view is this vehicle's (its name in the bar's title):
// the console opens one from its alarm queue, not from the vehicle's menu.
function setHistoryVehicle(vehicleID) {
  trackingVehicle = String(vehicleID);
}

// Marks a place on the open history view (where an alarm was raised), with
// its label as text; the mark goes when the view closes.
function markHistoryPlace(latitude, longitude, label) {
  var h = trackHistory;
  var lat = Number(latitude), lng = Number(longitude);
  if (!h || !h.layer || !onEarth(lat, lng)) return;
  if (h.mark) h.layer.removeLayer(h.mark);
  var text = document.createElement("span");
  setText(text, label);
  h.mark = L.marker([lat, lng], {
    icon: L.divIcon({ className: "TrackAlarm", iconSize: [18, 18] }), pane: "historyPane", keyboard: false
  }).bindTooltip(text, { permanent: true, direction: "top", offset: [0, -10], className: "TrackAlarmLabel" });
  h.mark.addTo(h.layer);
}

// --- building the view

function openHistory(savedView) {
  var id = String(trackingVehicle || global.currentVehicle || "");
  trackHistory = {
    vehicleID: id,
    savedView: savedView || { center: map.getCenter(), zoom: map.getZoom() },
    points: [],
    layer: null,
    marker: null,
    mark: null,
    arrows: 0,
    gaps: 0,
    clock: 0,
    index: 0,
    visits: [],
    speed: REPLAY_DEFAULT_SPEED,
    playing: false,
    lastFrame: null,
    frames: 0,
    shownIndex: -1,
    addressWanted: -1,
    addressAsked: -1,
    addressAskedAt: 0
  };
}

// The replay's clock: the stored times, kept from running backwards (a
// device clock set back); without times (points sent with the position
// only) one second per fix. Marks the fix after each gap.
function timeTrack(points) {
  var timed = true;
  for (var i = 0; i < points.length; i++) {
    points[i].t = parseTrackTime(points[i].time);
    if (isNaN(points[i].t)) timed = false;
  }
  for (var k = 0; k < points.length; k++) {
    var p = points[k];
    if (!timed) p.t = k;
    else if (k > 0 && p.t < points[k - 1].t) p.t = points[k - 1].t;
    p.afterGap = k > 0 && p.t - points[k - 1].t > HISTORY_GAP_S;
  }
}

function drawTrack(h, points) {
  var runs = [[points[0].latlng]], gaps = [];
  for (var i = 1; i < points.length; i++) {
    if (points[i].afterGap) {
      gaps.push([points[i - 1].latlng, points[i].latlng]);
      runs.push([points[i].latlng]);
    } else {
      runs[runs.length - 1].push(points[i].latlng);
    }
  }
  h.gaps = gaps.length;
  h.line = L.polyline(runs, {
    color: HISTORY_COLOR, opacity: 0.9, weight: 5, renderer: historyRenderer, interactive: false
  }).addTo(h.layer);
  if (gaps.length > 0) {
    h.gapLine = L.polyline(gaps, {
      color: HISTORY_COLOR, opacity: 0.8, weight: 4, dashArray: "6 8", renderer: historyRenderer, interactive: false
    }).addTo(h.layer);
  }
  drawArrows(h, points);
}

// Initial bearing from a to b, degrees clockwise from north.
function bearingBetween(a, b) {
  var toRad = Math.PI / 180;
  var lat1 = a.lat * toRad, lat2 = b.lat * toRad, dLng = (b.lng - a.lng) * toRad;
  var y = Math.sin(dLng) * Math.cos(lat2);
  var x = Math.cos(lat1) * Math.sin(lat2) - Math.sin(lat1) * Math.cos(lat2) * Math.cos(dLng);
  return (Math.atan2(y, x) / toRad + 360) % 360;
}

// Arrows evenly spaced along the driven distance (gaps not counted),
// pointing the way the vehicle went.
function drawArrows(h, points) {
  var n = points.length;
  var lengths = new Float64Array(n);
  var total = 0;
  for (var i = 1; i < n; i++) {
    if (!points[i].afterGap) {
      lengths[i] = points[i - 1].latlng.distanceTo(points[i].latlng);
      total += lengths[i];
    }
  }
  h.arrows = 0;
  if (total <= 0) return;
  var spacing = total / (HISTORY_ARROWS + 1);
  var next = spacing, run = 0;
  for (var k = 1; k < n && h.arrows < HISTORY_ARROWS; k++) {
    var d = lengths[k];
    if (d <= 0) continue;
    var a = points[k - 1].latlng, b = points[k].latlng;
    while (run + d >= next && h.arrows < HISTORY_ARROWS) {
      var f = (next - run) / d;
      var at = L.latLng(a.lat + (b.lat - a.lat) * f, a.lng + (b.lng - a.lng) * f);
      var head = document.createElement("div");
      head.style.transform = "rotate(" + bearingBetween(a, b).toFixed(1) + "deg)";
      L.marker(at, {
        icon: L.divIcon({ className: "TrackArrow", iconSize: [14, 14], html: head }),
        pane: "historyPane", interactive: false, keyboard: false
      }).addTo(h.layer);
      h.arrows++;
      next += spacing;
    }
    run += d;
  }
}

function fitHistory(h) {
  var minLat = Infinity, maxLat = -Infinity, minLng = Infinity, maxLng = -Infinity;
  var pts = h.points;
  for (var i = 0; i < pts.length; i++) {
    var ll = pts[i].latlng;
    if (ll.lat < minLat) minLat = ll.lat;
    if (ll.lat > maxLat) maxLat = ll.lat;
    if (ll.lng < minLng) minLng = ll.lng;
    if (ll.lng > maxLng) maxLng = ll.lng;
  }
  var bar = document.getElementById("TrackingBar");
  map.fitBounds([[minLat, minLng], [maxLat, maxLng]], {
    paddingTopLeft: [40, 40],
    paddingBottomRight: [40, 40 + bar.offsetHeight + 14],
    maxZoom: 16,
    animate: false
  });
}

function removeHistoryLayers(h) {
  if (h.layer) map.removeLayer(h.layer);
  if (h.marker) map.removeLayer(h.marker);
  h.layer = null;
  h.marker = null;
  h.mark = null;
  h.line = null;
  h.gapLine = null;
}

function removeHistory() {
  if (!trackHistory) return;
  trackHistory.playing = false;
  removeHistoryLayers(trackHistory);
  trackHistory = null;
  document.getElementById("TrackingBar").style.display = "none";
  eventPopup.place();
}

// The close button: back to the live view as it was before the history.
function closeTrackingLine() {
  var h = trackHistory;
  if (!h) return;
  var saved = h.savedView;
  removeHistory();
  trackingList = [];
  removeTooltip();
  if (saved) map.setView(saved.center, saved.zoom, { animate: false });
}

// --- the playback bar

function showTrackingBar(h) {
  var vehicle = findVehicle(h.vehicleID);
  var name = vehicle ? (listBox.vehicleName(vehicle.vehicleID) || vehicle.vehicleName) : "";
  var pts = h.points;
  var span = pts[pts.length - 1].t - pts[0].t;
  setText(document.getElementById("TrackTitle"),
    (name ? name + " - " : "") + pts.length + (pts.length === 1 ? " position" : " positions"));
  var slider = document.getElementById("TrackSlider");
  slider.min = "0";
  slider.max = String(Math.max(0, span));
  slider.value = "0";
  document.getElementById("TrackingBar").style.display = "block";
  eventPopup.place();
  updatePlayButton(h);
  updateSpeedButtons(h);
}

function updatePlayButton(h) {
  document.getElementById("TrackPlay").className = h && h.playing ? "playing" : "paused";
}

function updateSpeedButtons(h) {
  var buttons = document.querySelectorAll("#TrackingBar .TrackSpeed");
  for (var i = 0; i < buttons.length; i++) {
    var speed = Number(buttons[i].getAttribute("data-speed"));
    buttons[i].className = "TrackSpeed" + (h && speed === h.speed ? " selected" : "");
  }
}

function formatTrackSpeed(knots) {
  return isFinite(knots) ? (knots * 1.852).toFixed(1) + " km/h" : "";
}

// --- replay

function lastFixAtOrBefore(points, t) {
  var lo = 0, hi = points.length - 1;
  if (t <= points[0].t) return 0;
  while (lo < hi) {
    var mid = (lo + hi + 1) >> 1;
    if (points[mid].t <= t) lo = mid;
    else hi = mid - 1;
  }
  return lo;
}

function reachFix(h, k) {
  h.index = k;
  h.visits.push(k);
}

// Moves the replay clock on by seconds of track time. A gap is not played:
// the clock stops at the fix before it, and the next step goes straight
// to the fix after it.
function advanceReplay(h, seconds) {
  var pts = h.points, last = pts.length - 1;
  if (h.index < last && pts[h.index + 1].afterGap && h.clock >= pts[h.index].t) {
    h.clock = pts[h.index + 1].t;
    reachFix(h, h.index + 1);
    return;
  }
  h.clock = Math.min(h.clock + seconds, pts[last].t);
  while (h.index < last && !pts[h.index + 1].afterGap && pts[h.index + 1].t <= h.clock) reachFix(h, h.index + 1);
  if (h.index < last && pts[h.index + 1].afterGap && h.clock > pts[h.index].t) h.clock = pts[h.index].t;
}

function replayEnded(h) {
  return h.index >= h.points.length - 1;
}

function replayFrame(now) {
  var h = trackHistory;
  if (!h || !h.playing) return;
  var elapsed = h.lastFrame === null ? 0 : Math.min(1, Math.max(0, (now - h.lastFrame) / 1000));
  h.lastFrame = now;
  advanceReplay(h, elapsed * h.speed);
  h.frames++;
  renderReplay(h, false);
  if (replayEnded(h)) {
    setReplayPlaying(h, false);
    return;
  }
  requestAnimationFrame(replayFrame);
}

function setReplayPlaying(h, playing) {
  if (!h || !h.points.length) return;
  if (playing && replayEnded(h)) {
    h.clock = h.points[0].t;
    h.index = 0;
    h.visits = [0];
  }
  var was = h.playing;
  h.playing = playing;
  updatePlayButton(h);
  if (playing && !was) {
    h.lastFrame = null;
    requestAnimationFrame(replayFrame);
  }
}

function setReplaySpeed(speed) {
  var h = trackHistory;
  if (!h || REPLAY_SPEEDS.indexOf(speed) < 0) return;
  h.speed = speed;
  updateSpeedButtons(h);
}

// The slider put at seconds from the start: the marker goes to the fix of
// that moment (the last one at or before it).
function seekReplay(seconds) {
  var h = trackHistory;
  if (!h || !h.points.length) return;
  var pts = h.points;
  var k = lastFixAtOrBefore(pts, pts[0].t + Math.max(0, Number(seconds) || 0));
  h.index = k;
  h.clock = pts[k].t;
  h.visits = [k];
  renderReplay(h, true, true);
}

// The marker between the current fix and the next (at the fix itself when
// snap), turned to the course; the bar shows the current fix.
function renderReplay(h, snap, keepSlider) {
  var pts = h.points, k = h.index, p = pts[k];
  var latlng = p.latlng, course = p.bearing;
  var next = k + 1 < pts.length ? pts[k + 1] : null;
  if (!snap && next && !next.afterGap && next.t > p.t && h.clock > p.t) {
    var f = Math.min(1, (h.clock - p.t) / (next.t - p.t));
    latlng = L.latLng(p.latlng.lat + (next.latlng.lat - p.latlng.lat) * f,
                      p.latlng.lng + (next.latlng.lng - p.latlng.lng) * f);
  }
  if (course < 0 && next && !next.afterGap && !next.latlng.equals(p.latlng)) course = bearingBetween(p.latlng, next.latlng);
  if (h.marker) {
    if (course >= 0) h.marker.setAngle(course * Math.PI / 180);
    h.marker.setLatLng(latlng);
  }
  if (!keepSlider) document.getElementById("TrackSlider").value = String(h.clock - pts[0].t);
  if (h.shownIndex !== k) {
    h.shownIndex = k;
    setText(document.getElementById("TrackTime"), p.time || ("#" + (k + 1) + " / " + pts.length));
    setText(document.getElementById("TrackSpeedText"), formatTrackSpeed(p.speed));
    askTrackAddress(h, k);
  }
}

// One geocoder question at a time: while one is out, only the latest wish
// is kept and asked once the answer is in.
function askTrackAddress(h, k) {
  h.addressWanted = k;
  var now = Date.now();
  if (h.addressAsked >= 0 && now - h.addressAskedAt < TRACK_ADDRESS_PATIENCE_MS) return;
  h.addressAsked = k;
  h.addressAskedAt = now;
  var asked = geocode(h.points[k].latlng, function (results) {
    if (trackHistory !== h) return;
    h.addressAsked = -1;
    if (h.addressWanted === k) {
      setText(document.getElementById("TrackAddress"), results && results.length > 1 ? results[1] : "");
    } else {
      askTrackAddress(h, h.addressWanted);
    }
  });
  if (!asked) {
    h.addressAsked = -1;
    setText(document.getElementById("TrackAddress"), "");
  }
}

function wireTrackingBar() {
  hoverButton("TrackClose", null, null, "Close Tracking Line", function () { closeTrackingLine(); });
  var play = document.getElementById("TrackPlay");
  play.addEventListener("mousedown", function (e) {
    if (e.button !== 0) return;
    e.stopPropagation();
    var h = trackHistory;
    if (h) setReplayPlaying(h, !h.playing);
  });
  play.addEventListener("mouseover", function (e) {
    showTooltip(e, trackHistory && trackHistory.playing ? "Pause" : "Play");
  });
  play.addEventListener("mouseout", function () { removeTooltip(); });
  var speeds = document.querySelectorAll("#TrackingBar .TrackSpeed");
  for (var i = 0; i < speeds.length; i++) {
    (function (button) {
      button.addEventListener("mousedown", function (e) {
        if (e.button !== 0) return;
        e.stopPropagation();
        setReplaySpeed(Number(button.getAttribute("data-speed")));
      });
    })(speeds[i]);
  }
  var slider = document.getElementById("TrackSlider");
  slider.addEventListener("input", function () { seekReplay(slider.value); });
  // The page's own tooltips and menus close on a press anywhere but must not
  // take presses from the bar's controls.
  document.getElementById("TrackingBar").addEventListener("contextmenu", function (e) { e.preventDefault(); });
}
