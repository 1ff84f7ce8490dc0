// The viewer is served by kserve from its own folder: relative asset addresses, no source
// maps, everything bundled (no request leaves for another server). Every page of the folder
// (index.html, ogcapi-tiles.html, pmtiles.html, vector.html) is an entry of its own. Workers
// (MapLibre's, for vector.html) are bundled as ES modules, as MapLibre starts them.
import {readdirSync} from 'node:fs';
import {fileURLToPath} from 'node:url';

const here = fileURLToPath(new URL('.', import.meta.url));
const pages = Object.fromEntries(readdirSync(here)
  .filter((f) => f.endsWith('.html'))
  .map((f) => [f.slice(0, -5), here + f]));

export default {
  base: './',
  worker: {format: 'es'},
  build: {
    sourcemap: false, chunkSizeWarningLimit: 2000, assetsInlineLimit: 0,
    rollupOptions: { input: pages },
  },
};
