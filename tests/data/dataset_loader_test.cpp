// Tests of the data set load: the line rules of d4.txt and alldist.txt, the order of the
// steps and what a failure leaves behind, the capacities of every table, and a second load.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "data/store.h"
#include "kestrel.h"
#include "test_support/temp_dir.h"
#include "tile_fixture.h"
#include "writer.h"

namespace kd = kestrel::data;

namespace {

class DataSetLoad : public ::testing::Test {
  protected:
    void SetUp() override { kd::reset_all(); }
    void TearDown() override { kd::reset_all(); }

    // Writes a data set whose dist.emf is a placeholder (its handle is not checked).
    void write_set(const std::string& d4, const std::string& alldist,
                   std::vector<uint8_t> poi = std::vector<uint8_t>(6000, 0)) {
        ASSERT_TRUE(fixture::write_text(dir.file("d4.txt"), d4));
        ASSERT_TRUE(fixture::write_bytes(dir.file("dat44_1.bin"), poi));
        ASSERT_TRUE(fixture::write_text(dir.file("dat44_2.bin"), ""));
        ASSERT_TRUE(fixture::write_text(dir.file("alldist.txt"), alldist));
        ASSERT_TRUE(fixture::write_text(dir.file("dist.emf"), "not a metafile"));
    }
    int load() { return kd::set_path(dir.slash().c_str(), true); }
    const kd::DataSet& data() { return kd::dataset(); }

    test_support::TempDir dir;
};

// ---- d4.txt -----------------------------------------------------------------------------

TEST_F(DataSetLoad, DistrictIndexKeepsCodesOf100AndMoreWithATileNumber) {
    write_set(
        "99 277025\n100 277025\n\nroads of the city\n  101 277026\n102\n103 x\n"
        "104 277027 trailing words\n",
        "");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().tile_index_last, 2);
    EXPECT_EQ(data().tile_index_district[0], 100);
    EXPECT_EQ(data().tile_index_tile[0], 277025);
    EXPECT_EQ(data().tile_index_district[1], 101);
    EXPECT_EQ(data().tile_index_tile[1], 277026);
    EXPECT_EQ(data().tile_index_district[2], 104);
}

TEST_F(DataSetLoad, DistrictIndexLineLongerThan98CharactersContinuesAsALineOfItsOwn) {
    std::string first = "100 277025";
    first.resize(98, ' ');
    write_set(first + "150 7\n", "");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().tile_index_last, 1);
    EXPECT_EQ(data().tile_index_district[1], 150);
    EXPECT_EQ(data().tile_index_tile[1], 7);
}

TEST_F(DataSetLoad, DistrictIndexWithOutOfRangeNumbersSkipsTheLine) {
    write_set("99999999999 5\n100 99999999999\n100 5\n", "");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().tile_index_last, 0);
    EXPECT_EQ(data().tile_index_tile[0], 5);
}

TEST_F(DataSetLoad, MoreThan2000DistrictLinesStopTheLoadWithTheFirst2000Kept) {
    std::string d4;
    for (int i = 0; i < 2001; ++i) d4 += std::to_string(100 + i) + " 277025\n";
    write_set(d4, "city A 1 2\n");
    EXPECT_EQ(load(), -1);
    EXPECT_EQ(data().tile_index_last, 1999);
    EXPECT_EQ(data().tile_index_district[1999], 2099);
    EXPECT_EQ(data().place_last, -1);  // later files are not read
    EXPECT_EQ(kd::is_initialised(), 1);
}

// ---- alldist.txt --------------------------------------------------------------------------

