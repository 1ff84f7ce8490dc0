// view.h: the drawing state shared by the view drawing, the labellers, the overlays, the
// highlight and the bitmap export.
//
// - ColourTable: 50 entries of red, green, blue and width, changed by dllsetcolor.
// - ViewState: the device context, window, scale and scale factor of the last accepted view;
//   every overlay, query drawing and export works on it.
// - ViewOptions: how a view is drawn beyond the classic arguments (its scale factor and the
//   order in which its tiles are drawn).
// - LabelBox list: the pixel rectangles of the labels of the current view, tested by every
//   labeller with boxes_overlap so that labels do not cover each other.
// - The pen table and the shared point buffer of 10000 pixel points.
//
// All of it is process-global, as the rest of the engine's state; callers make one call at a
// time.
#ifndef KESTREL_RENDER_VIEW_H
#define KESTREL_RENDER_VIEW_H

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "build_config.h"
#include "gdi_api.h"

namespace kestrel::render {

inline constexpr int COLOUR_ENTRIES = 50;
inline constexpr int LABEL_BOX_CAPACITY = 3000;
inline constexpr int POINT_BUFFER_SIZE = 10000;
inline constexpr int PEN_PLACES = 21;  // places 0..20 of the pen table

struct ColourEntry {
    int16_t red;
    int16_t green;
    int16_t blue;
    int16_t width;  // metres for the scaled entries (1..9, 15), pixels for the others
};

// The colour of an entry, from the low 8 bits of its components.
inline COLORREF colour_of(const ColourEntry& e) noexcept {
    return RGB(e.red & 0xFF, e.green & 0xFF, e.blue & 0xFF);
}

// Scale factors a view may be drawn at (ViewOptions::scale_factor).
inline constexpr int kMinScaleFactor = 1;
inline constexpr int kMaxScaleFactor = 3;

// A view drawn at scale factor F shows the map of scale S (what is drawn: layers, tiles, labels,
// all decided at S) with F times the pixels: its picture's pixels are S / F metres, and every
// length in pixels (pen widths, text, label offsets and boxes, road-name spacing, symbols) is F
// times that of the 1x map. Factor 1 is the classic view.
//
// The order in which a view draws its tiles decides which strokes lie on top where features of
// two tiles cross, and, since labels are placed in that order, which label wins a place both
// want. Within a tile the records are always drawn in storage order.
enum class DrawingOrder {
    // The classic order, which the exports keep: the pinned cache slots by slot number. It
    // depends on which slot each tile was loaded into, that is on the views and queries drawn
    // before: the same view can come out differently in two processes.
    kCacheSlots,
    // The view's tiles as the view lists them: rows from south to north, in each row the
    // columns from east to west (from the tile numbers: row = number / 1000, column =
    // number % 1000). A function of the view alone, and the order in which a fresh cache
    // loads the tiles of its first view, so that view is drawn as the classic order draws it.
    // The overlays and the road labeller drawn over such a view follow it too.
    kTileList,
};

struct ViewOptions {
    int scale_factor = 1;  // kMinScaleFactor .. kMaxScaleFactor
    DrawingOrder order = DrawingOrder::kCacheSlots;
};

struct ViewState {
    HDC dc;
    int32_t left;        // world x of the view's west edge
    int32_t top;         // world y of the view's north edge
    int32_t width;       // pixels of the picture
    int32_t height;      // pixels of the picture
    double scale;        // metres per pixel of the 1x map: the picture's pixels are scale / factor
    int32_t factor = 1;  // the view's scale factor
    DrawingOrder order = DrawingOrder::kCacheSlots;  // what the overlays follow
};

// A length in pixels of the 1x map, in pixels of a view at `factor`.
inline int32_t scaled(int32_t pixels, int32_t factor) noexcept {
    return pixels * factor;
}

// The width of a pen of `width` pixels at 1x (0 and 1 both draw one-pixel lines) at `factor`:
// the same width at factor 1, F times the drawn width above it.
inline int scaled_pen_width(int width, int factor) noexcept {
    if (factor <= 1) return width;
    return (width < 1 ? 1 : width) * factor;
}

struct LabelBox {
    int16_t left;
    int16_t top;
    int16_t right;
    int16_t bottom;
};

// Boxes are added only through add_label_box, which keeps the collision index of
// overlaps_any in step; the list may be emptied or cut short by setting `last` directly.
struct LabelBoxList {
    LabelBox boxes[LABEL_BOX_CAPACITY];
    int32_t last;  // -1 when empty
};

// -1 if the boxes are apart (right2 < left1, right1 < left2, bottom2 < top1 or
// bottom1 < top2), else 1: boxes that only touch overlap.
int boxes_overlap(int left1, int top1, int right1, int bottom1, int left2, int top2, int right2,
                  int bottom2) noexcept;

// True when the box overlaps any box of the list from index `first` to the last.
bool overlaps_any(const LabelBox& box, int first) noexcept;

// Appends a box; false (and nothing stored) when the list is full. Coordinates are clamped
// to the int16 range.
bool add_label_box(int left, int top, int right, int bottom) noexcept;

ColourEntry* colour_table() noexcept;  // 50 entries
ViewState& view_state() noexcept;
LabelBoxList& label_boxes() noexcept;
HPEN* pen_table() noexcept;      // PEN_PLACES places
POINT* point_buffer() noexcept;  // POINT_BUFFER_SIZE points

// Restores the colour table defaults, an empty ViewState and an empty label list (tests).
void reset_view_state() noexcept;

// A double truncated toward zero into an int32; values beyond the range (and NaN) are pinned to
// its ends instead of being undefined, so far-away coordinates only ever clip.
inline int32_t truncate_to_int32(double v) noexcept {
    if (!(v > -2147483648.0)) return INT32_MIN;
    if (v >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(v);
}

// Pixel mapping of a world coordinate at scale factor 1, held in 64 bits (a slot origin plus a
// vertex offset, or a tile corner) so that sums near the ends of the int32 range cannot
// overflow: the difference is an integer, divided in double precision and truncated toward
// zero.
inline int32_t to_column_wide(int64_t x, int32_t left, double scale) noexcept {
    return truncate_to_int32(static_cast<double>(x - left) / scale);
}
inline int32_t to_row_wide(int64_t y, int32_t top, double scale) noexcept {
    return truncate_to_int32(static_cast<double>(top - y) / scale);
}

// The pixel of a world point held in 64 bits: to_column_wide and to_row_wide together.
inline POINT to_point_wide(int64_t x, int64_t y, int32_t left, int32_t top, double scale) noexcept {
    return POINT{to_column_wide(x, left, scale), to_row_wide(y, top, scale)};
}

// The pixel mapping of one view, as to_point_wide gives it, for the many vertices of a view.
// A division in double precision is the slowest step of mapping a vertex; when the scale is a
// whole number of metres it is replaced by an exact integer division: the quotient of two
// integers then lies at least 1 / scale away from the next whole number, far more than the
// rounding of a double quotient below 2^31, so both truncate to the same pixel. The integer
// division by the view's scale is a multiplication by its rounded-up reciprocal 2^64 / scale,
// which is exact for every numerator below 2^32. Differences of 2^31 or more, and scales that
// are not whole, take the double division.
//
// At scale factor F a world difference d maps to d * F / scale, truncated toward zero: the
// product is an integer, so the division stays exact for whole scales (at F = 2 and scale 5 the
// picture's pixels are 2.5 m, and the view still divides by 5). At F = 1 this is to_point_wide.
//
// A feature's vertices are 16-bit offsets from its tile's origin, so a whole feature maps in
// one run (map_offsets): four vertices at a time with SSE2, whose 32 x 32-bit multiplication
// takes a 32-bit reciprocal. With l = ceil(log2 scale) and m = ceil(2^(31 + l) / scale),
// m < 2^32 and m * scale - 2^(31 + l) < scale <= 2^l, so (n * m) >> (31 + l) is the quotient
// of n / scale for every n below 2^31 (Granlund and Montgomery, "Division by invariant
// integers using multiplication", 1994, theorem 4.2).
class PixelMap {
  public:
    PixelMap(int32_t left, int32_t top, double scale, int32_t factor = 1) noexcept
        : left_(left), top_(top), scale_(scale), factor_(factor < 1 ? 1 : factor) {
#if defined(__SIZEOF_INT128__)
        if (scale >= 1.0 && scale <= kMaxWholeScale &&
            scale == static_cast<double>(static_cast<int64_t>(scale))) {
            const auto whole = static_cast<uint64_t>(scale);
            mode_ = whole == 1 ? Mode::kOne : Mode::kWhole;
            if (whole > 1) {
                reciprocal_ = UINT64_MAX / whole + 1;
                int l = 0;
                while ((uint64_t{1} << l) < whole) ++l;
                shift_ = 31 + l;
                reciprocal32_ =
                    static_cast<uint32_t>(((uint64_t{1} << shift_) + whole - 1) / whole);
            }
        }
#endif
    }

    // The pixels of `count` vertices, 16-bit (x, y) offsets from the world point
    // (origin_x, origin_y), the same pixels as operator() gives each of them.
    template <class Vertex>
    void map_offsets(int64_t origin_x, int64_t origin_y, const Vertex* v, int count,
                     POINT* out) const noexcept {
        static_assert(sizeof(Vertex) == 4, "two 16-bit offsets");
        if (count <= 0) return;
#if defined(__SSE2__) && defined(__SIZEOF_INT128__)
        // Every offset keeps the difference, times the factor, within +-(2^31 - 1): one test
        // for the whole run.
        const int64_t bx = origin_x - left_, by = top_ - origin_y;
        if (mode_ != Mode::kDivide && static_cast<uint64_t>(bx + reach_) <= span_ &&
            static_cast<uint64_t>(by + reach_) <= span_) {
            // Two vertices at a time: their (x, y) offsets widened to 32 bits, at factor 1 by
            // sign extension, above it multiplied by the factor on the way.
            if (factor_ == 1) {
                map_offsets_sse(bx, by, v, count, out,
                                [](__m128i pairs) { return _mm_srai_epi32(pairs, 16); });
            } else {
                const __m128i f = _mm_set1_epi32(factor_);  // 16-bit lanes F, 0, F, 0, ...
                map_offsets_sse(bx * factor_, by * factor_, v, count, out, [f](__m128i pairs) {
                    // The high half of each 32-bit lane holds the offset, the low half its copy:
                    // shifted down, unsigned, the copy is gone and madd takes F x offset.
                    return _mm_madd_epi16(_mm_srli_epi32(pairs, 16), f);
                });
            }
            return;
        }
#endif
        for (int i = 0; i < count; ++i) {
            int16_t xy[2];
            std::memcpy(xy, v + i, sizeof xy);
            out[i] = (*this)(origin_x + xy[0], origin_y + xy[1]);
        }
    }

    POINT operator()(int64_t x, int64_t y) const noexcept {
        const int64_t dx = (x - left_) * factor_, dy = (top_ - y) * factor_;
        if (mode_ != Mode::kDivide && small(dx) && small(dy)) {
            if (mode_ == Mode::kOne)
                return POINT{static_cast<int32_t>(dx), static_cast<int32_t>(dy)};
            return POINT{divide(dx), divide(dy)};
        }
        return POINT{truncate_to_int32(static_cast<double>(dx) / scale_),
                     truncate_to_int32(static_cast<double>(dy) / scale_)};
    }

  private:
    static constexpr double kMaxWholeScale = 1 << 20;
    enum class Mode { kDivide, kWhole, kOne };

    // -2^31 <= d < 2^31
    static bool small(int64_t d) noexcept {
        return static_cast<uint64_t>(d + (int64_t{1} << 31)) < (uint64_t{1} << 32);
    }

    // d / scale truncated toward zero, for small d and whole scales above 1.
    int32_t divide(int64_t d) const noexcept {
#if defined(__SIZEOF_INT128__)
        const uint64_t sign = static_cast<uint64_t>(d >> 63);  // all ones when negative
        const uint64_t magnitude = (static_cast<uint64_t>(d) ^ sign) - sign;
        const auto q =
            static_cast<uint64_t>((static_cast<unsigned __int128>(magnitude) * reciprocal_) >> 64);
        return static_cast<int32_t>(static_cast<int64_t>((q ^ sign) - sign));
#else
        return truncate_to_int32(static_cast<double>(d) / scale_);
#endif
    }

#if defined(__SSE2__) && defined(__SIZEOF_INT128__)
    // map_offsets for whole scales, (bx, by) the origin's difference from the view's corner
    // times the factor. widen(pairs) turns two vertices, each 16-bit offset doubled into the
    // halves of a 32-bit lane, into the four offsets times the factor in 32 bits.
    template <class Vertex, class Widen>
    void map_offsets_sse(int64_t bx, int64_t by, const Vertex* v, int count, POINT* out,
                         Widen widen) const noexcept {
        const __m128i base = _mm_set_epi32(static_cast<int32_t>(by), static_cast<int32_t>(bx),
                                           static_cast<int32_t>(by), static_cast<int32_t>(bx));
        const __m128i flip = _mm_set_epi32(-1, 0, -1, 0);  // y offsets count southward
        const __m128i m = _mm_set1_epi32(static_cast<int32_t>(reciprocal32_));
        const __m128i shift = _mm_cvtsi32_si128(shift_);
        const bool one = mode_ == Mode::kOne;
        // Two vertices, their offsets in 32 bits, to their two pixels.
        const auto pixels = [&](__m128i offsets) {
            const __m128i d =
                _mm_add_epi32(base, _mm_sub_epi32(_mm_xor_si128(offsets, flip), flip));
            if (one) return d;
            const __m128i sign = _mm_srai_epi32(d, 31);
            const __m128i magnitude = _mm_sub_epi32(_mm_xor_si128(d, sign), sign);
            const __m128i even = _mm_srl_epi64(_mm_mul_epu32(magnitude, m), shift);
            const __m128i odd =
                _mm_srl_epi64(_mm_mul_epu32(_mm_srli_epi64(magnitude, 32), m), shift);
            const __m128i q = _mm_or_si128(even, _mm_slli_epi64(odd, 32));
            return _mm_sub_epi32(_mm_xor_si128(q, sign), sign);
        };
        const auto lo = [&](__m128i raw) {  // the pixels of vertices 0 and 1 of four
            return pixels(widen(_mm_unpacklo_epi16(raw, raw)));
        };
        const auto hi = [&](__m128i raw) {  // and of vertices 2 and 3
            return pixels(widen(_mm_unpackhi_epi16(raw, raw)));
        };
        const auto store = [](POINT* to, __m128i two) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to), two);
        };
        const auto load = [&](int at) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + at));
        };
        if (count >= 4) {
            // Groups of four, the last one overlapping the one before when count is not a
            // multiple of four (a vertex mapped twice gives the same pixel twice).
            for (int i = 0;; i += 4) {
                if (i + 4 > count) i = count - 4;
                const __m128i raw = load(i);
                store(out + i, lo(raw));
                store(out + i + 2, hi(raw));
                if (i + 4 == count) return;
            }
        }
        // One to three vertices: the last one stands in for the missing ones, and only the
        // pixels asked for are stored.
        const auto word = [&](int k) {
            int32_t w;
            std::memcpy(&w, v + (k < count ? k : count - 1), sizeof w);
            return w;
        };
        const __m128i raw = _mm_set_epi32(word(3), word(2), word(1), word(0));
        const __m128i first = lo(raw);
        if (count == 1) {
            _mm_storel_epi64(reinterpret_cast<__m128i*>(out), first);
            return;
        }
        store(out, first);
        if (count == 3) _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 2), hi(raw));
    }
