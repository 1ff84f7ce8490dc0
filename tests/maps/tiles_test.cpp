// tiles_test.cpp: the tile matrix sets have the levels, scales, origins and tile counts their
// capabilities state; a metatile's tiles are the pieces of the engine's one view of its window
// (so a seeding tool and the service give the same pixels), and the same bytes whatever the
// engine drew and queried before; the tile cache drops the least recently used tile first; a
// coordinate system, which owns its spatial reference, is moved, never copied.
#include "kmaps/tiles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "data/store.h"
#include "kmaps/render.h"
#include "kmaps/warp.h"
#include "test_support/png.h"

namespace {

using kmaps::Box;
using kmaps::TileMatrixSet;

// A copy would free the spatial reference twice.
static_assert(!std::is_copy_constructible_v<kmaps::Crs> && !std::is_copy_assignable_v<kmaps::Crs>);
static_assert(std::is_nothrow_move_constructible_v<kmaps::Crs>);

// The sample city: tiles of 10 km from x 260000 to 330000 and y 2730000 to 2790000.
constexpr Box kSampleExtent{260000, 2730000, 330000, 2790000};

TEST(TileMatrixSets, NativeLevelsHalveFrom128MetresAndCoverTheExtent) {
    const auto grid = kmaps::Crs::make("EPSG:3826");
    ASSERT_TRUE(grid);
    const TileMatrixSet s = TileMatrixSet::native(*grid, kSampleExtent);
    EXPECT_EQ(s.id(), "native");
    EXPECT_EQ(s.ogc_id(), "native");
    EXPECT_EQ(s.uri(), "");
    EXPECT_EQ(s.crs_urn(), "urn:ogc:def:crs:EPSG::3826");
    ASSERT_EQ(s.matrices().size(), 8u);
    for (int level = 0; level < 8; ++level) {
        const auto* m = s.matrix(level);
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->resolution, 128.0 / (1 << level));
        EXPECT_EQ(m->left, 260000);
        EXPECT_EQ(m->top, 2790000);
        EXPECT_EQ(m->cols, static_cast<long>(std::ceil(70000 / (256 * m->resolution))));
        EXPECT_EQ(m->rows, static_cast<long>(std::ceil(60000 / (256 * m->resolution))));
    }
    EXPECT_EQ(s.matrix(8), nullptr);
    EXPECT_EQ(s.matrix(-1), nullptr);
    const Box tile = s.matrix(5)->box(16, 40);  // 4 m a pixel: 1024 m a tile
    EXPECT_EQ(tile.minx, 260000 + 40 * 1024);
    EXPECT_EQ(tile.maxy, 2790000 - 16 * 1024);
    EXPECT_EQ(tile.maxx - tile.minx, 1024);
}

TEST(TileMatrixSets, GoogleMapsCompatibleHasTheWellKnownScales) {
    const TileMatrixSet s = TileMatrixSet::google_maps_compatible();
    EXPECT_EQ(s.crs(), "EPSG:3857");
    EXPECT_EQ(s.id(), "GoogleMapsCompatible");
    EXPECT_EQ(s.ogc_id(), "WebMercatorQuad");
    EXPECT_EQ(s.uri(), "http://www.opengis.net/def/tilematrixset/OGC/1.0/WebMercatorQuad");
    EXPECT_EQ(s.well_known_scale_set(), "urn:ogc:def:wkss:OGC:1.0:GoogleMapsCompatible");
    EXPECT_EQ(s.well_known_scale_set_uri(),
              "http://www.opengis.net/def/wkss/OGC/1.0/GoogleMapsCompatible");
    ASSERT_EQ(s.matrices().size(), 19u);
    EXPECT_NEAR(s.matrix(0)->scale_denominator(), 559082264.0287178, 1e-3);
    EXPECT_NEAR(s.matrix(18)->scale_denominator(), 2132.729583849784, 1e-6);
    EXPECT_EQ(s.matrix(18)->cols, 1L << 18);
    const Box world = s.matrix(0)->box(0, 0);
    EXPECT_NEAR(world.minx, -20037508.3427892, 1e-6);
    EXPECT_NEAR(world.maxy, 20037508.3427892, 1e-6);
}

