// The map viewer: the data set's native grid through WMTS, click queries, search, the point
// of interest overlay by category and downloads of the view, all from the kserve that serves
// this page (addresses are relative to it).
import 'ol/ol.css';
import './style.css';
import Map from 'ol/Map.js';
import View from 'ol/View.js';
import Overlay from 'ol/Overlay.js';
import Feature from 'ol/Feature.js';
import Point from 'ol/geom/Point.js';
import TileLayer from 'ol/layer/Tile.js';
import ImageLayer from 'ol/layer/Image.js';
import VectorLayer from 'ol/layer/Vector.js';
import VectorSource from 'ol/source/Vector.js';
import ImageWMS from 'ol/source/ImageWMS.js';
import WMTS, {optionsFromCapabilities} from 'ol/source/WMTS.js';
import WMTSCapabilities from 'ol/format/WMTSCapabilities.js';
import {ScaleLine, defaults as defaultControls} from 'ol/control.js';
import {Circle, Fill, Stroke, Style} from 'ol/style.js';
import {register} from 'ol/proj/proj4.js';
import {transform} from 'ol/proj.js';
import proj4 from 'proj4';

const $ = (id) => document.getElementById(id);
const status = $('status');

function say(text, isError = false) {
  status.textContent = text;
  status.className = isError ? 'error' : '';
  status.hidden = !text;
}

class Unreachable extends Error {}

// GET of a path of this server; an unreachable server and an error answer become messages.
async function get(path, as = 'json') {
  let res;
  try {
    res = await fetch(path, {cache: 'no-cache'});
  } catch {
    throw new Unreachable(
      `The map server at ${location.host} cannot be reached. Check that kserve is running, then try again.`,
    );
  }
  if (!res.ok) {
    let why = `${res.status} ${res.statusText}`;
    try {
      const body = await res.clone().json();
      if (body.error) why = body.error;
    } catch {
      /* not JSON */
    }
    throw new Error(`The server refused the request: ${why}`);
  }
  return as === 'json' ? res.json() : as === 'blob' ? res.blob() : res.text();
}

