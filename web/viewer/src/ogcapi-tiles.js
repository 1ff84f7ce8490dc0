// A second page: OpenLayers on the map's OGC API tiles. OGCMapTile reads the tile set at
// /ogcapi/collections/map/map/tiles/WebMercatorQuad, its tile matrix set and its limits, and
// asks for the tiles that the tile set's template names. The view starts on the data set
// as its TileJSON says (bounds and centre in longitude and latitude).
import 'ol/ol.css';
import Map from 'ol/Map.js';
import View from 'ol/View.js';
import TileLayer from 'ol/layer/Tile.js';
import OGCMapTile from 'ol/source/OGCMapTile.js';
import {fromLonLat} from 'ol/proj.js';

const here = new URL('./', location.href);
const source = new OGCMapTile({
  url: new URL('ogcapi/collections/map/map/tiles/WebMercatorQuad', here).href,
});
let loaded = 0;
source.on('tileloadend', () => {
  loaded += 1;
  if (loaded >= 4) document.body.dataset.ready = 'true';
});
const map = new Map({target: 'map', layers: [new TileLayer({source})]});
window.kogcapi = {map, source};
fetch(new URL('tiles/google.json', here)).then((r) => r.json()).then((tilejson) => {
  const [lon, lat, zoom] = tilejson.center;
  map.setView(new View({center: fromLonLat([lon, lat]), zoom}));
});
