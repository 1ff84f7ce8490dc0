"""test_vector.py: the vector tiles, read by decoders independent of the code that writes them.

  fixture  the fixture data set's tiles decoded byte by byte here (a few lines of protobuf):
           the areas cut at the buffer into simple rings wound as the format wants, a hole
           across the edge, an arch cut into two rings, the pieces of one road joined across a
           tile file's border, labels by resolution, the catalogue above 51 m a pixel, the byte
           limit dropping the points of interest first
  gdal     GDAL's MVT driver reads the fixture's and the sample city's tiles: layers, fields
           with their types, UTF-8 names, and every named road of the data set (kdataset-dump's
           list) in the tiles of a zoom that writes road names
  glyphs   the glyph ranges: metrics, and distance fields whose edge lies at 0.75 * 255

Usage: test_vector.py --fixture PROG --tiles PROG --dump PROG --data DIR --fonts DIR GROUP
"""
import argparse
import glob
import os
import re
import subprocess
import sys
import tempfile

EXTENT = 4096
BUFFER = 64


# ---- a protobuf reader, just enough for the format ----------------------------------------
def varint(b, i):
    result = shift = 0
    while True:
        c = b[i]
        i += 1
        result |= (c & 0x7F) << shift
        shift += 7
        if c < 0x80:
            return result, i


def fields(b):
    """The (field, value) pairs of a message: ints for varints, bytes for lengths."""
    i, out = 0, []
    while i < len(b):
        key, i = varint(b, i)
        field, wire = key >> 3, key & 7
        if wire == 0:
            value, i = varint(b, i)
        elif wire == 2:
            n, i = varint(b, i)
            value, i = b[i:i + n], i + n
        else:
            raise ValueError(f"wire type {wire}")
        out.append((field, value))
    return out


def packed(b):
    i, out = 0, []
    while i < len(b):
        v, i = varint(b, i)
        out.append(v)
    return out


def zigzag(n):
    return (n >> 1) ^ -(n & 1)


def geometry(commands):
    """The parts of a geometry: lists of (x, y); a ClosePath ends a ring."""
    parts, x, y, i = [], 0, 0, 0
    while i < len(commands):
        cid, count = commands[i] & 7, commands[i] >> 3
        i += 1
        if cid == 7:
            continue
        for _ in range(count):
            x += zigzag(commands[i])
            y += zigzag(commands[i + 1])
            i += 2
            if cid == 1:
                parts.append([])
            parts[-1].append((x, y))
    return parts


def decode(path):
    """{layer: [(id, type, {key: value}, parts)]}"""
    layers = {}
    for field, layer in fields(open(path, "rb").read()):
        assert field == 3, field
        f = fields(layer)
        name = next(v for k, v in f if k == 1).decode()
        keys = [v.decode() for k, v in f if k == 3]
        values = []
        for k, v in f:
            if k == 4:
                (vf, vv), = fields(v)
                values.append(vv.decode() if vf == 1 else vv)
        assert dict(f)[5] == EXTENT and dict(f)[15] == 2
        feats = []
        for k, v in f:
            if k != 2:
                continue
            ff = dict(fields(v))
            tags = packed(ff.get(2, b""))
            attrs = {keys[tags[j]]: values[tags[j + 1]] for j in range(0, len(tags), 2)}
            feats.append((ff[1], ff[3], attrs, geometry(packed(ff[4]))))
        layers[name] = feats
    return layers


def area2(ring):
    """Twice the surveyor's area in tile units: positive for exterior rings."""
    return sum(ring[j][0] * ring[i][1] - ring[i][0] * ring[j][1]
               for i, j in zip(range(len(ring)), [len(ring) - 1] + list(range(len(ring) - 1))))


def check(ok, what, detail=""):
    if not ok:
        raise AssertionError(f"{what}: {detail}")
    print(f"ok: {what}")


# ---- groups ------------------------------------------------------------------------------
def fixture_tiles(args, tmp):
    subprocess.run([args.fixture, tmp], check=True)
    return {n: os.path.join(tmp, n + ".mvt") for n in ("B", "C", "K", "limited")}


