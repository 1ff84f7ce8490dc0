#!/usr/bin/python3
"""A small client of the map engine in Python, through ctypes.

Loads a data set, draws a map view into a memory device context of the drawing layer, draws
the points of interest over it, exports the view with sdllgetbmp (saved as view.bmp) and
sdllgetimgfile, checks the saved BMP with Pillow against the device context pixel by pixel,
writes the district road report with dlldistroad and prints what it did.

Run it with Debian's /usr/bin/python3 (which has Pillow). Without arguments, from the
repository root after a build, it uses the build's libraries (build/lib/), its sample data set
(build/appdir/kgrid/), a fresh temporary folder and the current folder for view.bmp. Exit
status 0 when every step worked, 1 otherwise (with what is missing), 2 on a usage error.
"""
import argparse
import ctypes
import os
import sys
import tempfile

VIEW_WIDTH = 356
VIEW_HEIGHT = 276
BMP_HEADER_BYTES = 1078
NAME_ROOM = 260
HERE = os.path.dirname(os.path.abspath(__file__))
# Build folders looked at when no folder is given: build/ of the current folder first (the
# repository root), then the build folders beside this example.
BUILD_DIRS = [os.path.join(os.getcwd(), "build"), os.path.join(HERE, "..", "build"),
              os.path.join(HERE, "..", "build-dev")]


def default_build_dir():
    """The first build folder that holds the engine library, or None."""
    for build in BUILD_DIRS:
        if os.path.exists(os.path.join(build, "lib", "libkestrel.so.1")):
            return os.path.normpath(build)
    return None


def load_libraries(lib_dir):
    """Loads libkgdi and libkestrel (from lib_dir, or by the normal library search)."""
    def path(name):
        return os.path.join(lib_dir, name) if lib_dir else name

    # RTLD_GLOBAL: libkestrel finds the drawing layer already loaded.
    gdi = ctypes.CDLL(path("libkgdi.so.1"), mode=ctypes.RTLD_GLOBAL)
    engine = ctypes.CDLL(path("libkestrel.so.1"))

    hdc = ctypes.c_void_p
    gdi.CreateCompatibleDC.argtypes = [hdc]
    gdi.CreateCompatibleDC.restype = hdc
    gdi.CreateCompatibleBitmap.argtypes = [hdc, ctypes.c_int, ctypes.c_int]
    gdi.CreateCompatibleBitmap.restype = ctypes.c_void_p
    gdi.SelectObject.argtypes = [hdc, ctypes.c_void_p]
    gdi.SelectObject.restype = ctypes.c_void_p
    gdi.DeleteObject.argtypes = [ctypes.c_void_p]
    gdi.DeleteDC.argtypes = [hdc]
    gdi.SetBkMode.argtypes = [hdc, ctypes.c_int]
    gdi.GetPixel.argtypes = [hdc, ctypes.c_int, ctypes.c_int]
    gdi.GetPixel.restype = ctypes.c_uint32

    engine.sdllinit.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
    engine.dlldraw.argtypes = [hdc, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                               ctypes.c_double, ctypes.c_char_p]
    engine.dlldraw44.argtypes = [ctypes.c_int, ctypes.c_int]
    engine.sdllgetbmp.argtypes = [ctypes.c_void_p]
    engine.sdllgetimgfile.argtypes = [ctypes.c_char_p]
    engine.dlldistroad.argtypes = [ctypes.c_int]
    return gdi, engine


def check_with_pillow(path, gdi, dc):
    """Decodes the BMP with Pillow and compares every pixel with the device context."""
    from PIL import Image

    with Image.open(path) as image:
        if image.size != (VIEW_WIDTH, VIEW_HEIGHT) or image.info.get("compression") != 1:
            return "unexpected image: %s, compression %s" % (image.size,
                                                            image.info.get("compression"))
        rgb = image.convert("RGB")
        for y in range(VIEW_HEIGHT):
            for x in range(VIEW_WIDTH):
                r, g, b = rgb.getpixel((x, y))
                if gdi.GetPixel(dc, x, y) != (r | g << 8 | b << 16):
                    return "pixel (%d, %d) differs from the view" % (x, y)
    return None


