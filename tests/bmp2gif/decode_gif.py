#!/usr/bin/python3
"""Decodes a GIF file with Pillow for the converter tests.

Prints one line "WIDTH HEIGHT COLOURS INTERLACED" (COLOURS: distinct colours of the image,
INTERLACED: 1 when the first image descriptor has the interlace bit) and one line with the
RGB bytes of the pixels, rows top-down, in hexadecimal. Exits 1 when the file is not a GIF.
"""
import sys

from PIL import Image


def first_image_interlaced(data):
    """Reads the interlace bit of the first image descriptor from the GIF's blocks."""
    pos = 13
    if data[10] & 0x80:  # global colour table present
        pos += 3 << ((data[10] & 7) + 1)
    while data[pos] == 0x21:  # extensions: label, then sub-blocks up to a zero length
        pos += 2
        while data[pos]:
            pos += data[pos] + 1
        pos += 1
    return data[pos] == 0x2C and bool(data[pos + 9] & 0x40)


def main(path):
    image = Image.open(path)
    if image.format != "GIF":
        return 1
    with open(path, "rb") as f:
        interlaced = first_image_interlaced(f.read())
    colours = image.convert("RGB").getcolors(1 << 24)
    print(image.size[0], image.size[1], len(colours), 1 if interlaced else 0)
    print(image.convert("RGB").tobytes().hex())
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
