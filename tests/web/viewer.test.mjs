// The map viewer in Debian's headless Chromium, driven by playwright-core, against a kserve
// on the sample city. Run by ctest: node --test viewer.test.mjs, with KSERVE (the program),
// KSERVE_DATA (the data set) and VIEWER_MODULES (the viewer's node_modules) set.
import {after, before, test} from 'node:test';
import assert from 'node:assert/strict';
import {spawn} from 'node:child_process';
import {createRequire} from 'node:module';
import {mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';

const {chromium} = createRequire(join(process.env.VIEWER_MODULES, '/'))('playwright-core');

let server, base, browser, profile;

function startServer() {
  return new Promise((resolve, reject) => {
    const p = spawn(process.env.KSERVE, ['--data', process.env.KSERVE_DATA, '--listen', '127.0.0.1:0',
      '--workers', '2'], {stdio: ['ignore', 'ignore', 'pipe']});
    let log = '';
    const timer = setTimeout(() => reject(new Error('kserve did not start: ' + log)), 60000);
    p.stderr.on('data', (d) => {
      log += d;
      const m = /on (http:\/\/[\d.:]+\/) with/.exec(log);
      if (m && !base) {
        base = m[1];
        // Ready once a worker answers.
        const poll = () => fetch(base + 'healthz').then(() => { clearTimeout(timer); resolve(p); },
          () => setTimeout(poll, 100));
        poll();
      }
    });
    p.on('exit', (code) => reject(new Error(`kserve exited ${code}: ${log}`)));
  });
}

before(async () => {
  server = await startServer();
  profile = mkdtempSync(join(tmpdir(), 'viewer-chromium-'));
  // Debian's browser in a fresh profile (playwright-core downloads none).
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
  server?.kill('SIGTERM');
  if (profile) rmSync(profile, {recursive: true, force: true});
});

async function api(path) {
  return (await fetch(base + path)).json();
}

// A page of the viewer with its console errors and tile requests recorded; waits for the map.
// `scale` is the screen's device pixel ratio.
async function open(hash = '', size = {width: 900, height: 650}, scale = 1) {
  const page = await browser.newPage();
  await page.setViewportSize(size);
  if (scale !== 1) {
    const cdp = await page.context().newCDPSession(page);
    await cdp.send('Emulation.setDeviceMetricsOverride',
      {...size, deviceScaleFactor: scale, mobile: false});
  }
  page.errors = [];
  page.tiles = [];
  page.on('console', (m) => { if (m.type() === 'error') page.errors.push(m.text()); });
  page.on('pageerror', (e) => page.errors.push(String(e)));
  page.on('request', (r) => { if (/\/wmts/.test(r.url()) && /\.png|GetTile/.test(r.url())) page.tiles.push(r.url()); });
  await page.goto(base + hash);
  await page.waitForSelector('body[data-ready="true"]', {timeout: 60000});
  return page;
}

// The share of the map canvas's pixels that are not the white background.
function ink(page) {
  return page.evaluate(() => {
    let drawn = 0, all = 0;
    for (const c of document.querySelectorAll('#map canvas')) {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      for (let i = 0; i < d.length; i += 4) {
        all += 1;
        if (d[i + 3] > 0 && (d[i] < 240 || d[i + 1] < 240 || d[i + 2] < 240)) drawn += 1;
      }
    }
    return all ? drawn / all : 0;
  });
}

// The shares of the map canvas's columns and of its rows that hold no map ink at all: white
// bands beside or above and below the map.
function blankBands(page) {
  return page.evaluate(() => {
    const c = document.querySelector('#map canvas');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
    const cols = new Uint8Array(c.width), rows = new Uint8Array(c.height);
    for (let y = 0; y < c.height; ++y) {
      for (let x = 0; x < c.width; ++x) {
        const i = 4 * (y * c.width + x);
        if (d[i + 3] > 0 && (d[i] < 240 || d[i + 1] < 240 || d[i + 2] < 240)) cols[x] = rows[y] = 1;
      }
    }
    const blank = (a) => a.reduce((n, v) => n + (v ? 0 : 1), 0) / a.length;
    return {columns: blank(cols), rows: blank(rows)};
  });
}

const view = (page) => page.evaluate(() => {
  const v = window.kviewer.view;
  return {zoom: v.getZoom(), center: v.getCenter()};
});

test('the page loads without console errors and the map shows map ink', async () => {
  const page = await open('#map=5/301234/2771234');
  assert.deepEqual(page.errors, []);
  const share = await ink(page);
  assert.ok(share > 0.05, `only ${share} of the canvas is drawn`);
  assert.match(await page.textContent('#position'), /EPSG:3826 x \d+ y \d+ m · 2\d\.\d+° N 12\d\.\d+° E/);
  if (process.env.VIEWER_SHOT) await page.screenshot({path: process.env.VIEWER_SHOT});
  await page.close();
});

test('without a permalink the map opens on the whole data set, centred, filling the window', async () => {
  const {extent} = await api('api/info');
  for (const size of [{width: 1280, height: 800}, {width: 1024, height: 768}]) {
    const page = await open('', size);
    const {center} = await view(page);
    const span = [extent[2] - extent[0], extent[3] - extent[1]];
    assert.ok(Math.abs(center[0] - (extent[0] + extent[2]) / 2) < span[0] / 20 &&
      Math.abs(center[1] - (extent[1] + extent[3]) / 2) < span[1] / 20, JSON.stringify(center));
    const bands = await blankBands(page);
    assert.ok(bands.columns < 0.1 && bands.rows < 0.1, `${size.width}x${size.height}: ${JSON.stringify(bands)}`);
    await page.close();
  }
});

test('a screen of two device pixels a pixel gets the @2x tiles, others the 1x tiles', async () => {
  for (const [scale, suffix] of [[2, '@2x.png'], [1, '.png']]) {
    const page = await open('#map=5/301234/2771234', {width: 900, height: 650}, scale);
    assert.deepEqual(page.errors, []);
    assert.ok(page.tiles.length > 0 && page.tiles.every((u) => u.endsWith(suffix) &&
      (scale === 2 || !u.includes('@'))), page.tiles.join('\n'));
    assert.ok(await ink(page) > 0.05);
    await page.close();
  }
});

test('zooming in asks for tiles of the next level, by button and by keyboard', async () => {
  const page = await open('#map=3/301234/2771234');
  for (const [zoomIn, level] of [[() => page.click('.ol-zoom-in'), 4],
    [() => page.focus('#map').then(() => page.keyboard.press('+')), 5]]) {
    page.tiles.length = 0;
    await zoomIn();
    await page.waitForFunction((z) => window.kviewer.view.getZoom() === z, level);
    await page.waitForTimeout(500);
    assert.ok(page.tiles.some((u) => u.includes(`/native/${level}/`) || u.includes(`TileMatrix=${level}&`)),
      page.tiles.join('\n'));
    assert.match(await page.evaluate(() => location.hash), new RegExp(`^#map=${level}/`));
  }
  await page.close();
});

test('clicking a road shows its name; clicking nowhere says nothing was found', async () => {
  // A road of the sample city at whole metres, found through the JSON interface.
  let spot;
  for (let k = 0; k < 200 && !spot; ++k) {
    const x = 301234 + 16 * (k % 20), y = 2771234 - 16 * Math.floor(k / 20);
    const r = await api(`api/road?x=${x}&y=${y}&scale=4`);
    if (r.road && r.road.name) spot = {x, y, name: r.road.name};
  }
  assert.ok(spot);
  const page = await open(`#map=5/${spot.x}/${spot.y}`);
  const box = await page.locator('#map').boundingBox();
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
  await page.waitForSelector('#popup-body .road');
  assert.equal(await page.textContent('#popup-body .road'), spot.name);
  assert.match(await page.textContent('#popup-body'), /District \d+ · type \d · slope -?\d/);
  // Outside the data set's tiles (an absent corner tile): nothing there.
  await page.evaluate(() => { location.hash = '#map=7/265000/2735000'; });
  await page.waitForTimeout(500);
  await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
  await page.waitForSelector('#popup-body .nothing');
  await page.close();
});

test('searching a point of interest lists it, and choosing it moves the map there', async () => {
  const poi = (await api('api/pois?x=305000&y=2765000&r=400')).items.find((p) => p.name);
  const page = await open('#map=2/301234/2771234', {width: 390, height: 700});  // a phone
  await page.fill('#query', poi.name);
  await page.press('#query', 'Enter');
  // Names repeat: the result at the point's position.
  const item = page.locator(`#results button[data-x="${poi.x}"][data-y="${poi.y}"]`, {hasText: poi.name});
  await item.waitFor();
  await item.click();
  if (process.env.VIEWER_SHOT) await page.screenshot({path: process.env.VIEWER_SHOT + '.phone.png'});
  // The end of the move: centre and zoom animate together, and the centre comes within a metre
  // of the point a moment before the zoom reaches its level.
  await page.waitForFunction(([x, y]) => {
    const c = window.kviewer.view.getCenter();
    return Math.abs(c[0] - x) < 1 && Math.abs(c[1] - y) < 1 && window.kviewer.view.getZoom() >= 5;
  }, [poi.x, poi.y]);
  await page.close();
});

test('the permalink reopens the same view', async () => {
  const page = await open('#map=6/303000/2768000');
  assert.deepEqual(await view(page), {zoom: 6, center: [303000, 2768000]});
  await page.keyboard.press('ArrowRight');
  await page.waitForFunction(() => !location.hash.endsWith('/303000/2768000'));
  const hash = await page.evaluate(() => location.hash);
  const moved = await view(page);
  const again = await open(hash);
  assert.deepEqual(await view(again), {zoom: 6, center: moved.center.map(Math.round)});
  await page.close();
  await again.close();
});

test('a server that cannot be reached is said so', async () => {
  const page = await browser.newPage();
  await page.route('**/api/info', (r) => r.abort('connectionrefused'));
  await page.goto(base);
  await page.waitForSelector('#status.error');
  assert.match(await page.textContent('#status'), /cannot be reached/);
  await page.close();
});

test('OpenLayers shows the OGC API tiles: the second page draws map ink from them', async () => {
  const page = await browser.newPage();
  await page.setViewportSize({width: 800, height: 600});
  const errors = [], tiles = [];
  page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
  page.on('pageerror', (e) => errors.push(String(e)));
  page.on('request', (r) => { if (/\/ogcapi\/collections\/map\/map\/tiles\/WebMercatorQuad\/\d+\/\d+\/\d+/.test(r.url())) tiles.push(r.url()); });
  await page.goto(base + 'ogcapi-tiles.html');
  await page.waitForSelector('body[data-ready="true"]', {timeout: 60000});
  await page.waitForTimeout(300);
  assert.deepEqual(errors, []);
  assert.ok(tiles.some((u) => /WebMercatorQuad\/14\//.test(u)), tiles.join('\n'));
  const share = await page.evaluate(() => {
    let drawn = 0, all = 0;
    for (const c of document.querySelectorAll('#map canvas')) {
      const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      for (let i = 0; i < d.length; i += 4) {
        all += 1;
        if (d[i + 3] > 0 && (d[i] < 240 || d[i + 1] < 240 || d[i + 2] < 240)) drawn += 1;
      }
    }
    return all ? drawn / all : 0;
  });
  assert.ok(share > 0.05, `only ${share} of the canvas is drawn`);
  await page.close();
});