#endif

    int32_t left_;
    int32_t top_;
    double scale_;
    int32_t factor_;
    // The largest origin difference whose run of offsets stays, times the factor, within
    // +-(2^31 - 1); at factor 1, 2^31 - 1 - 2^15.
    int64_t reach_ = ((int64_t{1} << 31) - 1 - (int64_t{INT16_MAX} + 1) * factor_) / factor_;
    uint64_t span_ = 2 * static_cast<uint64_t>(reach_);  // -reach_ .. reach_ after adding reach_
    Mode mode_ = Mode::kDivide;
    uint64_t reciprocal_ = 0;
    uint32_t reciprocal32_ = 0;  // m of map_offsets
    int shift_ = 0;              // 31 + l of map_offsets
};

// The pixel mapping of a view: its corner, scale and scale factor.
inline PixelMap view_pixel_map(const ViewState& view) noexcept {
    return PixelMap(view.left, view.top, view.scale, view.factor);
}

// Where the labels of a view go. Labels (place labels, road names, catalogue labels, the names
// and symbols of the points of interest) are placed on the pixel grid of the 1x map: anchors
// mapped at the view's scale, tested against the 1x view's size, road names walked along the
// 1x polyline. Their picture positions and boxes are then F times those, so a view drawn at
// factor F makes exactly the label decisions of the 1x view (boxes and cells are all F times
// their 1x rectangles, and scaling keeps every comparison) and draws each label at F times its
// 1x place: at most F - 1 picture pixels, less than a pixel of the 1x map, from the exact
// mapping that lines and areas take. At factor 1 this is the view's own mapping.
class LabelGrid {
  public:
    explicit LabelGrid(const ViewState& view) noexcept
        : map_(view.left, view.top, view.scale),
          factor_(view.factor < 1 ? 1 : view.factor),
          width_(view.width / factor_),
          height_(view.height / factor_) {}

