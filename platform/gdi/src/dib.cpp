/*
 * dib.cpp: device-independent bitmaps: DIB sections (CreateDIBSection, their colour tables,
 * GetObjectA) and GetDIBits, the conversion of a bitmap to device-independent formats.
 *
 * A DIB section is a bitmap whose bits the caller reaches directly: 8 bits a pixel with a
 * colour table of up to 256 entries, or 32 bits, rows padded to 4 bytes and stored bottom-up
 * for a positive height, top-down for a negative one, as in BMP files.
 *
 * GetDIBits: BI_RGB 24 and 32 bits are row copies (an 8-bit bitmap's rows expanded through its
 * table); BI_RGB 8 bits copies an 8-bit bitmap's indexes and its table. BI_RLE8 gives every
 * pixel an index into a 256-entry colour table and compresses the indexes with the RLE8
 * scheme: the encoder of rle8.cpp (kgdi_rle8.h), where its rules are described; an 8-bit
 * bitmap is encoded from its colours, so it gives the bytes of the 32-bit picture of the same
 * colours. The output never goes past the room given in biSizeImage: when it would, the call
 * fails.
 */
#include <algorithm>
#include <cstring>

#include "detail.h"
#include "kgdi_rle8.h"

namespace kgdi::detail {
namespace {

constexpr int kInfoHeaderSize = 40;
constexpr DWORD kMaxInfoHeaderSize = 124;  // the largest BMP info header

/* Rows of a bitmap in the order they are converted (bottom row first). */
struct Band {
    Surface surface;
    int first_row;  // top-down index of the first row converted
    int rows;       // converted rows, going up from first_row
    int width() const { return surface.width; }
    /* Row k of the band as 0x00RRGGBB words (`scratch`: width words, for 8-bit rows). */
    const uint32_t* Words(int k, uint32_t* scratch) const {
        return surface.Words(first_row - k, scratch);
    }
};

/* Fills the header fields that every conversion sets. */
void SetConvertedHeader(BITMAPINFOHEADER& h, size_t image_bytes) {
    h.biSizeImage = static_cast<DWORD>(image_bytes);
    h.biClrUsed = 0;
    h.biClrImportant = 0;
    h.biXPelsPerMeter = 0;
    h.biYPelsPerMeter = 0;
}

RGBQUAD QuadOf(uint32_t word) {
    return RGBQUAD{static_cast<BYTE>(word & 0xFF), static_cast<BYTE>((word >> 8) & 0xFF),
                   static_cast<BYTE>((word >> 16) & 0xFF), 0};
}

/* The RLE8 branch of GetDIBits (arguments checked by the caller); the encoder is rle8.cpp. */
int ToRle8(const Band& band, void* bits, BITMAPINFO* info) {
    const int width = band.width();
    Rle8Rows rows{nullptr, width, band.rows, 0};
    if (band.surface.bits == 32) {
        rows.first = band.Words(0, nullptr);
        rows.step = -band.surface.stride;
    } else {  // expanded through the colour table into rows of words, bottom row first
        std::vector<uint32_t>& words = PerThread<std::vector<uint32_t>, struct Rle8WordsTag>();
        words.resize(static_cast<size_t>(width) * static_cast<size_t>(band.rows));
        for (int k = 0; k < band.rows; ++k) {
            uint32_t* row = words.data() + static_cast<size_t>(k) * width;
            band.Words(k, row);
        }
        rows.first = words.data();
        rows.step = width;
    }
    uint32_t palette[kRle8PaletteSize];
    const size_t size = EncodeRle8(rows, static_cast<uint8_t*>(bits),
                                   bits ? info->bmiHeader.biSizeImage : SIZE_MAX, palette);
    if (size == 0 || size > UINT32_MAX) return 0;
    for (int i = 0; i < kRle8PaletteSize; ++i) info->bmiColors[i] = QuadOf(palette[i]);
    SetConvertedHeader(info->bmiHeader, size);
    return band.rows;
}

/* The BI_RGB branch: 24 or 32 bits, bottom-up for a positive height, top-down otherwise. */
int ToRgb(const Band& band, int bpp, bool top_down, void* bits, BITMAPINFO* info) {
    const int width = band.width();
    const size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    SetConvertedHeader(info->bmiHeader, stride * band.rows);
    if (!bits) return band.rows;
    std::vector<uint32_t> scratch(band.surface.bits == 8 ? static_cast<size_t>(width) : 0);
    auto* out = static_cast<uint8_t*>(bits);
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Words(top_down ? band.rows - 1 - k : k, scratch.data());
        uint8_t* o = out + stride * k;
        if (bpp == 32) {
            for (ptrdiff_t x = 0; x < width; ++x) {
                const uint32_t p = row[x] & 0xFFFFFFu;
                std::memcpy(o + 4 * x, &p, 4);
            }
        } else {
            for (ptrdiff_t x = 0; x < width; ++x) {
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

/* The 8-bit BI_RGB branch, from an 8-bit bitmap: its indexes, rows padded to 4 bytes, and its
 * colour table (256 entries written, those beyond the table's size black). */
int ToIndexes(const Band& band, bool top_down, void* bits, BITMAPINFO* info) {
    const int width = band.width();
    const size_t stride = (static_cast<size_t>(width) + 3) & ~size_t{3};
    SetConvertedHeader(info->bmiHeader, stride * band.rows);
    const ColorTable& table = *band.surface.table;
    for (int i = 0; i < kMaxColorEntries; ++i) info->bmiColors[i] = QuadOf(table.Entry(i));
    if (!bits) return band.rows;
    auto* out = static_cast<uint8_t*>(bits);
    for (int k = 0; k < band.rows; ++k) {
        const int row = band.first_row - (top_down ? band.rows - 1 - k : k);
        uint8_t* o = out + stride * k;
        std::memcpy(o, static_cast<const uint8_t*>(band.surface.top) + row * band.surface.stride,
                    static_cast<size_t>(width));
        std::memset(o + width, 0, stride - static_cast<size_t>(width));
    }
    return band.rows;
}

/* The colour table of an 8-bit DIB section's BITMAPINFO: the header's biClrUsed entries (256
 * for 0) behind its biSize bytes. nullptr when there are more than 256. */
std::unique_ptr<ColorTable> TableOf(const BITMAPINFO* info) {
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biClrUsed > static_cast<DWORD>(kMaxColorEntries)) return nullptr;
    const int count = h.biClrUsed == 0 ? kMaxColorEntries : static_cast<int>(h.biClrUsed);
    const auto* quads = reinterpret_cast<const uint8_t*>(info) + h.biSize;
    uint32_t words[kMaxColorEntries];
    for (int i = 0; i < count; ++i) {
        RGBQUAD q;
        std::memcpy(&q, quads + sizeof(RGBQUAD) * i, sizeof q);
        words[i] = uint32_t{q.rgbRed} << 16 | uint32_t{q.rgbGreen} << 8 | q.rgbBlue;
    }
    auto table = std::make_unique<ColorTable>();
    table->Resize(count);
    table->Set(0, count, words);
    return table;
}

/* The colour table of the 8-bit bitmap selected into a context, nullptr otherwise. */
ColorTable* SelectedTable(HDC hdc) {
    const Dc* dc = LookupDc(hdc);
    if (!dc || !dc->bitmap || dc->bitmap->bits != 8) return nullptr;
    return dc->bitmap->table.get();
}

}  // namespace
}  // namespace kgdi::detail

using namespace kgdi::detail;

extern "C" {

KGDI_API int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, void* bits,
                       BITMAPINFO* info, UINT usage) noexcept try {
    try {
        if (!info || usage != DIB_RGB_COLORS || !LookupDc(hdc)) return 0;
        Bitmap* bm;
        {
            const std::lock_guard<std::mutex> guard(TableLock());
            bm = static_cast<Bitmap*>(LookupLocked(bitmap, Kind::Bitmap));
        }
        if (!bm) return 0;
        BITMAPINFOHEADER& h = info->bmiHeader;
        if (h.biSize < static_cast<DWORD>(kInfoHeaderSize) || h.biPlanes != 1 ||
            h.biWidth != bm->width || h.biHeight == INT32_MIN ||
            (h.biHeight < 0 ? -h.biHeight : h.biHeight) != bm->height)
            return 0;
        if (start >= static_cast<UINT>(bm->height) || lines == 0) return 0;
        const int rows = static_cast<int>(std::min<UINT>(lines, bm->height - start));
        const Band band{SurfaceOf(bm), bm->height - 1 - static_cast<int>(start), rows};
        if (h.biCompression == BI_RGB && (h.biBitCount == 24 || h.biBitCount == 32))
            return ToRgb(band, h.biBitCount, h.biHeight < 0, bits, info);
        if (h.biCompression == BI_RGB && h.biBitCount == 8 && bm->bits == 8)
            return ToIndexes(band, h.biHeight < 0, bits, info);
        if (h.biCompression == BI_RLE8 && h.biBitCount == 8 && h.biHeight > 0)
            return ToRle8(band, bits, info);
        return 0;
    } catch (...) {
        return 0;
    }
} catch (...) {
    return 0;
}

KGDI_API HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits,
                                  HANDLE section, DWORD offset) noexcept try {
    if (bits) *bits = nullptr;
    if (!info || usage != DIB_RGB_COLORS || section || offset != 0) return nullptr;
    if (hdc && !LookupDc(hdc)) return nullptr;
    const BITMAPINFOHEADER& h = info->bmiHeader;
    if (h.biSize < static_cast<DWORD>(kInfoHeaderSize) || h.biSize > kMaxInfoHeaderSize ||
        h.biPlanes != 1 || h.biCompression != BI_RGB || (h.biBitCount != 8 && h.biBitCount != 32) ||
        h.biHeight == INT32_MIN)
        return nullptr;
    try {
        std::unique_ptr<ColorTable> table;
        if (h.biBitCount == 8 && !(table = TableOf(info))) return nullptr;
        auto bitmap = MakeBitmap(h.biWidth, h.biHeight < 0 ? -h.biHeight : h.biHeight, h.biBitCount,
                                 h.biHeight > 0, std::move(table));
        if (!bitmap) return nullptr;
        bitmap->dib = true;
        void* pixels = bitmap->Bits();
        HGDIOBJ handle = AddObject(std::move(bitmap));
        if (handle && bits) *bits = pixels;
        return handle;
    } catch (...) {
        return nullptr;
    }
} catch (...) {
    return nullptr;
}

KGDI_API UINT SetDIBColorTable(HDC hdc, UINT start, UINT count, const RGBQUAD* colors) noexcept
    try {
    ColorTable* table = SelectedTable(hdc);
    if (!table || !colors || start >= static_cast<UINT>(table->count())) return 0;
    const int n = static_cast<int>(std::min<UINT>(count, table->count() - start));
    uint32_t words[kMaxColorEntries];
    for (int i = 0; i < n; ++i)
        words[i] = uint32_t{colors[i].rgbRed} << 16 | uint32_t{colors[i].rgbGreen} << 8 |
                   colors[i].rgbBlue;
    table->Set(static_cast<int>(start), n, words);
    return static_cast<UINT>(n);
} catch (...) {
    return 0;
}

KGDI_API UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors) noexcept try {
    const ColorTable* table = SelectedTable(hdc);
    if (!table || !colors || start >= static_cast<UINT>(table->count())) return 0;
    const int n = static_cast<int>(std::min<UINT>(count, table->count() - start));
    for (int i = 0; i < n; ++i) colors[i] = QuadOf(table->Entry(static_cast<int>(start) + i));
    return static_cast<UINT>(n);
} catch (...) {
    return 0;
}

