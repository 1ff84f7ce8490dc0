#!/usr/bin/python3
"""check_serve_imported.py: serves a data set made by kimport as docs/server.md says: an AppDir
of its own with a copy of the server, tmp/ and the data set linked as kgrid, registered with
`tessera --regserver`; a private bus uses the registration, starts that server, and the view
it draws (decoded with Pillow) shows the imported roads.

Usage: check_serve_imported.py KIMPORT TESSERA TESSERA_CLIENT
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import private_bus  # noqa: E402

CENTRE = (302000, 2771000)


def geojson(path):
    """A few named roads across the view, in EPSG:3826 metres."""
    x, y = CENTRE
    roads = [("primary", "Harbour Road", [[x - 1500, y], [x + 1500, y + 40]]),
             ("secondary", "Hill Street", [[x, y - 1200], [x + 60, y + 1200]]),
             ("residential", "Lane 3", [[x - 800, y - 600], [x + 800, y - 500]])]
    doc = {"type": "FeatureCollection",
           "crs": {"type": "name", "properties": {"name": "urn:ogc:def:crs:EPSG::3826"}},
           "features": [{"type": "Feature", "properties": {"highway": kind, "name": name},
                         "geometry": {"type": "LineString", "coordinates": coords}}
                        for kind, name, coords in roads]}
    with open(path, "w") as f:
        json.dump(doc, f)


def main():
    kimport, tessera, client = sys.argv[1:4]
    root = tempfile.mkdtemp(prefix="kestrel-serve-")
    env = {k: v for k, v in os.environ.items()
           if k not in ("DBUS_SESSION_BUS_ADDRESS", "DISPLAY", "WAYLAND_DISPLAY")}
    env["XDG_DATA_HOME"] = os.path.join(root, "xdg")
    daemon = None
    failures = []

    def check(cond, what, detail=""):
        print(("ok   " if cond else "FAIL ") + what)
        if not cond:
            failures.append(what)
            if detail:
                print("     " + str(detail).replace("\n", "\n     ")[:3000])

    try:
        source = os.path.join(root, "roads.geojson")
        geojson(source)
        data = os.path.join(root, "data", "taipei")
        r = subprocess.run([kimport, "-q", source, "-o", data], capture_output=True, text=True)
        check(r.returncode == 0, "kimport makes the data set", r.stderr)
        if r.returncode != 0:
            return 1

        app = os.path.join(root, "tessera-taipei")
        os.makedirs(os.path.join(app, "tmp"))
        shutil.copy2(tessera, app)
        os.symlink(data, os.path.join(app, "kgrid"))
        r = subprocess.run([os.path.join(app, "tessera"), "--regserver"], capture_output=True,
                           text=True, env=env)
        check(r.returncode == 0, "the copy registers itself", r.stderr)

        services = os.path.join(env["XDG_DATA_HOME"], "dbus-1", "services")
        daemon_log = open(os.path.join(root, "daemon.log"), "w")
        daemon, address = private_bus.start_bus(root, services, env, daemon_log)
        bmp = os.path.join(root, "view.bmp")
        r = subprocess.run(["/usr/bin/python3", client, "--bus=" + address, "draw3",
                            str(CENTRE[0]), str(CENTRE[1]), "10", bmp],
                           capture_output=True, text=True, env=env, timeout=120)
        log_path = os.path.join(app, "tmp", "tessera.log")
        log = open(log_path).read() if os.path.exists(log_path) else ""
        ok = r.returncode == 0 and os.path.exists(bmp) and "starting in %s " % app in log
        colours = set()
        if ok:
            with Image.open(bmp) as im:
                colours = {c for _, c in im.convert("RGB").getcolors(1 << 16)}
        # The imported roads: more than the background and the label text.
        check(ok and len(colours) >= 4, "the server draws the imported data set from its AppDir",
              (r.stderr, log, colours))
        subprocess.run(["/usr/bin/python3", client, "--bus", address, "myend"],
                       capture_output=True, env=env, timeout=60)
    finally:
        if daemon is not None:
            private_bus.stop_bus(daemon)
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
