// surface.h: the engine adapter's drawing surface and the pixels drawn on it, apart from what
// is drawn (engine.cpp) so that another kind of surface (an 8-bit one) and encoders that read
// it straight have one place to meet.
#ifndef KMAPS_SURFACE_H
#define KMAPS_SURFACE_H

#include <cstddef>
#include <cstdint>

#include "kgdi.h"
#include "kmaps/engine.h"
#include "kmaps/image.h"

namespace kmaps {

// The colour under a transparent picture: one the engine's colour table does not use.
inline constexpr COLORREF kTransparentKey = RGB(1, 254, 3);

// A 32-bit drawing surface of the drawing layer, its context's text settings the drawing's.
struct Engine::Surface {
    int width = 0;
    int height = 0;
    HDC dc = nullptr;
    HBITMAP bitmap = nullptr;
    HGDIOBJ old = nullptr;
    Surface(int w, int h) : width(w), height(h) {
        dc = CreateCompatibleDC(nullptr);
        bitmap = dc ? CreateCompatibleBitmap(dc, w, h) : nullptr;
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
};

// The Image colour of a drawn pixel 0x..RRGGBB, given the word of the transparent key.
inline uint32_t colour_of(uint32_t rgb, uint32_t key) {
    rgb &= 0xFFFFFFu;
    return rgb == key ? 0u : (rgb | 0xFF000000u);
}

// The drawn pixels of a surface: rows of 0x00RRGGBB words, and the word of the transparent
// key. Without transparency the key is one no 24-bit pixel equals, so that loops over the
// pixels need no branch for it.
struct Engine::Drawn {
    KgdiSurface px{};
    uint32_t key = 0xFFFFFFFFu;

    const uint32_t* row(int y) const {
        return reinterpret_cast<const uint32_t*>(reinterpret_cast<const unsigned char*>(px.pixels) +
                                                 static_cast<size_t>(y) * px.stride);
    }
    Image picture() const {
        Image im(px.width, px.height);
        for (int y = 0; y < px.height; ++y) {
            const uint32_t* in = row(y);
            uint32_t* out = &im.pixels[static_cast<size_t>(y) * px.width];
            for (int x = 0; x < px.width; ++x) out[x] = colour_of(in[x], key);
        }
        return im;
    }
};

}  // namespace kmaps

#endif
