// draw_test.cpp: drawing a view (dlldraw) in the full engine build: scale refusal and modes,
// the tile list and its order, the order in which the tiles are drawn, squares of missing tiles,
// pens and their widths, layer strings, place labels and their scale rules, road names, the
// catalogue, the colour table, and the bounds on label boxes and long features. Features are put
// into cache slots directly; what was drawn is observed through the drawing layer's recorder and
// the pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <string>
#include <vector>

#include "emf_fixture.h"
#include "kestrel.h"
#include "render_fixture.h"

namespace render_test {
namespace {

constexpr COLORREF kCyan = RGB(0, 255, 255);

// The pixel at which a world point appears (truncation toward zero, as the view maps).
POINT pixel_of(int64_t x, int64_t y, int32_t left, int32_t top, double scale) {
    return POINT{static_cast<LONG>(std::trunc((x - left) / scale)),
                 static_cast<LONG>(std::trunc((top - y) / scale))};
}

class DrawView : public RenderTest {
  protected:
    Canvas canvas_{400, 300};
    int draw(double scale, const char* layers = "0000", int32_t left = kLeft, int32_t top = kTop) {
        return dlldraw(canvas_.dc(), left, top, 400, 300, scale, layers);
    }
    // A horizontal line of the given type across the view at pixel row `row` for `scale`.
    std::vector<WorldPt> across(double scale, int row) {
        return {world_at(kLeft, kTop, scale, 10, row), world_at(kLeft, kTop, scale, 390, row)};
    }
};

// ---- scale and modes ---------------------------------------------------------------------------

TEST_F(DrawView, ScaleBelowOneIsRefusedAndLeavesThePreviousView) {
    ASSERT_EQ(draw(10), 0);
    canvas_.clear();
    EXPECT_EQ(dlldraw(canvas_.dc(), 1, 2, 3, 4, 0.5, "1111"), -1);
    EXPECT_EQ(render::view_state().scale, 10.0);
    EXPECT_EQ(render::view_state().left, kLeft);
    EXPECT_TRUE(canvas_.prims().empty());
}

TEST_F(DrawView, NullDeviceContextOrLayerStringIsRefused) {
    EXPECT_EQ(dlldraw(nullptr, kLeft, kTop, 400, 300, 10, "0000"), -1);
    EXPECT_EQ(dlldraw(canvas_.dc(), kLeft, kTop, 400, 300, 10, nullptr), -1);
    EXPECT_EQ(render::view_state().dc, nullptr);
    EXPECT_EQ(sdlldraw(nullptr, kLeft, kTop, 400, 300, 10, "0000"), -1);
}

TEST_F(DrawView, StoresTheViewStateOfAnAcceptedCall) {
    ASSERT_EQ(sdlldraw(canvas_.dc(), kLeft, kTop, 400, 300, 12.5, "0000"), 0);
    const render::ViewState& v = render::view_state();
    EXPECT_EQ(v.dc, canvas_.dc());
    EXPECT_EQ(v.left, kLeft);
    EXPECT_EQ(v.top, kTop);
    EXPECT_EQ(v.width, 400);
    EXPECT_EQ(v.height, 300);
    EXPECT_EQ(v.scale, 12.5);
}

TEST_F(DrawView, ScaleOf51DrawsTilesAndClearsStaleInViewFlags) {
    SlotFill(5, 999).slot().header.in_view = 1;
    ASSERT_EQ(draw(51), 0);
    EXPECT_EQ(data::slot(5).header.in_view, 0);
    // Columns 25..27 and rows 274..275 are missing: six squares.
    EXPECT_EQ(canvas_.polygons().size(), 6u);
}

TEST_F(DrawView, ScaleOf51AndAHalfDrawsTheCatalogueAndLeavesTheCacheAlone) {
    SlotFill(5, 999).slot().header.in_view = 1;
    data::DataSet& ds = data::dataset();
    ds.points[0] = {kLeft + 5150, kTop - 5150};
    ds.points[1] = {kLeft + 10300, kTop - 5150};
    ds.points[2] = {kLeft + 2060, kTop - 2060};
    ds.point_last = 2;
    ds.places[0] = data::PlaceEntry{0, 2, data::PLACE_POLYLINE, ""};
    ds.places[1] = data::PlaceEntry{2, 0, data::PLACE_CITY, "Town"};
    ds.place_last = 1;
    ASSERT_EQ(draw(51.5), 0);
    EXPECT_EQ(data::slot(5).header.in_view, 1);
    EXPECT_TRUE(canvas_.polygons().empty());
    const std::vector<Prim> lines = canvas_.polylines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].pen_color, RGB(255, 255, 0));
    EXPECT_EQ(lines[0].pen_width, 4);
    EXPECT_EQ(lines[0].points[0].x, 100);
    EXPECT_EQ(lines[0].points[1].x, 200);
    const std::vector<Prim> texts = canvas_.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text, "Town");
    EXPECT_EQ(texts[0].x, 40 - 10);
    EXPECT_EQ(texts[0].y, 40 - 5);
}

