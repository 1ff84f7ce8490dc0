// road_names_test.cpp: placement of road names (candidate positions, free window, reading
// direction, name characters) and the labeller's drawing of the names of a view's roads.
// Roads are given as pixel polylines for the placement, and put into a cache slot at scale 1
// (one metre per pixel) when the drawn characters and their boxes are checked.
#include "render/road_names.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "render_fixture.h"

namespace render_test {
namespace {

using render::candidate_positions;
using render::plan_road_label;
using render::RoadLabelPlan;

std::vector<POINT> positions_of(const std::vector<POINT>& road, int chars, int width, int height) {
    POINT out[render::POSITIONS_MAX];
    const int n =
        candidate_positions(road.data(), static_cast<int>(road.size()), chars, width, height, out);
    return std::vector<POINT>(out, out + n);
}

std::vector<int> xs(const std::vector<POINT>& pts) {
    std::vector<int> v;
    for (const POINT& p : pts) v.push_back(p.x);
    return v;
}

const std::vector<POINT> kHorizontal = {{0, 100}, {100, 100}, {200, 100}, {300, 100}};

class RoadPlacement : public RenderTest {};

TEST_F(RoadPlacement, HorizontalRoadGivesEightPositionsSixteenPixelsApartFromThirty) {
    const std::vector<POINT> pos = positions_of(kHorizontal, 3, 400, 300);
    EXPECT_EQ(xs(pos), (std::vector<int>{30, 46, 62, 78, 94, 110, 126, 142}));
    for (const POINT& p : pos) EXPECT_EQ(p.y, 100);
}

TEST_F(RoadPlacement, HorizontalRoadReadsForwardFromShiftZero) {
    RoadLabelPlan plan;
    ASSERT_TRUE(plan_road_label(kHorizontal.data(), 4, padded("abc").c_str(), 400, 300, &plan));
    EXPECT_EQ(plan.chars, 3);
    EXPECT_EQ(plan.shift, 0);
    EXPECT_TRUE(plan.forward);
    EXPECT_EQ(plan.places[0].x, 30);
    EXPECT_EQ(plan.places[1].x, 46);
    EXPECT_EQ(plan.places[2].x, 62);
}

TEST_F(RoadPlacement, TwoVertexRoadIsNeverLabelledHoweverLong) {
    const std::vector<POINT> road = {{10, 100}, {390, 100}};
    EXPECT_TRUE(positions_of(road, 3, 400, 300).empty());
    RoadLabelPlan plan;
    EXPECT_FALSE(plan_road_label(road.data(), 2, padded("abc").c_str(), 400, 300, &plan));
}

TEST_F(RoadPlacement, RoadWithoutInnerVertexGetsNoPositions) {
    // The middle vertex lies 4 pixels from the top edge, inside the margin of 5.
    const std::vector<POINT> road = {{0, 4}, {200, 4}, {399, 4}};
    EXPECT_TRUE(positions_of(road, 3, 400, 300).empty());
}

TEST_F(RoadPlacement, ShortFirstSegmentStartsAtTheStartVertex) {
    // Segment of 20 pixels into the start vertex: no sample at 30, so the start is (20, 100).
    const std::vector<POINT> road = {{0, 100}, {20, 100}, {300, 100}};
    const std::vector<POINT> pos = positions_of(road, 1, 400, 300);
    ASSERT_FALSE(pos.empty());
    EXPECT_EQ(pos[0].x, 20);
    EXPECT_EQ(xs(pos), (std::vector<int>{20, 36, 52, 68, 84, 100}));
}

TEST_F(RoadPlacement, PositionsFollowTheCurveSixteenPixelsApartAcrossACorner) {
    // Right along y = 100 to x = 50, then down: the position after (46, 100) lies 16 pixels
    // further along the road, 4 to the corner and 12 below it.
    const std::vector<POINT> road = {{0, 100}, {40, 100}, {50, 100}, {50, 290}};
    const std::vector<POINT> pos = positions_of(road, 5, 400, 300);
    ASSERT_GE(pos.size(), 3u);
    EXPECT_EQ(pos[0].x, 30);
    EXPECT_EQ(pos[1].x, 46);
    EXPECT_EQ(pos[2].x, 50);
    EXPECT_EQ(pos[2].y, 112);
    EXPECT_EQ(pos[3].y, 128);
}

TEST_F(RoadPlacement, WalkStopsWhereTheRoadLeavesTheInnerView) {
    // Runs right off the view at x = 400: positions stop before x = 396.
    const std::vector<POINT> road = {{300, 100}, {350, 100}, {500, 100}};
    const std::vector<POINT> pos = positions_of(road, 15, 400, 300);
    ASSERT_FALSE(pos.empty());
    for (const POINT& p : pos) EXPECT_LE(p.x, 395);
    EXPECT_EQ(pos.back().x, 394);
}

TEST_F(RoadPlacement, SteepRoadReadsTopToBottomInEitherStoredOrder) {
    const std::vector<POINT> down = {{200, 0}, {200, 100}, {200, 200}, {200, 300}, {200, 400}};
    const std::vector<POINT> up = {{200, 400}, {200, 300}, {200, 200}, {200, 100}, {200, 0}};
    for (const auto* road : {&down, &up}) {
        RoadLabelPlan plan;
        ASSERT_TRUE(plan_road_label(road->data(), 5, padded("abcd").c_str(), 400, 400, &plan));
        for (int i = 1; i < plan.chars; ++i) {
            EXPECT_EQ(plan.places[i].x, 200);
            EXPECT_GT(plan.places[i].y, plan.places[i - 1].y) << "character " << i;
        }
    }
}

TEST_F(RoadPlacement, RightToLeftRoadPutsTheFirstCharacterAtTheLeftEnd) {
    const std::vector<POINT> road = {{400, 100}, {300, 100}, {200, 100}, {100, 100}};
    RoadLabelPlan plan;
    ASSERT_TRUE(plan_road_label(road.data(), 4, padded("abc").c_str(), 400, 300, &plan));
    EXPECT_FALSE(plan.forward);
    // Positions run 370, 354, 338: the window's left end carries the first character.
    EXPECT_EQ(plan.places[0].x, 338);
    EXPECT_EQ(plan.places[1].x, 354);
    EXPECT_EQ(plan.places[2].x, 370);
}

TEST_F(RoadPlacement, BlockedShiftsSlideTheNameAlongTheRoad) {
    // A box over the collision cell of position 0 only (cell of (30,100) is 23..44 x 93..114).
    ASSERT_TRUE(render::add_label_box(20, 90, 35, 110));
    RoadLabelPlan plan;
    ASSERT_TRUE(plan_road_label(kHorizontal.data(), 4, padded("abc").c_str(), 400, 300, &plan));
    EXPECT_EQ(plan.shift, 1);
    EXPECT_EQ(plan.places[0].x, 46);
}

TEST_F(RoadPlacement, EveryShiftBlockedGivesNoLabel) {
    // Two point boxes, on positions 2 (x = 62) and 5 (x = 110): every window of three among
    // the eight positions holds one of them.
    ASSERT_TRUE(render::add_label_box(62, 100, 62, 100));
    RoadLabelPlan plan;
    ASSERT_TRUE(plan_road_label(kHorizontal.data(), 4, padded("abc").c_str(), 400, 300, &plan));
    EXPECT_EQ(plan.shift, 3);
    ASSERT_TRUE(render::add_label_box(110, 100, 110, 100));
    EXPECT_FALSE(plan_road_label(kHorizontal.data(), 4, padded("abc").c_str(), 400, 300, &plan));
}

TEST_F(RoadPlacement, ABoxTouchingTheCollisionCellBlocksTheShift) {
    // The cell of (30, 100) runs from (23, 93) to (44, 114).
    ASSERT_TRUE(render::add_label_box(0, 0, 22, 92));
    RoadLabelPlan plan;
    ASSERT_TRUE(plan_road_label(kHorizontal.data(), 4, padded("a").c_str(), 400, 300, &plan));
    EXPECT_EQ(plan.shift, 0);
    ASSERT_TRUE(render::add_label_box(0, 0, 23, 93));
    ASSERT_TRUE(plan_road_label(kHorizontal.data(), 4, padded("a").c_str(), 400, 300, &plan));
    EXPECT_EQ(plan.shift, 1);
}

TEST_F(RoadPlacement, TooFewPositionsForTheNameGivesNoLabel) {
    // 40 pixels of road after the start: positions at 30, 46, 62 only.
    const std::vector<POINT> road = {{0, 100}, {70, 100}, {72, 100}};
    RoadLabelPlan plan;
    EXPECT_FALSE(plan_road_label(road.data(), 3, padded("abcd").c_str(), 400, 300, &plan));
    EXPECT_TRUE(plan_road_label(road.data(), 3, padded("abc").c_str(), 400, 300, &plan));
}

class NameCharacters : public ::testing::Test {};

TEST_F(NameCharacters, ABlankEndsTheName) {
    render::NameCharacter c[20];
    EXPECT_EQ(render::split_name(padded("Main St").c_str(), c), 4);
}

TEST_F(NameCharacters, TwoByteCharactersStartAt0x7F) {
    render::NameCharacter c[20];
    const std::string name = padded(
        "\x7F"
        "A\xA4\xA4"
        "b");
    ASSERT_EQ(render::split_name(name.c_str(), c), 3);
    EXPECT_EQ(c[0].first, 0);
    EXPECT_EQ(c[0].length, 2);
    EXPECT_EQ(c[1].first, 2);
    EXPECT_EQ(c[1].length, 2);
    EXPECT_EQ(c[2].first, 4);
    EXPECT_EQ(c[2].length, 1);
}

TEST_F(NameCharacters, LeadByteAtByte19TakesTheTerminatingNul) {
    std::string name(19, 'a');
    name += '\xB0';
    name += '\0';
    render::NameCharacter c[20];
    ASSERT_EQ(render::split_name(name.c_str(), c), 20);
    EXPECT_EQ(c[19].first, 19);
    EXPECT_EQ(c[19].length, 2);
}

TEST_F(NameCharacters, NulBytesWithoutBlanksAreCharactersToo) {
    std::string name("AB");
    name.resize(20, '\0');
    render::NameCharacter c[20];
    EXPECT_EQ(render::split_name(name.c_str(), c), 20);
}

// ---- the labeller drawing from the cache ----------------------------------------------------

class RoadLabeller : public RenderTest {
  protected:
    // A view of 400 x 300 pixels at one metre per pixel, inside tile kTile.
    void SetUp() override {
        RenderTest::SetUp();
        render::view_state() = render::ViewState{canvas_.dc(), kLeft, kTop, 400, 300, 1.0};
    }
    std::vector<WorldPt> world(const std::vector<POINT>& pixels) {
        std::vector<WorldPt> out;
        for (const POINT& p : pixels) out.push_back(world_at(kLeft, kTop, 1.0, p.x, p.y));
        return out;
    }
    Canvas canvas_{400, 300};
};

TEST_F(RoadLabeller, DrawsTheWorkedExampleCharactersAndBoxes) {
    SlotFill(0, kTile).line(5, world(kHorizontal), "abc").slot().header.in_view = 1;
    EXPECT_EQ(render::draw_road_names(), 0);
    const std::vector<Prim> t = canvas_.texts();
    ASSERT_EQ(t.size(), 3u);
    EXPECT_EQ(t[0].text, "a");
    EXPECT_EQ(t[0].x, 25);
    EXPECT_EQ(t[0].y, 95);
    EXPECT_EQ(t[1].text, "b");
    EXPECT_EQ(t[1].x, 41);
    EXPECT_EQ(t[2].text, "c");
    EXPECT_EQ(t[2].x, 57);
    EXPECT_EQ(t[2].y, 95);
    const render::LabelBoxList& boxes = render::label_boxes();
    ASSERT_EQ(boxes.last, 2);
    const int expected[3][4] = {{24, 94, 42, 112}, {40, 94, 58, 112}, {56, 94, 74, 112}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(boxes.boxes[i].left, expected[i][0]);
        EXPECT_EQ(boxes.boxes[i].top, expected[i][1]);
        EXPECT_EQ(boxes.boxes[i].right, expected[i][2]);
        EXPECT_EQ(boxes.boxes[i].bottom, expected[i][3]);
    }
}

TEST_F(RoadLabeller, DrawsTwoByteCharactersOnePositionEach) {
    const std::string name = "\xA4\xA4\xA5\xC1";
    SlotFill(0, kTile).line(2, world(kHorizontal), name).slot().header.in_view = 1;
    render::draw_road_names();
    const std::vector<Prim> t = canvas_.texts();
    ASSERT_EQ(t.size(), 2u);
    EXPECT_EQ(t[0].text, "\xA4\xA4");
    EXPECT_EQ(t[1].text, "\xA5\xC1");
    EXPECT_EQ(t[1].x - t[0].x, 16);
}

TEST_F(RoadLabeller, SkipsRoadsOfType3NamesWithALeadingBlankAndOtherTypes) {
    SlotFill(0, kTile)
        .line(3, world(kHorizontal), "abc")
        .line(5, world(kHorizontal), " abc")
        .line(10, world(kHorizontal), "abc")
        .slot()
        .header.in_view = 1;
    render::draw_road_names();
    EXPECT_TRUE(canvas_.texts().empty());
}

TEST_F(RoadLabeller, LeavesSlotsOutsideTheViewUnlabelled) {
    SlotFill(0, kTile).line(5, world(kHorizontal), "abc");
    render::draw_road_names();
    EXPECT_TRUE(canvas_.texts().empty());
}

TEST_F(RoadLabeller, LaterRecordsOfASlotAreLabelledFirstAndWinTheirPlace) {
    // Two roads along the same line: the one stored last takes shift 0, the other is pushed
    // along by the boxes of the first.
    SlotFill(0, kTile)
        .line(5, world(kHorizontal), "xy")
        .line(5, world(kHorizontal), "ab")
        .slot()
        .header.in_view = 1;
    render::draw_road_names();
    const std::vector<Prim> t = canvas_.texts();
    ASSERT_EQ(t.size(), 4u);
    EXPECT_EQ(t[0].text, "a");
    EXPECT_EQ(t[0].x, 25);
    EXPECT_EQ(t[2].text, "x");
    EXPECT_GT(t[2].x, t[1].x + 16);
}

TEST_F(RoadLabeller, DropsANameThatTheFullBoxListCannotRecord) {
    while (render::add_label_box(1000, 1000, 1001, 1001)) {
    }
    SlotFill(0, kTile).line(5, world(kHorizontal), "abc").slot().header.in_view = 1;
    render::draw_road_names();
    EXPECT_TRUE(canvas_.texts().empty());
    EXPECT_EQ(render::label_boxes().last, render::LABEL_BOX_CAPACITY - 1);
}

TEST_F(RoadLabeller, LabelsARoadLongerThanThePointBuffer) {
    // 12000 vertices zig-zagging one pixel apart along y = 100 from x = 0.
    std::vector<POINT> pixels;
    for (int i = 0; i < 12000; ++i) pixels.push_back(POINT{i % 390, 100});
    SlotFill(0, kTile).line(5, world(pixels), "abc").slot().header.in_view = 1;
    EXPECT_EQ(render::draw_road_names(), 0);
    EXPECT_EQ(canvas_.texts().size(), 3u);
}

}  // namespace
}  // namespace render_test
