// highlight_test.cpp: dllselroad on slots filled by hand, with the drawing layer's recorder
// reporting each polyline and the pen it was drawn with.
#include <vector>

#include "fixture.h"
#include "kestrel.h"

namespace {

using namespace qtest;
namespace render = kestrel::render;

struct Drawn {
    std::vector<POINT> points;
    int pen_width;
    COLORREF pen_color;
};

class HighlightTest : public QueryTest {
  protected:
    void SetUp() override {
        QueryTest::SetUp();
        dc_ = CreateCompatibleDC(nullptr);
        ASSERT_NE(dc_, nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, 200, 200);
        old_bitmap_ = SelectObject(dc_, bitmap_);
        KgdiSetRecorder(dc_, &HighlightTest::record, this);
    }
    void TearDown() override {
        KgdiSetRecorder(dc_, nullptr, nullptr);
        SelectObject(dc_, old_bitmap_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
        QueryTest::TearDown();
    }

    // A last view over tile 277025 at 1 m per pixel, its west edge 100 m west of the tile and
    // its top 1000 m north of the tile's south edge.
    void set_view(double scale = 1.0) {
        render::ViewState& v = render::view_state();
        v.dc = dc_;
        v.left = data::tile_west(kTile) - 100;
        v.top = data::tile_south(kTile) + 1000;
        v.width = 200;
        v.height = 200;
        v.scale = scale;
    }

    static void record(void* user, const KgdiRecord* r) {
        if (r->kind != KGDI_REC_POLYLINE) return;
        auto* self = static_cast<HighlightTest*>(user);
        self->drawn_.push_back(
            Drawn{std::vector<POINT>(r->points, r->points + r->count), r->pen_width, r->pen_color});
    }

    static constexpr int32_t kTile = 277025;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ old_bitmap_ = nullptr;
    std::vector<Drawn> drawn_;
};

TEST_F(HighlightTest, ThreePiecesOfARoadInTwoTilesAreDrawnAndCountAsTwo) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "MAIN ST", {{0, 900}, {50, 900}});
    a.road(3, 105, "ELM ST", {{0, 800}, {50, 800}});
    a.road(3, 105, "MAIN ST", {{50, 900}, {50, 950}, {60, 950}});
    SlotBuilder b(5, kTile + 1, true);
    b.road(4, 106, "MAIN ST", {{0, 990}, {10, 980}});
    set_view();

    EXPECT_EQ(dllselroad(padded("MAIN ST").c_str()), 2);
    ASSERT_EQ(drawn_.size(), 3u);
    // column = x - left, row = top - y at 1 m per pixel; the tile's origin is added first.
    EXPECT_EQ(drawn_[0].points, (std::vector<POINT>{{100, 100}, {150, 100}}));
    EXPECT_EQ(drawn_[1].points, (std::vector<POINT>{{150, 100}, {150, 50}, {160, 50}}));
    EXPECT_EQ(drawn_[2].points, (std::vector<POINT>{{10100, 10}, {10110, 20}}));
}

TEST_F(HighlightTest, PixelsAreTruncatedTowardZeroAtFractionalScales) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "MAIN ST", {{-101, 1000}, {0, 997}});
    set_view(2.0);
    EXPECT_EQ(dllselroad("MAIN"), 0);
    ASSERT_EQ(drawn_.size(), 1u);
    // (-101 + 100) / 2 = -0.5 -> 0; (1000 - 997) / 2 = 1.5 -> 1.
    EXPECT_EQ(drawn_[0].points, (std::vector<POINT>{{0, 0}, {50, 1}}));
}

TEST_F(HighlightTest, ThePenIsColourEntryTenAndIsDeletedAfterwards) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "MAIN ST", {{0, 900}, {50, 900}});
    set_view();
    render::colour_table()[10] = render::ColourEntry{0x1FF, 20, 30, 5};
    const int live = KgdiLiveObjectCount();

    EXPECT_EQ(dllselroad("MAIN"), 0);
    ASSERT_EQ(drawn_.size(), 1u);
    EXPECT_EQ(drawn_[0].pen_width, 5);
    EXPECT_EQ(drawn_[0].pen_color, RGB(0xFF, 20, 30));  // low bytes of each component
    EXPECT_EQ(KgdiLiveObjectCount(), live);
    EXPECT_EQ(render::pen_table()[10], nullptr);
}

TEST_F(HighlightTest, DllsetcolorOnEntryTenChangesTheHighlightColourAndWidth) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "MAIN ST", {{0, 900}, {50, 900}});
    set_view();
    dllsetcolor(10, 0x12, 0x34, 0x56, 3);
    EXPECT_EQ(dllselroad("MAIN"), 0);
    ASSERT_EQ(drawn_.size(), 1u);
    EXPECT_EQ(drawn_[0].pen_width, 3);
    EXPECT_EQ(drawn_[0].pen_color, RGB(0x12, 0x34, 0x56));
}

