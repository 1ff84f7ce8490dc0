// road_names.cpp: the road name labeller (dlldrawrdtxt). For every named road of the tiles of
// the last view it lays candidate positions along the road's on-screen polyline, slides the
// name along them until it collides with no label already placed, picks a reading direction and
// writes the name one upright character at a time, recording a LabelBox for each character.
// The tiles are visited in the view's drawing order (DrawingOrder, view.h), in each tile the
// records from the last to the first.
// A view drawn at a scale factor is labelled on the grid of its 1x map (LabelGrid, view.h).
#include "render/road_names.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "data/store.h"
#include "render/cull.h"
#include "render/pinned_slots.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

constexpr unsigned char BLANK = 0x20;
constexpr int UNLABELLED_ROAD_TYPE = 3;

// True when the point lies at least INNER_MARGIN pixels inside the view.
bool in_inner_view(const POINT& p, int width, int height) noexcept {
    return p.x >= INNER_MARGIN && p.x <= width - INNER_MARGIN && p.y >= INNER_MARGIN &&
           p.y <= height - INNER_MARGIN;
}

// True when the point lies strictly inside the view's edges.
bool in_open_view(const POINT& p, int width, int height) noexcept {
    return p.x > 0 && p.x < width && p.y > 0 && p.y < height;
}

// Length of the segment (dx, dy). The squares are summed in 64 bits so that far-away pixel
// points cannot overflow.
double segment_length(int64_t dx, int64_t dy) noexcept {
    return std::sqrt(static_cast<double>(dx * dx + dy * dy));
}

// The point at distance `offset` from `from` along the segment (dx, dy) of length `length`: the
// products offset * dx and offset * dy are integers, divided in double precision and truncated
// toward zero.
POINT point_along(const POINT& from, int64_t dx, int64_t dy, int64_t offset,
                  double length) noexcept {
    return POINT{truncate_to_int32(from.x + static_cast<double>(offset * dx) / length),
                 truncate_to_int32(from.y + static_cast<double>(offset * dy) / length)};
}

// A pixel coordinate pinned to the int16 range of a LabelBox.
int16_t box_coordinate(int64_t v) noexcept {
    return static_cast<int16_t>(std::clamp<int64_t>(v, INT16_MIN, INT16_MAX));
}

// True when the collision cell around a position overlaps a label box of the view. The
// position is on the 1x grid, the boxes in picture pixels: the cell is taken at `factor`.
bool cell_is_blocked(const POINT& p, int factor) noexcept {
    const LabelBox cell{box_coordinate((int64_t{p.x} - CELL_BEFORE) * factor),
                        box_coordinate((int64_t{p.y} - CELL_BEFORE) * factor),
                        box_coordinate((int64_t{p.x} + CELL_AFTER) * factor),
                        box_coordinate((int64_t{p.y} + CELL_AFTER) * factor)};
    return overlaps_any(cell, 0);
}

// Reading direction of the window from its first position a to its last b: a steep window
// reads top to bottom, a flat one left to right.
bool reads_forward(const POINT& a, const POINT& b) noexcept {
    const double ax = std::fabs(static_cast<double>(int64_t{a.x} - b.x));
    const double ay = std::fabs(static_cast<double>(int64_t{a.y} - b.y));
    if (ax <= DIRECTION_RATIO * ay && a.y < b.y) return true;
    if (ax < DIRECTION_RATIO * ay) return false;
    return a.x < b.x;
}

// Projects `count` vertices of a slot, from `first`, onto the labels' grid in the shared point
// buffer. The caller has checked that they lie within the slot's vertex array and that count
// fits the buffer.
void project_vertices(const data::TileSlot& slot, int32_t first, int count, const LabelGrid& grid,
                      POINT* out) noexcept {
    grid.map().map_offsets(slot.header.origin_x, slot.header.origin_y, slot.vertices + first, count,
                           out);
}