TEST_F(DrawView, BaseMapIsPlayedIntoItsWorldFrameAboveFiftyOneMetresPerPixel) {
    const std::vector<uint8_t> emf = empty_metafile();
    data::dataset().base_map = KgdiLoadEnhMetaFile(emf.data(), emf.size());
    ASSERT_NE(data::dataset().base_map, nullptr);
    ASSERT_EQ(draw(60), 0);
    const std::vector<Prim> plays = canvas_.of_kind(KGDI_REC_METAFILE);
    ASSERT_EQ(plays.size(), 1u);
    // left = (140000 - 251000) / 60, top = (2758000 - 2800000) / 60, then the frame's extent.
    EXPECT_EQ(plays[0].rect.left, -1850);
    EXPECT_EQ(plays[0].rect.top, -700);
    EXPECT_EQ(plays[0].rect.right, -1850 + 3666);
    EXPECT_EQ(plays[0].rect.bottom, -700 + 6333);
    canvas_.clear();
    ASSERT_EQ(draw(51), 0);
    EXPECT_TRUE(canvas_.of_kind(KGDI_REC_METAFILE).empty());
}

TEST_F(DrawView, CataloguePointsAndMinorPointsFollowTheirScaleRules) {
    data::DataSet& ds = data::dataset();
    ds.points[0] = {kLeft + 15000, kTop - 15000};
    ds.point_last = 0;
    ds.places[0] = data::PlaceEntry{0, 0, data::PLACE_POINT, "Point"};
    ds.places[1] = data::PlaceEntry{0, 0, data::PLACE_MINOR, "Minor"};
    ds.place_last = 1;
    draw(150);
    ASSERT_EQ(canvas_.texts().size(), 1u);
    EXPECT_EQ(canvas_.texts()[0].text, "Point");
    canvas_.clear();
    draw(100);
    EXPECT_EQ(canvas_.texts().size(), 2u);
    canvas_.clear();
    draw(201);
    EXPECT_TRUE(canvas_.texts().empty());
}

TEST_F(DrawView, CatalogueEntriesOutsideThePointTableAreSkipped) {
    data::DataSet& ds = data::dataset();
    ds.point_last = 1;
    ds.places[0] = data::PlaceEntry{1, 500, data::PLACE_POLYLINE, ""};
    ds.places[1] = data::PlaceEntry{-5, 0, data::PLACE_CITY, "Bad"};
    ds.place_last = 1;
    EXPECT_EQ(draw(100), 0);
    EXPECT_TRUE(canvas_.texts().empty());
}

// ---- the tile list ---------------------------------------------------------------------------

TEST_F(DrawView, ViewOverSixRowsAndEightColumnsListsFortyTilesSouthRowsFirstEastToWest) {
    // Columns 20..27 and rows 270..275 at 50 metres per pixel; every tile is missing, so each
    // listed tile paints its square, in list order.
    const int32_t left = 200001;
    const int32_t top = 2759999;
    const int width = 1500;
    const int height = 1199;
    Canvas big(width, height);
    ASSERT_EQ(dlldraw(big.dc(), left, top, width, height, 50, "0000"), 0);
    std::vector<POINT> expected;
    for (int row = 270; row <= 274; ++row)
        for (int column = 27; column >= 20; --column)
            expected.push_back(
                pixel_of(int64_t{column} * 10000, int64_t{row} * 10000, left, top, 50));
    const std::vector<Prim> squares = big.polygons();
    ASSERT_EQ(squares.size(), 40u);
    for (size_t i = 0; i < squares.size(); ++i) {
        EXPECT_EQ(squares[i].points[0].x, expected[i].x) << "tile " << i;
        EXPECT_EQ(squares[i].points[0].y, expected[i].y) << "tile " << i;
    }
}

