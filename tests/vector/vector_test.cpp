// The vector tiles' geometry steps on hand-made shapes, and the builder and the style on the
// fixture data set: what each would get wrong is named in its case.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>

#include "geometry.h"
#include "kmaps/vector/style.h"
#include "test_support/temp_dir.h"
#include "vector_fixture.h"

namespace {

namespace vec = kmaps::vector;
namespace geo = kmaps::vector::geometry;
using Ring = std::vector<geo::IPoint>;

// A ring as a comparable value: rotated to start at its least point, its winding kept.
Ring normal(Ring r) {
    std::rotate(r.begin(),
                std::min_element(r.begin(), r.end(),
                                 [](auto a, auto b) { return a.x != b.x ? a.x < b.x : a.y < b.y; }),
                r.end());
    return r;
}

std::vector<Ring> clip(const std::vector<std::vector<geo::Point>>& rings) {
    geo::Parts<geo::Point> in, out;
    in.clear();
    for (const auto& r : rings) {
        in.points.insert(in.points.end(), r.begin(), r.end());
        in.close_part();
    }
    out.clear();
    geo::clip_polygon(in, {0, 0, 100, 100}, out);
    geo::Parts<geo::IPoint> rounded;
    geo::round_parts(out, true, rounded);
    std::vector<Ring> result;
    for (std::size_t i = 0; i < rounded.size(); ++i)
        result.push_back(normal(Ring(rounded.part(i).begin(), rounded.part(i).end())));
    std::sort(result.begin(), result.end(), [](const Ring& a, const Ring& b) {
        return std::lexicographical_compare(
            a.begin(), a.end(), b.begin(), b.end(),
            [](auto p, auto q) { return p.x != q.x ? p.x < q.x : p.y < q.y; });
    });
    return result;
}

struct ClipCase {
    const char* what;
    std::vector<std::vector<geo::Point>> rings;  // exteriors positive, holes negative
    std::vector<Ring> expected;
};

class ClipPolygon : public testing::TestWithParam<ClipCase> {};

// Cut at the square (0, 0)-(100, 100): the pieces inside are joined along the square's edges
// into simple rings, exteriors of positive area and holes negative, as the format wants.
TEST_P(ClipPolygon, GivesSimpleRingsWoundAsTheFormatWants) {
    const ClipCase& c = GetParam();
    const auto got = clip(c.rings);
    ASSERT_EQ(got.size(), c.expected.size()) << c.what;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i], normal(c.expected[i])) << c.what << ", ring " << i;
        EXPECT_TRUE(geo::ring_is_simple(got[i])) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ClipPolygon,
    testing::Values(
        ClipCase{"a square half outside",
                 {{{50, 20}, {150, 20}, {150, 80}, {50, 80}}},
                 {{{50, 20}, {100, 20}, {100, 80}, {50, 80}}}},
        // An arch whose top lies beyond the edge: two legs, not one ring joined by a seam.
        ClipCase{
            "an arch cut into its legs",
            {{{10, 50}, {30, 50}, {30, 120}, {70, 120}, {70, 50}, {90, 50}, {90, 150}, {10, 150}}},
            {{{10, 50}, {30, 50}, {30, 100}, {10, 100}},
             {{70, 50}, {90, 50}, {90, 100}, {70, 100}}}},
        ClipCase{"the square wholly inside a polygon",
                 {{{-50, -50}, {150, -50}, {150, 150}, {-50, 150}}},
                 {{{0, 0}, {100, 0}, {100, 100}, {0, 100}}}},
        ClipCase{
            "a hole wholly inside stays a hole",
            {{{-50, -50}, {150, -50}, {150, 150}, {-50, 150}},
             {{40, 40}, {40, 60}, {60, 60}, {60, 40}}},
            {{{0, 0}, {100, 0}, {100, 100}, {0, 100}}, {{40, 40}, {40, 60}, {60, 60}, {60, 40}}}},
        ClipCase{"a hole across the edge becomes a notch",
                 {{{-50, 10}, {60, 10}, {60, 90}, {-50, 90}},
                  {{-20, 30}, {-20, 70}, {30, 70}, {30, 30}}},
                 {{{0, 10}, {60, 10}, {60, 90}, {0, 90}, {0, 70}, {30, 70}, {30, 30}, {0, 30}}}},
        ClipCase{"a polygon wholly outside", {{{120, 0}, {150, 0}, {150, 50}}}, {}}));

