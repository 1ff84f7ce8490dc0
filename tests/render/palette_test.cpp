// palette_test.cpp: maps drawn into 8-bit surfaces whose colour table is the map's palette
// (render/palette.h) equal, pixel for pixel once expanded through the table, the same maps
// drawn into 32-bit surfaces, and export the same BMP image: views of the sample city in tile
// mode (with place labels and road names) and base-map mode at scale factors 1, 2 and 3, with
// the points of interest, the track and highlighted roads over them, and, when the extract is
// beside the source tree, of central Taipei imported with kimport. Compiled against both
// engine builds. Also the palette's own rules: each colour once, the caller's first, at most
// 256.
#include "render/palette.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "build_config.h"
#include "data/store.h"
#include "kgdi.h"
#include "render/highlight.h"
#include "render/view.h"
#include "test_support/temp_dir.h"

namespace {

namespace data = kestrel::data;
namespace render = kestrel::render;

// The caller's colours: the surface is cleared to white and text is black on a transparent
// background, as the map service and kview draw.
const COLORREF kClear = RGB(255, 255, 255);
const COLORREF kText = RGB(0, 0, 0);
const COLORREF kOwn[] = {kClear, kText};
// The highlight is given a colour of its own, which the palette must follow.
const COLORREF kHighlight = RGB(255, 0, 255);
constexpr int kHighlightedRoads = 40;

// A memory context with a surface of the given size: a 32-bit bitmap, or an 8-bit DIB section
// with the palette as its colour table.
class Surface {
  public:
    Surface(int width, int height, const render::MapPalette* palette)
        : width_(width), height_(height), dc_(CreateCompatibleDC(nullptr)) {
        if (palette == nullptr) {
            bitmap_ = CreateCompatibleBitmap(dc_, width, height);
        } else {
            const render::PaletteBitmapInfo info =
                render::palette_bitmap_info(*palette, width, height);
            void* bits = nullptr;
            bitmap_ = CreateDIBSection(dc_, reinterpret_cast<const BITMAPINFO*>(&info),
                                       DIB_RGB_COLORS, &bits, nullptr, 0);
        }
        old_ = SelectObject(dc_, bitmap_);
        HBRUSH clear = CreateSolidBrush(kClear);
        const RECT all{0, 0, width, height};
        FillRect(dc_, &all, clear);
        DeleteObject(clear);
        SetTextColor(dc_, kText);
        SetBkMode(dc_, TRANSPARENT);
    }
    ~Surface() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Surface(const Surface&) = delete;
    Surface& operator=(const Surface&) = delete;

    bool ok() const { return bitmap_ != nullptr; }
    HDC dc() const { return dc_; }
    // The picture as 0x00RRGGBB words, rows top-down.
    std::vector<uint32_t> words() const {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        info.bmiHeader.biWidth = width_;
        info.bmiHeader.biHeight = -height_;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        std::vector<uint32_t> out(static_cast<size_t>(width_) * height_);
        EXPECT_EQ(GetDIBits(dc_, bitmap_, 0, height_, out.data(), &info, DIB_RGB_COLORS), height_);
        return out;
    }

