// The page's record of one vehicle. Records stay in vehicleContainer after
// deletion (marked deleted) and still count toward the vehicle limit.
function VehicleInfo(index, vehicleID, latlng, vehicleName) {
  this.index = index;
  this.vehicleID = vehicleID;
  this.latlng = latlng;          // L.LatLng, or 0 while unknown
  this.speed = 0;
  this.bearing = 0;
  this.updateTime = "";
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

// How many vehicles of vehicleContainer that are not deleted hold each
// name, so that the same-name check of every update does not walk the
// fleet. Names change only through setVehicleName and deletions only
// through markVehicleDeleted, which keep it.
var vehicleNames = new Map();

function countVehicleName(name, step) {
  var n = (vehicleNames.get(name) || 0) + step;
  if (n > 0) vehicleNames.set(name, n);
  else vehicleNames.delete(name);
}

function setVehicleName(vehicle, name) {
  if (!vehicle.deleted) {
    countVehicleName(vehicle.vehicleName, -1);
    countVehicleName(name, 1);
  }
  vehicle.vehicleName = name;
}

function markVehicleDeleted(vehicle) {
  if (!vehicle.deleted) countVehicleName(vehicle.vehicleName, -1);
  vehicle.deleted = true;
}

// A name is taken when another vehicle that is not deleted already has it.
function isNameTaken(name, exceptID) {
  var holders = vehicleNames.get(name) || 0;
  var self = findVehicle(exceptID);
  if (self && self.vehicleName === name) holders--;
  return holders > 0;
}

function replaceSameVehicleName(name, exceptID) {
  name = String(name);
  if (!isNameTaken(name, exceptID)) return name;
  for (var n = 1; ; n++) {
    var candidate = name + "(" + n + ")";
    if (!isNameTaken(candidate, exceptID)) return candidate;
  }
}