TEST(TileKeys, NameTheFactorOnlyWhenItIsNotOneAndJpegFiles) {
    using kmaps::TileFormat;
    EXPECT_EQ((kmaps::TileKey{"native", 5, 18, 41, 1}.text()), "native/5/18/41");
    EXPECT_EQ((kmaps::TileKey{"native", 5, 18, 41, 2}.text()), "native/5/18/41@2x");
    EXPECT_EQ((kmaps::TileKey{"native", 5, 18, 41, 2, TileFormat::jpeg}.text()),
              "native/5/18/41@2x.jpg");
}

TEST(TileCache, DropsTheLeastRecentlyUsedTileFirst) {
    kmaps::TileCache cache(2);
    const auto png = [](const char* s) { return std::make_shared<const std::string>(s); };
    cache.add("a", png("A"));
    cache.add("b", png("B"));
    ASSERT_TRUE(cache.find("a"));  // "b" is now the least recently used
    cache.add("c", png("C"));
    EXPECT_EQ(cache.size(), 2u);
    EXPECT_FALSE(cache.find("b"));
    EXPECT_EQ(*cache.find("a"), "A");
    cache.add("a", png("other"));  // held already: kept as it was
    EXPECT_EQ(*cache.find("a"), "A");
}

class Metatiles : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        data_ = new kmaps::DataSet;
        std::string error;
        if (!data_->open(KESTREL_SAMPLE_DIR, kmaps::kDefaultGrid, error)) FAIL() << error;
    }
    static void TearDownTestSuite() { delete data_; }
    static kmaps::DataSet* data_;
};
kmaps::DataSet* Metatiles::data_ = nullptr;

struct Place {
    const char* name;
    int level;
    long metarow, metacol;
    int rows, cols;
    int factor = 1;
};

class NativeMetatiles : public Metatiles, public ::testing::WithParamInterface<Place> {};

TEST_P(NativeMetatiles, ArePiecesOfTheEngineViewOfTheirWindow) {
    const Place& at = GetParam();
    const TileMatrixSet set = TileMatrixSet::native(data_->native(), data_->extent());
    std::string error;
    const auto meta =
        kmaps::render_metatile(*data_, set, at.level, at.metarow, at.metacol, at.factor, error);
    ASSERT_TRUE(meta) << error;
    ASSERT_EQ(meta->rows, at.rows);
    ASSERT_EQ(meta->cols, at.cols);
    ASSERT_EQ(meta->png.size(), static_cast<size_t>(at.rows * at.cols));
    const kmaps::TileMatrix& m = *set.matrix(at.level);
    const Box box = m.box(meta->row, meta->col, at.rows, at.cols);
    const int side = 256 * at.factor;
    const auto view = data_->engine().draw(
        static_cast<int>(std::lround(box.minx)), static_cast<int>(std::lround(box.maxy)),
        at.cols * side, at.rows * side, m.resolution, true, {}, false, kmaps::kWhite, at.factor);
    ASSERT_TRUE(view);
    for (int r = 0; r < at.rows; ++r)
        for (int c = 0; c < at.cols; ++c) {
            const auto tile = test_support::decode_png(meta->tile(meta->row + r, meta->col + c));
            ASSERT_TRUE(tile);
            ASSERT_EQ(tile->width, side);
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x)
                    ASSERT_EQ(tile->at(x, y), view->at(c * side + x, r * side + y))
                        << "tile " << r << "," << c << " pixel " << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Places, NativeMetatiles,
                         ::testing::Values(Place{"in_the_city", 5, 4, 10, 4, 4},
                                           Place{"at_the_bottom_right_edge", 5, 14, 17, 3, 1},
                                           Place{"the_whole_first_level", 0, 0, 0, 2, 3},
                                           Place{"in_the_city_at_2x", 5, 4, 10, 4, 4, 2},
                                           Place{"at_the_edge_at_3x", 5, 14, 17, 3, 1, 3}),
                         [](const auto& info) { return std::string(info.param.name); });