TEST_F(DataSetLoad, CatalogueKindsFollowTheirWords) {
    write_set("",
              "poin22 Small 1 2\npoint Big 3 4\ncity Taipei 5 6\npointless 7 8 9\n"
              "comment line\n");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().place_last, 3);
    EXPECT_EQ(data().places[0].kind, kd::PLACE_MINOR);
    EXPECT_STREQ(data().places[0].name, "Small");
    EXPECT_EQ(data().places[1].kind, kd::PLACE_POINT);
    EXPECT_EQ(data().places[2].kind, kd::PLACE_CITY);
    EXPECT_EQ(data().places[2].first_point, 2);
    EXPECT_EQ(data().places[2].point_count, 0);
    EXPECT_EQ(data().points[2].x, 5);
    EXPECT_EQ(data().points[2].y, 6);
    // "pointless" starts with "point": a point named "7" at (8, 9).
    EXPECT_EQ(data().places[3].kind, kd::PLACE_POINT);
    EXPECT_STREQ(data().places[3].name, "7");
}

TEST_F(DataSetLoad, PolylineConsumesItsCountOfLinesWhateverTheyStartWith) {
    write_set("", "city Before 1 1\npline 3\n10 20\n30 40\n50 60\ncity After 7 8\n");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().place_last, 2);
    const auto& p = data().places[1];
    EXPECT_EQ(p.kind, kd::PLACE_POLYLINE);
    EXPECT_EQ(p.first_point, 1);
    EXPECT_EQ(p.point_count, 3);
    EXPECT_STREQ(p.name, "");
    EXPECT_EQ(data().points[3].x, 50);
    EXPECT_EQ(data().places[2].first_point, 4);
    EXPECT_STREQ(data().places[2].name, "After");

    write_set("", "pline 3\n10 20\ncity Inside 1 1\n50 60\ncity After 7 8\n");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().place_last, 1);             // the "city" line was one of the polyline's lines
    EXPECT_EQ(data().places[0].point_count, 2);  // and held no coordinates to keep
    EXPECT_EQ(data().points[1].x, 50);
    EXPECT_STREQ(data().places[1].name, "After");
}

TEST_F(DataSetLoad, PolylineCutShortByTheEndOfTheFileKeepsThePointsRead) {
    write_set("", "pline 5\n1 1\n2 2\n");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().place_last, 0);
    EXPECT_EQ(data().places[0].point_count, 2);
    EXPECT_EQ(data().point_last, 1);
}

TEST_F(DataSetLoad, PlaceLinesMissingTheirNameOrCoordinatesAreSkipped) {
    write_set("", "city\ncity OnlyName\ncity Name 5\npline\npline x\npoint P 1 2\n");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(data().place_last, 0);
    EXPECT_STREQ(data().places[0].name, "P");
    EXPECT_EQ(data().places[0].first_point, 0);
}

TEST_F(DataSetLoad, PlaceNamesLongerThan10BytesAreCutWithoutSplittingACharacter) {
    // "\xA5\x78" is one two-byte character; nine ASCII bytes and one character make 11.
    write_set("", "city ABCDEFGHIJKLMN 1 2\ncity ABCDEFGHI\xA5\x78 3 4\n");
    ASSERT_EQ(load(), 1);
    EXPECT_STREQ(data().places[0].name, "ABCDEFGHIJ");
    EXPECT_STREQ(data().places[1].name, "ABCDEFGHI");
}

TEST_F(DataSetLoad, MoreThan2000CatalogueEntriesStopTheLoad) {
    std::string text;
    for (int i = 0; i < 2001; ++i) text += "point P" + std::to_string(i) + " 1 2\n";
    write_set("", text);
    EXPECT_EQ(load(), -1);
    EXPECT_EQ(data().place_last, 1999);
    EXPECT_EQ(data().point_last, 1999);
    EXPECT_EQ(data().base_map, nullptr);  // dist.emf is not reached
}

TEST_F(DataSetLoad, EntryWhoseFirstPointWouldBe32768OrBeyondStopsTheLoad) {
    std::string text = "pline 32767\n";
    for (int i = 0; i < 32767; ++i) text += "1 2\n";
    text += "pline 2\n3 4\n5 6\ncity Late 7 8\n";
    write_set("", text);
    EXPECT_EQ(load(), -1);
    ASSERT_EQ(data().place_last, 1);
    EXPECT_EQ(data().places[1].first_point, 32767);
    EXPECT_EQ(data().point_last, 32768);
}

