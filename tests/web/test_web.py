"""Checks of kserve with real clients: curl and raw sockets for the protocol, GDAL's WMS,
WMTS, OAPIF and OGCAPI drivers for the OGC interfaces, Pillow for every image, kview and the engine's own BMP
export as the reference pictures, and Debian's nginx in front of two hosts.

Run: test_web.py --kserve BIN --kview BIN --bmpref BIN --data DIR GROUP
"""
import argparse
import concurrent.futures
import gzip
import http.client
import io
import json
import math
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import urllib.parse
import xml.etree.ElementTree as ET

from osgeo import ogr, osr
from PIL import Image, ImageChops, ImageStat

ARGS = None
# A view of the sample city, as kview's --top-left and --scale give it.
LEFT, TOP, SCALE, W, H = 297674, 2773994, 20, 356, 276
BBOX = f"{LEFT},{TOP - H * SCALE},{LEFT + W * SCALE},{TOP}"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """One kserve host on a loopback port, its log in a file."""

    def __init__(self, workers=2, extra=()):
        self.port = free_port()
        self.log = tempfile.NamedTemporaryFile(prefix="kserve-", suffix=".log", delete=False)
        self.proc = subprocess.Popen(
            [ARGS.kserve, "--data", ARGS.data, "--listen", f"127.0.0.1:{self.port}",
             "--workers", str(workers), *extra], stdout=self.log, stderr=self.log)
        deadline = time.time() + 60
        while time.time() < deadline and self.proc.poll() is None:
            try:
                if self.get("/healthz")[0] == 200:
                    return
            except OSError:
                time.sleep(0.1)
        raise AssertionError("kserve did not start: " + self.log_text())

    def url(self, path):
        return f"http://127.0.0.1:{self.port}{path}"

    def get(self, path, headers=None):
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=60)
        c.request("GET", path, headers=headers or {})
        r = c.getresponse()
        body = r.read()
        c.close()
        return r.status, dict(r.getheaders()), body

    def workers(self):
        out = subprocess.run(["ps", "-o", "pid=", "--ppid", str(self.proc.pid)],
                             capture_output=True, text=True).stdout
        return sorted(int(p) for p in out.split())

    def log_text(self):
        with open(self.log.name, errors="replace") as f:
            return f.read()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                return self.proc.wait(20)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                raise AssertionError("kserve did not stop on SIGTERM")
        return self.proc.returncode


def wms(version="1.3.0", **kv):
    base = {"SERVICE": "WMS", "VERSION": version}
    base.update(kv)
    return "/wms?" + urllib.parse.urlencode(base, safe=",:/")


def getmap(version="1.3.0", **kv):
    p = {"REQUEST": "GetMap", "LAYERS": "map", "STYLES": "", "WIDTH": W, "HEIGHT": H,
         "FORMAT": "image/png", "BBOX": BBOX, ("CRS" if version == "1.3.0" else "SRS"): "EPSG:3826"}
    p.update(kv)
    return wms(version, **p)


def image(body):
    return Image.open(io.BytesIO(body))


def same_pixels(a, b):
    return ImageChops.difference(a.convert("RGB"), b.convert("RGB")).getbbox() is None


def kview_picture(tmp, left=LEFT, top=TOP, scale=SCALE, size=(W, H), factor=1):
    out = os.path.join(tmp, "kview.png")
    subprocess.run([ARGS.kview, "--data", ARGS.data, "--top-left", f"{left},{top}", "--scale",
                    str(scale), "--size", f"{size[0]}x{size[1]}", "--scale-factor", str(factor),
                    "--output", out], check=True)
    return Image.open(out)


def inked(im):
    """The pixels of a map picture that are not its white background."""
    rgb = im.convert("RGB")
    return sum(n for n, c in rgb.getcolors(1 << 20) if c != (255, 255, 255))


def exception_code(body):
    root = ET.fromstring(body)
    for e in root.iter():
        if e.tag.endswith("ServiceException") or e.tag.endswith("}Exception") or e.tag == "Exception":
            return e.get("code") or e.get("exceptionCode")
    raise AssertionError(body)


def every_feature(s, path):
    """The features of an OGC API items address, every page by its next links."""
    found, pages = [], 0
    while path:
        page = json.loads(s.get(path)[2])
        found += page["features"]
        nxt = [l["href"] for l in page["links"] if l["rel"] == "next"]
        path = nxt[0][len(s.url("")):] if nxt else None
        pages += 1
        assert pages < 500, path
    return found


def osr_crs(name):
    """A coordinate system of GDAL's, x east and y north."""
    crs = osr.SpatialReference()
    crs.SetFromUserInput(name)
    crs.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)
    return crs


def like_png(jpeg_body, png_body, what):
    """A JPEG answer is the PNG's picture, opaque, within what JPEG's quality loses: on average
    a few levels of 255 (6 on a dense map), nowhere half the scale (the map shifted by one
    pixel differs by 38 on average and 255 at places)."""
    jpeg = image(jpeg_body)
    assert jpeg.format == "JPEG" and jpeg.mode == "RGB", what
    png = image(png_body).convert("RGBA")
    flat = Image.new("RGBA", png.size, (255, 255, 255, 255))
    flat.alpha_composite(png)
    diff = ImageChops.difference(jpeg, flat.convert("RGB"))
    mean = sum(ImageStat.Stat(diff).mean) / 3
    assert jpeg.size == png.size and mean < 10 and max(hi for _, hi in diff.getextrema()) < 128, (what, mean)


def pytest_approx(v, rel=1e-9):
    """A value that equals any number within `rel` of v."""
    class Approx:
        def __eq__(self, other):
            return abs(other - v) <= rel * abs(v)
        def __repr__(self):
            return f"~{v}"
    return Approx()


