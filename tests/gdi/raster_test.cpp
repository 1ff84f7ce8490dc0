/*
 * raster_test.cpp: exact pixel results of the rasteriser: one-pixel polylines (end points,
 * diagonals, slopes, clipping with huge and negative coordinates), the width and round shape
 * of wider pens, polygon fill with the alternate rule and its outline, null pens and brushes.
 * Fills are compared with an independent even-odd test at pixel centres.
 */
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>

#include "gdi_test_util.h"

using kgdi_test::Canvas;
using PixelSet = std::set<std::pair<int, int>>;

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kRed = RGB(255, 0, 0);

/* Draws a polyline with a new pen of the given width and colour. */
void DrawPolyline(Canvas& c, std::vector<POINT> pts, int width = 1, COLORREF color = kBlack) {
    HPEN pen = CreatePen(PS_SOLID, width, color);
    HGDIOBJ old = SelectObject(c.dc(), pen);
    ASSERT_TRUE(Polyline(c.dc(), pts.data(), static_cast<int>(pts.size())));
    SelectObject(c.dc(), old);
    DeleteObject(pen);
}

/* Squared distance from point p to segment ab. */
double SegmentDistance2(double px, double py, double ax, double ay, double bx, double by) {
    const double dx = bx - ax, dy = by - ay;
    const double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? ((px - ax) * dx + (py - ay) * dy) / len2 : 0;
    t = std::clamp(t, 0.0, 1.0);
    const double qx = ax + t * dx - px, qy = ay + t * dy - py;
    return qx * qx + qy * qy;
}

/* Even-odd inside test of a point against a closed polygon (independent of the layer). */
bool InsideEvenOdd(double x, double y, const std::vector<POINT>& poly) {
    bool in = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++) {
        const double xi = poly[i].x, yi = poly[i].y, xj = poly[j].x, yj = poly[j].y;
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

/* True when the point is within `eps` of an edge (tie cases are left out of comparisons). */
bool NearEdge(double x, double y, const std::vector<POINT>& poly, double eps) {
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
        if (SegmentDistance2(x, y, poly[j].x, poly[j].y, poly[i].x, poly[i].y) < eps * eps)
            return true;
    return false;
}

}  // namespace

TEST(ThinLines, HorizontalAndVerticalLinesLeaveOutTheirEndPoint) {
    Canvas c(20, 20);
    DrawPolyline(c, {{2, 3}, {7, 3}});
    DrawPolyline(c, {{10, 1}, {10, 5}});
    PixelSet want{{2, 3}, {3, 3}, {4, 3}, {5, 3}, {6, 3}, {10, 1}, {10, 2}, {10, 3}, {10, 4}};
    EXPECT_EQ(c.PixelsOf(kBlack), want);
}

TEST(ThinLines, DiagonalsStepOnePixelEachWayInBothDirections) {
    Canvas c(20, 20);
    DrawPolyline(c, {{1, 1}, {5, 5}});
    EXPECT_EQ(c.PixelsOf(kBlack), (PixelSet{{1, 1}, {2, 2}, {3, 3}, {4, 4}}));
    c.Clear(kWhite);
    DrawPolyline(c, {{15, 5}, {11, 9}});
    EXPECT_EQ(c.PixelsOf(kBlack), (PixelSet{{15, 5}, {14, 6}, {13, 7}, {12, 8}}));
}

TEST(ThinLines, ShallowSlopesFollowTheNearestRow) {
    Canvas c(20, 20);
    DrawPolyline(c, {{0, 0}, {6, 2}});
    EXPECT_EQ(c.PixelsOf(kBlack), (PixelSet{{0, 0}, {1, 0}, {2, 1}, {3, 1}, {4, 1}, {5, 2}}));
    c.Clear(kWhite);
    DrawPolyline(c, {{3, 10}, {1, 4}});  // steep, going up and left
    EXPECT_EQ(c.PixelsOf(kBlack), (PixelSet{{3, 10}, {3, 9}, {2, 8}, {2, 7}, {2, 6}, {1, 5}}));
}

TEST(ThinLines, PolylineDrawsInteriorVerticesAndLeavesOutTheLastPoint) {
    Canvas c(20, 20);
    DrawPolyline(c, {{0, 0}, {5, 0}, {5, 5}});
    PixelSet want;
    for (int x = 0; x <= 4; ++x) want.insert({x, 0});
    for (int y = 0; y <= 4; ++y) want.insert({5, y});
    EXPECT_EQ(c.PixelsOf(kBlack), want);
}

