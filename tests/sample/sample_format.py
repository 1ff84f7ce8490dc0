"""sample_format.py: an independent reader of the data-set files, written from the file layouts
for the sample-data tests. It shares no code with the writer or the engine.

Tile files: a 128-byte header of little-endian int32 fields, then sections A (lines and areas),
B (delta-coded roads), C (named points), D (coded points), the vertex array, the delta stream
and the 20-byte names.
"""
import os
import struct

HEADER_BYTES = 128
NAME_BYTES = 20
POI_INDEX_ENTRIES = 500
POI_INDEX_BYTES = 6000
POI_RECORD_BYTES = 40
POI_NOTE_BYTES = 52

# Header field offsets (int32 each).
H_REC_SIZE, H_A_LAST, H_ANCHOR, H_A_OFF = 8, 12, 16, 20
H_B_LAST, H_B_REC, H_B_OFF = 24, 28, 32
H_C_LAST, H_C_OFF, H_D_LAST, H_D_OFF = 36, 40, 44, 48
H_V_LAST, H_V_OFF, H_DELTA_OFF = 52, 56, 64
H_N_LAST, H_N_OFF = 68, 76
H_ORIGIN_X, H_ORIGIN_Y, H_TILE = 84, 88, 96


class FormatError(Exception):
    pass


class Reader:
    """Bounds-checked little-endian reads over a byte string."""

    def __init__(self, data, what):
        self.data, self.what = data, what

    def i16(self, off):
        return self._unpack("<h", off, 2)

    def i32(self, off):
        return self._unpack("<i", off, 4)

    def i8(self, off):
        return self._unpack("<b", off, 1)

    def bytes(self, off, n):
        if off < 0 or n < 0 or off + n > len(self.data):
            raise FormatError("%s: %d bytes at %d run past the end (%d)" % (self.what, n, off, len(self.data)))
        return self.data[off:off + n]

    def _unpack(self, fmt, off, n):
        return struct.unpack(fmt, self.bytes(off, n))[0]


def c_mod(a, b):
    """Remainder of division truncated toward zero, as C computes it."""
    r = abs(a) % abs(b)
    return -r if a < 0 else r


class Tile:
    """A decoded tile file: lists of features with their world vertices."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.size = os.fstat(f.fileno()).st_size
            data = f.read()
        r = Reader(data, os.path.basename(path))
        r.bytes(0, HEADER_BYTES)
        self.number = r.i32(H_TILE)
        self.origin = (r.i32(H_ORIGIN_X), r.i32(H_ORIGIN_Y))
        rec = r.i32(H_REC_SIZE)
        n_vert = r.i32(H_V_LAST) + 1
        vertices = [(r.i16(r.i32(H_V_OFF) + 4 * i), r.i16(r.i32(H_V_OFF) + 4 * i + 2)) for i in range(n_vert)]
        n_names = r.i32(H_N_LAST) + 1
        self.names = [r.bytes(r.i32(H_N_OFF) + NAME_BYTES * i, NAME_BYTES) for i in range(n_names)]
        self.lines, self.roads, self.places, self.coded = [], [], [], []
        first = 0
        for i in range(r.i32(H_A_LAST) + 1):
            off = r.i32(H_A_OFF) + rec * i
            t, n = r.i16(off), r.i16(off + 2)
            self.lines.append((t, [self.world(v) for v in vertices[first:first + n]]))
            if first + n > n_vert:
                raise FormatError("tile %d: line %d runs past the vertex array" % (self.number, i))
            first += n
        delta = r.i32(H_DELTA_OFF)
        brec = r.i32(H_B_REC)
        for i in range(r.i32(H_B_LAST) + 1):
            off = r.i32(H_B_OFF) + brec * i
            t, x, y, coded = r.i16(off), r.i16(off + 2), r.i16(off + 4), r.i16(off + 6)
            count = coded - (c_mod(x, 100) + c_mod(y, 100) + c_mod(x, 10) * c_mod(y, 10))
            code = r.bytes(off + 8, 4)
            name, district = r.i16(off + 12), r.i16(off + 14)
            pts = [(x, y)]
            for _ in range(count - 1):
                x += r.i8(delta)
                y += r.i8(delta + 1)
                delta += 2
                pts.append((x, y))
            if not 0 <= name < n_names:
                raise FormatError("tile %d: road %d names entry %d of %d" % (self.number, i, name, n_names))
            self.roads.append({"type": t, "points": [self.world(p) for p in pts], "code": code,
                               "name": self.names[name], "district": district})
        anchor = r.i32(H_ANCHOR)
        n = 0
        for i in range(r.i32(H_C_LAST) + 1):
            off = r.i32(H_C_OFF) + rec * i
            at = anchor + 1 + n
            self.places.append((r.i16(off), self.names[r.i16(off + 2)], self.world(vertices[at])))
            n += 1
        for i in range(r.i32(H_D_LAST) + 1):
            off = r.i32(H_D_OFF) + rec * i
            at = anchor + 1 + n
            self.coded.append((r.i16(off), r.bytes(off + 2, 2), self.world(vertices[at])))
            n += 1
        self.file_vertices = n_vert
        self.decoded_vertices = sum(len(rd["points"]) for rd in self.roads)

    def world(self, v):
        return (self.origin[0] + v[0], self.origin[1] + v[1])

    def records(self):
        return len(self.lines) + len(self.roads) + len(self.places) + len(self.coded)


def read_tiles(directory):
    """All tile files of a data set, by tile number taken from the file name."""
    tiles = {}
    for name in sorted(os.listdir(directory)):
        if name.endswith(".dat") and name[:-4].isdigit():
            tiles[int(name[:-4])] = Tile(os.path.join(directory, name))
    return tiles


def read_d4(directory):
    pairs = []
    with open(os.path.join(directory, "d4.txt"), "rb") as f:
        for line in f:
            parts = line.split()
            if len(parts) >= 2 and parts[0].isdigit() and int(parts[0]) >= 100:
                pairs.append((int(parts[0]), int(parts[1])))
    return pairs


def read_pois(directory):
    """(tile, x, y, district, category, note index, name) of every indexed point of interest."""
    with open(os.path.join(directory, "dat44_1.bin"), "rb") as f:
        data = f.read()
    r = Reader(data, "dat44_1.bin")
    pois = []
    for e in range(POI_INDEX_ENTRIES):
        tile, last, off = r.i32(12 * e), r.i32(12 * e + 4), r.i32(12 * e + 8)
        if last < 0 or tile == 0:
            continue
        for k in range(last + 1):
            base = off + POI_RECORD_BYTES * k
            pois.append((tile, r.i16(base), r.i16(base + 2), r.i16(base + 4), r.i16(base + 6), r.i32(base + 8),
                         r.bytes(base + 12, 28)))
    return pois


def read_catalogue(directory):
    """(kind word, name bytes, points) entries of alldist.txt."""
    entries = []
    with open(os.path.join(directory, "alldist.txt"), "rb") as f:
        lines = f.read().split(b"\n")
    i = 0
    while i < len(lines):
        parts = lines[i].split()
        i += 1
        if not parts:
            continue
        if parts[0] == b"pline":
            n = int(parts[1])
            pts = [tuple(int(v) for v in lines[i + k].split()[:2]) for k in range(n)]
            i += n
            entries.append(("pline", b"", pts))
        elif parts[0] in (b"city", b"point", b"poin22"):
            entries.append((parts[0].decode(), parts[1], [(int(parts[2]), int(parts[3]))]))
    return entries