def gdal(*cmd):
    r = subprocess.run(list(cmd), capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, (cmd, r.stdout, r.stderr)
    return r.stdout


# ---- groups ------------------------------------------------------------------------------


def check_environment(tmp):
    """KSERVE_* variables set the options the command line leaves out; the command line wins;
    a bad value is refused naming its variable; /livez answers."""
    env = dict(os.environ, KSERVE_DATA=ARGS.data, KSERVE_WORKERS="1",
               KSERVE_PUBLIC_URL="http://env.test", KSERVE_VIEWER="")
    bad = subprocess.run([ARGS.kserve], env=dict(env, KSERVE_WORKERS="0"), capture_output=True,
                         text=True)
    assert bad.returncode == 2 and "KSERVE_WORKERS" in bad.stderr, bad.stderr
    for extra, address in (([], "http://env.test"), (["--public-url", "http://cli.test"], "http://cli.test")):
        port = free_port()
        with open(tmp + "/env.log", "w") as log:
            p = subprocess.Popen([ARGS.kserve, "--listen", f"127.0.0.1:{port}", *extra], env=env,
                                 stdout=log, stderr=log)
        try:
            deadline = time.time() + 60
            while True:
                try:
                    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
                    c.request("GET", "/livez")
                    r = c.getresponse()
                    assert (r.status, r.read()) == (200, b"ok\n")
                    break
                except OSError:
                    assert time.time() < deadline and p.poll() is None, open(tmp + "/env.log").read()
                    time.sleep(0.1)
            c.request("GET", "/wmts/1.0.0/WMTSCapabilities.xml")
            assert address + "/wmts" in c.getresponse().read().decode()
            assert "with 1 workers" in open(tmp + "/env.log").read()
        finally:
            p.terminate()
            p.wait(timeout=30)


def test_process(s, tmp):
    """Command line, keep-alive, limits, slow clients, log lines, worker restarts, SIGHUP and
    SIGTERM."""
    out = subprocess.run([ARGS.kserve, "--help"], capture_output=True, text=True)
    assert out.returncode == 0 and "--listen" in out.stdout and "--workers" in out.stdout
    assert subprocess.run([ARGS.kserve, "--version"], capture_output=True, text=True).stdout.startswith("kserve ")
    for bad in (["--workers", "0"], ["--listen", "nowhere"], ["--crs", "EPSG:0"], ["--bogus"]):
        assert subprocess.run([ARGS.kserve, *bad], capture_output=True).returncode == 2, bad
    r = subprocess.run([ARGS.kserve, "--data", tmp + "/", "--listen", "127.0.0.1:0", "--workers", "1"],
                       capture_output=True, text=True, timeout=60)
    assert r.returncode == 1 and "could not load" in r.stderr, r.stderr
    check_environment(tmp)

    # Keep-alive: several requests on one connection.
    c = http.client.HTTPConnection("127.0.0.1", s.port, timeout=30)
    for _ in range(3):
        c.request("GET", "/healthz")
        resp = c.getresponse()
        assert resp.status == 200 and resp.read() == b"ok\n"
    c.close()

    def raw(data, wait=10):
        with socket.create_connection(("127.0.0.1", s.port), timeout=wait) as k:
            k.sendall(data)
            got = b""
            try:
                while chunk := k.recv(65536):
                    got += chunk
            except socket.timeout:
                pass
            return got

    assert raw(b"GET / HTTP/1.1\r\nHost: x\r\nX-Big: " + b"a" * 20000 + b"\r\n\r\n").startswith(b"HTTP/1.1 431")
    assert raw(b"POST /wms HTTP/1.1\r\nHost: x\r\nContent-Length: 100000\r\n\r\n").startswith(b"HTTP/1.1 413")
    assert raw(b"NONSENSE\r\n\r\n").startswith(b"HTTP/1.1 400")
    assert raw(b"GET /%zz HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n").startswith(b"HTTP/1.1 400")
    # A slow client (the server runs with --timeout 2) is let go, and the worker serves on.
    start = time.time()
    assert raw(b"GET /healthz HTTP/1.1\r\nHost: x\r\n", wait=20) == b""
    assert time.time() - start < 10
    assert s.get("/healthz")[0] == 200

    # A request that tries to forge a log line stays on one line.
    raw(b'GET /healthz?a="\\\xe4\xb8\xad HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n')
    raw(b"GET /healthz?\r\nforged HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")
    time.sleep(0.3)
    lines = s.log_text().splitlines()
    assert not any(line.startswith("forged") for line in lines)
    clf = re.compile(r'^\S+ - - \[[^\]]+\] "(?:[^"\\]|\\x[0-9A-F]{2})*" \d{3} (?:\d+|-) \d+$')
    logged = [line for line in lines if not line.startswith("kserve:")]
    assert logged and all(clf.match(line) for line in logged), [l for l in logged if not clf.match(l)]
    assert any('/healthz?a=\\x22\\x5C\\xE4\\xB8\\xAD HTTP/1.1" 200' in line for line in logged)

    # A worker killed is replaced; the service keeps answering; the restart is counted.
    before = s.workers()
    assert len(before) == 2
    os.kill(before[0], signal.SIGKILL)
    deadline = time.time() + 10
    while time.time() < deadline and (len(s.workers()) != 2 or before[0] in s.workers()):
        time.sleep(0.1)
    assert len(s.workers()) == 2 and before[0] not in s.workers()
    assert s.get("/healthz")[0] == 200
    metrics = s.get("/metrics")[2].decode()
    assert re.search(r"^kserve_worker_restarts_total 1$", metrics, re.M), metrics
    assert re.search(r'^kserve_requests_total\{code="2xx"\} [1-9]', metrics, re.M)
    assert "kserve_request_duration_seconds_bucket{le=\"+Inf\"}" in metrics

    # SIGHUP: all workers replaced, none lost.
    before = s.workers()
    s.proc.send_signal(signal.SIGHUP)
    deadline = time.time() + 30
    while time.time() < deadline and (set(s.workers()) & set(before) or len(s.workers()) != 2):
        time.sleep(0.1)
    assert len(s.workers()) == 2 and not set(s.workers()) & set(before)
    assert s.get("/healthz")[0] == 200
    assert s.stop() == 0
    assert s.workers() == []


def test_wms_capabilities(s, tmp):
    """GetCapabilities in both versions, read by GDAL; every bad parameter gets its exception."""
    for version in ("1.3.0", "1.1.1"):
        status, headers, body = s.get(wms(version, REQUEST="GetCapabilities"))
        assert status == 200
        root = ET.fromstring(body)
        assert root.get("version") == version
        names = [e.text for e in root.iter() if e.tag.endswith("Name")]
        assert "map" in names and "poi" in names
        formats = [e.text for e in root.iter() if e.tag.endswith("GetMap") for e in e if e.tag.endswith("Format")]
        assert formats == ["image/png", "image/gif", "image/jpeg", "image/bmp"], formats
        out = gdal("gdalinfo", f"WMS:{s.url('/wms')}?SERVICE=WMS&VERSION={version}&REQUEST=GetCapabilities")
        assert "LAYERS=map" in out and "LAYERS=poi" in out, out
        # Each layer opened as the capabilities list it: GDAL asks for JPEG where a layer is
        # opaque, PNG where it is not.
        for layer in re.findall(r"SUBDATASET_\d+_NAME=(.*)", out)[:2]:
            gdal("gdal_translate", "-q", "-outsize", "64", "64", layer, os.path.join(tmp, "layer.tif"))
    assert re.search(r'GET /wms\?[^"]*format=image/jpeg[^"]*" 200 ', s.log_text()), "GDAL asked for no JPEG"
    bad = [
        ({"REQUEST": None}, "MissingParameterValue"),
        ({"REQUEST": "GetSomething"}, "OperationNotSupported"),
        ({"LAYERS": "roads"}, "LayerNotDefined"),
        ({"LAYERS": None}, "MissingParameterValue"),
        ({"STYLES": "fancy"}, "StyleNotDefined"),
        ({"CRS": "EPSG:2154"}, "InvalidCRS"),
        ({"FORMAT": "image/tiff"}, "InvalidFormat"),
        ({"BBOX": "3,2,1,4"}, "InvalidParameterValue"),
        ({"BBOX": "a,b,c,d"}, "InvalidParameterValue"),
        ({"BBOX": "1,2,3"}, "InvalidParameterValue"),
        ({"WIDTH": "0"}, "InvalidParameterValue"),
        ({"WIDTH": "-5"}, "InvalidParameterValue"),
        ({"HEIGHT": "4097"}, "InvalidParameterValue"),
        ({"WIDTH": "12abc"}, "InvalidParameterValue"),
        ({"BBOX": "0,0,1e12,1e12"}, "InvalidParameterValue"),
        ({"BBOX": "300000,2770000,300000.001,2770000.001"}, "InvalidParameterValue"),
        ({"TRANSPARENT": "maybe"}, "InvalidParameterValue"),
        ({"VERSION": "9.9"}, "InvalidParameterValue"),
        ({"FORMAT": "image/bmp", "CRS": "EPSG:3857", "BBOX": "13520000,2860000,13530000,2870000"},
         "InvalidParameterValue"),
    ]
    for change, code in bad:
        version = change.get("VERSION", "1.3.0")
        params = dict(REQUEST="GetMap", LAYERS="map", STYLES="", CRS="EPSG:3826", BBOX=BBOX,
                      WIDTH=W, HEIGHT=H, FORMAT="image/png", VERSION=version)
        params.update(change)
        params = {k: v for k, v in params.items() if v is not None}
        params.setdefault("SERVICE", "WMS")
        status, headers, body = s.get("/wms?" + urllib.parse.urlencode(params, safe=",:/"))
        assert status == 400 and headers["Content-Type"].startswith("text/xml"), (change, status)
        assert exception_code(body) == code, (change, body)
    # 1.1.1 names the coordinate system SRS and its code InvalidSRS.
    status, _, body = s.get(getmap("1.1.1", SRS="EPSG:9999999"))
    assert status == 400 and exception_code(body) == "InvalidSRS"
    assert s.get("/wms?REQUEST=GetMap&%zz=1")[0] == 400
    # A key repeated with another value is in doubt: refused; with the same value, one key.
    status, _, body = s.get(getmap() + "&width=100")
    assert status == 400 and b"WIDTH is given twice" in body, body
    assert s.get("/wms?SERVICE=WMS&" + getmap()[5:])[0] == 200


def test_wms_getmap(s, tmp):
    """The native map is kview's picture in PNG, GIF and BMP (the engine's export byte for
    byte); transparency; georeferencing through GDAL; EPSG:3857 and EPSG:4326 by warping."""
    reference = kview_picture(tmp)
    status, headers, body = s.get(getmap())
    assert status == 200 and headers["Content-Type"] == "image/png"
    png = image(body)
    assert png.mode == "P" and png.size == (W, H) and same_pixels(png, reference)
    # The 1.1.1 form and GIF give the same picture.
    status, headers, body = s.get(getmap("1.1.1", FORMAT="image/gif"))
    assert status == 200 and headers["Content-Type"] == "image/gif"
    assert image(body).format == "GIF" and same_pixels(image(body), reference)
    # BMP: the engine's own RLE8 export of the view.
    ref = os.path.join(tmp, "ref.bmp")
    subprocess.run([ARGS.bmpref, ARGS.data, str(LEFT), str(TOP), str(W), str(H), str(SCALE), ref], check=True)
    status, headers, body = s.get(getmap(FORMAT="image/bmp"))
    assert status == 200 and headers["Content-Type"] == "image/bmp"
    assert body == open(ref, "rb").read()
    assert image(body).info.get("compression") == 1 and same_pixels(image(body), reference)
    # TRANSPARENT: the background is transparent, everything drawn keeps its colour.
    t = image(s.get(getmap(TRANSPARENT="TRUE"))[2]).convert("RGBA")
    ref_rgb = reference.convert("RGB")
    clear = drawn = 0
    for y in range(0, H, 3):
        for x in range(0, W, 3):
            r, g, b, a = t.getpixel((x, y))
            if a == 0:
                clear += 1
            else:
                drawn += 1
                assert (r, g, b) == ref_rgb.getpixel((x, y))
    assert clear > 0 and drawn > 0
    # BGCOLOR paints the background.
    bg = image(s.get(getmap(BGCOLOR="0x102030"))[2]).convert("RGB")
    assert (16, 32, 48) in [c for _, c in bg.getcolors(1000)]
    # JPEG: the same map, opaque; TRANSPARENT=TRUE gives the map on BGCOLOR, as JPEG has no
    # transparency; warped maps too.
    for change in [{}, {"TRANSPARENT": "TRUE"}, {"CRS": "EPSG:3857", "BBOX": "13520000,2860000,13530000,2870000"}]:
        status, headers, body = s.get(getmap(FORMAT="image/jpeg", **change))
        assert status == 200 and headers["Content-Type"] == "image/jpeg", (change, body[:300])
        like_png(body, s.get(getmap(**{**change, "TRANSPARENT": "FALSE"}))[2], change)
    # Different x and y scales stretch the map to the size asked for.
    status, _, body = s.get(getmap(WIDTH=W, HEIGHT=H * 2))
    assert status == 200 and image(body).size == (W, H * 2)

    # GDAL's WMS driver: fetch a map, check its georeferencing.
    out = os.path.join(tmp, "gdal.tif")
    gdal("gdal_translate", "-q", "-outsize", "512", "512",
         f"WMS:{s.url('/wms')}?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&CRS=EPSG:3826"
         f"&BBOX=296000,2766000,306240,2776240&FORMAT=image/png", out)
    info = json.loads(gdal("gdalinfo", "-json", out))
    assert info["size"] == [512, 512]
    gt = info["geoTransform"]
    assert abs(gt[0] - 296000) < 1e-6 and abs(gt[3] - 2776240) < 1e-6 and abs(gt[1] - 20) < 1e-9
    assert "3826" in info["coordinateSystem"]["wkt"]

    # EPSG:3857 and EPSG:4326 (1.3.0: latitude first) against CRS:84 (longitude first).
    merc = image(s.get(getmap(CRS="EPSG:3857", BBOX="13520000,2860000,13530000,2870000", WIDTH=400, HEIGHT=400))[2])
    assert merc.size == (400, 400) and len(merc.convert("RGB").getcolors(100000)) > 3
    lonlat = s.get(getmap(CRS="CRS:84", BBOX="121.40,25.00,121.50,25.10", WIDTH=400, HEIGHT=400))[2]
    latlon = s.get(getmap(CRS="EPSG:4326", BBOX="25.00,121.40,25.10,121.50", WIDTH=400, HEIGHT=400))[2]
    old = s.get(getmap("1.1.1", SRS="EPSG:4326", BBOX="121.40,25.00,121.50,25.10", WIDTH=400, HEIGHT=400))[2]
    assert same_pixels(image(lonlat), image(latlon)) and same_pixels(image(lonlat), image(old))
    assert len(image(lonlat).convert("RGB").getcolors(100000)) > 3
    # The warped map matches the native one where they overlap: a road pixel of the native
    # view is found at the same place of a 3857 map made by GDAL from the native one.
    out = os.path.join(tmp, "m3857.tif")
    gdal("gdal_translate", "-q", "-outsize", "400", "400",
         f"WMS:{s.url('/wms')}?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=map&SRS=EPSG:3857"
         f"&BBOX=13520000,2860000,13530000,2870000&FORMAT=image/png", out)
    info = json.loads(gdal("gdalinfo", "-json", out))
    assert abs(info["geoTransform"][1] - 25) < 1e-6
    # Validators: the ETag of a map, 304 when it is given back.
    status, headers, _ = s.get(getmap())
    tag = headers["ETag"]
    assert s.get(getmap(), {"If-None-Match": tag})[0] == 304
    assert s.get(getmap(WIDTH=W + 1), {"If-None-Match": tag})[0] == 200


def test_feature_info(s, tmp):
    """GetFeatureInfo gives the road of the road query and the points of interest nearby, in
    the three formats; points outside the map are refused."""
    q = dict(REQUEST="GetFeatureInfo", LAYERS="map,poi", QUERY_LAYERS="map,poi", STYLES="",
             CRS="EPSG:3826", BBOX=BBOX, WIDTH=W, HEIGHT=H)
    # Find a pixel on a road: the road query through the JSON interface agrees.
    found = None
    for i, j in [(x, y) for y in range(10, H, 23) for x in range(10, W, 29)]:
        wx, wy = LEFT + (i + 0.5) * SCALE, TOP - (j + 0.5) * SCALE
        road = json.loads(s.get(f"/api/road?x={round(wx)}&y={round(wy)}&scale={SCALE}")[2])["road"]
        if road and road["name"]:
            found = (i, j, road)
            break
    assert found
    i, j, road = found
    status, headers, body = s.get(wms(**q, I=i, J=j, INFO_FORMAT="application/json"))
    assert status == 200 and headers["Content-Type"].startswith("application/json")
    info = json.loads(body)
    assert info["road"] == road
    status, _, body = s.get(wms(**q, I=i, J=j, INFO_FORMAT="text/plain"))
    assert status == 200 and f"road: {road['name']}" in body.decode()
    status, headers, body = s.get(wms(**q, I=i, J=j, INFO_FORMAT="text/html"))
    assert status == 200 and road["name"] in body.decode() and headers["Content-Type"].startswith("text/html")
    # The points of interest near a point are those of the window query there.
    for poi in info["pois"]:
        assert abs(poi["x"] - info["x"]) < 10 * SCALE and abs(poi["y"] - info["y"]) < 10 * SCALE
    for bad, code in [({"I": W}, "InvalidPoint"), ({"J": -1}, "InvalidPoint"),
                      ({"QUERY_LAYERS": "roads"}, "LayerNotDefined"),
                      ({"INFO_FORMAT": "text/xml+gml"}, "InvalidFormat")]:
        params = dict(q, I=i, J=j)
        params.update(bad)
        status, _, body = s.get(wms(**params))
        assert status == 400 and exception_code(body) == code, (bad, body)


def test_wmts(s, tmp):
    """WMTS by KVP and REST and the XYZ addresses give the same tiles; a tile is the piece of
    its metatile's view (so labels cross tile borders whole); GDAL's WMTS driver reads both
    matrix sets; validators."""
    status, _, body = s.get("/wmts?SERVICE=WMTS&REQUEST=GetCapabilities")
    assert status == 200 and ET.fromstring(body).get("version") == "1.0.0"
    assert s.get("/wmts/1.0.0/WMTSCapabilities.xml")[2] == body
    root = ET.fromstring(body)
    ns = {"w": "http://www.opengis.net/wmts/1.0", "ows": "http://www.opengis.net/ows/1.1"}
    sets = {e.find("ows:Identifier", ns).text: e for e in root.findall("w:Contents/w:TileMatrixSet", ns)}
    assert set(sets) == {"native", "GoogleMapsCompatible"}
    level = next(m for m in sets["native"].findall("w:TileMatrix", ns)
                 if m.find("ows:Identifier", ns).text == "5")  # 4 m a pixel
    x0, y0 = map(float, level.find("w:TopLeftCorner", ns).text.split())
    res = float(level.find("w:ScaleDenominator", ns).text) * 0.00028
    assert abs(res - 4) < 1e-6
    row, col = 18, 41  # in the city, inside the metatile of rows 16-19 and columns 40-43
    kvp = s.get(f"/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=map&STYLE=default&FORMAT=image/png"
                f"&TILEMATRIXSET=native&TILEMATRIX=5&TILEROW={row}&TILECOL={col}")
    rest = s.get(f"/wmts/1.0.0/map/default/native/5/{row}/{col}.png")
    xyz = s.get(f"/tiles/native/5/{col}/{row}.png")
    assert kvp[0] == rest[0] == xyz[0] == 200 and kvp[2] == rest[2] == xyz[2]
    # The metatile's view drawn by kview, cut where the tile lies.
    meta = kview_picture(tmp, left=round(x0 + 40 * 256 * res), top=round(y0 - 16 * 256 * res), scale=4,
                         size=(1024, 1024))
    piece = meta.crop(((col - 40) * 256, (row - 16) * 256, (col - 39) * 256, (row - 15) * 256))
    assert len(piece.getcolors(1000)) > 3
    assert same_pixels(image(kvp[2]), piece)
    tag = kvp[1]["ETag"]
    assert s.get(f"/tiles/native/5/{col}/{row}.png", {"If-None-Match": tag})[0] == 304
    # JPEG: the capabilities offer it; every address gives the same file, the PNG tile's picture,
    # with a validator of its own; a google tile outside the data set is white.
    layer = root.find("w:Contents/w:Layer", ns)
    assert [f.text for f in layer.findall("w:Format", ns)] == ["image/png", "image/jpeg"]
    urls = {u.get("format"): u.get("template") for u in layer.findall("w:ResourceURL", ns)}
    assert urls["image/jpeg"] == urls["image/png"][:-4] + ".jpg", urls
    jpegs = [s.get(f"/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=map&STYLE=default&FORMAT=image/jpeg"
                   f"&TILEMATRIXSET=native&TILEMATRIX=5&TILEROW={row}&TILECOL={col}"),
             s.get(urls["image/jpeg"][len(s.url("")):].format(TileMatrixSet="native", TileMatrix=5, TileRow=row,
                                                                TileCol=col)),
             s.get(f"/tiles/native/5/{col}/{row}.jpg")]
    assert all(j[0] == 200 and j[1]["Content-Type"] == "image/jpeg" and j[2] == jpegs[0][2] for j in jpegs)
    like_png(jpegs[0][2], kvp[2], "native tile")
    assert jpegs[0][1]["ETag"] != tag
    assert s.get(f"/tiles/native/5/{col}/{row}.jpg", {"If-None-Match": jpegs[0][1]["ETag"]})[0] == 304
    assert s.get(f"/tiles/native/5/{col}/{row}.jpg", {"If-None-Match": tag})[0] == 200
    blank = image(s.get("/tiles/google/12/0/0.jpg")[2])
    assert blank.getextrema() == ((255, 255), (255, 255), (255, 255))
    metrics = s.get("/metrics")[2].decode()
    assert re.search(r"^kserve_tile_cache_hits_total [1-9]", metrics, re.M)
    # Errors by the OWS codes.
    for path, code in [(f"/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=map&STYLE=default&FORMAT=image/png"
                        f"&TILEMATRIXSET=native&TILEMATRIX=5&TILEROW=99999&TILECOL=0", "TileOutOfRange"),
                       ("/wmts?SERVICE=WMTS&REQUEST=GetTile&LAYER=map", "MissingParameterValue"),
                       ("/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=map&STYLE=default&FORMAT=image/gif"
                        "&TILEMATRIXSET=native&TILEMATRIX=5&TILEROW=0&TILECOL=0", "InvalidParameterValue"),
                       ("/wmts/1.0.0/map/default/nowhere/5/0/0.png", "InvalidParameterValue")]:
        status, _, body = s.get(path)
        assert status == 400 and exception_code(body) == code, (path, body)
    # GDAL's WMTS driver, in both matrix sets, with the georeferencing of the set.
    for tms, zoom, epsg in [("native", 2, "3826"), ("GoogleMapsCompatible", 12, "3857")]:
        out = os.path.join(tmp, f"wmts-{tms}.tif")
        gdal("gdal_translate", "-q", "-oo", f"TILEMATRIXSET={tms}", "-oo", f"ZOOM_LEVEL={zoom}",
             "-outsize", "10%", "10%", f"WMTS:{s.url('/wmts/1.0.0/WMTSCapabilities.xml')}", out)
        info = json.loads(gdal("gdalinfo", "-json", "-stats", out))
        assert epsg in info["coordinateSystem"]["wkt"]
        assert any(b.get("maximum", 0) != b.get("minimum", 0) for b in info["bands"]), info["bands"]
    g = s.get("/tiles/google/12/3421/1755.png")
    assert g[0] == 200 and image(g[2]).size == (256, 256)


def test_scale_factor(s, tmp):
    """@2x tiles are drawn anew at twice the pixels (kview's picture at scale factor 2, not an
    upscale of the 1x tile) with their own ETags; WMS DPI, MAP_RESOLUTION and FORMAT_OPTIONS
    draw the map of the same box at the factor they round to, at the size asked for."""
    row, col = 18, 41  # level 5 (4 m a pixel), the metatile of rows 16-19, columns 40-43
    one = s.get(f"/tiles/native/5/{col}/{row}.png")
    two = s.get(f"/tiles/native/5/{col}/{row}@2x.png")
    rest = s.get(f"/wmts/1.0.0/map/default/native/5/{row}/{col}@2x.png")
    assert one[0] == two[0] == rest[0] == 200 and two[2] == rest[2]
    tile1, tile2 = image(one[2]), image(two[2])
    assert tile2.size == (512, 512)
    # The tile is the piece of the metatile's view drawn by kview at factor 2.
    corner = json.loads(s.get("/api/info")[2])["extent"]
    meta = kview_picture(tmp, left=round(corner[0] + 40 * 1024), top=round(corner[3] - 16 * 1024),
                         scale=4, size=(1024, 1024), factor=2)
    assert meta.size == (2048, 2048)
    piece = meta.crop(((col - 40) * 512, (row - 16) * 512, (col - 39) * 512, (row - 15) * 512))
    assert same_pixels(tile2, piece)
    # About four times the ink of the 1x tile, in no colour the 1x tile lacks, and not the
    # 1x tile magnified: thin lines and glyph edges fall elsewhere.
    ratio = inked(tile2) / inked(tile1)
    assert 3 < ratio < 5, ratio
    colours1 = {c for _, c in tile1.convert("RGB").getcolors(1000)}
    assert {c for _, c in tile2.convert("RGB").getcolors(1000)} <= colours1
    upscale = tile1.convert("RGB").resize((512, 512), Image.NEAREST)
    differ = sum(n for n, c in ImageChops.difference(tile2.convert("RGB"), upscale)
                 .convert("L").point(lambda v: 255 if v else 0).getcolors() if c)
    assert differ > 0.02 * 512 * 512, differ
    # The factor is part of the tile's validator.
    assert one[1]["ETag"] != two[1]["ETag"]
    assert s.get(f"/tiles/native/5/{col}/{row}@2x.png", {"If-None-Match": two[1]["ETag"]})[0] == 304
    assert s.get(f"/tiles/native/5/{col}/{row}@2x.png", {"If-None-Match": one[1]["ETag"]})[0] == 200
    # The other set, another factor, and what is no tile address.
    g = s.get("/tiles/google/12/3421/1755@2x.png")
    assert g[0] == 200 and image(g[2]).size == (512, 512)
    assert image(s.get(f"/tiles/native/5/{col}/{row}@3x.png")[2]).size == (768, 768)
    for bad in ["@1x", "@4x", "@2X", "@x", "@22x"]:
        assert s.get(f"/tiles/native/5/{col}/{row}{bad}.png")[0] == 404, bad
    status, _, body = s.get(f"/wmts/1.0.0/map/default/native/5/{row}/{col}@4x.png")
    assert status == 400 and exception_code(body) == "InvalidParameterValue"

    # WMS: 181.4 dots an inch is factor 2. The map keeps WIDTH x HEIGHT over BBOX and is the
    # 1x map of half the pixels drawn at twice the pixels.
    classic = s.get(getmap())
    dpi = s.get(getmap(DPI="181.4"))
    assert dpi[0] == 200 and image(dpi[2]).size == (W, H)
    assert same_pixels(image(dpi[2]), kview_picture(tmp, scale=2 * SCALE, size=(W // 2, H // 2),
                                                      factor=2))
    assert not same_pixels(image(dpi[2]), image(classic[2]))
    for same in [{"MAP_RESOLUTION": "180"}, {"FORMAT_OPTIONS": "antialias:none;dpi:200"},
                 {"DPI": "200", "MAP_RESOLUTION": "96"}]:
        assert s.get(getmap(**same))[2] == dpi[2], same
    # Up to 136 dpi the classic map (QGIS's 96 among them), with its ETag; 300 is factor 3.
    low = s.get(getmap(DPI="96", FORMAT_OPTIONS="dpi:96"))
    assert low[2] == classic[2] and low[1]["ETag"] == classic[1]["ETag"] != dpi[1]["ETag"]
    three = image(s.get(getmap(DPI="300"))[2])
    assert three.size == (W, H) and not same_pixels(three, image(dpi[2]))
    # Finer than 1 m a pixel at 1x is the engine's view at a factor: 0.5 m a pixel at DPI 181.4.
    fine = s.get(getmap(BBOX=f"{LEFT},{TOP - 128},{LEFT + 128},{TOP}", WIDTH=256, HEIGHT=256,
                        DPI="181.4"))
    assert fine[0] == 200 and same_pixels(
        image(fine[2]), kview_picture(tmp, scale=1, size=(128, 128), factor=2))
    # Warped and stretched maps are drawn from a native view at the factor: bigger text and pens
    # (more ink) in the same size.
    for other in [dict(CRS="EPSG:3857", BBOX="13520000,2860000,13530000,2870000", WIDTH=400,
                       HEIGHT=400), dict(HEIGHT=H * 2)]:
        flat, sharp = (image(s.get(getmap(**other, **extra))[2]) for extra in ({}, {"DPI": "181.4"}))
        assert sharp.size == flat.size and inked(sharp) > 1.3 * inked(flat), other
    for bad in [{"DPI": "0"}, {"DPI": "ninety"}, {"MAP_RESOLUTION": "-96"},
                {"FORMAT_OPTIONS": "dpi:1e9"}]:
        status, _, body = s.get(getmap(**bad))
        assert status == 400 and exception_code(body) == "InvalidParameterValue", bad


def test_api(s, tmp):
    """The JSON queries and reports, in UTF-8, agree with each other; bad input is a 400 with
    a JSON error; workers running reports at once never mix them."""
    roads = json.loads(s.get("/api/roads?district=101")[2])
    assert roads["count"] > 0 and roads["count"] == len(roads["items"])
    name = next(r["name"] for r in roads["items"] if r["name"])
    name.encode("utf-8")
    meeting = json.loads(s.get("/api/roads?district=101&meeting=" + urllib.parse.quote(name))[2])
    assert meeting["count"] >= 0 and all(r["name"] != name for r in meeting["items"])
    near = json.loads(s.get("/api/pois?x=301234&y=2771234&r=300")[2])
    assert near["count"] > 0
    for p in near["items"]:
        assert abs(p["x"] - 301234) < 300 and abs(p["y"] - 2771234) < 300
    poi = near["items"][0]
    named = json.loads(s.get("/api/pois?name=" + urllib.parse.quote(poi["name"]))[2])
    assert any(p == poi for p in named["items"]), (poi, named["items"][:3])
    assert json.loads(s.get("/api/pois?district=101&category=1")[2])["count"] >= 0
    for path in ["/api/road?x=abc&y=1", "/api/roads?district=x", "/api/pois", "/api/pois?x=1&y=2&r=0",
                 "/api/pois?name=" + "a" * 200, "/api/pois?name=", "/api/pois?district=101&district=102",
                 "/api/roads?district=101&meeting=%F0%9F%98%80"]:
        status, headers, body = s.get(path)
        assert status == 400 and "error" in json.loads(body), path
    assert s.get("/api/nothing")[0] == 404
    # The viewer's additions: the grid's definition, the slope of the road hit, roads by name.
    info = json.loads(s.get("/api/info")[2])
    assert info["crs"] == "EPSG:3826" and "+proj=tmerc" in info["proj4"] and "+lon_0=121" in info["proj4"]
    assert info["extent"] == [260000, 2730000, 330000, 2790000] and info["districts"] == list(range(100, 116))
    road = json.loads(s.get("/api/road?x=301234&y=2771234&scale=20")[2])["road"]
    assert isinstance(road["slope"], (int, float)), road
    first = next(r for r in roads["items"] if len(r["name"]) >= 2)
    part = first["name"][:2]
    found = json.loads(s.get("/api/roads?name=" + urllib.parse.quote(part))[2])
    assert 0 < found["count"] == len(found["items"]) <= 200
    assert all(part in r["name"] and 100 <= r["district"] <= 115 for r in found["items"])
    if found["count"] < 200:
        assert {"name": first["name"], "district": 101, "x": first["x"], "y": first["y"]} in found["items"]
    for bad in ["", "%F0%9F%98%80", "a" * 81]:
        status, _, body = s.get("/api/roads?name=" + bad)
        assert status == 400 and "error" in json.loads(body), bad
    # Reports at once from both workers: each answer is that of its own query.
    queries = [f"/api/pois?x={301234 + 150 * k}&y=2771234&r=200" for k in range(8)] + \
              [f"/api/roads?district={d}" for d in (101, 102, 103, 104)]
    expected = {q: s.get(q)[2] for q in queries}
    with concurrent.futures.ThreadPoolExecutor(8) as pool:
        for _ in range(3):
            got = list(pool.map(lambda q: (q, s.get(q)[2]), queries * 2))
            for q, body in got:
                assert body == expected[q], q


def test_viewer_files(s, tmp):
    """The viewer's folder is served at / with media types, validators and 304s; no path
    reaches outside it (dot segments, encoded ones, hidden files, links out, folders)."""
    root = os.path.join(tmp, "viewer")
    os.makedirs(os.path.join(root, "assets", "sub"))
    with open(os.path.join(tmp, "secret.txt"), "w") as f:
        f.write("SECRET")
    files = {"index.html": "<!DOCTYPE html><title>地圖</title>", "assets/app-1a2b.js": "let x = 1;",
             "assets/app-1a2b.css": "body{}", "assets/icon.svg": "<svg/>", ".hidden": "SECRET"}
    for name, body in files.items():
        with open(os.path.join(root, name), "w", encoding="utf-8") as f:
            f.write(body)
    os.symlink(os.path.join(tmp, "secret.txt"), os.path.join(root, "link.txt"))
    assert subprocess.run([ARGS.kserve, "--viewer", os.path.join(tmp, "none"), "--listen", "127.0.0.1:0"],
                          capture_output=True).returncode == 2
    v = Server(workers=1, extra=["--viewer", root])
    try:
        status, headers, body = v.get("/")
        assert status == 200 and body.decode() == files["index.html"], (status, body)
        assert headers["Content-Type"] == "text/html; charset=utf-8" and headers["Cache-Control"] == "no-cache"
        status, headers2, body = v.get("/", {"If-None-Match": headers["ETag"]})
        assert status == 304 and body == b"" and headers2["ETag"] == headers["ETag"]
        for path, kind in [("/assets/app-1a2b.js", "text/javascript; charset=utf-8"),
                           ("/assets/app-1a2b.css", "text/css; charset=utf-8"), ("/assets/icon.svg", "image/svg+xml")]:
            status, headers, body = v.get(path)
            assert status == 200 and headers["Content-Type"] == kind and "immutable" in headers["Cache-Control"]
            assert body.decode() == files[path[1:]]
        for path in ["/../secret.txt", "/assets/../../secret.txt", "/%2e%2e/secret.txt", "/assets/..%2f..%2fsecret.txt",
                     "/.hidden", "/link.txt", "/assets", "/assets/", "/assets/sub", "//etc/passwd", "/index.html%00"]:
            status, _, body = v.get(path)
            assert status in (400, 404) and b"SECRET" not in body and b"root:" not in body, (path, status)
        # The service's own addresses come first.
        assert v.get("/healthz")[2] == b"ok\n" and v.get("/api/info")[0] == 200
    finally:
        v.stop()


def test_scale_out(tmp):
    """nginx in front of two hosts: requests reach both, tiles come from nginx's cache the second
    time, no client's Host header reaches a cached answer, and a host killed during a run loses
    no request."""
    nginx = shutil.which("nginx") or "/usr/sbin/nginx"
    hosts = [Server(workers=1, extra=["--client-connections", "0"]) for _ in range(2)]
    port = free_port()
    conf = open(os.path.join(ARGS.root, "deploy", "nginx", "kserve.conf")).read()
    conf = conf.replace("server 127.0.0.1:8081 max_fails=1 fail_timeout=5s;\n    server 127.0.0.1:8082 max_fails=1 fail_timeout=5s;",
                        "".join(f"server 127.0.0.1:{h.port} max_fails=1 fail_timeout=5s;\n    " for h in hosts))
    conf = conf.replace("listen 127.0.0.1:8080;", f"listen 127.0.0.1:{port};")
    conf = conf.replace("/var/cache/nginx/kserve", os.path.join(tmp, "cache"))
    # Run as root (as CI does), nginx would hand its workers to an account that cannot write
    # into this private folder; keep them as the user running the test.
    user = "user root root;" if os.geteuid() == 0 else ""
    main = f"""daemon off;
{user}
pid {tmp}/nginx.pid;
error_log {tmp}/error.log;
worker_processes 1;
events {{ worker_connections 256; }}
http {{
    access_log {tmp}/access.log;
    client_body_temp_path {tmp}/body;
    proxy_temp_path {tmp}/proxy;
    fastcgi_temp_path {tmp}/fastcgi;
    uwsgi_temp_path {tmp}/uwsgi;
    scgi_temp_path {tmp}/scgi;
    {conf}
}}
"""
    path = os.path.join(tmp, "nginx.conf")
    with open(path, "w") as f:
        f.write(main)
    proc = subprocess.Popen([nginx, "-p", tmp, "-c", path], stderr=subprocess.PIPE)
    try:
        deadline = time.time() + 20
        while True:
            try:
                with socket.create_connection(("127.0.0.1", port), timeout=1):
                    break
            except OSError:
                assert time.time() < deadline and proc.poll() is None, proc.stderr.read() if proc.poll() is not None else "nginx"
                time.sleep(0.1)

        def get(p, headers=None):
            c = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
            c.request("GET", p, headers=headers or {})
            r = c.getresponse()
            b = r.read()
            c.close()
            return r.status, dict(r.getheaders()), b

        for k in range(20):
            assert get(getmap(WIDTH=100 + k))[0] == 200
        counts = [sum(1 for line in h.log_text().splitlines() if "GetMap" in line) for h in hosts]
        assert all(c > 0 for c in counts), counts
        first = get("/tiles/native/5/41/18.png")
        second = get("/tiles/native/5/41/18.png")
        assert first[0] == second[0] == 200 and first[2] == second[2], open(os.path.join(tmp, "error.log")).read()[-2000:]
        assert first[1].get("X-Cache-Status") in ("MISS", "EXPIRED") and second[1].get("X-Cache-Status") == "HIT"
        # A client's Host never reaches the addresses of an answer that nginx caches for everyone.
        caps = "/wmts/1.0.0/WMTSCapabilities.xml"
        forged = get(caps, {"Host": "evil.example"})
        plain = get(caps)
        assert forged[0] == plain[0] == 200 and b"evil.example" not in forged[2] + plain[2]
        # Kill one host during a run of requests: every request is answered.
        results = []

        def run(k):
            return get(getmap(WIDTH=150 + k % 50))[0]

        with concurrent.futures.ThreadPoolExecutor(4) as pool:
            futures = [pool.submit(run, k) for k in range(120)]
            time.sleep(0.2)
            hosts[0].proc.kill()
            for w in hosts[0].workers():
                os.kill(w, signal.SIGKILL)
            results = [f.result() for f in futures]
        assert results.count(200) == len(results), results
    finally:
        proc.terminate()
        proc.wait(10)
        for h in hosts:
            if h.proc.poll() is None:
                h.stop()


OGCAPI_CITY = (301234, 2771234, 300)  # a point in the city and the half side of a box around it


def ogcapi_context(s):
    """The API's root, the grid's and CRS84's URIs, and a reader of a JSON document of the
    expected type."""
    def doc(path, expect_type="application/json"):
        status, headers, body = s.get(path)
        assert status == 200 and headers["Content-Type"].startswith(expect_type), (path, status, body[:300])
        return json.loads(body)
    return ("/ogcapi", "http://www.opengis.net/def/crs/EPSG/0/3826",
            "http://www.opengis.net/def/crs/OGC/1.3/CRS84", doc)


def check_ogcapi_documents(s, tmp):
    """The documents link each other, HTML for a browser, the conformance classes, and the
    OpenAPI description names every path served and every parameter it refers to."""
    api, native, crs84, doc = ogcapi_context(s)
    landing = doc(api)
    rels = {l["rel"]: l["href"] for l in landing["links"]}
    assert {"self", "service-desc", "conformance", "data"} <= set(rels)
    assert all(h.startswith(s.url(api)) for h in rels.values())
    status, headers, body = s.get(api, {"Accept": "text/html,application/xhtml+xml,*/*;q=0.8"})
    assert status == 200 and headers["Content-Type"].startswith("text/html") and b"/ogcapi/collections" in body
    assert s.get(api + "?f=html")[1]["Content-Type"].startswith("text/html")
    conf = doc(api + "/conformance")["conformsTo"]
    assert "http://www.opengis.net/spec/ogcapi-features-1/1.0/conf/core" in conf
    assert "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/core" in conf
    openapi = doc(api + "/api", "application/vnd.oai.openapi+json")
    assert openapi["openapi"].startswith("3.0")
    templates = [re.compile("^" + re.sub(r"\\\{[^}]+\\\}", "[^/]+", re.escape(p)) + "$") for p in openapi["paths"]]
    served = ["/", "/conformance", "/api", "/collections", "/collections/roads", "/collections/map/map",
              "/collections/map/map/tiles", "/collections/map/map/tiles/WebMercatorQuad",
              "/collections/map/map/tiles/WebMercatorQuad/15/13838/27435", "/collections/pois/items",
              "/collections/pois/items/27302600001", "/tileMatrixSets", "/tileMatrixSets/native"]
    for path in served:
        assert any(t.match(path) for t in templates), path
    for ref in re.findall(r'"\$ref": "#/components/parameters/([^"]+)"', json.dumps(openapi)):
        assert ref in openapi["components"]["parameters"], ref
    collections = doc(api + "/collections")["collections"]
    assert [c["id"] for c in collections] == ["map", "roads", "pois"]
    info = json.loads(s.get("/api/info")[2])
    for c in collections:
        assert c["extent"]["spatial"]["bbox"][0] == info["lonlat"] and native in c["crs"]
    assert "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/jpeg" in conf
    assert "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/jpeg" in conf


def check_ogcapi_collections_listed(s, tmp):
    """Features clients list every collection without an error (GDAL; QGIS when installed)."""
    api, native, crs84, doc = ogcapi_context(s)
    # Features clients read every collection listed as one of features: GDAL lists them all
    # without an error, the map's holds none; QGIS (when python3-qgis is there) opens each.
    listing = subprocess.run(["ogrinfo", "-ro", "-so", f"OAPIF:{s.url(api)}"], capture_output=True, text=True,
                             timeout=300)
    assert listing.returncode == 0 and "ERROR" not in listing.stderr, listing.stderr
    assert re.findall(r"^\d+: (\w+)", listing.stdout, re.M) == ["map", "roads", "pois"], listing.stdout
    empty = doc(f"{api}/collections/map/items?bbox=121.5,25.03,121.51,25.04", "application/geo+json")
    assert empty["type"] == "FeatureCollection" and empty["features"] == [] and empty["numberReturned"] == 0
    qgis_box = (121.50, 25.03, 121.51, 25.04)
    if subprocess.run(["/usr/bin/python3", "-c", "import qgis.core"], capture_output=True).returncode == 0:
        r = subprocess.run(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "qgis_oapif.py"),
                            s.url(api), *map(str, qgis_box)], capture_output=True, text=True, timeout=300,
                           env={**os.environ, "QT_QPA_PLATFORM": "offscreen"})
        assert r.returncode == 0, r.stderr
        opened = json.loads(r.stdout.strip().splitlines()[-1])
        bbox = ",".join(map(str, qgis_box))
        assert opened == {c: len(every_feature(s, f"{api}/collections/{c}/items?bbox={bbox}&limit=1000"))
                          for c in ("map", "roads", "pois")}, opened
        assert opened["roads"] and opened["pois"]
    else:
        print("ogcapi: QGIS's client not checked: python3-qgis is not installed")