TEST_F(HighlightTest, ANameMatchesEveryRoadThatBeginsWithIt) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "MAIN ST", {{0, 900}, {50, 900}});
    a.road(3, 105, "MAPLE AVE", {{0, 800}, {50, 800}});
    a.road(3, 999, "MARKET RD", {{0, 700}, {50, 700}});
    a.road(3, 105, "ELM ST", {{0, 600}, {50, 600}});
    set_view();
    EXPECT_EQ(dllselroad("MA"), 2);
    drawn_.clear();
    EXPECT_EQ(dllselroad("MAIN"), 0);
    drawn_.clear();
    EXPECT_EQ(dllselroad("MAIN ST  X"), -1);  // longer than the stored text up to its blanks
    EXPECT_TRUE(drawn_.empty());
}

TEST_F(HighlightTest, ATwoByteCharacterPrefixMatchesByBytes) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "\xA4\xA4\xA4\x73\xB8\xF4", {{0, 900}, {50, 900}});
    a.road(3, 105, "\xA4\xA4\xA5\xBF\xB8\xF4", {{0, 800}, {50, 800}});
    set_view();
    EXPECT_EQ(dllselroad("\xA4\xA4"), 1);
}

TEST_F(HighlightTest, ANameLongerThanTwentyBytesIsComparedOnItsFirstTwenty) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "ABCDEFGHIJKLMNOPQRST", {{0, 900}, {50, 900}});
    set_view();
    EXPECT_EQ(dllselroad("ABCDEFGHIJKLMNOPQRSTUVWXYZ"), 0);
    EXPECT_EQ(dllselroad("ABCDEFGHIJKLMNOPQRSXUVWXYZ"), -1);
}

TEST_F(HighlightTest, LinesAndAreasOfTypesTenToTwentyAreNeverHighlighted) {
    SlotBuilder a(0, kTile, true);
    for (int type = 10; type <= 20; ++type) {
        const int r = a.road(type, 105, "MAIN ST", {{0, 900}, {50, 900}});
        EXPECT_EQ(a.record(r).type, type);
    }
    set_view();
    EXPECT_EQ(dllselroad("MAIN"), -1);
    EXPECT_TRUE(drawn_.empty());
}

TEST_F(HighlightTest, RecordsAfterTheFirstPointFeatureAreNotExamined) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "MAIN ST", {{0, 900}, {50, 900}});
    a.point(21, 10, 10, "MAIN ST");
    a.road(3, 105, "MAIN ST", {{0, 800}, {50, 800}});
    SlotBuilder b(1, kTile + 1, true);
    b.road(3, 105, "MAIN ST", {{0, 700}, {50, 700}});
    set_view();
    EXPECT_EQ(dllselroad("MAIN"), 1);  // the first road of slot 0 and the one of slot 1
    ASSERT_EQ(drawn_.size(), 2u);
    EXPECT_EQ(drawn_[0].points[0].y, 100);
    EXPECT_EQ(drawn_[1].points[0].y, 300);
}

TEST_F(HighlightTest, TilesThatTheLastViewDidNotPinAreNotDrawn) {
    SlotBuilder a(0, kTile, false);
    a.road(3, 105, "MAIN ST", {{0, 900}, {50, 900}});
    set_view();
    EXPECT_EQ(dllselroad("MAIN"), -1);
    EXPECT_TRUE(drawn_.empty());
}

TEST_F(HighlightTest, AnEmptyOrNullNameGivesMinusTwoAndMakesNoPen) {
    set_view();
    const int live = KgdiLiveObjectCount();
    EXPECT_EQ(dllselroad(""), -2);
    EXPECT_EQ(dllselroad(nullptr), -2);
    EXPECT_EQ(KgdiLiveObjectCount(), live);
}

TEST_F(HighlightTest, WithoutAViewNothingIsDrawnAndTheResultIsMinusOne) {
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "MAIN ST", {{0, 900}, {50, 900}});
    const int live = KgdiLiveObjectCount();
    EXPECT_EQ(dllselroad("MAIN"), -1);
    EXPECT_EQ(KgdiLiveObjectCount(), live);
    EXPECT_EQ(render::pen_table()[10], nullptr);
}

TEST_F(HighlightTest, ARoadLongerThanThePointBufferIsDrawnInPiecesWithoutAGap) {
    const int n = render::POINT_BUFFER_SIZE + 500;
    Points pts;
    for (int i = 0; i < n; ++i) pts.emplace_back(i % 100, i / 100);
    SlotBuilder a(0, kTile, true);
    a.road(3, 105, "LONG RD", pts);
    set_view();
    EXPECT_EQ(dllselroad("LONG"), 0);
    ASSERT_EQ(drawn_.size(), 2u);
    std::vector<POINT> all = drawn_[0].points;
    ASSERT_EQ(all.back().x, drawn_[1].points.front().x);  // the second piece starts where the
    ASSERT_EQ(all.back().y, drawn_[1].points.front().y);  // first one ended
    all.insert(all.end(), drawn_[1].points.begin() + 1, drawn_[1].points.end());
    ASSERT_EQ(all.size(), static_cast<std::size_t>(n));
    for (int i = 0; i < n; ++i) {
        EXPECT_EQ(all[i].x, i % 100 + 100);
        EXPECT_EQ(all[i].y, 1000 - i / 100);
    }
}

}  // namespace
