// The viewer is served by kserve from its own folder: relative asset addresses, no source
// maps, everything bundled (no request leaves for another server).
export default {
  base: './',
  build: { sourcemap: false, chunkSizeWarningLimit: 2000, assetsInlineLimit: 0 },
};
