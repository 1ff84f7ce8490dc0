// highlight.cpp: the highlight pen of colour entry 10, and drawing a feature's world vertices
// into a view with it.
#include "render/highlight.h"

#include "render/view.h"

namespace kestrel::render {

void draw_world_polyline(HDC dc, const data::Vertex* v, int count, int32_t origin_x,
                         int32_t origin_y, int32_t left, int32_t top, double scale,
                         int factor) noexcept {
    if (v == nullptr) return;
    const PixelMap map(left, top, scale, factor);
    draw_polyline(dc, count, [&](int i) {
        return map(int64_t{origin_x} + v[i].x, int64_t{origin_y} + v[i].y);
    });
}

HGDIOBJ select_highlight_pen(HDC dc, int factor) noexcept {
    const ColourEntry& e = colour_table()[HIGHLIGHT_COLOUR];
    HPEN pen = CreatePen(PS_SOLID, scaled_pen_width(e.width, factor), colour_of(e));
    pen_table()[HIGHLIGHT_COLOUR] = pen;
    return SelectObject(dc, pen);
}

void release_highlight_pen(HDC dc, HGDIOBJ previous) noexcept {
    if (previous != nullptr) SelectObject(dc, previous);
    HPEN& pen = pen_table()[HIGHLIGHT_COLOUR];
    if (pen != nullptr) DeleteObject(pen);
    pen = nullptr;
}

}  // namespace kestrel::render
