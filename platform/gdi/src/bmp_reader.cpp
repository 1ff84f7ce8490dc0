/*
 * bmp_reader.cpp: the BMP reader (KgdiDecodeBmp, KgdiLoadBmp, KgdiFreeImage).
 *
 * Reads 8-bit files (uncompressed or RLE8, with end-of-line, end-of-bitmap, delta and absolute
 * escapes), 24-bit and 32-bit files (BI_RGB, and 32-bit BI_BITFIELDS with one byte a channel),
 * bottom-up or top-down, with info headers of 40 bytes or longer. Every field is checked before
 * use: header sizes, the pixel data offset, the colour table, image size limits, and every run
 * against the row and the data. Malformed input gives FALSE and an empty image. Pixels that
 * RLE8 data skips (delta escapes, early line ends) are left at colour index 0. Some writers
 * encode RLE8 rows padded to a multiple of four pixels: runs may reach into that padding,
 * whose pixels are dropped, but not beyond it.
 */
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "detail.h"

namespace kgdi::detail {
namespace {

constexpr uint16_t kSignature = 0x4D42;  // "BM"
constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kInfoHeaderMin = 40;
constexpr uint32_t kInfoHeaderMax = 124;  // BITMAPV5HEADER
constexpr uint32_t kBitfields = 3;
constexpr uint32_t kMaxPalette = 256;
/* RLE8 data can declare a huge bitmap in a few bytes (end of bitmap early, delta escapes).
 * Beyond kRleFreePixels, an RLE8 image may have at most kRlePixelsPerByte pixels for each
 * byte of compressed data (the densest plain encoding gives about 128), so that a tiny file
 * cannot make the reader allocate and fill a gigabyte. */
constexpr uint64_t kRleFreePixels = uint64_t{1} << 20;
constexpr uint64_t kRlePixelsPerByte = 1024;
/* Largest file the loader reads into memory. */
constexpr uint64_t kMaxFileBytes = uint64_t{1} << 31;

/* RLE8 escape codes after a zero count byte. */
constexpr uint8_t kRleEndOfLine = 0;
constexpr uint8_t kRleEndOfBitmap = 1;
constexpr uint8_t kRleDelta = 2;

/* One bounds-checked little-endian reader over the file bytes. */
class Reader {
  public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    bool Has(uint64_t off, uint64_t n) const { return off <= size_ && n <= size_ - off; }
    uint32_t U32(size_t off) const {
        return data_[off] | (data_[off + 1] << 8) | (data_[off + 2] << 16) |
               (uint32_t{data_[off + 3]} << 24);
    }
    uint16_t U16(size_t off) const {
        return static_cast<uint16_t>(data_[off] | (data_[off + 1] << 8));
    }
    uint8_t U8(size_t off) const { return data_[off]; }
    const uint8_t* At(size_t off) const { return data_ + off; }
    size_t size() const { return size_; }

