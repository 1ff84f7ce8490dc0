/*
 * raster.cpp: the layer's own rasteriser, integer algorithms writing 32-bit pixels directly.
 *
 * - One-pixel lines: Bresenham steps along the major axis, leaving out the end point. Pixel i
 *   of a segment (i = 0 .. n-1, n the major-axis length) has minor offset
 *   floor((2 i d_minor + n) / (2 n)), so a segment and its reverse differ only at exact ties.
 *   A segment is clipped by jumping straight to the first step inside the bitmap (the error
 *   term is computed in 128 bits), so coordinates may be anywhere in the 32-bit range.
 * - Wider pens: a disc of the pen's width is stamped at every step of the segment, end point
 *   included; per segment the covered span of each row is collected first and filled once.
 *   Successive segments share their end points, which gives round caps and round joins.
 * - Polygons: scanline fill with the alternate (even-odd) rule; a pixel is filled when its
 *   centre (x + 0.5, y + 0.5) lies inside, vertices being at integer positions. Edge crossings
 *   are exact rationals, so right and bottom edges are excluded consistently.
 */
#include "detail.h"

#include <algorithm>
#include <cstdlib>

namespace kgdi::detail {
namespace {

using i128 = __int128;

/* Floor and ceiling of a / b for b > 0. */
template <typename T>
T FloorDiv(T a, T b) {
    T q = a / b;
    if ((a % b) != 0 && a < 0) --q;
    return q;
}
template <typename T>
T CeilDiv(T a, T b) {
    T q = a / b;
    if ((a % b) != 0 && a > 0) ++q;
    return q;
}

inline void FillSpan(const Surface& s, int y, int64_t x0, int64_t x1, uint32_t pixel) {
    // [x0, x1) clipped to the row
    if (y < 0 || y >= s.height) return;
    if (x0 < 0) x0 = 0;
    if (x1 > s.width) x1 = s.width;
    uint32_t* row = s.pixels + static_cast<size_t>(y) * s.width;
    for (int64_t x = x0; x < x1; ++x) row[x] = pixel;
}

/* Calls plot(major, minor) for the steps of a segment whose major coordinate lies in
 * [lo, hi). The segment runs from (a0, b0) with n > 0 steps along the major axis, direction
 * sa (+1 or -1), and db (>= 0) along the minor axis in direction sb. Steps are 0 .. last. */
template <typename Plot>
inline void WalkSegment(int64_t a0, int64_t b0, int64_t n, int sa, int64_t db, int sb,
                        int64_t last, int64_t lo, int64_t hi, Plot&& plot) {
    // Step range whose major coordinate a0 + sa * i is within [lo, hi).
    int64_t i0, i1;
    if (sa > 0) {
        i0 = lo - a0;
        i1 = hi - 1 - a0;
    } else {
        i0 = a0 - (hi - 1);
        i1 = a0 - lo;
    }
    if (i0 < 0) i0 = 0;
    if (i1 > last) i1 = last;
    if (i0 > i1) return;
    const int64_t two_n = 2 * n;
    // minor offset of step i: floor((2 i db + n) / 2n); keep num = 2 i db + n mod 2n
    const i128 num0 = static_cast<i128>(2) * i0 * db + n;
    int64_t off = static_cast<int64_t>(num0 / two_n);
    int64_t rem = static_cast<int64_t>(num0 % two_n);
    const int64_t step = 2 * db;
    int64_t a = a0 + sa * i0;
    for (int64_t i = i0; i <= i1; ++i) {
        plot(a, b0 + sb * off);
        a += sa;
        rem += step;
        while (rem >= two_n) {  // db <= n, so at most one step but guard exact ties
            rem -= two_n;
            ++off;
        }
    }
}

/* One-pixel segment from p to q, end point left out. */
void ThinSegment(const Surface& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                 uint32_t pixel) {
    const int64_t dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
    const int sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
    if (dx == 0 && dy == 0) return;
    uint32_t* px = s.pixels;
    const int64_t w = s.width, h = s.height;
    if (dx >= dy) {
        WalkSegment(x0, y0, dx, sx, dy, sy, dx - 1, 0, w, [&](int64_t x, int64_t y) {
            if (static_cast<uint64_t>(y) < static_cast<uint64_t>(h)) px[y * w + x] = pixel;
        });
    } else {
        WalkSegment(y0, x0, dy, sy, dx, sx, dy - 1, 0, h, [&](int64_t y, int64_t x) {
            if (static_cast<uint64_t>(x) < static_cast<uint64_t>(w)) px[y * w + x] = pixel;
        });
    }
}

/* A disc of a pen width as one span per row: offsets dy = -top .. rows-top-1, x in
 * [lo[r], hi[r]]. Odd widths centre on the pixel, even widths on the corner above-left of it,
 * so a horizontal line of width w covers exactly w rows. */
struct Disc {
    int width = 0;
    int top = 0;
    std::vector<int> lo, hi;

