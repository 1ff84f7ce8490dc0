#!/usr/bin/python3
"""Writes the program's icon: a 32 x 32 and a 16 x 16 image with 16 colours each, a light
yellow map sheet crossed by two roads.

Usage: make_icon.py OUTPUT.ico
"""
import struct
import sys

# The 16 colours of the standard palette (blue, green, red, reserved).
PALETTE = [
    (0, 0, 0), (0, 0, 128), (0, 128, 0), (0, 128, 128), (128, 0, 0), (128, 0, 128),
    (128, 128, 0), (192, 192, 192), (128, 128, 128), (0, 0, 255), (0, 255, 0),
    (0, 255, 255), (255, 0, 0), (255, 0, 255), (255, 255, 0), (255, 255, 255),
]
BLACK, DARK_RED, LIGHT_YELLOW, RED, BLUE = 0, 4, 14, 12, 9


def pixel(x, y, size):
    """Colour index at (x, y), y growing downward."""
    edge = size - 1
    if x in (0, edge) or y in (0, edge):
        return BLACK
    if abs(x - y) <= size // 16:  # a road from the top left to the bottom right
        return RED
    if abs(y - (edge - x // 2)) <= size // 16 - (1 if size < 32 else 0):  # a second road
        return BLUE
    return LIGHT_YELLOW


def image(size):
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
    rows = []
    for y in reversed(range(size)):  # bottom-up
        row = bytearray()
        for x in range(0, size, 2):
            row.append(pixel(x, y, size) << 4 | pixel(x + 1, y, size))
        row += b"\0" * (-len(row) % 4)
        rows.append(bytes(row))
    mask_row = b"\0" * ((size // 8 + 3) // 4 * 4)  # every pixel opaque
    return header + palette + b"".join(rows) + mask_row * size


def main(path):
    images = [image(32), image(16)]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, data in zip((32, 16), images):
        out += struct.pack("<BBBBHHII", size, size, 16, 0, 1, 4, len(data), offset)
        offset += len(data)
    open(path, "wb").write(out + b"".join(images))


if __name__ == "__main__":
    main(sys.argv[1])