// The pictures of the web path at the corner of the sample city's tiles 276029, 276030,
// 277029 and 277030 (x 300000, y 2770000), where strokes and names of four tiles meet, each
// drawn first in a fresh engine and then after another view and road queries have loaded the
// same tiles into other cache slots: the same bytes. The engine's classic order (cache slots)
// draws the second picture from the tiles in another order, and its names and points of
// interest win other places.
TEST_F(Metatiles, ArePicturesOfTheRequestAloneWhateverTheEngineDrewOrQueriedBefore) {
    kmaps::Engine& engine = data_->engine();
    const TileMatrixSet google = TileMatrixSet::google_maps_compatible();
    const TileMatrixSet native = TileMatrixSet::native(data_->native(), data_->extent());
    const auto metatile = [&](const TileMatrixSet& set, int level, long row, long col) {
        std::string error, bytes;
        const auto meta = kmaps::render_metatile(*data_, set, level, row, col, 1, error);
        EXPECT_TRUE(meta) << error;
        if (meta)
            for (const auto& png : meta->png) bytes += png;
        return bytes;
    };
    const auto map = [&](double scale) {
        const int w = 800, h = 600;
        const auto png = engine.draw_png(300000 - static_cast<int>(w / 2 * scale),
                                         2770000 + static_cast<int>(h / 2 * scale), w, h, scale,
                                         true, {0}, false, kmaps::kWhite);
        EXPECT_TRUE(png);
        return png.value_or("");
    };
    const std::vector<std::pair<const char*, std::function<std::string()>>> pictures = {
        {"google level 15 metatile", [&] { return metatile(google, 15, 3507, 6860); }},
        {"native level 5 metatile", [&] { return metatile(native, 5, 4, 9); }},
        {"5 m a pixel map with points of interest", [&] { return map(5); }},
        {"100 m a pixel map with points of interest", [&] { return map(100); }},
    };
    namespace data = kestrel::data;
    for (const auto& [name, draw] : pictures) {
        data::empty_tile_cache();
        const std::string fresh = draw();
        // Tiles 277030, 277029 and 277028 drawn (slots 0 to 2, east to west), then roads
        // queried in tiles 276029 and 276030 (slots 3 and 4): the corner's four tiles lie in
        // the cache in another order than a fresh engine's.
        data::empty_tile_cache();
        ASSERT_TRUE(engine.draw(285000, 2776000, 2000, 500, 10, true, {}, false, kmaps::kWhite));
        engine.road_at(295000, 2765000, 10);
        engine.road_at(305000, 2765000, 10);
        ASSERT_GT(data::find_slot(276029), data::find_slot(277029)) << "the cache is not permuted";
        EXPECT_TRUE(draw() == fresh) << name;
    }
}

TEST_F(Metatiles, OutsideTheMatrixOrAtAnotherFactorNothingIsDrawn) {
    const TileMatrixSet set = TileMatrixSet::google_maps_compatible();
    std::string error;
    EXPECT_FALSE(kmaps::render_metatile(*data_, set, 2, 1, 0, 1, error));  // 4 x 4 tiles: one
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(kmaps::render_metatile(*data_, set, 2, 0, 0, 0, error));
    EXPECT_FALSE(kmaps::render_metatile(*data_, set, 2, 0, 0, 4, error));
    EXPECT_FALSE(kmaps::render_metatile(*data_, set, 19, 0, 0, 1, error));
    // Far from the data set the tiles of another system are transparent.
    const auto far = kmaps::render_metatile(*data_, set, 3, 0, 0, 1, error);
    ASSERT_TRUE(far) << error;
    const auto tile = test_support::decode_png(far->png.front());
    ASSERT_TRUE(tile);
    EXPECT_EQ(tile->at(128, 128) >> 24, 0u);
}

}  // namespace