// The tiles of a view are drawn in the order of the slots that hold them (the exports), or in
// the order the view lists them whichever slots hold them (render::DrawingOrder::kTileList).
class TileOrder : public RenderTest, public ::testing::WithParamInterface<render::DrawingOrder> {};

TEST_P(TileOrder, TilesAreDrawnByTheirSlotsOrAsTheViewListsThem) {
    // Columns 25 to 27 and rows 275 and 276 at 20 metres per pixel, held in scrambled slots, a
    // line across the middle of each tile.
    const int32_t left = 250001, top = 2769999;
    std::vector<int32_t> listed;
    for (int row = 275; row <= 276; ++row)
        for (int column = 27; column >= 25; --column)
            listed.push_back(data::tile_number(row, column));
    const int slot_of[6] = {4, 0, 5, 2, 1, 3};
    const auto middle = [](int32_t tile, int at) {
        return WorldPt{data::tile_west(tile) + at, data::tile_south(tile) + 5000};
    };
    for (size_t i = 0; i < listed.size(); ++i)
        SlotFill(slot_of[i], listed[i])
            .line(10, {middle(listed[i], 1000), middle(listed[i], 9000)});
    Canvas canvas(1400, 900);
    ASSERT_EQ(render::draw_view(canvas.dc(), left, top, 1400, 900, 20, "0000",
                                render::ViewOptions{1, GetParam()}),
              0);
    std::vector<int32_t> expected(listed.size());
    for (size_t i = 0; i < listed.size(); ++i)
        expected[GetParam() == render::DrawingOrder::kCacheSlots ? slot_of[i] : i] = listed[i];
    const std::vector<Prim> lines = canvas.polylines();
    ASSERT_EQ(lines.size(), expected.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const WorldPt start = middle(expected[i], 1000);
        const POINT want = pixel_of(start.x, start.y, left, top, 20);
        EXPECT_EQ(lines[i].points[0].x, want.x) << "line " << i;
        EXPECT_EQ(lines[i].points[0].y, want.y) << "line " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Orders, TileOrder,
                         ::testing::Values(render::DrawingOrder::kCacheSlots,
                                           render::DrawingOrder::kTileList),
                         [](const auto& info) {
                             return info.param == render::DrawingOrder::kCacheSlots
                                        ? std::string("cache_slots")
                                        : std::string("tile_list");
                         });

TEST_F(DrawView, MissingTileIsACyanSquareOutlinedWithPen12) {
    ASSERT_EQ(draw(10), 0);
    const std::vector<Prim> squares = canvas_.polygons();
    ASSERT_EQ(squares.size(), 1u);
    EXPECT_EQ(squares[0].brush_color, kCyan);
    EXPECT_EQ(squares[0].pen_color, kCyan);
    EXPECT_EQ(squares[0].pen_width, 1);
    ASSERT_EQ(squares[0].points.size(), 5u);
    EXPECT_EQ(squares[0].points[0].x, (250000 - kLeft) / 10);
    EXPECT_EQ(squares[0].points[0].y, (kTop - 2750000) / 10);
    EXPECT_EQ(GetPixel(canvas_.dc(), 200, 150), kCyan);
}

TEST_F(DrawView, TileFileThatTheStoreRefusesIsPaintedAsMissing) {
    std::ofstream(dir_ + std::to_string(kTile) + ".dat") << "not a tile";
    ASSERT_EQ(draw(10), 0);
    EXPECT_EQ(canvas_.polygons().size(), 1u);
    EXPECT_EQ(GetPixel(canvas_.dc(), 200, 150), kCyan);
}

TEST_F(DrawView, CachedTileIsPinnedAndDrawnWithoutASquare) {
    SlotFill(7, kTile).line(10, across(10, 100));
    ASSERT_EQ(draw(10, "1000"), 0);
    EXPECT_EQ(data::slot(7).header.in_view, 1);
    EXPECT_EQ(canvas_.polygons().size(), 1u);  // the background only
    EXPECT_EQ(canvas_.polylines().size(), 1u);
    EXPECT_EQ(GetPixel(canvas_.dc(), 200, 100), RGB(0, 0, 0));
    EXPECT_EQ(GetPixel(canvas_.dc(), 200, 200), kCyan);
}

// ---- pens --------------------------------------------------------------------------------

TEST_F(DrawView, PenWidthsInMetresFollowTheScale) {
    SlotFill(0, kTile).line(4, across(10, 50)).line(9, across(10, 60)).line(1, across(10, 70));
    ASSERT_EQ(draw(10), 0);
    std::vector<Prim> lines = canvas_.polylines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].pen_width, 4);  // 40 m at 10 m per pixel
    EXPECT_EQ(lines[1].pen_width, 0);  // 5 m: a one-pixel pen
    EXPECT_EQ(lines[2].pen_width, 2);  // 23 m
    EXPECT_EQ(lines[0].pen_color, RGB(190, 0, 0));

    canvas_.clear();
    SlotFill(0, kTile).line(1, across(50, 50)).line(10, across(50, 60));
    ASSERT_EQ(draw(50), 0);
    lines = canvas_.polylines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].pen_width, 2);  // 23 / 50 = 0, widened to 2
    EXPECT_EQ(lines[1].pen_width, 2);  // pixels, whatever the scale
}

