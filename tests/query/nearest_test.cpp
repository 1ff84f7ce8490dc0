// nearest_test.cpp: the near test, the nearest-road search and its three exports (road text,
// road reference, slope, drawing). Slots are filled by hand; one test loads a tile file built
// byte by byte from the tile format through the cache.
#include <algorithm>
#include <cmath>
#include <random>

#include "fixture.h"
#include "kestrel.h"

namespace {

using namespace qtest;
namespace query = kestrel::query;
namespace render = kestrel::render;

constexpr int32_t kTile = 277025;
constexpr int32_t kWest = 250000;    // tile_west(kTile)
constexpr int32_t kSouth = 2770000;  // tile_south(kTile)

bool near(int px, int py, int x1, int y1, int x2, int y2, int t, double* slope = nullptr) {
    double s = -99;
    const bool pass = query::near_segment(px, py, x1, y1, x2, y2, t, &s);
    if (slope != nullptr) *slope = s;
    return pass;
}

// ---- the near test ------------------------------------------------------------------------

TEST(NearTest, OnASteepSegmentTheHorizontalOffsetFromTheLineCounts) {
    // (0,0)-(10,40): k = 4, the line's x at y 20 is 5.
    EXPECT_TRUE(near(3, 20, 0, 0, 10, 40, 2));
    EXPECT_TRUE(near(7, 20, 0, 0, 10, 40, 2));
    EXPECT_FALSE(near(2, 20, 0, 0, 10, 40, 2));
    EXPECT_TRUE(near(2, 20, 0, 0, 10, 40, 4));
    EXPECT_FALSE(near(8, 20, 0, 0, 10, 40, 2));
}

TEST(NearTest, AFarPointMissesThroughTheBoxBelowItsDistance) {
    for (int t = 2; t < 20; t += 2) EXPECT_FALSE(near(30, 20, 0, 0, 10, 40, t)) << t;
    // From 20 on the box lets it through; the line offset (25) still decides.
    EXPECT_FALSE(near(30, 20, 0, 0, 10, 40, 24));
    EXPECT_TRUE(near(30, 20, 0, 0, 10, 40, 26));
}

TEST(NearTest, OnAShallowSegmentTheVerticalOffsetCounts) {
    EXPECT_FALSE(near(5, 3, 0, 0, 10, 0, 2));
    EXPECT_TRUE(near(5, 3, 0, 0, 10, 0, 4));
    EXPECT_TRUE(near(5, -2, 0, 0, 10, 0, 2));  // both bounds inclusive
}

TEST(NearTest, AVerticalSegmentIsDecidedByTheBoxAloneWithSlopeOne) {
    double slope = 0;
    EXPECT_TRUE(near(5, 20, 5, 0, 5, 40, 2, &slope));
    EXPECT_EQ(slope, 1.0);
    EXPECT_TRUE(near(7, 42, 5, 0, 5, 40, 2));
    EXPECT_FALSE(near(8, 20, 5, 0, 5, 40, 2));
    EXPECT_FALSE(near(5, 43, 5, 0, 5, 40, 2));
}

TEST(NearTest, ThePassingSegmentGivesItsSlopeInMapUnits) {
    double slope = 0;
    EXPECT_TRUE(near(4, 2, 0, 0, 10, 5, 2, &slope));
    EXPECT_EQ(slope, 0.5);
    EXPECT_TRUE(near(5, 20, 0, 0, 10, 40, 2, &slope));
    EXPECT_EQ(slope, 4.0);
}

// ---- the search ----------------------------------------------------------------------------

class NearestTest : public QueryTest {};

TEST_F(NearestTest, APoint3mAboveAHorizontalRoadNeedsTolerance4) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "MAIN ST", {{100, 500}, {200, 500}});
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 503, 1.0, text), 0);
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 503, 0.75, text), -1);  // largest tolerance 2
    EXPECT_STREQ(text, "");
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 503, 0.4, text), -1);  // no pass at all
}

