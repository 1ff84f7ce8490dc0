// server_only_test.cpp: how views of the server-only build differ from the full build: the
// background colour and brush, black transparent text during the draw and blue text after it,
// no base map, and road names only at 5 metres per pixel or less. Linked against the
// server-only engine internals.
#include <gtest/gtest.h>

#include <vector>

#include "build_config.h"
#include "emf_fixture.h"
#include "kestrel.h"
#include "render_fixture.h"

namespace render_test {
namespace {

static_assert(kestrel::kServerOnly, "this test runs against the server-only build");

constexpr COLORREF kLightGreen = RGB(200, 255, 200);

class ServerView : public RenderTest {
  protected:
    void SetUp() override {
        RenderTest::SetUp();
        SetTextColor(canvas_.dc(), RGB(255, 0, 0));
        SetBkMode(canvas_.dc(), OPAQUE);
    }
    int draw(double scale, const char* layers) {
        return sdlldraw(canvas_.dc(), kLeft, kTop, 400, 300, scale, layers);
    }
    // A named road through pixels (0,100) .. (300,100) at this scale.
    void road_at(double scale) {
        std::vector<WorldPt> road;
        for (int x : {0, 100, 200, 300}) road.push_back(world_at(kLeft, kTop, scale, x, 100));
        SlotFill(0, kTile).line(5, road, "abc");
    }
    Canvas canvas_{400, 300};
};

TEST_F(ServerView, BackgroundAndItsMarginArePaintedLightGreen) {
    ASSERT_EQ(draw(60, "1000"), 0);
    ASSERT_FALSE(canvas_.prims().empty());
    const Prim& bg = canvas_.prims()[0];
    EXPECT_EQ(bg.kind, KGDI_REC_POLYGON);
    EXPECT_TRUE(bg.pen_null);
    EXPECT_EQ(bg.brush_color, kLightGreen);
    EXPECT_EQ(bg.points[0].x, -20);
    EXPECT_EQ(bg.points[2].x, 420);
    EXPECT_EQ(bg.points[2].y, 320);
    EXPECT_EQ(GetPixel(canvas_.dc(), 0, 0), kLightGreen);
    EXPECT_EQ(GetPixel(canvas_.dc(), 399, 299), kLightGreen);
}

TEST_F(ServerView, NoBaseMapIsPlayedAtAnyScale) {
    const std::vector<uint8_t> emf = empty_metafile();
    data::dataset().base_map = KgdiLoadEnhMetaFile(emf.data(), emf.size());
    ASSERT_NE(data::dataset().base_map, nullptr);
    for (double scale : {60.0, 500.0}) ASSERT_EQ(draw(scale, "1000"), 0);
    EXPECT_TRUE(canvas_.of_kind(KGDI_REC_METAFILE).empty());
}

TEST_F(ServerView, LabelsAreBlackWithoutBackgroundAndTextIsBlueAfterTheDraw) {
    SlotFill(0, kTile).place(21, world_at(kLeft, kTop, 7, 100, 100), "Town");
    ASSERT_EQ(draw(7, "0001"), 0);
    const std::vector<Prim> texts = canvas_.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text_color, RGB(0, 0, 0));
    EXPECT_EQ(texts[0].bk_mode, TRANSPARENT);
    EXPECT_EQ(GetTextColor(canvas_.dc()), RGB(0, 0, 255));
    EXPECT_EQ(GetBkMode(canvas_.dc()), TRANSPARENT);
}

TEST_F(ServerView, TextIsBlueAfterASmallScaleDrawToo) {
    ASSERT_EQ(draw(100, "0000"), 0);
    EXPECT_EQ(GetTextColor(canvas_.dc()), RGB(0, 0, 255));
    EXPECT_EQ(GetBkMode(canvas_.dc()), TRANSPARENT);
}

TEST_F(ServerView, RefusedScaleLeavesTheTextSettingsAlone) {
    EXPECT_EQ(draw(0.5, "1111"), -1);
    EXPECT_EQ(GetTextColor(canvas_.dc()), RGB(255, 0, 0));
    EXPECT_EQ(GetBkMode(canvas_.dc()), OPAQUE);
}

TEST_F(ServerView, RoadNamesAppearAtFiveMetresPerPixelButNotAtSeven) {
    road_at(5);
    ASSERT_EQ(draw(5, "0001"), 0);
    EXPECT_EQ(canvas_.texts().size(), 3u);
    canvas_.clear();
    road_at(7);
    ASSERT_EQ(draw(7, "0001"), 0);
    EXPECT_TRUE(canvas_.texts().empty());
}

TEST_F(ServerView, RestoresPenAndBrushAndLeaksNothing) {
    HPEN pen = CreatePen(PS_SOLID, 3, RGB(1, 1, 1));
    HBRUSH brush = CreateSolidBrush(RGB(2, 2, 2));
    HGDIOBJ old_pen = SelectObject(canvas_.dc(), pen);
    HGDIOBJ old_brush = SelectObject(canvas_.dc(), brush);
    road_at(5);
    const int live = KgdiLiveObjectCount();
    for (double scale : {5.0, 20.0, 60.0}) {
        for (const char* layers : {"0000", "1021"}) {
            ASSERT_EQ(draw(scale, layers), 0);
            EXPECT_EQ(KgdiLiveObjectCount(), live);
            EXPECT_EQ(SelectObject(canvas_.dc(), pen), pen);
            EXPECT_EQ(SelectObject(canvas_.dc(), brush), brush);
        }
    }
    SelectObject(canvas_.dc(), old_pen);
    SelectObject(canvas_.dc(), old_brush);
    DeleteObject(pen);
    DeleteObject(brush);
}

}  // namespace
}  // namespace render_test
