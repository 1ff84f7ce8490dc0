// Tests of the tile cache: slots found by tile number, slots chosen round the ring, pinned
// slots skipped, and refused tile files leaving their slot empty and the ring where it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "data/store.h"
#include "test_support/temp_dir.h"
#include "tile_fixture.h"

namespace kd = kestrel::data;
using fixture::TileFile;

namespace {

class TileCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kd::reset_all();
        // The data set's own files are absent: the load fails but the path is stored, which is
        // all that the tile cache needs.
        ASSERT_EQ(kd::set_path(dir.slash().c_str(), true), -1);
    }
    void TearDown() override { kd::reset_all(); }

    // Writes the tile file "<number>.dat" holding one named point; its header carries
    // `header_number` (the file's own number unless given).
    void write_tile(int32_t number, int32_t header_number = 0) {
        TileFile t;
        t.tile = header_number ? header_number : number;
        t.vertices = {{1, 2}};
        t.places = {{21, 0}};
        t.names = {"Place " + std::to_string(number)};
        ASSERT_TRUE(fixture::write_bytes(dir.file(std::to_string(number) + ".dat"), t.bytes()));
    }
    void write_raw(int32_t number, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(fixture::write_bytes(dir.file(std::to_string(number) + ".dat"), bytes));
    }

    test_support::TempDir dir;
};

TEST_F(TileCacheTest, EightyFirstLoadReusesSlotZeroThenSlotOne) {
    for (int i = 0; i < 82; ++i) write_tile(277001 + i);
    for (int i = 0; i < 80; ++i) ASSERT_EQ(kd::find_or_load_tile(277001 + i), i);
    EXPECT_EQ(kd::tile_cache().ring, 0);
    EXPECT_EQ(kd::find_or_load_tile(277081), 0);
    EXPECT_EQ(kd::find_or_load_tile(277082), 1);
    EXPECT_EQ(kd::find_slot(277001), -1);  // its slot went to the 81st tile
    EXPECT_EQ(kd::find_slot(277003), 2);
    EXPECT_EQ(kd::find_or_load_tile(277001), 2);  // loaded again, round the ring
}

TEST_F(TileCacheTest, CachedTileIsFoundWithoutReadingItsFileAgain) {
    write_tile(277010);
    ASSERT_EQ(kd::find_or_load_tile(277010), 0);
    std::remove(dir.file("277010.dat").c_str());
    EXPECT_EQ(kd::find_or_load_tile(277010), 0);
    EXPECT_EQ(kd::tile_cache().ring, 1);
}

TEST_F(TileCacheTest, SlotsInViewAreSkippedAndAFullyPinnedCacheRefusesTheLoad) {
    for (int i = 0; i < 81; ++i) write_tile(277001 + i);
    for (int i = 0; i < 80; ++i) ASSERT_EQ(kd::find_or_load_tile(277001 + i), i);
    for (int s = 0; s < kd::SLOT_COUNT; ++s) kd::slot(s).header.in_view = 1;
    kd::slot(37).header.in_view = 0;
    EXPECT_EQ(kd::find_or_load_tile(277081), 37);
    EXPECT_EQ(kd::tile_cache().ring, 38);
    kd::slot(37).header.in_view = 1;
    std::FILE* f = std::fopen(dir.file("277080.dat").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(kd::load_tile(f), -1);  // closes the file
    EXPECT_EQ(kd::tile_cache().ring, 38);
}

TEST_F(TileCacheTest, TileWhoseHeaderNumberDiffersFromItsNameIsLoadedAgainEachTime) {
    write_tile(277030, 277031);
    EXPECT_EQ(kd::find_or_load_tile(277030), 0);
    EXPECT_EQ(kd::find_slot(277030), -1);
    EXPECT_EQ(kd::find_slot(277031), 0);
    EXPECT_EQ(kd::find_or_load_tile(277030), 1);
}

TEST_F(TileCacheTest, TileWithAllSectionsEmptyIsPresentAndFound) {
    write_raw(277040, TileFile{.tile = 277040}.bytes());
    ASSERT_EQ(kd::find_or_load_tile(277040), 0);
    EXPECT_EQ(kd::find_slot(277040), 0);
    EXPECT_EQ(kd::slot(0).header.last_record, -1);
}

TEST_F(TileCacheTest, MissingTileFileIsAbsentAndLeavesTheCacheAlone) {
    EXPECT_EQ(kd::find_or_load_tile(277050), -1);
    EXPECT_EQ(kd::tile_cache().ring, 0);
    EXPECT_EQ(kd::slot(0).header.tile_number, 0);
}

TEST_F(TileCacheTest, RefusedFileLeavesItsSlotEmptyAndTheRingWhereItWas) {
    write_tile(277001);
    auto bad = TileFile{.tile = 277002, .names = {"x"}}.bytes();
    bad.resize(bad.size() - 5);  // the names section is cut short
    write_raw(277002, bad);
    write_tile(277003);
    ASSERT_EQ(kd::find_or_load_tile(277001), 0);
    EXPECT_EQ(kd::find_or_load_tile(277002), -1);
    EXPECT_EQ(kd::find_slot(277002), -1);
    EXPECT_EQ(kd::slot(1).header.tile_number, 0);
    EXPECT_EQ(kd::slot(1).header.last_record, -1);
    EXPECT_EQ(kd::tile_cache().ring, 1);
    EXPECT_STRNE(kd::last_error(), "");
    EXPECT_EQ(kd::find_or_load_tile(277003), 1);
}

TEST_F(TileCacheTest, RefusedFileGoingIntoAFilledSlotLeavesNoTraceOfTheEarlierTile) {
    for (int i = 0; i < 80; ++i) {
        write_tile(277001 + i);
        ASSERT_EQ(kd::find_or_load_tile(277001 + i), i);
    }
    write_raw(277099, std::vector<uint8_t>(60, 0));  // shorter than a header
    EXPECT_EQ(kd::find_or_load_tile(277099), -1);
    EXPECT_EQ(kd::slot(0).header.tile_number, 0);
    EXPECT_EQ(kd::slot(0).header.last_record, -1);
    EXPECT_EQ(kd::find_slot(277001), -1);
    EXPECT_EQ(kd::find_or_load_tile(277001), 0);  // the tile is read again when needed
}

TEST_F(TileCacheTest, FileLargerThanTheWorkBufferIsRefused) {
    auto big = TileFile{.tile = 277060}.bytes();
    big.resize(kd::WORK_BUFFER_SIZE + 1, 0);
    write_raw(277060, big);
    EXPECT_EQ(kd::find_or_load_tile(277060), -1);
    big.resize(kd::WORK_BUFFER_SIZE);
    write_raw(277060, big);
    EXPECT_EQ(kd::find_or_load_tile(277060), 0);
}

TEST_F(TileCacheTest, TileNumberZeroIsNeverFound) {
    EXPECT_EQ(kd::find_slot(0), -1);
    EXPECT_EQ(kd::load_tile(nullptr), -1);
}

TEST_F(TileCacheTest, TileFileNameIsThePathThenTheNumberThenDat) {
    char name[200];
    ASSERT_TRUE(kd::tile_file_name(277025, name, sizeof name));
    EXPECT_EQ(std::string(name), dir.slash() + "277025.dat");
    char small[8];
    EXPECT_FALSE(kd::tile_file_name(277025, small, sizeof small));
}

}  // namespace