TEST(ThinLines, ZeroLengthSegmentsDrawNothingAndWidthZeroIsOnePixel) {
    Canvas c(10, 10);
    DrawPolyline(c, {{3, 3}, {3, 3}});
    EXPECT_EQ(c.CountNot(kWhite), 0);
    DrawPolyline(c, {{1, 1}, {4, 1}}, 0);
    EXPECT_EQ(c.PixelsOf(kBlack), (PixelSet{{1, 1}, {2, 1}, {3, 1}}));
}

TEST(ThinLines, LinesFromFarOutsideAreClippedToTheBitmap) {
    Canvas c(20, 20);
    DrawPolyline(c, {{-1000000000, 5}, {1000000000, 5}});
    PixelSet want;
    for (int x = 0; x < 20; ++x) want.insert({x, 5});
    EXPECT_EQ(c.PixelsOf(kBlack), want);
    c.Clear(kWhite);
    DrawPolyline(c, {{INT_MIN, INT_MIN}, {INT_MAX, INT_MAX}});
    want.clear();
    for (int i = 0; i < 20; ++i) want.insert({i, i});
    EXPECT_EQ(c.PixelsOf(kBlack), want);
}

TEST(ThinLines, ClippedLinesKeepThePixelsOfTheUnclippedLine) {
    // The same segments drawn into a large canvas and, shifted, into a small one that cuts
    // them: the small canvas must show exactly the matching window of the large one.
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> coord(-30, 60);
    Canvas big(120, 120), small(30, 30);
    const int shift = 40;
    for (int k = 0; k < 200; ++k) {
        big.Clear(kWhite);
        small.Clear(kWhite);
        const POINT a{coord(rng), coord(rng)}, b{coord(rng), coord(rng)};
        DrawPolyline(small, {a, b});
        DrawPolyline(big, {{a.x + shift, a.y + shift}, {b.x + shift, b.y + shift}});
        for (int y = 0; y < 30; ++y)
            for (int x = 0; x < 30; ++x)
                ASSERT_EQ(GetPixel(small.dc(), x, y), GetPixel(big.dc(), x + shift, y + shift))
                    << "segment " << a.x << "," << a.y << " - " << b.x << "," << b.y << " at " << x
                    << "," << y;
    }
}

TEST(ShortSegments, PolylinesOfShortPiecesMatchTheLineFormula) {
    // Road pieces of a few pixels (zero-length ones included) in one- and two-pixel pens,
    // wholly inside the bitmap, against the line formula computed here: pixel i of a segment
    // of n major steps and d minor steps is offset floor((2 i d + n) / 2n) along the minor
    // axis. A one-pixel pen draws steps 0 .. n-1 of each segment; a two-pixel pen stamps its
    // disc (the pixel and those left of and above it) at steps 0 .. n.
    std::mt19937 rng(16);
    std::uniform_int_distribution<int> step(-5, 5), count(2, 9);
    Canvas c(48, 48);
    for (int k = 0; k < 400; ++k) {
        const int width = 1 + k % 2;
        std::vector<POINT> pts{{24, 24}};
        for (int i = count(rng); i > 1; --i)
            pts.push_back(
                {pts.back().x + step(rng) / (k % 3 == 0 ? 2 : 1), pts.back().y + step(rng)});
        PixelSet want;
        for (size_t i = 0; i + 1 < pts.size(); ++i) {
            const int dx = pts[i + 1].x - pts[i].x, dy = pts[i + 1].y - pts[i].y;
            const int n = std::max(std::abs(dx), std::abs(dy)),
                      d = std::min(std::abs(dx), std::abs(dy));
            for (int j = 0; j < n + (width > 1 ? 1 : 0); ++j) {
                const int major = j, minor = n > 0 ? (2 * j * d + n) / (2 * n) : 0;
                const int x =
                    pts[i].x + (dx < 0 ? -1 : 1) * (std::abs(dx) >= std::abs(dy) ? major : minor);
                const int y =
                    pts[i].y + (dy < 0 ? -1 : 1) * (std::abs(dx) >= std::abs(dy) ? minor : major);
                want.insert({x, y});
                if (width > 1) want.insert({{x - 1, y}, {x, y - 1}, {x - 1, y - 1}});
            }
        }
        c.Clear(kWhite);
        DrawPolyline(c, pts, width);
        ASSERT_EQ(c.PixelsOf(kBlack), want) << "polyline " << k << " width " << width;
    }
}

TEST(WidePens, HorizontalAndVerticalLinesAreExactlyAsWideAsThePen) {
    for (int w = 2; w <= 9; ++w) {
        Canvas c(60, 60);
        DrawPolyline(c, {{10, 20}, {50, 20}}, w);
        int rows = 0;
        for (int y = 0; y < 60; ++y) rows += GetPixel(c.dc(), 30, y) == kBlack;
        EXPECT_EQ(rows, w) << "width " << w;
        c.Clear(kWhite);
        DrawPolyline(c, {{30, 5}, {30, 55}}, w);
        int cols = 0;
        for (int x = 0; x < 60; ++x) cols += GetPixel(c.dc(), x, 30) == kBlack;
        EXPECT_EQ(cols, w) << "width " << w;
    }
}

