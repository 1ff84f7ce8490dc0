/*
 * raster.cpp: the layer's own rasteriser, integer algorithms writing pixels directly. Every
 * routine is written once for the pixel type of the surface (32-bit words or 8-bit colour-table
 * indexes, Plane<T>): both depths get exactly the same pixels, and an 8-bit surface writes a
 * quarter of the bytes (runs of one colour as memset).
 *
 * - One-pixel lines: Bresenham steps along the major axis, leaving out the end point. Pixel i
 *   of a segment (i = 0 .. n-1, n the major-axis length) has minor offset
 *   floor((2 i d_minor + n) / (2 n)), so a segment and its reverse differ only at exact ties.
 *   A segment is clipped by jumping straight to the first step inside the bitmap (the error
 *   term is computed in 128 bits), so coordinates may be anywhere in the 32-bit range.
 * - Wider pens: a disc of the pen's width is stamped at every step of the segment, end point
 *   included: the whole disc at the first step and then only the pixels that each one-pixel
 *   move adds. Successive segments share their end points, which gives round caps and round
 *   joins.
 * - Polylines wholly inside the bitmap in the one- and two-pixel pens draw their short pieces
 *   (the bulk of a map's roads) from a per-bitmap table of offsets; other polylines drop
 *   repeated points before they are drawn.
 * - Polygons: scanline fill with the alternate (even-odd) rule; a pixel is filled when its
 *   centre (x + 0.5, y + 0.5) lies inside, vertices being at integer positions. Edge crossings
 *   are exact rationals, so right and bottom edges are excluded consistently.
 */
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <type_traits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "detail.h"

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

/* Two pixels of a type written with one store (the two-pixel pen's square). */
template <typename T>
using PixelPair = std::conditional_t<sizeof(T) == 1, uint16_t, uint64_t>;
template <typename T>
constexpr PixelPair<T> PairOf(T pixel) {
    return static_cast<PixelPair<T>>(PixelPair<T>{pixel} << (8 * sizeof(T)) | pixel);
}

template <typename T>
inline void FillSpan(const Plane<T>& s, int y, int64_t x0, int64_t x1, T pixel) {
    // [x0, x1) clipped to the row
    if (y < 0 || y >= s.height) return;
    if (x0 < 0) x0 = 0;
    if (x1 > s.width) x1 = s.width;
    if (x0 >= x1) return;
    T* row = s.Row(y);
    std::fill(row + x0, row + x1, pixel);
}

/* Calls plot(major, minor) for the steps of a segment whose major coordinate lies in
 * [lo, hi). The segment runs from (a0, b0) with n > 0 steps along the major axis, direction
 * sa (+1 or -1), and db (>= 0) along the minor axis in direction sb. Steps are 0 .. last. */
template <typename Plot>
inline void WalkSegment(int64_t a0, int64_t b0, int64_t n, int sa, int64_t db, int sb, int64_t last,
                        int64_t lo, int64_t hi, Plot&& plot) {
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
    // Minor offset of step i: floor((2 i db + n) / 2n); rem keeps 2 i db + n mod 2n. A segment
    // that starts inside needs no division; a clipped start jumps there in 128 bits.
    int64_t off = 0, rem = n;
    if (i0 > 0) {
        const i128 num0 = static_cast<i128>(2) * i0 * db + n;
        off = static_cast<int64_t>(num0 / two_n);
        rem = static_cast<int64_t>(num0 % two_n);
    }
    const int64_t step = 2 * db;
    int64_t a = a0 + sa * i0;
    for (int64_t i = i0; i <= i1; ++i) {
        plot(a, b0 + sb * off);
        a += sa;
        rem += step;
        if (rem >= two_n) {  // db <= n: at most one step at a time
            rem -= two_n;
            ++off;
        }
    }
}

/* Segments of at most this many steps take a fixed count of steps (see ThinSegment and
 * WideWalkSquare). */
constexpr int kShortSteps = 4;

/* The minor-axis offset of step i of a short segment, floor((2 i d + n) / 2n), for n major
 * and d minor steps: kShortMinor[n][d][i] (n = 0 reads zeros). Taking it from a table lets
 * every pixel of a short segment be addressed at once, instead of through the chain of error
 * updates that a Bresenham loop carries from one step to the next. */
struct ShortMinor {
    int8_t at[kShortSteps + 1][kShortSteps + 1][kShortSteps + 1] = {};
    constexpr ShortMinor() {
        for (int n = 1; n <= kShortSteps; ++n)
            for (int d = 0; d <= n; ++d)
                for (int i = 0; i <= kShortSteps; ++i)
                    at[n][d][i] = static_cast<int8_t>((2 * i * d + n) / (2 * n));
    }
};
constexpr ShortMinor kShortMinor;

