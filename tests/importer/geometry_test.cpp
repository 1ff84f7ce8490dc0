// geometry_test.cpp: tile cutting, ring clipping, delta-step densifying, splitting and the
// helpers of district assignment.
#include "geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>

namespace kimport {
namespace {

Polyline pts(std::initializer_list<std::pair<int32_t, int32_t>> list) {
    Polyline p;
    for (auto [x, y] : list) p.push_back({x, y});
    return p;
}

bool equal(const Polyline& a, const Polyline& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!same_point(a[i], b[i])) return false;
    }
    return true;
}

// True when every point lies in the closed square of `tile`.
bool inside_tile(const Polyline& p, int32_t tile) {
    int32_t x0 = (tile % 1000) * 10000, y0 = (tile / 1000) * 10000;
    for (const WorldPoint& q : p) {
        if (q.x < x0 || q.x > x0 + 10000 || q.y < y0 || q.y > y0 + 10000) return false;
    }
    return true;
}

TEST(TileNumbers, FollowRowsAndColumnsOfTenKilometres) {
    EXPECT_EQ(tile_of(302500, 2765400), 276030);
    EXPECT_EQ(tile_of(309999.9, 2769999.9), 276030);
    EXPECT_EQ(tile_of(310000, 2770000), 277031);
    EXPECT_EQ(tile_of(0, 0), 0);
    EXPECT_EQ(tile_of(-1, 5), -1);
    EXPECT_EQ(tile_of(5, -1), -1);
    EXPECT_EQ(tile_of(10000000, 5), -1);  // column 1000 would run into the next row
}

TEST(TileCutting, ALineCrossingABorderIsCutAtAnExactSharedPoint) {
    auto pieces = cut_at_tiles(pts({{9990, 5000}, {10010, 5003}}));
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].tile, 0);
    EXPECT_EQ(pieces[1].tile, 1);
    EXPECT_TRUE(equal(pieces[0].points, pts({{9990, 5000}, {10000, 5002}})));
    EXPECT_TRUE(equal(pieces[1].points, pts({{10000, 5002}, {10010, 5003}})));
}

TEST(TileCutting, ALineInsideOneTileStaysWhole) {
    Polyline line = pts({{100, 100}, {200, 300}, {9000, 9000}});
    auto pieces = cut_at_tiles(line);
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_TRUE(equal(pieces[0].points, line));
}

TEST(TileCutting, ALineThroughATileCornerLeavesNoSinglePointPiece) {
    auto pieces = cut_at_tiles(pts({{9000, 9000}, {11000, 11000}}));
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].tile, 0);
    EXPECT_EQ(pieces[1].tile, 1001);
    EXPECT_TRUE(same_point(pieces[0].points.back(), {10000, 10000}));
    EXPECT_TRUE(same_point(pieces[1].points.front(), {10000, 10000}));
}

TEST(TileCutting, ALineAlongABorderBelongsToOneTile) {
    auto pieces = cut_at_tiles(pts({{10000, 100}, {10000, 900}}));
    ASSERT_EQ(pieces.size(), 1u);
    EXPECT_TRUE(inside_tile(pieces[0].points, pieces[0].tile));
}

TEST(TileCutting, ALineLeavingAndReenteringATileGivesSeparatePieces) {
    auto pieces = cut_at_tiles(pts({{9000, 500}, {11000, 500}, {11000, 600}, {9000, 600}}));
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].tile, 0);
    EXPECT_EQ(pieces[1].tile, 1);
    EXPECT_EQ(pieces[2].tile, 0);
    EXPECT_EQ(pieces[1].points.size(), 4u);
}

TEST(TileCutting, PartsOffTheGridAreMarked) {
    auto pieces = cut_at_tiles(pts({{-500, 100}, {500, 100}}));
    ASSERT_EQ(pieces.size(), 2u);
    EXPECT_EQ(pieces[0].tile, -1);
    EXPECT_EQ(pieces[1].tile, 0);
}

TEST(TileCutting, RandomLinesGivePiecesInsideTheirTilesThatJoinUp) {
    std::mt19937 rng(7);
    std::uniform_int_distribution<int32_t> coord(250000, 330000);
    for (int round = 0; round < 200; ++round) {
        Polyline line;
        for (int i = 0; i < 6; ++i) line.push_back({coord(rng), coord(rng) + 2500000});
        auto pieces = cut_at_tiles(line);
        ASSERT_FALSE(pieces.empty());
        EXPECT_TRUE(same_point(pieces.front().points.front(), line.front()));
        EXPECT_TRUE(same_point(pieces.back().points.back(), line.back()));
        for (std::size_t k = 0; k < pieces.size(); ++k) {
            EXPECT_GE(pieces[k].points.size(), 2u);
            EXPECT_TRUE(inside_tile(pieces[k].points, pieces[k].tile)) << "round " << round;
            if (k > 0) {
                EXPECT_TRUE(same_point(pieces[k - 1].points.back(), pieces[k].points.front()));
            }
        }
    }
}

