// track_test.cpp: the track history overlay (dllhisload, dllhisdraw, dllhisfree).
//
// Track files are written as text by each test; what dllhisdraw draws is checked through the
// drawing layer's recorder (polylines with their points, pen colour and width) and pixels.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "kestrel.h"
#include "recorder.h"
#include "render/view.h"
#include "test_support/image_check.h"

namespace {

using namespace kestrel_test;
namespace render = kestrel::render;

constexpr int kWidth = 356;
constexpr int kHeight = 276;
constexpr double kScale = 10.0;
// The world window of the view: west 300000, north 2770000, 3560 m x 2760 m.
constexpr int kWest = 300000;
constexpr int kNorth = 2770000;
constexpr int kEast = kWest + 3560;
constexpr int kSouth = kNorth - 2760;
constexpr COLORREF kGreen = RGB(0, 128, 0);

class TrackOverlay : public ::testing::Test {
  protected:
    void SetUp() override {
        render::reset_view_state();
        dllhisfree();
        view_.fill(RGB(255, 255, 255));
        render::view_state() =
            render::ViewState{view_.dc(), kWest, kNorth, kWidth, kHeight, kScale};
    }
    void TearDown() override {
        dllhisfree();
        render::reset_view_state();
    }

    std::string write_track(const std::string& text) {
        const std::string path = dir_.slash() + "track" + std::to_string(++files_) + ".txt";
        std::ofstream(path) << text;
        return path;
    }
    int load(const std::string& text) { return dllhisload(write_track(text).c_str()); }
    // Draws the track over the whole view window and returns the polylines drawn.
    std::vector<Drawn> draw_all() {
        Recorder rec(view_.dc());
        EXPECT_EQ(dllhisdraw(kWest, kSouth, kEast, kNorth), 0);
        return rec.polylines();
    }
    static POINT pixel(int x, int y) { return POINT{(x - kWest) / 10, (kNorth - y) / 10}; }

    TempDir dir_;
    int files_ = 0;
    MemoryView view_{kWidth, kHeight};
};

// ---- loading ------------------------------------------------------------------------------

TEST_F(TrackOverlay, OnlyLinesStartingWithLowerCaseXyCarryPoints) {
    const int key = load(
        "xy 301000 2768000\n"
        "XY 301100 2768000\n"
        " xy 301200 2768000\n"
        "xyz 301300 2768000\n"
        "header line\n"
        "\n"
        "xy 301400\n"
        "yx 301500 2768000\n"
        "xy\t301600\t2768100\n");
    EXPECT_EQ(key, 2768 * 1000 + 301);
    const std::vector<Drawn> lines = draw_all();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].points, (std::vector<POINT>{pixel(301000, 2768000), pixel(301300, 2768000),
                                                   pixel(301600, 2768100)}));
}

TEST_F(TrackOverlay, TheKeyCountsKilometresOfTheFirstPoint) {
    EXPECT_EQ(load("xy 302500 2765400\nxy 200000 2500000\n"), 2765302);
}

TEST_F(TrackOverlay, PointsOnTheAcceptedRangesBoundsAreRejected) {
    EXPECT_EQ(load("xy 110000 2700000\n"
                   "xy 360000 2700000\n"
                   "xy 300000 2410000\n"
                   "xy 300000 2810000\n"),
              -1);
    EXPECT_EQ(load("xy 110000 2700000\nxy 110001 2809999\n"), 2809 * 1000 + 110);
    EXPECT_EQ(load("xy 359999 2410001\n"), 2410 * 1000 + 359);
}

TEST_F(TrackOverlay, AFileThatDoesNotOpenEmptiesTheTrack) {
    ASSERT_GT(load("xy 301000 2768000\nxy 302000 2768000\n"), 0);
    EXPECT_EQ(dllhisload((dir_.slash() + "absent.txt").c_str()), -1);
    EXPECT_TRUE(draw_all().empty());
    ASSERT_GT(load("xy 301000 2768000\nxy 302000 2768000\n"), 0);
    EXPECT_EQ(dllhisload(nullptr), -1);
    EXPECT_TRUE(draw_all().empty());
}

TEST_F(TrackOverlay, AFileWithoutAcceptedPointsReturnsMinusOne) {
    EXPECT_EQ(load(""), -1);
    EXPECT_EQ(load("XY 301000 2768000\nnothing here\n"), -1);
    EXPECT_TRUE(draw_all().empty());
}

TEST_F(TrackOverlay, ALineLongerThanOneReadContinuesAsALineOfItsOwn) {
    // 498 characters fill one read; the rest of the line, which starts with "xy", is read as
    // a line of its own and carries a point.
    EXPECT_EQ(load(std::string(498, '#') + "xy 303000 2769000\n"), 2769303);
    // A point line whose numbers lie beyond the first 498 characters loses them.
    EXPECT_EQ(load("xy" + std::string(600, 'a') + " 303000 2769000\n"), -1);
}