TEST_F(DrawView, WideLineJustOutsideTheViewStillShowsItsEdge) {
    // A type 4 road (40 m) at 1 m per pixel runs 15 pixels above the view: its pen reaches 20
    // pixels to each side, so the top rows of the view take its colour.
    SlotFill(0, kTile).line(4, {WorldPt{kLeft + 10, kTop + 15}, WorldPt{kLeft + 390, kTop + 15}});
    ASSERT_EQ(draw(1, "1000"), 0);
    EXPECT_EQ(GetPixel(canvas_.dc(), 200, 2), RGB(190, 0, 0));
    EXPECT_EQ(GetPixel(canvas_.dc(), 200, 10), RGB(0, 255, 255));
}

TEST_F(DrawView, LineTypesWithoutAPenKeepThePenOfTheRecordBefore) {
    SlotFill(0, kTile).line(5, across(10, 50)).line(17, across(10, 60));
    ASSERT_EQ(draw(10), 0);
    const std::vector<Prim> lines = canvas_.polylines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].pen_color, RGB(255, 0, 0));
    EXPECT_EQ(lines[1].pen_width, lines[0].pen_width);
}

TEST_F(DrawView, AreasAreFilledWithEntry11) {
    SlotFill(0, kTile).line(
        11, {world_at(kLeft, kTop, 10, 100, 100), world_at(kLeft, kTop, 10, 200, 100),
             world_at(kLeft, kTop, 10, 200, 200), world_at(kLeft, kTop, 10, 100, 200)});
    dllsetcolor(11, 10, 20, 30, 0);
    ASSERT_EQ(draw(10), 0);
    const std::vector<Prim> areas = canvas_.polygons();
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0].brush_color, RGB(10, 20, 30));
    EXPECT_EQ(GetPixel(canvas_.dc(), 150, 150), RGB(10, 20, 30));
}

TEST_F(DrawView, SetColourWithWidthMinusOneChangesOnlyTheColour) {
    EXPECT_EQ(dllsetcolor(10, 1, 2, 3, -1), 0);
    SlotFill(0, kTile).line(10, across(10, 100));
    ASSERT_EQ(draw(10), 0);
    ASSERT_EQ(canvas_.polylines().size(), 1u);
    EXPECT_EQ(canvas_.polylines()[0].pen_color, RGB(1, 2, 3));
    EXPECT_EQ(canvas_.polylines()[0].pen_width, 2);

    EXPECT_EQ(dllsetcolor(10, 1, 2, 3, 7), 0);
    canvas_.clear();
    ASSERT_EQ(draw(10), 0);
    EXPECT_EQ(canvas_.polylines()[0].pen_width, 7);
}