/* Walks the pixels 0 .. n-1 of a segment of n major and d minor steps from p, calling
 * put(pixel, move) with the pointer move to the next one. Branch-free: whether the minor axis
 * moves is close to random for short road pieces, so a conditional jump would mispredict on
 * many pixels. */
template <typename T, typename Put>
inline void StepPixels(T* p, int64_t n, int64_t d, int64_t major, int64_t minor, Put&& put) {
    const int64_t two_n = 2 * n, two_d = 2 * d;
    int64_t rem = n;
    for (int64_t i = 0; i < n; ++i) {
        rem += two_d;
        const int64_t moves = -static_cast<int64_t>(rem >= two_n);  // all ones or zero
        rem -= two_n & moves;
        const int64_t step = major + (minor & moves);
        put(p, step);
        p += step;
    }
}

/* One-pixel segment from p to q, end point left out, both ends inside the bitmap: a plain
 * loop over pixel pointers. */
template <typename T>
inline void ThinSegmentInside(const Plane<T>& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1,
                              T pixel) {
    const int64_t w = s.stride;
    const int64_t dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
    const int64_t sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
    const int64_t n = std::max(dx, dy), d = std::min(dx, dy);
    const int64_t major = dx >= dy ? sx : sy * w, minor = dx >= dy ? sy * w : sx;
    T* p = s.Row(y0) + x0;
    if (n <= kShortSteps) {
        // Most pieces of a road are a few pixels long, and a loop that ends after a varying
        // count mispredicts its exit once a segment: take a fixed count of steps and send the
        // writes past the end to a scratch word.
        T sink;
        const int8_t* const m = kShortMinor.at[n][d];
        for (int i = 0; i < kShortSteps; ++i)
            *(i < n ? p + i * major + m[i] * minor : &sink) = pixel;
        return;
    }
    StepPixels(p, n, d, major, minor, [pixel](T* q, int64_t) { *q = pixel; });
}

/* One-pixel segment from p to q, end point left out, anywhere: segments inside the bitmap
 * (the common case) take the plain loop, others are walked with clipping. */
template <typename T>
void ThinSegment(const Plane<T>& s, int64_t x0, int64_t y0, int64_t x1, int64_t y1, T pixel) {
    const int64_t w = s.width, h = s.height;
    if (x0 >= 0 && x0 < w && x1 >= 0 && x1 < w && y0 >= 0 && y0 < h && y1 >= 0 && y1 < h) {
        ThinSegmentInside(s, x0, y0, x1, y1, pixel);
        return;
    }
    const int64_t dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
    const int sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
    if (dx == 0 && dy == 0) return;
    if (dx >= dy) {
        WalkSegment(x0, y0, dx, sx, dy, sy, dx - 1, 0, w, [&](int64_t x, int64_t y) {
            if (static_cast<uint64_t>(y) < static_cast<uint64_t>(h)) s.Row(y)[x] = pixel;
        });
    } else {
        WalkSegment(y0, x0, dy, sy, dx, sx, dy - 1, 0, h, [&](int64_t y, int64_t x) {
            if (static_cast<uint64_t>(x) < static_cast<uint64_t>(w)) s.Row(y)[x] = pixel;
        });
    }
}

/* A run of pixels of a stamp: row offset dy, columns dx0 .. dx1 (inclusive). */
struct StampSpan {
    int dy, dx0, dx1;
};

/* The disc of a pen width as spans, and for each of the eight one-pixel moves the spans that
 * the disc gains by the move (pixels of the moved disc that the disc before did not hold).
 * Odd widths centre on the pixel, even widths on the corner above-left of it, so a
 * horizontal line of width w covers exactly w rows. Stamping the full disc once and then the
 * gains at each step draws exactly the union of the discs along the segment. */
struct Stamp {
    int width = 0;
    int reach = 0;  // no offset is farther than this from the centre pixel
    std::vector<StampSpan> full;
    std::vector<StampSpan> gain[9];  // index (my + 1) * 3 + (mx + 1)

    /* The same spans as pixel offsets for rows `stride` pixels apart (the unclipped path). */
    struct Run {
        int64_t offset;
        int length;
    };
    int64_t stride = 0;  // 0: no offsets yet (a stride is never 0; it is negative bottom-up)
    std::vector<Run> full_runs;
    std::vector<Run> gain_runs[9];

    /* Narrow pens write their few pixels one by one from offset lists, which beats looping
     * over runs of one or two pixels; wider pens write the full disc as runs. The gains of a
     * step are runs of one or two pixels at any width (one or two at each row of the disc's
     * leading edge), so up to kMaxPointGainWidth they are written from offset lists too. */
    static constexpr int kMaxPointStampWidth = 8;
    static constexpr int kMaxPointGainWidth = 64;
    bool points = false;
    bool gain_as_points = false;
    std::vector<int64_t> full_points;
    std::vector<int64_t> gain_points[9];