    void Build(int w) {
        width = w;
        const int e = (w % 2 == 0) ? 1 : 0;  // doubled centre offset
        const int reach = w / 2 + 1;
        lo.clear();
        hi.clear();
        top = reach;
        for (int dy = -reach; dy <= reach; ++dy) {
            int l = 1, r = 0;  // empty
            for (int dx = -reach; dx <= reach; ++dx) {
                const int64_t ex = 2 * dx + e, ey = 2 * dy + e;
                if (ex * ex + ey * ey < int64_t{w} * w) {
                    if (l > r) l = dx;
                    r = dx;
                }
            }
            lo.push_back(l);
            hi.push_back(r);
        }
        // Trim empty rows at both ends.
        while (!lo.empty() && lo.front() > hi.front()) {
            lo.erase(lo.begin());
            hi.erase(hi.begin());
            --top;
        }
        while (!lo.empty() && lo.back() > hi.back()) {
            lo.pop_back();
            hi.pop_back();
        }
    }
    int rows() const { return static_cast<int>(lo.size()); }
};

/* Per-thread scratch for wide strokes: the disc of the last width and row spans. */
struct WideScratch {
    Disc disc;
    std::vector<int64_t> row_lo, row_hi;
};

WideScratch& Scratch() {
    thread_local WideScratch scratch;
    return scratch;
}

/* A segment of a wide pen: the union of the disc stamped at each step, both ends included. */
void WideSegment(const Surface& s, WideScratch& ws, int64_t x0, int64_t y0, int64_t x1,
                 int64_t y1, uint32_t pixel) {
    const Disc& disc = ws.disc;
    const int64_t top = disc.top, bottom = disc.rows() - disc.top;  // dy in [-top, bottom)
    const int64_t ymin = std::max<int64_t>(std::min(y0, y1) - top, 0);
    const int64_t ymax = std::min<int64_t>(std::max(y0, y1) + bottom, s.height);  // exclusive
    const int64_t reach = disc.width / 2 + 1;
    if (ymin >= ymax) return;
    if (std::max(x0, x1) + reach < 0 || std::min(x0, x1) - reach >= s.width) return;
    const int64_t nrows = ymax - ymin;
    if (static_cast<int64_t>(ws.row_lo.size()) < nrows) {
        ws.row_lo.resize(nrows);
        ws.row_hi.resize(nrows);
    }
    std::fill_n(ws.row_lo.begin(), nrows, INT64_MAX);
    std::fill_n(ws.row_hi.begin(), nrows, INT64_MIN);
    auto stamp = [&](int64_t x, int64_t y) {
        int64_t r0 = std::max<int64_t>(y - top, ymin), r1 = std::min<int64_t>(y + bottom, ymax);
        for (int64_t row = r0; row < r1; ++row) {
            const size_t k = static_cast<size_t>(row - y + top);
            const int64_t l = x + disc.lo[k], h = x + disc.hi[k];
            int64_t& lo = ws.row_lo[row - ymin];
            int64_t& hi = ws.row_hi[row - ymin];
            if (l < lo) lo = l;
            if (h > hi) hi = h;
        }
    };
    const int64_t dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
    const int sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
    if (dx == 0 && dy == 0) {
        stamp(x0, y0);
    } else if (dx >= dy) {
        WalkSegment(x0, y0, dx, sx, dy, sy, dx, -reach, s.width + reach,
                    [&](int64_t x, int64_t y) { stamp(x, y); });
    } else {
        WalkSegment(y0, x0, dy, sy, dx, sx, dy, ymin - bottom, ymax + top,
                    [&](int64_t y, int64_t x) { stamp(x, y); });
    }
    for (int64_t row = ymin; row < ymax; ++row) {
        const int64_t lo = ws.row_lo[row - ymin], hi = ws.row_hi[row - ymin];
        if (lo <= hi) FillSpan(s, static_cast<int>(row), lo, hi + 1, pixel);
    }
}

/* An edge of a polygon for the scanline fill, top to bottom. */
struct Edge {
    int64_t ytop, ybot;  // rows ytop .. ybot-1 cross it
    int64_t x0, y0, x1, y1;  // end points, y0 < y1
};

/* The alternate-rule fill of a set of closed rings. */
void FillRings(const Surface& s, uint32_t pixel, const POINT* pts, const int* counts, int rings) {
    if (s.width <= 0 || s.height <= 0) return;
    thread_local std::vector<Edge> edges;
    thread_local std::vector<int64_t> xs;
    edges.clear();
    const POINT* ring = pts;
    for (int r = 0; r < rings; ++r) {
        const int n = counts[r];
        for (int i = 0; i < n && n >= 3; ++i) {
            const POINT a = ring[i], b = ring[(i + 1) % n];
            if (a.y == b.y) continue;
            Edge e{};
            if (a.y < b.y) {
                e.x0 = a.x, e.y0 = a.y, e.x1 = b.x, e.y1 = b.y;
            } else {
                e.x0 = b.x, e.y0 = b.y, e.x1 = a.x, e.y1 = a.y;
            }
            // Rows whose centre y + 0.5 is within [y0, y1): y0 <= y < y1.
            e.ytop = std::max<int64_t>(e.y0, 0);
            e.ybot = std::min<int64_t>(e.y1, s.height);
            if (e.ytop < e.ybot) edges.push_back(e);
        }
        if (n > 0) ring += n;
    }
    if (edges.empty()) return;
    std::sort(edges.begin(), edges.end(),
              [](const Edge& a, const Edge& b) { return a.ytop < b.ytop; });
    int64_t ystart = edges.front().ytop, yend = 0;
    for (const Edge& e : edges) yend = std::max(yend, e.ybot);
    thread_local std::vector<const Edge*> active;
    active.clear();
    size_t next = 0;
    for (int64_t y = ystart; y < yend; ++y) {
        while (next < edges.size() && edges[next].ytop <= y) active.push_back(&edges[next++]);
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [y](const Edge* e) { return e->ybot <= y; }),
                     active.end());
        xs.clear();
        for (const Edge* e : active) {
            // Crossing at row centre: x = x0 + (2y + 1 - 2y0)(x1 - x0) / (2 (y1 - y0)).
            // First pixel whose centre is at or right of it: ceil(x - 0.5).
            const i128 den = static_cast<i128>(2) * (e->y1 - e->y0);
            const i128 num = static_cast<i128>(2 * y + 1 - 2 * e->y0) * (e->x1 - e->x0);
            // x - 0.5 = (2 x0 den + 2 num - den) / (2 den)
            const i128 p = 2 * static_cast<i128>(e->x0) * den + 2 * num - den;
            i128 c = CeilDiv<i128>(p, 2 * den);
            if (c < -1) c = -1;
            if (c > s.width + 1) c = s.width + 1;
            xs.push_back(static_cast<int64_t>(c));
        }
        std::sort(xs.begin(), xs.end());
        for (size_t k = 0; k + 1 < xs.size(); k += 2)
            FillSpan(s, static_cast<int>(y), xs[k], xs[k + 1], pixel);
    }
}

}  // namespace

