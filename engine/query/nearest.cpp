// nearest.cpp: the nearest-road query: dllquroad (road text and road reference), dllquroad2
// (also the slope of the segment hit) and dllqudrroad (also draws the road highlighted).
//
// The road under a point is searched in the point's own tile only. Conceptually the search
// runs passes of growing tolerance t = 2, 4, 6, ... up to 4 x scale metres, each scanning the
// tile's roads in storage order and stopping at the first segment that passes the near test;
// the first pass with a hit decides. Because the near test only ever widens as t grows, the
// same answer comes from a single scan that finds, for each segment, the smallest tolerance of
// the series at which it passes, and keeps the record with the smallest one (the earlier
// record, and within it the earlier segment, on ties). That scan costs one walk over the tile
// whatever the scale, where the passes would cost one walk per pass.
//
// The walk itself is cut short by a first pass over the slot's vertex array that lists the
// segments whose box, widened by the largest tolerance, can hold the point (four segments at a
// time with SSE2); the records are then visited in storage order and only their listed
// segments are tested exactly. No state is kept between calls.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "query/query.h"
#include "render/view.h"

namespace kestrel::query {
namespace {

// Tolerances beyond this reach no further: no offset between a point and a stored vertex can
// exceed it, so a larger limit finds nothing new (and stays clear of overflow).
constexpr int64_t TOLERANCE_CEILING = int64_t{1} << 40;

// The largest tolerance of the series 2, 4, 6, ... that is at most 4 x scale; 0 when the
// series is empty (4 x scale below 2, or a scale that is not a number).
int64_t largest_tolerance(double scale) noexcept {
    const double limit = TOLERANCE_PIXELS * scale;
    if (!(limit >= FIRST_TOLERANCE)) return 0;
    if (limit >= static_cast<double>(TOLERANCE_CEILING)) return TOLERANCE_CEILING;
    const auto whole = static_cast<int64_t>(limit);
    return whole - whole % FIRST_TOLERANCE;
}

// Rounds t up to the next member of the tolerance series (2, 4, 6, ...).
int64_t round_up_to_step(int64_t t) noexcept {
    if (t < FIRST_TOLERANCE) return FIRST_TOLERANCE;
    return (t + FIRST_TOLERANCE - 1) / FIRST_TOLERANCE * FIRST_TOLERANCE;
}

// The smallest tolerance of the series, at most `t_max`, at which the point passes the near
// test of segment (x1, y1)-(x2, y2); 0 when it passes at none. The slope of the segment goes to
// *slope. The estimate from the box and the line offset is checked against the near test
// itself, so the result is exactly that of trying the tolerances one by one.
int64_t smallest_passing_tolerance(int64_t px, int64_t py, int64_t x1, int64_t y1, int64_t x2,
                                   int64_t y2, int64_t t_max, double* slope) noexcept {
    if (!near_segment(px, py, x1, y1, x2, y2, t_max, slope)) return 0;
    const int64_t box = std::max({int64_t{0}, std::min(x1, x2) - px, px - std::max(x1, x2),
                                  std::min(y1, y2) - py, py - std::max(y1, y2)});
    const int64_t t_box = round_up_to_step(box);
    int64_t t = t_box;
    if (x1 != x2) {
        const double k = static_cast<double>(y1 - y2) / static_cast<double>(x1 - x2);
        const double b = static_cast<double>(y1) - k * static_cast<double>(x1);
        const double offset =
            std::fabs(k) >= 1.0
                ? std::fabs(static_cast<double>(px) - (static_cast<double>(py) - b) / k)
                : std::fabs(static_cast<double>(py) - (k * static_cast<double>(px) + b));
        if (offset < static_cast<double>(t_max))
            t = std::max(t, round_up_to_step(static_cast<int64_t>(std::ceil(offset))));
        else
            t = t_max;
    }
    t = std::min(t, t_max);
    double s = 0;
    while (t - FIRST_TOLERANCE >= t_box &&
           near_segment(px, py, x1, y1, x2, y2, t - FIRST_TOLERANCE, &s))
        t -= FIRST_TOLERANCE;
    while (t < t_max && !near_segment(px, py, x1, y1, x2, y2, t, &s)) t += FIRST_TOLERANCE;
    return t;
}

}  // namespace

bool near_segment(int64_t px, int64_t py, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t t,
                  double* slope) noexcept {
    if (px < std::min(x1, x2) - t || px > std::max(x1, x2) + t || py < std::min(y1, y2) - t ||
        py > std::max(y1, y2) + t)
        return false;
    if (x1 == x2) {
        *slope = 1.0;
        return true;
    }
    const double k = static_cast<double>(y1 - y2) / static_cast<double>(x1 - x2);
    const double b = static_cast<double>(y1) - k * static_cast<double>(x1);
    const double tt = static_cast<double>(t);
    bool pass;
    if (std::fabs(k) >= 1.0) {
        const double xl = (static_cast<double>(py) - b) / k;
        pass = xl - tt <= static_cast<double>(px) && static_cast<double>(px) <= xl + tt;
    } else {
        const double yl = k * static_cast<double>(px) + b;
        pass = yl - tt <= static_cast<double>(py) && static_cast<double>(py) <= yl + tt;
    }
    if (pass) *slope = k;
    return pass;
}

namespace {

// Starting vertices k of the segments (k, k + 1) of a slot's vertex array whose box, widened by
// the largest tolerance, may hold the point; ascending. Only these can pass the near test, so
// the search looks only at them. A segment is left out when both its ends lie beyond the same
// side of the widened window (west, east, south or north). The list may hold more segments than
// pass (each is tested exactly afterwards), never fewer.
int32_t g_candidates[data::MAX_VERTICES];

// The widened window in slot-relative metres, clamped to the int16 range of the vertices.
// Clamping keeps the filter conservative: a bound beyond the range still rejects every vertex
// it should, except possibly one at the very end of the range, which then stays a candidate.
struct Window {
    int16_t west, east, south, north;
};

Window widened_window(int64_t px, int64_t py, int64_t t) noexcept {
    const auto bound = [](int64_t b) {
        return static_cast<int16_t>(std::clamp<int64_t>(b, INT16_MIN, INT16_MAX));
    };
    return Window{bound(px - t), bound(px + t), bound(py - t), bound(py + t)};
}

// True when segment (a, b) lies wholly beyond one side of the window.
inline bool beyond(const Window& w, const data::Vertex& a, const data::Vertex& b) noexcept {
    return (a.x < w.west && b.x < w.west) || (a.x > w.east && b.x > w.east) ||
           (a.y < w.south && b.y < w.south) || (a.y > w.north && b.y > w.north);
}

int collect_candidates(const data::Vertex* v, int count, const Window& w) noexcept {
    int n = 0;
    int k = 0;
#if defined(__SSE2__)
    // Four segments at a time: vertices k..k+3 against vertices k+1..k+4, x and y in
    // alternating 16-bit lanes.
    const __m128i low = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(w.west)) |
                                       static_cast<int32_t>(static_cast<uint16_t>(w.south)) << 16);
    const __m128i high = _mm_set1_epi32(static_cast<int32_t>(static_cast<uint16_t>(w.east)) |
                                        static_cast<int32_t>(static_cast<uint16_t>(w.north)) << 16);
    for (; k + 4 < count; k += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + k));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + k + 1));
        const __m128i below = _mm_and_si128(_mm_cmplt_epi16(a, low), _mm_cmplt_epi16(b, low));
        const __m128i above = _mm_and_si128(_mm_cmpgt_epi16(a, high), _mm_cmpgt_epi16(b, high));
        // A segment is a candidate when neither of its two lanes was rejected.
        const __m128i kept = _mm_cmpeq_epi32(_mm_or_si128(below, above), _mm_setzero_si128());
        unsigned mask = static_cast<unsigned>(_mm_movemask_ps(_mm_castsi128_ps(kept)));
        while (mask != 0) {
            g_candidates[n++] = k + __builtin_ctz(mask);
            mask &= mask - 1;
        }
    }
