// pixel_map_test.cpp: the view's fast pixel mapping gives exactly the pixel of the double
// division for whole and fractional scales, near multiples of the scale, and for differences
// at and beyond the ends of the fast path's range; at scale factors 2 and 3 it gives the
// difference times the factor divided by the scale (exactly, for whole scales); a feature's
// vertices mapped in one run give the pixels of mapping each, at every factor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "render/view.h"

using kestrel::render::PixelMap;
using kestrel::render::to_point_wide;

class PixelMapScale : public ::testing::TestWithParam<double> {};

TEST_P(PixelMapScale, GivesThePixelOfTheDoubleDivision) {
    const double scale = GetParam();
    const int32_t left = 302000, top = 2770000;
    const PixelMap map(left, top, scale);
    std::vector<int64_t> offsets;
    const auto whole = static_cast<int64_t>(scale);
    for (int64_t k : {int64_t{0}, int64_t{1}, int64_t{7}, int64_t{1000}, int64_t{1} << 20})
        for (int64_t d : {int64_t{-1}, int64_t{0}, int64_t{1}})
            for (int64_t sign : {-1, 1}) offsets.push_back(sign * (k * whole + d));
    for (int64_t edge : {int64_t{1} << 31, int64_t{1} << 32, int64_t{1} << 40})
        for (int64_t d : {int64_t{-2}, int64_t{-1}, int64_t{0}, int64_t{1}})
            offsets.insert(offsets.end(), {edge + d, -edge + d});
    std::mt19937_64 rng(20);
    for (int i = 0; i < 20000; ++i)
        offsets.push_back(static_cast<int64_t>(rng() % (uint64_t{1} << 33)) - (int64_t{1} << 32));
    for (int64_t o : offsets) {
        const int64_t x = left + o, y = top - o;
        const POINT want = to_point_wide(x, y, left, top, scale);
        const POINT got = map(x, y);
        ASSERT_EQ(got.x, want.x) << "offset " << o << " scale " << scale;
        ASSERT_EQ(got.y, want.y) << "offset " << o << " scale " << scale;
    }
}

// The pixel of a difference d at factor f: d * f / scale truncated toward zero, in integers for
// whole scales, pinned to the int32 range.
int32_t exact_pixel(int64_t d, int f, double scale) {
    const auto whole = static_cast<int64_t>(scale);
    double q;
    if (scale == static_cast<double>(whole)) {
        const int64_t n = d * f / whole;
        q = static_cast<double>(n);
    } else {
        q = std::trunc(static_cast<double>(d * f) / scale);
    }
    return static_cast<int32_t>(std::clamp(q, -2147483648.0, 2147483647.0));
}

TEST_P(PixelMapScale, AtFactorsTwoAndThreeGivesTheDifferenceTimesTheFactorOverTheScale) {
    const double scale = GetParam();
    const int32_t left = 302000, top = 2770000;
    std::mt19937_64 rng(22);
    for (int f : {2, 3}) {
        const PixelMap map(left, top, scale, f);
        std::vector<int64_t> offsets;
        const auto whole = static_cast<int64_t>(scale);
        for (int64_t k : {int64_t{0}, int64_t{1}, int64_t{7}, int64_t{1000}, int64_t{1} << 20})
            for (int64_t d : {int64_t{-1}, int64_t{0}, int64_t{1}})
                for (int64_t sign : {-1, 1}) offsets.push_back(sign * (k * whole + d));
        for (int64_t edge : {(int64_t{1} << 31) / f, int64_t{1} << 32})
            for (int64_t d : {int64_t{-1}, int64_t{0}, int64_t{1}})
                offsets.insert(offsets.end(), {edge + d, -edge + d});
        for (int i = 0; i < 5000; ++i)
            offsets.push_back(static_cast<int64_t>(rng() % (uint64_t{1} << 33)) -
                              (int64_t{1} << 32));
        for (int64_t o : offsets) {
            const POINT got = map(left + o, top - o);
            ASSERT_EQ(got.x, exact_pixel(o, f, scale)) << "offset " << o << " factor " << f;
            ASSERT_EQ(got.y, exact_pixel(o, f, scale)) << "offset " << o << " factor " << f;
        }
    }
}

TEST_P(PixelMapScale, RunsOfVerticesGiveThePixelsOfEachVertex) {
    struct Vertex {
        int16_t x, y;
    };
    const double scale = GetParam();
    const int32_t left = 302000, top = 2770000;
    std::mt19937 rng(21);
    std::uniform_int_distribution<int> offset(INT16_MIN, INT16_MAX);
    std::vector<Vertex> v(13);
    std::vector<POINT> got(v.size());
    for (int f : {1, 2, 3}) {
        const PixelMap map(left, top, scale, f);
        // Origins near the view, and at and beyond the differences that the run can take at once.
        const int64_t reach = ((int64_t{1} << 31) - 1 - (int64_t{INT16_MAX} + 1) * f) / f;
        const int64_t origins[] = {0, 1000, -77777, reach, reach + 1, -reach, -reach - 1};
        for (int64_t ox : origins)
            for (int64_t oy : origins)
                for (size_t count = 1; count <= v.size(); ++count) {
                    for (Vertex& p : v)
                        p = Vertex{static_cast<int16_t>(offset(rng)),
                                   static_cast<int16_t>(offset(rng))};
                    const POINT untouched{-7, -7};
                    std::fill(got.begin(), got.end(), untouched);
                    map.map_offsets(left + ox, top - oy, v.data(), static_cast<int>(count),
                                    got.data());
                    for (size_t i = 0; i < v.size(); ++i) {
                        const POINT want =
                            i < count ? map(left + ox + v[i].x, top - oy + v[i].y) : untouched;
                        ASSERT_EQ(got[i].x, want.x)
                            << "vertex " << i << " of " << count << " at " << ox;
                        ASSERT_EQ(got[i].y, want.y)
                            << "vertex " << i << " of " << count << " at " << oy;
                    }
                }
    }
}

INSTANTIATE_TEST_SUITE_P(WholeAndFractionalScales, PixelMapScale,
                         ::testing::Values(1.0, 2.0, 3.0, 20.0, 51.0, 1000.0, 1048576.0, 1048577.0,
                                           1.5, 19.53125, 0.1 * 3));