    // The pixel of a world point on the 1x grid.
    POINT on_grid(int64_t x, int64_t y) const noexcept { return map_(x, y); }
    // The picture pixel of a 1x pixel: F times it, pinned to the int32 range.
    POINT to_picture(POINT p) const noexcept { return POINT{times(p.x), times(p.y)}; }
    // A length of the 1x map in picture pixels.
    int32_t px(int32_t pixels) const noexcept { return scaled(pixels, factor_); }
    const PixelMap& map() const noexcept { return map_; }
    int32_t factor() const noexcept { return factor_; }
    int32_t width() const noexcept { return width_; }  // the 1x view's size
    int32_t height() const noexcept { return height_; }

  private:
    int32_t times(int32_t v) const noexcept {
        const int64_t p = int64_t{v} * factor_;
        return static_cast<int32_t>(p < INT32_MIN ? INT32_MIN : p > INT32_MAX ? INT32_MAX : p);
    }
    PixelMap map_;
    int32_t factor_;
    int32_t width_;
    int32_t height_;
};

// Draws a polyline of `count` points given by map_point(i) through the shared point buffer. A
// line longer than the buffer is drawn in consecutive pieces, each starting at the last point
// of the piece before, so the line shows no gap. Nothing is drawn for fewer than two points.
// map_points(start, n, out) writes the pixels of points start .. start + n - 1 to out.
template <class MapPoints>
void draw_polyline_runs(HDC dc, int count, MapPoints map_points) noexcept {
    if (count < 2) return;
    POINT* buffer = point_buffer();
    for (int start = 0;;) {
        const int n = count - start < POINT_BUFFER_SIZE ? count - start : POINT_BUFFER_SIZE;
        map_points(start, n, buffer);
        Polyline(dc, buffer, n);
        if (start + n >= count) return;
        start += n - 1;
    }
}
template <class MapPoint>
void draw_polyline(HDC dc, int count, MapPoint map_point) noexcept {
    draw_polyline_runs(dc, count, [&](int start, int n, POINT* out) {
        for (int i = 0; i < n; ++i) out[i] = map_point(start + i);
    });
}