def check_ogcapi_maps(s, tmp):
    """Maps in the grid are kview's pictures, the BMP is WMS's, JPEG looks like PNG, and GDAL's
    OGCAPI driver reads a window."""
    api, native, crs84, doc = ogcapi_context(s)
    # Maps: in the grid, the picture is kview's; the engine's BMP is WMS's; GDAL reads a window.
    # First, on the one worker's fresh engine: its pictures depend on the order in which tiles
    # entered its cache (strokes along tile borders), and kview starts afresh.
    status, headers, body = s.get(f"{api}/collections/map/map?bbox={BBOX}&bbox-crs={native}&width={W}&height={H}")
    assert status == 200 and headers["Content-Crs"] == f"<{native}>"
    assert [float(v) for v in headers["Content-Bbox"].split(",")] == [float(v) for v in BBOX.split(",")]
    assert same_pixels(image(body), kview_picture(tmp))
    bmp = s.get(f"{api}/collections/map/map?bbox={BBOX}&bbox-crs={native}&width={W}&height={H}&f=bmp")[2]
    assert bmp == s.get(getmap(FORMAT="image/bmp"))[2]
    status, headers, jpeg = s.get(f"{api}/collections/map/map?bbox={BBOX}&bbox-crs={native}&width={W}&height={H}"
                                  f"&f=jpeg&transparent=true")
    assert status == 200 and headers["Content-Type"] == "image/jpeg"
    like_png(jpeg, body, "the OGC API's map")
    window = os.path.join(tmp, "ogcapi-map.tif")
    gdal("gdal_translate", "-q", "-oo", "API=MAP", "-oo", "CACHE=NO", f"OGCAPI:{s.url(api + '/collections/map')}",
         "-projwin", "121.5", "25.06", "121.53", "25.03", "-outsize", "300", "300", window)
    read = json.loads(gdal("gdalinfo", "-json", "-stats", window))
    assert abs(read["geoTransform"][0] - 121.5) < 1e-6 and abs(read["geoTransform"][3] - 25.06) < 1e-6
    assert read["bands"][0]["minimum"] < 100 and read["bands"][0]["maximum"] == 255, read["bands"][0]