// Every vertex the simplification drops lies within the tolerance of the line it keeps, and a
// vertex farther than that from the chord of its neighbours is never dropped.
TEST(Simplify, KeepsEveryVertexThatMattersAtThePixelSize) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> step(-6, 6);
    Ring line{{0, 0}};
    for (int i = 0; i < 2000; ++i)
        line.push_back({line.back().x + 3 + step(random) / 3, line.back().y + step(random)});
    for (double tolerance : {0.5, 2.0, 8.0}) {
        Ring kept;
        geo::simplify(line, tolerance, false, kept);
        ASSERT_GE(kept.size(), 2u);
        EXPECT_EQ(kept.front(), line.front());
        EXPECT_EQ(kept.back(), line.back());
        EXPECT_LT(kept.size(), line.size());
        // The kept points are a subsequence of the line: each point lies between two of them.
        std::vector<std::size_t> at;
        for (std::size_t i = 0, k = 0; k < kept.size(); ++i)
            if (line[i] == kept[k]) {
                at.push_back(i);
                ++k;
            }
        ASSERT_EQ(at.size(), kept.size());
        for (std::size_t k = 0; k + 1 < at.size(); ++k)
            for (std::size_t i = at[k]; i <= at[k + 1]; ++i) {
                const geo::IPoint a = line[at[k]], b = line[at[k + 1]], p = line[i];
                const double dx = b.x - a.x, dy = b.y - a.y, len2 = dx * dx + dy * dy;
                const double t =
                    len2 > 0 ? std::clamp(((p.x - a.x) * dx + (p.y - a.y) * dy) / len2, 0.0, 1.0)
                             : 0;
                EXPECT_LE(std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy), tolerance + 1e-9);
            }
    }
    const Ring spike = {{0, 0}, {50, 0}, {51, 3}, {52, 0}, {100, 0}};
    Ring kept;
    geo::simplify(spike, 2.0, false, kept);
    EXPECT_NE(std::find(kept.begin(), kept.end(), geo::IPoint{51, 3}), kept.end());
}

TEST(RingIsSimple, RefusesCrossingsAndFoldsAndTakesPlainRings) {
    EXPECT_TRUE(geo::ring_is_simple(Ring{{0, 0}, {10, 0}, {10, 10}, {0, 10}}));
    EXPECT_FALSE(geo::ring_is_simple(Ring{{0, 0}, {10, 10}, {10, 0}, {0, 10}}));  // bow tie
    EXPECT_FALSE(geo::ring_is_simple(Ring{{0, 0}, {10, 0}, {5, 0}, {5, 5}}));     // folds back
    EXPECT_FALSE(geo::ring_is_simple(Ring{{0, 0}, {10, 0}, {10, 10}, {5, 0}, {0, 10}}));  // touches
}

class Builder : public testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(vector_fixture::write(dir_.path() + "/"), "");
        std::string error;
        source_ = vec::DataSource::open(dir_.path(), error);
        ASSERT_TRUE(source_) << error;
    }
    std::string tile(vec::TileBuilder& b, const vec::Box& box, vec::BuildStats* stats = nullptr) {
        std::string out, error;
        EXPECT_TRUE(b.build(box, (box.maxx - box.minx) / 512, out, error, stats)) << error;
        return out;
    }
    test_support::TempDir dir_;
    std::unique_ptr<vec::DataSource> source_;
    vec::IdentityProjection identity_;
};

// The bytes of a tile never depend on the tiles built before, whatever the builder keeps or
// read ahead.
TEST_F(Builder, GivesTheSameBytesWhateverWasBuiltBefore) {
    vec::TileBuilder fresh(*source_, identity_);
    const std::string b = tile(fresh, vector_fixture::kBoxB);
    ASSERT_FALSE(b.empty());
    vec::BuildOptions small;
    small.cache_tiles = 1;
    vec::TileBuilder used(*source_, identity_, small);
    tile(used, vector_fixture::kBoxK);
    tile(used, vector_fixture::kBoxC);
    EXPECT_EQ(tile(used, vector_fixture::kBoxB), b);
    vec::BuildStats stats;
    EXPECT_EQ(tile(fresh, vector_fixture::kBoxB, &stats), b);
    EXPECT_EQ(stats.files_read, 0) << "the tile files were kept from the first build";
    vec::TileBuilder preloaded(*source_, identity_);
    std::string error;
    ASSERT_TRUE(preloaded.preload(vector_fixture::kBoxB, error)) << error;
    EXPECT_EQ(tile(preloaded, vector_fixture::kBoxB, &stats), b);
    EXPECT_EQ(stats.files_read, 0) << "the tile files were read ahead";
}