TEST_F(NearestTest, ThePointOnAVerticalRoadIsFoundInTheFirstPass) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "FAR ST", {{150, 400}, {150, 600}});  // 0 m away
    a.road(3, 105, "NEAR ST", {{100, 500}, {200, 500}});
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 20.0, text), 0);
}

TEST_F(NearestTest, WithinOneToleranceStepTheLowerRecordWinsEvenIfFarther) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "FIRST ST", {{100, 502}, {200, 502}});   // 2 m away
    a.road(3, 105, "SECOND ST", {{100, 500}, {200, 500}});  // 0 m away
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 20.0, text), 0);
    EXPECT_EQ(std::string(text + 8, 20), padded("FIRST ST"));
}

TEST_F(NearestTest, ASmallerToleranceStepBeatsALowerRecord) {
    SlotBuilder a(4, kTile);
    a.road(3, 105, "FIRST ST", {{100, 505}, {200, 505}});   // needs 6
    a.road(3, 105, "SECOND ST", {{100, 497}, {200, 497}});  // needs 4
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 20.0, text), 4 * 100000 + 1);
}

TEST_F(NearestTest, OnlyThePointsOwnTileIsSearched) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "INSIDE RD", {{100, 100}, {200, 100}});
    SlotBuilder b(1, kTile + 1);
    b.road(3, 105, "BORDER RD", {{0, 5000}, {0, 6000}});
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 9999, kSouth + 5500, 20.0, text), -1);
    EXPECT_EQ(dllquroad(kWest + 10001, kSouth + 5500, 20.0, text), 100000);
}

TEST_F(NearestTest, LinesAreasLabelsAndSingleVertexRoadsAreNeverReturned) {
    SlotBuilder a(0, kTile);
    a.line(10, {{100, 500}, {200, 500}});
    a.line(11, {{100, 500}, {200, 500}, {150, 600}});
    a.road(3, 105, "DOT", {{150, 500}});
    a.point(21, 150, 500, "TOWN");
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 20.0, text), -1);
}

TEST_F(NearestTest, ARoadTextHoldsDistrictTypeCodeAndName) {
    SlotBuilder a(2, kTile);
    a.line(10, {{0, 0}, {1, 1}});
    a.road(3, 105, "MAIN ST", {{100, 500}, {200, 500}}, "AB");
    char text[64];
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 1.0, text), 2 * 100000 + 1);
    const std::string expected = std::string("1053AB\0\0", 8) + padded("MAIN ST") + '\0';
    EXPECT_EQ(std::string(text, 29), expected);
    EXPECT_EQ(text[29], 'x');  // nothing written past the 29 bytes
}

TEST_F(NearestTest, ASmallDistrictCodeIsRightAlignedAndAFourByteCodeFillsItsField) {
    SlotBuilder a(0, kTile);
    a.road(9, 42, "X", {{100, 500}, {200, 500}}, "WXYZ");
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 1.0, text), 0);
    EXPECT_EQ(std::string(text, 29), std::string(" 429WXYZ") + padded("X") + '\0');
}

TEST_F(NearestTest, Dllquroad2GivesTheSlopeOfTheSegmentHit) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "SLOPE RD", {{0, 0}, {10, 5}, {10, 100}});
    char text[64];
    double slope = -7;
    EXPECT_EQ(dllquroad2(kWest + 4, kSouth + 2, 1.0, text, &slope), 0);
    EXPECT_EQ(slope, 0.5);
    EXPECT_EQ(dllquroad2(kWest + 10, kSouth + 50, 1.0, text, &slope), 0);
    EXPECT_EQ(slope, 1.0);
    slope = -7;
    EXPECT_EQ(dllquroad2(kWest + 500, kSouth + 500, 1.0, text, &slope), -1);
    EXPECT_EQ(slope, -7);  // unchanged on failure
}

