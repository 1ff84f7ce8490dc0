// Tests of the readers of the data set's files (data/reader.h) on files of the tests' own,
// built byte by byte from the format tables: the point-of-interest index, the rule that finds a
// tile's block, records, notes, a tile file read into a caller's slot, the text readers, and
// the corrupt forms of each (truncated, offsets past the end, counts over capacity, negative
// indexes). What the engine stores of them is tested with the data set load.
#include "data/reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "test_support/temp_dir.h"
#include "tile_fixture.h"

namespace {

namespace kd = kestrel::data;
using fixture::put16;
using fixture::put32;

// An index entry of dat44_1.bin: int32 tile, last index, offset.
void put_entry(std::vector<uint8_t>& out, int32_t tile, int32_t last, int32_t offset) {
    put32(out, tile);
    put32(out, last);
    put32(out, offset);
}

// A 40-byte point record: int16 x, y, district, category, int32 note, 28 bytes of name.
void put_record(std::vector<uint8_t>& out, int x, int y, int district, int category, int32_t note,
                const std::string& name) {
    put16(out, x);
    put16(out, y);
    put16(out, district);
    put16(out, category);
    put32(out, note);
    std::string padded = name;
    padded.resize(28, ' ');
    out.insert(out.end(), padded.begin(), padded.end());
}

class Reader : public ::testing::Test {
  protected:
    // Writes `bytes` as the file `name` of the folder and returns its path.
    std::string write(const std::string& name, const std::vector<uint8_t>& bytes) {
        EXPECT_TRUE(fixture::write_bytes(dir.file(name), bytes));
        return dir.file(name);
    }
    std::string write_text(const std::string& name, const std::string& text) {
        EXPECT_TRUE(fixture::write_text(dir.file(name), text));
        return dir.file(name);
    }

