// Tests of the data store's helpers that every layer shares: the checked reader of the
// point-of-interest file, the tile numbering and the checked access to a slot's anchors.
#include "data/poi_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "data/limits.h"
#include "data/store.h"
#include "test_support/temp_dir.h"
#include "tile_fixture.h"

namespace {

namespace kd = kestrel::data;

// A dat44_1.bin body of `count` records of 40 bytes; record i has x = i + 1 and the name
// "P<i>".
std::vector<uint8_t> records(int count) {
    std::vector<uint8_t> bytes(std::size_t(count) * 40, ' ');
    for (int i = 0; i < count; ++i) {
        uint8_t* r = bytes.data() + std::size_t(i) * 40;
        std::memset(r, 0, 12);
        r[0] = uint8_t(i + 1);
        r[12] = 'P';
        r[13] = uint8_t('0' + i);
    }
    return bytes;
}

class PoiFile : public ::testing::Test {
  protected:
    void SetUp() override {
        kd::reset_all();
        ASSERT_TRUE(fixture::write_bytes(dir_.file("dat44_1.bin"), records(3)));
        std::strcpy(kd::dataset().data_path, dir_.slash().c_str());
    }
    void TearDown() override { kd::reset_all(); }

    test_support::TempDir dir_;
};

TEST_F(PoiFile, ABlockIsReadOnlyWhenItLiesWhollyInsideTheFileAndTheWorkBuffer) {
    kd::DataFile file;
    ASSERT_TRUE(file.open("dat44_1.bin"));
    EXPECT_EQ(file.size(), 120);
    struct Case {
        int32_t last, offset;
        int count;
    };
    const Case cases[] = {
        {2, 0, 3},
        {0, 80, 1},  // whole blocks
        {2, 1, 0},
        {0, 81, 0},  // one byte past the end of the file
        {-1, 0, 0},
        {0, -40, 0},                      // empty entry, negative offset
        {0, 120, 0},                      // starts at the end
        {kd::kPoiBlockRecordsMax, 0, 0},  // more records than the work buffer holds
        {INT32_MAX, 0, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(kd::read_poi_block(file, kd::PoiIndexEntry{1, c.last, c.offset}), c.count)
            << "last " << c.last << ", offset " << c.offset;
    }
    ASSERT_EQ(kd::read_poi_block(file, kd::PoiIndexEntry{1, 1, 40}), 2);
    EXPECT_EQ(kd::poi_block_record(0).x, 2);
    EXPECT_EQ(std::string(kd::poi_block_record(1).name, 2), "P2");
}

TEST_F(PoiFile, OnlyARegularFileOpens) {
    std::filesystem::create_directory(dir_.file("folder"));
    kd::DataFile missing, folder;
    EXPECT_FALSE(missing.open("dat44_9.bin"));
    EXPECT_FALSE(folder.open("folder"));
    EXPECT_EQ(kd::read_poi_block(folder, kd::PoiIndexEntry{1, 0, 0}), 0);
}

TEST_F(PoiFile, ATileIsFoundAtItsFirstEntryThatHasRecords) {
    kd::PoiIndexEntry* index = kd::dataset().poi_index;
    index[0] = {277025, -1, 0};
    index[1] = {277026, 0, 0};
    index[2] = {277025, 1, 40};
    index[3] = {277025, 0, 0};
    EXPECT_EQ(kd::find_poi_block(277025), 2);
    EXPECT_EQ(kd::find_poi_block(277026), 1);
    EXPECT_EQ(kd::find_poi_block(277027), -1);
}

TEST(TileNumbers, RowsAndColumnsRoundTripAndEdgesStayExactAtTheLargestRow) {
    static_assert(int64_t{kd::kTileRowMax} * kd::kTileRowFactor + 999 <= INT32_MAX);
    static_assert(int64_t{kd::kTileRowMax + 1} * kd::kTileRowFactor + 999 > INT32_MAX);
    for (const auto& [row, column] : {std::pair{277, 25}, {0, 0}, {kd::kTileRowMax, 999}}) {
        const int32_t tile = kd::tile_number(row, column);
        EXPECT_EQ(kd::tile_row(tile), row);
        EXPECT_EQ(kd::tile_column(tile), column);
        EXPECT_EQ(kd::tile_south_wide(tile), int64_t{row} * kd::TILE_SIZE_M);
        EXPECT_EQ(kd::tile_west(tile), column * kd::TILE_SIZE_M);
    }
    EXPECT_EQ(kd::tile_number_of(255000, 2775000), 277025);
}

TEST(SlotAccess, AnAnchorOutsideTheVertexArrayGivesNone) {
    static kd::TileSlot slot;
    kd::FeatureRecord r{};
    for (const auto& [first, inside] : {std::pair{0, true},
                                        {kd::MAX_VERTICES - 1, true},
                                        {kd::MAX_VERTICES, false},
                                        {-1, false}}) {
        r.first_vertex = first;
        EXPECT_EQ(kd::record_anchor(slot, r) != nullptr, inside) << first;
        if (inside) {
            EXPECT_EQ(kd::record_anchor(slot, r), slot.vertices + first);
        }
    }
}

}  // namespace