TEST_F(DrawView, SetColourRefusesIndexesOutsideTheTable) {
    EXPECT_EQ(dllsetcolor(-1, 0, 0, 0, 0), -1);
    EXPECT_EQ(dllsetcolor(50, 0, 0, 0, 0), -1);
    EXPECT_EQ(dllsetcolor(49, 9, 9, 9, 9), 0);
    EXPECT_EQ(render::colour_table()[49].width, 9);
}

// ---- layer strings ---------------------------------------------------------------------------

class LayerString : public DrawView {
  protected:
    void SetUp() override {
        DrawView::SetUp();
        SlotFill(0, kTile)
            .line(13, across(20, 50))
            .line(14, across(20, 60))
            .place(21, world_at(kLeft, kTop, 20, 100, 100), "Place");
    }
    int lines_of_width(int width) {
        int n = 0;
        for (const Prim& p : canvas_.polylines()) n += p.pen_width == width;
        return n;
    }
};

TEST_F(LayerString, Character2Of0HidesTypes13And14ButCharacter3DrawsPlaceLabels) {
    ASSERT_EQ(draw(20, "0001"), 0);
    EXPECT_TRUE(canvas_.polylines().empty());
    ASSERT_EQ(canvas_.texts().size(), 1u);
}

TEST_F(LayerString, Character2Of1DrawsType13Only) {
    ASSERT_EQ(draw(20, "0010"), 0);
    EXPECT_EQ(lines_of_width(4), 1);
    EXPECT_EQ(lines_of_width(2), 0);
    EXPECT_TRUE(canvas_.texts().empty());
}

TEST_F(LayerString, Character2Above1DrawsTypes13And14) {
    ASSERT_EQ(draw(20, "0020"), 0);
    EXPECT_EQ(lines_of_width(4), 1);
    EXPECT_EQ(lines_of_width(2), 1);
}

TEST_F(LayerString, Character0Of1PaintsTheBackgroundFirst) {
    ASSERT_EQ(draw(20, "1000"), 0);
    ASSERT_FALSE(canvas_.prims().empty());
    const Prim& bg = canvas_.prims()[0];
    EXPECT_EQ(bg.kind, KGDI_REC_POLYGON);
    EXPECT_TRUE(bg.pen_null);
    EXPECT_EQ(bg.brush_color, RGB(0, 255, 255));
    const std::vector<POINT> corners = {{-20, -20}, {420, -20}, {420, 320}, {-20, 320}, {-20, -20}};
    ASSERT_EQ(bg.points.size(), corners.size());
    for (size_t i = 0; i < corners.size(); ++i) {
        EXPECT_EQ(bg.points[i].x, corners[i].x);
        EXPECT_EQ(bg.points[i].y, corners[i].y);
    }
    EXPECT_EQ(GetPixel(canvas_.dc(), 0, 0), RGB(0, 255, 255));
}

TEST_F(LayerString, ShortStringReadsItsMissingCharactersAsZero) {
    ASSERT_EQ(draw(20, "1"), 0);
    EXPECT_EQ(canvas_.prims()[0].kind, KGDI_REC_POLYGON);
    EXPECT_TRUE(canvas_.polylines().empty());
    EXPECT_TRUE(canvas_.texts().empty());
    canvas_.clear();
    ASSERT_EQ(draw(20, ""), 0);
    EXPECT_TRUE(canvas_.prims().empty());
}

// ---- place labels and road names ---------------------------------------------------------------

TEST_F(DrawView, PlaceLabelIsWrittenBesideItsAnchorWithItsBox) {
    SlotFill(0, kTile).place(21, world_at(kLeft, kTop, 20, 100, 50), "Hill");
    ASSERT_EQ(draw(20, "0001"), 0);
    const std::vector<Prim> texts = canvas_.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].x, 102);
    EXPECT_EQ(texts[0].y, 52);
    EXPECT_EQ(texts[0].text, padded("Hill"));
    ASSERT_EQ(render::label_boxes().last, 0);
    const render::LabelBox& b = render::label_boxes().boxes[0];
    EXPECT_EQ(b.left, 95);
    EXPECT_EQ(b.top, 45);
    EXPECT_EQ(b.right, 213);
    EXPECT_EQ(b.bottom, 65);
}