def check_ogcapi_features(s, tmp):
    """GDAL's OAPIF driver reads the roads and points of interest of a box, which agree with the
    engine's own queries, in longitude and latitude and in the grid."""
    api, native, crs84, doc = ogcapi_context(s)
    # Features through GDAL's OAPIF driver: a box in the city, in longitude and latitude.
    x, y, r = OGCAPI_CITY
    ll = json.loads(s.get(f"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetFeatureInfo&LAYERS=map&QUERY_LAYERS=map"
                          f"&CRS=EPSG:3826&BBOX={x - 1},{y - 1},{x + 1},{y + 1}&WIDTH=2&HEIGHT=2&I=1&J=1"
                          f"&INFO_FORMAT=application/json")[2])
    assert ll["road"], ll
    corners = subprocess.run(["gdaltransform", "-s_srs", "EPSG:3826", "-t_srs", "OGC:CRS84"],
                             input=f"{x - r} {y - r}\n{x + r} {y + r}\n", capture_output=True, text=True,
                             check=True).stdout.split()
    lon0, lat0, lon1, lat1 = corners[0], corners[1], corners[3], corners[4]
    out = gdal("ogrinfo", "-ro", "-q", f"OAPIF:{s.url(api)}", "roads", "pois",
               "-spat", lon0, lat0, lon1, lat1)
    assert ll["road"]["name"] in out, out[:2000]
    near = json.loads(s.get(f"/api/pois?x={x}&y={y}&r={r}")[2])["items"]
    assert near and all(p["name"] in out for p in near)
    # The same points in the grid (bbox-crs, crs), edges of the box just inside the square
    # /api/pois takes strictly inside: the same set, at the same places.
    box = f"{x - r + 0.5},{y - r + 0.5},{x + r - 0.5},{y + r - 0.5}"
    status, headers, body = s.get(f"{api}/collections/pois/items?bbox={box}&bbox-crs={native}&crs={native}&limit=1000")
    assert status == 200 and headers["Content-Crs"] == f"<{native}>" and headers["Content-Type"] == "application/geo+json"
    got = sorted((f["properties"]["name"], *f["geometry"]["coordinates"]) for f in json.loads(body)["features"])
    assert got == sorted((p["name"], p["x"], p["y"]) for p in near), (got[:3], near[:3])
    feature = json.loads(body)["features"][0]
    one = doc(f"{api}/collections/pois/items/{feature['id']}?crs={native}", "application/geo+json")
    assert one["geometry"] == feature["geometry"] and one["properties"] == feature["properties"]


