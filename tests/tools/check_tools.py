#!/usr/bin/python3
"""check_tools.py: the command lines of the project's programs, checked from outside.

- every program answers --help and --version (exit status 0) and refuses a value given to a
  flag with status 2;
- kview writes the format its output's extension names (decoded with Pillow: PNG, GIF, BMP,
  the 8-bit RLE8 BMP, GeoTIFF), the same picture in each, and refuses an unknown extension;
- kview's GeoTIFF and world files place the image where gdalinfo says, in the grid of --crs,
  for a view given in metres, in longitude/latitude (turned into the grid by gdaltransform
  here) and as a bounding box;
- tessera-client refuses arguments outside the D-Bus types in one line with status 2;
- kdataset-dump prints names in UTF-8 (or the stored Big5 with --raw) and counts as counts.

Usage: check_tools.py BIN_DIR APPDIR WORK_DIR
"""
import json
import os
import re
import shutil
import subprocess
import sys

from PIL import Image

CENTRE = (302000, 2770000)
FAILURES = []


def check(cond, what, detail=""):
    print(("ok   " if cond else "FAIL ") + what)
    if not cond:
        FAILURES.append(what)
        if detail:
            print("     " + str(detail).replace("\n", "\n     ")[:3000])


def run(args, **kw):
    return subprocess.run(args, capture_output=True, timeout=120, **kw)


def gdal_placement(path):
    """(geoTransform, CRS WKT) of an image as gdalinfo reads it."""
    r = run(["gdalinfo", "-json", path], text=True)
    if r.returncode != 0:
        return None, r.stderr
    info = json.loads(r.stdout)
    return info.get("geoTransform"), info.get("coordinateSystem", {}).get("wkt", "")


