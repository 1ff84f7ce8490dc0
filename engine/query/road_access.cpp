// road_access.cpp: what the road queries share for drawing: the highlight pen of colour entry
// 10, and drawing a road's world vertices into a view through the shared point buffer.
#include <algorithm>

#include "query/query.h"
#include "render/view.h"

namespace kestrel::query {

namespace {

// The pixel of a world coordinate difference: divided in double precision, truncated toward
// zero. The difference is formed in 64 bits so that no origin can overflow it.
int32_t to_pixel(int64_t world_delta, double scale) noexcept {
    return render::truncate_to_int32(static_cast<double>(world_delta) / scale);
}

}  // namespace

void draw_world_polyline(HDC dc, const data::Vertex* v, int count, int32_t origin_x,
                         int32_t origin_y, int32_t left, int32_t top, double scale) noexcept {
    if (v == nullptr || count < 2) return;
    POINT* points = render::point_buffer();
    int i = 0;
    while (i < count - 1) {
        // Each piece starts at the last point of the one before (i), so pieces join.
        const int n = std::min(count - i, render::POINT_BUFFER_SIZE);
        for (int j = 0; j < n; ++j) {
            const data::Vertex& p = v[i + j];
            points[j].x = to_pixel(int64_t{p.x} + origin_x - left, scale);
            points[j].y = to_pixel(int64_t{top} - p.y - origin_y, scale);
        }
        Polyline(dc, points, n);
        i += n - 1;
    }
}

HGDIOBJ select_highlight_pen(HDC dc) noexcept {
    const render::ColourEntry& e = render::colour_table()[HIGHLIGHT_COLOUR];
    HPEN pen = CreatePen(PS_SOLID, e.width, render::colour_of(e));
    render::pen_table()[HIGHLIGHT_COLOUR] = pen;
    return SelectObject(dc, pen);
}

void release_highlight_pen(HDC dc, HGDIOBJ previous) noexcept {
    if (previous != nullptr) SelectObject(dc, previous);
    HPEN& pen = render::pen_table()[HIGHLIGHT_COLOUR];
    if (pen != nullptr) DeleteObject(pen);
    pen = nullptr;
}

}  // namespace kestrel::query