    /* Makes the runs and offset lists that the unclipped path of this width uses. */
    void SetStride(int64_t w) {
        if (stride == w) return;
        stride = w;
        points = width <= kMaxPointStampWidth;
        gain_as_points = width <= kMaxPointGainWidth;
        auto flatten = [w](const std::vector<StampSpan>& spans, std::vector<Run>* runs,
                           std::vector<int64_t>* offsets) {
            for (const StampSpan& sp : spans) {
                if (runs) runs->push_back(Run{sp.dy * w + sp.dx0, sp.dx1 - sp.dx0 + 1});
                if (offsets)
                    for (int dx = sp.dx0; dx <= sp.dx1; ++dx) offsets->push_back(sp.dy * w + dx);
            }
        };
        full_runs.clear();
        full_points.clear();
        flatten(full, points ? nullptr : &full_runs, points ? &full_points : nullptr);
        for (int i = 0; i < 9; ++i) {
            gain_runs[i].clear();
            gain_points[i].clear();
            flatten(gain[i], gain_as_points ? nullptr : &gain_runs[i],
                    gain_as_points ? &gain_points[i] : nullptr);
        }
    }

    /* Builds the disc and its gains row by row: row dy of the disc holds the dx with
     * (2dx + e)^2 + (2dy + e)^2 < w^2 (e = 1 for even widths, which centre on the corner). */
    void Build(int w) {
        width = w;
        reach = w / 2 + 1;
        stride = 0;
        const int e = (w % 2 == 0) ? 1 : 0;
        const int rows = 2 * reach + 1;
        std::vector<int> lo(rows + 2, 1), hi(rows + 2, 0);  // index dy + reach + 1; empty = lo > hi
        auto row_of = [&](int dy) { return dy + reach + 1; };
        for (int dy = -reach; dy <= reach; ++dy) {
            const int64_t r2 = int64_t{w} * w - int64_t{2 * dy + e} * (2 * dy + e);
            if (r2 <= 0) continue;
            int64_t m = static_cast<int64_t>(std::sqrt(static_cast<double>(r2)));
            while (m * m >= r2) --m;  // largest m with m^2 < r2
            while ((m + 1) * (m + 1) < r2) ++m;
            // -m <= 2dx + e <= m
            lo[row_of(dy)] = static_cast<int>(CeilDiv<int64_t>(-m - e, 2));
            hi[row_of(dy)] = static_cast<int>(FloorDiv<int64_t>(m - e, 2));
        }
        full.clear();
        for (auto& g : gain) g.clear();
        for (int dy = -reach; dy <= reach; ++dy)
            if (lo[row_of(dy)] <= hi[row_of(dy)])
                full.push_back(StampSpan{dy, lo[row_of(dy)], hi[row_of(dy)]});
        for (int my = -1; my <= 1; ++my)
            for (int mx = -1; mx <= 1; ++mx) {
                if (mx == 0 && my == 0) continue;
                // Offsets o (from the new centre) in the disc whose pixel was not in the old
                // disc: row dy of the new disc minus row dy + my of the old one moved by -mx.
                std::vector<StampSpan>& out = gain[(my + 1) * 3 + (mx + 1)];
                for (int dy = -reach; dy <= reach; ++dy) {
                    const int nl = lo[row_of(dy)], nh = hi[row_of(dy)];
                    if (nl > nh) continue;
                    const int old = dy + my;
                    const bool has_old =
                        old >= -reach && old <= reach && lo[row_of(old)] <= hi[row_of(old)];
                    if (!has_old) {
                        out.push_back(StampSpan{dy, nl, nh});
                        continue;
                    }
                    const int ol = lo[row_of(old)] - mx, oh = hi[row_of(old)] - mx;
                    if (nl <= std::min(nh, ol - 1))
                        out.push_back(StampSpan{dy, nl, std::min(nh, ol - 1)});
                    if (std::max(nl, oh + 1) <= nh)
                        out.push_back(StampSpan{dy, std::max(nl, oh + 1), nh});
                }
            }
    }
};

/* The stamps of one thread. A map changes pens often, so the stamps of the widths up to
 * kMaxPointGainWidth are kept (a few kilobytes each) and only the wider one is built again
 * when its width changes. */
struct Stamps {
    Stamp kept[Stamp::kMaxPointGainWidth + 1];
    Stamp wider;
};

/* The stamp of a pen width for rows `stride` pixels apart. The stamps live on the heap: the
 * library's thread-local storage stays small, since a library loaded with dlopen gets its
 * initial-exec storage (the context cache of objects.cpp) from a small static block. */
Stamp& StampFor(int width, int64_t stride) {
    std::unique_ptr<Stamps>& held = PerThread<std::unique_ptr<Stamps>, struct StampTag>();
    if (!held) held = std::make_unique<Stamps>();
    Stamps& stamps = *held;
    Stamp& stamp = width <= Stamp::kMaxPointGainWidth ? stamps.kept[width] : stamps.wider;
    if (stamp.width != width) stamp.Build(width);
    stamp.SetStride(stride);
    return stamp;
}