#endif
    for (; k + 1 < count; ++k)
        if (!beyond(w, v[k], v[k + 1])) g_candidates[n++] = k;
    return n;
}

}  // namespace

RoadHit find_road(int32_t x, int32_t y, double scale) noexcept {
    RoadHit hit{-1, -1, 0.0};
    const int64_t t_max = largest_tolerance(scale);
    const int s = data::find_or_load_tile(data::tile_number_of(x, y));
    if (s < 0 || t_max == 0) return hit;
    const data::TileSlot& slot = data::slot(s);
    const int64_t px = int64_t{x} - slot.header.origin_x;
    const int64_t py = int64_t{y} - slot.header.origin_y;

    // Segments inside the classified part of the vertex array are looked up among the
    // candidates; a record reaching beyond it (a header whose vertex count is too small) is
    // tested segment by segment.
    const int classified = std::clamp(slot.header.vertex_last + 1, 0, data::MAX_VERTICES);
    const int32_t* const first_candidate = g_candidates;
    const int32_t* const end_candidate =
        g_candidates + collect_candidates(slot.vertices, classified, widened_window(px, py, t_max));
    const int32_t* c = first_candidate;  // the first candidate at or after the record's vertices

    int64_t best = 0;  // smallest tolerance found so far; 0: none
    const int last = last_record(slot);
    for (int i = 0; i <= last; ++i) {
        const data::FeatureRecord& r = slot.records[i];
        if (!is_road_type(r.type)) continue;
        int n = 0;
        const data::Vertex* v = record_vertices(slot, r, &n);
        if (n < 2) continue;
        const bool inside = r.first_vertex + n <= classified;
        if (inside) {
            // Records normally follow each other through the vertex array: move on from the
            // last position, and search afresh only when a record starts further back.
            if (c != first_candidate && c[-1] >= r.first_vertex)
                c = std::lower_bound(first_candidate, c, r.first_vertex);
            while (c != end_candidate && *c < r.first_vertex) ++c;
            if (c == end_candidate || *c > r.first_vertex + n - 2) continue;
        }
        const int32_t* rc = c;
        for (int j = 0; j + 1 < n; ++j) {
            if (inside) {
                // Jump to the record's next candidate segment, if it has one.
                if (rc == end_candidate || *rc > r.first_vertex + n - 2) break;
                j = *rc++ - r.first_vertex;
            }
            // A later segment, or a later record, wins only with a strictly smaller tolerance.
            const int64_t limit = best == 0 ? t_max : best - FIRST_TOLERANCE;
            if (limit < FIRST_TOLERANCE) break;
            double slope = 0;
            const int64_t t = smallest_passing_tolerance(px, py, v[j].x, v[j].y, v[j + 1].x,
                                                         v[j + 1].y, limit, &slope);
            if (t != 0) {
                best = t;
                hit = RoadHit{s, i, slope};
            }
        }
        if (best == FIRST_TOLERANCE) break;  // nothing can pass at a smaller tolerance
    }
    return hit;
}

