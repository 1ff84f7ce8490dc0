// The viewer's vector page (vector.html) in Debian's headless Chromium, driven by
// playwright-core: MapLibre draws the sample city's vector tiles with the style made from the
// colour table and the glyph ranges made at build time, all from a plain static file server
// here (the tiles written by kvector-tiles, missing tiles answered empty as a tile server
// answers them). Run by ctest: node --test viewer_vector.test.mjs, with VECTOR_FIXTURE,
// KVECTOR_TILES, KSERVE_DATA, FONTS_DIR, VIEWER_DIR and VIEWER_MODULES set.
import {after, before, test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {createServer} from 'node:http';
import {createRequire} from 'node:module';
import {cpSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {extname, join, normalize} from 'node:path';

const {chromium} = createRequire(join(process.env.VIEWER_MODULES, '/'))('playwright-core');

let root, server, base, browser, profile, page;
const problems = [];  // console errors and page errors
const types = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css',
  '.json': 'application/json', '.mvt': 'application/vnd.mapbox-vector-tile',
  '.pbf': 'application/x-protobuf'};

function serve(folder) {
  return new Promise((resolve) => {
    const s = createServer((req, res) => {
      const path = decodeURIComponent(new URL(req.url, 'http://host').pathname);
      const file = normalize(join(folder, path));
      let body;
      try {
        if (!file.startsWith(folder + '/') || !statSync(file).isFile()) throw new Error();
        body = readFileSync(file);
      } catch {
        // A tile server answers a tile without features with an empty tile.
        if (path.startsWith('/tiles/')) body = Buffer.alloc(0);
        else return res.writeHead(404).end();
      }
      res.writeHead(200, {'Content-Type': types[extname(file)] ?? 'application/octet-stream',
        'Content-Length': body.length});
      res.end(body);
    });
    s.listen(0, '127.0.0.1', () => resolve(s));
  });
}

before(async () => {
  root = mkdtempSync(join(tmpdir(), 'viewer-vector-'));
  cpSync(process.env.VIEWER_DIR, root, {recursive: true});
  cpSync(process.env.FONTS_DIR, join(root, 'fonts'), {recursive: true});
  execFileSync(process.env.KVECTOR_TILES, ['--data', process.env.KSERVE_DATA, '--zoom', '11-15',
    '--out', join(root, 'tiles', 'google')], {stdio: 'ignore'});
  execFileSync(process.env.VECTOR_FIXTURE, [join(root, 'fixture')], {stdio: 'ignore'});
  server = await serve(root);
  base = `http://127.0.0.1:${server.address().port}`;
  const style = readFileSync(join(root, 'fixture', 'style.json'), 'utf8')
    .replaceAll('http://127.0.0.1', base);
  writeFileSync(join(root, 'style.json'), style);
  profile = mkdtempSync(join(tmpdir(), 'viewer-chromium-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, viewport: {width: 800, height: 600},
    args: ['--headless', '--no-sandbox', '--no-first-run', '--disable-quic',
      '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist'],
  });
  page = await browser.newPage();
  page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
  page.on('pageerror', (e) => problems.push(String(e)));
});

after(async () => {
  await browser?.close();
  server?.close();
  for (const d of [root, profile]) if (d) rmSync(d, {recursive: true, force: true});
});

// The map when it has drawn everything it asked for.
async function idle() {
  await page.waitForFunction(() => window.kestrelMap?.loaded() && window.kestrelMap.areTilesLoaded(),
    null, {timeout: 60000});
  await page.evaluate(() => new Promise((r) => window.kestrelMap.once('idle', r)
    && window.kestrelMap.triggerRepaint()));
}

// The share of the canvas's pixels that are not the white background.
async function ink() {
  const png = await page.locator('#map canvas').screenshot();
  return {png, share: await page.evaluate(async (data) => {
    const img = new Image();
    img.src = 'data:image/png;base64,' + data;
    await img.decode();
    const c = new OffscreenCanvas(img.width, img.height);
    const g = c.getContext('2d');
    g.drawImage(img, 0, 0);
    const px = g.getImageData(0, 0, img.width, img.height).data;
    let n = 0;
    for (let i = 0; i < px.length; i += 4) if (px[i] + px[i + 1] + px[i + 2] < 700) n++;
    return n / (px.length / 4);
  }, png.toString('base64'))};
}

test('the vector page draws the city with road names, turns, and logs no error', async () => {
  // The sample city's middle at zoom 15.5: roads and their names.
  await page.goto(`${base}/vector.html?style=${encodeURIComponent('/style.json')}#15.5/25.0209/121.4594`);
  await idle();
  const before = await ink();
  assert.ok(before.share > 0.03, `map ink: ${before.share}`);
  const names = await page.evaluate(() => window.kestrelMap.queryRenderedFeatures({layers: ['road-names']})
    .map((f) => f.properties.name));
  assert.ok(names.length > 0 && names.some((n) => /[\u4e00-\u9fff]/.test(n)), `names: ${names}`);

  await page.evaluate(() => window.kestrelMap.rotateTo(45, {duration: 0}));
  await idle();
  assert.equal(await page.evaluate(() => window.kestrelMap.getBearing()), 45);
  const turned = await ink();
  assert.ok(turned.share > 0.03 && !turned.png.equals(before.png), 'the turned map is drawn anew');
  if (process.env.VECTOR_SCREENSHOT) writeFileSync(process.env.VECTOR_SCREENSHOT, turned.png);
  assert.deepEqual(problems, []);
});
