// The map viewer without a map server: the tiles of a PMTiles archive written by kseed, read
// from any static web server with HTTP range requests (the pmtiles package). The archive is
// named by the page's address, pmtiles.html?archive=URL (relative to the page; default
// map.pmtiles beside it). Where the kserve page asks /api/info for the grid, this one reads
// the same facts from the archive's metadata (its "kestrel" member): the tile set's system and
// PROJ definition, the data set's extent, the tile matrices' origin and resolutions.
// An archive of vector tiles (kseed --tiles mvt) is drawn by OpenLayers from its features, in
// a plain style by layer: areas, lines, roads by type, places and points of interest.
import 'ol/ol.css';
import './style.css';
import Map from 'ol/Map.js';
import View from 'ol/View.js';
import TileLayer from 'ol/layer/Tile.js';
import VectorTileLayer from 'ol/layer/VectorTile.js';
import VectorTileSource from 'ol/source/VectorTile.js';
import MVT from 'ol/format/MVT.js';
import {Circle, Fill, Stroke, Style, Text} from 'ol/style.js';
import TileImage from 'ol/source/TileImage.js';
import TileGrid from 'ol/tilegrid/TileGrid.js';
import TileState from 'ol/TileState.js';
import {ScaleLine, defaults as defaultControls} from 'ol/control.js';
import {register} from 'ol/proj/proj4.js';
import {get as getProjection, transform, transformExtent} from 'ol/proj.js';
import proj4 from 'proj4';
import {PMTiles, TileType} from 'pmtiles';

const $ = (id) => document.getElementById(id);
const status = $('status');

function say(text, isError = false) {
  status.textContent = text;
  status.className = isError ? 'error' : '';
  status.hidden = !text;
}

function escapeHtml(s) {
  return String(s).replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
}

const name = new URLSearchParams(location.search).get('archive') || 'map.pmtiles';

// The grid facts a kseed archive carries; null when the metadata lacks any of them.
function gridOf(metadata) {
  const k = metadata && metadata.kestrel;
  const numbers = (a, n) => Array.isArray(a) && a.length >= n && a.every(Number.isFinite);
  if (!k || typeof k.crs !== 'string' || typeof k.proj4 !== 'string' || !numbers(k.extent, 4) ||
      !numbers(k.origin, 2) || !numbers(k.resolutions, 1) || !Number.isInteger(k.tile_size)) {
    return null;
  }
  return k;
}

// A plain style of the vector tiles' layers (the archive carries no style of its own).
const areaStyle = new Style({fill: new Fill({color: '#cfe8c4'})});
const lineStyle = new Style({stroke: new Stroke({color: '#6fa8dc', width: 1})});
const poiStyle = new Style({image: new Circle({radius: 2, fill: new Fill({color: '#a05a2c'})})});
const roadStyles = {};  // by road type
function vectorStyle(feature) {
  const layer = feature.get('layer');
  if (layer === 'areas') return areaStyle;
  if (layer === 'lines' || layer === 'overview') return lineStyle;
  if (layer === 'pois') return poiStyle;
  if (layer === 'places') {
    return new Style({text: new Text({text: String(feature.get('name') ?? ''),
      font: '12px sans-serif', fill: new Fill({color: '#222'}),
      stroke: new Stroke({color: '#fff', width: 3})})});
  }
  const type = Number(feature.get('type')) || 0;
  roadStyles[type] ??= new Style({stroke: new Stroke({color: type <= 2 ? '#e07b39' : '#888',
    width: type <= 2 ? 3 : type <= 5 ? 2 : 1})});
  return roadStyles[type];
}

// The archive's vector tiles as OpenLayers features (the pmtiles package undoes their gzip).
function vectorSource(archive, projection, tileGrid, metadata) {
  return new VectorTileSource({
    projection,
    tileGrid,
    format: new MVT(),
    wrapX: false,
    attributions: metadata.attribution ? escapeHtml(metadata.attribution) : undefined,
    url: '{z}/{x}/{y}',
    tileLoadFunction(tile, address) {
      const [z, x, y] = address.split('/').map(Number);
      tile.setLoader((extent, resolution, tileProjection) => {
        archive.getZxy(z, x, y).then(
          (found) => {
            const features = found ? tile.getFormat().readFeatures(found.data,
              {extent, featureProjection: tileProjection}) : [];
            tile.setFeatures(features);
          },
          () => tile.setState(TileState.ERROR),
        );
      });
    },
  });
}

