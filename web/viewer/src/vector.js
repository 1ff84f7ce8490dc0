// The map viewer on vector tiles: MapLibre GL JS draws kserve's vector tiles with its style
// (/styles/kestrel.json, made from the engine's colour table), so the map turns, tilts and
// zooms smoothly and its text stays sharp. Another style may be named by the page's address,
// vector.html?style=URL; the view is kept in the address (#zoom/lat/lon/bearing/pitch).
// Latin letters and the like come from kserve's glyph ranges; Chinese characters are drawn
// with the browser's own fonts, so no glyph of the ideographs is ever fetched.
import 'maplibre-gl/dist/maplibre-gl.css';
import './style.css';
import * as maplibregl from 'maplibre-gl';
// The map's worker, bundled with what it imports, beside the page's other files.
import workerUrl from 'maplibre-gl/dist/maplibre-gl-worker.mjs?worker&url';

maplibregl.setWorkerUrl(workerUrl);

const status = document.getElementById('status');

function say(text) {
  status.textContent = text;
  status.className = text ? 'error' : '';
  status.hidden = !text;
}

const params = new URLSearchParams(location.search);
const style = new URL(params.get('style') ?? '/styles/kestrel.json', location.href).href;

const map = new maplibregl.Map({
  container: 'map',
  style,
  hash: true,
  localIdeographFontFamily:
    "'Noto Sans CJK TC', 'Microsoft JhengHei', 'PingFang TC', 'WenQuanYi Zen Hei', sans-serif",
});
map.addControl(new maplibregl.NavigationControl({visualizePitch: true}));
map.addControl(new maplibregl.ScaleControl());
map.on('error', (e) => say(`The map could not be drawn: ${e.error?.message ?? e.error ?? e}`));
map.on('load', () => say(''));
// For the page's tests and for scripts: the map.
window.kestrelMap = map;