template <typename T>
inline void PutRuns(T* p, const std::vector<Stamp::Run>& runs, T pixel) {
    for (const Stamp::Run& r : runs) std::fill_n(p + r.offset, r.length, pixel);
}

template <typename T>
inline void PutPoints(T* p, const int64_t* offsets, size_t n, T pixel) {
    for (size_t k = 0; k < n; ++k) p[offsets[k]] = pixel;
}

/* The unclipped Bresenham walk of a wide segment: `put(p, kind)` writes the full disc (kind
 * 0), the gain of a straight step (1) or of a diagonal step (2) at pixel pointer p. */
template <typename T, typename Put>
inline void WideWalk(const Plane<T>& s, int64_t x0, int64_t y0, int64_t dx, int64_t dy, int sx,
                     int sy, bool start_drawn, Put&& put) {
    const int64_t w = s.stride, n = std::max(dx, dy), d = std::min(dx, dy);
    const bool xmajor = dx >= dy;
    const int64_t major = xmajor ? sx : sy * w, minor = xmajor ? sy * w : sx;
    T* p = s.Row(y0) + x0;
    if (!start_drawn) put(p, 0);
    int64_t rem = n;
    for (int64_t i = 0; i < n; ++i) {
        p += major;
        rem += 2 * d;
        if (rem >= 2 * n) {
            rem -= 2 * n;
            p += minor;
            put(p, 2);
        } else {
            put(p, 1);
        }
    }
}

/* The two-pixel pen's disc: the pixel and those left of and above it, written as two
 * two-pixel stores. */
template <typename T>
inline void PutSquare(T* p, int64_t w, PixelPair<T> two_pixels) {
    std::memcpy(p - w - 1, &two_pixels, sizeof two_pixels);
    std::memcpy(p - 1, &two_pixels, sizeof two_pixels);
}

/* The unclipped walk of the two-pixel pen, the commonest wide pen: the whole square is
 * written at every pixel of the path. Every pixel of each square belongs to the union being
 * drawn, so the pixels that the gain lists would leave out are only written again in the same
 * colour; that costs fewer cycles than choosing a gain list, whose choice is close to random
 * for short road pieces. */
template <typename T>
inline void WideWalkSquare(const Plane<T>& s, int64_t x0, int64_t y0, int64_t dx, int64_t dy,
                           int sx, int sy, bool start_drawn, T pixel) {
    const int64_t w = s.stride, n = std::max(dx, dy), d = std::min(dx, dy);
    const bool xmajor = dx >= dy;
    const int64_t major = xmajor ? sx : sy * w, minor = xmajor ? sy * w : sx;
    const PixelPair<T> two_pixels = PairOf(pixel);
    T* p = s.Row(y0) + x0;
    if (!start_drawn) PutSquare(p, w, two_pixels);
    if (n <= kShortSteps) {
        // A fixed count of steps, as in ThinSegment, without a mispredicted exit: past the
        // end the square stays at the end point and is written again in the same colour,
        // which changes no pixel (the end square belongs to the segment, and when n is 0 the
        // start square is drawn already, by this segment or the one before in this colour).
        const int8_t* const m = kShortMinor.at[n][d];
        for (int i = 1; i <= kShortSteps; ++i) {
            const int k = i < n ? i : static_cast<int>(n);
            PutSquare(p + k * major + m[k] * minor, w, two_pixels);
        }
        return;
    }
    // Squares at steps 1 .. n: one step on from each pixel of the one-pixel walk.
    StepPixels(p, n, d, major, minor,
               [&](T* q, int64_t step) { PutSquare(q + step, w, two_pixels); });
}

/* Writes the spans of a stamp around (x, y); `checked` clips each span to the bitmap. */
template <typename T>
inline void PutStamp(const Plane<T>& s, const std::vector<StampSpan>& spans, int64_t x, int64_t y,
                     T pixel, bool checked) {
    if (!checked) {
        for (const StampSpan& sp : spans)
            std::fill(s.Row(y + sp.dy) + x + sp.dx0, s.Row(y + sp.dy) + x + sp.dx1 + 1, pixel);
        return;
    }
    // Spans are in row order: skip straight to the rows inside the bitmap.
    auto it = std::lower_bound(spans.begin(), spans.end(), -y,
                               [](const StampSpan& sp, int64_t dy) { return sp.dy < dy; });
    for (; it != spans.end() && y + it->dy < s.height; ++it)
        FillSpan(s, static_cast<int>(y + it->dy), x + it->dx0, x + it->dx1 + 1, pixel);
}

/* A segment of a wide pen, both ends included. `start_drawn` tells that the disc at the
 * start is already on the bitmap (the previous segment ended there). Returns whether the disc
 * at the end was drawn. Inlined into the loop over a polyline's segments: a call for each of
 * a map's many short segments costs more than the segment's pixels. */
