#!/usr/bin/python3
"""The share of ink that two drawings of the same map view agree on, within one pixel.

    ink_agreement.py WINDOWS.png LINUX.png [--min SHARE]

Ink is every pixel that is not the picture's background (its most common colour). A pixel of
ink agrees when the other picture has ink of the same colour at the same place or one pixel
away (its 3 x 3 neighbourhood). The share is counted both ways and the smaller is reported,
for all ink and for each colour that covers at least 0.5 % of the picture. Text is drawn by
different font renderers and is expected to disagree; lines and areas should not.
With --min, the exit status is 1 when a colour's share (all colours but the text's, black)
is below SHARE.
"""
import sys
from collections import Counter

from PIL import Image


def load(path):
    image = Image.open(path).convert("RGB")
    pixels = image.load()
    w, h = image.size
    grid = [[pixels[x, y] for x in range(w)] for y in range(h)]
    background = Counter(c for row in grid for c in row).most_common(1)[0][0]
    return grid, w, h, background


def agreeing(a, b, w, h, a_bg, b_bg):
    """Counts of ink pixels of `a` by colour, and of those that `b` agrees with."""
    total, agreed = Counter(), Counter()
    for y in range(h):
        for x in range(w):
            c = a[y][x]
            if c == a_bg:
                continue
            total[c] += 1
            if any(b[yy][xx] == c and c != b_bg
                   for yy in range(max(0, y - 1), min(h, y + 2))
                   for xx in range(max(0, x - 1), min(w, x + 2))):
                agreed[c] += 1
    return total, agreed


def main():
    args = sys.argv[1:]
    floor = None
    if "--min" in args:
        i = args.index("--min")
        floor = float(args[i + 1])
        del args[i:i + 2]
    a, w, h, a_bg = load(args[0])
    b, w2, h2, b_bg = load(args[1])
    if (w, h) != (w2, h2):
        print(f"ink_agreement: sizes differ: {w}x{h} and {w2}x{h2}", file=sys.stderr)
        return 1
    ta, aa = agreeing(a, b, w, h, a_bg, b_bg)
    tb, ab = agreeing(b, a, w, h, b_bg, a_bg)
    share = lambda t, g: g / t if t else 1.0
    overall = min(share(sum(ta.values()), sum(aa.values())), share(sum(tb.values()), sum(ab.values())))
    print(f"view {w}x{h}: ink {sum(ta.values())} and {sum(tb.values())} pixels, "
          f"agreement within one pixel {overall:.3f}")
    low = False
    for colour, n in (ta + tb).most_common():
        if n < 0.005 * w * h * 2:
            break
        s = min(share(ta[colour], aa[colour]), share(tb[colour], ab[colour]))
        print(f"  colour {colour}: {ta[colour]} and {tb[colour]} pixels, agreement {s:.3f}")
        if floor is not None and colour != (0, 0, 0) and s < floor:
            low = True
    return 1 if low else 0


if __name__ == "__main__":
    sys.exit(main())
