// highlight.cpp: the highlight pen of colour entry 10, and drawing a feature's world vertices
// into a view with it.
#include "render/highlight.h"

#include "render/view.h"

namespace kestrel::render {

void draw_world_polyline(HDC dc, const data::Vertex* v, int count, int32_t origin_x,
                         int32_t origin_y, int32_t left, int32_t top, double scale) noexcept {
    if (v == nullptr) return;
    draw_polyline(dc, count, [&](int i) {
        return to_point_wide(int64_t{origin_x} + v[i].x, int64_t{origin_y} + v[i].y, left, top,
                             scale);
    });
}

HGDIOBJ select_highlight_pen(HDC dc) noexcept {
    const ColourEntry& e = colour_table()[HIGHLIGHT_COLOUR];
    HPEN pen = CreatePen(PS_SOLID, e.width, colour_of(e));
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
