// view_state.cpp: the process-global drawing state of view.h (colour table, last view, label
// boxes, pen table, point buffer) and the rectangle overlap test shared by every labeller.
#include "render/view.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <iterator>

namespace kestrel::render {
namespace {

// Defaults of the colour table. The server-only build paints its background light green.
constexpr ColourEntry kDefaultColours[16] = {
    {kServerOnly ? int16_t{200} : int16_t{0}, 255, kServerOnly ? int16_t{200} : int16_t{255}, 0},
    {128, 64, 64, 23},   // 1..9: roads, widths in metres
    {128, 64, 64, 18},
    {164, 124, 96, 10},
    {190, 0, 0, 40},
    {255, 0, 0, 25},
    {255, 100, 100, 20},
    {255, 100, 100, 15},
    {255, 100, 100, 10},
    {255, 100, 100, 5},
    {0, 0, 0, 2},        // 10: line type 10 and the highlight pen, pixels
    {0, 255, 255, 0},    // 11: areas and missing tiles
    {0, 255, 255, 1},    // 12: line type 12, outline of missing tiles
    {255, 255, 0, 4},    // 13: line type 13, catalogue polylines
    {255, 255, 0, 2},    // 14
    {0, 0, 0, 10},       // 15: metres
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

}  // namespace

int boxes_overlap(int left1, int top1, int right1, int bottom1, int left2, int top2, int right2,
                  int bottom2) noexcept {
    if (right2 < left1 || right1 < left2 || bottom2 < top1 || bottom1 < top2) return -1;
    return 1;
}

// The scan runs once per character cell over every box of the view, so it is written without
// branches per box: blocks of boxes are tested together and the block ends the scan on a hit.
// The result is the same as testing the boxes one by one with boxes_overlap.
bool overlaps_any(const LabelBox& box, int first) noexcept {
    constexpr int kBlock = 16;
    const LabelBoxList& list = state().labels;
    const int l = box.left, t = box.top, r = box.right, b = box.bottom;
    for (int i = std::max(first, 0); i <= list.last;) {
        const int end = std::min(list.last + 1, i + kBlock);
        bool hit = false;
        for (; i < end; ++i) {
            const LabelBox& o = list.boxes[i];
            hit |= (o.right >= l) & (r >= o.left) & (o.bottom >= t) & (b >= o.top);
        }
        if (hit) return true;
    }
    return false;
}

bool add_label_box(int left, int top, int right, int bottom) noexcept {
    LabelBoxList& list = state().labels;
    if (list.last + 1 >= LABEL_BOX_CAPACITY) return false;
    ++list.last;
    list.boxes[list.last] = LabelBox{clamp16(left), clamp16(top), clamp16(right), clamp16(bottom)};
    return true;
}

ColourEntry* colour_table() noexcept { return state().colours; }
ViewState& view_state() noexcept { return state().view; }
LabelBoxList& label_boxes() noexcept { return state().labels; }
HPEN* pen_table() noexcept { return state().pens; }
POINT* point_buffer() noexcept { return state().points; }
void reset_view_state() noexcept { state().reset(); }

}  // namespace kestrel::render