void format_road_text(int slot_index, int record, char* text) noexcept {
    const data::TileSlot& slot = data::slot(slot_index);
    const data::FeatureRecord& r = slot.records[record];
    char district[16];
    std::snprintf(district, sizeof district, "%3d", r.district);
    std::memcpy(text, district, 3);
    text[3] = static_cast<char>('0' + r.type);
    std::strncpy(text + ROAD_TEXT_CODE, r.code, ROAD_CODE_BYTES);
    const char* name = record_name(slot, r);
    if (name != nullptr)
        std::strncpy(text + ROAD_TEXT_NAME, name, data::NAME_BYTES);
    else
        std::memset(text + ROAD_TEXT_NAME, 0, data::NAME_BYTES);
    text[ROAD_TEXT_BYTES - 1] = '\0';
}

int query_road(int32_t x, int32_t y, double scale, char* text) noexcept {
    if (text == nullptr) return -1;
    text[0] = '\0';
    const RoadHit hit = find_road(x, y, scale);
    if (hit.slot < 0) return -1;
    format_road_text(hit.slot, hit.record, text);
    return hit.slot * ROAD_REF_FACTOR + hit.record;
}

int query_road_slope(int32_t x, int32_t y, double scale, char* text, double* slope) noexcept {
    if (text == nullptr || slope == nullptr) {
        if (text != nullptr) text[0] = '\0';
        return -1;
    }
    text[0] = '\0';
    const RoadHit hit = find_road(x, y, scale);
    if (hit.slot < 0) return -1;
    format_road_text(hit.slot, hit.record, text);
    *slope = hit.slope;
    return hit.slot * ROAD_REF_FACTOR + hit.record;
}

int query_draw_road(int32_t x, int32_t y, double scale, char* text, HDC dc, int32_t left,
                    int32_t top) noexcept {
    if (text == nullptr) return -1;
    text[0] = '\0';
    if (dc == nullptr) return -1;
    const RoadHit hit = find_road(x, y, scale);
    if (hit.slot < 0) return -1;
    format_road_text(hit.slot, hit.record, text);

    render::view_state().dc = dc;
    const data::TileSlot& slot = data::slot(hit.slot);
    int n = 0;
    const data::Vertex* v = record_vertices(slot, slot.records[hit.record], &n);
    // The caller's own view at (left, top, scale): a classic one, at scale factor 1.
    HGDIOBJ previous = select_highlight_pen(dc, 1);
    draw_world_polyline(dc, v, n, slot.header.origin_x, slot.header.origin_y, left, top, scale, 1);
    release_highlight_pen(dc, previous);
    return 0;
}

}  // namespace kestrel::query