def check_ogcapi_paging(s, tmp):
    """Small pages by their next links visit the features of one big page, once each."""
    api, native, crs84, doc = ogcapi_context(s)
    x, y, r = OGCAPI_CITY
    box = f"{x - r + 0.5},{y - r + 0.5},{x + r - 0.5},{y + r - 0.5}"
    # Paging: small pages by their next links visit the features of one big page, once each.
    whole = json.loads(s.get(f"{api}/collections/roads/items?bbox={box}&bbox-crs={native}&limit=5000")[2])
    ids, url, pages = [], f"{api}/collections/roads/items?bbox={box}&bbox-crs={native}&limit=7", 0
    while url and pages < 200:
        page = json.loads(s.get(url)[2])
        assert page["numberReturned"] == len(page["features"]) <= 7
        ids += [f["id"] for f in page["features"]]
        nxt = [l["href"] for l in page["links"] if l["rel"] == "next"]
        url = nxt[0][len(s.url("")):] if nxt else None
        pages += 1
    assert len(ids) == len(set(ids)) and pages > 1
    if not any(l["rel"] == "next" for l in whole["links"]):
        assert ids == [f["id"] for f in whole["features"]]


def check_ogcapi_lonlat_box(s, tmp):
    """A box in longitude and latitude selects what meets it there, not its envelope in the grid."""
    api, native, crs84, doc = ogcapi_context(s)
    # A box in longitude and latitude selects what meets it there, not what meets its envelope
    # in the grid: the road and the point of interest just outside its south and west edges
    # are left out, and the features given are those that GDAL's projection and geometry find
    # meeting it, among every feature of a box of the grid around it.
    road_id, poi_id = 27703001803, 27703004485
    road = doc(f"{api}/collections/roads/items/{road_id}?crs={native}", "application/geo+json")["geometry"]
    poi = doc(f"{api}/collections/pois/items/{poi_id}?crs={native}", "application/geo+json")["geometry"]
    to_lonlat = osr.CoordinateTransformation(osr_crs("EPSG:3826"), osr_crs("OGC:CRS84"))
    poi_lon = to_lonlat.TransformPoint(*poi["coordinates"])[0]
    road_lat = max(to_lonlat.TransformPoint(*p)[1] for p in road["coordinates"])
    west, south = poi_lon + 0.5e-5, road_lat + 0.5e-5  # about half a metre beyond each
    lonlat_box = [west, south, west + 0.01, south + 0.0115]
    frame = ogr.CreateGeometryFromWkt("POLYGON(({0} {1},{2} {1},{2} {3},{0} {3},{0} {1}))".format(*lonlat_box))
    around = osr.CoordinateTransformation(osr_crs("OGC:CRS84"), osr_crs("EPSG:3826")).TransformBounds(*lonlat_box, 21)
    grid_box = ",".join(str(v) for v in (around[0] - 50, around[1] - 50, around[2] + 50, around[3] + 50))
    for collection, kind in [("roads", "LINESTRING"), ("pois", "POINT")]:
        given = {f["id"] for f in every_feature(s, f"{api}/collections/{collection}/items?limit=1000&bbox="
                                                   + ",".join(map(repr, lonlat_box)))}
        nearby = every_feature(s, f"{api}/collections/{collection}/items?limit=1000&bbox={grid_box}"
                                  f"&bbox-crs={native}&crs={native}")
        meeting = set()
        for f in nearby:
            points = f["geometry"]["coordinates"]
            points = points if kind == "LINESTRING" else [points]
            shape = ogr.CreateGeometryFromWkt(f"{kind}(" + ",".join(
                "{} {}".format(*to_lonlat.TransformPoint(*p)[:2]) for p in points) + ")")
            if shape.Intersects(frame):
                meeting.add(f["id"])
        assert given == meeting, (collection, sorted(given ^ meeting)[:10])
        assert {road_id, poi_id} & {f["id"] for f in nearby} and not {road_id, poi_id} & given


