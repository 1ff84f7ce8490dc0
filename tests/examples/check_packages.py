#!/usr/bin/python3
"""check_packages.py: makes the Debian packages of the build (cpack -G DEB), checks them with
lintian (no errors), installs them with dpkg into a private folder (--instdir, with a dpkg
database of its own) and runs kview and the server from the installed files.

- the packages hold what they should: the libraries, the programs, the manual pages, the
  activation file naming /usr/libexec/tessera/tessera, copyright and changelog;
- the installed kview draws the installed sample data set (Pillow decodes the PNG);
- the installed server, started by a private bus, draws a view with the engine it finds
  relative to itself in the installed /usr/lib.
The programs are run with the installed /usr/lib as their library path, since the packages
install without run paths (a system of their own would search /usr/lib anyway).

Usage: check_packages.py BUILD_DIR
"""
import os
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from check_installed import CENTRE, serve_and_draw  # noqa: E402

from PIL import Image  # noqa: E402

PACKAGES = ("kestrel-engine", "kestrel-tools", "kestrel-server", "kestrel-sample-data")


def main():
    build = sys.argv[1]
    root = tempfile.mkdtemp(prefix="kestrel-deb-")
    failures = []

    def check(cond, what, detail=""):
        print(("ok   " if cond else "FAIL ") + what)
        if not cond:
            failures.append(what)
            if detail:
                print("     " + str(detail).replace("\n", "\n     ")[:4000])

    try:
        out = os.path.join(root, "debs")
        r = subprocess.run(["cpack", "-G", "DEB", "--config",
                            os.path.join(build, "CPackConfig.cmake"), "-B", out],
                           capture_output=True, text=True)
        debs = sorted(os.path.join(out, f) for f in os.listdir(out) if f.endswith(".deb")) \
            if os.path.isdir(out) else []
        names = sorted(os.path.basename(d).split("_")[0] for d in debs)
        check(r.returncode == 0 and names == sorted(PACKAGES), "cpack makes the four packages",
              r.stdout[-2000:] + r.stderr)
        if len(debs) != len(PACKAGES):
            return 1

        r = subprocess.run(["lintian", "--fail-on", "error", "--tag-display-limit", "0"] + debs,
                           capture_output=True, text=True)
        errors = [line for line in r.stdout.splitlines() if line.startswith("E:")]
        check(r.returncode == 0 and not errors, "lintian finds no errors", r.stdout + r.stderr)

        contents = {}
        for deb in debs:
            listing = subprocess.run(["dpkg-deb", "-c", deb], capture_output=True, text=True)
            contents[os.path.basename(deb).split("_")[0]] = listing.stdout
        wanted = {"kestrel-engine": ["./usr/lib/libkestrel.so.1", "./usr/include/kestrel/kestrel.h",
                                     "./usr/lib/pkgconfig/kestrel.pc"],
                  "kestrel-tools": ["./usr/bin/kview", "./usr/bin/kimport",
                                    "./usr/share/man/man1/kview.1.gz"],
                  "kestrel-server": ["./usr/libexec/tessera/tessera",
                                     "./usr/libexec/tessera/kgrid/d4.txt",
                                     "./usr/share/dbus-1/services/tessera.tesseraClass.service",
                                     "./usr/share/man/man1/tessera.1.gz", "./usr/bin/tessera-client"],
                  "kestrel-sample-data": ["./usr/share/kestrel/sample/d4.txt"]}
        for package, files in wanted.items():
            files = files + ["./usr/share/doc/%s/copyright" % package,
                             "./usr/share/doc/%s/changelog.gz" % package]
            missing = [f for f in files if f not in contents[package]]
            check(not missing, package + " holds its files", missing)

        # dpkg into a folder of its own; unpacked only, so that no maintainer script runs.
        inst = os.path.join(root, "inst")
        admin = os.path.join(inst, "var", "lib", "dpkg")
        os.makedirs(os.path.join(admin, "updates"))
        os.makedirs(os.path.join(admin, "info"))
        open(os.path.join(admin, "status"), "w").close()
        r = subprocess.run(["dpkg", "--force-not-root", "--force-depends", "--instdir=" + inst,
                            "--admindir=" + admin, "--log=" + os.path.join(root, "dpkg.log"),
                            "--unpack"] + debs, capture_output=True, text=True)
        check(r.returncode == 0, "dpkg installs the packages into a private folder",
              r.stdout + r.stderr)
        usr = os.path.join(inst, "usr")
        env = {k: v for k, v in os.environ.items()
               if k not in ("LD_PRELOAD", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY",
                            "WAYLAND_DISPLAY")}
        env["LD_LIBRARY_PATH"] = os.path.join(usr, "lib")
        appdir = os.path.join(usr, "libexec", "tessera")

        image = os.path.join(root, "view.png")
        r = subprocess.run([os.path.join(usr, "bin", "kview"), "--data",
                            os.path.join(appdir, "kgrid"), "--centre", ",".join(CENTRE),
                            "--output", image], capture_output=True, text=True, env=env)
        ok = r.returncode == 0 and os.path.exists(image)
        if ok:
            with Image.open(image) as im:
                ok = im.size == (356, 276) and len(im.convert("RGB").getcolors(1 << 16)) > 2
        check(ok, "the packaged kview draws the packaged data set", r.stderr)

        service = os.path.join(usr, "share", "dbus-1", "services",
                               "tessera.tesseraClass.service")
        text = open(service).read() if os.path.exists(service) else ""
        check("Exec=/usr/libexec/tessera/tessera\n" in text,
              "the packaged activation file names /usr/libexec/tessera/tessera", text)
        # The bus of this test starts the server where dpkg put it.
        services = os.path.join(root, "services")
        os.makedirs(services)
        with open(os.path.join(services, "tessera.tesseraClass.service"), "w") as f:
            f.write(text.replace("Exec=/usr/", "Exec=%s/" % usr))
        ok, detail, log = serve_and_draw(root, services, os.path.join(usr, "bin", "tessera-client"),
                                         appdir, env)
        check(ok and "(engine %s/lib/libkestrel.so," % usr in log,
              "the packaged server draws a view with the packaged engine", detail)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