TEST_F(DataSetLoad, PolylineCountBeyondAnInt16StopsTheLoad) {
    write_set("", "city A 1 1\npline 40000\n1 1\n");
    EXPECT_EQ(load(), -1);
    EXPECT_EQ(data().place_last, 0);
}

// ---- dat44_1.bin ------------------------------------------------------------------------

TEST_F(DataSetLoad, PointOfInterestIndexIsReadFromTheFirst6000Bytes) {
    std::vector<uint8_t> poi;
    for (int i = 0; i < 500; ++i) {
        fixture::put32(poi, 277000 + i);
        fixture::put32(poi, i % 3 - 1);
        fixture::put32(poi, 6000 + 40 * i);
    }
    fixture::put32(poi, 0x7777);  // a block after the index is not read
    write_set("", "", poi);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(data().poi_index[499].tile, 277499);
    EXPECT_EQ(data().poi_index[499].last, 499 % 3 - 1);
    EXPECT_EQ(data().poi_index[1].offset, 6040);
}

TEST_F(DataSetLoad, ShortPointOfInterestIndexMarksTheEntriesItDoesNotFillEmpty) {
    std::vector<uint8_t> poi;
    for (int v : {277025, 4, 6000, 277026, 2}) fixture::put32(poi, v);  // 1.67 entries
    write_set("", "", poi);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(data().poi_index[0].tile, 277025);
    EXPECT_EQ(data().poi_index[0].last, 4);
    EXPECT_EQ(data().poi_index[1].last, -1);
    EXPECT_EQ(data().poi_index[1].tile, 0);
    EXPECT_EQ(data().poi_index[499].last, -1);
}

// ---- order of the steps and failures ------------------------------------------------------

TEST_F(DataSetLoad, PathWithoutTrailingSeparatorFailsButCountsAsInitialised) {
    write_set("100 1\n", "");
    std::string path = dir.slash();
    path.pop_back();
    EXPECT_EQ(dllsetpath(path.c_str()), -1);
    EXPECT_EQ(sdllisinit(), 1);
    EXPECT_STREQ(data().data_path, path.c_str());
}

TEST_F(DataSetLoad, FailedStepLeavesTheTablesOfTheStepsBeforeItFilled) {
    write_set("100 277025\n", "city A 1 2\n", std::vector<uint8_t>(12, 1));
    std::remove(dir.file("dat44_2.bin").c_str());
    EXPECT_EQ(load(), -1);
    EXPECT_EQ(data().tile_index_last, 0);
    EXPECT_EQ(data().poi_index[0].tile, 0x01010101);
    EXPECT_EQ(data().place_last, -1);
    EXPECT_NE(std::string(kd::last_error()).find("dat44_2.bin"), std::string::npos);
}

TEST_F(DataSetLoad, MissingMetafileFailsTheFullBuildAfterTheCatalogue) {
    write_set("", "city A 1 2\n");
    std::remove(dir.file("dist.emf").c_str());
    EXPECT_EQ(load(), -1);
    EXPECT_EQ(data().place_last, 0);
    EXPECT_EQ(kd::set_path(dir.slash().c_str(), false), 1);  // the server-only data set
}

TEST_F(DataSetLoad, SdllinitStoresTheTemporaryDirectoryEvenWhenTheLoadFails) {
    EXPECT_EQ(sdllinit(dir.slash().c_str(), "/tmp/kestrel-tmp/"), -1);
    EXPECT_STREQ(data().temp_dir, "/tmp/kestrel-tmp/");
    EXPECT_EQ(sdllisinit(), 1);
}