KGDI_API int GetObjectA(HGDIOBJ obj, int size, void* out) noexcept try {
    const std::lock_guard<std::mutex> guard(TableLock());
    Bitmap* bm = static_cast<Bitmap*>(LookupLocked(obj, Kind::Bitmap));
    if (!bm) return 0;
    const int needed = static_cast<int>(bm->dib ? sizeof(DIBSECTION) : sizeof(BITMAP));
    if (!out) return needed;
    if (size < static_cast<int>(sizeof(BITMAP))) return 0;
    BITMAP b{};
    b.bmWidth = bm->width;
    b.bmHeight = bm->height;
    b.bmWidthBytes = static_cast<LONG>(bm->row_bytes);
    b.bmPlanes = 1;
    b.bmBitsPixel = static_cast<WORD>(bm->bits);
    b.bmBits = bm->dib ? bm->Bits() : nullptr;
    if (!bm->dib || size < static_cast<int>(sizeof(DIBSECTION))) {
        std::memcpy(out, &b, sizeof b);
        return static_cast<int>(sizeof b);
    }
    DIBSECTION ds{};
    ds.dsBm = b;
    BITMAPINFOHEADER& h = ds.dsBmih;
    h.biSize = kInfoHeaderSize;
    h.biWidth = bm->width;
    h.biHeight = bm->bottom_up ? bm->height : -bm->height;
    h.biPlanes = 1;
    h.biBitCount = static_cast<WORD>(bm->bits);
    h.biCompression = BI_RGB;
    h.biSizeImage = static_cast<DWORD>(bm->row_bytes * static_cast<size_t>(bm->height));
    h.biClrUsed = bm->table ? static_cast<DWORD>(bm->table->count()) : 0;
    std::memcpy(out, &ds, sizeof ds);
    return static_cast<int>(sizeof ds);
} catch (...) {
    return 0;
}

}  // extern "C"
