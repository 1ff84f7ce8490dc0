// surface.h: the engine adapter's drawing surfaces and the pixels drawn on them, apart from what
// is drawn (engine.cpp), so that the encoders that read a surface straight have one place to
// meet.
//
// A map is drawn into an 8-bit DIB section whose colour table is the map's palette
// (render/palette.h): every colour the view can draw has an entry of its own, so the picture
// expanded through the table is, pixel for pixel, the one a 32-bit surface holds, for a quarter
// of the bytes. The palette PNG and GIF files are written from its bytes, with the table as
// their palette. When the palette cannot hold every colour (more than 256 of them, or a base
// map whose colours cannot be read), the picture is drawn into a 32-bit surface instead.
#ifndef KMAPS_SURFACE_H
#define KMAPS_SURFACE_H

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "kgdi.h"
#include "kmaps/engine.h"
#include "kmaps/image.h"
#include "render/palette.h"

namespace kmaps {

// The colour under a transparent picture: one the engine's colour table does not use.
inline constexpr COLORREF kTransparentKey = RGB(1, 254, 3);

// The word 0x00RRGGBB of a COLORREF.
inline uint32_t word_of(COLORREF c) {
    return (uint32_t{GetRValue(c)} << 16) | (uint32_t{GetGValue(c)} << 8) | GetBValue(c);
}

// A drawing surface of the drawing layer: a 32-bit bitmap, or an 8-bit DIB section with a
// colour table of up to 256 entries.
struct Engine::Surface {
    int width = 0;
    int height = 0;
    int depth = 32;                     // bits a pixel: 32 or 8
    std::array<uint32_t, 256> table{};  // an 8-bit surface's entries, 0x00RRGGBB
    int entries = 0;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;

    // A 32-bit surface.
    Surface(int w, int h) : width(w), height(h) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = dc ? CreateCompatibleBitmap(dc, w, h) : nullptr;
        if (bitmap) old = SelectObject(dc, bitmap);
    }
    // An 8-bit surface whose colour table is `palette`.
    Surface(int w, int h, const kestrel::render::MapPalette& palette)
        : width(w), height(h), depth(8), entries(palette.count) {
        for (int i = 0; i < palette.count; ++i) table[i] = word_of(palette.colours[i]);
        const kestrel::render::PaletteBitmapInfo info =
            kestrel::render::palette_bitmap_info(palette, w, h);
        dc = CreateCompatibleDC(nullptr);
        void* bits = nullptr;
        bitmap = dc ? CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(&info),
                                       DIB_RGB_COLORS, &bits, nullptr, 0)
                    : nullptr;
        if (bitmap) old = SelectObject(dc, bitmap);
    }
    ~Surface() {
        if (dc && old) SelectObject(dc, old);
        if (bitmap) DeleteObject(bitmap);
        if (dc) DeleteDC(dc);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;
    bool ok() const { return bitmap != nullptr; }
    // True when this surface draws a view whose colours are `palette` (nullptr: 32 bits).
    bool draws(const kestrel::render::MapPalette* palette) const {
        if (palette == nullptr) return depth == 32;
        if (depth != 8 || entries != palette->count) return false;
        for (int i = 0; i < entries; ++i)
            if (table[i] != word_of(palette->colours[i])) return false;
        return true;
    }
};

// The Image colour of a drawn pixel 0x..RRGGBB, given the word of the transparent key.
inline uint32_t colour_of(uint32_t rgb, uint32_t key) {
    rgb &= 0xFFFFFFu;
    return rgb == key ? 0u : (rgb | 0xFF000000u);
}

// The drawn pixels of a surface: rows of 0x00RRGGBB words (32 bits), or rows of indices into
// `table` (8 bits); and the word of the transparent key. Without transparency the key is one
// no 24-bit pixel equals, so that loops over the pixels need no branch for it.
struct Engine::Drawn {
    int width = 0;
    int height = 0;
    int depth = 32;
    const unsigned char* bits = nullptr;
    size_t stride = 0;  // bytes from one row to the next
    const uint32_t* table = nullptr;
    uint32_t key = 0xFFFFFFFFu;

    const uint32_t* row32(int y) const {
        return reinterpret_cast<const uint32_t*>(bits + static_cast<size_t>(y) * stride);
    }
    const uint8_t* row8(int y) const { return bits + static_cast<size_t>(y) * stride; }
    // The rectangle (x, y, w, h) as a picture: the 32-bit words, or the bytes expanded
    // through the colour table.
    Image picture(int x, int y, int w, int h) const;
    Image picture() const { return picture(0, 0, width, height); }
    // The rectangle as a palette picture, the colours in the order they first appear, as
    // encode_png(Image) and encode_gif(Image) order them: straight from the indices of an 8-bit
    // surface (no colour is looked up), or by a scan of a 32-bit one. False when a 32-bit
    // rectangle has more than 256 colours.
    bool paletted(int x, int y, int w, int h, Paletted& out) const;
    // The tiles of `side` x `side` pixels of an 8-bit surface's row of tiles from row `y`, as
    // palette pictures (those of paletted()), left to right.
    void paletted_tiles(int y, int side, std::vector<Paletted>& out) const;
};

}  // namespace kmaps

#endif
