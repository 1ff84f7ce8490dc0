// data_files_test.cpp: the maps library reads a data set's files as the engine does: the district
// list keeps every code the engine keeps (codes above 999 too), and the points of interest (the
// categories, the features and a feature by its id) come from the block of each tile as the
// engine finds it, on a data set built byte by byte from the format tables with the forms that
// once read differently: a tile listed twice, tile numbers 0 and below, a tile whose first
// entry holds nothing, a block that is not whole in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "kmaps/engine.h"
#include "kmaps/feature_store.h"
#include "test_support/temp_dir.h"

namespace {

void put16(std::vector<uint8_t>& out, int v) {
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t((v >> 8) & 0xff));
}
void put32(std::vector<uint8_t>& out, int32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t((uint32_t(v) >> (8 * i)) & 0xff));
}

// A 40-byte point record of dat44_1.bin: int16 x, y, district, category, int32 note (-1: none),
// 28 bytes of blank-padded name.
void put_point(std::vector<uint8_t>& out, int x, int y, int category, const std::string& name) {
    put16(out, x);
    put16(out, y);
    put16(out, 101);
    put16(out, category);
    put32(out, -1);
    std::string padded = name;
    padded.resize(28, ' ');
    out.insert(out.end(), padded.begin(), padded.end());
}

void write(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class DataFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        write(dir.file("d4.txt"), "100 277025\n1234 277025\n999 277026\n99 277027\n");
        write(dir.file("dat44_2.bin"), "");
        write(dir.file("alldist.txt"), "");
        write(dir.file("dist.emf"), "no metafile: the base map is then not drawn");
        // The index (500 entries of int32 tile, last index, offset), then the blocks.
        const int32_t kA = 6000, kB = kA + 80, kC = kB + 40;
        const int32_t entries[][3] = {
            {277025, 1, kA},  // 277025's block: categories 3 and 4
            {277025, 0, kB},  // the same tile again: never read
            {0, 0, kB},       // tile 0 numbers no tile
            {-5, 0, kB},      // nor does a negative number
            {277026, -7, 0},  // 277026's block holds nothing ...
            {277026, 0, kC},  // ... and hides this one
            {277027, 3, kC},  // four records from kC run past the end of the file
        };
        std::vector<uint8_t> points;
        for (const auto& e : entries)
            for (const int32_t field : e) put32(points, field);
        while (points.size() < 6000) {
            put32(points, 0);
            put32(points, -1);
            put32(points, 0);
        }
        put_point(points, 100, 200, 3, "A0");
        put_point(points, 300, 400, 4, "A1");
        put_point(points, 500, 600, 9, "B0");
        put_point(points, 700, 800, 8, "C0");
        write(dir.file("dat44_1.bin"), std::string(points.begin(), points.end()));
    }

    test_support::TempDir dir;
};

TEST_F(DataFiles, TheDistrictListKeepsEveryCodeTheEngineKeeps) {
    kmaps::Engine engine;
    ASSERT_TRUE(engine.load(dir.path()));
    EXPECT_EQ(engine.districts(), (std::vector<int>{100, 999, 1234}));
}

TEST_F(DataFiles, PointsOfInterestComeFromEachTilesBlockAsTheEngineFindsIt) {
    kmaps::Engine engine;
    ASSERT_TRUE(engine.load(dir.path()));
    EXPECT_EQ(engine.categories(), (std::vector<int>{3, 4}));

    kmaps::FeatureStore store;
    std::string error;
    ASSERT_TRUE(store.open(dir.path(), kmaps::Box{0, 0, 1, 1}, error)) << error;
    const kmaps::FeaturePage page = store.pois(kmaps::FeatureQuery::everything(), {}, 100);
    std::vector<std::string> names;
    for (const kmaps::Feature& f : page.features) names.push_back(f.name);
    EXPECT_EQ(names, (std::vector<std::string>{"A0", "A1"}));
    EXPECT_FALSE(page.next);
    const auto a1 = store.poi(27702500001);
    ASSERT_TRUE(a1);
    EXPECT_EQ(a1->type, 4);
    EXPECT_EQ(a1->points, (std::vector<std::pair<double, double>>{{250300, 2770400}}));
    for (const std::int64_t hidden : {27702600000L, 27702700000L, 5L})
        EXPECT_FALSE(store.poi(hidden)) << hidden;

    // The engine's own report of a window over the three tiles names the same points.
    const auto near = engine.pois_near(260000, 2770000, 15000, 0);
    ASSERT_TRUE(near);
    std::vector<std::string> reported;
    for (const kmaps::Place& p : *near) reported.push_back(p.name);
    std::sort(reported.begin(), reported.end());
    EXPECT_EQ(reported, names);
}

}  // namespace
