/*
 * kgdi_rle8.h: the drawing layer's RLE8 encoder, for the 8-bit BI_RLE8 conversion of GetDIBits.
 *
 * It is a C++ interface of its own, free of the layer's handles and types, so that a build of
 * the engine on the platform's own GDI (which may decline BI_RLE8) encodes with the same code
 * and gives the same bytes as this layer. It is not exported from libkgdi.so.
 */
#ifndef KGDI_RLE8_H
#define KGDI_RLE8_H

#include <cstddef>
#include <cstdint>

namespace kgdi {

inline constexpr int kRle8PaletteSize = 256;

/* Rows of 32-bit pixels 0x00RRGGBB in the order they are encoded: the picture's bottom row
 * first. Row k starts at first + k * step (step in pixels; negative walks up a top-down
 * buffer). */
struct Rle8Rows {
    const uint32_t* first;
    int width;
    int rows;
    std::ptrdiff_t step;
    const uint32_t* Row(int k) const { return first + step * k; }
};

/* Gives every pixel an index into a colour table of 256 entries (exact when the rows hold at
 * most 256 colours, in order of first appearance; otherwise a median-cut reduction) and
 * compresses the indexes with RLE8 (every row ends with end-of-line, the data with
 * end-of-bitmap; no delta escapes). Writes the table to `palette` as 0x00RRGGBB words (unused
 * entries 0) and the data to `out`, never more than `room` bytes; `out` may be null to learn
 * only the size. Returns the compressed size, 0 when it does not fit `room`. May throw
 * std::bad_alloc. */
size_t EncodeRle8(const Rle8Rows& rows, uint8_t* out, size_t room,
                  uint32_t (&palette)[kRle8PaletteSize]);

}  // namespace kgdi

#endif /* KGDI_RLE8_H */
