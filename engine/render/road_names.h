// road_names.h: placement of road names along the roads of a view.
//
// The road labeller works in two steps that are kept apart: placement turns a road's pixel
// polyline and its 20-byte name into character positions (candidate positions every 16 pixels
// along the road, a free window among them that collides with no label box of the view, and a
// reading direction); drawing writes each character at its position and records its box in
// the view's LabelBox list. Placement reads the LabelBox list but never changes it, so tests
// can check positions without drawing anything.
//
// A view drawn at a scale factor F is labelled on the grid of its 1x map (LabelGrid in view.h):
// the polyline and the view size given to placement are those of the 1x map, the cells are
// tested at F times their 1x rectangles against the view's boxes (which are F times theirs), and
// the planned places are F times the 1x positions; the lengths below are in pixels of the 1x
// map and are drawn F times as long.
#ifndef KESTREL_RENDER_ROAD_NAMES_H
#define KESTREL_RENDER_ROAD_NAMES_H

#include <cstdint>

#include "data/format.h"
#include "gdi_api.h"

namespace kestrel::render {

inline constexpr int NAME_CHARS_MAX = 20;  // a NameRecord holds at most 20 characters
inline constexpr int SPARE_POSITIONS = 5;  // the name may slide by up to 5 positions
inline constexpr int POSITIONS_MAX = NAME_CHARS_MAX + SPARE_POSITIONS;
inline constexpr int INNER_MARGIN = 5;           // pixels kept free at the view's edges
inline constexpr int FIRST_START_SAMPLE = 30;    // pixels from the vertex before the start
inline constexpr int START_SAMPLE_STEP = 20;     // pixels between start samples
inline constexpr int POSITION_SPACING = 16;      // pixels between characters along the road
inline constexpr double SHORTEST_SEGMENT = 0.1;  // shorter segments are passed over
inline constexpr double DIRECTION_RATIO = 0.7;   // steep or flat window
inline constexpr int CELL_BEFORE = 7;            // collision cell (x-7, y-7)..(x+14, y+14)
inline constexpr int CELL_AFTER = 14;
inline constexpr int BOX_BEFORE = 6;  // recorded box (x-6, y-6)..(x+12, y+12)
inline constexpr int BOX_AFTER = 12;
inline constexpr int TEXT_OFFSET = 5;  // a character's text at (x-5, y-5)

// One character of a name: its first byte in the name and its length (1 or 2 bytes).
struct NameCharacter {
    int first;
    int length;
};

// Splits the 20 bytes of a name into characters. A blank ends the name; a byte of 0x7F or
// above (data::format::kLabelTwoByteMin, which says why it is not the code page's 0x81)
// starts a two-byte character (at byte 19 its second byte is the terminating NUL that
// follows the 20 bytes); any other byte, NUL included, is a one-byte character. Writes up to
// 20 entries to `out` and returns how many.
int split_name(const char* name20, NameCharacter* out) noexcept;

// The candidate positions of a road with `chars` characters, from its pixel polyline `points`
// (`count` vertices) in a view of `width` x `height` pixels: the start point on the segment
// into the first inner vertex (neither end vertex qualifies), then one position every 16
// pixels along the road while the walk stays inside the view, at most chars + 5 positions.
// Writes them to `out` (room for POSITIONS_MAX) and returns how many; 0 when the road has no
// vertex inside the inner view (so a road of two vertices always gives 0).
int candidate_positions(const POINT* points, int count, int chars, int width, int height,
                        POINT* out) noexcept;

// Where a road's name goes: the characters of the name and, for each in name order, the
// position at which it is centred.
struct RoadLabelPlan {
    int chars;
    NameCharacter characters[NAME_CHARS_MAX];
    POINT places[NAME_CHARS_MAX];  // in picture pixels
    int shift;                     // first position of the window among the candidates
    bool forward;                  // characters follow the candidate order
};

// Places a road's name: candidate positions, the first shift whose window collides with no box
// of the view's LabelBox list, and the reading direction (steep windows read top to bottom,
// flat ones left to right). Returns false when the road gets no label (no start vertex, fewer
// positions than characters, every shift blocked). The LabelBox list is only read. `points`,
// `width` and `height` are on the 1x grid of a view drawn at `factor`; the cells are tested
// and the places given at `factor`.
bool plan_road_label(const POINT* points, int count, const char* name20, int width, int height,
                     RoadLabelPlan* plan, int factor = 1) noexcept;

// True for the road types that carry names: 1 to 9 except 3.
bool is_labelled_road_type(int type) noexcept;

// A record of a cache slot.
struct RoadRef {
    int16_t slot;
    int32_t record;
};

// Labels the given roads of the last view, which the view drawing collected in its own order
// (slots in the view's drawing order, records ascending) as the named roads reaching its
// window: the labeller visits them slot by slot, records from the last to the first, exactly
// as draw_road_names visits all the roads of the pinned slots, but without scanning the roads
// that lie elsewhere in the tiles.
void draw_road_names_of(const RoadRef* roads, int count) noexcept;

}  // namespace kestrel::render

#endif  // KESTREL_RENDER_ROAD_NAMES_H
