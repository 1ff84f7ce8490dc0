// The vector tiles and their style read by the clients' own libraries, on Node.js:
// @mapbox/vector-tile decodes the fixture's and the sample city's tiles, and MapLibre's style
// validator checks the style. Run by ctest: node --test vector.test.mjs, with VECTOR_FIXTURE
// (the fixture program), KVECTOR_TILES, KSERVE_DATA (the sample data set) and VECTOR_MODULES
// (these tests' npm packages) set.
import {test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {mkdtempSync, readFileSync, readdirSync, rmSync, statSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {pathToFileURL} from 'node:url';

const module = (name) => import(pathToFileURL(join(process.env.VECTOR_MODULES, name, 'index.js')).href);
const {VectorTile} = await module('@mapbox/vector-tile');
const {PbfReader} = await module('pbf');
const styleRules = await import(pathToFileURL(join(process.env.VECTOR_MODULES,
  '@maplibre/maplibre-gl-style-spec/dist/index.mjs')).href);

const tmp = mkdtempSync(join(tmpdir(), 'vector-node-'));
process.on('exit', () => rmSync(tmp, {recursive: true, force: true}));
execFileSync(process.env.VECTOR_FIXTURE, [tmp]);
const tile = (path) => new VectorTile(new PbfReader(readFileSync(path)));

test('the fixture tiles decode with their layers, fields, rings and joined road', () => {
  const b = tile(join(tmp, 'B.mvt'));
  assert.deepEqual(Object.keys(b.layers).sort(), ['areas', 'places', 'pois', 'roads']);
  assert.equal(b.layers.pois.length, 3000);
  assert.equal(b.layers.areas.extent, 4096);
  const areas = {};
  for (let i = 0; i < b.layers.areas.length; i++) {
    const f = b.layers.areas.feature(i);
    areas[f.id] = f.toGeoJSON(0, 0, 0).geometry;
  }
  assert.equal(areas[27603000000].type, 'Polygon', 'the area cut through its hole: one ring');
  assert.equal(areas[27603000001].type, 'MultiPolygon', 'the arch: two polygons');
  assert.equal(areas[27603000001].coordinates.length, 2);
  const place = b.layers.places.feature(0).properties;
  assert.deepEqual({...place}, {name: 'PORT', kind: 'label', type: 21});

  const c = tile(join(tmp, 'C.mvt'));
  const roads = [...Array(c.layers.roads.length).keys()].map((i) => c.layers.roads.feature(i));
  const main = roads.filter((f) => f.properties.type === 5);
  assert.equal(main.length, 1);
  assert.equal(main[0].loadGeometry().length, 1, 'one line across the tile files\' border');
  assert.deepEqual({...main[0].properties}, {type: 5, district: 101, code: 'A1', name: '中山路'});
});

test('every tile of the sample city at zooms 13 to 15 decodes, names in Chinese', () => {
  const out = join(tmp, 'sample');
  execFileSync(process.env.KVECTOR_TILES, ['--data', process.env.KSERVE_DATA, '--zoom', '13-15',
    '--out', out]);
  let tiles = 0, features = 0, chinese = 0;
  for (const z of readdirSync(out)) {
    for (const x of readdirSync(join(out, z))) {
      for (const y of readdirSync(join(out, z, x))) {
        const path = join(out, z, x, y);
        if (statSync(path).size === 0) continue;
        const t = tile(path);
        tiles++;
        for (const layer of Object.values(t.layers)) {
          for (let i = 0; i < layer.length; i++) {
            const f = layer.feature(i);
            assert.ok(f.loadGeometry().length > 0);
            features++;
            if (/[\u4e00-\u9fff]/.test(f.properties.name ?? '')) chinese++;
          }
        }
      }
    }
  }
  assert.ok(tiles > 100 && features > 10000 && chinese > 1000, `${tiles} ${features} ${chinese}`);
});

test('the style passes MapLibre\'s style validator', () => {
  const style = JSON.parse(readFileSync(join(tmp, 'style.json'), 'utf8'));
  assert.deepEqual(styleRules.validateStyleMin(style), []);
  assert.ok(style.layers.some((l) => l.layout?.['symbol-placement'] === 'line'));
});
