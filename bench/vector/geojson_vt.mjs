// The benchmark's peer in JavaScript: geojson-vt cuts the data set's features (GeoJSON in
// EPSG:3857, turned into longitude and latitude first, outside the time) into the tiles of
// zooms A to B, vt-pbf encodes each tile. Prints the tiles with features, their bytes and the
// CPU seconds (user and system) that cutting and encoding took.
//   node geojson_vt.mjs FILE.geojson A B
import {readFileSync} from 'node:fs';
import {createRequire} from 'node:module';
import geojsonvt from 'geojson-vt';

const vtpbf = createRequire(import.meta.url)('vt-pbf');
const [file, zmin, zmax] = [process.argv[2], Number(process.argv[3]), Number(process.argv[4])];
const data = JSON.parse(readFileSync(file, 'utf8'));
const R = 6378137;
const lonlat = ([x, y]) => [x / R * 180 / Math.PI, (2 * Math.atan(Math.exp(y / R)) - Math.PI / 2) * 180 / Math.PI];
const walk = (c) => (typeof c[0] === 'number' ? lonlat(c) : c.map(walk));
for (const f of data.features) f.geometry.coordinates = walk(f.geometry.coordinates);
delete data.crs;

const start = process.cpuUsage();
// The same cut as the tiles it is compared with: extent 4096, buffer 64 units, a tolerance of
// a quarter pixel of a 512-pixel tile (2 units).
const index = geojsonvt(data, {maxZoom: zmax, indexMaxZoom: zmax, indexMaxPoints: 0,
  extent: 4096, buffer: 64, tolerance: 2});
let tiles = 0, bytes = 0;
// Every tile of the zooms over the features' box.
let [w, s, e, n] = [180, 90, -180, -90];
for (const f of data.features) {
  const pts = JSON.stringify(f.geometry.coordinates).match(/-?[\d.]+,-?[\d.]+/g);
  for (const p of pts) {
    const [x, y] = p.split(',').map(Number);
    [w, s, e, n] = [Math.min(w, x), Math.min(s, y), Math.max(e, x), Math.max(n, y)];
  }
}
const cpuBox = process.cpuUsage(start);
const tx = (lon, z) => Math.floor((lon + 180) / 360 * 2 ** z);
const ty = (lat, z) => Math.floor((1 - Math.log(Math.tan(lat * Math.PI / 180) +
  1 / Math.cos(lat * Math.PI / 180)) / Math.PI) / 2 * 2 ** z);
for (let z = zmin; z <= zmax; z++) {
  for (let x = tx(w, z); x <= tx(e, z); x++) {
    for (let y = ty(n, z); y <= ty(s, z); y++) {
      const t = index.getTile(z, x, y);
      if (!t || t.features.length === 0) continue;
      bytes += vtpbf.fromGeojsonVt({all: t}, {version: 2, extent: 4096}).length;
      tiles++;
    }
  }
}
const cpu = process.cpuUsage(start);
const seconds = (cpu.user + cpu.system - cpuBox.user - cpuBox.system) / 1e6;
console.log(`tiles ${tiles} bytes ${bytes} cpu_seconds ${seconds.toFixed(4)}`);
