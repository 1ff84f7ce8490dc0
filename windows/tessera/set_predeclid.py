#!/usr/bin/python3
"""Marks the coclasses of a compiled type library (MSFT format) as having a predeclared
instance (TYPEFLAG_FPREDECLID), which the IDL compiler cannot express.

Usage: set_predeclid.py LIBRARY.tlb
"""
import struct
import sys

TKIND_COCLASS = 5
TYPEFLAG_FPREDECLID = 0x8
HEADER_BYTES = 0x54
HELPDLLFLAG = 0x100
TYPEINFO_FLAGS = 48  # offset of the flags in a type description


def main(path):
    data = bytearray(open(path, "rb").read())
    magic, _, _, _, _, varflags, _, _, count = struct.unpack_from("<9I", data, 0)
    if magic != 0x5446534D:
        sys.exit(f"{path}: not a type library in the MSFT format")
    pos = HEADER_BYTES + (4 if varflags & HELPDLLFLAG else 0)
    offsets = struct.unpack_from(f"<{count}I", data, pos)
    segment = struct.unpack_from("<I", data, pos + 4 * count)[0]  # first segment: type infos
    marked = 0
    for offset in offsets:
        base = segment + offset
        if struct.unpack_from("<I", data, base)[0] & 0xF == TKIND_COCLASS:
            flags = struct.unpack_from("<I", data, base + TYPEINFO_FLAGS)[0]
            struct.pack_into("<I", data, base + TYPEINFO_FLAGS, flags | TYPEFLAG_FPREDECLID)
            marked += 1
    if marked == 0:
        sys.exit(f"{path}: no coclass found")
    open(path, "wb").write(data)


if __name__ == "__main__":
    main(sys.argv[1])