  private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
};

struct View {
    const char* name;
    int32_t x, y;  // world centre
    double scale;  // metres a pixel of the 1x map
    int factor;
    const char* layers;
};

void PrintTo(const View& v, std::ostream* os) {
    *os << v.name;
}

constexpr int kWidth = 240, kHeight = 180;  // the 1x view

// Highlights the first labelled roads of the view's tiles, as a road query does.
void highlight_roads(const render::ViewState& view) {
    const HGDIOBJ previous = render::select_highlight_pen(view.dc, view.factor);
    int drawn = 0;
    for (int s = 0; s < data::SLOT_COUNT && drawn < kHighlightedRoads; ++s) {
        const data::TileSlot& slot = data::slot(s);
        if (slot.header.in_view != 1) continue;
        for (int r = 0; r <= data::last_record(slot) && drawn < kHighlightedRoads; ++r) {
            int count = 0;
            const data::Vertex* v = data::record_vertices(slot, slot.records[r], &count);
            if (v == nullptr || slot.records[r].type > 9) continue;
            render::draw_world_polyline(view.dc, v, count, slot.header.origin_x,
                                        slot.header.origin_y, view.left, view.top, view.scale,
                                        view.factor);
            ++drawn;
        }
    }
    render::release_highlight_pen(view.dc, previous);
}

// Draws a view with its overlays into a surface and returns its exported BMP image.
std::vector<uint8_t> draw(const Surface& surface, const View& v) {
    const int32_t left = v.x - static_cast<int32_t>(kWidth * v.scale / 2);
    const int32_t top = v.y + static_cast<int32_t>(kHeight * v.scale / 2);
    EXPECT_EQ(render::draw_view(surface.dc(), left, top, kWidth * v.factor, kHeight * v.factor,
                                v.scale, v.layers, render::ViewOptions{v.factor}),
              0);
    render::draw_points_of_interest(0, 2);
    render::draw_track(left, static_cast<int32_t>(top - kHeight * v.scale),
                       static_cast<int32_t>(left + kWidth * v.scale), top);
    highlight_roads(render::view_state());
    std::vector<uint8_t> image(1078 + size_t{kWidth} * kHeight * v.factor * v.factor);
    const int n = render::export_bitmap(image.data());
    EXPECT_GT(n, 0);
    image.resize(1078 + static_cast<size_t>(n < 0 ? 0 : n));
    return image;
}

// Draws the view into both kinds of surface and compares them.
void expect_same_map(const View& v) {
    const render::MapPalette palette = render::map_palette(kOwn, 2);
    EXPECT_TRUE(palette.complete);
    const int w = kWidth * v.factor, h = kHeight * v.factor;
    const Surface wide(w, h, nullptr);
    const Surface narrow(w, h, &palette);
    ASSERT_TRUE(wide.ok() && narrow.ok());
    const std::vector<uint8_t> wide_image = draw(wide, v);
    const std::vector<uint8_t> narrow_image = draw(narrow, v);

    const std::vector<uint32_t> want = wide.words(), got = narrow.words();
    const std::set<uint32_t> colours(want.begin(), want.end());
    EXPECT_GE(colours.size(), 4u) << "a view with something on it";
    size_t differ = 0, first = 0;
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != want[i] && differ++ == 0) first = i;
    EXPECT_EQ(differ, 0u) << "first at x " << first % w << ", y " << first / w << ": " << std::hex
                          << got[first] << " for " << want[first];
    EXPECT_TRUE(narrow_image == wide_image) << "the exported images differ";
}

// Loads a data set once for the views that follow, and sets the highlight colour.
void load(const std::string& dir) {
    static std::string loaded;
    if (loaded != dir) {
        ASSERT_EQ(data::set_path(dir.c_str(), true), 1) << dir;
        loaded = dir;
    }
    render::set_colour(render::HIGHLIGHT_COLOUR, GetRValue(kHighlight), GetGValue(kHighlight),
                       GetBValue(kHighlight), 3);
}

class SampleCityMaps : public ::testing::TestWithParam<View> {
  protected:
    void SetUp() override {
        load(KESTREL_SAMPLE_DIR);
        ASSERT_GE(render::load_track(KESTREL_SAMPLE_TRACK), 0);
    }
};

TEST_P(SampleCityMaps, DrawnInto8BitsEqualTheir32BitPictureAndExport) {
    expect_same_map(GetParam());
}

constexpr int32_t kCityX = 301234, kCityY = 2771234;

INSTANTIATE_TEST_SUITE_P(
    Views, SampleCityMaps,
    ::testing::Values(View{"RoadNames5mAt1", kCityX, kCityY, 5, 1, "00210000"},
                      View{"RoadNames5mAt2", kCityX, kCityY, 5, 2, "00210000"},
                      View{"RoadNames5mAt3", kCityX, kCityY, 5, 3, "00210000"},
                      View{"Places20mAt2WithBackground", kCityX, kCityY, 20, 2, "10210000"},
                      View{"Districts50mAt3", kCityX, kCityY, 50, 3, "00210000"},
                      View{"BaseMap100mAt1", kCityX, kCityY, 100, 1, "00210000"},
                      View{"BaseMap100mAt2WithBackground", kCityX, kCityY, 100, 2, "10210000"},
                      View{"Island400mAt3", 290000, 2760000, 400, 3, "00210000"}),
    [](const ::testing::TestParamInfo<View>& info) { return std::string(info.param.name); });

