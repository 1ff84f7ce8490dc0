// poi_overlay.cpp: the point-of-interest overlay (dlldraw44).
//
// Draws the points of interest of the tiles that the last view pinned over that view: a small
// blue cross at each point and its 28-byte name beside it. The points come from the PoiRecord
// blocks of dat44_1.bin (40 bytes each: int16 x, int16 y, int16 district, int16 category,
// int32 note, 28-byte blank-padded name), found through the PoiIndex loaded with the data set;
// for each pinned tile only the first index entry with records is used. The tiles are taken in
// the view's drawing order (DrawingOrder, view.h), which decides which of two points wins a
// place in modes 2 and 3, and which is drawn over the other. The data store's reader
// (data/poi_file.h) checks each block and reads it whole into the shared work buffer.
//
// A view drawn at a scale factor gets its crosses, pen, names and name boxes at that factor;
// the points are placed on the grid of its 1x map, as every label (LabelGrid, view.h), so that
// the same points win their places.
//
// Modes: 1 draws every selected point; 2 draws the points strictly inside the view whose name
// box meets no label box of the view; 3 tests only against the boxes this same call added.
// Modes 2 and 3 record the name boxes they draw, so later labellers avoid them.
//
// Bad data is skipped, never trusted: a block whose offset or size runs past the file or past
// the work buffer is passed over, a file that does not open draws nothing, and when the label
// box list is full a point that needs its box recorded is not drawn.
#include <cstdint>

#include "data/format.h"
#include "data/poi_file.h"
#include "data/store.h"
#include "render/palette.h"
#include "render/pinned_slots.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

namespace data = kestrel::data;

constexpr int kPoiPenPlace = 10;
constexpr int kPoiPenWidth = 0;  // one-pixel lines
constexpr int kCrossArm = 2;
constexpr int kTextOffset = 2;
// Name box relative to the point: (-5, -5) to (+7 x e + 10, +15), e the trimmed name length.
constexpr int kBoxBefore = 5;
constexpr int kBoxAfterText = 10;
constexpr int kBoxBelow = 15;
constexpr int kPixelsPerNameByte = 7;

enum Mode : int { kDrawAll = 1, kAvoidAllLabels = 2, kAvoidOwnLabels = 3 };

// Length of a blank-padded name without its trailing blanks (0 to 28).
int trimmed_length(const char (&name)[data::POI_NAME_BYTES]) noexcept {
    int e = data::POI_NAME_BYTES;
    while (e > 0 && name[e - 1] == ' ') --e;
    return e;
}

// True when the box meets any label box from index `first` to the last.
bool box_is_taken(int left, int top, int right, int bottom, int first) noexcept {
    const LabelBoxList& list = label_boxes();
    for (int i = first < 0 ? 0 : first; i <= list.last; ++i) {
        const LabelBox& b = list.boxes[i];
        if (boxes_overlap(left, top, right, bottom, b.left, b.top, b.right, b.bottom) == 1)
            return true;
    }
    return false;
}

// Draws the cross (2 pixels each way at 1x) and the whole 28-byte name at (x + 2, y + 2).
void draw_point(HDC dc, int x, int y, int factor,
                const char (&name)[data::POI_NAME_BYTES]) noexcept {
    const int arm = scaled(kCrossArm, factor);
    const int text = scaled(kTextOffset, factor);
    POINT* points = point_buffer();
    points[0] = POINT{x - arm, y};
    points[1] = POINT{x + arm, y};
    Polyline(dc, points, 2);
    points[0] = POINT{x, y - arm};
    points[1] = POINT{x, y + arm};
    Polyline(dc, points, 2);
    TextOutA(dc, x + text, y + text, name, data::POI_NAME_BYTES);
}

// Draws the selected points of one block held in the work buffer, for the tile `tile`.
void draw_block(int count, int32_t tile, int category, int mode, int first_box) noexcept {
    const ViewState& view = view_state();
    const LabelGrid grid(view);
    const int f = view.factor;
    const int64_t west = data::tile_west(tile);
    const int64_t south = data::tile_south_wide(tile);
    for (int i = 0; i < count; ++i) {
        const data::PoiRecord record = data::poi_block_record(i);
        if (category != 0 && record.category != category) continue;
        const POINT a = grid.on_grid(west + record.x, south + record.y);
        const POINT p = grid.to_picture(a);
        const int32_t x = p.x;
        const int32_t y = p.y;
        if (mode != kDrawAll) {
            if (!(0 < a.x && a.x < grid.width() && 0 < a.y && a.y < grid.height())) continue;
            const int e = trimmed_length(record.name);
            const int left = x - scaled(kBoxBefore, f);
            const int top = y - scaled(kBoxBefore, f);
            const int right = x + scaled(kPixelsPerNameByte * e + kBoxAfterText, f);
            const int bottom = y + scaled(kBoxBelow, f);
            if (box_is_taken(left, top, right, bottom, first_box)) continue;
            if (!add_label_box(left, top, right, bottom)) continue;  // list full
        }
        draw_point(view.dc, x, y, f, record.name);
    }
}

}  // namespace

int draw_points_of_interest(int category, int mode) noexcept {
    const ViewState& view = view_state();
    if (mode < kDrawAll || mode > kAvoidOwnLabels) return 0;
    if (view.dc == nullptr || !(view.scale > 0)) return 0;

    if (data::is_initialised() < 0) return 0;  // no data path: no file to read
    data::DataFile points;
    if (!points.open(data::format::kPoiFile)) return 0;

    HPEN& pen = pen_table()[kPoiPenPlace];
    pen = CreatePen(PS_SOLID, scaled_pen_width(kPoiPenWidth, view.factor), kPoiColour);
    const HGDIOBJ previous = SelectObject(view.dc, pen);
    const ScaledText text(view.dc, view.factor);

    const int first_box = mode == kAvoidOwnLabels ? label_boxes().last + 1 : 0;
    int slots[data::SLOT_COUNT];
    const int pinned = pinned_slots(view.order, slots);
    for (int i = 0; i < pinned; ++i) {
        const data::TileHeader& header = data::slot(slots[i]).header;
        const int e = data::find_poi_block(header.tile_number);
        if (e < 0) continue;
        const data::PoiIndexEntry& entry = data::dataset().poi_index[e];
        const int count = data::read_poi_block(points, entry);
        if (count > 0) draw_block(count, entry.tile, category, mode, first_box);
    }

    if (previous != nullptr && previous != HGDI_ERROR) SelectObject(view.dc, previous);
    DeleteObject(pen);
    pen = nullptr;
    return 0;
}

}  // namespace kestrel::render
