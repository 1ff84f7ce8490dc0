#!/usr/bin/python3
"""Decodes a BMP file with Pillow, independently of the drawing layer under test.

Usage: decode_bmp.py IMAGE.bmp OUT.rgb

Writes the pixels as raw RGB bytes, rows top-down, to OUT.rgb and prints one line:
"WIDTH HEIGHT MODE COMPRESSION" (compression as Pillow reports it, 1 for RLE8).
"""
import sys

from PIL import Image


def main() -> int:
    if len(sys.argv) != 3:
        print(__doc__, file=sys.stderr)
        return 2
    with Image.open(sys.argv[1]) as image:
        compression = image.info.get("compression", -1)
        mode = image.mode
        rgb = image.convert("RGB")
        with open(sys.argv[2], "wb") as out:
            out.write(rgb.tobytes())
        print(image.width, image.height, mode, compression)
    return 0


if __name__ == "__main__":
    sys.exit(main())