TEST_F(NearestTest, NullTextOrSlopePointersAreRefused) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "MAIN ST", {{100, 500}, {200, 500}});
    char text[64] = "old";
    double slope = 0;
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 1.0, nullptr), -1);
    EXPECT_EQ(dllquroad2(kWest + 150, kSouth + 500, 1.0, nullptr, &slope), -1);
    EXPECT_EQ(dllquroad2(kWest + 150, kSouth + 500, 1.0, text, nullptr), -1);
    EXPECT_STREQ(text, "");
    EXPECT_EQ(dllqudrroad(kWest + 150, kSouth + 500, 1.0, nullptr, nullptr, 0, 0), -1);
}

TEST_F(NearestTest, AMissingTileFileFindsNothing) {
    char text[64] = "old";
    EXPECT_EQ(dllquroad(kWest + 150, kSouth + 500, 20.0, text), -1);
    EXPECT_STREQ(text, "");
}

TEST_F(NearestTest, AnEnormousScaleEndsPromptlyWithTheSameRules) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "MAIN ST", {{100, 500}, {200, 500}});
    char text[64];
    EXPECT_EQ(dllquroad(kWest + 9000, kSouth + 9000, 1e12, text), 0);
    EXPECT_EQ(dllquroad(kWest + 9000, kSouth + 9000, std::nan(""), text), -1);
    EXPECT_EQ(dllquroad(kWest + 9000, kSouth + 9000, -5.0, text), -1);
}

// A tile file holding one section B road, built from the format tables: a 128-byte header, the
// 16-byte road record, its delta stream and one name.
std::string one_road_tile_file(int32_t tile) {
    std::string f(128, '\0');
    auto put32 = [&](std::size_t at, int32_t v) { std::memcpy(&f[at], &v, 4); };
    auto add16 = [&](int16_t v) { f.append(reinterpret_cast<const char*>(&v), 2); };
    put32(8, 4);    // record size of sections A, C, D
    put32(12, -1);  // section A empty
    put32(16, -1);  // anchor base
    put32(20, 128);
    put32(24, 0);  // one section B record
    put32(28, 16);
    put32(32, 128);
    put32(36, -1);  // sections C, D empty
    put32(40, 144);
    put32(44, -1);
    put32(48, 144);
    put32(52, -1);  // no file vertices
    put32(56, 144);
    put32(64, 144);  // delta stream
    put32(68, 0);    // one name
    put32(76, 146);
    put32(84, data::tile_west(tile));
    put32(88, data::tile_south(tile));
    put32(96, tile);
    // Road from (123, 45) with two vertices: coded count = 2 + 23 + 45 + 3 * 5.
    add16(3);
    add16(123);
    add16(45);
    add16(2 + 23 + 45 + 15);
    f += "R1";
    f += std::string(2, '\0');
    add16(0);
    add16(105);
    f += static_cast<char>(50);  // dx
    f += static_cast<char>(0);   // dy
    f += padded("LOADED RD");
    return f;
}

TEST_F(NearestTest, ATileThatIsNotCachedIsLoadedThroughTheCache) {
    write_file(data_dir_ + std::to_string(kTile) + ".dat", one_road_tile_file(kTile));
    char text[64];
    const int ref = dllquroad(kWest + 150, kSouth + 46, 1.0, text);
    ASSERT_GE(ref, 0);
    EXPECT_EQ(std::string(text, 29), std::string("1053R1\0\0", 8) + padded("LOADED RD") + '\0');
    EXPECT_EQ(data::slot(ref / 100000).header.tile_number, kTile);
    EXPECT_EQ(data::slot(ref / 100000).header.in_view, 0);  // queries do not pin
}