template <typename T>
[[gnu::always_inline]] inline bool WideSegment(const Plane<T>& s, const Stamp& stamp, int64_t x0,
                                               int64_t y0, int64_t x1, int64_t y1, T pixel,
                                               bool start_drawn) {
    const int64_t r = stamp.reach;
    const bool checked = std::min(x0, x1) - r < 0 || std::max(x0, x1) + r >= s.width ||
                         std::min(y0, y1) - r < 0 || std::max(y0, y1) + r >= s.height;
    const int64_t dx = std::llabs(x1 - x0), dy = std::llabs(y1 - y0);
    const int sx = x1 >= x0 ? 1 : -1, sy = y1 >= y0 ? 1 : -1;
    if (!checked) {
        // Wholly inside: a plain Bresenham loop over pixel pointers.
        const int straight = dx >= dy ? 3 + (sx + 1) : (sy + 1) * 3 + 1;
        const int diagonal = (sy + 1) * 3 + (sx + 1);
        if (stamp.width == 2) {
            WideWalkSquare(s, x0, y0, dx, dy, sx, sy, start_drawn, pixel);
        } else if (stamp.points) {
            const std::vector<int64_t>* lists[3] = {
                &stamp.full_points, &stamp.gain_points[straight], &stamp.gain_points[diagonal]};
            WideWalk(s, x0, y0, dx, dy, sx, sy, start_drawn, [&](T* p, int kind) {
                PutPoints(p, lists[kind]->data(), lists[kind]->size(), pixel);
            });
        } else if (stamp.gain_as_points) {
            const std::vector<int64_t>* lists[3] = {nullptr, &stamp.gain_points[straight],
                                                    &stamp.gain_points[diagonal]};
            WideWalk(s, x0, y0, dx, dy, sx, sy, start_drawn, [&](T* p, int kind) {
                if (kind == 0)
                    PutRuns(p, stamp.full_runs, pixel);
                else
                    PutPoints(p, lists[kind]->data(), lists[kind]->size(), pixel);
            });
        } else {
            const std::vector<Stamp::Run>* lists[3] = {&stamp.full_runs, &stamp.gain_runs[straight],
                                                       &stamp.gain_runs[diagonal]};
            WideWalk(s, x0, y0, dx, dy, sx, sy, start_drawn,
                     [&](T* p, int kind) { PutRuns(p, *lists[kind], pixel); });
        }
        return true;
    }
    bool any = false;
    int64_t px = 0, py = 0;
    auto visit = [&](int64_t x, int64_t y) {
        if (!any) {
            any = true;
            if (!(start_drawn && x == x0 && y == y0)) PutStamp(s, stamp.full, x, y, pixel, checked);
        } else {
            PutStamp(s, stamp.gain[(y - py + 1) * 3 + (x - px + 1)], x, y, pixel, checked);
        }
        px = x;
        py = y;
    };
    if (dx == 0 && dy == 0) {
        if (x0 + r >= 0 && x0 - r < s.width && y0 + r >= 0 && y0 - r < s.height) visit(x0, y0);
    } else if (dx >= dy) {
        if (std::max(y0, y1) + r < 0 || std::min(y0, y1) - r >= s.height) return false;
        WalkSegment(x0, y0, dx, sx, dy, sy, dx, -r, s.width + r, [&](int64_t x, int64_t y) {
            if (y + r >= 0 && y - r < s.height)
                visit(x, y);
            else
                any = false;  // the next disc in range starts afresh
        });
    } else {
        if (std::max(x0, x1) + r < 0 || std::min(x0, x1) - r >= s.width) return false;
        WalkSegment(y0, x0, dy, sy, dx, sx, dy, -r, s.height + r, [&](int64_t y, int64_t x) {
            if (x + r >= 0 && x - r < s.width)
                visit(x, y);
            else
                any = false;
        });
    }
    return any && px == x1 && py == y1;
}

/* An edge of a polygon for the scanline fill, top to bottom. Its crossing with the centre
 * line of row y is x(y) = x0 + (2y + 1 - 2y0)(x1 - x0) / (2 (y1 - y0)); the first pixel whose
 * centre is at or right of it is ceil(x(y) - 0.5) = ceil(p / q) with
 * p = 2 x0 d + 2 (2y + 1 - 2y0)(x1 - x0) - d, q = 2d, d = 2 (y1 - y0). From row to row p grows
 * by 4 (x1 - x0), so the crossing is kept as c = ceil(p / q) and r = c q - p (0 <= r < q) and
 * stepped exactly with integers; only the first row needs 128-bit arithmetic. */
struct Edge {
    int64_t ytop, ybot;      // rows ytop .. ybot-1 cross it
    int64_t x0, y0, x1, y1;  // end points, y0 < y1
    int64_t c, r, q;         // crossing state (see above)
    int64_t step_c, step_r;  // 4 (x1 - x0) = step_c q - step_r, 0 <= step_r < q