TEST(WidePens, EndsAndJoinsAreRound) {
    // Every pixel whose centre is well inside the pen's reach of the ideal path is drawn, and
    // none well outside it: a square cap or a mitre join would put ink beyond the reach.
    for (int w : {3, 4, 6, 7, 10}) {
        Canvas c(80, 80);
        const std::vector<POINT> path{{15, 15}, {50, 15}, {50, 60}, {20, 40}};
        DrawPolyline(c, path, w);
        const double e = (w % 2 == 0) ? 0.5 : 0.0;  // even widths sit half a pixel up-left
        for (int y = 0; y < 80; ++y)
            for (int x = 0; x < 80; ++x) {
                double d2 = 1e18;
                for (size_t i = 0; i + 1 < path.size(); ++i)
                    d2 = std::min(d2, SegmentDistance2(x + e, y + e, path[i].x, path[i].y,
                                                       path[i + 1].x, path[i + 1].y));
                const double d = std::sqrt(d2), r = w / 2.0;
                const bool ink = GetPixel(c.dc(), x, y) == kBlack;
                if (d < r - 0.75) {
                    EXPECT_TRUE(ink) << "w " << w << " missing " << x << "," << y;
                }
                if (d > r + 0.75) {
                    EXPECT_FALSE(ink) << "w " << w << " stray " << x << "," << y;
                }
            }
    }
}

TEST(WidePens, APointIsTheDiscOfThePenWidth) {
    // A zero-length polyline draws the pen's disc: pixel centres strictly within w / 2 of the
    // point (odd widths) or of the corner above-left of it (even widths).
    for (int w = 2; w <= 40; ++w) {
        Canvas c(100, 100);
        DrawPolyline(c, {{50, 50}, {50, 50}}, w);
        const double e = (w % 2 == 0) ? 0.5 : 0.0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) {
                const double ddx = x + e - 50, ddy = y + e - 50;
                const bool want = ddx * ddx + ddy * ddy < w * w / 4.0;
                ASSERT_EQ(GetPixel(c.dc(), x, y) == kBlack, want)
                    << "w " << w << " at " << x << "," << y;
            }
    }
}

TEST(WidePens, WidePenCapsAreDrawnAtBothEnds) {
    Canvas c(40, 40);
    DrawPolyline(c, {{10, 20}, {30, 20}}, 5);
    EXPECT_EQ(GetPixel(c.dc(), 8, 20), kBlack);   // 2 left of the start
    EXPECT_EQ(GetPixel(c.dc(), 32, 20), kBlack);  // 2 right of the end
    EXPECT_EQ(GetPixel(c.dc(), 7, 20), kWhite);
    EXPECT_EQ(GetPixel(c.dc(), 33, 20), kWhite);
    EXPECT_EQ(GetPixel(c.dc(), 8, 18), kWhite);  // cap corner is cut: round, not square
}

TEST(WidePens, WideLinesReachingOutsideAreClipped) {
    Canvas c(30, 30);
    DrawPolyline(c, {{-100000, -100000}, {100000, 100000}}, 6);
    DrawPolyline(c, {{INT_MIN, 15}, {INT_MAX, 15}}, 4);
    EXPECT_EQ(GetPixel(c.dc(), 0, 0), kBlack);
    EXPECT_EQ(GetPixel(c.dc(), 29, 29), kBlack);
    EXPECT_EQ(GetPixel(c.dc(), 0, 14), kBlack);
    EXPECT_EQ(GetPixel(c.dc(), 29, 16), kBlack);
    EXPECT_EQ(GetPixel(c.dc(), 29, 0), kWhite);
}

class Polygons : public ::testing::Test {
  protected:
    void Draw(Canvas& c, const std::vector<POINT>& pts, HGDIOBJ pen, HGDIOBJ brush) {
        HGDIOBJ old_pen = SelectObject(c.dc(), pen);
        HGDIOBJ old_brush = SelectObject(c.dc(), brush);
        ASSERT_TRUE(Polygon(c.dc(), pts.data(), static_cast<int>(pts.size())));
        SelectObject(c.dc(), old_pen);
        SelectObject(c.dc(), old_brush);
    }
    void SetUp() override { red_ = CreateSolidBrush(kRed); }
    void TearDown() override { DeleteObject(red_); }
    HBRUSH red_ = nullptr;
};

