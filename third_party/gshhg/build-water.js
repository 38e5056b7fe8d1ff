// Builds the map's water from GMT's text dumps of GSHHG: lake shores
// (levels 2 to 4: lakes, islands in lakes, ponds on those islands) and
// WDBII permanent rivers (levels 0 to 4).
//
//   node build-water.js <shores dump> <rivers dump> <output folder>
//
// Writes water-coarse.json (the large lakes and the major rivers, drawn at
// country zooms, and the names of the cells) and water/<south>_<west>.json,
// one file per 10-degree cell (every lake, island and permanent river,
// drawn from regional zooms on).
// A file is {"lakes": [...], "rivers": [...]}; each feature is
// [id, level, x0, y0, dx1, dy1, ...]: longitude and latitude in 1e-5 degree
// steps, the first point whole and each later one as the step from the one
// before. A lake is a closed ring (its last point repeats its first); the
// page fills every ring of a cell even-odd, so an island in a lake is land.
// A lake or river crossing a cell border is in every cell it reaches, with
// the same id.
"use strict";
const fs = require("fs");
const path = require("path");

const [shoresFile, riversFile, outDir] = process.argv.slice(2);
if (!outDir) {
  console.error("usage: node build-water.js <shores dump> <rivers dump> <output folder>");
  process.exit(2);
}

const CELL = 10;            // degrees
const SCALE = 1e5;          // steps per degree
// Tolerances in degrees of latitude: about 30 m for lake shores and 55 m
// for rivers in the cells (a pixel or two at zoom 12), 2 km in the coarse
// set (a pixel at zoom 6). Lakes below minArea square kilometres and the
// minor rivers (level 4) are left out.
const FINE = { lakeTolerance: 0.0003, riverTolerance: 0.0005, minArea: 0.3, riverLevels: [0, 1, 2, 3] };
const COARSE = { lakeTolerance: 0.02, riverTolerance: 0.02, minArea: 300, riverLevels: [0, 1] };

// "> Shore Bin # 15128, Level 2" then "lon<TAB>lat" lines.
function readDump(file) {
  const segments = [];
  let current = null;
  for (const line of fs.readFileSync(file, "utf8").split("\n")) {
    if (line.startsWith(">")) {
      const m = /Level\s+(\d+)/.exec(line);
      current = { level: m ? Number(m[1]) : -1, points: [] };
      segments.push(current);
    } else if (current && line.trim() !== "") {
      const [x, y] = line.trim().split(/\s+/).map(Number);
      if (isFinite(x) && isFinite(y)) current.points.push([x > 180 ? x - 360 : x, y]);
    }
  }
  return segments.filter((s) => s.points.length > 1);
}

const key = (p) => p[0].toFixed(7) + "," + p[1].toFixed(7);

// The dump cuts shores at the borders of GMT's 1-degree bins; the pieces
// meet end to start and are joined back into rings here.
function joinRings(segments) {
  const byStart = new Map();
  for (const s of segments) {
    const k = key(s.points[0]);
    if (!byStart.has(k)) byStart.set(k, []);
    byStart.get(k).push(s);
  }
  const used = new Set();
  const rings = [];
  for (const s of segments) {
    if (used.has(s)) continue;
    used.add(s);
    const ring = s.points.slice();
    for (let guard = 0; guard < 100000 && key(ring[0]) !== key(ring[ring.length - 1]); guard++) {
      const next = (byStart.get(key(ring[ring.length - 1])) || []).find((c) => !used.has(c));
      if (!next) break;
      used.add(next);
      for (let i = 1; i < next.points.length; i++) ring.push(next.points[i]);
    }
    if (key(ring[0]) === key(ring[ring.length - 1]) && ring.length >= 4) rings.push({ level: s.level, points: ring });
  }
  return rings;
}

// Square kilometres of a ring (spherical excess is not needed at lake size).
function areaKm2(points) {
  let sum = 0;
  const lat0 = points[0][1] * Math.PI / 180;
  const kx = 111.32 * Math.cos(lat0), ky = 110.57;
  for (let i = 0; i + 1 < points.length; i++) {
    sum += points[i][0] * kx * points[i + 1][1] * ky - points[i + 1][0] * kx * points[i][1] * ky;
  }
  return Math.abs(sum) / 2;
}

