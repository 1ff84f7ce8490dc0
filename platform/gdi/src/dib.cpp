/*
 * dib.cpp: GetDIBits, the conversion of a bitmap to device-independent formats.
 *
 * BI_RGB 24 and 32 bits are plain row copies. BI_RLE8 gives every pixel an index into a
 * 256-entry colour table and compresses the indexes with the RLE8 scheme: the encoder of
 * rle8.cpp (kgdi_rle8.h), where its rules are described.
 * The output never goes past the room given in biSizeImage: when it would, the call fails.
 */
#include <algorithm>
#include <cstring>

#include "detail.h"
#include "kgdi_rle8.h"

namespace kgdi::detail {
namespace {

constexpr int kInfoHeaderSize = 40;

/* Rows of a bitmap in the order they are converted (bottom row first). */
struct Band {
    const Bitmap* bitmap;
    int first_row;  // top-down index of the first row converted
    int rows;       // converted rows, going up from first_row
    const uint32_t* Row(int k) const {
        return bitmap->pixels.data() + static_cast<size_t>(first_row - k) * bitmap->width;
    }
};

/* The RLE8 branch of GetDIBits (arguments checked by the caller); the encoder is rle8.cpp. */
int ToRle8(const Band& band, void* bits, BITMAPINFO* info) {
    const int width = band.bitmap->width;
    const Rle8Rows rows{band.Row(0), width, band.rows, -static_cast<std::ptrdiff_t>(width)};
    uint32_t palette[kRle8PaletteSize];
    const size_t size = EncodeRle8(rows, static_cast<uint8_t*>(bits),
                                   bits ? info->bmiHeader.biSizeImage : SIZE_MAX, palette);
    if (size == 0 || size > UINT32_MAX) return 0;
    RGBQUAD* table = info->bmiColors;
    for (int i = 0; i < kRle8PaletteSize; ++i) {
        const uint32_t p = palette[i];
        table[i] = RGBQUAD{static_cast<BYTE>(p & 0xFF), static_cast<BYTE>((p >> 8) & 0xFF),
                           static_cast<BYTE>((p >> 16) & 0xFF), 0};
    }
    info->bmiHeader.biSizeImage = static_cast<DWORD>(size);
    info->bmiHeader.biClrUsed = 0;
    info->bmiHeader.biClrImportant = 0;
    info->bmiHeader.biXPelsPerMeter = 0;
    info->bmiHeader.biYPelsPerMeter = 0;
    return band.rows;
}

/* The BI_RGB branch: 24 or 32 bits, bottom-up for a positive height, top-down otherwise. */
int ToRgb(const Band& band, int bpp, bool top_down, void* bits, BITMAPINFO* info) {
    const int width = band.bitmap->width;
    const size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    info->bmiHeader.biSizeImage = static_cast<DWORD>(stride * band.rows);
    info->bmiHeader.biClrUsed = 0;
    info->bmiHeader.biClrImportant = 0;
    info->bmiHeader.biXPelsPerMeter = 0;
    info->bmiHeader.biYPelsPerMeter = 0;
    if (!bits) return band.rows;
    auto* out = static_cast<uint8_t*>(bits);
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Row(top_down ? band.rows - 1 - k : k);
        uint8_t* o = out + stride * k;
        if (bpp == 32) {
            for (int x = 0; x < width; ++x) {
                const uint32_t p = row[x] & 0xFFFFFFu;
                std::memcpy(o + 4 * x, &p, 4);
            }
        } else {
            for (int x = 0; x < width; ++x) {
                o[3 * x] = static_cast<uint8_t>(row[x]);
                o[3 * x + 1] = static_cast<uint8_t>(row[x] >> 8);
                o[3 * x + 2] = static_cast<uint8_t>(row[x] >> 16);
            }
            std::memset(o + 3 * static_cast<size_t>(width), 0,
                        stride - 3 * static_cast<size_t>(width));
        }
    }
    return band.rows;
}

}  // namespace
}  // namespace kgdi::detail

using namespace kgdi::detail;

extern "C" KGDI_API int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, void* bits,
                                  BITMAPINFO* info, UINT usage) noexcept try {
    try {
        if (!info || usage != DIB_RGB_COLORS || !LookupDc(hdc)) return 0;
        const Bitmap* bm;
        {
            const std::lock_guard<std::mutex> guard(TableLock());
            bm = static_cast<const Bitmap*>(LookupLocked(bitmap, Kind::Bitmap));
        }
        if (!bm) return 0;
        BITMAPINFOHEADER& h = info->bmiHeader;
        if (h.biSize < static_cast<DWORD>(kInfoHeaderSize) || h.biPlanes != 1 ||
            h.biWidth != bm->width || h.biHeight == INT32_MIN ||
            (h.biHeight < 0 ? -h.biHeight : h.biHeight) != bm->height)
            return 0;
        if (start >= static_cast<UINT>(bm->height) || lines == 0) return 0;
        const int rows = static_cast<int>(std::min<UINT>(lines, bm->height - start));
        const Band band{bm, bm->height - 1 - static_cast<int>(start), rows};
        if (h.biCompression == BI_RGB && (h.biBitCount == 24 || h.biBitCount == 32))
            return ToRgb(band, h.biBitCount, h.biHeight < 0, bits, info);
        if (h.biCompression == BI_RLE8 && h.biBitCount == 8 && h.biHeight > 0)
            return ToRle8(band, bits, info);
        return 0;
    } catch (...) {
        return 0;
    }
} catch (...) {
    return 0;
}
