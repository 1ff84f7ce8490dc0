// cull.h: quick rejection of tile features that cannot reach the view.
//
// A slot holds a whole tile, usually far more than a view shows. Before a feature's vertices
// are mapped to pixels and handed to the drawing layer (which would clip every pixel away),
// its bounding box in the slot's vertex frame is compared with the view's world window widened
// by a margin in pixels (half the widest pen, so a thick line just outside still shows its
// edge). The test is conservative: a feature it rejects draws no pixel inside the view.
#ifndef KESTREL_RENDER_CULL_H
#define KESTREL_RENDER_CULL_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "data/store.h"
#include "render/view.h"

namespace kestrel::render {

// The world rectangle that maps to pixels -margin .. size + margin of a view, rounded outward
// by one more pixel. A pixel of the view is scale / factor metres.
struct WorldWindow {
    int64_t west;
    int64_t south;
    int64_t east;
    int64_t north;
};

inline WorldWindow world_window(const ViewState& view, int margin_px) noexcept {
    static constexpr double kLimit = 9.0e15;  // well inside int64, beyond any int32 sum
    const double pixel = view.scale / view.factor;
    const double m = (margin_px + 1.0) * pixel;
    auto pin = [](double v) { return static_cast<int64_t>(std::clamp(v, -kLimit, kLimit)); };
    return WorldWindow{
        pin(std::floor(view.left - m)), pin(std::floor(view.top - (view.height * pixel) - m)),
        pin(std::ceil(view.left + (view.width * pixel) + m)), pin(std::ceil(view.top + m))};
}

// Bounding box of `count` vertices, in the slot's vertex frame.
struct VertexBox {
    int min_x;
    int min_y;
    int max_x;
    int max_y;
};

// The bounding box of a run of vertices. Vertices are (x, y) pairs of int16, so with SSE2 four
// of them are folded at once, x and y in alternate lanes. This scan runs over every feature of
// every tile of a view, most of which lie outside it and most of which have only a few
// vertices, so it is worth the few lines: a run of four or more ends with a group of four that
// overlaps the one before (a vertex folded twice changes no minimum or maximum), and shorter
// runs repeat their last vertex, so that no loop count depends on the run's length modulo four.
inline VertexBox vertex_box(const data::Vertex* v, int count) noexcept {
    VertexBox box{INT16_MAX, INT16_MAX, INT16_MIN, INT16_MIN};
#if defined(__SSE2__)
    constexpr int kPerVector = 4;  // vertices in 128 bits
    if (count <= 0) return box;
    __m128i lo, hi;
    if (count < kPerVector) {
        const int last = count - 1;
        const auto word = [&](int i) {
            int32_t w;
            std::memcpy(&w, v + std::min(i, last), sizeof w);
            return w;
        };
        lo = hi = _mm_set_epi32(word(3), word(2), word(1), word(0));
    } else {
        lo = _mm_set1_epi16(INT16_MAX);
        hi = _mm_set1_epi16(INT16_MIN);
        for (int i = 0; i + kPerVector <= count; i += kPerVector) {
            const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + i));
            lo = _mm_min_epi16(lo, p);
            hi = _mm_max_epi16(hi, p);
        }
        const __m128i p = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + count - kPerVector));
        lo = _mm_min_epi16(lo, p);
        hi = _mm_max_epi16(hi, p);
    }
    // Fold the four lanes of x and of y: swap halves, then neighbouring pairs.
    lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(1, 0, 3, 2)));
    hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(1, 0, 3, 2)));
    lo = _mm_min_epi16(lo, _mm_shuffle_epi32(lo, _MM_SHUFFLE(2, 3, 0, 1)));
    hi = _mm_max_epi16(hi, _mm_shuffle_epi32(hi, _MM_SHUFFLE(2, 3, 0, 1)));
    const uint32_t l = static_cast<uint32_t>(_mm_cvtsi128_si32(lo));
    const uint32_t h = static_cast<uint32_t>(_mm_cvtsi128_si32(hi));
    box.min_x = static_cast<int16_t>(l & 0xFFFF);
    box.min_y = static_cast<int16_t>(l >> 16);
    box.max_x = static_cast<int16_t>(h & 0xFFFF);
    box.max_y = static_cast<int16_t>(h >> 16);
#else
    for (int i = 0; i < count; ++i) {
        box.min_x = std::min<int>(box.min_x, v[i].x);
        box.min_y = std::min<int>(box.min_y, v[i].y);
        box.max_x = std::max<int>(box.max_x, v[i].x);
        box.max_y = std::max<int>(box.max_y, v[i].y);
    }
#endif
    return box;
}

// True when the `count` vertices of `slot` from `first` (all within the slot's vertex array)
// lie entirely on one side of the window, so the feature cannot show in the view.
inline bool outside_window(const data::TileSlot& slot, int32_t first, int count,
                           const WorldWindow& w) noexcept {
    const VertexBox b = vertex_box(slot.vertices + first, count);
    const int64_t ox = slot.header.origin_x;
    const int64_t oy = slot.header.origin_y;
    return ox + b.max_x < w.west || ox + b.min_x > w.east || oy + b.max_y < w.south ||
           oy + b.min_y > w.north;
}

}  // namespace kestrel::render

#endif  // KESTREL_RENDER_CULL_H
