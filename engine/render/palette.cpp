// palette.cpp: the colours of a map (palette.h): the caller's, the colour table's, the fixed
// ones and those of the base-map metafile, read from its records.
#include "render/palette.h"

#include <cstring>
#include <new>
#include <vector>

#include "data/store.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

// Records of the metafile format that give a colour, and where (byte offsets in the record).
constexpr uint32_t kRecordHeaderBytes = 8;  // type, size
constexpr uint32_t kEndOfFile = 14;
constexpr uint32_t kSetTextColour = 24;        // colour at 8
constexpr uint32_t kSetBackgroundColour = 25;  // colour at 8
constexpr uint32_t kSelectObject = 37;         // object index at 8
constexpr uint32_t kCreatePen = 38;            // style at 12, colour at 24
constexpr uint32_t kCreateBrush = 39;          // style at 12, colour at 16
constexpr uint32_t kExtCreatePen = 95;         // style at 28, colour at 40
constexpr uint32_t kStockObjectFlag = 0x80000000u;
constexpr uint32_t kPenStyleMask = 0xF;
constexpr uint32_t kNullPenStyle = 5;
constexpr uint32_t kNullBrushStyle = 1;

// The colour a stock object draws with, by its index (WHITE_BRUSH .. NULL_PEN); the null pen
// and brush draw nothing.
struct StockColour {
    int index;
    COLORREF colour;
};
constexpr StockColour kStockColours[] = {
    {WHITE_BRUSH, RGB(255, 255, 255)}, {LTGRAY_BRUSH, RGB(192, 192, 192)},
    {GRAY_BRUSH, RGB(128, 128, 128)},  {DKGRAY_BRUSH, RGB(64, 64, 64)},
    {BLACK_BRUSH, RGB(0, 0, 0)},       {WHITE_PEN, RGB(255, 255, 255)},
    {BLACK_PEN, RGB(0, 0, 0)},
};

// A palette being filled: colours are added once each, in order, while there is room.
class PaletteBuilder {
  public:
    PaletteBuilder() noexcept {
        palette_.count = 0;
        palette_.complete = true;
    }
    void add(COLORREF colour) noexcept {
        colour &= 0xFFFFFFu;
        for (int i = 0; i < palette_.count; ++i)
            if (palette_.colours[i] == colour) return;
        if (palette_.count == kPaletteEntries) {
            palette_.complete = false;
            return;
        }
        palette_.colours[palette_.count++] = colour;
    }
    void incomplete() noexcept { palette_.complete = false; }
    const MapPalette& palette() const noexcept { return palette_; }

  private:
    MapPalette palette_{};
};

uint32_t read32(const uint8_t* p) noexcept {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Adds the colours of one metafile record; `r` holds `size` bytes.
void add_record_colours(const uint8_t* r, uint32_t type, uint32_t size,
                        PaletteBuilder& out) noexcept {
    const auto has = [size](uint32_t end) { return size >= end; };
    switch (type) {
        case kSetTextColour:
        case kSetBackgroundColour:
            if (has(12)) out.add(read32(r + 8));
            break;
        case kCreatePen:
            if (has(28) && (read32(r + 12) & kPenStyleMask) != kNullPenStyle)
                out.add(read32(r + 24));
            break;
        case kExtCreatePen:
            if (has(44) && (read32(r + 28) & kPenStyleMask) != kNullPenStyle)
                out.add(read32(r + 40));
            break;
        case kCreateBrush:
            if (has(20) && read32(r + 12) != kNullBrushStyle) out.add(read32(r + 16));
            break;
        case kSelectObject:
            if (has(12) && (read32(r + 8) & kStockObjectFlag) != 0)
                for (const StockColour& s : kStockColours)
                    if (static_cast<uint32_t>(s.index) == (read32(r + 8) & ~kStockObjectFlag))
                        out.add(s.colour);
            break;
        default:
            break;
    }
}

// Adds the colours of the data set's base map, walking its records as far as they are well
// formed (each at least 8 bytes, a multiple of 4, within the file) up to the end-of-file
// record. A base map that cannot be read leaves the palette incomplete.
[[maybe_unused]] void add_base_map_colours(PaletteBuilder& out) noexcept {
    HENHMETAFILE base_map = data::dataset().base_map;
    if (base_map == nullptr) return;
    const UINT size = GetEnhMetaFileBits(base_map, 0, nullptr);
    std::vector<uint8_t> bytes;
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        out.incomplete();
        return;
    }
    if (size == 0 || GetEnhMetaFileBits(base_map, size, bytes.data()) != size) {
        out.incomplete();
        return;
    }
    for (uint32_t at = 0; size - at >= kRecordHeaderBytes;) {
        const uint32_t type = read32(&bytes[at]);
        const uint32_t record = read32(&bytes[at + 4]);
        if (record < kRecordHeaderBytes || record % 4 != 0 || record > size - at) {
            out.incomplete();
            return;
        }
        if (type == kEndOfFile) return;
        add_record_colours(&bytes[at], type, record, out);
        at += record;
    }
}

}  // namespace

MapPalette map_palette(const COLORREF* own, int own_count) noexcept {
    PaletteBuilder builder;
    for (int i = 0; own != nullptr && i < own_count; ++i) builder.add(own[i]);
    const ColourEntry* table = colour_table();
    for (int i = 0; i < COLOUR_ENTRIES; ++i) builder.add(colour_of(table[i]));
    builder.add(kPoiColour);
    builder.add(kTrackColour);
    if constexpr (kServerOnly) {
        builder.add(kServerTextColour);
        builder.add(kServerTextAfterViewColour);
    } else {
        add_base_map_colours(builder);  // only the full build plays the base map
    }
    return builder.palette();
}

PaletteBitmapInfo palette_bitmap_info(const MapPalette& palette, int32_t width,
                                      int32_t height) noexcept {
    PaletteBitmapInfo info{};
    info.header.biSize = sizeof(BITMAPINFOHEADER);
    info.header.biWidth = width;
    info.header.biHeight = -height;  // top-down
    info.header.biPlanes = 1;
    info.header.biBitCount = 8;
    info.header.biCompression = BI_RGB;
    info.header.biClrUsed = static_cast<DWORD>(palette.count);
    for (int i = 0; i < palette.count; ++i) {
        const COLORREF c = palette.colours[i];
        info.colours[i] = RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
    }
    return info;
}

}  // namespace kestrel::render