// Over the byte limit the points of interest go first: the tile fits, its roads stay.
TEST_F(Builder, DropsThePointsOfInterestFirstWhenOverTheByteLimit) {
    vec::BuildStats all, limited;
    vec::TileBuilder plain(*source_, identity_);
    const std::string whole = tile(plain, vector_fixture::kBoxB, &all);
    vec::BuildOptions options;
    options.max_bytes = 4000;
    ASSERT_GT(whole.size(), options.max_bytes);
    vec::TileBuilder builder(*source_, identity_, options);
    const std::string cut = tile(builder, vector_fixture::kBoxB, &limited);
    EXPECT_LE(cut.size(), options.max_bytes);
    EXPECT_EQ(limited.dropped_classes, 1);
    EXPECT_EQ(limited.dropped_features, vector_fixture::kFixturePois);
    EXPECT_EQ(limited.features, all.features - vector_fixture::kFixturePois);
}

TEST_F(Builder, RefusesBoxesAndResolutionsItCannotUseAndDamagedTileFiles) {
    vec::TileBuilder builder(*source_, identity_);
    std::string out = "old", error;
    EXPECT_FALSE(builder.build({0, 0, NAN, 1}, 1, out, error));
    EXPECT_FALSE(builder.build({0, 0, 10, 10}, 0, out, error));
    EXPECT_FALSE(builder.build({0, 0, 10, 10}, 1e-9, out, error));
    EXPECT_TRUE(out.empty());
    EXPECT_NE(error.find("resolution"), std::string::npos);
    // A tile file cut short: the tile is refused, never written without that file's features.
    std::ofstream(dir_.path() + "/276030.dat", std::ios::binary | std::ios::trunc) << "short";
    vec::TileBuilder after(*source_, identity_);
    error.clear();
    EXPECT_FALSE(after.build(vector_fixture::kBoxB, 10, out, error));
    EXPECT_NE(error.find("276030"), std::string::npos) << error;
    EXPECT_TRUE(out.empty());
}

// The value of a zoom-dependent width at `zoom` (a number, or an exponential interpolation of
// base 2 between two stops, clamped at both ends).
double width_at(const nlohmann::json& w, double zoom) {
    if (w.is_number()) return w.get<double>();
    const double z0 = w[3], v0 = w[4], z1 = w[5], v1 = w[6];
    if (zoom <= z0) return v0;
    if (zoom >= z1) return v1;
    const double t = (std::exp2(zoom - z0) - 1) / (std::exp2(z1 - z0) - 1);
    return v0 + t * (v1 - v0);
}

// The style draws the layers in the pictures' order, each road as wide in pixels as the
// picture's pen at that resolution (its metres over the metres a pixel, never under the
// picture's least width), in the colour table's colours.
TEST(Style, FollowsTheColourTableAndThePicturesWidthsAndOrder) {
    kestrel::render::ColourEntry colours[kestrel::render::COLOUR_ENTRIES] = {};
    for (int i = 1; i <= 9; ++i)
        colours[i] = {static_cast<int16_t>(i * 20), 0, 0, static_cast<int16_t>(i * 5)};
    colours[4] = {1, 2, 254, 40};
    vec::StyleOptions options;
    options.tiles = "http://h/{z}/{x}/{y}.mvt";
    options.grid_metres_per_unit = 0.9;
    const auto style = nlohmann::json::parse(vec::style_json(options, colours));
    std::vector<std::string> ids;
    for (const auto& l : style["layers"]) ids.push_back(l["id"]);
    const auto at = [&](const char* id) {
        return std::find(ids.begin(), ids.end(), id) - ids.begin();
    };
    EXPECT_LT(at("areas"), at("lines-10"));
    EXPECT_LT(at("lines-15"), at("roads-3"));
    for (const char* later : {"roads-9", "roads-8", "roads-7", "roads-6", "roads-5", "roads-2",
                              "roads-1", "roads-4", "road-names"})
        EXPECT_LT(at("roads-3"), at(later));
    EXPECT_LT(at("roads-1"), at("roads-4"));
    const auto& motorway = style["layers"][static_cast<std::size_t>(at("roads-4"))];
    EXPECT_EQ(motorway["paint"]["line-color"], "#0102fe");
    // Zoom z of 512-pixel tiles: 0.9 * 78271.517 / 2^z grid metres a pixel.
    for (double metres : {1.0, 2.0, 4.0, 8.0}) {
        const double zoom = std::log2(0.9 * 78271.517 / metres);
        EXPECT_NEAR(width_at(motorway["paint"]["line-width"], zoom), std::max(2.0, 40 / metres),
                    0.01)
            << metres << " m a pixel";
    }
    const auto& service = style["layers"][static_cast<std::size_t>(at("roads-9"))];
    EXPECT_NEAR(width_at(service["paint"]["line-width"], 3), 1.0, 1e-9);  // never under 1 pixel
}

}  // namespace
