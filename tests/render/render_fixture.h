// render_fixture.h: helpers shared by the view drawing tests of both engine builds.
//
// - Canvas: a memory device context with a bitmap of the view's size and a recorder that
//   copies every primitive drawn into it (kind, points, text, pen, brush and text attributes).
// - SlotFill: fills one tile cache slot directly from world coordinates (features, roads,
//   place labels), the way load_tile would leave it, without any tile file.
// - RenderTest: a fixture that resets the engine, points the data path at an empty temporary
//   directory (so every tile not placed in the cache counts as missing) and removes it after.
#ifndef KESTREL_TESTS_RENDER_FIXTURE_H
#define KESTREL_TESTS_RENDER_FIXTURE_H

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "data/store.h"
#include "kgdi.h"
#include "render/view.h"
#include "test_support/temp_dir.h"

namespace render_test {

namespace data = kestrel::data;
namespace render = kestrel::render;

// One primitive as the recorder reported it, with its points and text copied.
struct Prim {
    int kind;
    std::vector<POINT> points;
    int x, y;
    std::string text;
    RECT rect;
    bool pen_null;
    int pen_width;
    COLORREF pen_color;
    bool brush_null;
    COLORREF brush_color;
    COLORREF text_color;
    int bk_mode;
};

class Canvas {
  public:
    Canvas(int width, int height) {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, width, height);
        old_bitmap_ = SelectObject(dc_, bitmap_);
        KgdiSetRecorder(dc_, &Canvas::record, this);
    }
    ~Canvas() {
        KgdiSetRecorder(dc_, nullptr, nullptr);
        SelectObject(dc_, old_bitmap_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    std::vector<Prim>& prims() { return prims_; }
    void clear() { prims_.clear(); }

    std::vector<Prim> of_kind(int kind) const {
        std::vector<Prim> out;
        for (const Prim& p : prims_)
            if (p.kind == kind) out.push_back(p);
        return out;
    }
    std::vector<Prim> texts() const { return of_kind(KGDI_REC_TEXT); }
    std::vector<Prim> polylines() const { return of_kind(KGDI_REC_POLYLINE); }
    std::vector<Prim> polygons() const { return of_kind(KGDI_REC_POLYGON); }

  private:
    static void record(void* user, const KgdiRecord* r) {
        Prim p{};
        p.kind = r->kind;
        if (r->points != nullptr) p.points.assign(r->points, r->points + r->count);
        p.x = r->x;
        p.y = r->y;
        if (r->text != nullptr) p.text.assign(r->text, r->text_len);
        p.rect = r->rect;
        p.pen_null = r->pen_null != 0;
        p.pen_width = r->pen_width;
        p.pen_color = r->pen_color;
        p.brush_null = r->brush_null != 0;
        p.brush_color = r->brush_color;
        p.text_color = r->text_color;
        p.bk_mode = r->bk_mode;
        static_cast<Canvas*>(user)->prims_.push_back(std::move(p));
    }

    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_bitmap_;
    std::vector<Prim> prims_;
};

// A 20-byte blank-padded name.
inline std::string padded(const std::string& name) {
    std::string s = name.substr(0, data::NAME_BYTES);
    s.resize(data::NAME_BYTES, ' ');
    return s;
}

struct WorldPt {
    int32_t x, y;
};

// Fills slot `s` with tile `tile` (origin at the tile's south-west corner); features are added
// in storage order and take their vertices from the slot's vertex array.
class SlotFill {
  public:
    SlotFill(int s, int32_t tile) : slot_(data::slot(s)) {
        std::memset(&slot_.header, 0, sizeof slot_.header);
        slot_.header.tile_number = tile;
        slot_.header.origin_x = data::tile_west(tile);
        slot_.header.origin_y = data::tile_south(tile);
        slot_.header.last_record = -1;
        slot_.header.vertex_last = -1;
        slot_.header.name_last = -1;
    }
    // A line or area (type up to 20) or a road (types 1 to 9) with an optional name.
    SlotFill& line(int type, const std::vector<WorldPt>& pts, const std::string& name = "") {
        data::FeatureRecord& r = next();
        r.type = static_cast<int16_t>(type);
        r.vertex_count = static_cast<int16_t>(pts.size());
        r.first_vertex = slot_.header.vertex_last + 1;
        for (const WorldPt& p : pts) vertex(p);
        r.name_index = name_of(name.empty() ? std::string(" ") : name);
        return *this;
    }
    // A point feature (type above 20) anchored at `at`.
    SlotFill& place(int type, WorldPt at, const std::string& name) {
        data::FeatureRecord& r = next();
        r.type = static_cast<int16_t>(type);
        r.first_vertex = slot_.header.vertex_last + 1;
        vertex(at);
        r.name_index = name_of(name);
        return *this;
    }
    // The record added last, for tests that alter it.
    data::FeatureRecord& last_record() { return slot_.records[slot_.header.last_record]; }
    data::TileSlot& slot() { return slot_; }

  private:
    data::FeatureRecord& next() {
        data::FeatureRecord& r = slot_.records[++slot_.header.last_record];
        r = data::FeatureRecord{};
        return r;
    }
    void vertex(WorldPt p) {
        data::Vertex& v = slot_.vertices[++slot_.header.vertex_last];
        v.x = static_cast<int16_t>(p.x - slot_.header.origin_x);
        v.y = static_cast<int16_t>(p.y - slot_.header.origin_y);
    }
    int16_t name_of(const std::string& name) {
        const std::string s = padded(name);
        data::NameRecord& n = slot_.names[++slot_.header.name_last];
        std::memcpy(n.bytes, s.data(), data::NAME_BYTES);
        return static_cast<int16_t>(slot_.header.name_last);
    }
    data::TileSlot& slot_;
};

// The world position that maps to pixel (px, py) in a view with this top-left and scale.
inline WorldPt world_at(int32_t left, int32_t top, double scale, int px, int py) {
    return WorldPt{left + static_cast<int32_t>(px * scale), top - static_cast<int32_t>(py * scale)};
}

class RenderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        data::reset_all();
        render::reset_view_state();
        dir_ = folder_.slash();
        std::snprintf(data::dataset().data_path, sizeof data::dataset().data_path, "%s",
                      dir_.c_str());
    }
    void TearDown() override {
        data::reset_all();
        render::reset_view_state();
    }
    test_support::TempDir folder_{"kestrel-render"};
    std::string dir_;
};

// A view inside tile 275025 (x 250000..260000, y 2750000..2760000).
inline constexpr int32_t kTile = 275025;
inline constexpr int32_t kLeft = 251000;
inline constexpr int32_t kTop = 2758000;

}  // namespace render_test

#endif  // KESTREL_TESTS_RENDER_FIXTURE_H