// Douglas-Peucker on longitudes scaled by the cosine of the latitude, so
// the tolerance is about the same distance east-west and north-south.
function simplify(points, tolerance) {
  if (points.length <= 2) return points.slice();
  const c = Math.cos(points[0][1] * Math.PI / 180);
  const keep = new Uint8Array(points.length);
  keep[0] = keep[points.length - 1] = 1;
  const stack = [[0, points.length - 1]];
  const t2 = tolerance * tolerance;
  while (stack.length) {
    const [a, b] = stack.pop();
    const ax = points[a][0] * c, ay = points[a][1], bx = points[b][0] * c, by = points[b][1];
    const dx = bx - ax, dy = by - ay, len2 = dx * dx + dy * dy;
    let worst = -1, worstD = t2;
    for (let i = a + 1; i < b; i++) {
      const px = points[i][0] * c - ax, py = points[i][1] - ay;
      let d;
      if (len2 === 0) d = px * px + py * py;
      else {
        const t = Math.max(0, Math.min(1, (px * dx + py * dy) / len2));
        const ex = px - t * dx, ey = py - t * dy;
        d = ex * ex + ey * ey;
      }
      if (d > worstD) { worstD = d; worst = i; }
    }
    if (worst >= 0) {
      keep[worst] = 1;
      stack.push([a, worst], [worst, b]);
    }
  }
  return points.filter((_, i) => keep[i]);
}

function encode(id, level, points) {
  const out = [id, level];
  let px = 0, py = 0;
  points.forEach((p, i) => {
    const x = Math.round(p[0] * SCALE), y = Math.round(p[1] * SCALE);
    if (i === 0) out.push(x, y);
    else if (x !== px || y !== py) out.push(x - px, y - py);
    px = x; py = y;
  });
  return out;
}

function cellsOf(points) {
  let w = 180, e = -180, s = 90, n = -90;
  for (const [x, y] of points) {
    w = Math.min(w, x); e = Math.max(e, x); s = Math.min(s, y); n = Math.max(n, y);
  }
  const cells = [];
  for (let cy = Math.floor(s / CELL) * CELL; cy <= Math.min(80, n); cy += CELL) {
    for (let cx = Math.floor(w / CELL) * CELL; cx <= Math.min(170, e); cx += CELL) cells.push(cy + "_" + cx);
  }
  return cells;
}

const shores = readDump(shoresFile).filter((s) => s.level >= 2 && s.level <= 4);
const rivers = readDump(riversFile).filter((s) => s.level >= 0 && s.level <= 4);
const rings = joinRings(shores);
console.error(`${shores.length} shore pieces joined into ${rings.length} rings; ${rivers.length} river lines`);

function features(level) {
  const lakes = [], lines = [];
  rings.forEach((ring, i) => {
    if (areaKm2(ring.points) < level.minArea) return;
    const points = simplify(ring.points, level.lakeTolerance);
    if (points.length >= 4) lakes.push({ id: i + 1, level: ring.level, points });
  });
  rivers.forEach((river, i) => {
    if (level.riverLevels.indexOf(river.level) < 0) return;
    const points = simplify(river.points, level.riverTolerance);
    if (points.length >= 2) lines.push({ id: rings.length + i + 1, level: river.level, points });
  });
  return { lakes, lines };
}

function write(file, lakes, lines, cellNames) {
  const text = '{"lakes":' + JSON.stringify(lakes.map((f) => encode(f.id, f.level, f.points))) +
    ',"rivers":' + JSON.stringify(lines.map((f) => encode(f.id, f.level, f.points))) +
    (cellNames ? ',"cells":' + JSON.stringify(cellNames) : "") + "}\n";
  fs.writeFileSync(file, text);
  return text.length;
}

const fine = features(FINE);
const cells = new Map();
const add = (kind, f) => {
  for (const cell of cellsOf(f.points)) {
    if (!cells.has(cell)) cells.set(cell, { lakes: [], lines: [] });
    cells.get(cell)[kind].push(f);
  }
};
fine.lakes.forEach((f) => add("lakes", f));
fine.lines.forEach((f) => add("lines", f));
const cellDir = path.join(outDir, "water");
fs.rmSync(cellDir, { recursive: true, force: true });
fs.mkdirSync(cellDir);
let total = 0;
const names = [...cells.keys()].sort();
for (const cell of names) total += write(path.join(cellDir, cell + ".json"), cells.get(cell).lakes, cells.get(cell).lines);
console.error(`fine: ${fine.lakes.length} lakes, ${fine.lines.length} rivers in ${names.length} cells, ${total} bytes`);

const coarse = features(COARSE);
const coarseBytes = write(path.join(outDir, "water-coarse.json"), coarse.lakes, coarse.lines, names);
console.error(`coarse: ${coarse.lakes.length} lakes, ${coarse.lines.length} rivers, ${coarseBytes} bytes`);