    test_support::TempDir dir;
};

TEST(TileFileNames, OnlyTheNamesThatTheEngineReadsNameATile) {
    const std::pair<const char*, int64_t> cases[] = {{"277025.dat", 277025},
                                                     {"-5.dat", -5},
                                                     {"0.dat", 0},
                                                     {"2147483647.dat", INT32_MAX},
                                                     {"0277025.dat", -1000},
                                                     {"+5.dat", -1000},
                                                     {" 5.dat", -1000},
                                                     {"5.dat.bak", -1000},
                                                     {".dat", -1000},
                                                     {"5.DAT", -1000},
                                                     {"2147483648.dat", -1000},
                                                     {"5x.dat", -1000},
                                                     {"dat44_1.bin", -1000}};
    for (const auto& [name, expected] : cases) {
        int32_t tile = 1;
        const bool named = kd::tile_file_number(name, &tile);
        EXPECT_EQ(named ? int64_t{tile} : -1000, expected) << name;
    }
}

TEST_F(Reader, TheIndexKeepsWholeEntriesOfAShortFileAndMarksTheRestEmpty) {
    std::vector<uint8_t> bytes;
    put_entry(bytes, 277025, 2, 6000);
    put_entry(bytes, -3, INT32_MIN, -1);  // read as it stands: the rules apply later
    put32(bytes, 277026);                 // a third entry cut short
    std::FILE* f = std::fopen(write("dat44_1.bin", bytes).c_str(), "rb");
    ASSERT_NE(f, nullptr);
    kd::PoiIndex index;
    std::memset(index, 0x55, sizeof index);
    kd::read_poi_index(f, index);
    std::fclose(f);
    EXPECT_EQ(index[0].tile, 277025);
    EXPECT_EQ(index[0].last, 2);
    EXPECT_EQ(index[0].offset, 6000);
    EXPECT_EQ(index[1].tile, -3);
    EXPECT_EQ(index[1].last, INT32_MIN);
    EXPECT_EQ(index[1].offset, -1);
    for (int e = 2; e < kd::POI_INDEX_ENTRIES; ++e) {
        ASSERT_EQ(index[e].tile, 0) << e;
        ASSERT_EQ(index[e].last, -1) << e;
    }
}

TEST(PoiBlocks, ATilesBlockIsItsFirstEntryNotMarkedEmptyAndOnlyBlocksOfTilesAreListed) {
    kd::PoiIndex index;
    for (auto& e : index) e = {0, -1, 0};
    index[0] = {277025, -1, 0};  // empty: never a block
    index[1] = {277025, 1, 40};  // 277025's block
    index[2] = {277025, 0, 0};   // a repeated tile: not its block
    index[3] = {277026, -7, 0};  // 277026's block, which holds nothing
    index[4] = {277026, 0, 80};  // hidden behind it
    index[5] = {0, 0, 0};        // tile 0 numbers no tile
    index[6] = {-277025, 0, 0};  // nor does a negative number
    EXPECT_EQ(kd::poi_block_entry(index, 277025), 1);
    EXPECT_EQ(kd::poi_block_entry(index, 277026), 3);
    EXPECT_EQ(kd::poi_block_entry(index, 277027), -1);
    std::vector<int> listed;
    for (int e = -1; e <= kd::POI_INDEX_ENTRIES; ++e)
        if (kd::is_tile_block(index, e)) listed.push_back(e);
    EXPECT_EQ(listed, std::vector<int>{1});
}

TEST_F(Reader, RecordsAreReadOnlyFromABlockWhollyInsideTheFileAndTheCallersBuffer) {
    std::vector<uint8_t> bytes;
    put_record(bytes, 1500, -2, 101, 7, 3, "Shop");
    put_record(bytes, -32768, 32767, -1, 12, -1, "\xA4\x40");
    kd::DataFile points;
    ASSERT_TRUE(points.open_path(write("dat44_1.bin", bytes).c_str()));
    std::vector<uint8_t> buffer(80);
    struct Case {
        kd::PoiIndexEntry entry;
        std::size_t room;
        int count;
    };
    const Case cases[] = {
        {{1, 1, 0}, 80, 2},                        // the whole file
        {{1, 0, 40}, 80, 1},                       // the last record
        {{1, 1, 1}, 80, 0},                        // one byte past the end
        {{1, 0, -40}, 80, 0},                      // a negative offset
        {{1, -2, 0}, 80, 0},                       // a negative last index
        {{1, kd::kPoiBlockRecordsMax, 0}, 80, 0},  // over the capacity
        {{1, 1, 0}, 79, 0},                        // a buffer one byte short
    };
    for (const Case& c : cases)
        EXPECT_EQ(kd::read_poi_records(points, c.entry, std::span(buffer).first(c.room)), c.count)
            << "last " << c.entry.last << ", offset " << c.entry.offset << ", room " << c.room;

    ASSERT_EQ(kd::read_poi_records(points, kd::PoiIndexEntry{1, 1, 0}, buffer), 2);
    const kd::PoiRecord a = kd::poi_record_at(buffer.data(), 0);
    const kd::PoiRecord b = kd::poi_record_at(buffer.data(), 1);
    EXPECT_EQ(a.x, 1500);
    EXPECT_EQ(a.y, -2);
    EXPECT_EQ(a.district, 101);
    EXPECT_EQ(a.category, 7);
    EXPECT_EQ(a.note, 3);
    EXPECT_EQ(std::string(a.name, 28), "Shop" + std::string(24, ' '));
    EXPECT_EQ(b.x, -32768);
    EXPECT_EQ(b.y, 32767);
    EXPECT_EQ(b.district, -1);
    EXPECT_EQ(b.note, -1);
    EXPECT_EQ(std::string(b.name, 2), "\xA4\x40");
}

TEST_F(Reader, ANoteIsReadOnlyWhenItLiesWhollyInsideTheFile) {
    std::string notes(52, ' ');
    notes.replace(0, 10, "Open daily");
    notes += std::string(51, 'x');  // a second note cut one byte short
    kd::DataFile file;
    ASSERT_TRUE(file.open_path(write_text("dat44_2.bin", notes).c_str()));
    char note[kd::POI_NOTE_BYTES];
    ASSERT_TRUE(kd::read_poi_note(file, 0, note));
    EXPECT_EQ(std::string(note, 10), "Open daily");
    for (const int32_t bad : {1, -1, INT32_MAX})
        EXPECT_FALSE(kd::read_poi_note(file, bad, note)) << bad;
}

TEST_F(Reader, OnlyARegularFileOpensAndAPipeDoesNotHoldTheOpen) {
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0);
    kd::DataFile file;
    EXPECT_FALSE(file.open_path(dir.file("pipe").c_str()));
    EXPECT_FALSE(file.open_path(dir.path().c_str()));
    EXPECT_FALSE(file.open_path(dir.file("missing").c_str()));
    ASSERT_TRUE(file.open_path(write_text("one", "1").c_str()));
    EXPECT_EQ(file.size(), 1);
    EXPECT_FALSE(file.open_path(dir.file("missing").c_str()));  // the earlier file is closed
    char byte = 0;
    EXPECT_FALSE(file.read_at(0, &byte, 1));
}