def main():
    bindir, appdir, work = sys.argv[1:4]
    data = os.path.join(appdir, "kgrid")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    kview = os.path.join(bindir, "kview")
    client = ["/usr/bin/python3", os.path.join(bindir, "tessera-client")]
    programs = {
        "kview": [kview], "kimport": [os.path.join(bindir, "kimport")],
        "kdataset-dump": [os.path.join(bindir, "kdataset-dump")],
        "ksample-gen": [os.path.join(bindir, "ksample-gen")],
        "tessera": [os.path.join(appdir, "tessera")], "tessera-client": client,
    }
    for name, command in programs.items():
        if not os.path.exists(command[-1]):
            print("skip %s (not built)" % name)
            continue
        h = run(command + ["--help"], text=True)
        v = run(command + ["--version"], text=True)
        check(h.returncode == 0 and "--help" in h.stdout and v.returncode == 0 and
              v.stdout.startswith(name + " ") and v.stdout.count("\n") == 1,
              name + " answers --help and --version", h.stderr + v.stdout + v.stderr)
    # The manual pages (man/, made by help2man) know every option the programs list.
    mandir = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "man")
    for name, command in programs.items():
        page = os.path.join(mandir, name + ".1")
        if not os.path.exists(command[-1]):
            continue
        text = open(page).read().replace("\\-", "-") if os.path.exists(page) else ""
        helped = set(re.findall(r"(?<![\w-])--[a-z][a-z0-9-]*", run(command + ["--help"],
                                                                        text=True).stdout))
        missing = sorted(o for o in helped if o not in text)
        check(text and not missing, "the manual page of %s lists its options" % name,
              missing or "no page " + page)
    for name, flag in (("kview", "--world-file=1"), ("kdataset-dump", "--raw=yes"),
                       ("ksample-gen", "--quiet=1"), ("kimport", "--replace=1")):
        r = run(programs[name] + [flag, "x"], text=True)
        check(r.returncode == 2 and "takes no value" in r.stderr,
              name + " refuses a value given to a flag", r.stderr)

    # kview: one picture in every format, given with --opt=value.
    view = ["--data=" + data, "--centre=%d,%d" % CENTRE, "--scale=10"]
    pictures = {}
    for ext in ("png", "gif", "bmp", "rle.bmp", "tif"):
        out = os.path.join(work, "view." + ext)
        r = run([kview] + view + ["--output=" + out], text=True)
        if r.returncode != 0 or not os.path.exists(out):
            check(False, "kview writes ." + ext, r.stderr)
            continue
        with Image.open(out) as im:
            want = {"png": ("PNG", "RGB"), "gif": ("GIF", "P"), "bmp": ("BMP", "RGB"),
                    "rle.bmp": ("BMP", "P"), "tif": ("TIFF", "RGB")}[ext]
            ok = (im.format, im.mode) == want and im.size == (356, 276)
            if ext == "rle.bmp":
                ok = ok and im.info.get("compression") == 1  # BI_RLE8
            if ext == "bmp":
                ok = ok and im.info.get("compression") == 0
            pictures[ext] = list(im.convert("RGB").getdata())
        check(ok, "kview writes ." + ext + " as " + "/".join(want))
    if "png" in pictures:
        same = [ext for ext in pictures if pictures[ext] == pictures["png"]]
        check(len(same) == len(pictures) and len(set(pictures["png"])) > 3,
              "every format holds the same picture", same)
    for bad in ("view.jpg", "view"):
        out = os.path.join(work, bad)
        r = run([kview] + view + ["--output", out], text=True)
        check(r.returncode == 2 and "format" in r.stderr and not os.path.exists(out),
              "kview refuses to write " + bad, r.stderr)

    # Placement. The view's top-left corner is the centre less half the view.
    left, top = CENTRE[0] - 1780, CENTRE[1] + 1380
    tif = os.path.join(work, "view.tif")
    transform, wkt = gdal_placement(tif)
    check(transform == [left, 10, 0, top, 0, -10] and "TWD97 / TM2 zone 121" in wkt,
          "the GeoTIFF lies where the view was drawn, in EPSG:3826", (transform, wkt[:200]))
    for ext in ("png", "gif"):
        out = os.path.join(work, "placed." + ext)
        r = run([kview] + view + ["--world-file", "--output", out], text=True)
        transform, wkt = gdal_placement(out) if r.returncode == 0 else (None, r.stderr)
        check(transform == [left, 10, 0, top, 0, -10] and "TWD97" in wkt,
              "a world file places the ." + ext + " image", (transform, wkt[:200]))

    lon, lat = 121.5155, 25.0394
    r = run(["gdaltransform", "-s_srs", "EPSG:4326", "-t_srs", "EPSG:3826"],
            input="%r %r\n" % (lon, lat), text=True)
    x, y = (float(v) for v in r.stdout.split()[:2])
    out = os.path.join(work, "lonlat.tif")
    r = run([kview, "--data", data, "--lonlat", "--centre", "%r,%r" % (lon, lat),
             "--output", out], text=True)
    transform, _ = gdal_placement(out) if r.returncode == 0 else (None, r.stderr)
    check(transform is not None and abs(transform[0] + 1780 - x) <= 1 and
          abs(transform[3] - 1380 - y) <= 1,
          "a longitude/latitude centre lands where gdaltransform puts it", (transform, x, y))

    out = os.path.join(work, "box.tif")
    r = run([kview, "--data", data, "--bbox", "300000,2768000,304000,2771010", "--scale", "20",
             "--output", out], text=True)
    ok = r.returncode == 0
    if ok:
        transform, _ = gdal_placement(out)
        with Image.open(out) as im:
            ok = im.size == (200, 151) and transform == [300000, 20, 0, 2771010, 0, -20]
    check(ok, "a bounding box gives the view's corner and size", r.stderr)
    out = os.path.join(work, "fit.png")
    r = run([kview, "--data", data, "--bbox", "300000,2768000,304000,2771000", "--size",
             "100x100", "--world-file", "--output", out], text=True)
    transform, _ = gdal_placement(out) if r.returncode == 0 else (None, r.stderr)
    check(transform == [300000, 40, 0, 2771500, 0, -40],
          "a bounding box with a size is fitted and centred", transform)

    # tessera-client: arguments outside the D-Bus types.
    for args in (["draw", "302000", "2770000", "10", "A", "99999", "280"],
                 ["test", "1", "x"], ["draw3", "1", "2", "nan", "x.bmp"]):
        r = run(client + args, text=True)
        check(r.returncode == 2 and r.stderr.count("\n") == 1 and "Traceback" not in r.stderr,
              "tessera-client refuses " + " ".join(args) + " in one line", r.stderr)

    # kdataset-dump: UTF-8 names by default, the stored bytes with --raw; counts.
    dump = programs["kdataset-dump"][0]
    tile = os.path.join(data, sorted(f for f in os.listdir(data) if f.endswith(".dat"))[0])
    text = run([dump, tile]).stdout
    raw = run([dump, "--raw", tile]).stdout
    names = re.findall(rb'^  name \d+ "(.*)"$', text, re.M)
    raw_names = re.findall(rb'^  name \d+ "(.*)"$', raw, re.M)
    try:
        ok = bool(names) and [n.decode("utf-8") for n in names] == \
            [n.decode("cp950") for n in raw_names] and any(n != r for n, r in zip(names, raw_names))
    except UnicodeDecodeError as error:
        ok, names = False, error
    check(ok, "kdataset-dump prints names in UTF-8, --raw the stored Big5", names[:3])
    records = len(re.findall(rb"^  record \d+ ", text, re.M))
    counted = re.search(rb"^  records: (\d+)$", text, re.M)
    counted_names = re.search(rb"^  names: (\d+) at", text, re.M)
    check(counted is not None and int(counted.group(1)) == records and
          counted_names is not None and int(counted_names.group(1)) == len(names),
          "kdataset-dump counts records and names as counts", (counted, records))
    check_empty_tiles(bindir, work)
    return 1 if FAILURES else 0


