#!/usr/bin/python3
"""Writes common/src/big5_table.inc, the code page 950 table of kcommon's Big5 codec.

The table is made once from the C library's "CP950" converter (glibc iconv), so that the
codec gives the same characters the programs had through iconv, on every platform and with
no converter at run time:
    /usr/bin/python3 common/tools/gen_big5_table.py > common/src/big5_table.inc
"""
import ctypes
import sys

LEADS = range(0xA1, 0xFA)  # the code page has characters under these lead bytes only
TRAILS = list(range(0x40, 0x7F)) + list(range(0xA1, 0xFF))

libc = ctypes.CDLL("libc.so.6")
libc.iconv_open.restype = ctypes.c_void_p
libc.iconv_open.argtypes = [ctypes.c_char_p, ctypes.c_char_p]
libc.iconv.restype = ctypes.c_size_t
libc.iconv.argtypes = [ctypes.c_void_p] * 5


def converter(to, frm):
    cd = libc.iconv_open(to.encode(), frm.encode())
    if cd in (None, ctypes.c_void_p(-1).value):
        sys.exit(f"gen_big5_table: the C library cannot convert {frm} to {to}")
    return cd


def convert(cd, data):
    """The whole conversion of `data`, or None when the converter refuses any of it."""
    src = ctypes.create_string_buffer(data, len(data))
    dst = ctypes.create_string_buffer(16)
    src_p = ctypes.c_void_p(ctypes.addressof(src))
    dst_p = ctypes.c_void_p(ctypes.addressof(dst))
    src_left = ctypes.c_size_t(len(data))
    dst_left = ctypes.c_size_t(16)
    libc.iconv(cd, None, None, None, None)
    r = libc.iconv(cd, ctypes.byref(src_p), ctypes.byref(src_left), ctypes.byref(dst_p),
                   ctypes.byref(dst_left))
    if r == ctypes.c_size_t(-1).value or src_left.value != 0:
        return None
    return dst.raw[:16 - dst_left.value]


decoder = converter("UTF-32LE", "CP950")
encoder = converter("CP950", "UTF-32LE")
table = []
codes = {}
for lead in LEADS:
    for trail in TRAILS:
        out = convert(decoder, bytes([lead, trail]))
        cp = int.from_bytes(out, "little") if out is not None and len(out) == 4 else 0
        if cp > 0xFFFF:
            sys.exit(f"gen_big5_table: {lead:02X}{trail:02X} is beyond 16 bits")
        table.append(cp)
        if cp:
            codes.setdefault(cp, []).append(lead << 8 | trail)

# Where two pairs give one code point, the encoder gives one of them: the other is decoded only.
decode_only = []
for cp, pairs in sorted(codes.items()):
    out = convert(encoder, cp.to_bytes(4, "little"))
    chosen = int.from_bytes(out, "big") if out is not None and len(out) == 2 else None
    if chosen not in pairs:
        sys.exit(f"gen_big5_table: U+{cp:04X} encodes to none of its pairs")
    decode_only += [p for p in pairs if p != chosen]
# Nothing outside the table may encode to two bytes.
for cp in range(0x80, 0x10000):
    if cp in codes or 0xD800 <= cp < 0xE000:
        continue
    out = convert(encoder, cp.to_bytes(4, "little"))
    if out is not None and len(out) == 2:
        sys.exit(f"gen_big5_table: U+{cp:04X} encodes to {out.hex()} but no pair decodes to it")

w = sys.stdout.write
w("// big5_table.inc: code page 950, made by common/tools/gen_big5_table.py from the C library's\n")
w("// CP950 converter; not edited by hand. Included by big5.cpp only.\n")
w("// clang-format off\n\n")
w(f"// The code point of each pair: lead bytes 0x{LEADS[0]:02X} to 0x{LEADS[-1]:02X}, {len(TRAILS)} trail bytes each\n")
w("// (0x40 to 0x7E, then 0xA1 to 0xFE); 0 where the pair is no character.\n")
w(f"constexpr std::uint16_t kBig5Codes[{len(table)}] = {{\n")
for row in range(0, len(table), 12):
    w("    " + " ".join(f"0x{v:04X}," for v in table[row:row + 12]) + "\n")
w("};\n\n")
w("// Pairs that decode to the code point of another pair, which the encoder gives instead.\n")
w(f"constexpr std::uint16_t kBig5DecodeOnly[{len(decode_only)}] = {{\n    ")
w(" ".join(f"0x{p:04X}," for p in sorted(decode_only)) + "\n};\n\n// clang-format on\n")