def check_ogcapi_errors(s, tmp):
    """An empty box, the default and largest limit, and errors as problem details."""
    api, native, crs84, doc = ogcapi_context(s)
    # An empty box, the default limit, errors as problem details.
    empty = json.loads(s.get(f"{api}/collections/roads/items?bbox=10,10,11,11")[2])
    assert empty["features"] == [] and not any(l["rel"] == "next" for l in empty["links"])
    assert len(json.loads(s.get(f"{api}/collections/roads/items")[2])["features"]) == 100
    assert json.loads(s.get(f"{api}/collections/roads/items?limit=99999999999999")[2])["numberReturned"] <= 1000
    for path, code in [(f"{api}/collections/roads/items?limit=0", 400), (f"{api}/collections/roads/items?bbox=1,2", 400),
                       (f"{api}/collections/roads/items?crs=EPSG:4326", 400), (f"{api}/collections/roads/items?cursor=x", 400),
                       (f"{api}/collections/roads/items?colour=red", 400), (f"{api}/collections/rivers", 404),
                       (f"{api}/collections/roads/items/12", 404), (f"{api}/collections/map/items/1", 404),
                       (f"{api}/collections/map/items?bbox=1,2", 400), (f"{api}/collections/map/map?width=99999", 400),
                       (f"{api}/collections/map/map?f=tiff", 400), (f"{api}/collections/map/map/tiles/WebMercatorQuad/15/99999/0", 404),
                       (f"{api}/tileMatrixSets/Nowhere", 404), (f"{api}?f=xml", 400)]:
        status, headers, body = s.get(path)
        problem = json.loads(body)
        assert status == code and headers["Content-Type"].startswith("application/problem+json"), (path, status)
        assert problem["status"] == code and problem["detail"], path


