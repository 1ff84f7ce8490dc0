// poi_overlay.cpp: the point-of-interest overlay (dlldraw44).
//
// Draws the points of interest of the tiles that the last view pinned over that view: a small
// blue cross at each point and its 28-byte name beside it. The points come from the PoiRecord
// blocks of dat44_1.bin (40 bytes each: int16 x, int16 y, int16 district, int16 category,
// int32 note, 28-byte blank-padded name), found through the PoiIndex loaded with the data set;
// for each pinned tile only the first index entry with records is used. A block is read whole
// into the shared work buffer.
//
// Modes: 1 draws every selected point; 2 draws the points strictly inside the view whose name
// box meets no label box of the view; 3 tests only against the boxes this same call added.
// Modes 2 and 3 record the name boxes they draw, so later labellers avoid them.
//
// Bad data is skipped, never trusted: a block whose offset or size runs past the file or past
// the work buffer is passed over, a file that does not open draws nothing, and when the label
// box list is full a point that needs its box recorded is not drawn.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "data/store.h"
#include "kestrel.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

namespace data = kestrel::data;

constexpr char kPoiFileName[] = "dat44_1.bin";
constexpr int kPoiPenPlace = 10;
constexpr COLORREF kPoiColour = RGB(0, 0, 255);
constexpr int kPoiPenWidth = 0;  // one-pixel lines
constexpr int kCrossArm = 2;
constexpr int kTextOffset = 2;
// Name box relative to the point: (-5, -5) to (+7 x e + 10, +15), e the trimmed name length.
constexpr int kBoxBefore = 5;
constexpr int kBoxAfterText = 10;
constexpr int kBoxBelow = 15;
constexpr int kPixelsPerNameByte = 7;

enum Mode : int { kDrawAll = 1, kAvoidAllLabels = 2, kAvoidOwnLabels = 3 };

// The file path of dat44_1.bin in `out`; false when the data path is empty or the name would
// not fit.
bool poi_file_name(char* out, std::size_t size) noexcept {
    const char* dir = data::dataset().data_path;
    if (dir[0] == '\0') return false;
    const int n = std::snprintf(out, size, "%s%s", dir, kPoiFileName);
    return n > 0 && std::size_t(n) < size;
}

// The first PoiIndex entry of `tile` that has records, or nullptr.
const data::PoiIndexEntry* first_block_of(int32_t tile) noexcept {
    for (const data::PoiIndexEntry& entry : data::dataset().poi_index) {
        if (entry.tile == tile && entry.last != -1) return &entry;
    }
    return nullptr;
}

// Reads the records of `entry` into the work buffer and returns their number, or 0 when the
// block is malformed (negative count or offset), larger than the work buffer, runs past the
// end of the file (`file_size` bytes) or cannot be read.
int read_block(std::FILE* file, long file_size, const data::PoiIndexEntry& entry) noexcept {
    if (entry.last < 0 || entry.offset < 0) return 0;
    const int64_t count = int64_t{entry.last} + 1;
    const int64_t bytes = count * data::POI_RECORD_BYTES;
    if (bytes > int64_t(data::WORK_BUFFER_SIZE)) return 0;
    if (int64_t{entry.offset} + bytes > file_size) return 0;
    if (std::fseek(file, entry.offset, SEEK_SET) != 0) return 0;
    if (std::fread(data::work_buffer(), 1, std::size_t(bytes), file) != std::size_t(bytes))
        return 0;
    return static_cast<int>(count);
}

// The size of the open file in bytes, or -1.
long size_of(std::FILE* file) noexcept {
    if (std::fseek(file, 0, SEEK_END) != 0) return -1;
    return std::ftell(file);
}

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

// A pixel coordinate of a world offset: `delta` metres divided by the scale, truncated.
int32_t to_pixel(int64_t delta, double scale) noexcept {
    return truncate_to_int32(static_cast<double>(delta) / scale);
}

// Draws the cross (2 pixels each way) and the whole 28-byte name at (x + 2, y + 2).
void draw_point(HDC dc, int x, int y, const char (&name)[data::POI_NAME_BYTES]) noexcept {
    POINT* points = point_buffer();
    points[0] = POINT{x - kCrossArm, y};
    points[1] = POINT{x + kCrossArm, y};
    Polyline(dc, points, 2);
    points[0] = POINT{x, y - kCrossArm};
    points[1] = POINT{x, y + kCrossArm};
    Polyline(dc, points, 2);
    TextOutA(dc, x + kTextOffset, y + kTextOffset, name, data::POI_NAME_BYTES);
}

// Draws the selected points of one block held in the work buffer, for the tile `tile`.
void draw_block(int count, int32_t tile, int category, int mode, int first_box) noexcept {
    const ViewState& view = view_state();
    const int64_t west = data::tile_west(tile);
    const int64_t south = int64_t{tile / 1000} * data::TILE_SIZE_M;
    const uint8_t* records = data::work_buffer();
    for (int i = 0; i < count; ++i) {
        data::PoiRecord record;
        std::memcpy(&record, records + std::size_t(i) * data::POI_RECORD_BYTES, sizeof record);
        if (category != 0 && record.category != category) continue;
        const int32_t x = to_pixel(west + record.x - view.left, view.scale);
        const int32_t y = to_pixel(int64_t{view.top} - south - record.y, view.scale);
        if (mode != kDrawAll) {
            if (!(0 < x && x < view.width && 0 < y && y < view.height)) continue;
            const int e = trimmed_length(record.name);
            const int left = x - kBoxBefore;
            const int top = y - kBoxBefore;
            const int right = x + kPixelsPerNameByte * e + kBoxAfterText;
            const int bottom = y + kBoxBelow;
            if (box_is_taken(left, top, right, bottom, first_box)) continue;
            if (!add_label_box(left, top, right, bottom)) continue;  // list full
        }
        draw_point(view.dc, x, y, record.name);
    }
}

}  // namespace
}  // namespace kestrel::render

// Draws the points of interest of the last view's pinned tiles; see the file comment for the
// modes. Category 0 selects every category, any other value that category only. Always 0;
// nothing is drawn for an unknown mode, when no view has been drawn or when dat44_1.bin does
// not open.
extern "C" KESTREL_API int dlldraw44(int category, int mode) {
    using namespace kestrel::render;
    namespace data = kestrel::data;
    const ViewState& view = view_state();
    if (mode < kDrawAll || mode > kAvoidOwnLabels) return 0;
    if (view.dc == nullptr || !(view.scale > 0)) return 0;

    char path[data::DATA_PATH_MAX + sizeof kPoiFileName + 1];
    if (!poi_file_name(path, sizeof path)) return 0;
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return 0;
    const long file_size = size_of(file);

    HPEN& pen = pen_table()[kPoiPenPlace];
    pen = CreatePen(PS_SOLID, kPoiPenWidth, kPoiColour);
    const HGDIOBJ previous = SelectObject(view.dc, pen);

    const int first_box = mode == kAvoidOwnLabels ? label_boxes().last + 1 : 0;
    for (int s = 0; s < data::SLOT_COUNT; ++s) {
        const data::TileHeader& header = data::slot(s).header;
        if (header.in_view != 1) continue;
        const data::PoiIndexEntry* entry = first_block_of(header.tile_number);
        if (entry == nullptr) continue;
        const int count = read_block(file, file_size, *entry);
        if (count > 0) draw_block(count, entry->tile, category, mode, first_box);
    }

    std::fclose(file);
    if (previous != nullptr && previous != HGDI_ERROR) SelectObject(view.dc, previous);
    DeleteObject(pen);
    pen = nullptr;
    return 0;
}
