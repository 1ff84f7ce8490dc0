// The map viewer's static page (pmtiles.html) in Debian's headless Chromium, driven by
// playwright-core: the built viewer and kseed's PMTiles archives (pictures and vector tiles) of
// the sample city on a plain static file server (below: files as they are, and byte ranges, as
// any web server or CDN answers them), no kserve. Run by ctest: node --test viewer_pmtiles.test.mjs, with KSEED,
// KSERVE_DATA (the data set), VIEWER_DIR (the built viewer), VIEWER_MODULES and
// PMTILES_FIXTURE (a program writing a PMTiles archive of other tiles, without kseed's
// metadata) set.
import {after, before, test} from 'node:test';
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {createServer} from 'node:http';
import {createRequire} from 'node:module';
import {cpSync, createReadStream, mkdtempSync, rmSync, statSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {extname, join, normalize} from 'node:path';

const {chromium} = createRequire(join(process.env.VIEWER_MODULES, '/'))('playwright-core');

let root, server, base, browser, profile;
const requests = [];  // {path, range} of every request the server answered

const types = {'.html': 'text/html; charset=utf-8', '.js': 'text/javascript', '.css': 'text/css'};

// A plain static server: the files under `root`, whole (200) or a byte range of them (206).
function serve(folder) {
  return new Promise((resolve) => {
    const s = createServer((req, res) => {
      const path = decodeURIComponent(new URL(req.url, 'http://host').pathname);
      const file = normalize(join(folder, path.endsWith('/') ? path + 'index.html' : path));
      requests.push({path, range: req.headers.range ?? null});
      let size;
      try {
        if (!file.startsWith(folder + '/') || !statSync(file).isFile()) throw new Error();
        size = statSync(file).size;
      } catch {
        res.writeHead(404).end();
        return;
      }
      const headers = {'Content-Type': types[extname(file)] ?? 'application/octet-stream',
        'Accept-Ranges': 'bytes'};
      const m = /^bytes=(\d+)-(\d*)$/.exec(req.headers.range ?? '');
      if (!m) {
        res.writeHead(200, {...headers, 'Content-Length': size});
        createReadStream(file).pipe(res);
        return;
      }
      const start = Number(m[1]);
      const end = Math.min(m[2] ? Number(m[2]) : size - 1, size - 1);
      if (start > end) {
        res.writeHead(416, {'Content-Range': `bytes */${size}`}).end();
        return;
      }
      res.writeHead(206, {...headers, 'Content-Range': `bytes ${start}-${end}/${size}`,
        'Content-Length': end - start + 1});
      createReadStream(file, {start, end}).pipe(res);
    });
    s.listen(0, '127.0.0.1', () => resolve(s));
  });
}

function seed(...args) {
  execFileSync(process.env.KSEED, ['--data', process.env.KSERVE_DATA, '--quiet', '--workers', '2',
    ...args], {stdio: ['ignore', 'ignore', 'inherit']});
}

before(async () => {
  root = mkdtempSync(join(tmpdir(), 'viewer-static-'));
  cpSync(process.env.VIEWER_DIR, root, {recursive: true});
  // The native grid, and a zoom of the google set.
  seed('--set', 'native', '--zoom', '0-3', '--output', join(root, 'native.pmtiles'));
  seed('--set', 'google', '--zoom', '11', '--output', join(root, 'google.pmtiles'));
  seed('--tiles', 'mvt', '--zoom', '12-13', '--output', join(root, 'vector.pmtiles'));
  execFileSync(process.env.PMTILES_FIXTURE, [join(root, 'other.pmtiles')]);
  rmSync(join(root, 'index.html'));  // no kserve page: nothing of it can be used
  server = await serve(root);
  base = `http://127.0.0.1:${server.address().port}/`;
  profile = mkdtempSync(join(tmpdir(), 'viewer-chromium-'));
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    headless: true,
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync'],
  });
});

after(async () => {
  await browser?.close();
  server?.close();
  for (const d of [root, profile]) if (d) rmSync(d, {recursive: true, force: true});
});

// The share of the map canvas's pixels that are drawn and not white.
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

for (const [archive, crs, zoom] of [['native.pmtiles', 'EPSG:3826', [2, 5]],
  ['google.pmtiles', 'EPSG:3857', [11, 11]], ['vector.pmtiles', 'EPSG:3857', [12, 13]]]) {
  test(`the static page shows ${archive} in ${crs} from its metadata, read by ranges`, async () => {
    const page = await browser.newPage();
    await page.setViewportSize({width: 900, height: 650});
    const errors = [];
    page.on('console', (m) => { if (m.type() === 'error') errors.push(m.text()); });
    page.on('pageerror', (e) => errors.push(String(e)));
    requests.length = 0;
    await page.goto(`${base}pmtiles.html?archive=${archive}`);
    await page.waitForSelector('body[data-ready="true"]', {timeout: 60000});
    assert.deepEqual(errors, []);
    const share = await ink(page);
    assert.ok(share > 0.05, `only ${share} of the canvas is drawn`);
    const z = await page.evaluate(() => window.kviewer.zoom());
    assert.ok(z >= zoom[0] && z <= zoom[1], `zoom ${z}`);
    assert.match(await page.textContent('#position'),
      new RegExp(`^${crs} x -?\\d+ y \\d+ m · 2\\d\\.\\d+° N 12\\d\\.\\d+° E$`));
    // The archive is only ever read in pieces, as a CDN serves it.
    const reads = requests.filter((r) => r.path === `/${archive}`);
    assert.ok(reads.length >= 2 && reads.every((r) => r.range), JSON.stringify(reads));
    await page.close();
  });
}

test('an archive that is not there, or not kseed\'s, is said so on the page', async () => {
  for (const [archive, said] of [['none.pmtiles', /none\.pmtiles cannot be read/],
    ['other.pmtiles', /not a tile archive written by kseed/]]) {
    const page = await browser.newPage();
    await page.goto(`${base}pmtiles.html?archive=${archive}`);
    await page.waitForSelector('#status.error');
    assert.match(await page.textContent('#status'), said);
    await page.close();
  }
});