TEST_F(Reader, ATileFileIsReadIntoTheCallersSlotOrRefusedWithItsReasonLeavingTheSlotEmpty) {
    fixture::TileFile t;
    t.tile = 277025;
    t.vertices = {{1, 2}};
    t.places = {{21, 0}};
    t.names = {"Place"};
    std::vector<uint8_t> good = t.bytes();
    std::vector<uint8_t> truncated(good.begin(), good.end() - 5);
    std::vector<uint8_t> large = good;
    large.resize(kd::WORK_BUFFER_SIZE + 1);
    auto slot = std::make_unique<kd::TileSlot>();
    std::vector<uint8_t> buffer(kd::WORK_BUFFER_SIZE);
    const auto read = [&](const std::vector<uint8_t>& bytes) -> std::string {
        std::FILE* f = std::fopen(write("277025.dat", bytes).c_str(), "rb");
        const char* why = kd::read_tile_file(f, kd::TileFileBuffer(buffer), *slot);
        std::fclose(f);
        return why ? why : "";
    };
    EXPECT_EQ(read(good), "");
    EXPECT_EQ(slot->header.tile_number, 277025);
    EXPECT_EQ(slot->header.last_record, 0);
    EXPECT_EQ(read(truncated), "the names run past the end of the file");
    EXPECT_EQ(slot->header.tile_number, 0);
    EXPECT_EQ(slot->header.last_record, -1);
    EXPECT_EQ(read(good), "");
    EXPECT_EQ(read(large), "file larger than 2000000 bytes");
    EXPECT_EQ(slot->header.tile_number, 0);
    EXPECT_EQ(kd::read_tile_file(nullptr, kd::TileFileBuffer(buffer), *slot),
              std::string("cannot seek"));
}

TEST_F(Reader, TheDistrictIndexGivesEachKeptLineWithItsNumberAndCodesAbove999) {
    std::string long_line = "101 5";
    long_line.resize(98, ' ');
    std::FILE* f = std::fopen(
        write_text("d4.txt", "99 1\n1234 277025\n\n  100 -7 words\n" + long_line + "102 6\n")
            .c_str(),
        "r");
    ASSERT_NE(f, nullptr);
    kd::TileIndexReader in(f);
    std::vector<std::tuple<int, int32_t, int32_t>> kept;
    for (kd::TileIndexLine line{}; in.next(&line);)
        kept.emplace_back(line.line, line.district, line.tile);
    std::fclose(f);
    const std::vector<std::tuple<int, int32_t, int32_t>> expected = {
        {2, 1234, 277025}, {4, 100, -7}, {5, 101, 5}, {6, 102, 6}};
    EXPECT_EQ(kept, expected);
}

TEST_F(Reader, TheCatalogueGivesEntriesAndThePointsOfEachPolylineAndCutsNamesWhole) {
    // "ABCDEFGHI" and a two-byte character make 11 bytes: the cut keeps 9, not half of it.
    std::FILE* f = std::fopen(write_text("alldist.txt",
                                         "pline 3\n1 2\ncity X 1 2\n3 4\n"
                                         "city ABCDEFGHI\xA4\x40 7 8\n"
                                         "point P 9\npline -1\npline 2\n5 6\n")
                                  .c_str(),
                              "r");
    ASSERT_NE(f, nullptr);
    kd::CatalogueReader in(f);
    std::vector<std::string> items;
    for (kd::CatalogueItem item{}; in.next(&item);) {
        char text[80];
        if (item.is_point)
            std::snprintf(text, sizeof text, "%d: (%d, %d)", item.line, item.x, item.y);
        else if (item.kind == kd::PLACE_POLYLINE)
            std::snprintf(text, sizeof text, "%d: pline %d", item.line, item.count);
        else
            std::snprintf(text, sizeof text, "%d: %d %s (%d, %d)", item.line, item.kind, item.name,
                          item.x, item.y);
        items.push_back(text);
    }
    std::fclose(f);
    const std::vector<std::string> expected = {
        "1: pline 3", "2: (1, 2)", "4: (3, 4)", "5: 2 ABCDEFGHI (7, 8)", "8: pline 2", "9: (5, 6)"};
    EXPECT_EQ(items, expected);
}

}  // namespace