// The search as passes of growing tolerance, the way the rules state it, to check the single
// scan of find_road against.
query::RoadHit passes(int slot_index, int px, int py, double scale) {
    const data::TileSlot& s = data::slot(slot_index);
    for (int t = 2; t <= 4 * scale; t += 2) {
        for (int i = 0; i <= s.header.last_record; ++i) {
            const data::FeatureRecord& r = s.records[i];
            if (r.type < 1 || r.type > 9) continue;
            for (int j = 0; j + 1 < r.vertex_count; ++j) {
                const data::Vertex& a = s.vertices[r.first_vertex + j];
                const data::Vertex& b = s.vertices[r.first_vertex + j + 1];
                double slope = 0;
                if (query::near_segment(px, py, a.x, a.y, b.x, b.y, t, &slope))
                    return query::RoadHit{slot_index, i, slope};
            }
        }
    }
    return query::RoadHit{-1, -1, 0};
}

// Random roads in four arrangements: as loaded; with the records in reverse order (their
// vertices then run backwards through the array); with a header whose vertex count leaves the
// later roads outside it; and spread over the whole int16 range with points beyond it and
// large scales.
TEST_F(NearestTest, TheSingleScanAgreesWithPassesOfGrowingTolerance) {
    std::mt19937 rng(20261208);
    for (int round = 0; round < 80; ++round) {
        const int arrangement = round % 4;
        const int reach = arrangement == 3 ? 32000 : 400;
        std::uniform_int_distribution<int> coord(arrangement == 3 ? -reach : 0, reach);
        std::uniform_int_distribution<int> step(-60, 60), len(2, 7);
        std::uniform_real_distribution<double> scale(0.4, arrangement == 3 ? 3000.0 : 30.0);
        SlotBuilder a(0, kTile);
        for (int r = 0; r < 30; ++r) {
            Points pts{{coord(rng), coord(rng)}};
            const int n = len(rng);
            for (int k = 1; k < n; ++k) {
                // Vertical and horizontal pieces now and then, so every branch of the test runs.
                const int dx = k % 3 == 0 ? 0 : step(rng);
                const int dy = k % 4 == 0 ? 0 : step(rng);
                pts.emplace_back(std::clamp(pts.back().first + dx, -32768, 32767),
                                 std::clamp(pts.back().second + dy, -32768, 32767));
            }
            a.road(1 + r % 12, 105, "R" + std::to_string(r), pts);
        }
        data::TileSlot& slot = a.slot();
        if (arrangement == 1) std::reverse(slot.records, slot.records + 30);
        if (arrangement == 2) slot.header.vertex_last /= 2;
        if (arrangement == 3) {
            // The tile's points then lie 25000 to 35000 m from the origin, on either side.
            const int32_t shift = round % 8 == 3 ? -25000 : 35000;
            slot.header.origin_x = kWest + shift;
            slot.header.origin_y = kSouth + (round % 16 < 8 ? shift : 0);
        }
        std::uniform_int_distribution<int> inside(0, 9999);
        for (int q = 0; q < 60; ++q) {
            const int px =
                arrangement == 3 ? kWest + inside(rng) - slot.header.origin_x : coord(rng);
            const int py =
                arrangement == 3 ? kSouth + inside(rng) - slot.header.origin_y : coord(rng);
            const double sc = scale(rng);
            const query::RoadHit want = passes(0, px, py, sc);
            const query::RoadHit got =
                query::find_road(slot.header.origin_x + px, slot.header.origin_y + py, sc);
            ASSERT_EQ(got.slot, want.slot) << round << " " << px << " " << py << " " << sc;
            ASSERT_EQ(got.record, want.record) << round << " " << px << " " << py << " " << sc;
            if (want.slot >= 0) {
                ASSERT_EQ(got.slope, want.slope);
            }
        }
    }
}

// ---- dllqudrroad -----------------------------------------------------------------------------