// The view drawing (dlldraw) and the road labeller (dlldrawrdtxt), for the exports and tests.
int draw_view(HDC dc, int32_t left, int32_t top, int32_t width, int32_t height, double scale,
              const char* layers) noexcept;

// A view drawn with options: at scale factor F (options.scale_factor, 1 to 3) the map of
// `scale` metres per pixel is drawn with F times the pixels. `width` and `height` are the
// pixels of the picture, each scale / F metres; the device context's bitmap should have that
// size. For the 1x view (left, top, W, H, S), the same map at F = 2 is (left, top, 2W, 2H, S)
// with options {2}, into a 2W x 2H bitmap. What is drawn (tiles or catalogue, place labels,
// road names, which layers) is decided at `scale` as for the 1x view, so both show the same
// features and names in the same places; every length in pixels (pens, text, label offsets and
// boxes, road-name spacing) is F times its 1x length. The overlays, highlights and the road
// labeller drawn on the view afterwards follow its factor.
//
// options.order is the order of the tiles (DrawingOrder). With kTileList the picture, and what
// the point-of-interest overlay and the road labeller then draw over it, depend on the data set,
// the arguments and the options alone, never on the views drawn or the roads queried before;
// a view drawn from the catalogue (above 51 m a pixel) then unpins the tiles of the view before,
// so the overlay finds no points over it, as over the first view of a process.
//
// Returns 0, or -1 as draw_view does and for a factor outside 1 to 3, with nothing drawn and
// nothing stored. F = 1 in the order kCacheSlots is draw_view.
int draw_view(HDC dc, int32_t left, int32_t top, int32_t width, int32_t height, double scale,
              const char* layers, const ViewOptions& options) noexcept;
int draw_road_names() noexcept;
int set_colour(int index, int red, int green, int blue, int width) noexcept;

// The overlays on the last view and its bitmap export (dlldraw44, dllhisload, dllhisdraw,
// dllhisfree, sdllgetbmp, sdllgetimgfile); kestrel.h documents their arguments and results.
int draw_points_of_interest(int category, int mode) noexcept;
int load_track(const char* path) noexcept;
int draw_track(int32_t west, int32_t south, int32_t east, int32_t north) noexcept;
int free_track() noexcept;
int export_bitmap(unsigned char* buffer) noexcept;
int export_bitmap_file(char* name) noexcept;

}  // namespace kestrel::render

#endif  // KESTREL_RENDER_VIEW_H