void StrokePolyline(const Surface& s, const PenAttrs& pen, const POINT* pts, int count,
                    bool closed) {
    if (pen.null || count < 2 || !s.pixels) return;
    const int segments = closed ? count : count - 1;
    if (pen.width <= 1) {
        for (int i = 0; i < segments; ++i) {
            const POINT a = pts[i], b = pts[(i + 1) % count];
            ThinSegment(s, a.x, a.y, b.x, b.y, pen.pixel);
        }
        return;
    }
    WideScratch& ws = Scratch();
    const int width = std::min(pen.width, kMaxPenWidth);
    if (ws.disc.width != width) ws.disc.Build(width);
    for (int i = 0; i < segments; ++i) {
        const POINT a = pts[i], b = pts[(i + 1) % count];
        WideSegment(s, ws, a.x, a.y, b.x, b.y, pen.pixel);
    }
}

void FillPolygon(const Surface& s, uint32_t pixel, const POINT* pts, int count) {
    FillRings(s, pixel, pts, &count, 1);
}

void FillPolyPolygon(const Surface& s, uint32_t pixel, const POINT* pts, const int* counts,
                     int polys) {
    FillRings(s, pixel, pts, counts, polys);
}

void FillRectPixels(const Surface& s, int64_t left, int64_t top, int64_t right, int64_t bottom,
                    uint32_t pixel) {
    top = std::max<int64_t>(top, 0);
    bottom = std::min<int64_t>(bottom, s.height);
    for (int64_t y = top; y < bottom; ++y) FillSpan(s, static_cast<int>(y), left, right, pixel);
}

}  // namespace kgdi::detail