TEST(RingClipping, ARingOverABorderIsClippedToTheTileSquare) {
    Polyline ring = pts({{9000, 1000}, {12000, 1000}, {12000, 2000}, {9000, 2000}});
    Polyline left = clip_ring_to_tile(ring, 0);
    Polyline right = clip_ring_to_tile(ring, 1);
    // The same four corners, in some rotation of the ring.
    Polyline want = pts({{9000, 1000}, {10000, 1000}, {10000, 2000}, {9000, 2000}});
    ASSERT_EQ(left.size(), 4u);
    auto start = std::find_if(left.begin(), left.end(),
                              [&](const WorldPoint& p) { return same_point(p, want[0]); });
    ASSERT_NE(start, left.end());
    std::rotate(left.begin(), start, left.end());
    EXPECT_TRUE(equal(left, want));
    EXPECT_EQ(right.size(), 4u);
    EXPECT_TRUE(inside_tile(right, 1));
    EXPECT_TRUE(clip_ring_to_tile(ring, 2).empty());
}

TEST(DeltaSteps, LongStepsGetEvenlySpacedPointsThatAreCounted) {
    Polyline line = pts({{0, 0}, {300, 0}});
    EXPECT_EQ(densify(&line), 2);
    EXPECT_TRUE(equal(line, pts({{0, 0}, {100, 0}, {200, 0}, {300, 0}})));
}

TEST(DeltaSteps, StepsOf127FitAnd128DoNot) {
    Polyline fits = pts({{0, 0}, {127, -127}});
    EXPECT_EQ(densify(&fits), 0);
    Polyline over = pts({{0, 0}, {-128, 5}});
    EXPECT_EQ(densify(&over), 1);
    EXPECT_TRUE(equal(over, pts({{0, 0}, {-64, 3}, {-128, 5}})));
}

TEST(DeltaSteps, EveryStepOfRandomLinesFitsASignedByteAndOriginalPointsStay) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int32_t> coord(0, 10000);
    for (int round = 0; round < 500; ++round) {
        Polyline line;
        for (int i = 0; i < 5; ++i) line.push_back({coord(rng), coord(rng)});
        Polyline original = line;
        int added = densify(&line);
        EXPECT_EQ(line.size(), original.size() + added);
        std::size_t next = 0;
        for (std::size_t i = 0; i < line.size(); ++i) {
            if (next < original.size() && same_point(line[i], original[next])) ++next;
            if (i > 0) {
                EXPECT_LE(std::abs(line[i].x - line[i - 1].x), 127);
                EXPECT_LE(std::abs(line[i].y - line[i - 1].y), 127);
            }
        }
        EXPECT_EQ(next, original.size());
    }
}

TEST(Splitting, LongLinesSplitIntoPartsThatShareTheirJoints) {
    Polyline line;
    for (int i = 0; i < 25; ++i) line.push_back({i, 0});
    auto parts = split_by_vertices(line, 10);
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0].size(), 10u);
    EXPECT_EQ(parts[1].size(), 10u);
    EXPECT_EQ(parts[2].size(), 7u);
    EXPECT_TRUE(same_point(parts[0].back(), parts[1].front()));
    EXPECT_TRUE(same_point(parts[2].back(), line.back()));
    EXPECT_EQ(split_by_vertices(line, 25).size(), 1u);
}

TEST(LineHelpers, HalfwayPointIsMeasuredAlongTheLine) {
    double x = 0, y = 0;
    point_halfway(pts({{0, 0}, {100, 0}, {100, 300}}), &x, &y);
    EXPECT_DOUBLE_EQ(x, 100);
    EXPECT_DOUBLE_EQ(y, 100);
}

TEST(LineHelpers, SimplifyKeepsEndsAndCorners) {
    Polyline line = pts({{0, 0}, {50, 1}, {100, 0}, {100, 100}});
    EXPECT_TRUE(equal(simplify(line, 5), pts({{0, 0}, {100, 0}, {100, 100}})));
    EXPECT_TRUE(equal(simplify(line, 0.5), line));
}

TEST(LineHelpers, RingContainsUsesEvenOdd) {
    std::vector<double> square = {0, 0, 10, 0, 10, 10, 0, 10};
    EXPECT_TRUE(ring_contains(square, 5, 5));
    EXPECT_FALSE(ring_contains(square, 15, 5));
    EXPECT_FALSE(ring_contains({}, 0, 0));
}

}  // namespace
}  // namespace kimport
