#!/usr/bin/python3
"""check_kview.py: runs the kview command on a data set and checks the images it writes with
Pillow, independently of the engine: their size, that the view shows road colours of the
colour table and black label text, that BMP and PNG hold the same picture, that the same view
at scale factors 2 and 3 is 2 and 3 times as large, inks about 4 and 9 times the pixels and
adds no colour, and that bad command lines are refused with a message.

Usage: check_kview.py KVIEW DATA_DIR WORK_DIR CENTRE_X,CENTRE_Y
"""
import os
import subprocess
import sys

from PIL import Image


def run(args):
    return subprocess.run(args, capture_output=True, text=True, timeout=120)


def main():
    kview, data, work, centre = sys.argv[1:5]
    os.makedirs(work, exist_ok=True)
    failures = []

    def check(cond, what):
        print(("ok   " if cond else "FAIL ") + what)
        if not cond:
            failures.append(what)

    r = run([kview, "--help"])
    check(r.returncode == 0 and "--centre" in r.stdout, "--help explains the options")
    r = run([kview, "--data", data])
    check(r.returncode == 2 and "kview:" in r.stderr, "a missing --output is refused")
    r = run([kview, "--data", data, "--centre", centre, "--scale", "0.5", "--output",
             os.path.join(work, "x.png")])
    check(r.returncode == 2 and "--scale" in r.stderr, "a scale below 1 is refused")
    r = run([kview, "--data", os.path.join(work, "nowhere"), "--centre", centre, "--output",
             os.path.join(work, "x.png")])
    check(r.returncode == 1 and "data set" in r.stderr, "a directory without a data set fails")

    png = os.path.join(work, "view.png")
    bmp = os.path.join(work, "view.bmp")
    for out in (png, bmp):
        r = run([kview, "--data", data, "--centre", centre, "--scale", "5", "--output", out])
        check(r.returncode == 0, "draws " + os.path.basename(out) + " " + r.stderr.strip())
    if failures:
        return 1
    a = Image.open(png).convert("RGB")
    b = Image.open(bmp).convert("RGB")
    check(a.size == (356, 276), "the default size is the server's 356 x 276")
    check(list(a.getdata()) == list(b.getdata()), "BMP and PNG hold the same picture")
    colours = {c for _, c in a.getcolors(1 << 16)}
    road_colours = {(128, 64, 64), (164, 124, 96), (190, 0, 0), (255, 0, 0), (255, 100, 100)}
    check(len(colours & road_colours) >= 2, "roads in the colours of the colour table")
    check((0, 0, 0) in colours, "black label text")
    check((255, 255, 255) in colours, "white where nothing is drawn")

    for factor in (2, 3):
        out = os.path.join(work, "view-%dx.png" % factor)
        r = run([kview, "--data", data, "--centre", centre, "--scale", "5", "--scale-factor",
                 str(factor), "--output", out])
        check(r.returncode == 0, "draws the view at scale factor %d %s" % (factor, r.stderr.strip()))
        if r.returncode != 0:
            continue
        d = Image.open(out).convert("RGB")
        check(d.size == (356 * factor, 276 * factor), "scale factor %d: %d x %d pixels" %
              (factor, 356 * factor, 276 * factor))
        inked = [sum(1 for p in img.getdata() if p != (255, 255, 255)) for img in (a, d)]
        ratio = inked[1] / inked[0]
        check(0.75 * factor ** 2 < ratio < 1.25 * factor ** 2,
              "scale factor %d inks %.2f times the pixels of the 1x view" % (factor, ratio))
        more = {c for _, c in d.getcolors(1 << 20)} - colours
        check(not more, "scale factor %d adds no colour (no antialiasing): %s" % (factor, more))
    r = run([kview, "--data", data, "--centre", centre, "--scale-factor", "4", "--output",
             os.path.join(work, "x.png")])
    check(r.returncode == 2 and "--scale-factor" in r.stderr, "a scale factor of 4 is refused")

    big = os.path.join(work, "big.png")
    r = run([kview, "--data", data, "--centre", centre, "--scale", "400", "--size", "300x200",
             "--layers", "1000", "--output", big])
    check(r.returncode == 0, "draws a small-scale view with the background")
    if r.returncode == 0:
        c = Image.open(big).convert("RGB")
        check(c.size == (300, 200) and c.getpixel((0, 0)) == (0, 255, 255),
              "the background of entry 0 fills the corner")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