TEST_F(DrawView, PlaceLabelsFollowTheirScaleRules) {
    auto labels_at = [&](int type, double scale) {
        SlotFill(0, kTile).place(type, world_at(kLeft, kTop, scale, 100, 100), "Name");
        canvas_.clear();
        draw(scale, "0001");
        return canvas_.texts().size();
    };
    EXPECT_EQ(labels_at(22, 30), 0u);
    EXPECT_EQ(labels_at(22, 20), 1u);
    EXPECT_EQ(labels_at(23, 15.1), 1u);
    EXPECT_EQ(labels_at(23, 16), 0u);
    EXPECT_EQ(labels_at(24, 8.1), 1u);
    EXPECT_EQ(labels_at(24, 9), 0u);
    EXPECT_EQ(labels_at(21, 50), 1u);
    EXPECT_EQ(labels_at(21, 5), 0u);
    EXPECT_EQ(labels_at(21, 4), 0u);
    EXPECT_EQ(labels_at(25, 10), 0u);
}

TEST_F(DrawView, PlaceLabelOnTheViewEdgeIsNotDrawn) {
    SlotFill(0, kTile).place(21, WorldPt{kLeft, kTop - 1000}, "Edge");
    ASSERT_EQ(draw(20, "0001"), 0);
    EXPECT_TRUE(canvas_.texts().empty());
}

TEST_F(DrawView, RoadNamesAreDrawnAtTenMetresPerPixelButNotAbove) {
    auto names_at = [&](double scale, const char* layers) {
        const std::vector<POINT> px = {{0, 100}, {100, 100}, {200, 100}, {300, 100}};
        std::vector<WorldPt> road;
        for (const POINT& p : px) road.push_back(world_at(kLeft, kTop, scale, p.x, p.y));
        SlotFill(0, kTile).line(5, road, "abc");
        canvas_.clear();
        draw(scale, layers);
        return canvas_.texts().size();
    };
    EXPECT_EQ(names_at(10, "0001"), 3u);
    EXPECT_EQ(names_at(10.5, "0001"), 0u);
    EXPECT_EQ(names_at(10, "0000"), 0u);
    EXPECT_EQ(names_at(2, "0001"), 3u);
}

TEST_F(DrawView, PlaceLabelsKeepRoadNamesAway) {
    // At 8 m per pixel a type 21 label at pixel (10, 60) has the box (5, 55)..(123, 75). The
    // road runs down the view at x = 20 with positions every 16 pixels from y = 30; the cells
    // of the positions at y = 46, 62 and 78 meet the box, so the name of three characters
    // slides to the first free window, y = 94, 110, 126, and reads top to bottom.
    std::vector<WorldPt> road;
    for (int y : {0, 40, 290}) road.push_back(world_at(kLeft, kTop, 8, 20, y));
    SlotFill(0, kTile).place(21, world_at(kLeft, kTop, 8, 10, 60), "Town").line(5, road, "abc");
    ASSERT_EQ(draw(8, "0001"), 0);
    const std::vector<Prim> texts = canvas_.texts();
    ASSERT_EQ(texts.size(), 4u);
    EXPECT_EQ(texts[1].text, "a");
    EXPECT_EQ(texts[1].x, 15);
    EXPECT_EQ(texts[1].y, 89);
    EXPECT_EQ(texts[3].y, 121);
}

// ---- bounds --------------------------------------------------------------------------------

TEST_F(DrawView, MoreThan3000PlaceLabelsDrawOnlyWhatTheBoxListHolds) {
    SlotFill fill(0, kTile);
    for (int i = 0; i < 3001; ++i)
        fill.place(21, world_at(kLeft, kTop, 10, 1 + i % 398, 1 + i % 298), "P");
    ASSERT_EQ(draw(10, "0001"), 0);
    EXPECT_EQ(canvas_.texts().size(), 3000u);
    EXPECT_EQ(render::label_boxes().last, 2999);
}

