// The page's record of one vehicle. Records stay in vehicleContainer after
// deletion (marked deleted) and still count toward the vehicle limit.
function VehicleInfo(index, vehicleID, latlng, vehicleName) {
  this.index = index;
  this.vehicleID = vehicleID;
  this.latlng = latlng;          // L.LatLng, or 0 while unknown
  this.speed = 0;
  this.bearing = 0;
  this.updateTime = "";
  this.timer = null;
  this.imgPath = "";
  this.driver = "";
  this.company = "";
  this.registration = "";
  this.license = "";
  this.maker = "";
  this.model = "";
  this.info1 = "";
  this.info2 = "";
  this.vehicleName = vehicleName;
  this.deleted = false;
  this.track = [];
  if (latlng) this.track.push(latlng);
}

VehicleInfo.prototype.addTrackPoint = function (latlng) {
  if (this.track.length > MAX_TRACK_POINTS - 1) this.track.shift();
  this.track.push(latlng);
};

function findVehicle(vehicleID) {
  var v = vehicleIndex[String(vehicleID)];
  return v && !v.deleted ? v : null;
}

// A name is taken when another vehicle that is not deleted already has it.
function isNameTaken(name, exceptID) {
  for (var i = 0; i < vehicleContainer.length; i++) {
    var v = vehicleContainer[i];
    if (!v.deleted && v.vehicleID !== exceptID && v.vehicleName === name) return true;
  }
  return false;
}

function replaceSameVehicleName(name, exceptID) {
  name = String(name);
  if (!isNameTaken(name, exceptID)) return name;
  for (var n = 1; ; n++) {
    var candidate = name + "(" + n + ")";
    if (!isNameTaken(candidate, exceptID)) return candidate;
  }
}