class DrawRoadTest : public QueryTest {
  protected:
    void SetUp() override {
        QueryTest::SetUp();
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, 100, 100);
        old_ = SelectObject(dc_, bitmap_);
        KgdiSetRecorder(dc_, &DrawRoadTest::record, this);
    }
    void TearDown() override {
        KgdiSetRecorder(dc_, nullptr, nullptr);
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        QueryTest::TearDown();
    }
    static void record(void* user, const KgdiRecord* r) {
        if (r->kind != KGDI_REC_POLYLINE) return;
        auto* self = static_cast<DrawRoadTest*>(user);
        self->lines_.emplace_back(r->points, r->points + r->count);
        self->widths_.push_back(r->pen_width);
    }
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_ = nullptr;
    std::vector<std::vector<POINT>> lines_;
    std::vector<int> widths_;
};

TEST_F(DrawRoadTest, AFoundRoadIsDrawnAtTheCallersWindowAndItsContextBecomesTheViews) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "MAIN ST", {{100, 500}, {200, 500}, {200, 540}}, "AB");
    render::colour_table()[10].width = 4;
    const int live = KgdiLiveObjectCount();
    char text[64];
    EXPECT_EQ(dllqudrroad(kWest + 150, kSouth + 500, 2.0, text, dc_, kWest + 100, kSouth + 600), 0);
    EXPECT_EQ(std::string(text, 29), std::string("1053AB\0\0", 8) + padded("MAIN ST") + '\0');
    ASSERT_EQ(lines_.size(), 1u);
    EXPECT_EQ(lines_[0], (std::vector<POINT>{{0, 50}, {50, 50}, {50, 30}}));
    EXPECT_EQ(widths_[0], 4);
    EXPECT_EQ(render::view_state().dc, dc_);
    EXPECT_EQ(KgdiLiveObjectCount(), live);
}

TEST_F(DrawRoadTest, OnFailureNothingIsDrawnAndTheViewKeepsItsContext) {
    SlotBuilder a(0, kTile);
    a.road(3, 105, "MAIN ST", {{100, 500}, {200, 500}});
    char text[64] = "old";
    EXPECT_EQ(dllqudrroad(kWest + 150, kSouth + 900, 2.0, text, dc_, kWest, kSouth + 1000), -1);
    EXPECT_STREQ(text, "");
    EXPECT_TRUE(lines_.empty());
    EXPECT_EQ(render::view_state().dc, nullptr);
}

// The export reads the context that dllqudrroad was given: the earlier view's context is white,
// the query's black with the road drawn in red.
TEST_F(DrawRoadTest, TheBitmapExportThenCopiesFromTheQuerysContext) {
    HDC earlier = CreateCompatibleDC(nullptr);
    HBITMAP earlier_bitmap = CreateCompatibleBitmap(earlier, 100, 100);
    HGDIOBJ earlier_old = SelectObject(earlier, earlier_bitmap);
    RECT all{0, 0, 100, 100};
    FillRect(earlier, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    render::ViewState& view = render::view_state();
    view = render::ViewState{earlier, kWest, kSouth + 100, 100, 100, 1.0};

    SlotBuilder a(0, kTile);
    a.road(3, 105, "MAIN ST", {{10, 50}, {90, 50}});
    render::colour_table()[10] = render::ColourEntry{255, 0, 0, 3};
    char text[64];
    ASSERT_EQ(dllqudrroad(kWest + 50, kSouth + 50, 1.0, text, dc_, kWest, kSouth + 100), 0);

    std::vector<unsigned char> bmp(1078 + 100 * 100);
    const int n = sdllgetbmp(bmp.data());
    ASSERT_GT(n, 0);
    KgdiImage image{};
    ASSERT_TRUE(KgdiDecodeBmp(bmp.data(), static_cast<std::size_t>(n) + 1078, &image));
    ASSERT_EQ(image.width, 100);
    EXPECT_EQ(image.pixels[50 * 100 + 50] & 0xFFFFFFu, 0xFF0000u);  // the road, red
    EXPECT_EQ(image.pixels[10 * 100 + 10] & 0xFFFFFFu, 0x000000u);  // the query's black ground
    KgdiFreeImage(&image);

    SelectObject(earlier, earlier_old);
    DeleteObject(earlier_bitmap);
    DeleteDC(earlier);
}

}  // namespace