TEST_F(DrawView, FeatureLongerThanThePointBufferIsDrawnInPiecesWithoutAGap) {
    std::vector<WorldPt> pts;
    for (int i = 0; i < 12000; ++i) pts.push_back(world_at(kLeft, kTop, 1, i % 400, 100 + i / 400));
    SlotFill(0, kTile).line(10, pts);
    ASSERT_EQ(draw(1), 0);
    const std::vector<Prim> lines = canvas_.polylines();
    ASSERT_EQ(lines.size(), 2u);
    ASSERT_EQ(lines[0].points.size(), 10000u);
    ASSERT_EQ(lines[1].points.size(), 2001u);
    EXPECT_EQ(lines[1].points[0].x, lines[0].points[9999].x);
    EXPECT_EQ(lines[1].points[0].y, lines[0].points[9999].y);
    EXPECT_EQ(lines[1].points[2000].x, 11999 % 400);
}

TEST_F(DrawView, AreaLongerThanThePointBufferIsThinnedToTheBuffer) {
    std::vector<WorldPt> pts;
    for (int i = 0; i < 12000; ++i)
        pts.push_back(world_at(kLeft, kTop, 1, 50 + i % 300, 50 + i / 100));
    SlotFill(0, kTile).line(11, pts);
    ASSERT_EQ(draw(1), 0);
    const std::vector<Prim> areas = canvas_.polygons();
    ASSERT_EQ(areas.size(), 1u);
    EXPECT_EQ(areas[0].points.size(), 10000u);
}

TEST_F(DrawView, RecordsWhoseVerticesLieOutsideTheSlotAreSkipped) {
    SlotFill fill(0, kTile);
    fill.line(10, across(10, 100));
    fill.last_record().first_vertex = data::MAX_VERTICES - 1;
    fill.place(21, world_at(kLeft, kTop, 10, 10, 10), "X");
    fill.last_record().name_index = -3;
    ASSERT_EQ(draw(10, "0001"), 0);
    EXPECT_TRUE(canvas_.polylines().empty());
    EXPECT_TRUE(canvas_.texts().empty());
}

// ---- the device context ----------------------------------------------------------------------

TEST_F(DrawView, LeavesTheContextsPenBrushAndTextSettingsAsTheyWereAndLeaksNothing) {
    HPEN pen = CreatePen(PS_SOLID, 3, RGB(1, 1, 1));
    HBRUSH brush = CreateSolidBrush(RGB(2, 2, 2));
    HGDIOBJ old_pen = SelectObject(canvas_.dc(), pen);
    HGDIOBJ old_brush = SelectObject(canvas_.dc(), brush);
    SetTextColor(canvas_.dc(), RGB(9, 8, 7));
    SetBkMode(canvas_.dc(), OPAQUE);
    SlotFill(0, kTile)
        .line(11, across(5, 10))
        .line(5,
              {world_at(kLeft, kTop, 5, 0, 100), world_at(kLeft, kTop, 5, 100, 100),
               world_at(kLeft, kTop, 5, 300, 100)},
              "Road");
    const int live = KgdiLiveObjectCount();
    for (double scale : {5.0, 20.0, 60.0}) {
        ASSERT_EQ(draw(scale, "1021"), 0);
        EXPECT_EQ(KgdiLiveObjectCount(), live);
        EXPECT_EQ(SelectObject(canvas_.dc(), pen), pen);
        EXPECT_EQ(SelectObject(canvas_.dc(), brush), brush);
        EXPECT_EQ(GetTextColor(canvas_.dc()), RGB(9, 8, 7));
        EXPECT_EQ(GetBkMode(canvas_.dc()), OPAQUE);
    }
    ASSERT_FALSE(canvas_.texts().empty());
    for (const Prim& t : canvas_.texts()) EXPECT_EQ(t.text_color, RGB(9, 8, 7));
    SelectObject(canvas_.dc(), old_pen);
    SelectObject(canvas_.dc(), old_brush);
    DeleteObject(pen);
    DeleteObject(brush);
}

TEST_F(DrawView, RoadLabellerExportDrawsIntoTheLastView) {
    std::vector<WorldPt> road;
    for (int x : {0, 100, 200, 300}) road.push_back(world_at(kLeft, kTop, 20, x, 100));
    SlotFill(0, kTile).line(5, road, "abc");
    ASSERT_EQ(draw(20, "0001"), 0);
    EXPECT_TRUE(canvas_.texts().empty());
    EXPECT_EQ(dlldrawrdtxt(), 0);
    EXPECT_EQ(canvas_.texts().size(), 3u);
}

