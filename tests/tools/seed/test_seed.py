"""Checks of kseed from outside: GDAL opens its MBTiles, the sqlite3 program reads their
metadata, the pmtiles npm package (the reader browsers use) reads its PMTiles, and Pillow finds
sampled tiles equal in pixels to the tiles kserve serves at the same addresses; every tile of a
zoom range around data tile borders is kserve's byte for byte.

Run: test_seed.py --kseed BIN --kserve BIN --fixture BIN --data DIR [--node BIN --modules DIR] GROUP
(the pmtiles group needs a node_modules folder holding the pmtiles package)
"""
import argparse
import hashlib
import http.client
import io
import json
import os
import re
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import time

from PIL import Image, ImageChops

ARGS = None
# The sample city at zoom 12 to 14 of the google set, and a box over its north-east, past its
# northern edge (kept to the data set), that cuts metatiles (tiles of partly kept metatiles are
# checked too) and holds blank tiles.
ZOOMS = "12-14"
BBOX = "121.45,25.1,121.75,25.25"


class Kserve:
    """A kserve with one worker, to compare tiles with."""

    def __init__(self):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.proc = subprocess.Popen(
            [ARGS.kserve, "--data", ARGS.data, "--listen", f"127.0.0.1:{self.port}",
             "--workers", "1", "--viewer", ""], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 60
        while time.time() < deadline:
            try:
                if self.get("/healthz")[0] == 200:
                    return
            except OSError:
                time.sleep(0.1)
        raise AssertionError("kserve did not start")

    def get(self, path):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        c.request("GET", path)
        r = c.getresponse()
        body = r.read()
        c.close()
        return r.status, body

    def tile(self, tms, z, x, y):
        status, body = self.get(f"/tiles/{tms}/{z}/{x}/{y}.png")
        assert status == 200, (tms, z, x, y, status)
        return body

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(20)


def kseed(*args, check=True):
    r = subprocess.run([ARGS.kseed, "--data", ARGS.data, *args], capture_output=True, text=True,
                       timeout=600)
    if check:
        assert r.returncode == 0, (args, r.returncode, r.stderr)
    return r


def same_pixels(a, b):
    ia, ib = Image.open(io.BytesIO(a)), Image.open(io.BytesIO(b))
    return ia.size == ib.size and ImageChops.difference(ia.convert("RGBA"), ib.convert("RGBA")).getbbox() is None


def read_pmtiles(path, tiles, out):
    r = subprocess.run([ARGS.node, os.path.join(os.path.dirname(__file__), "read_pmtiles.mjs"),
                        ARGS.modules, path, out, *[f"{z}/{x}/{y}" for z, x, y in tiles]],
                       capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr
    return json.loads(r.stdout)


def sample(rows, count=12):
    """About `count` items spread over `rows`, first and last included."""
    rows = sorted(rows)
    step = max(1, len(rows) // count)
    return rows[::step] + rows[-1:]


def files_in(folder):
    return sorted(os.listdir(folder))


# ---- groups ------------------------------------------------------------------------------


def test_mbtiles(tmp):
    """GDAL and sqlite3 read the archive, its tiles are kserve's (also at --scale 2), and
    --resume adds to it."""
    out = os.path.join(tmp, "city.mbtiles")
    r = kseed("--zoom", ZOOMS, "--bbox", BBOX, "--attribution", "made-up data", "--output", out)
    m = re.search(r"(\d+) tiles drawn .* holds (\d+) tiles, (\d+) distinct", r.stdout)
    assert m, r.stdout
    drawn, held, distinct = map(int, m.groups())
    assert drawn == held > 0 and 0 < distinct < held, r.stdout
    assert files_in(tmp) == ["city.mbtiles"], files_in(tmp)

    info = json.loads(subprocess.run(["gdalinfo", "-json", out], capture_output=True, text=True,
                                     check=True).stdout)
    assert info["driverShortName"] == "MBTiles", info["driverShortName"]
    assert "3857" in info["coordinateSystem"]["wkt"] or "Pseudo-Mercator" in info["coordinateSystem"]["wkt"]
    meta = dict(line.split("|", 1) for line in subprocess.run(
        ["sqlite3", out, "SELECT name || '|' || value FROM metadata"], capture_output=True, text=True,
        check=True).stdout.splitlines())
    west, south, east, north = map(float, BBOX.split(","))
    bounds = list(map(float, meta["bounds"].split(",")))
    assert all(abs(a - b) < 1e-6 for a, b in zip(bounds[:3], (west, south, east))), bounds
    assert 25.2 < bounds[3] < north, bounds  # the data set's northern edge
    north = bounds[3]
    corner = info["cornerCoordinates"]
    # GDAL's raster is the box of the metadata, to a pixel of the highest zoom.
    lon_lat = subprocess.run(["gdaltransform", "-s_srs", "EPSG:3857", "-t_srs", "EPSG:4326", "-output_xy"],
                             input=f"{corner['upperLeft'][0]} {corner['upperLeft'][1]}\n"
                                   f"{corner['lowerRight'][0]} {corner['lowerRight'][1]}\n",
                             capture_output=True, text=True, check=True).stdout.split()
    ul_lon, ul_lat, lr_lon, lr_lat = map(float, lon_lat)
    assert max(abs(ul_lon - west), abs(ul_lat - north), abs(lr_lon - east), abs(lr_lat - south)) < 1e-3, lon_lat
    assert info["size"][0] > 256 and info["size"][1] > 256, info["size"]

    assert meta["name"] == "kgrid" and meta["format"] == "png", meta
    assert (meta["minzoom"], meta["maxzoom"]) == ("12", "14"), meta
    assert meta["attribution"] == "made-up data", meta
    lon, lat, zoom = meta["center"].split(",")
    assert abs(float(lon) - (west + east) / 2) < 1e-6 and 12 <= int(zoom) <= 14, meta["center"]

    db = sqlite3.connect(out)
    rows = db.execute("SELECT zoom_level, tile_column, tile_row FROM tiles").fetchall()
    server = Kserve()
    try:
        for z, x, tms_row in sample(rows):
            y = (1 << z) - 1 - tms_row
            data = db.execute("SELECT tile_data FROM tiles WHERE zoom_level=? AND tile_column=? AND tile_row=?",
                              (z, x, tms_row)).fetchone()[0]
            assert same_pixels(data, server.tile("google", z, x, y)), (z, x, y)
        # --scale 2: 512-pixel tiles equal to kserve's @2x, and an archive of one factor is
        # not added to at another.
        big = os.path.join(tmp, "city@2x.mbtiles")
        kseed("--zoom", "13", "--bbox", BBOX, "--scale", "2", "--output", big)
        db2 = sqlite3.connect(big)
        assert db2.execute("SELECT value FROM metadata WHERE name='scale'").fetchone() == ("2",)
        for z, x, tms_row, data in sample(db2.execute(
                "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles").fetchall(), 3):
            assert Image.open(io.BytesIO(data)).size == (512, 512)
            status, body = server.get(f"/tiles/google/{z}/{x}/{(1 << z) - 1 - tms_row}@2x.png")
            assert status == 200 and same_pixels(data, body), (z, x, tms_row)
        db2.close()
        r = kseed("--zoom", "13", "--bbox", BBOX, "--resume", "--output", big, check=False)
        assert r.returncode == 2 and "scale 2" in r.stderr, r.stderr
        os.remove(big)
    finally:
        server.stop()
        db.close()

    # --resume: what is there is kept and not drawn again; the zooms and bounds are joined.
    before = hashlib.sha256(open(out, "rb").read()).hexdigest()
    r = kseed("--zoom", "12-15", "--bbox", BBOX, "--resume", "--output", out)
    m = re.search(r"(\d+) tiles drawn.*, (\d+) already there; .* holds (\d+) tiles", r.stdout)
    assert m and int(m.group(2)) == held and int(m.group(3)) == held + int(m.group(1)), r.stdout
    meta = dict(line.split("|", 1) for line in subprocess.run(
        ["sqlite3", out, "SELECT name || '|' || value FROM metadata"], capture_output=True, text=True,
        check=True).stdout.splitlines())
    assert (meta["minzoom"], meta["maxzoom"]) == ("12", "15"), meta
    # Nothing more to do: nothing drawn, the archive still whole.
    r = kseed("--zoom", "12-15", "--bbox", BBOX, "--resume", "--output", out)
    assert re.search(r"^kseed: 0 tiles drawn", r.stdout), r.stdout
    assert hashlib.sha256(open(out, "rb").read()).hexdigest() != before
    assert files_in(tmp) == ["city.mbtiles"], files_in(tmp)


def test_interrupt(tmp):
    """Ctrl-C and SIGTERM stop a run and leave no file under the output name, nor the temporary
    one; an archive being added to stays as it was."""
    out = os.path.join(tmp, "big.mbtiles")
    for sig, status in ((signal.SIGINT, 130), (signal.SIGTERM, 143)):
        p = subprocess.Popen([ARGS.kseed, "--data", ARGS.data, "--zoom", "10-17", "--output", out],
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        # Wait until the archive is being written.
        deadline = time.time() + 60
        while time.time() < deadline and not any(".kseed-" in f for f in files_in(tmp)):
            time.sleep(0.05)
        time.sleep(1.0)
        p.send_signal(sig)
        _, err = p.communicate(timeout=60)
        assert p.returncode == status, (sig, p.returncode, err)
        assert "left as it was" in err, err
        assert files_in(tmp) == [], files_in(tmp)

    kseed("--zoom", "10", "--output", out)
    before = open(out, "rb").read()
    p = subprocess.Popen([ARGS.kseed, "--data", ARGS.data, "--zoom", "10-17", "--resume", "--output", out],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    deadline = time.time() + 60
    while time.time() < deadline and not any(".kseed-" in f for f in files_in(tmp)):
        time.sleep(0.05)
    time.sleep(1.0)
    p.send_signal(signal.SIGINT)
    p.communicate(timeout=60)
    assert p.returncode == 130
    assert open(out, "rb").read() == before
    assert files_in(tmp) == ["big.mbtiles"], files_in(tmp)


def test_pmtiles(tmp):
    """The pmtiles package reads the header, metadata and tiles; tiles are kserve's in both sets;
    a large archive's leaf directories, runs and shared contents read back as written."""
    out = os.path.join(tmp, "city.pmtiles")
    kseed("--zoom", ZOOMS, "--bbox", BBOX, "--name", "city", "--output", out)
    db_tiles = []
    # Every tile the box meets, from the XYZ numbering of Web Mercator.
    import math

    def tile_of(lon, lat, z):
        n = 1 << z
        x = int((lon + 180) / 360 * n)
        y = int((1 - math.asinh(math.tan(math.radians(lat))) / math.pi) / 2 * n)
        return x, y

    # The tiles meeting the box, kept to the data set as the header's bounds say.
    h = read_pmtiles(out, [], tmp)["header"]
    west, south, east, north = map(float, BBOX.split(","))
    assert abs(h["minLon"] - west) < 1e-6 and 25.2 < h["maxLat"] < north, h
    for z in range(12, 15):
        x0, y0 = tile_of(h["minLon"], h["maxLat"], z)
        x1, y1 = tile_of(h["maxLon"], h["minLat"], z)
        db_tiles += [(z, x, y) for x in range(x0, x1 + 1) for y in range(y0, y1 + 1)]
    picked = sample(db_tiles) + [(14, x0 - 1, y0), (11, x0 // 8, y0 // 8)]  # outside: absent
    got = read_pmtiles(out, picked, tmp)
    h = got["header"]
    assert h["specVersion"] == 3 and h["tileType"] == 2 and h["clustered"], h
    assert h["internalCompression"] == 2 and h["tileCompression"] == 1, h
    assert (h["minZoom"], h["maxZoom"]) == (12, 14) and 12 <= h["centerZoom"] <= 14, h
    assert h["numAddressedTiles"] == len(db_tiles), (h, len(db_tiles))
    assert h["numTileContents"] < h["numAddressedTiles"], h
    meta = got["metadata"]
    assert meta["name"] == "city" and meta["format"] == "png", meta
    assert meta["kestrel"]["set"] == "GoogleMapsCompatible" and meta["kestrel"]["zoom_offset"] == 0, meta
    assert not got["found"][f"14/{x0 - 1}/{y0}"] and not got["found"][f"11/{x0 // 8}/{y0 // 8}"]

    server = Kserve()
    try:
        for z, x, y in sample(db_tiles):
            assert got["found"][f"{z}/{x}/{y}"], (z, x, y)
            data = open(os.path.join(tmp, f"{z}-{x}-{y}.png"), "rb").read()
            assert same_pixels(data, server.tile("google", z, x, y)), (z, x, y)

        # The native grid: the archive's zoom z holds level z - offset, as the metadata says.
        out = os.path.join(tmp, "native.pmtiles")
        kseed("--set", "native", "--zoom", "2-4", "--output", out)
        got = read_pmtiles(out, [], tmp)
        k = got["metadata"]["kestrel"]
        offset = k["zoom_offset"]
        assert k["set"] == "native" and k["crs"] == "EPSG:3826" and "+proj=tmerc" in k["proj4"], k
        assert (got["header"]["minZoom"], got["header"]["maxZoom"]) == (2 + offset, 4 + offset)
        assert k["resolutions"][2 + offset] == 32 and k["resolutions"][4 + offset] == 8, k
        cols = [int((k["extent"][2] - k["origin"][0]) // (256 * k["resolutions"][z + offset])) for z in range(5)]
        picked = [(4, 0, 0), (4, cols[4], 2), (3, 1, 1), (2, cols[2], 0)]
        got = read_pmtiles(out, [(z + offset, x, y) for z, x, y in picked], tmp)
        for z, x, y in picked:
            data = open(os.path.join(tmp, f"{z + offset}-{x}-{y}.png"), "rb").read()
            assert same_pixels(data, server.tile("native", z, x, y)), (z, x, y)
    finally:
        server.stop()

    # Leaf directories, runs and shared contents: the fixture's tiles say where they are.
    out = os.path.join(tmp, "fixture.pmtiles")
    subprocess.run([ARGS.fixture, out], check=True, timeout=300)

    def fixture_tile(z, x, y):
        if z == 9 and x < 256:
            return b"sea"
        h = (7919 * x + 104729 * y + 31 * z) % 101
        return None if h % 4 == 0 else f"{z}/{x}/{y}".encode() + b"." * h

    every = [(z, x, y) for z in range(10) for x in range(1 << z) for y in range(1 << z)]
    present = [t for t in every if fixture_tile(*t) is not None]
    picked = sample(every, 300) + [(9, 0, 0), (9, 255, 511), (9, 256, 0), (9, 511, 511)]
    got = read_pmtiles(out, picked, tmp)
    h = got["header"]
    assert h["leafDirectoryLength"] > 0 and h["rootDirectoryLength"] + 127 <= 16384, h
    assert h["numAddressedTiles"] == len(present), h
    assert h["numTileContents"] == len(present) - 256 * 512 + 1, h
    assert h["numTileEntries"] == h["numTileContents"], h
    for z, x, y in picked:
        want = fixture_tile(z, x, y)
        assert got["found"][f"{z}/{x}/{y}"] == (want is not None), (z, x, y)
        if want is not None:
            data = open(os.path.join(tmp, f"{z}-{x}-{y}.png"), "rb").read()
            assert data == want, (z, x, y, data)


def test_whole_range(tmp):
    """Every tile of google zoom 15 and of native level 5 around the corner of four of the city's
    10 km data tiles, where roads and names cross their borders, is byte for byte kserve's tile,
    though kserve draws the metatiles in the opposite order, after road queries, with another
    history of its engine's tile cache than kseed's workers. (The native level, which kseed
    writes to PMTiles only, is read with the pmtiles package when it is given.)"""
    out = os.path.join(tmp, "corner.mbtiles")
    kseed("--zoom", "15", "--bbox", "121.48,25.02,121.53,25.06", "--output", out)
    db = sqlite3.connect(out)
    seeded = {(z, x, (1 << z) - 1 - tms_row): data for z, x, tms_row, data in db.execute(
        "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles")}
    db.close()
    native = {}
    if ARGS.modules:
        out = os.path.join(tmp, "corner.pmtiles")
        extent = ["--extent", "298000,2768000,302000,2772000"]
        kseed("--set", "native", "--zoom", "5", *extent, "--output", out)
        listed = kseed("--set", "native", "--zoom", "5", *extent, "--list", "--output",
                       os.path.join(tmp, "none.pmtiles")).stdout.split()
        offset = read_pmtiles(out, [], tmp)["metadata"]["kestrel"]["zoom_offset"]
        tiles = [tuple(map(int, t.split("/"))) for t in listed]
        got = read_pmtiles(out, [(z + offset, x, y) for z, x, y in tiles], tmp)
        for z, x, y in tiles:
            assert got["found"][f"{z + offset}/{x}/{y}"], (z, x, y)
            native[(z, x, y)] = open(os.path.join(tmp, f"{z + offset}-{x}-{y}.png"), "rb").read()
    assert len(seeded) >= 25 and len(native) in (0, 25), (len(seeded), len(native))
    server = Kserve()
    try:
        # Road queries load the four data tiles into kserve's cache north row first, west to
        # east: the reverse of the order in which a view lists them.
        for x, y in ((295000, 2775000), (305000, 2775000), (295000, 2765000), (305000, 2765000)):
            assert server.get(f"/api/road?x={x}&y={y}")[0] == 200
        for tms, tiles in (("google", seeded), ("native", native)):
            for z, x, y in sorted(tiles, reverse=True):
                assert server.tile(tms, z, x, y) == tiles[(z, x, y)], (tms, z, x, y)
    finally:
        server.stop()


def test_arguments(tmp):
    """--help and --version; bad arguments give one line and status 2, and leave no file."""
    for flag in ("--help", "--version"):
        r = subprocess.run([ARGS.kseed, flag], capture_output=True, text=True)
        assert r.returncode == 0 and r.stdout and not r.stderr, (flag, r)
    assert "--zoom" in subprocess.run([ARGS.kseed, "--help"], capture_output=True, text=True).stdout
    out = os.path.join(tmp, "a.mbtiles")
    existing = os.path.join(tmp, "there.mbtiles")
    open(existing, "w").write("x")
    bad = [
        ["--zoom", "19", "--output", out],
        ["--set", "native", "--zoom", "8", "--output", out.replace(".mbtiles", ".pmtiles")],
        ["--zoom", "5-3", "--output", out],
        ["--zoom", "ten", "--output", out],
        ["--zoom", "12", "--bbox", "121.6,25.0,121.5,25.1", "--output", out],
        ["--zoom", "12", "--bbox", "0,0,1,1", "--output", out],
        ["--zoom", "12", "--extent", "0,0,10,10", "--output", out],
        ["--zoom", "12", "--output", "/nonexistent/a.mbtiles"],
        ["--zoom", "12", "--output", "/proc/a.mbtiles"],
        ["--zoom", "12", "--output", os.path.join(tmp, "a.zip")],
        ["--zoom", "12", "--set", "native", "--output", out],
        ["--zoom", "12", "--resume", "--output", out.replace(".mbtiles", ".pmtiles")],
        ["--zoom", "12", "--output", existing],
        ["--zoom", "12", "--scale", "4", "--output", out],
        ["--zoom", "12", "--workers", "0", "--output", out],
        ["--zoom", "12", "--bogus", "--output", out],
        ["--zoom=12", "--quiet=yes", "--output", out],
        ["--zoom", "12"],
    ]
    for args in bad:
        r = kseed(*args, check=False)
        assert r.returncode == 2, (args, r.returncode, r.stderr)
        lines = r.stderr.splitlines()
        assert len(lines) == 1 and lines[0].startswith("kseed: "), (args, r.stderr)
        assert files_in(tmp) == ["there.mbtiles"], (args, files_in(tmp))
    # The '=' form works as the two-argument one.
    r = kseed("--zoom=9", "--workers=1", f"--output={out}")
    assert os.path.exists(out)


def test_vector(tmp):
    """--tiles mvt: GDAL's MBTiles driver reads the layers and fields the metadata lists, the
    pmtiles package reads an MVT archive whose gzip it undoes, GDAL's MVT driver reads its
    tiles (UTF-8 names), and every sampled tile is kserve's .mvt tile; empty tiles are left
    out of both, where kserve answers 204; --scale and a resume onto pictures are refused."""
    import gzip
    from osgeo import gdal
    gdal.UseExceptions()
    mbt, pmt = os.path.join(tmp, "city.mbtiles"), os.path.join(tmp, "city.pmtiles")
    for out in (mbt, pmt):
        r = kseed("--tiles", "mvt", "--zoom", ZOOMS, "--bbox", BBOX, "--output", out)
        assert re.search(r"\d+ vector tiles made .*, (\d+) empty ones left out", r.stdout), r.stdout
    db = sqlite3.connect(mbt)
    meta = dict(db.execute("SELECT name, value FROM metadata"))
    layers = {l["id"]: l["fields"] for l in json.loads(meta["json"])["vector_layers"]}
    assert meta["format"] == "pbf" and {"roads", "pois", "places"} <= set(layers), meta
    rows = db.execute("SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles").fetchall()
    db.close()
    ds = gdal.OpenEx(mbt, gdal.OF_VECTOR)
    assert {ds.GetLayer(i).GetName() for i in range(ds.GetLayerCount())} == set(layers)
    roads = ds.GetLayerByName("roads").GetLayerDefn()
    assert {roads.GetFieldDefn(k).GetName() for k in range(roads.GetFieldCount())} >= {"name", "type"}
    ds = None
    tiles = {(z, x, (1 << z) - 1 - y): gzip.decompress(data) for z, x, y, data in rows}
    picked = sample(tiles)
    got = read_pmtiles(pmt, picked, tmp) if ARGS.modules else None
    if got:
        h = got["header"]
        assert h["tileType"] == 1 and h["tileCompression"] == 2 and h["numAddressedTiles"] == len(tiles), h
        assert got["metadata"]["format"] == "pbf" and got["metadata"]["vector_layers"], got["metadata"]
    server = Kserve()
    try:
        chinese = 0
        for z, x, y in picked:
            status, body = server.get(f"/tiles/google/{z}/{x}/{y}.mvt")
            assert status == 200 and body == tiles[(z, x, y)], (z, x, y, status)
            if got:
                assert open(os.path.join(tmp, f"{z}-{x}-{y}.png"), "rb").read() == body, (z, x, y)
            path = os.path.join(tmp, f"{z}-{x}-{y}.mvt")
            with open(path, "wb") as f:
                f.write(body)
            t = gdal.OpenEx(path, gdal.OF_VECTOR, open_options=[f"X={x}", f"Y={y}", f"Z={z}"])
            for layer in (t.GetLayer(i) for i in range(t.GetLayerCount())):
                d = layer.GetLayerDefn()
                has_name = any(d.GetFieldDefn(k).GetName() == "name" for k in range(d.GetFieldCount()))
                chinese += sum(1 for f in layer if has_name and re.search("[\u4e00-\u9fff]", f.GetField("name") or ""))
            t = None
        assert chinese > 10, chinese
        # The tiles of the box that the archives lack are the empty ones: kserve answers 204.
        planned = kseed("--tiles", "mvt", "--zoom", ZOOMS, "--bbox", BBOX, "--list").stdout.split()
        missing = [tuple(map(int, t.split("/"))) for t in planned]
        missing = [t for t in missing if t not in tiles]
        assert missing and len(missing) + len(tiles) == len(planned), (len(missing), len(tiles))
        for z, x, y in sample(missing, 4):
            assert server.get(f"/tiles/google/{z}/{x}/{y}.mvt")[0] == 204, (z, x, y)
    finally:
        server.stop()
    for args in (["--scale", "2", "--output", os.path.join(tmp, "s.mbtiles")],
                 ["--resume", "--output", mbt]):
        r = kseed("--tiles", "mvt" if "--scale" in args else "png", "--zoom", "12", *args, check=False)
        assert r.returncode == 2 and r.stderr.startswith("kseed: "), (args, r.stderr)


GROUPS = {"mbtiles": test_mbtiles, "interrupt": test_interrupt, "pmtiles": test_pmtiles,
          "whole_range": test_whole_range, "arguments": test_arguments, "vector": test_vector}


def main():
    global ARGS
    p = argparse.ArgumentParser()
    for name in ("kseed", "kserve", "fixture", "data"):
        p.add_argument("--" + name, required=True)
    p.add_argument("--node", default="node")
    p.add_argument("--modules", default="", help="a node_modules folder holding pmtiles")
    p.add_argument("group", choices=sorted(GROUPS))
    ARGS = p.parse_args()
    with tempfile.TemporaryDirectory(prefix="kseed-") as tmp:
        work = os.path.join(tmp, "work")
        os.mkdir(work)
        GROUPS[ARGS.group](work)
    print(f"{ARGS.group}: ok")


if __name__ == "__main__":
    sys.exit(main())
