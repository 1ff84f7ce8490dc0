// Tests of the data-set writer: tiles written by it and read back by the engine's decoder
// (round trip), its refusals, and the other files of a data set checked byte by byte against
// their layouts and loaded through the engine.
#include "writer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "data/format.h"
#include "data/poi_file.h"
#include "data/store.h"
#include "data/tile_decoder.h"
#include "kestrel.h"
#include "test_support/temp_dir.h"
#include "tile_fixture.h"

namespace kd = kestrel::data;
using kdataset::WorldPoint;

namespace {

constexpr int32_t kTile = 277025;  // south-west corner (250000, 2770000)

std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class WriterRoundTrip : public ::testing::Test {
  protected:
    // Writes `tile`, decodes the file into the test's slot and returns the decoder's verdict.
    const char* write_and_decode(const kdataset::Tile& tile) {
        const std::string path = dir.file(std::to_string(tile.number) + ".dat");
        const std::string why = kdataset::write_tile_file(tile, path, &report);
        EXPECT_EQ(why, "");
        bytes = read_file(path);
        return kd::decode_tile(bytes.data(), bytes.size(), *slot);
    }
    WorldPoint world(int vertex) const {
        const auto& v = slot->vertices[vertex];
        return {slot->header.origin_x + v.x, slot->header.origin_y + v.y};
    }
    std::string name(int index) const { return std::string(slot->names[index].bytes, 20); }

    test_support::TempDir dir;
    kdataset::WriteReport report;
    std::vector<uint8_t> bytes;
    std::unique_ptr<kd::TileSlot> slot = std::make_unique<kd::TileSlot>();
};

TEST_F(WriterRoundTrip, EveryKindOfFeatureReadsBackInSectionOrder) {
    kdataset::Tile t;
    t.number = kTile;
    t.coded.push_back({31, {251000, 2771000}, "B7"});
    t.places.push_back({22, {255000, 2775000}, "Wanhua"});
    t.roads.push_back(
        {3, {{250123, 2770045}, {250200, 2770100}, {250150, 2770000}}, "T1", "Main Rd", 105});
    t.roads.push_back({7, {{259990, 2779990}, {259000, 2778000}}, "", "", 106});
    t.lines.push_back({11, {{250000, 2770000}, {251000, 2770000}, {251000, 2771000}}});
    ASSERT_EQ(write_and_decode(t), nullptr);
    ASSERT_EQ(slot->header.last_record, 4);
    EXPECT_EQ(slot->header.tile_number, kTile);
    const auto* r = slot->records;
    // Section A first.
    EXPECT_EQ(r[0].type, 11);
    EXPECT_EQ(r[0].vertex_count, 3);
    EXPECT_EQ(world(r[0].first_vertex + 2).y, 2771000);
    // Section B: exact points where deltas reach, points inserted on long segments.
    EXPECT_EQ(r[1].type, 3);
    EXPECT_EQ(r[1].vertex_count, 3);
    EXPECT_EQ(world(r[1].first_vertex).x, 250123);
    EXPECT_EQ(world(r[1].first_vertex + 1).y, 2770100);
    EXPECT_EQ(world(r[1].first_vertex + 2).x, 250150);
    EXPECT_EQ(std::string(r[1].code, 4), std::string("T1\0\0", 4));
    EXPECT_EQ(r[1].district, 105);
    EXPECT_EQ(name(r[1].name_index), "Main Rd             ");
    EXPECT_EQ(r[2].type, 7);
    EXPECT_EQ(name(r[2].name_index)[0], ' ');  // unnamed: a blank name
    const int n = r[2].vertex_count;
    EXPECT_EQ(n, 17);  // 1990 m on y needs ceil(1990 / 127) = 16 steps
    EXPECT_EQ(world(r[2].first_vertex + n - 1).x, 259000);
    EXPECT_EQ(world(r[2].first_vertex + n - 1).y, 2778000);
    EXPECT_EQ(report.inserted_vertices, 15);
    // Sections C and D, anchored at their own points.
    EXPECT_EQ(r[3].type, 22);
    EXPECT_EQ(name(r[3].name_index), "Wanhua              ");
    EXPECT_EQ(world(r[3].first_vertex).x, 255000);
    EXPECT_EQ(world(r[3].first_vertex).y, 2775000);
    EXPECT_EQ(r[4].type, 31);
    EXPECT_EQ(std::string(r[4].code, 2), "B7");
    EXPECT_EQ(world(r[4].first_vertex).y, 2771000);
    EXPECT_EQ(report.roads, 2);
    EXPECT_EQ(report.lines, 1);
    EXPECT_EQ(report.points, 2);
    EXPECT_TRUE(report.refused.empty());
}

TEST_F(WriterRoundTrip, NamesAreSharedAndCutWithoutSplittingACharacter) {
    kdataset::Tile t;
    t.number = kTile;
    // 19 ASCII bytes then a two-byte character: cut to 19 bytes.
    const std::string long_name = std::string(19, 'N') + "\xA4\xA4";
    t.roads.push_back({5, {{250000, 2770000}, {250010, 2770000}}, "", long_name, 100});
    t.places.push_back({21, {250000, 2770000}, long_name});
    ASSERT_EQ(write_and_decode(t), nullptr);
    EXPECT_EQ(slot->header.name_last, 0);
    EXPECT_EQ(name(0), std::string(19, 'N') + " ");
}

TEST_F(WriterRoundTrip, FeaturesThatCannotBeStoredAreRefusedWithAReason) {
    kdataset::Tile t;
    t.number = kTile;
    t.roads.push_back({5, {{250000, 2770000}}, "", "one point", 100});
    t.roads.push_back({12, {{250000, 2770000}, {250001, 2770000}}, "", "line type", 100});
    t.roads.push_back({5, {{250000, 2770000}, {290000, 2770000}}, "", "out of reach", 100});
    t.roads.push_back({5, {{250000, 2770000}, {250001, 2770000}}, "ABCDE", "long code", 100});
    t.lines.push_back({21, {{250000, 2770000}, {250001, 2770000}}});
    t.places.push_back({20, {250000, 2770000}, "low type"});
    t.coded.push_back({30, {250000, 2770000}, "XYZ"});
    t.roads.push_back({5, {{250000, 2770000}, {250001, 2770000}}, "", "fine", 100});
    ASSERT_EQ(write_and_decode(t), nullptr);
    EXPECT_EQ(report.refused.size(), 7u);
    EXPECT_EQ(report.roads, 1);
    EXPECT_EQ(slot->header.last_record, 0);
}

TEST_F(WriterRoundTrip, TileFullOfRecordsRefusesTheRest) {
    kdataset::Tile t;
    t.number = kTile;
    t.coded.assign(kd::MAX_RECORDS + 3, {30, {250000, 2770000}, "C"});
    ASSERT_EQ(write_and_decode(t), nullptr);
    EXPECT_EQ(slot->header.last_record, kd::MAX_RECORDS - 1);
    EXPECT_EQ(report.refused.size(), 3u);
}

TEST_F(WriterRoundTrip, TileWithNoNumberIsRefusedAndLeavesNoFile) {
    kdataset::Tile t;
    const std::string path = dir.file("0.dat");
    EXPECT_NE(kdataset::write_tile_file(t, path, nullptr), "");
    EXPECT_FALSE(std::ifstream(path).good());
}

// ---- whole data sets ----------------------------------------------------------------------

class WriterDataSet : public ::testing::Test {
  protected:
    void SetUp() override { kd::reset_all(); }
    void TearDown() override { kd::reset_all(); }