TEST(BoxesOverlap, BoxesThatOnlyTouchOverlap) {
    EXPECT_EQ(kestrel::render::boxes_overlap(0, 0, 10, 10, 10, 10, 20, 20), 1);
    EXPECT_EQ(kestrel::render::boxes_overlap(0, 0, 10, 10, 11, 0, 20, 10), -1);
    EXPECT_EQ(kestrel::render::boxes_overlap(0, 0, 10, 10, 0, 11, 10, 20), -1);
    EXPECT_EQ(kestrel::render::boxes_overlap(5, 5, 6, 6, 0, 0, 10, 10), 1);
}

}  // namespace
}  // namespace render_test

namespace render_test {
namespace {

// The collision test over the label list must give the answer of testing every box in turn,
// whatever the boxes' sizes and places (inside or far outside the view, inverted, huge), the
// first index, and however the list was emptied.
class LabelCollisions : public RenderTest {
  protected:
    static bool brute_force(const render::LabelBox& q, int first) {
        const render::LabelBoxList& list = render::label_boxes();
        for (int i = std::max(first, 0); i <= list.last; ++i) {
            const render::LabelBox& b = list.boxes[i];
            if (render::boxes_overlap(q.left, q.top, q.right, q.bottom, b.left, b.top, b.right,
                                      b.bottom) == 1)
                return true;
        }
        return false;
    }
    // A small linear congruential generator, so that the cases are the same on every run.
    int next(int lo, int hi) {
        seed_ = seed_ * 1103515245u + 12345u;
        return lo + static_cast<int>((seed_ >> 8) % static_cast<uint32_t>(hi - lo + 1));
    }
    render::LabelBox random_box() {
        const int kind = next(0, 9);
        const int x = next(-3000, 5000), y = next(-3000, 5000);
        int w = next(0, 40), h = next(0, 40);
        if (kind == 0) w = next(200, 9000);  // spans many cells
        if (kind == 1) w = -next(1, 50);     // inverted
        if (kind == 2) h = -next(1, 50);
        if (kind < 5)
            return {static_cast<int16_t>(x), static_cast<int16_t>(y),
                    static_cast<int16_t>(std::clamp(x + w, -32768, 32767)),
                    static_cast<int16_t>(std::clamp(y + h, -32768, 32767))};
        // most boxes near the view, where labels are
        const int vx = next(-50, 1100), vy = next(-50, 800);
        return {static_cast<int16_t>(vx), static_cast<int16_t>(vy),
                static_cast<int16_t>(vx + next(0, 120)), static_cast<int16_t>(vy + next(0, 20))};
    }
    uint32_t seed_ = 12345;
};

TEST_F(LabelCollisions, AgreesWithTestingEveryBoxInTurn) {
    for (int round = 0; round < 4; ++round) {
        render::label_boxes().last = round == 2 ? 5 : -1;  // emptied, or cut short, directly
        for (int n = 0; n < 2500; ++n) {
            const render::LabelBox b = random_box();
            ASSERT_TRUE(render::add_label_box(b.left, b.top, b.right, b.bottom));
            if (n % 10 != 0) continue;
            for (int q = 0; q < 20; ++q) {
                const render::LabelBox query = random_box();
                const int first = next(0, 3) == 0 ? next(0, n) : 0;
                ASSERT_EQ(render::overlaps_any(query, first), brute_force(query, first))
                    << "round " << round << " box " << n << " query " << q;
            }
        }
    }
}

TEST_F(LabelCollisions, BoxesBeyondTheGridStillMeet) {
    ASSERT_TRUE(render::add_label_box(30000, 30000, 30010, 30010));
    ASSERT_TRUE(render::add_label_box(-30000, -30000, -29990, -29990));
    EXPECT_TRUE(render::overlaps_any({30010, 30010, 30020, 30020}, 0));
    EXPECT_FALSE(render::overlaps_any({30011, 30011, 30020, 30020}, 0));
    EXPECT_TRUE(render::overlaps_any({-29990, -29995, -29980, -29980}, 0));
    EXPECT_FALSE(render::overlaps_any({-29990, -29995, -29980, -29980}, 2));
}

}  // namespace
}  // namespace render_test