function escapeHtml(s) {
  return String(s).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

// Screens of 1.5 device pixels a CSS pixel or more get the map drawn at twice the pixels.
const hidpi = (window.devicePixelRatio || 1) >= 1.5;
const downloadFactor = hidpi ? 2 : 1;

async function start() {
  let info, capabilities;
  try {
    [info, capabilities] = await Promise.all([
      get('api/info'),
      get('wmts/1.0.0/WMTSCapabilities.xml', 'text'),
    ]);
  } catch (e) {
    say(e.message, true);
    const again = document.createElement('button');
    again.textContent = 'Try again';
    again.onclick = () => location.reload();
    status.append(' ', again);
    return;
  }

  // The grid's projection from the definition the server gives for its coordinate system.
  proj4.defs(info.crs, info.proj4);
  register(proj4);
  const wmtsOptions = optionsFromCapabilities(new WMTSCapabilities().read(capabilities), {
    layer: 'map',
    matrixSet: 'native',
    requestEncoding: 'REST',
  });
  // On high-density screens the tiles drawn at twice the pixels ("@2x", 512 pixels a side over
  // the same ground), so that text and thin roads stay sharp.
  if (hidpi) {
    wmtsOptions.urls = wmtsOptions.urls.map((u) => u.replace(/\.png$/, '@2x.png'));
    wmtsOptions.tilePixelRatio = 2;
  }
  const projection = wmtsOptions.projection;
  const tiles = new WMTS({...wmtsOptions, wrapX: false});
  const resolutions = wmtsOptions.tileGrid.getResolutions();
  const crs = info.crs;

  let tileErrors = 0;
  tiles.on('tileloaderror', () => {
    tileErrors += 1;
    say('Some map tiles could not be loaded: the map server may be unreachable.', true);
  });
  tiles.on('tileloadend', () => {
    if (tileErrors && status.className === 'error') say('');
    tileErrors = 0;
  });

  // The points of interest of the categories switched on, drawn by the server over nothing.
  const poiSource = new ImageWMS({
    url: 'wms',
    params: {VERSION: '1.3.0', LAYERS: '', STYLES: '', FORMAT: 'image/png', TRANSPARENT: 'TRUE'},
    projection,
    ratio: 1,
    // On high-density screens OpenLayers asks for the screen's pixels and sends DPI, which
    // the server turns into its drawing scale factor.
    serverType: 'qgis',
    hidpi,
  });
  const poiLayer = new ImageLayer({source: poiSource, visible: false});
  const marks = new VectorSource();
  const markLayer = new VectorLayer({
    source: marks,
    style: new Style({
      image: new Circle({
        radius: 9,
        stroke: new Stroke({color: '#d0021b', width: 3}),
        fill: new Fill({color: 'rgba(208, 2, 27, 0.15)'}),
      }),
    }),
  });

  const view = new View({
    projection,
    resolutions,
    extent: info.extent,
    constrainOnlyCenter: true,
    constrainResolution: true,
  });
  const popup = new Overlay({element: $('popup'), autoPan: {animation: {duration: 200}}});
  const map = new Map({
    target: 'map',
    layers: [new TileLayer({source: tiles}), poiLayer, markLayer],
    view,
    overlays: [popup],
    controls: defaultControls().extend([new ScaleLine({units: 'metric'})]),
  });
  window.kviewer = {map, view, info};

  // ---- the permalink: #map=ZOOM/X/Y in grid metres -----------------------------------------
  function fromHash() {
    const m = /^#map=(\d+)\/(-?[\d.]+)\/(-?[\d.]+)$/.exec(location.hash);
    if (!m) return false;
    view.setZoom(Math.min(Number(m[1]), resolutions.length - 1));
    view.setCenter([Number(m[2]), Number(m[3])]);
    return true;
  }
  // Without a permalink: the whole data set, centred, at the level nearest to the one that
  // just holds it, so that it fills the window rather than a quarter of it at the coarser level.
  if (!fromHash()) view.fit(info.extent, {size: map.getSize(), nearest: true});
  window.addEventListener('hashchange', fromHash);
  map.on('moveend', () => {
    const c = view.getCenter();
    const hash = `#map=${view.getZoom()}/${Math.round(c[0])}/${Math.round(c[1])}`;
    if (location.hash !== hash) history.replaceState(null, '', hash);
  });

  // ---- the pointer's position ---------------------------------------------------------------
  const position = $('position');
  function showPosition(coordinate) {
    const [lon, lat] = transform(coordinate, projection, 'EPSG:4326');
    position.textContent =
      `${crs} x ${Math.round(coordinate[0])} y ${Math.round(coordinate[1])} m · ` +
      `${Math.abs(lat).toFixed(5)}° ${lat >= 0 ? 'N' : 'S'} ${Math.abs(lon).toFixed(5)}° ${lon >= 0 ? 'E' : 'W'}`;
  }
  map.on('pointermove', (e) => showPosition(e.coordinate));
  view.on('change:center', () => showPosition(view.getCenter()));
  showPosition(view.getCenter());

  // ---- click: the road and the points of interest there --------------------------------------
  $('popup').hidden = false;  // placed by the overlay, shown once it has a position
  $('popup-close').onclick = () => popup.setPosition(undefined);
  map.on('singleclick', async (e) => {
    const [x, y] = e.coordinate.map(Math.round);
    const scale = view.getResolution();
    const r = Math.max(1, Math.round(10 * scale));
    const body = $('popup-body');
    body.textContent = 'Looking…';
    popup.setPosition(e.coordinate);
    try {
      const [road, pois] = await Promise.all([
        get(`api/road?x=${x}&y=${y}&scale=${scale}`),
        get(`api/pois?x=${x}&y=${y}&r=${r}`),
      ]);
      const near = pois.items
        .map((p) => ({...p, d: Math.hypot(p.x - x, p.y - y)}))
        .sort((a, b) => a.d - b.d)
        .slice(0, 8);
      let html = '';
      if (road.road) {
        const rd = road.road;
        html +=
          `<h3 class="road">${escapeHtml(rd.name || '(unnamed road)')}</h3>` +
          `<p>District ${rd.district} · type ${rd.type}` +
          (rd.slope === null || rd.slope === undefined ? '' : ` · slope ${Number(rd.slope).toFixed(3)}`) +
          '</p>';
      }
      if (near.length) {
        html +=
          '<ul class="pois">' +
          near
            .map(
              (p) =>
                `<li><b>${escapeHtml(p.name)}</b> <small>${Math.round(p.d)} m</small>` +
                (p.note ? `<br><small>${escapeHtml(p.note)}</small>` : '') +
                '</li>',
            )
            .join('') +
          '</ul>';
      }
      body.innerHTML = html || '<p class="nothing">Nothing found here: no road and no point of interest.</p>';
    } catch (err) {
      body.innerHTML = `<p class="error">${escapeHtml(err.message)}</p>`;
    }
  });

  // ---- search -----------------------------------------------------------------------------
  const results = $('results');
  function goTo(item) {
    marks.clear();
    marks.addFeature(new Feature(new Point([item.x, item.y])));
    view.animate({center: [item.x, item.y], zoom: Math.max(view.getZoom(), resolutions.length - 3), duration: 300});
  }
  $('search').addEventListener('submit', async (e) => {
    e.preventDefault();
    const q = $('query').value.trim();
    results.replaceChildren();
    results.hidden = true;
    if (!q) return;
    say('Searching…');
    try {
      const enc = encodeURIComponent(q);
      const [pois, roads] = await Promise.all([get(`api/pois?name=${enc}`), get(`api/roads?name=${enc}`)]);
      say('');
      const items = [
        ...pois.items.slice(0, 50).map((p) => ({...p, kind: 'place'})),
        ...roads.items.slice(0, 50).map((r) => ({...r, kind: 'road'})),
      ];
      if (!items.length) {
        say(`Nothing is called “${q}”.`);
        return;
      }
      for (const item of items) {
        const li = document.createElement('li');
        const b = document.createElement('button');
        b.type = 'button';
        b.textContent = item.name;
        b.dataset.x = item.x;
        b.dataset.y = item.y;
        const small = document.createElement('small');
        small.textContent = item.kind === 'road' ? ` road, district ${item.district}` : ` ${item.note || 'place'}`;
        b.append(small);
        b.onclick = () => {
          goTo(item);
          results.hidden = true;
        };
        li.append(b);
        results.append(li);
      }
      results.hidden = false;
    } catch (err) {
      say(err.message, true);
    }
  });

  // ---- layers: points of interest by category ---------------------------------------------
  const categories = $('categories');
  for (const c of info.categories) {
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.value = `poi.${c}`;
    box.onchange = updatePois;
    label.append(box, ` Category ${c}`);
    categories.append(label);
  }
  function chosenPois() {
    return [...categories.querySelectorAll('input:checked')].map((b) => b.value);
  }
  function updatePois() {
    const chosen = chosenPois();
    poiSource.updateParams({LAYERS: chosen.join(',')});
    poiLayer.setVisible(chosen.length > 0);
  }

  // ---- download the view ------------------------------------------------------------------
  $('save').onclick = async () => {
    const size = map.getSize();
    const extent = view.calculateExtent(size);
    const format = $('format').value;
    // The server draws maps of at most 4096 pixels a side.
    const factor = Math.max(...size) * downloadFactor <= 4096 ? downloadFactor : 1;
    const params = new URLSearchParams({
      SERVICE: 'WMS',
      VERSION: '1.3.0',
      REQUEST: 'GetMap',
      LAYERS: ['map', ...chosenPois()].join(','),
      STYLES: '',
      CRS: crs,
      BBOX: extent.map((v) => v.toFixed(2)).join(','),
      // On high-density screens twice the pixels, drawn at twice the size (DPI 181.4).
      WIDTH: String(size[0] * factor),
      HEIGHT: String(size[1] * factor),
      FORMAT: format,
    });
    if (factor > 1) params.set('DPI', String(90.7 * factor));
    say('Preparing the image…');
    try {
      const blob = await get(`wms?${params}`, 'blob');
      if (!blob.type.startsWith('image/')) throw new Error(await blob.text());
      const a = document.createElement('a');
      a.href = URL.createObjectURL(blob);
      const c = view.getCenter().map(Math.round);
      a.download = `map-${c[0]}-${c[1]}.${format.split('/')[1]}`;
      document.body.append(a);
      a.click();
      a.remove();
      setTimeout(() => URL.revokeObjectURL(a.href), 10000);
      say('');
    } catch (err) {
      say(err.message, true);
    }
  };

  map.once('rendercomplete', () => {
    document.body.dataset.ready = 'true';
  });
  $('map').focus();
}

start();