def check_ogcapi_tiles(s, tmp):
    """Tiles are the XYZ tiles (PNG and JPEG), the tile set's templates and limits hold, and the
    native set's tiles are the native XYZ ones."""
    api, native, crs84, doc = ogcapi_context(s)
    x, y, r = OGCAPI_CITY
    to_lonlat = osr.CoordinateTransformation(osr_crs("EPSG:3826"), osr_crs("OGC:CRS84"))
    (lon0, lat0, _), (lon1, lat1, _) = to_lonlat.TransformPoint(x - r, y - r), to_lonlat.TransformPoint(x + r, y + r)
    # Tiles: the same file as the XYZ tile; the tile set's template; the matrix sets in GDAL.
    tileset = doc(f"{api}/collections/map/map/tiles/WebMercatorQuad")
    template = next(l["href"] for l in tileset["links"] if l["rel"] == "item" and l["type"] == "image/png")
    assert [l["type"] for l in tileset["links"] if l["rel"] == "item"][-1] == "image/png"  # OpenLayers' choice
    lon, lat = (float(lon0) + float(lon1)) / 2, (float(lat0) + float(lat1)) / 2
    col = int((lon + 180) / 360 * 2 ** 15)
    row = int((1 - math.asinh(math.tan(math.radians(lat))) / math.pi) / 2 * 2 ** 15)
    tile = s.get(template[len(s.url("")):].format(tileMatrix=15, tileRow=row, tileCol=col))
    xyz = s.get(f"/tiles/google/15/{col}/{row}.png")
    assert tile[0] == 200 and tile[2] == xyz[2] and tile[1]["ETag"] == xyz[1]["ETag"]
    jpeg_template = next(l["href"] for l in tileset["links"] if l["rel"] == "item" and l["type"] == "image/jpeg")
    jpeg = s.get(jpeg_template[len(s.url("")):].format(tileMatrix=15, tileRow=row, tileCol=col))
    assert jpeg[0] == 200 and jpeg[2] == s.get(f"/tiles/google/15/{col}/{row}.jpg")[2]
    like_png(jpeg[2], xyz[2], "the OGC API's tile")
    assert same_pixels(image(tile[2]), image(xyz[2])) and len(image(tile[2]).convert("RGB").getcolors(1000)) > 3
    native_tile = s.get(f"{api}/collections/map/map/tiles/native/5/18/41")
    assert native_tile[2] == s.get("/tiles/native/5/41/18.png")[2]
    limits = {l["tileMatrix"]: l for l in tileset["tileMatrixSetLimits"]}
    assert limits["15"]["minTileRow"] <= row <= limits["15"]["maxTileRow"]
    assert limits["15"]["minTileCol"] <= col <= limits["15"]["maxTileCol"]


def check_ogcapi_matrix_sets(s, tmp):
    """GDAL reads each tile matrix set given as text (a COG cut by it)."""
    api, native, crs84, doc = ogcapi_context(s)
    # GDAL reads each matrix set given as text (a COG cut by it has the set's first level).
    source = os.path.join(tmp, "tiny.tif")
    gdal("gdal_create", "-q", "-outsize", "8", "8", "-a_srs", "EPSG:3826", "-a_ullr", "300000", "2772000",
         "302000", "2770000", source)
    for tms, level0 in [("WebMercatorQuad", 559082264.0287178), ("native", 128 / 0.00028)]:
        definition = json.loads(s.get(f"{api}/tileMatrixSets/{tms}")[2])
        assert definition["tileMatrices"][0]["scaleDenominator"] == pytest_approx(level0)
        cog = os.path.join(tmp, f"tms-{tms}.tif")
        gdal("gdal_translate", "-q", "-of", "COG", "-co", "TILING_SCHEME=" + json.dumps(definition), source, cog)
        assert json.loads(gdal("gdalinfo", "-json", cog))["size"][0] % 256 == 0


