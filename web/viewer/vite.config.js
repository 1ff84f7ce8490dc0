// The viewer is served by kserve from its own folder: relative asset addresses, no source
// maps, everything bundled (no request leaves for another server). Two pages: the viewer
// (index.html) and OpenLayers on the OGC API tiles (ogcapi-tiles.html).
export default {
  base: './',
  build: {
    sourcemap: false,
    chunkSizeWarningLimit: 2000,
    assetsInlineLimit: 0,
    rollupOptions: {input: {main: 'index.html', ogcapi: 'ogcapi-tiles.html'}},
  },
};