    kdataset::DataSetContent sample() {
        kdataset::DataSetContent c;
        kdataset::Tile t;
        t.roads.push_back({5, {{250000, 2770000}, {250500, 2770300}}, "A", "Road", 101});
        t.roads.push_back({5, {{250000, 2770000}, {250500, 2770300}}, "A", "Road", 100});
        c.tiles[kTile] = t;
        c.tiles[kTile + 1].roads.push_back(
            {4, {{260000, 2770000}, {260100, 2770000}}, "", "", 101});
        c.tile_index = kdataset::derive_tile_index(c.tiles);
        c.pois.push_back({{250100, 2770200}, 101, 7, "Shop", "Open daily"});
        c.pois.push_back({{250300, 2770400}, 101, 8, "Bank", ""});
        c.pois.push_back({{265000, 2781000}, 102, 7, "Park", "Trees"});
        c.catalogue.push_back({kdataset::CatalogueEntry::Polyline, "", {{1, 2}, {3, 4}}});
        c.catalogue.push_back({kdataset::CatalogueEntry::MinorPoint, "Hamlet", {{5, 6}}});
        c.base_map.push_back({true,
                              0x0000ff,
                              0x00ff00,
                              1,
                              {{150000, 2500000}, {300000, 2500000}, {300000, 2700000}}});
        c.base_map.push_back({false, 0xff0000, 0, 2, {{140000, 2800000}, {360000, 2420000}}});
        return c;
    }
    test_support::TempDir dir;
};

TEST_F(WriterDataSet, WrittenDataSetLoadsThroughTheEngine) {
    kdataset::WriteReport report;
    ASSERT_EQ(kdataset::write_dataset(sample(), dir.slash(), &report), "");
    EXPECT_EQ(report.tiles, 2);
    ASSERT_EQ(dllsetpath(dir.slash().c_str()), 1);
    const auto& d = kd::dataset();
    ASSERT_EQ(d.tile_index_last, 2);  // (100, 277025), (101, 277025), (101, 277026)
    EXPECT_EQ(d.tile_index_district[0], 100);
    EXPECT_EQ(d.tile_index_tile[2], kTile + 1);
    EXPECT_EQ(d.poi_index[0].tile, kTile);
    EXPECT_EQ(d.poi_index[0].last, 1);
    EXPECT_EQ(d.poi_index[1].tile, 278026);
    EXPECT_EQ(d.poi_index[2].last, -1);
    ASSERT_EQ(d.place_last, 1);
    EXPECT_EQ(d.places[0].point_count, 2);
    EXPECT_EQ(d.places[1].kind, kd::PLACE_MINOR);
    EXPECT_STREQ(d.places[1].name, "Hamlet");
    EXPECT_EQ(d.points[2].x, 5);
    EXPECT_NE(d.base_map, nullptr);
    EXPECT_EQ(kd::find_or_load_tile(kTile + 1), 0);
}

TEST_F(WriterDataSet, PointsOfInterestFollowTheirRecordLayout) {
    ASSERT_EQ(kdataset::write_dataset(sample(), dir.slash(), nullptr), "");
    const auto poi = read_file(dir.file("dat44_1.bin"));
    const auto notes = read_file(dir.file("dat44_2.bin"));
    ASSERT_EQ(poi.size(), 6000u + 3 * 40);
    const int32_t block = fixture::get32(poi, 8);
    EXPECT_EQ(block, 6000);
    const auto i16 = [&](std::size_t at) { return int16_t(poi[at] | poi[at + 1] << 8); };
    EXPECT_EQ(i16(block + 0), 100);  // x east of 250000
    EXPECT_EQ(i16(block + 2), 200);  // y north of 2770000
    EXPECT_EQ(i16(block + 4), 101);
    EXPECT_EQ(i16(block + 6), 7);
    EXPECT_EQ(fixture::get32(poi, block + 8), 0);
    EXPECT_EQ(std::string(poi.begin() + block + 12, poi.begin() + block + 40),
              "Shop" + std::string(24, ' '));
    EXPECT_EQ(fixture::get32(poi, block + 40 + 8), -1);  // "Bank" has no note
    EXPECT_EQ(fixture::get32(poi, 12 + 8), 6080);
    EXPECT_EQ(fixture::get32(poi, 6080 + 8), 1);
    ASSERT_EQ(notes.size(), 104u);
    EXPECT_EQ(std::string(notes.begin() + 52, notes.end()), "Trees" + std::string(47, ' '));
}

TEST_F(WriterDataSet, MetafileFrameCoversTheBaseMapRectangle) {
    ASSERT_EQ(kdataset::write_dataset(sample(), dir.slash(), nullptr), "");
    const auto emf = read_file(dir.file("dist.emf"));
    ASSERT_GE(emf.size(), 108u);
    EXPECT_EQ(fixture::get32(emf, 0), 1);        // EMR_HEADER
    EXPECT_EQ(fixture::get32(emf, 24), 0);       // frame left, 0.01 mm
    EXPECT_EQ(fixture::get32(emf, 28), 0);       // frame top
    EXPECT_EQ(fixture::get32(emf, 32), 220000);  // frame right
    EXPECT_EQ(fixture::get32(emf, 36), 380000);  // frame bottom
    EXPECT_EQ(std::string(emf.begin() + 40, emf.begin() + 44), " EMF");
    EXPECT_EQ(fixture::get32(emf, 48), int32_t(emf.size()));  // nBytes
    EXPECT_EQ(fixture::get32(emf, emf.size() - 20), 14);      // EMR_EOF last
}

TEST_F(WriterDataSet, IndexesPlacesAndPointsOverTheirCapacitiesAreRefused) {
    kdataset::DataSetContent c;
    for (int i = 0; i < 2002; ++i) c.tile_index.push_back({100 + i, 5});
    c.tile_index.push_back({99, 5});
    for (int i = 0; i < 2001; ++i)
        c.catalogue.push_back({kdataset::CatalogueEntry::City, "C", {{1, 1}}});
    c.catalogue.push_back({kdataset::CatalogueEntry::City, "two words", {{1, 1}}});
    for (int i = 0; i < 501; ++i) c.pois.push_back({{i * 10000, 2770000}, 100, 1, "P", ""});
    // A tile's block holds what the engine's work buffer does: 50000 points, 2 too many here.
    for (int i = 0; i < kd::kPoiBlockRecordsMax + 1; ++i)
        c.pois.push_back({{5, 2770000}, 100, 1, "Q", ""});
    kdataset::WriteReport report;
    ASSERT_EQ(kdataset::write_dataset(c, dir.slash(), &report), "");
    EXPECT_EQ(report.refused.size(), 3u + 2u + 1u + 1u);
    EXPECT_EQ(report.pois, 499 + kd::kPoiBlockRecordsMax);
    EXPECT_EQ(dllsetpath(dir.slash().c_str()), 1);
    EXPECT_EQ(kd::dataset().tile_index_last, 1999);
    EXPECT_EQ(kd::dataset().place_last, 1999);
    kd::DataFile points;
    ASSERT_TRUE(points.open(kd::format::kPoiFile));
    EXPECT_EQ(kd::read_poi_block(points, kd::dataset().poi_index[kd::find_poi_block(277000)]),
              kd::kPoiBlockRecordsMax);
}

TEST_F(WriterDataSet, DirectoryWithoutTrailingSlashIsRefused) {
    std::string path = dir.slash();
    path.pop_back();
    EXPECT_NE(kdataset::write_dataset(sample(), path, nullptr), "");
    EXPECT_FALSE(std::ifstream(dir.file("d4.txt")).good());
}

TEST_F(WriterDataSet, FailedWriteLeavesNoFilesBehind) {
    // A directory in the way of d4.txt makes its rename fail after the tiles were written.
    ASSERT_TRUE(std::filesystem::create_directories(dir.file("d4.txt/x")));
    EXPECT_NE(kdataset::write_dataset(sample(), dir.slash(), nullptr), "");
    for (const auto& entry : std::filesystem::directory_iterator(dir.slash()))
        EXPECT_EQ(entry.path().filename(), "d4.txt");
}

}  // namespace
