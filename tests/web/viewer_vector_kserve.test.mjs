// The viewer's vector page (vector.html) served by kserve, in Debian's headless Chromium driven
// by playwright-core: MapLibre reads kserve's style (/styles/kestrel.json), the TileJSON it
// names, the vector tiles (gzip-compressed, 204 where empty) and the glyph ranges, all from
// kserve, and draws the sample city with road names and no console error. Run by ctest: node
// --test viewer_vector_kserve.test.mjs, with KSERVE, KSERVE_DATA and VIEWER_MODULES set.
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
  browser = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium', headless: true, viewport: {width: 800, height: 600},
    args: ['--headless', '--no-sandbox', '--no-first-run', '--disable-quic',
      '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--ignore-gpu-blocklist'],
  });
});

after(async () => {
  await browser?.close();
  server?.kill('SIGTERM');
  if (profile) rmSync(profile, {recursive: true, force: true});
});

test('MapLibre draws kserve\'s vector tiles with its style and glyphs, names in Chinese, no error', async () => {
  const page = await browser.newPage();
  const problems = [];
  const answers = [];
  page.on('console', (m) => { if (m.type() === 'error') problems.push(m.text()); });
  page.on('pageerror', (e) => problems.push(String(e)));
  page.on('response', (r) => answers.push({url: r.url(), status: r.status(),
    encoding: r.headers()['content-encoding'] ?? ''}));
  await page.goto(`${base}vector.html#15.5/25.0209/121.4594`);
  await page.waitForFunction(() => window.kestrelMap?.loaded() && window.kestrelMap.areTilesLoaded(),
    null, {timeout: 60000});
  await page.evaluate(() => new Promise((r) => window.kestrelMap.once('idle', r)
    && window.kestrelMap.triggerRepaint()));
  const share = await page.evaluate(() => {
    const c = window.kestrelMap.getCanvas();
    const g = new OffscreenCanvas(c.width, c.height).getContext('2d');
    g.drawImage(c, 0, 0);
    const px = g.getImageData(0, 0, c.width, c.height).data;
    let n = 0;
    for (let i = 0; i < px.length; i += 4) if (px[i] + px[i + 1] + px[i + 2] < 700) n++;
    return n / (px.length / 4);
  });
  assert.ok(share > 0.03, `map ink: ${share}`);
  const names = await page.evaluate(() => window.kestrelMap.queryRenderedFeatures()
    .map((f) => f.properties.name ?? ''));
  assert.ok(names.some((n) => /[\u4e00-\u9fff]/.test(n)), 'Chinese names drawn');
  const tiles = answers.filter((a) => a.url.endsWith('.mvt'));
  assert.ok(tiles.some((a) => a.status === 200 && a.encoding === 'gzip'), 'gzip-compressed tiles');
  assert.ok(answers.some((a) => a.url.includes('/fonts/') && a.status === 200), 'glyphs fetched');
  assert.ok(answers.every((a) => a.status < 400), JSON.stringify(answers.filter((a) => a.status >= 400)));
  assert.deepEqual(problems, []);
});