TEST_F(TrackOverlay, PointsBeyondTwentyThousandAreIgnored) {
    std::string text;
    for (int i = 0; i < 20005; ++i)
        text += "xy " + std::to_string(300100 + (i % 3000)) + " " +
                std::to_string(2767300 + (i / 3000) * 100) + "\n";
    ASSERT_EQ(load(text), 2767300);
    const std::vector<Drawn> lines = draw_all();
    // One run of 20000 points, drawn in pieces of the 10000-point buffer that share their ends.
    ASSERT_FALSE(lines.empty());
    std::size_t total = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        EXPECT_LE(lines[i].points.size(), std::size_t(render::POINT_BUFFER_SIZE));
        total += lines[i].points.size() - (i == 0 ? 0 : 1);
        if (i > 0) {
            EXPECT_EQ(lines[i].points.front(), lines[i - 1].points.back());
        }
    }
    EXPECT_EQ(total, 20000u);
    const int last = 19999;
    EXPECT_EQ(lines.back().points.back(),
              pixel(300100 + last % 3000, 2767300 + (last / 3000) * 100));
}

// ---- drawing ------------------------------------------------------------------------------

TEST_F(TrackOverlay, APointOutsideTheWindowSplitsTheTrackAndSinglePointsDrawNothing) {
    ASSERT_GT(load("xy 301000 2768000\n"    // T1 in
                   "xy 301500 2768500\n"    // T2 in
                   "xy 350000 2768500\n"    // T3 out (east)
                   "xy 302000 2768000\n"    // T4 in
                   "xy 302500 2768500\n"    // T5 in
                   "xy 302500 2700000\n"    // out (south)
                   "xy 303000 2768000\n"    // alone between two outside points
                   "xy 302500 2700000\n"),  // out
              0);
    const std::vector<Drawn> lines = draw_all();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].points,
              (std::vector<POINT>{pixel(301000, 2768000), pixel(301500, 2768500)}));
    EXPECT_EQ(lines[1].points,
              (std::vector<POINT>{pixel(302000, 2768000), pixel(302500, 2768500)}));
    EXPECT_EQ(lines[0].pen_color, kGreen);
    EXPECT_EQ(lines[0].pen_width, 2);
}

TEST_F(TrackOverlay, APointOnTheWindowsEdgeCountsAsOutside) {
    ASSERT_GT(load("xy 301000 2768000\n"
                   "xy 301500 2768000\n"
                   "xy " +
                   std::to_string(kWest) +
                   " 2768000\n"  // on the west edge
                   "xy 302000 2768000\n"
                   "xy 302500 2768000\n"
                   "xy 302600 " +
                   std::to_string(kNorth) +
                   "\n"  // on the north edge
                   "xy 302700 2768000\n"),
              0);
    const std::vector<Drawn> lines = draw_all();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].points.size(), 2u);
    EXPECT_EQ(lines[1].points.size(), 2u);
}

TEST_F(TrackOverlay, TheWindowsNorthWestCornerIsPixelZeroZero) {
    ASSERT_GT(load("xy 300001 2769999\nxy 300059 2769941\n"), 0);
    const std::vector<Drawn> lines = draw_all();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].points, (std::vector<POINT>{{0, 0}, {5, 5}}));
    EXPECT_EQ(GetPixel(view_.dc(), 1, 1), kGreen);
}

TEST_F(TrackOverlay, NothingIsDrawnAfterTheTrackIsFreed) {
    ASSERT_GT(load("xy 301000 2768000\nxy 302000 2768000\n"), 0);
    EXPECT_EQ(draw_all().size(), 1u);
    EXPECT_EQ(dllhisfree(), 0);
    EXPECT_TRUE(draw_all().empty());
}

TEST_F(TrackOverlay, DrawingLeavesNoObjectBehindAndRestoresThePen) {
    ASSERT_GT(load("xy 301000 2768000\nxy 302000 2768000\n"), 0);
    HPEN mine = CreatePen(PS_SOLID, 1, RGB(9, 9, 9));
    HGDIOBJ old = SelectObject(view_.dc(), mine);
    const int objects = KgdiLiveObjectCount();
    EXPECT_EQ(dllhisdraw(kWest, kSouth, kEast, kNorth), 0);
    EXPECT_EQ(KgdiLiveObjectCount(), objects);
    EXPECT_EQ(SelectObject(view_.dc(), old), mine);
    DeleteObject(mine);
}

}  // namespace