  private:
    const uint8_t* data_;
    size_t size_;
};

struct Header {
    int width = 0, height = 0;
    bool top_down = false;
    uint16_t bpp = 0;
    uint32_t compression = 0;
    uint32_t image_size = 0;
    uint32_t colors_used = 0;
    uint32_t info_size = 0;
    uint32_t data_offset = 0;
    uint32_t masks[3] = {0, 0, 0};
};

bool ReadHeader(const Reader& r, Header& h) {
    if (!r.Has(0, kFileHeaderSize + kInfoHeaderMin) || r.U16(0) != kSignature) return false;
    h.data_offset = r.U32(10);
    h.info_size = r.U32(14);
    if (h.info_size < kInfoHeaderMin || h.info_size > kInfoHeaderMax ||
        !r.Has(kFileHeaderSize, h.info_size))
        return false;
    const int32_t w = static_cast<int32_t>(r.U32(18)), ht = static_cast<int32_t>(r.U32(22));
    if (w <= 0 || ht == 0 || ht == INT32_MIN) return false;
    h.width = w;
    h.top_down = ht < 0;
    h.height = ht < 0 ? -ht : ht;
    if (h.width > kMaxBitmapSide || h.height > kMaxBitmapSide ||
        int64_t{h.width} * h.height > kMaxBitmapPixels)
        return false;
    if (r.U16(26) != 1) return false;  // planes
    h.bpp = r.U16(28);
    h.compression = r.U32(30);
    h.image_size = r.U32(34);
    h.colors_used = r.U32(46);
    const bool ok = (h.bpp == 8 && (h.compression == BI_RGB || h.compression == BI_RLE8)) ||
                    (h.bpp == 24 && h.compression == BI_RGB) ||
                    (h.bpp == 32 && (h.compression == BI_RGB || h.compression == kBitfields));
    if (!ok) return false;
    if (h.compression == BI_RLE8 && h.top_down) return false;  // compressed data is bottom-up
    if (h.compression == kBitfields) {
        // Masks follow a 40-byte header, or are part of a longer one.
        const size_t at = kFileHeaderSize + kInfoHeaderMin;
        if (!r.Has(at, 12)) return false;
        for (size_t i = 0; i < 3; ++i) h.masks[i] = r.U32(at + 4 * i);
    }
    return h.data_offset >= kFileHeaderSize + h.info_size && r.Has(h.data_offset, 0);
}

/* Shift of a one-byte channel mask, -1 when the mask is not one whole byte. */
int MaskShift(uint32_t mask) {
    for (int s = 0; s <= 24; s += 8)
        if (mask == (0xFFu << s)) return s;
    return -1;
}

bool ReadPalette(const Reader& r, const Header& h, uint32_t* palette) {
    uint32_t n = h.colors_used == 0 ? kMaxPalette : h.colors_used;
    if (n > kMaxPalette) return false;
    const uint64_t at = kFileHeaderSize + uint64_t{h.info_size};
    if (!r.Has(at, uint64_t{n} * 4) || at + uint64_t{n} * 4 > h.data_offset) {
        // A table cut short by the pixel data: take the entries that are there.
        if (h.data_offset < at) return false;
        n = static_cast<uint32_t>((h.data_offset - at) / 4);
        if (n == 0 || !r.Has(at, uint64_t{n} * 4)) return false;
    }
    for (uint32_t i = 0; i < kMaxPalette; ++i)
        palette[i] = i < n ? (r.U32(static_cast<size_t>(at) + size_t{4} * i) & 0xFFFFFFu) : 0;
    return true;
}

uint32_t* RowOf(KgdiImage& img, const Header& h, int file_row) {
    const int y = h.top_down ? file_row : h.height - 1 - file_row;
    return img.pixels + static_cast<size_t>(y) * img.width;
}

bool DecodeRle8(const Reader& r, const Header& h, const uint32_t* palette, KgdiImage& img) {
    size_t pos = h.data_offset;
    const int padded_width = (h.width + 3) & ~3;  // h.width <= kMaxBitmapSide: no overflow
    auto put = [&](uint32_t* out, int x, uint32_t colour) {
        if (x < h.width) out[x] = colour;
    };
    int x = 0, row = 0;  // row counts from the bottom
    for (int y = 0; y < h.height; ++y)
        for (int i = 0; i < h.width; ++i) RowOf(img, h, y)[i] = palette[0];
    while (true) {
        if (!r.Has(pos, 2)) return false;  // no end-of-bitmap: truncated
        const uint8_t count = r.U8(pos), value = r.U8(pos + 1);
        pos += 2;
        if (count > 0) {
            if (row >= h.height || count > padded_width - x) return false;
            uint32_t* out = RowOf(img, h, row);
            for (int i = 0; i < count; ++i) put(out, x++, palette[value]);
            continue;
        }
        if (value == kRleEndOfLine) {
            x = 0;
            ++row;
        } else if (value == kRleEndOfBitmap) {
            return true;
        } else if (value == kRleDelta) {
            if (!r.Has(pos, 2)) return false;
            const int dx = r.U8(pos), dy = r.U8(pos + 1);
            pos += 2;
            if (dx > padded_width - x || dy > h.height - row) return false;
            x += dx;
            row += dy;
        } else {  // absolute run of `value` indexes, padded to 16 bits
            const size_t padded = (value + 1u) & ~size_t{1};
            if (row >= h.height || value > padded_width - x || !r.Has(pos, padded)) return false;
            uint32_t* out = RowOf(img, h, row);
            for (int i = 0; i < value; ++i) put(out, x++, palette[r.U8(pos + i)]);
            pos += padded;
        }
    }
}

/* Bytes a row of uncompressed data takes, padded to four. */
uint64_t RawStride(const Header& h) {
    return ((uint64_t{static_cast<uint32_t>(h.width)} * h.bpp + 31) / 32) * 4;
}

bool DecodeRaw(const Reader& r, const Header& h, const uint32_t* palette, KgdiImage& img) {
    const uint64_t stride = RawStride(h);
    int shifts[3] = {16, 8, 0};
    if (h.compression == kBitfields)
        for (int i = 0; i < 3; ++i)
            if ((shifts[i] = MaskShift(h.masks[i])) < 0) return false;
    for (int y = 0; y < h.height; ++y) {
        const uint8_t* in = r.At(static_cast<size_t>(h.data_offset + stride * y));
        uint32_t* out = RowOf(img, h, y);
        for (ptrdiff_t x = 0; x < h.width; ++x) {
            if (h.bpp == 8) {
                out[x] = palette[in[x]];
            } else if (h.bpp == 24) {
                out[x] = in[3 * x] | (in[3 * x + 1] << 8) | (uint32_t{in[3 * x + 2]} << 16);
            } else {
                uint32_t v;
                std::memcpy(&v, in + 4 * x, 4);
                out[x] = (((v >> shifts[0]) & 0xFF) << 16) | (((v >> shifts[1]) & 0xFF) << 8) |
                         ((v >> shifts[2]) & 0xFF);
            }
        }
    }
    return true;
}

}  // namespace
}  // namespace kgdi::detail

