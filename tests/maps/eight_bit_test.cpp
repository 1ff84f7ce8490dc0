// eight_bit_test.cpp: maps and tiles drawn into 8-bit surfaces with the map's palette equal the
// same maps drawn into 32-bit surfaces: the pictures pixel for pixel (expanded through the
// palette), the PNG and GIF files and the metatiles' PNG files byte for byte, in the data set's
// grid (views and stretched maps), in EPSG:3857 and in EPSG:4326 (warped), at scale factors 1,
// 2 and 3, on views of the sample city and, when the extract lies beside the source tree, of
// central Taipei imported with kimport. The 8-bit files are also decoded by Pillow and compared
// with the 32-bit picture.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "kmaps/dataset.h"
#include "kmaps/render.h"
#include "kmaps/tiles.h"
#include "test_support/temp_dir.h"

namespace {

using kmaps::Box;

struct Place {
    const char* name;
    double x, y;  // the centre of the views, in the grid
};
constexpr Place kSample{"Sample", 300000, 2770000};
constexpr Place kTaipei{"Taipei", 303000, 2771500};

// The data sets, opened once each: the sample city, and central Taipei imported by kimport
// (null when the extract is not there or does not import).
kmaps::DataSet* open_data(const Place& place) {
    static std::unique_ptr<kmaps::DataSet> sample, taipei;
    static std::unique_ptr<test_support::TempDir> dir;
    std::string error;
    if (std::string(place.name) == kSample.name) {
        if (!sample) {
            sample = std::make_unique<kmaps::DataSet>();
            if (!sample->open(KESTREL_SAMPLE_DIR, kmaps::kDefaultGrid, error)) sample.reset();
        }
        return sample.get();
    }
#if defined(KIMPORT_PATH)
    if (!taipei && !dir) {
        dir = std::make_unique<test_support::TempDir>();
        const std::string r = KIMPORT_REALDATA_DIR;
        const std::string command =
            std::string(KIMPORT_PATH) + " -q " + r + "/taipei_osm_roads.geojson " + r +
            "/taipei_osm_paths.geojson " + r + "/taipei_osm_pois.geojson " + r +
            "/taipei_osm_admin_boundary_lines.geojson --districts " + r +
            "/taipei_town_districts.geojson --district-field TNAME -o " + dir->file("taipei");
        taipei = std::make_unique<kmaps::DataSet>();
        if (std::system(command.c_str()) != 0 ||
            !taipei->open(dir->file("taipei"), kmaps::kDefaultGrid, error))
            taipei.reset();
    }
#endif
    return taipei.get();
}

// The RGB bytes of an image file as Pillow decodes it; empty when it cannot.
std::string pillow_rgb(const std::string& file, const test_support::TempDir& dir) {
    const std::string in = dir.file("map"), out = dir.file("map.rgb");
    std::ofstream(in, std::ios::binary) << file;
    const std::string command =
        "/usr/bin/python3 -c \"import sys; from PIL import Image; "
        "open(sys.argv[2], 'wb').write(Image.open(sys.argv[1])"
        ".convert('RGB').tobytes())\" " +
        in + " " + out;
    if (std::system(command.c_str()) != 0) return {};
    std::ostringstream bytes;
    bytes << std::ifstream(out, std::ios::binary).rdbuf();
    return bytes.str();
}

// The RGB bytes of an opaque picture.
std::string rgb_of(const kmaps::Image& im) {
    std::string rgb;
    for (uint32_t p : im.pixels) rgb += {char(p >> 16), char(p >> 8), char(p)};
    return rgb;
}

// The pixels where two pictures differ.
long differing(const kmaps::Image& a, const kmaps::Image& b) {
    if (a.width != b.width || a.height != b.height) return -1;
    long n = 0;
    for (size_t i = 0; i < a.pixels.size(); ++i) n += a.pixels[i] != b.pixels[i];
    return n;
}

using Case = std::tuple<Place, const char*, int>;  // data set, system, factor

class EightBitMaps : public ::testing::TestWithParam<Case> {};

TEST_P(EightBitMaps, EqualTheir32BitPicturesAndFiles) {
    const auto& [place, system, factor] = GetParam();
    kmaps::DataSet* data = open_data(place);
    if (data == nullptr && std::string(place.name) != kSample.name)
        GTEST_SKIP() << "no imported extract";
    ASSERT_NE(data, nullptr);
    const auto crs = data->system(system);
    ASSERT_TRUE(crs);
    kmaps::Engine& engine = data->engine();
    const test_support::TempDir dir;
    struct View {
        double scale;   // grid metres a pixel of the 1x map
        double aspect;  // y scale over x scale (not 1: a stretched map in the grid)
        bool transparent;
        std::vector<int> pois;
    };
    const View views[] = {{1.5, 1, false, {}},  {5, 1, false, {0}},  {20, 1, true, {}},
                          {60, 1.3, false, {}}, {150, 1, false, {}}, {600, 1, true, {0}}};
    const int side = 256 * factor;
    for (const View& v : views) {
        SCOPED_TRACE("scale " + std::to_string(v.scale) + " aspect " + std::to_string(v.aspect));
        const double hw = 128 * v.scale, hh = 128 * v.scale * v.aspect;
        const Box grid{place.x - hw, place.y - hh, place.x + hw, place.y + hh};
        const auto box = kmaps::transform_box(data->native(), *crs, grid);
        ASSERT_TRUE(box);
        const kmaps::Layers layers{true, v.pois};
        std::string error;
        kmaps::Image picture[2];
        std::string png[2], gif[2];
        for (int eight = 0; eight < 2; ++eight) {
            engine.set_eight_bit(eight == 1);
            auto im = kmaps::render_map(*data, *crs, *box, side, side, layers, v.transparent,
                                        0xFFFFFF, error, true, factor);
            ASSERT_TRUE(im) << error;
            EXPECT_EQ(engine.last_surface_bits(), eight ? 8 : 32);
            picture[eight] = std::move(*im);
            png[eight] = kmaps::draw_map_file(*data, *crs, *box, side, side, layers, "image/png",
                                              v.transparent, 0xFFFFFF, factor)
                             .body;
            gif[eight] = kmaps::draw_map_file(*data, *crs, *box, side, side, layers, "image/gif",
                                              v.transparent, 0xFFFFFF, factor)
                             .body;
        }
        EXPECT_EQ(differing(picture[0], picture[1]), 0);
        EXPECT_FALSE(png[1].empty());
        EXPECT_TRUE(png[0] == png[1]) << "the PNG files differ";
        EXPECT_TRUE(gif[0] == gif[1]) << "the GIF files differ";
        if (!v.transparent) {
            EXPECT_TRUE(pillow_rgb(png[1], dir) == rgb_of(picture[0])) << "PNG through Pillow";
            EXPECT_TRUE(pillow_rgb(gif[1], dir) == rgb_of(picture[0])) << "GIF through Pillow";
        }
    }
    // Metatiles of the grid's own set (levels 3 and 5) or of the Web Mercator one, over the
    // views' centre.
    if (std::string(system) == "EPSG:4326") return;
    const bool native = std::string(system) == data->native().name();
    const kmaps::TileMatrixSet set =
        native ? kmaps::TileMatrixSet::native(data->native(), data->extent())
               : kmaps::TileMatrixSet::google_maps_compatible();
    const auto centre = kmaps::transform_point(data->native(), *crs, place.x, place.y);
    ASSERT_TRUE(centre);
    for (int level : native ? std::vector<int>{3, 5} : std::vector<int>{12, 15}) {
        const kmaps::TileMatrix* m = set.matrix(level);
        ASSERT_NE(m, nullptr);
        const double span = kmaps::kTileSize * m->resolution * kmaps::kMetatileTiles;
        const long row = static_cast<long>((m->top - centre->second) / span);
        const long col = static_cast<long>((centre->first - m->left) / span);
        std::vector<std::string> tiles[2];
        for (int eight = 0; eight < 2; ++eight) {
            engine.set_eight_bit(eight == 1);
            std::string error;
            const auto meta = kmaps::render_metatile(*data, set, level, row, col, factor, error);
            ASSERT_TRUE(meta) << error;
            tiles[eight] = meta->png;
        }
        EXPECT_TRUE(tiles[0] == tiles[1]) << "level " << level << ": the tiles differ";
    }
    engine.set_eight_bit(true);
}

INSTANTIATE_TEST_SUITE_P(Views, EightBitMaps,
                         ::testing::Combine(::testing::Values(kSample, kTaipei),
                                            ::testing::Values("EPSG:3826", "EPSG:3857",
                                                              "EPSG:4326"),
                                            ::testing::Values(1, 2, 3)),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             std::string crs = std::get<1>(info.param);
                             crs = crs.substr(crs.find(':') + 1);
                             return std::string(std::get<0>(info.param).name) + "Epsg" + crs +
                                    "At" + std::to_string(std::get<2>(info.param));
                         });

}  // namespace
