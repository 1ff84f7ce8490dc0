#!/usr/bin/python3
"""check_installed.py: installs the build into a fresh temporary prefix and uses the installed
files only, as a user of that prefix would: no LD_LIBRARY_PATH, no build tree.

- the manual pages are installed (compressed) into <prefix>/share/man/man1;
- kview from <prefix>/bin draws the installed sample data set into a PNG (decoded with Pillow);
- the installed activation file names the installed server;
- on a private bus whose service folder is <prefix>/share/dbus-1/services, the installed
  tessera-client makes the bus start the installed tessera, which draws a view (decoded with
  Pillow) with the engine bound from <prefix>'s library folder.

Usage: check_installed.py BUILD_DIR LIBDIR LIBEXECDIR [PREFIX_ROOT]
LIBDIR and LIBEXECDIR are the install folders relative to the prefix.
"""
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import private_bus  # noqa: E402

CENTRE = ("302000", "2770000")


def serve_and_draw(root, service_dir, client, appdir, env):
    """Starts a private bus whose service folder is `service_dir`, has `client` ask it for a
    view (the bus starts the server) and ends the server. Returns (whether the view came back
    as a 356 x 276 BMP, what to show when not, the server's log)."""
    with open(os.path.join(root, "daemon.log"), "w") as daemon_log:
        daemon, address = private_bus.start_bus(root, service_dir, env, daemon_log)
    try:
        bmp = os.path.join(root, "server.bmp")
        r = subprocess.run([client, "--bus", address, "draw3", CENTRE[0], CENTRE[1], "10", bmp],
                           capture_output=True, text=True, env=env, timeout=120)
        ok = r.returncode == 0 and os.path.exists(bmp)
        if ok:
            with Image.open(bmp) as im:
                ok = im.format == "BMP" and im.size == (356, 276)
        log_path = os.path.join(appdir, "tmp", "tessera.log")
        log = open(log_path).read() if os.path.exists(log_path) else ""
        subprocess.run([client, "--bus", address, "myend"], capture_output=True, env=env,
                       timeout=60)
        return ok, r.stdout + r.stderr + log, log
    finally:
        private_bus.stop_bus(daemon)


def main():
    build, libdir, libexecdir = sys.argv[1:4]
    root = tempfile.mkdtemp(prefix="kestrel-install-",
                            dir=sys.argv[4] if len(sys.argv) > 4 else None)
    failures = []

    def check(cond, what, detail=""):
        print(("ok   " if cond else "FAIL ") + what)
        if not cond:
            failures.append(what)
            if detail:
                print("     " + str(detail).replace("\n", "\n     "))

    # Nothing of the build tree may leak into the installed programs' library search.
    env = {k: v for k, v in os.environ.items() if k not in ("LD_LIBRARY_PATH", "LD_PRELOAD")}
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    env.pop("DISPLAY", None)
    env.pop("WAYLAND_DISPLAY", None)
    try:
        prefix = os.path.join(root, "opt", "kestrel")
        r = subprocess.run(["cmake", "--install", build, "--prefix", prefix],
                           capture_output=True, text=True)
        if r.returncode != 0:
            check(False, "cmake --install into a temporary prefix", r.stdout + r.stderr)
            return 1
        appdir = os.path.join(prefix, libexecdir, "tessera")

        image = os.path.join(root, "view.png")
        r = subprocess.run([os.path.join(prefix, "bin", "kview"), "--data",
                            os.path.join(appdir, "kgrid"), "--centre", ",".join(CENTRE),
                            "--output", image], capture_output=True, text=True, env=env)
        ok = r.returncode == 0 and os.path.exists(image)
        if ok:
            with Image.open(image) as im:
                ok = im.format == "PNG" and im.size == (356, 276) and \
                    len(im.convert("RGB").getcolors(1 << 16) or []) > 2
        check(ok, "the installed kview draws a view without a library path", r.stderr)

        pages = [p for p in ("kview", "kimport", "kdataset-dump", "tessera", "tessera-client")
                 if not os.path.exists(os.path.join(prefix, "share", "man", "man1", p + ".1.gz"))]
        check(not pages, "the manual pages are installed", pages)

        service_dir = os.path.join(prefix, "share", "dbus-1", "services")
        with open(os.path.join(service_dir, "tessera.tesseraClass.service")) as f:
            service = f.read()
        server = os.path.join(appdir, "tessera")
        check("Exec=%s\n" % server in service, "the activation file names the installed server",
              service)

        client = os.path.join(prefix, "bin", "tessera-client")
        ok, detail, log = serve_and_draw(root, service_dir, client, appdir, env)
        check(ok, "the installed server, started by the bus, draws a view", detail)
        engine = os.path.normpath(os.path.join(prefix, libdir, "libkestrel.so"))
        check("(engine %s," % engine in log, "the installed server binds the prefix's engine",
              log)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