async function start() {
  const archive = new PMTiles(new URL(name, location.href).href);
  let header, metadata, grid;
  try {
    header = await archive.getHeader();
    metadata = await archive.getMetadata();
    grid = gridOf(metadata);
  } catch (e) {
    say(`The tile archive ${name} cannot be read (${e.message}). Check that it lies on this web server beside the page, and that the server answers range requests.`, true);
    return;
  }
  const vector = header.tileType === TileType.Mvt;
  if (!grid || (header.tileType !== TileType.Png && !vector)) {
    say(`${name} is not a tile archive written by kseed: its metadata does not say where its tiles lie.`, true);
    return;
  }

  if (grid.crs !== 'EPSG:3857') {
    proj4.defs(grid.crs, grid.proj4);
    register(proj4);
  }
  const projection = getProjection(grid.crs);
  // The archive's zooms hold the resolutions listed, from zoom 0; only its own are asked for.
  const tileGrid = new TileGrid({
    origin: grid.origin,
    resolutions: grid.resolutions,
    tileSize: grid.tile_size,
    extent: grid.extent,
    minZoom: header.minZoom,
  });
  const tiles = vector ? vectorSource(archive, projection, tileGrid, metadata) : new TileImage({
    projection,
    tileGrid,
    wrapX: false,
    attributions: metadata.attribution ? escapeHtml(metadata.attribution) : undefined,
    tileUrlFunction: ([z, x, y]) => `${z}/${x}/${y}`,
    tileLoadFunction(tile, address) {
      const [z, x, y] = address.split('/').map(Number);
      archive.getZxy(z, x, y).then(
        (found) => {
          if (!found) {
            tile.setState(TileState.EMPTY);  // outside the area seeded
            return;
          }
          const url = URL.createObjectURL(new Blob([found.data], {type: 'image/png'}));
          const image = tile.getImage();
          image.addEventListener('load', () => URL.revokeObjectURL(url), {once: true});
          image.addEventListener('error', () => URL.revokeObjectURL(url), {once: true});
          image.src = url;
        },
        () => tile.setState(TileState.ERROR),
      );
    },
  });
  let tileErrors = 0;
  tiles.on('tileloaderror', () => {
    tileErrors += 1;
    say(`Some map tiles could not be read from ${name}: the web server may be unreachable.`, true);
  });
  tiles.on('tileloadend', () => {
    if (tileErrors && status.className === 'error') say('');
    tileErrors = 0;
  });

  // The view zooms over the archive's zooms only: its zoom 0 is the archive's first (the
  // address bar and window.kviewer.zoom() give the archive's zooms).
  const first = Math.min(header.minZoom, grid.resolutions.length - 1);
  const view = new View({
    projection,
    resolutions: grid.resolutions.slice(first, header.maxZoom + 1),
    extent: grid.extent,
    constrainOnlyCenter: true,
    constrainResolution: true,
  });
  const map = new Map({
    target: 'map',
    layers: [vector ? new VectorTileLayer({source: tiles, style: vectorStyle, declutter: true})
      : new TileLayer({source: tiles})],
    view,
    controls: defaultControls().extend([new ScaleLine({units: 'metric'})]),
  });
  window.kviewer = {map, view, header, grid, zoom: () => view.getZoom() + first};

  // The permalink, as on the kserve page: #map=ZOOM/X/Y in the tile set's system. Without
  // one the page shows the area seeded (the header's bounds).
  function fromHash() {
    const m = /^#map=(\d+)\/(-?[\d.]+)\/(-?[\d.]+)$/.exec(location.hash);
    if (!m) return false;
    view.setZoom(Number(m[1]) - first);
    view.setCenter([Number(m[2]), Number(m[3])]);
    return true;
  }
  if (!fromHash()) {
    const area = transformExtent([header.minLon, header.minLat, header.maxLon, header.maxLat],
      'EPSG:4326', projection);
    view.fit(area, {size: map.getSize()});
  }
  window.addEventListener('hashchange', fromHash);
  map.on('moveend', () => {
    const c = view.getCenter();
    const hash = `#map=${view.getZoom() + first}/${Math.round(c[0])}/${Math.round(c[1])}`;
    if (location.hash !== hash) history.replaceState(null, '', hash);
  });

  const position = $('position');
  function showPosition(coordinate) {
    const [lon, lat] = transform(coordinate, projection, 'EPSG:4326');
    position.textContent =
      `${grid.crs} x ${Math.round(coordinate[0])} y ${Math.round(coordinate[1])} m · ` +
      `${Math.abs(lat).toFixed(5)}° ${lat >= 0 ? 'N' : 'S'} ${Math.abs(lon).toFixed(5)}° ${lon >= 0 ? 'E' : 'W'}`;
  }
  map.on('pointermove', (e) => showPosition(e.coordinate));
  view.on('change:center', () => showPosition(view.getCenter()));
  showPosition(view.getCenter());

  map.once('rendercomplete', () => {
    document.body.dataset.ready = 'true';
  });
  $('map').focus();
}

start();
