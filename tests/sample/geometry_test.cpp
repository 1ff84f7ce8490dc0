// geometry_test.cpp: tests of the sample generator's geometry: shared vertices at crossings,
// cutting at tile borders, clipping areas to tiles, and keeping parts of a line.
#include "geometry.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace ksample {
namespace {

bool same(const IPoly& a, const IPoly& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](IPoint p, IPoint q) { return p == q; });
}

bool has(const IPoly& line, IPoint p) {
    return std::any_of(line.begin(), line.end(), [&](IPoint q) { return q == p; });
}

TEST(Noding, CrossingLinesGetTheSameVertexInBoth) {
    const std::vector<IPoly> lines = {
        {{0, 0}, {1000, 0}}, {{500, -300}, {500, 700}}, {{0, 50}, {1000, 50}}};
    const Noded n = node_lines(lines, [](size_t, size_t) { return true; });
    EXPECT_TRUE(has(n.lines[0], {500, 0}));
    EXPECT_TRUE(has(n.lines[1], {500, 0}));
    EXPECT_TRUE(has(n.lines[1], {500, 50}));
    EXPECT_TRUE(has(n.lines[2], {500, 50}));
    EXPECT_EQ(n.lines[0].size(), 3u);  // end points kept, one crossing added
}

TEST(Noding, GradeSeparatedPairsKeepNoSharedVertex) {
    const std::vector<IPoly> lines = {{{0, 0}, {1000, 0}}, {{500, -300}, {500, 700}}};
    const Noded n = node_lines(lines, [](size_t, size_t) { return false; });
    EXPECT_TRUE(same(n.lines[0], lines[0]));
    EXPECT_TRUE(same(n.lines[1], lines[1]));
}

TEST(Noding, ALineEndingOnAnotherMeetsItAtItsEnd) {
    const std::vector<IPoly> lines = {{{0, 0}, {1000, 0}}, {{300, 400}, {300, 0}}};
    const Noded n = node_lines(lines, [](size_t, size_t) { return true; });
    EXPECT_TRUE(has(n.lines[0], {300, 0}));
    EXPECT_TRUE(n.lines[1].back() == (IPoint{300, 0}));
    const auto deg = vertex_degrees(n.lines);
    EXPECT_EQ(deg[1].back(), 2);
    EXPECT_EQ(deg[1].front(), 1);
}

TEST(CutAtCells, PiecesMeetOnTheBorderAndStayInsideTheirCell) {
    const IPoly line = {{9000, 5000}, {31000, 27000}};
    const auto pieces = cut_at_cells(line, 10000);
    ASSERT_GE(pieces.size(), 3u);
    for (size_t i = 0; i < pieces.size(); ++i) {
        const int32_t x0 = (pieces[i].cell % 1000) * 10000, y0 = (pieces[i].cell / 1000) * 10000;
        for (IPoint p : pieces[i].points) {
            EXPECT_TRUE(p.x >= x0 && p.x <= x0 + 10000 && p.y >= y0 && p.y <= y0 + 10000);
        }
        if (i > 0) {
            EXPECT_TRUE(pieces[i].points.front() == pieces[i - 1].points.back());
            const IPoint b = pieces[i].points.front();
            EXPECT_TRUE(b.x % 10000 == 0 || b.y % 10000 == 0);
        }
    }
    EXPECT_EQ(pieces.front().cell, 0);
    EXPECT_EQ(pieces.back().cell, 2003);
}

TEST(CutAtCells, ALineInsideOneCellIsOnePiece) {
    const auto pieces = cut_at_cells({{100, 100}, {200, 300}, {9999, 9999}}, 10000);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_EQ(pieces[0].points.size(), 3u);
}

TEST(ClipPolygon, KeepsOnlyThePartInsideTheRectangle) {
    const Poly square = {{-50, -50}, {50, -50}, {50, 50}, {-50, 50}};
    const Poly part = clip_polygon(square, 0, 0, 100, 100);
    double area = 0;
    for (size_t i = 0; i < part.size(); ++i) {
        const P a = part[i], b = part[(i + 1) % part.size()];
        area += a.x * b.y - b.x * a.y;
    }
    EXPECT_NEAR(std::abs(area) / 2, 2500, 1e-6);
    EXPECT_TRUE(clip_polygon(square, 100, 100, 200, 200).empty());
}

TEST(KeepRuns, CutsAtTheBoundaryAndDropsShortRuns) {
    const Poly line = resample({{0, 0}, {1000, 0}}, 100);
    const auto runs = keep_runs(
        line, [](P p) { return p.x < 450 || p.x > 980; }, 50);
    ASSERT_EQ(runs.size(), 1u);  // the 20 m run at the far end is too short
    EXPECT_NEAR(runs[0].back().x, 450, 0.1);
}

}  // namespace
}  // namespace ksample