TEST_F(Polygons, SquareFillCoversPixelCentresInsideWithoutRightAndBottomEdges) {
    Canvas c(12, 12);
    Draw(c, {{2, 2}, {8, 2}, {8, 8}, {2, 8}}, GetStockObject(NULL_PEN), red_);
    PixelSet want;
    for (int y = 2; y < 8; ++y)
        for (int x = 2; x < 8; ++x) want.insert({x, y});
    EXPECT_EQ(c.PixelsOf(kRed), want);
    EXPECT_EQ(c.CountNot(kWhite), 36);
}

TEST_F(Polygons, OutlineIsDrawnWithThePenOverTheFill) {
    Canvas c(12, 12);
    Draw(c, {{2, 2}, {8, 2}, {8, 8}, {2, 8}}, GetStockObject(BLACK_PEN), red_);
    PixelSet inner;
    for (int y = 3; y < 8; ++y)
        for (int x = 3; x < 8; ++x) inner.insert({x, y});
    EXPECT_EQ(c.PixelsOf(kRed), inner);
    EXPECT_EQ(c.PixelsOf(kBlack).size(), 24u);  // the 7 x 7 ring, all four vertices included
    EXPECT_EQ(GetPixel(c.dc(), 8, 8), kBlack);
}

TEST_F(Polygons, NullBrushDrawsOnlyTheOutlineAndNullPenOnlyTheFill) {
    Canvas c(12, 12);
    Draw(c, {{2, 2}, {8, 2}, {8, 8}, {2, 8}}, GetStockObject(BLACK_PEN),
         GetStockObject(NULL_BRUSH));
    EXPECT_EQ(c.PixelsOf(kBlack).size(), 24u);
    EXPECT_EQ(c.CountNot(kWhite), 24);
    c.Clear(kWhite);
    Draw(c, {{2, 2}, {8, 2}, {8, 8}, {2, 8}}, GetStockObject(NULL_PEN), GetStockObject(NULL_BRUSH));
    EXPECT_EQ(c.CountNot(kWhite), 0);
}

TEST_F(Polygons, FillMatchesAnEvenOddTestAtPixelCentres) {
    std::mt19937 rng(11);
    std::uniform_int_distribution<int> coord(-20, 70);
    const std::vector<std::vector<POINT>> fixed = {
        {{25, 2},
         {37, 45},
         {3, 17},
         {47, 17},
         {13, 45}},                       // pentagram: alternate rule leaves a hole
        {{-15, -10}, {40, 5}, {10, 70}},  // reaches outside on the left and top
    };
    std::vector<std::vector<POINT>> polys = fixed;
    for (int k = 0; k < 40; ++k) {
        std::vector<POINT> p;
        const int n = 3 + k % 6;
        for (int i = 0; i < n; ++i) p.push_back({coord(rng), coord(rng)});
        polys.push_back(p);
    }
    for (const auto& p : polys) {
        Canvas c(50, 50);
        Draw(c, p, GetStockObject(NULL_PEN), red_);
        for (int y = 0; y < 50; ++y)
            for (int x = 0; x < 50; ++x) {
                if (NearEdge(x + 0.5, y + 0.5, p, 1e-9)) continue;
                ASSERT_EQ(GetPixel(c.dc(), x, y) == kRed, InsideEvenOdd(x + 0.5, y + 0.5, p))
                    << "pixel " << x << "," << y << " polygon of " << p.size();
            }
    }
}

TEST_F(Polygons, PolygonsCoveringTheBitmapFromHugeCoordinatesFillEverything) {
    Canvas c(40, 30);
    Draw(c,
         {{-2000000000, -2000000000},
          {2000000000, -2000000000},
          {2000000000, 2000000000},
          {-2000000000, 2000000000}},
         GetStockObject(NULL_PEN), red_);
    EXPECT_EQ(c.PixelsOf(kRed).size(), 40u * 30u);
}

TEST_F(Polygons, TwoPointPolygonDrawsItsOutlineOnly) {
    Canvas c(10, 10);
    Draw(c, {{1, 1}, {6, 1}}, GetStockObject(BLACK_PEN), red_);
    EXPECT_EQ(c.PixelsOf(kRed).size(), 0u);
    EXPECT_EQ(c.PixelsOf(kBlack).size(), 6u);  // there and back: 1..5, then 6..2
}

TEST(FillRect, FillsLeftAndTopButNotRightAndBottomClipped) {
    Canvas c(10, 10);
    HBRUSH red = CreateSolidBrush(kRed);
    RECT r{-5, 7, 3, 100};
    EXPECT_NE(FillRect(c.dc(), &r, red), 0);
    EXPECT_EQ(c.PixelsOf(kRed).size(), 3u * 3u);
    EXPECT_EQ(GetPixel(c.dc(), 2, 9), kRed);
    EXPECT_EQ(GetPixel(c.dc(), 3, 9), kWhite);
    EXPECT_EQ(FillRect(c.dc(), &r, nullptr), 0);
    DeleteObject(red);
}
