// view_state.cpp: the process-global drawing state of view.h (colour table, last view, label
// boxes, pen table, point buffer) and the rectangle overlap test shared by every labeller.
#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

#include "render/view.h"

namespace kestrel::render {
namespace {

// Defaults of the colour table. The server-only build paints its background light green.
constexpr ColourEntry kDefaultColours[16] = {
    {kServerOnly ? int16_t{200} : int16_t{0}, 255, kServerOnly ? int16_t{200} : int16_t{255}, 0},
    {128, 64, 64, 23},  // 1..9: roads, widths in metres
    {128, 64, 64, 18},
    {164, 124, 96, 10},
    {190, 0, 0, 40},
    {255, 0, 0, 25},
    {255, 100, 100, 20},
    {255, 100, 100, 15},
    {255, 100, 100, 10},
    {255, 100, 100, 5},
    {0, 0, 0, 2},      // 10: line type 10 and the highlight pen, pixels
    {0, 255, 255, 0},  // 11: areas and missing tiles
    {0, 255, 255, 1},  // 12: line type 12, outline of missing tiles
    {255, 255, 0, 4},  // 13: line type 13, catalogue polylines
    {255, 255, 0, 2},  // 14
    {0, 0, 0, 10},     // 15: metres
};

struct DrawingState {
    ColourEntry colours[COLOUR_ENTRIES];
    ViewState view;
    LabelBoxList labels;
    HPEN pens[PEN_PLACES];
    POINT points[POINT_BUFFER_SIZE];

    DrawingState() noexcept { reset(); }
    void reset() noexcept {
        std::memset(colours, 0, sizeof colours);
        std::copy(std::begin(kDefaultColours), std::end(kDefaultColours), colours);
        view = ViewState{};
        labels.last = -1;
        std::fill(std::begin(pens), std::end(pens), nullptr);
    }
};

DrawingState& state() noexcept {
    static DrawingState s;
    return s;
}

int16_t clamp16(int v) noexcept {
    return static_cast<int16_t>(std::clamp(v, int{INT16_MIN}, int{INT16_MAX}));
}

// A grid index over the label boxes, so that a collision test looks only at the boxes near
// the tested rectangle instead of every box of the view. Pixel space is cut into cells of
// GRID_CELL pixels; coordinates beyond the grid are pinned to its edge cells, which keeps the
// test exact (pinning is monotonic, so rectangles that overlap still share a cell). Boxes that
// span many cells, and inverted boxes (right < left or bottom < top), are kept in a list that
// every test scans.
//
// The index follows the list through add_label_box. It is rebuilt when the list was changed
// another way (its last index set directly, as a new view does by emptying it): the index
// then no longer holds exactly boxes 0 to last.
constexpr int GRID_CELL_SHIFT = 5;  // cells of 32 pixels
constexpr int GRID_SIDE = 64;       // 64 x 64 cells: 2048 pixels before the edge cells
constexpr int GRID_MAX_SPAN = 16;   // cells a box may cover before it goes to the scanned list
constexpr int GRID_POOL = LABEL_BOX_CAPACITY * GRID_MAX_SPAN;

struct BoxIndex {
    int32_t head[GRID_SIDE * GRID_SIDE];  // first entry of each cell, -1: none
    int32_t next[GRID_POOL];
    int32_t box[GRID_POOL];
    int32_t used;
    int32_t wide[LABEL_BOX_CAPACITY];  // boxes scanned by every test
    int32_t wide_count;
    int32_t indexed;  // boxes 0 .. indexed - 1 are in the index; -1: to be rebuilt
};

BoxIndex& box_index() noexcept {
    static BoxIndex index{{}, {}, {}, 0, {}, 0, -1};
    return index;
}

int grid_cell(int v) noexcept {
    return std::clamp(v >> GRID_CELL_SHIFT, 0, GRID_SIDE - 1);
}

void index_box(BoxIndex& ix, int i, const LabelBox& b) noexcept {
    const int x0 = grid_cell(b.left), x1 = grid_cell(b.right);
    const int y0 = grid_cell(b.top), y1 = grid_cell(b.bottom);
    if (b.right < b.left || b.bottom < b.top || (x1 - x0 + 1) * (y1 - y0 + 1) > GRID_MAX_SPAN) {
        ix.wide[ix.wide_count++] = i;
        return;
    }
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x) {
            const int e = ix.used++;
            ix.box[e] = i;
            ix.next[e] = ix.head[y * GRID_SIDE + x];
            ix.head[y * GRID_SIDE + x] = e;
        }
}

// Makes the index hold exactly the boxes of the list.
void sync_index(const LabelBoxList& list) noexcept {
    BoxIndex& ix = box_index();
    if (ix.indexed == list.last + 1) return;
    std::fill(std::begin(ix.head), std::end(ix.head), -1);
    ix.used = 0;
    ix.wide_count = 0;
    for (int i = 0; i <= list.last; ++i) index_box(ix, i, list.boxes[i]);
    ix.indexed = list.last + 1;
}

bool meets(const LabelBox& a, const LabelBox& o) noexcept {
    return o.right >= a.left && a.right >= o.left && o.bottom >= a.top && a.bottom >= o.top;
}

}  // namespace

int boxes_overlap(int left1, int top1, int right1, int bottom1, int left2, int top2, int right2,
                  int bottom2) noexcept {
    if (right2 < left1 || right1 < left2 || bottom2 < top1 || bottom1 < top2) return -1;
    return 1;
}

bool overlaps_any(const LabelBox& box, int first) noexcept {
    const LabelBoxList& list = state().labels;
    first = std::max(first, 0);
    if (box.right < box.left || box.bottom < box.top) {
        // An inverted rectangle may meet boxes far from its cells: test them all.
        for (int i = first; i <= list.last; ++i)
            if (meets(box, list.boxes[i])) return true;
        return false;
    }
    sync_index(list);
    const BoxIndex& ix = box_index();
    for (int k = 0; k < ix.wide_count; ++k)
        if (ix.wide[k] >= first && meets(box, list.boxes[ix.wide[k]])) return true;
    const int x0 = grid_cell(box.left), x1 = grid_cell(box.right);
    const int y0 = grid_cell(box.top), y1 = grid_cell(box.bottom);
    for (int y = y0; y <= y1; ++y)
        for (int x = x0; x <= x1; ++x)
            for (int e = ix.head[y * GRID_SIDE + x]; e >= 0; e = ix.next[e])
                if (ix.box[e] >= first && meets(box, list.boxes[ix.box[e]])) return true;
    return false;
}

bool add_label_box(int left, int top, int right, int bottom) noexcept {
    LabelBoxList& list = state().labels;
    if (list.last + 1 >= LABEL_BOX_CAPACITY) return false;
    BoxIndex& ix = box_index();
    const bool in_step = ix.indexed == list.last + 1;
    ++list.last;
    list.boxes[list.last] = LabelBox{clamp16(left), clamp16(top), clamp16(right), clamp16(bottom)};
    if (in_step) {
        index_box(ix, list.last, list.boxes[list.last]);
        ix.indexed = list.last + 1;
    } else {
        ix.indexed = -1;  // the list was changed behind the index: rebuild at the next test
    }
    return true;
}

ColourEntry* colour_table() noexcept {
    return state().colours;
}
ViewState& view_state() noexcept {
    return state().view;
}
LabelBoxList& label_boxes() noexcept {
    return state().labels;
}
HPEN* pen_table() noexcept {
    return state().pens;
}
POINT* point_buffer() noexcept {
    return state().points;
}
void reset_view_state() noexcept {
    state().reset();
}

}  // namespace kestrel::render