#if defined(KIMPORT_PATH)
// Central Taipei imported once for the suite.
class RealDataMaps : public ::testing::TestWithParam<View> {
  protected:
    static void SetUpTestSuite() {
        dir_ = new test_support::TempDir;
        const std::string r = KIMPORT_REALDATA_DIR;
        const std::string command =
            std::string(KIMPORT_PATH) + " -q " + r + "/taipei_osm_roads.geojson " + r +
            "/taipei_osm_paths.geojson " + r + "/taipei_osm_pois.geojson " + r +
            "/taipei_osm_admin_boundary_lines.geojson --districts " + r +
            "/taipei_town_districts.geojson --district-field TNAME -o " + dir_->file("taipei");
        imported_ = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(imported_) << "kimport failed";
        load(dir_->file("taipei") + "/");
    }
    static test_support::TempDir* dir_;
    static bool imported_;
};
test_support::TempDir* RealDataMaps::dir_ = nullptr;
bool RealDataMaps::imported_ = false;

TEST_P(RealDataMaps, DrawnInto8BitsEqualTheir32BitPictureAndExport) {
    expect_same_map(GetParam());
}

constexpr int32_t kTaipeiX = 303000, kTaipeiY = 2771500;

INSTANTIATE_TEST_SUITE_P(
    Views, RealDataMaps,
    ::testing::Values(View{"Streets5mAt2", kTaipeiX, kTaipeiY, 5, 2, "00210000"},
                      View{"Districts20mAt1", kTaipeiX, kTaipeiY, 20, 1, "10210000"},
                      View{"City100mAt3", kTaipeiX, kTaipeiY, 100, 3, "00210000"}),
    [](const ::testing::TestParamInfo<View>& info) { return std::string(info.param.name); });
#endif

TEST(MapPalette, ListsEachColourOnceTheCallersFirstAndAtMost256) {
    load(KESTREL_SAMPLE_DIR);
    const COLORREF own[] = {RGB(1, 2, 3), kText, RGB(1, 2, 3)};
    const render::MapPalette p = render::map_palette(own, 3);
    ASSERT_GE(p.count, 3);
    EXPECT_EQ(p.colours[0], RGB(1, 2, 3));
    EXPECT_EQ(p.colours[1], kText);
    const std::set<COLORREF> listed(p.colours, p.colours + p.count);
    EXPECT_EQ(listed.size(), static_cast<size_t>(p.count));
    for (COLORREF c : {kHighlight, render::kPoiColour, render::kTrackColour,
                       render::colour_of(render::colour_table()[0])})
        EXPECT_EQ(listed.count(c), 1u) << std::hex << c;
    if constexpr (kestrel::kServerOnly) {
        EXPECT_EQ(listed.count(render::kServerTextAfterViewColour), 1u);
    }

    // More colours than a table holds: the first 256 are kept, and the palette says so.
    std::vector<COLORREF> many;
    for (int i = 0; i < 300; ++i) many.push_back(RGB(i % 256, i / 256, 7));
    const render::MapPalette full = render::map_palette(many.data(), 300);
    EXPECT_EQ(full.count, 256);
    EXPECT_FALSE(full.complete);
    EXPECT_EQ(full.colours[255], many[255]);
    const render::PaletteBitmapInfo info = render::palette_bitmap_info(p, 7, 5);
    EXPECT_EQ(info.header.biClrUsed, static_cast<DWORD>(p.count));
    EXPECT_EQ(info.header.biHeight, -5);
    EXPECT_EQ(info.colours[0].rgbRed, 1);
    EXPECT_EQ(info.colours[0].rgbBlue, 3);
}

}  // namespace