def run(args):
    try:
        gdi, engine = load_libraries(args.lib_dir)
    except OSError as error:
        print("map_client.py: cannot load the engine (%s): build the project first "
              "(cmake --build build), install it, or give --lib-dir" % error, file=sys.stderr)
        return 1

    loaded = engine.sdllinit(args.data_dir.encode(), args.tmp_dir.encode())
    print("data set %s: %s" % (args.data_dir, "loaded" if loaded == 1 else "NOT loaded"))
    if loaded != 1:
        return 1

    dc = gdi.CreateCompatibleDC(None)
    bitmap = gdi.CreateCompatibleBitmap(dc, VIEW_WIDTH, VIEW_HEIGHT)
    old_bitmap = gdi.SelectObject(dc, bitmap)
    try:
        gdi.SetBkMode(dc, 1)  # TRANSPARENT: labels without boxes behind them
        drawn = engine.dlldraw(dc, args.left, args.top, VIEW_WIDTH, VIEW_HEIGHT, args.scale,
                               b"10210000")
        print("view at (%d, %d), %g m per pixel: %s"
              % (args.left, args.top, args.scale, "drawn" if drawn == 0 else "NOT drawn"))
        if drawn != 0:
            return 1
        print("points of interest: %d" % engine.dlldraw44(0, 2))

        image = ctypes.create_string_buffer(BMP_HEADER_BYTES + VIEW_WIDTH * VIEW_HEIGHT)
        n = engine.sdllgetbmp(image)
        if n < 0:
            print("sdllgetbmp refused the view", file=sys.stderr)
            return 1
        path = os.path.join(args.out_dir, "view.bmp")
        with open(path, "wb") as out:
            out.write(image.raw[:n + BMP_HEADER_BYTES])
        print("sdllgetbmp: %d bytes of RLE8 pixels, %d bytes written to %s"
              % (n, n + BMP_HEADER_BYTES, path))
        problem = check_with_pillow(path, gdi, dc)
        if problem:
            print("Pillow check failed: " + problem, file=sys.stderr)
            return 1
        print("Pillow: %s decodes to the view, pixel for pixel" % path)

        name = ctypes.create_string_buffer(NAME_ROOM)
        n2 = engine.sdllgetimgfile(name)
        if n2 < 0:
            print("sdllgetimgfile refused the view", file=sys.stderr)
            return 1
        print("sdllgetimgfile: %d bytes of RLE8 pixels in %s" % (n2, name.value.decode()))

        last = engine.dlldistroad(args.district)
        print("district %d road report: %d lines" % (args.district, last + 1))
        return 0
    finally:
        gdi.SelectObject(dc, old_bitmap)
        gdi.DeleteDC(dc)
        gdi.DeleteObject(bitmap)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("data_dir", nargs="?",
                        help="data set directory (default: the build's appdir/kgrid/)")
    parser.add_argument("tmp_dir", nargs="?",
                        help="directory for sdllgetimgfile (default: a new temporary folder)")
    parser.add_argument("out_dir", nargs="?", default=".",
                        help="where view.bmp is written (default: the current folder)")
    parser.add_argument("--lib-dir", default=None, help="folder of libkestrel.so.1 and "
                        "libkgdi.so.1 (default: the build's lib/, else the normal library "
                        "search)")
    parser.add_argument("--left", type=int, default=300000, help="west edge, world metres")
    parser.add_argument("--top", type=int, default=2767760, help="north edge, world metres")
    parser.add_argument("--scale", type=float, default=10.0, help="metres per pixel")
    parser.add_argument("--district", type=int, default=101, help="district of the report")
    args = parser.parse_args()
    try:
        import PIL  # noqa: F401  (checked first: the last step needs it)
    except ImportError:
        print("map_client.py: Pillow is missing: run it with Debian's /usr/bin/python3 "
              "(package python3-pil)", file=sys.stderr)
        return 1
    build = default_build_dir()
    if args.lib_dir is None:
        args.lib_dir = os.path.join(build, "lib") if build else ""
    if args.data_dir is None:
        if build is None:
            print("map_client.py: no build found (looked in %s): build the project or give "
                  "the data set folder" % ", ".join(os.path.normpath(b) for b in BUILD_DIRS),
                  file=sys.stderr)
            return 1
        args.data_dir = os.path.join(build, "appdir", "kgrid")
    for name in ("data_dir", "tmp_dir"):
        value = getattr(args, name)
        if value is not None and not value.endswith("/"):
            setattr(args, name, value + "/")
    if not os.path.isdir(args.data_dir):
        print("map_client.py: no data set folder %s" % args.data_dir, file=sys.stderr)
        return 1
    if args.tmp_dir is None:
        with tempfile.TemporaryDirectory(prefix="map-client-") as tmp:
            args.tmp_dir = tmp + "/"
            return run(args)
    return run(args)


if __name__ == "__main__":
    sys.exit(main())