TEST_F(DataSetLoad, DataPathOver103CharactersIsRefusedAndNothingStored) {
    const std::string long_path = "/" + std::string(103, 'p');
    EXPECT_EQ(dllsetpath(long_path.c_str()), -1);
    EXPECT_EQ(sdllisinit(), -1);
    EXPECT_STREQ(data().data_path, "");
    const std::string fits = "/" + std::string(102, 'p');
    EXPECT_EQ(dllsetpath(fits.c_str()), -1);  // stored; the files do not exist
    EXPECT_STREQ(data().data_path, fits.c_str());
    EXPECT_EQ(dllsetpath(nullptr), -1);
    EXPECT_STREQ(data().data_path, fits.c_str());
}

TEST_F(DataSetLoad, TemporaryDirectoryOver199CharactersIsRefusedAndNothingStored) {
    write_set("", "");
    const std::string long_dir = "/" + std::string(199, 't');
    EXPECT_EQ(sdllinit(dir.slash().c_str(), long_dir.c_str()), -1);
    EXPECT_STREQ(data().temp_dir, "");
    EXPECT_EQ(sdllisinit(), 1);  // the data set itself was loaded
    const std::string fits = "/" + std::string(198, 't');
    EXPECT_EQ(kd::set_temp_dir(fits.c_str()), 0);
    EXPECT_STREQ(data().temp_dir, fits.c_str());
    EXPECT_EQ(sdllinit(dir.slash().c_str(), nullptr), -1);
}

// ---- a second load -------------------------------------------------------------------------

TEST_F(DataSetLoad, SecondLoadReplacesTheTablesInsteadOfAppending) {
    write_set("100 1\n101 2\n", "pline 2\n1 1\n2 2\ncity A 5 5\n");
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(load(), 1);
    EXPECT_EQ(data().tile_index_last, 1);
    EXPECT_EQ(data().place_last, 1);
    EXPECT_EQ(data().point_last, 2);
    EXPECT_EQ(data().places[1].first_point, 2);
    EXPECT_EQ(data().points[2].x, 5);
}

TEST_F(DataSetLoad, SecondLoadFromAnotherPathEmptiesTheTileCache) {
    write_set("", "");
    fixture::TileFile t;
    t.tile = 277025;
    ASSERT_TRUE(fixture::write_bytes(dir.file("277025.dat"), t.bytes()));
    ASSERT_EQ(load(), 1);
    ASSERT_EQ(kd::find_or_load_tile(277025), 0);
    ASSERT_EQ(load(), 1);  // same path: the cache stays
    EXPECT_EQ(kd::find_slot(277025), 0);

    test_support::TempDir other;
    EXPECT_EQ(kd::set_path(other.slash().c_str(), true), -1);
    EXPECT_EQ(kd::find_slot(277025), -1);
    EXPECT_EQ(kd::tile_cache().ring, 0);
}

TEST_F(DataSetLoad, ReadableMetafileIsKeptReplacedOnReloadAndReleasedByDllfree) {
    write_set("", "");
    ASSERT_EQ(kdataset::write_base_map({}, dir.file("dist.emf")), "");
    ASSERT_EQ(load(), 1);
    const HENHMETAFILE first = data().base_map;
    EXPECT_NE(first, nullptr);
    ASSERT_EQ(load(), 1);
    EXPECT_NE(data().base_map, nullptr);
    // The first handle was deleted by the reload: the drawing layer now refuses it as stale.
    EXPECT_FALSE(DeleteEnhMetaFile(first));
    EXPECT_EQ(dllfree(), 0);
    EXPECT_EQ(data().base_map, nullptr);
    EXPECT_EQ(dllfree(), 0);
}

TEST_F(DataSetLoad, UnreadableMetafileStillLoadsTheDataSet) {
    write_set("", "");
    EXPECT_EQ(load(), 1);
    EXPECT_EQ(data().base_map, nullptr);
}

}  // namespace