// Writes the planned characters into the view's device context and records a box for each,
// lengths taken at the view's scale factor.
void draw_plan(const ViewState& view, const LabelGrid& grid, const char* name,
               const RoadLabelPlan& plan) noexcept {
    const int text = grid.px(TEXT_OFFSET), before = grid.px(BOX_BEFORE);
    const int after = grid.px(BOX_AFTER);
    for (int i = 0; i < plan.chars; ++i) {
        const POINT& p = plan.places[i];
        const NameCharacter& c = plan.characters[i];
        TextOutA(view.dc, p.x - text, p.y - text, name + c.first, c.length);
        add_label_box(p.x - before, p.y - before, p.x + after, p.y + after);
    }
}

// Labels one record of a slot if it is a named road that reaches the view. Roads whose
// vertices all lie on one side of the view's window cannot have a vertex inside the view and
// are passed over without projecting them.
void label_road(const data::TileSlot& slot, int r, const ViewState& view, const LabelGrid& grid,
                const WorldWindow& window) noexcept {
    const data::FeatureRecord& rec = slot.records[r];
    if (!is_labelled_road_type(rec.type)) return;
    const char* stored_name = data::record_name(slot, rec);
    if (stored_name == nullptr) return;
    // A road of fewer than three vertices has no inner vertex to start from.
    int vertices = 0;
    if (data::record_vertices(slot, rec, &vertices) == nullptr || vertices < 3) return;

    // A road longer than the point buffer is labelled along its first POINT_BUFFER_SIZE
    // vertices: the name needs at most 25 positions near the start of the road. Most roads of
    // a tile lie outside the view, so that test comes before the name is looked at.
    const int count = std::min(vertices, POINT_BUFFER_SIZE);
    if (outside_window(slot, rec.first_vertex, count, window)) return;
    if (static_cast<unsigned char>(stored_name[0]) == BLANK) return;

    // The name buffer ends with the NUL that a two-byte character at byte 19 takes as its
    // second byte.
    char name[NAME_CHARS_MAX + 1];
    std::memcpy(name, stored_name, data::NAME_BYTES);
    name[data::NAME_BYTES] = '\0';
    POINT* points = point_buffer();
    project_vertices(slot, rec.first_vertex, count, grid, points);

    RoadLabelPlan plan;
    if (!plan_road_label(points, count, name, grid.width(), grid.height(), &plan, grid.factor()))
        return;
    // A name is drawn whole or not at all: without room for all its boxes it would be drawn
    // where later labels cannot see it.
    if (LABEL_BOX_CAPACITY - 1 - label_boxes().last < plan.chars) return;
    draw_plan(view, grid, name, plan);
}

}  // namespace

int split_name(const char* name20, NameCharacter* out) noexcept {
    int chars = 0;
    for (int j = 0; j < NAME_CHARS_MAX;) {
        const auto byte = static_cast<unsigned char>(name20[j]);
        if (byte == BLANK) break;
        const int length = byte >= data::format::kLabelTwoByteMin ? 2 : 1;
        out[chars++] = NameCharacter{j, length};
        j += length;
    }
    return chars;
}

