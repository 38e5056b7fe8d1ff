// The stored fleet comes at page load as one run of inserts between
// beginFleetLoad() and endFleetLoad(). Meanwhile icons are not placed one by
// one and grouping is not decided per vehicle: at the end every icon goes
// where it belongs in one pass, and grouping is decided once for the whole
// fleet. Other commands may come in between (a fix of a loaded vehicle);
// they see an icon that is not on the map yet, which is drawn where its
// last position is.
var fleetLoad = { active: false, icons: [] };

function beginFleetLoad() {
  fleetLoad.active = true;
}

function endFleetLoad() {
  if (!fleetLoad.active) return;
  fleetLoad.active = false;
  var icons = fleetLoad.icons;
  fleetLoad.icons = [];
  placeNewVehicleIcons(icons);
}

// The stored fleet at page load, a row per vehicle: [latitude, longitude,
// id, name, time, company, maker, model, registration, driver, license,
// imagePath, info1, info2]. A row does what insertVehicle(1, ...),
// insertOptionalInfo(1, ...) and insertUserDefinedInfo(...) do; one that
// fails stops none of the others.
function insertFleet(rows) {
  for (var i = 0; i < rows.length; i++) {
    var r = rows[i];
    try {
      insertVehicle(1, r[0], r[1], r[2], r[3], r[4]);
      insertOptionalInfo(1, r[2], r[3], r[5], r[6], r[7], r[8], r[9], r[10]);
      insertUserDefinedInfo(r[2], r[11], r[12], r[13]);
    } catch (e) {
      console.error(String(e));
    }
  }
}