using namespace kgdi::detail;

extern "C" {

KGDI_API void KgdiFreeImage(KgdiImage* image) noexcept try {
    if (!image) return;
    std::free(image->pixels);
    *image = KgdiImage{nullptr, 0, 0};
} catch (...) {
    return;
}

KGDI_API BOOL KgdiDecodeBmp(const void* data, size_t size, KgdiImage* image) noexcept try {
    if (!image) return FALSE;
    *image = KgdiImage{nullptr, 0, 0};
    if (!data) return FALSE;
    const Reader r(static_cast<const uint8_t*>(data), size);
    Header h;
    if (!ReadHeader(r, h)) return FALSE;
    uint32_t palette[kMaxPalette] = {};
    if (h.bpp == 8 && !ReadPalette(r, h, palette)) return FALSE;
    // Uncompressed data must all be there before any memory is given to the image.
    if (h.compression != BI_RLE8 && !r.Has(h.data_offset, RawStride(h) * h.height)) return FALSE;
    const uint64_t pixels =
        uint64_t{static_cast<uint32_t>(h.width)} * static_cast<uint32_t>(h.height);
    if (h.compression == BI_RLE8 && pixels > kRleFreePixels &&
        pixels > (r.size() - h.data_offset) * kRlePixelsPerByte)
        return FALSE;
    KgdiImage img{static_cast<uint32_t*>(std::malloc(static_cast<size_t>(h.width) * h.height * 4)),
                  h.width, h.height};
    if (!img.pixels) return FALSE;
    const bool ok =
        h.compression == BI_RLE8 ? DecodeRle8(r, h, palette, img) : DecodeRaw(r, h, palette, img);
    if (!ok) {
        std::free(img.pixels);
        return FALSE;
    }
    *image = img;
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API BOOL KgdiLoadBmp(const char* path, KgdiImage* image) noexcept try {
    if (!image) return FALSE;
    *image = KgdiImage{nullptr, 0, 0};
    if (!path) return FALSE;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return FALSE;
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size <= 0 || static_cast<uint64_t>(size) > kMaxFileBytes) return FALSE;
        in.seekg(0);
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return FALSE;
        return KgdiDecodeBmp(bytes.data(), bytes.size(), image);
    } catch (...) {
        return FALSE;
    }
} catch (...) {
    return FALSE;
}

}  // extern "C"