def check_empty_tiles(bindir, work):
    """kimport writes empty tiles between the tiles with data: a view of a square without data
    inside the covered area shows no missing-tile colour; with --no-empty-tiles it does."""
    kimport = os.path.join(bindir, "kimport")
    if not os.path.exists(kimport):
        print("skip empty tiles (kimport is not built)")
        return
    source = os.path.join(work, "two-roads.geojson")
    roads = [[[301000, 2771000], [309000, 2771500]], [[321000, 2791000], [329000, 2791500]]]
    with open(source, "w") as f:
        json.dump({"type": "FeatureCollection",
                   "crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::3826"}},
                   "features": [{"type": "Feature", "properties": {"highway": "primary"},
                                 "geometry": {"type": "LineString", "coordinates": c}}
                                for c in roads]}, f)
    cyan = {}
    for name, extra in (("filled", []), ("holes", ["--no-empty-tiles"])):
        out = os.path.join(work, name)
        r = run([kimport, "-q", source, "-o", out] + extra, text=True)
        png = os.path.join(work, name + ".png")
        v = run([os.path.join(bindir, "kview"), "--data", out, "--centre", "315000,2785000",
                 "--scale", "20", "--size", "200x200", "--output", png], text=True)
        if r.returncode != 0 or v.returncode != 0:
            check(False, "import and view of two distant roads (%s)" % name, r.stderr + v.stderr)
            return
        with Image.open(png) as im:
            cyan[name] = sum(n for n, c in im.convert("RGB").getcolors(1 << 16)
                             if c == (0, 255, 255))
        tiles = sorted(f for f in os.listdir(out) if f.endswith(".dat"))
        cyan[name + " tiles"] = len(tiles)
    check(cyan["filled"] == 0 and cyan["filled tiles"] == 9,
          "empty tiles fill the covered area: no missing-tile squares between the data", cyan)
    check(cyan["holes"] > 0 and cyan["holes tiles"] == 2,
          "--no-empty-tiles writes only the tiles with data", cyan)
    r = run([os.path.join(bindir, "kdataset-dump"), os.path.join(work, "filled")], text=True)
    check(r.returncode == 0 and "tile 278031, sections A 0 B 0 C 0 D 0" in r.stdout,
          "the engine loads the empty tiles", r.stderr + r.stdout[-500:])


if __name__ == "__main__":
    sys.exit(main())