    void Start(int64_t y) {
        q = 4 * (y1 - y0);
        const i128 d = 2 * static_cast<i128>(y1 - y0);
        const i128 p = 2 * static_cast<i128>(x0) * d +
                       2 * static_cast<i128>(2 * y + 1 - 2 * y0) * (x1 - x0) - d;
        const i128 cc = CeilDiv<i128>(p, q);
        c = static_cast<int64_t>(std::clamp<i128>(cc, INT64_MIN / 4, INT64_MAX / 4));
        r = static_cast<int64_t>(cc * q - p);
        const int64_t inc = 4 * (x1 - x0);
        step_c = CeilDiv<int64_t>(inc, q);
        step_r = step_c * q - inc;
    }
    void Step() {
        c += step_c;
        r += step_r;
        if (r >= q) {  // p grew by less than step_c * q: the ceiling is one lower
            r -= q;
            --c;
        }
    }
};

/* The alternate-rule fill of a set of closed rings. */
template <typename T>
void FillRings(const Plane<T>& s, T pixel, const POINT* pts, const int* counts, int rings) {
    if (s.width <= 0 || s.height <= 0) return;
    std::vector<Edge>& edges = PerThread<std::vector<Edge>, struct FillEdgesTag>();
    std::vector<int64_t>& xs = PerThread<std::vector<int64_t>, struct FillCrossingsTag>();
    std::vector<Edge*>& active = PerThread<std::vector<Edge*>, struct FillActiveTag>();
    edges.clear();
    active.clear();
    const POINT* ring = pts;
    for (int k = 0; k < rings; ++k) {
        const int n = counts[k];
        for (int i = 0; i < n && n >= 3; ++i) {
            const POINT a = ring[i], b = ring[i + 1 < n ? i + 1 : 0];
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
    int64_t yend = 0;
    for (const Edge& e : edges) yend = std::max(yend, e.ybot);
    size_t next = 0;
    for (int64_t y = edges.front().ytop; y < yend; ++y) {
        while (next < edges.size() && edges[next].ytop <= y) {
            edges[next].Start(y);
            active.push_back(&edges[next++]);
        }
        active.erase(std::remove_if(active.begin(), active.end(),
                                    [y](const Edge* e) { return e->ybot <= y; }),
                     active.end());
        xs.clear();
        for (Edge* e : active) {
            xs.push_back(std::clamp<int64_t>(e->c, -1, int64_t{s.width} + 1));
            e->Step();
        }
        std::sort(xs.begin(), xs.end());
        for (size_t k = 0; k + 1 < xs.size(); k += 2)
            FillSpan(s, static_cast<int>(y), xs[k], xs[k + 1], pixel);
    }
}

/* The bounding box of a polyline's points. */
struct PointBox {
    int64_t left, top, right, bottom;
};

/* The box of count >= 1 points. With SSE2 two points are folded at a time (x and y in
 * alternate lanes, the 32-bit minimum and maximum made of compares and masks); an odd count
 * folds the last two points again, which changes nothing. */
[[gnu::always_inline]] inline PointBox BoxOf(const POINT* pts, int count) {
#if defined(__SSE2__)
    if (count >= 2) {
        const auto load = [&](int i) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(pts + i));
        };
        const auto min = [](__m128i a, __m128i b) {
            const __m128i greater = _mm_cmpgt_epi32(a, b);
            return _mm_or_si128(_mm_and_si128(greater, b), _mm_andnot_si128(greater, a));
        };
        const auto max = [](__m128i a, __m128i b) {
            const __m128i greater = _mm_cmpgt_epi32(a, b);
            return _mm_or_si128(_mm_and_si128(greater, a), _mm_andnot_si128(greater, b));
        };
        __m128i lo = load(0), hi = lo;
        for (int i = 2; i + 2 <= count; i += 2) {
            const __m128i v = load(i);
            lo = min(lo, v);
            hi = max(hi, v);
        }
        lo = min(lo, load(count - 2));
        hi = max(hi, load(count - 2));
        lo = min(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
        hi = max(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
        return PointBox{_mm_cvtsi128_si32(lo), _mm_cvtsi128_si32(_mm_srli_si128(lo, 4)),
                        _mm_cvtsi128_si32(hi), _mm_cvtsi128_si32(_mm_srli_si128(hi, 4))};
    }
#endif
    PointBox b{pts[0].x, pts[0].y, pts[0].x, pts[0].y};
    for (int i = 1; i < count; ++i) {
        b.left = std::min<int64_t>(b.left, pts[i].x);
        b.right = std::max<int64_t>(b.right, pts[i].x);
        b.top = std::min<int64_t>(b.top, pts[i].y);
        b.bottom = std::max<int64_t>(b.bottom, pts[i].y);
    }
    return b;
}

/* Copies the points to `kept` leaving out each repeat of the point before; returns how many
 * are kept. A piece of length 0 adds no pixel to the pieces around it (a one-pixel pen draws
 * nothing for it, and a wider pen's disc at that point is drawn by the piece that ends or
 * starts there), while a road at a small scale has many pieces that fall on one pixel. A line
 * that is one point throughout keeps two, so that a wide pen still draws its dot. */
int DropRepeats(const POINT* pts, int count, POINT* kept) {
    POINT previous = kept[0] = pts[0];
    int last = 0;
    for (int i = 1; i < count; ++i) {
        // Written either way and kept only when it moves: no branch on the data.
        const POINT p = pts[i];
        kept[last + 1] = p;
        last += (p.x != previous.x) | (p.y != previous.y);
        previous = p;
    }
    if (last == 0) kept[++last] = pts[0];
    return last + 1;
}

/* A segment of the two-pixel pen with its square and every pixel it covers inside the bitmap;
 * `start_drawn` as for WideSegment. */
template <typename T>
inline void SquareSegmentInside(const Plane<T>& s, POINT a, POINT b, T pixel, bool start_drawn) {
    const int64_t dx = std::llabs(int64_t{b.x} - a.x), dy = std::llabs(int64_t{b.y} - a.y);
    WideWalkSquare(s, a.x, a.y, dx, dy, b.x >= a.x ? 1 : -1, b.y >= a.y ? 1 : -1, start_drawn,
                   pixel);
}

/* A polyline wholly inside the bitmap, in a one-pixel pen (`square` false) or the two-pixel
 * pen: pieces of up to ShortPieces::kReach steps each way are drawn from the bitmap's table,
 * longer ones with the plain loops. The table rewrites a piece's first pixel, or its end
 * square, where the piece has fewer steps than the table, which changes no pixel. Repeated
 * points need not be dropped: a piece of length 0 is in the table too. Its square is the one
 * at its start, drawn already; a one-pixel pen must draw nothing for it, so its stores go to
 * the bitmap's sink word instead of the picture (chosen without a branch: a third of a map's
 * pieces have length 0, at places no predictor can guess). */
template <typename T>
void ShortPiecePolyline(const Plane<T>& s, const POINT* pts, int n, bool closed, bool square,
                        T pixel) {
    constexpr int kReach = ShortPieces::kReach, kSide = ShortPieces::kSide;
    const int segments = closed ? n : n - 1;
    const int64_t w = s.stride;
    const PixelPair<T> two_pixels = PairOf(pixel);
    const auto sink = reinterpret_cast<uintptr_t>(s.sink);
    if (square) PutSquare(s.Row(pts[0].y) + pts[0].x, w, two_pixels);
    for (int i = 0; i < segments; ++i) {
        const POINT a = pts[i], b = pts[i + 1 < n ? i + 1 : 0];
        const int64_t dx = int64_t{b.x} - a.x, dy = int64_t{b.y} - a.y;
        if (static_cast<uint64_t>(dx + kReach) > uint64_t{2} * kReach ||
            static_cast<uint64_t>(dy + kReach) > uint64_t{2} * kReach) {
            if (square)
                SquareSegmentInside(s, a, b, pixel, true);
            else
                ThinSegmentInside(s, a.x, a.y, b.x, b.y, pixel);
            continue;
        }
        const int k = static_cast<int>((dy + kReach) * kSide + (dx + kReach));
        T* const p = s.Row(a.y) + a.x;
        if (square) {
            const int32_t* o = s.pieces->square[k];
            for (int j = 0; j < kReach; ++j) PutSquare(p + o[j], w, two_pixels);
        } else {
            const uintptr_t moves = 0 - static_cast<uintptr_t>((dx | dy) != 0);  // all ones or 0
            auto* const to =
                reinterpret_cast<T*>((reinterpret_cast<uintptr_t>(p) & moves) | (sink & ~moves));
            const int32_t* o = s.pieces->thin[k];
            for (int j = 0; j < kReach; ++j) to[o[j]] = pixel;
        }
    }
}

/* Polylines of up to this many points are copied to the stack, longer ones to a per-thread
 * buffer (a map's roads have seven points on average). */
constexpr int kStackPoints = 128;

/* The segments of a polyline of `n` points (repeats dropped) in a pen wider than one pixel,
 * each segment's disc stamped along it. */
template <typename T>
void StrokeWide(const Plane<T>& s, int width, T pixel, const POINT* kept, int n, int segments) {
    const Stamp& stamp = StampFor(width, s.stride);
    bool drawn = false;
    for (int i = 0; i < segments; ++i) {
        const POINT a = kept[i], b = kept[i + 1 < n ? i + 1 : 0];
        drawn = WideSegment(s, stamp, a.x, a.y, b.x, b.y, pixel, drawn);
    }
}

/* StrokePolyline on the pixels of one type. */
template <typename T>
void StrokePlane(const Plane<T>& s, int pen_width, T pixel, const POINT* pts, int count,
                 bool closed) {
    // A line whose pixels all lie inside the bitmap, as most lines of a map do, needs no
    // test a segment: a one-pixel pen covers its points, a wider one also its reach.
    const PointBox box = BoxOf(pts, count);
    const int width = std::min(pen_width, kMaxPenWidth);
    const int64_t reach = width <= 1 ? 0 : width / 2 + 1;
    const bool inside = box.left - reach >= 0 && box.right + reach < s.width &&
                        box.top - reach >= 0 && box.bottom + reach < s.height;
    if (inside && s.pieces && s.sink && width <= 2) {
        ShortPiecePolyline(s, pts, count, closed, width == 2, pixel);
        return;
    }
    POINT stack[kStackPoints];
    POINT* kept = stack;
    if (count > kStackPoints) {
        std::vector<POINT>& buffer = PerThread<std::vector<POINT>, struct StrokePointsTag>();
        buffer.resize(static_cast<size_t>(count));
        kept = buffer.data();
    }
    const int n = DropRepeats(pts, count, kept);
    const int segments = closed ? n : n - 1;
    const auto end_of = [&](int i) { return kept[i + 1 < n ? i + 1 : 0]; };
    if (width <= 1) {
        for (int i = 0; i < segments; ++i) {
            const POINT a = kept[i], b = end_of(i);
            if (inside)
                ThinSegmentInside(s, a.x, a.y, b.x, b.y, pixel);
            else
                ThinSegment(s, a.x, a.y, b.x, b.y, pixel);
        }
        return;
    }
    if (inside && width == 2) {
        for (int i = 0; i < segments; ++i) SquareSegmentInside(s, kept[i], end_of(i), pixel, i > 0);
        return;
    }
    StrokeWide(s, width, pixel, kept, n, segments);
}

}  // namespace

void StrokePolyline(const Surface& s, const PenAttrs& pen, const POINT* pts, int count,
                    bool closed) {
    if (pen.null || count < 2 || !s.top) return;
    const uint32_t value = s.ValueOf(pen.color);
    s.Visit([&](const auto& plane) {
        using T = std::remove_reference_t<decltype(*plane.top)>;
        StrokePlane(plane, pen.width, static_cast<T>(value), pts, count, closed);
    });
}

std::unique_ptr<const ShortPieces> MakeShortPieces(std::ptrdiff_t stride) {
    constexpr int kReach = ShortPieces::kReach;
    auto t = std::make_unique<ShortPieces>();
    for (int dy = -kReach; dy <= kReach; ++dy)
        for (int dx = -kReach; dx <= kReach; ++dx) {
            const int k = (dy + kReach) * ShortPieces::kSide + (dx + kReach);
            const int n = std::max(std::abs(dx), std::abs(dy)),
                      d = std::min(std::abs(dx), std::abs(dy));
            const int sx = dx >= 0 ? 1 : -1, sy = dy >= 0 ? 1 : -1;
            const int64_t major = std::abs(dx) >= std::abs(dy) ? sx : int64_t{sy} * stride;
            const int64_t minor = std::abs(dx) >= std::abs(dy) ? int64_t{sy} * stride : sx;
            const auto at = [&](int i) {
                return static_cast<int32_t>(i * major + kShortMinor.at[n][d][i] * minor);
            };
            for (int j = 0; j < kReach; ++j) {
                t->thin[k][j] = j < n ? at(j) : 0;
                t->square[k][j] = at(std::min(j + 1, n));
            }
        }
    return t;
}

void FillPolygon(const Surface& s, COLORREF color, const POINT* pts, int count) {
    FillPolyPolygon(s, color, pts, &count, 1);
}

void FillPolyPolygon(const Surface& s, COLORREF color, const POINT* pts, const int* counts,
                     int polys) {
    if (!s.top) return;
    const uint32_t value = s.ValueOf(color);
    s.Visit([&](const auto& plane) {
        using T = std::remove_reference_t<decltype(*plane.top)>;
        FillRings(plane, static_cast<T>(value), pts, counts, polys);
    });
}

void FillRectPixels(const Surface& s, int64_t left, int64_t top, int64_t right, int64_t bottom,
                    COLORREF color) {
    if (!s.top) return;
    top = std::max<int64_t>(top, 0);
    bottom = std::min<int64_t>(bottom, s.height);
    const uint32_t value = s.ValueOf(color);
    s.Visit([&](const auto& plane) {
        using T = std::remove_reference_t<decltype(*plane.top)>;
        for (int64_t y = top; y < bottom; ++y)
            FillSpan(plane, static_cast<int>(y), left, right, static_cast<T>(value));
    });
}

}  // namespace kgdi::detail
