// read_pmtiles.mjs: reads a PMTiles archive with the pmtiles npm package (the reader that
// browsers use), for the checks in test_seed.py.
//
//   node read_pmtiles.mjs MODULES ARCHIVE OUT_DIR [Z/X/Y ...]
//
// MODULES is a node_modules folder holding pmtiles. Prints one JSON object: the header, the
// metadata, and for each Z/X/Y whether the archive has it; the tiles found are written to
// OUT_DIR/Z-X-Y.png.
import {createRequire} from 'node:module';
import {open, writeFile} from 'node:fs/promises';
import {join} from 'node:path';

const [modules, archive, out, ...wanted] = process.argv.slice(2);
const {PMTiles} = createRequire(join(modules, '/'))('pmtiles');

// The archive on disk, read by ranges as a web server would answer them.
class DiskSource {
  constructor(file) { this.file = file; }
  getKey() { return archive; }
  async getBytes(offset, length) {
    const buffer = Buffer.alloc(length);
    const {bytesRead} = await this.file.read(buffer, 0, length, offset);
    const data = buffer.buffer.slice(buffer.byteOffset, buffer.byteOffset + bytesRead);
    return {data};
  }
}

const file = await open(archive, 'r');
try {
  const p = new PMTiles(new DiskSource(file));
  const header = await p.getHeader();
  const metadata = await p.getMetadata();
  const found = {};
  for (const zxy of wanted) {
    const [z, x, y] = zxy.split('/').map(Number);
    const tile = await p.getZxy(z, x, y);
    found[zxy] = Boolean(tile);
    if (tile) await writeFile(join(out, `${z}-${x}-${y}.png`), Buffer.from(tile.data));
  }
  process.stdout.write(JSON.stringify({header, metadata, found}) + '\n');
} finally {
  await file.close();
}