int candidate_positions(const POINT* points, int count, int chars, int width, int height,
                        POINT* out) noexcept {
    const int wanted = std::clamp(chars + SPARE_POSITIONS, 1, POSITIONS_MAX);

    // The start vertex: the first inner vertex, never the first or the last.
    int k = 1;
    while (k <= count - 2 && !in_inner_view(points[k], width, height)) ++k;
    if (k > count - 2) return 0;

    // The start point: the first sample on the segment into the start vertex that lies in the
    // inner view, else the start vertex itself.
    const POINT& before = points[k - 1];
    const int64_t sdx = int64_t{points[k].x} - before.x;
    const int64_t sdy = int64_t{points[k].y} - before.y;
    const double slen = segment_length(sdx, sdy);
    POINT start = points[k];
    for (int64_t d = FIRST_START_SAMPLE; static_cast<double>(d) < slen; d += START_SAMPLE_STEP) {
        const POINT p = point_along(before, sdx, sdy, d, slen);
        if (in_inner_view(p, width, height)) {
            start = p;
            break;
        }
    }

    // The walk: the start point takes the place of the vertex before the start vertex, and
    // the carry is how far beyond a segment's end the next position lies.
    int found = 0;
    out[found++] = start;
    POINT last = start;
    double carry = POSITION_SPACING;
    for (int m = k; m < count && found < wanted; ++m) {
        const POINT& from = m == k ? start : points[m - 1];
        const int64_t dx = int64_t{points[m].x} - from.x;
        const int64_t dy = int64_t{points[m].y} - from.y;
        const double len = segment_length(dx, dy);
        if (len < SHORTEST_SEGMENT) continue;
        auto off = static_cast<int64_t>(carry);
        while (static_cast<double>(off) < len) {
            const POINT p = point_along(from, dx, dy, off, len);
            last = p;
            if (!in_inner_view(p, width, height)) break;
            out[found++] = p;
            if (found == wanted) break;
            off += POSITION_SPACING;
        }
        carry = static_cast<double>(off) - len;
        if (!in_open_view(last, width, height)) break;
    }
    return found;
}

bool plan_road_label(const POINT* points, int count, const char* name20, int width, int height,
                     RoadLabelPlan* plan, int factor) noexcept {
    plan->chars = split_name(name20, plan->characters);
    const int chars = plan->chars;
    if (chars == 0) return false;

    POINT positions[POSITIONS_MAX];
    const int found = candidate_positions(points, count, chars, width, height, positions);
    if (found < chars) return false;

    // The first shift whose window holds no blocked position. A blocked position rules out
    // every window that holds it, so the search resumes just after it and each position's cell
    // is tested at most once.
    int shift = 0;
    for (int i = 0; shift <= found - chars && i < shift + chars; ++i)
        if (cell_is_blocked(positions[i], factor)) shift = i + 1;
    if (shift > found - chars) return false;

    plan->shift = shift;
    plan->forward = reads_forward(positions[shift], positions[shift + chars - 1]);
    for (int i = 0; i < chars; ++i) {
        const POINT& p = positions[plan->forward ? shift + i : shift + chars - 1 - i];
        plan->places[i] = POINT{truncate_to_int32(static_cast<double>(p.x) * factor),
                                truncate_to_int32(static_cast<double>(p.y) * factor)};
    }
    return true;
}

bool is_labelled_road_type(int type) noexcept {
    return data::is_road_type(type) && type != UNLABELLED_ROAD_TYPE;
}

int draw_road_names() noexcept {
    const ViewState& view = view_state();
    if (!(view.scale > 0)) return 0;  // no view was drawn yet
    const WorldWindow window = world_window(view, 0);
    const LabelGrid grid(view);
    const ScaledText text(view.dc, view.factor);
    int slots[data::SLOT_COUNT];
    const int pinned = pinned_slots(view.order, slots);
    for (int i = 0; i < pinned; ++i) {
        const data::TileSlot& slot = data::slot(slots[i]);
        for (int r = data::last_record(slot); r >= 0; --r) label_road(slot, r, view, grid, window);
    }
    return 0;
}

void draw_road_names_of(const RoadRef* roads, int count) noexcept {
    const ViewState& view = view_state();
    const WorldWindow window = world_window(view, 0);
    const LabelGrid grid(view);
    for (int i = 0; i < count;) {
        int end = i;
        while (end < count && roads[end].slot == roads[i].slot) ++end;
        const data::TileSlot& slot = data::slot(roads[i].slot);
        for (int k = end - 1; k >= i; --k) label_road(slot, roads[k].record, view, grid, window);
        i = end;
    }
}

}  // namespace kestrel::render