def group_fixture(args, tmp):
    t = fixture_tiles(args, tmp)
    b = decode(t["B"])
    check(sorted(b) == ["areas", "places", "pois", "roads"], "tile B has its layers", sorted(b))
    rings = {f[0]: f[3] for f in b["areas"]}
    holed, arch = rings[27603000000], rings[27603000001]
    lo = -BUFFER
    check(len(holed) == 1 and sorted(holed[0]) == sorted(
        [(lo, 896), (1600, 896), (1600, 3296), (lo, 3296), (lo, 2496), (400, 2496), (400, 1696),
         (lo, 1696)]), "the area's hole across the buffer's edge becomes a notch", holed)
    check(sorted(sorted(r) for r in arch) == [sorted([(2000, lo), (2400, lo), (2400, 496), (2000, 496)]),
                                            sorted([(3200, lo), (3600, lo), (3600, 496), (3200, 496)])],
          "the arch cut at the buffer is two rings, with no seam between its legs", arch)
    check(all(area2(r) > 0 for parts in rings.values() for r in parts),
          "every exterior ring has a positive area in tile units")
    check(all(lo <= x <= EXTENT + BUFFER and lo <= y <= EXTENT + BUFFER
              for parts in rings.values() for r in parts for x, y in r), "areas end at the buffer")
    names = {f[2]["name"]: f[2] for f in b["places"]}
    check(names.get("PORT", {}).get("kind") == "label" and "HAMLET" not in names,
          "a type 21 label shows at 10 m a pixel, a type 24 label (8 m and below) does not", names)
    check(len(b["pois"]) == 3000 and all(0 <= f[3][0][0][0] < EXTENT for f in b["pois"]),
          "every point of interest inside the tile, none from its buffer", len(b["pois"]))

    c = decode(t["C"])
    roads = [f for f in c["roads"] if f[2]["type"] == 5]
    check(len(roads) == 1 and len(roads[0][3]) == 1, "the road's pieces from two tile files are "
          "one feature of one line", roads)
    line = roads[0][3][0]
    check({line[0][0], line[-1][0]} == {lo, EXTENT + BUFFER} and roads[0][2]["name"] == "中山路"
          and roads[0][2]["code"] == "A1" and roads[0][2]["district"] == 101,
          "the joined road runs from buffer to buffer with its UTF-8 name, code and district",
          roads[0])
    check(len([f for f in c["roads"] if f[2]["type"] == 6]) == 1,
          "a road of another type meeting it there stays a feature of its own")

    k = decode(t["K"])
    check(sorted(k) == ["overview", "places"] and k["places"][0][2] == {"name": "CAPITAL", "kind": "city"},
          "above 51 m a pixel the tile is the catalogue's lines and names", k)
    limited = decode(t["limited"])
    check(os.path.getsize(t["limited"]) <= 4000 and "pois" not in limited and "roads" in limited
          and "areas" in limited, "over the byte limit the points of interest go first",
          (os.path.getsize(t["limited"]), sorted(limited)))


def ogr_layers(path):
    from osgeo import ogr
    ds = ogr.Open(path)
    assert ds is not None, path
    out = {}
    for i in range(ds.GetLayerCount()):
        layer = ds.GetLayer(i)
        defn = layer.GetLayerDefn()
        types = {defn.GetFieldDefn(j).GetName(): defn.GetFieldDefn(j).GetTypeName()
                 for j in range(defn.GetFieldCount())}
        out[layer.GetName()] = (types, [f.items() for f in layer])
    return out