def check_tilejson_and_cors(s, tmp):
    """TileJSON, linked from /api/info, names its tiles; a preflight names what may be asked and
    answers expose their validator."""
    api, native, crs84, doc = ogcapi_context(s)
    info = json.loads(s.get("/api/info")[2])
    xyz = s.get("/tiles/google/15/0/0.png")
    # TileJSON, linked from /api/info, and its tiles.
    for name, maxzoom in [("google", 18), ("native", 7)]:
        tj = doc(info["tilejson"][name][len(s.url("")):])
        assert tj["tilejson"] == "3.0.0" and tj["maxzoom"] == maxzoom and tj["bounds"] == info["lonlat"]
        assert tj["tiles"][0] == s.url(f"/tiles/{name}/{{z}}/{{x}}/{{y}}.png")
    # CORS: a preflight names what may be asked; answers expose their validator.
    c = http.client.HTTPConnection("127.0.0.1", s.port, timeout=30)
    c.request("OPTIONS", api + "/collections/roads/items", headers={
        "Origin": "http://elsewhere.example", "Access-Control-Request-Method": "GET",
        "Access-Control-Request-Headers": "if-none-match"})
    pre = c.getresponse()
    pre.read()
    c.close()
    assert pre.status == 200 and pre.getheader("Access-Control-Allow-Origin") == "*"
    assert "GET" in pre.getheader("Access-Control-Allow-Methods")
    assert "if-none-match" in pre.getheader("Access-Control-Allow-Headers").lower()
    assert "ETag" in xyz[1]["Access-Control-Expose-Headers"]


def test_vector_tiles(s, tmp):
    """Vector tiles: GDAL's MVT driver reads kserve's tile (layers and fields as the TileJSON
    lists them, UTF-8 names) and the same tile from the OGC API; gzip only when accepted, with
    its own validator; 204 for an empty tile and 400 or 404 with a message for bad addresses;
    the style names the TileJSON and the glyphs, whose ranges are served and whose folder no
    path leaves; QGIS draws the layer (when python3-qgis is there)."""
    from osgeo import gdal
    gdal.UseExceptions()
    info = json.loads(s.get("/api/info")[2])
    tilejson = json.loads(s.get(urllib.parse.urlsplit(info["vector_tilejson"]["google"]).path)[2])
    fields = {l["id"]: l["fields"] for l in tilejson["vector_layers"]}
    assert {"roads", "areas", "lines", "places", "pois"} <= set(fields), fields
    z = 14
    x = int((121.4594 + 180) / 360 * 2 ** z)
    y = int((1 - math.asinh(math.tan(math.radians(25.0209))) / math.pi) / 2 * 2 ** z)
    path = f"/tiles/google/{z}/{x}/{y}.mvt"
    status, plain_h, raw = s.get(path)
    assert status == 200 and plain_h["Content-Type"] == "application/vnd.mapbox-vector-tile"
    assert "Content-Encoding" not in plain_h and plain_h["Vary"] == "Accept-Encoding"
    assert plain_h["Cache-Control"] == s.get(f"/tiles/google/{z}/{x}/{y}.png")[1]["Cache-Control"]
    status, gz_h, packed = s.get(path, {"Accept-Encoding": "br, gzip"})
    assert gz_h["Content-Encoding"] == "gzip" and gzip.decompress(packed) == raw
    assert gz_h["ETag"] != plain_h["ETag"]
    assert "Content-Encoding" not in s.get(path, {"Accept-Encoding": "gzip;q=0, identity"})[1]
    assert s.get(path, {"Accept-Encoding": "gzip", "If-None-Match": gz_h["ETag"]})[0] == 304
    ds = gdal.OpenEx("/vsicurl/" + s.url(path), gdal.OF_VECTOR, open_options=[f"X={x}", f"Y={y}", f"Z={z}"])
    found = {}
    for layer in (ds.GetLayer(i) for i in range(ds.GetLayerCount())):
        d = layer.GetLayerDefn()
        names = {d.GetFieldDefn(k).GetName() for k in range(d.GetFieldCount())} - {"mvt_id"}
        assert names <= set(fields[layer.GetName()]), (layer.GetName(), names)
        found[layer.GetName()] = [f.GetField("name") for f in layer if "name" in names]
    assert len(found["roads"]) > 100 and len(found["pois"]) > 100, {k: len(v) for k, v in found.items()}
    assert any(n and re.search("[\u4e00-\u9fff]", n) for n in found["roads"])
    ds = None
    status, h, body = s.get(f"/ogcapi/collections/map/tiles/WebMercatorQuad/{z}/{y}/{x}")
    assert status == 200 and body == raw and h["Content-Type"] == "application/vnd.mapbox-vector-tile"
    status, h, body = s.get("/tiles/google/14/0/0.mvt")
    assert status == 204 and body == b"" and h["ETag"], status
    for bad, want in [("/tiles/moon/1/0/0.mvt", 404), ("/tiles/google/1/2/0.mvt", 404),
                      ("/tiles/google/19/0/0.mvt", 404), ("/tiles/native/9/0/0.mvt", 404),
                      ("/tiles/google/1/x/0.mvt", 400), ("/tiles/google/1/0/-1.mvt", 400),
                      ("/tiles/google/1/0/0/0.mvt", 400)]:
        status, h, body = s.get(bad)
        assert status == want and h["Content-Type"].startswith("text/plain") and len(body) > 10, (bad, status)
    style = json.loads(s.get("/styles/kestrel.json")[2])
    assert style["sources"][next(iter(style["sources"]))]["url"] == info["vector_tilejson"]["google"]
    lon, lat = style["center"]
    assert tilejson["bounds"][0] < lon < tilejson["bounds"][2] and tilejson["bounds"][1] < lat < tilejson["bounds"][3]
    font = next(l["layout"]["text-font"][0] for l in style["layers"] if "text-font" in l.get("layout", {}))
    glyphs = urllib.parse.urlsplit(style["glyphs"]).path.replace("{fontstack}", urllib.parse.quote(font))
    status, h, body = s.get(glyphs.replace("{range}", "0-255"))
    assert status == 200 and h["Content-Type"] == "application/x-protobuf" and body[:1] == b"\x0a"
    for bad in ["0-256", "1-256", "65536-65791"]:
        assert s.get(glyphs.replace("{range}", bad))[0] == 404, bad
    for bad in ["/fonts/..%2F..%2Fshare/0-255.pbf", "/fonts/%2E%2E/0-255.pbf", "/fonts/.hidden/0-255.pbf",
                "/fonts/Nothing/0-255.pbf", "/fonts/a/b/0-255.pbf"]:
        assert s.get(bad)[0] == 404, bad
    collection = json.loads(s.get("/ogcapi/collections/map")[2])
    assert any(l["rel"].endswith("tilesets-vector") for l in collection["links"])
    assert "/collections/map/tiles/{tileMatrixSetId}/{tileMatrix}/{tileRow}/{tileCol}" in \
        json.loads(s.get("/ogcapi/api")[2])["paths"]
    if subprocess.run(["/usr/bin/python3", "-c", "import qgis.core"], capture_output=True).returncode != 0:
        print("vector_tiles: QGIS's vector tile layer not checked: python3-qgis is not installed")
        return
    template = s.url("/tiles/google/%7Bz%7D/%7Bx%7D/%7By%7D.mvt")
    r = subprocess.run(["/usr/bin/python3", os.path.join(os.path.dirname(__file__), "qgis_vector_tiles.py"),
                        template, "14", "13519000", "2877000", "13523000", "2881000", os.path.join(tmp, "qgis.png")],
                       capture_output=True, text=True, timeout=300, env={**os.environ, "QT_QPA_PLATFORM": "offscreen"})
    share = float(r.stdout.split()[-1])
    assert share > 0.1, (share, r.stderr)


def test_ogcapi(s, tmp):
    """OGC API, each check on its own (in this order: the maps are drawn first, on the one
    worker's fresh engine, whose pictures depend on the order in which tiles entered its
    cache)."""
    for check in (check_ogcapi_documents, check_ogcapi_collections_listed, check_ogcapi_maps, check_ogcapi_features, check_ogcapi_paging, check_ogcapi_lonlat_box, check_ogcapi_errors, check_ogcapi_tiles, check_ogcapi_matrix_sets, check_tilejson_and_cors):
        check(s, tmp)


GROUPS = {
    "process": (test_process, ["--timeout", "2"]),
    "wms_capabilities": (test_wms_capabilities, []),
    "wms_getmap": (test_wms_getmap, []),
    "feature_info": (test_feature_info, []),
    "wmts": (test_wmts, []),
    "scale_factor": (test_scale_factor, []),
    "api": (test_api, []),
    "viewer_files": (test_viewer_files, []),
    "ogcapi": (test_ogcapi, ["--workers", "1"]),
    "vector_tiles": (test_vector_tiles, ["--workers", "1"]),
}


def main():
    global ARGS
    p = argparse.ArgumentParser()
    p.add_argument("--kserve", required=True)
    p.add_argument("--kview", required=True)
    p.add_argument("--bmpref", required=True)
    p.add_argument("--data", required=True)
    p.add_argument("group", choices=[*GROUPS, "scale_out"])
    ARGS = p.parse_args()
    ARGS.root = os.path.abspath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
    with tempfile.TemporaryDirectory(prefix="kserve-test-") as tmp:
        if ARGS.group == "scale_out":
            test_scale_out(tmp)
        else:
            fn, extra = GROUPS[ARGS.group]
            s = Server(extra=extra)
            try:
                fn(s, tmp)
            finally:
                if s.proc.poll() is None:
                    s.stop()
    print(f"{ARGS.group}: ok")


if __name__ == "__main__":
    main()