def group_gdal(args, tmp):
    from osgeo import gdal
    gdal.UseExceptions()
    t = fixture_tiles(args, os.path.join(tmp, "fixture"))
    b = ogr_layers(t["B"])
    check(b["roads"][0]["name"] == "String" and b["roads"][0]["type"] == "Integer"
          and b["pois"][0]["category"] == "Integer" and len(b["pois"][1]) == 3000,
          "GDAL reads the fixture's layers with their field types and counts",
          {k: v[0] for k, v in b.items()})
    tiles = os.path.join(tmp, "sample")
    subprocess.run([args.tiles, "--data", args.data, "--zoom", "13-15", "--out", tiles], check=True,
                   stdout=subprocess.DEVNULL)
    expected = {"areas": {"type"}, "lines": {"type"}, "roads": {"type", "district", "code", "name"},
                "overview": set(), "places": {"name", "kind", "type"},
                "pois": {"category", "name", "note", "district"}}
    names, read = set(), 0
    for path in glob.glob(os.path.join(tiles, "*", "*", "*.mvt")):
        if os.path.getsize(path) == 0:
            continue
        layers = ogr_layers(path)
        read += 1
        for name, (types, feats) in layers.items():
            assert set(types) <= expected[name] | {"mvt_id"}, (path, name, types)
            if name == "roads" and path.split(os.sep)[-3] == "15":
                names |= {f["name"] for f in feats if f.get("name")}
    dump = "".join(subprocess.run([args.dump, "--vertices", f], capture_output=True, text=True,
                                  check=True).stdout
                   for f in glob.glob(os.path.join(args.data, "*.dat")))
    named = set(re.findall(r'\[B\] type \d+ vertices (?:[2-9]|\d\d+) .* name \d+ "(.+)"', dump))
    check(read > 100, "GDAL reads every tile of the sample city at zooms 13 to 15", read)
    check(any("\u4e00" <= ch <= "\u9fff" for n in names for ch in n),
          "road names come through as UTF-8 Chinese text")
    check(names == named, "every named road of the data set is in the tiles of zoom 15, by name",
          sorted(names ^ named)[:10])


def group_glyphs(args, tmp):
    stacks = glob.glob(os.path.join(args.fonts, "*"))
    check(len(stacks) == 1 and len(os.listdir(stacks[0])) == 256,
          "one font stack with all 256 ranges of the Basic Multilingual Plane", stacks)
    stack = stacks[0]

    def glyphs(r):
        (f, s), = fields(open(os.path.join(stack, r), "rb").read())
        s = fields(s)
        assert dict(s)[1].decode() == os.path.basename(stack) and dict(s)[2].decode() == r[:-4]
        return {g[1]: g for g in (dict(fields(v)) for k, v in s if k == 3)}

    latin = glyphs("0-255.pbf")
    for ch in "AHgW0":
        g = latin[ord(ch)]
        w, h = g[3], g[4]
        left, top, advance = zigzag(g[5]), zigzag(g[6]), g[7]
        check(4 <= w <= 24 and 8 <= h <= 24 and 8 <= advance <= 24 and -20 <= top <= 0
              and -2 <= left <= 6, f"'{ch}' has the metrics of a 24-pixel glyph",
              (w, h, left, top, advance))
        sdf = g[2]
        check(len(sdf) == (w + 6) * (h + 6), f"'{ch}' has a field with a border of 3 pixels")
        rows = [sdf[y * (w + 6):(y + 1) * (w + 6)] for y in range(h + 6)]
        check(max(rows[0] + rows[-1]) < 191 and max(sdf) > 191 and min(sdf) < 100,
              f"'{ch}' is inside above 0.75 * 255 and outside below it, falling off at the border")
    h = latin[ord("H")]
    w = h[3] + 6
    row = list(h[2][((h[4] + 6) // 2) * w:((h[4] + 6) // 2 + 1) * w])
    check(all(abs(a - b) <= 255 * 1.5 / 8 for a, b in zip(row, row[1:])),
          "across the middle of 'H' the field changes by at most a pixel's step", row)
    check(glyphs("19968-20223.pbf") == {} and len(glyphs("65280-65535.pbf")) > 50,
          "the ideographs are left to the browser's fonts, the full-width forms are drawn")


def main():
    p = argparse.ArgumentParser()
    for opt in ("fixture", "tiles", "dump", "data", "fonts"):
        p.add_argument("--" + opt)
    p.add_argument("group", choices=["fixture", "gdal", "glyphs"])
    args = p.parse_args()
    with tempfile.TemporaryDirectory(prefix="vector-") as tmp:
        globals()["group_" + args.group](args, tmp)
    return 0


if __name__ == "__main__":
    sys.exit(main())
