// poi_reports_test.cpp: dlldist44, dlldistxy and dlldistsearch against dat44_1.bin and
// dat44_2.bin built byte by byte from their layouts (a 6000-byte index of 12-byte entries,
// blocks of 40-byte records, 52-byte notes). Reports are compared byte for byte with lines
// built from the format: the 28-byte name, 7 blanks, X, one blank, Y, two blanks, the note,
// CR LF.
#include "fixture.h"
#include "kestrel.h"

namespace {

using namespace qtest;

struct Poi {
    int x, y;  // metres from the tile's south-west corner
    int district, category;
    int note;  // note index, -1: none
    std::string name;
};

// Builds the two point-of-interest files and the index the data set would hold.
class PoiFiles {
  public:
    // A block for `tile`; an empty `records` gives an entry with last index -1.
    void block(int32_t tile, const std::vector<Poi>& records) {
        Entry e{tile, static_cast<int32_t>(records.size()) - 1,
                static_cast<int32_t>(data::POI_INDEX_BYTES + blocks_.size())};
        entries_.push_back(e);
        for (const Poi& p : records) {
            char rec[40] = {};
            const int16_t fields[4] = {static_cast<int16_t>(p.x), static_cast<int16_t>(p.y),
                                       static_cast<int16_t>(p.district),
                                       static_cast<int16_t>(p.category)};
            std::memcpy(rec, fields, 8);
            const int32_t note = p.note;
            std::memcpy(rec + 8, &note, 4);
            std::memcpy(rec + 12, padded(p.name, 28).data(), 28);
            blocks_.append(rec, 40);
        }
    }
    // An index entry with any values (for entries that address no whole block).
    void raw_entry(int32_t tile, int32_t last, int32_t offset) {
        entries_.push_back(Entry{tile, last, offset});
    }
    void note(const std::string& text) {
        std::string n = text.substr(0, 52);
        n.resize(52, ' ');
        notes_ += n;
    }
    void raw_notes(const std::string& bytes) { notes_ += bytes; }

    // Writes both files into `dir` and loads the index into the data set as the loader would.
    void write(const std::string& dir) const {
        std::string index;
        for (int i = 0; i < data::POI_INDEX_ENTRIES; ++i) {
            const Entry e = i < static_cast<int>(entries_.size()) ? entries_[i] : Entry{0, -1, 0};
            index.append(reinterpret_cast<const char*>(&e), 12);
        }
        write_file(dir + "dat44_1.bin", index + blocks_);
        write_file(dir + "dat44_2.bin", notes_);
        std::memcpy(data::dataset().poi_index, index.data(), index.size());
    }

  private:
    struct Entry {
        int32_t tile, last, offset;
    };
    std::vector<Entry> entries_;
    std::string blocks_;
    std::string notes_;
};

constexpr int32_t kTileA = 277025, kTileB = 277026, kTileC = 278025;
constexpr long kWestA = 250000, kWestB = 260000, kSouthA = 2770000, kSouthC = 2780000;

class PoiReportTest : public QueryTest {
  protected:
    std::string dist44() const { return report("dist44.tmp"); }
    PoiFiles files_;
};

// ---- dlldist44 ----------------------------------------------------------------------------

TEST_F(PoiReportTest, ByDistrictCategoryZeroSelectsOnlyCategoryZero) {
    files_.block(kTileA, {{10, 20, 105, 0, -1, "CITY HALL"},
                          {30, 40, 105, 7, -1, "SCHOOL"},
                          {50, 60, 106, 0, -1, "OTHER DISTRICT"},
                          {70, 80, 105, 0, 0, "PARK"}});
    files_.note("OPEN DAILY");
    files_.write(data_dir_);
    index_tile(105, kTileA);
    EXPECT_EQ(dlldist44(105, 0), 1);
    EXPECT_EQ(dist44(), poi_line("CITY HALL", kWestA + 10, kSouthA + 20) +
                            poi_line("PARK", kWestA + 70, kSouthA + 80, padded("OPEN DAILY", 52)));
    EXPECT_EQ(dlldist44(105, 7), 0);
    EXPECT_EQ(dist44(), poi_line("SCHOOL", kWestA + 30, kSouthA + 40));
}

TEST_F(PoiReportTest, TheExampleLineHasTwentySixBlanksAfterTheName) {
    files_.block(kTileA, {{5123, 1234, 105, 0, -1, "CITY HALL"}});
    files_.write(data_dir_);
    index_tile(105, kTileA);
    EXPECT_EQ(dlldist44(105, 0), 0);
    EXPECT_EQ(dist44(), "CITY HALL" + std::string(26, ' ') + "255123 2771234  \r\n");
}

TEST_F(PoiReportTest, AnUnknownDistrictGivesAnEmptyFreshReport) {
    files_.block(kTileA, {{10, 20, 105, 0, -1, "CITY HALL"}});
    files_.write(data_dir_);
    index_tile(105, kTileA);
    ASSERT_EQ(dlldist44(105, 0), 0);
    EXPECT_EQ(dlldist44(999, 0), -1);
    EXPECT_TRUE(exists(folder_ + "/dist44.tmp"));
    EXPECT_EQ(dist44(), "");
}

TEST_F(PoiReportTest, ATileListedTwiceForTheDistrictIsReportedTwice) {
    files_.block(kTileA, {{10, 20, 105, 0, -1, "CITY HALL"}});
    files_.write(data_dir_);
    index_tile(105, kTileA);
    index_tile(105, kTileA);
    EXPECT_EQ(dlldist44(105, 0), 1);
    const std::string line = poi_line("CITY HALL", kWestA + 10, kSouthA + 20);
    EXPECT_EQ(dist44(), line + line);
}

TEST_F(PoiReportTest, ATileTwiceInTheIndexGivesOnlyItsFirstNonEmptyBlockByDistrictAndWindow) {
    files_.block(kTileA, {});  // empty: passed over
    files_.block(kTileA, {{10, 20, 105, 0, -1, "FIRST BLOCK"}});
    files_.block(kTileA, {{30, 40, 105, 0, -1, "SECOND BLOCK"}});
    files_.write(data_dir_);
    index_tile(105, kTileA);
    EXPECT_EQ(dlldist44(105, 0), 0);
    EXPECT_EQ(dist44(), poi_line("FIRST BLOCK", kWestA + 10, kSouthA + 20));
    EXPECT_EQ(dlldistxy(kWestA + 20, kSouthA + 30, 100, 0), 0);
    EXPECT_EQ(dist44(), poi_line("FIRST BLOCK", kWestA + 10, kSouthA + 20));
    EXPECT_EQ(dlldistsearch("BLOCK"), 1);
    EXPECT_EQ(dist44(), poi_line("FIRST BLOCK", kWestA + 10, kSouthA + 20) +
                            poi_line("SECOND BLOCK", kWestA + 30, kSouthA + 40));
}

// ---- notes ---------------------------------------------------------------------------------

TEST_F(PoiReportTest, NotesThatAddressNoWholeRecordGiveALineWithoutANote) {
    files_.block(kTileA, {{1, 1, 105, 0, 1, "WHOLE NOTE"},
                          {2, 2, 105, 0, 2, "HALF NOTE"},
                          {3, 3, 105, 0, 99, "FAR NOTE"},
                          {4, 4, 105, 0, -5, "NEGATIVE NOTE"},
                          {5, 5, 105, 0, 0, "NUL IN NOTE"}});
    files_.raw_notes(std::string("SHORT\0", 6) + std::string(46, 'z'));
    const std::string full(52, 'N');  // no terminator: all 52 bytes
    files_.raw_notes(full);
    files_.raw_notes("HALF");  // note 2 is 4 bytes long
    files_.write(data_dir_);
    index_tile(105, kTileA);
    EXPECT_EQ(dlldist44(105, 0), 4);
    EXPECT_EQ(dist44(), poi_line("WHOLE NOTE", kWestA + 1, kSouthA + 1, full) +
                            poi_line("HALF NOTE", kWestA + 2, kSouthA + 2) +
                            poi_line("FAR NOTE", kWestA + 3, kSouthA + 3) +
                            poi_line("NEGATIVE NOTE", kWestA + 4, kSouthA + 4) +
                            poi_line("NUL IN NOTE", kWestA + 5, kSouthA + 5, "SHORT"));
}

TEST_F(PoiReportTest, BlocksThatRunPastTheFileOrTheWorkBufferAreSkipped) {
    files_.raw_entry(kTileA, 3, 6000);      // four records, but the file holds one
    files_.raw_entry(kTileB, 0, -40);       // before the start of the file
    files_.raw_entry(kTileC, 60000, 6000);  // more than the work buffer holds
    files_.block(kTileC + 1, {{1, 2, 105, 0, -1, "GOOD"}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistsearch(""), 0);
    EXPECT_EQ(dist44(), poi_line("GOOD", kWestB + 1, kSouthC + 2));
}

TEST_F(PoiReportTest, ABlockOfMoreRecordsThanTheWorkBufferHoldsIsSkipped) {
    const int fits = static_cast<int>(data::WORK_BUFFER_SIZE / data::POI_RECORD_BYTES);
    std::vector<Poi> many(fits + 1, Poi{1, 1, 105, 3, -1, "MANY"});
    files_.block(kTileA, many);
    files_.block(kTileB, {{1, 2, 105, 0, -1, "FEW"}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistsearch(""), 0);
    EXPECT_EQ(dist44(), poi_line("FEW", kWestB + 1, kSouthA + 2));
}

// ---- dlldistxy ----------------------------------------------------------------------------

TEST_F(PoiReportTest, ByWindowCategoryZeroSelectsEveryCategoryStrictlyInside) {
    files_.block(kTileA, {{100, 100, 105, 0, -1, "CENTRE"},
                          {150, 100, 999, 7, -1, "EAST EDGE"},  // exactly r east
                          {149, 149, 105, 3, -1, "NEAR CORNER"},
                          {100, 50, 105, 3, -1, "SOUTH EDGE"}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistxy(kWestA + 100, kSouthA + 100, 50, 0), 1);
    EXPECT_EQ(dist44(), poi_line("CENTRE", kWestA + 100, kSouthA + 100) +
                            poi_line("NEAR CORNER", kWestA + 149, kSouthA + 149));
    EXPECT_EQ(dlldistxy(kWestA + 100, kSouthA + 100, 50, 3), 0);
    EXPECT_EQ(dist44(), poi_line("NEAR CORNER", kWestA + 149, kSouthA + 149));
    EXPECT_EQ(dlldistxy(kWestA + 100, kSouthA + 100, 51, 7), 0);
}

TEST_F(PoiReportTest, ByWindowAZeroOrNegativeHalfSideSelectsNothing) {
    files_.block(kTileA, {{100, 100, 105, 0, -1, "CENTRE"}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistxy(kWestA + 100, kSouthA + 100, 0, 0), -1);
    EXPECT_EQ(dist44(), "");
    EXPECT_EQ(dlldistxy(kWestA + 100, kSouthA + 100, -10, 0), -1);
}

TEST_F(PoiReportTest, AWindowAcrossTileBordersReadsColumnsOuterRowsInner) {
    // Tiles A (column 25, row 277), B (26, 277) and C (25, 278); the window's centre is A's
    // north-east corner. The index lists B first, then C, then A.
    files_.block(kTileB, {{10, 9990, 1, 0, -1, "B POINT"}});
    files_.block(kTileC, {{9990, 10, 1, 0, -1, "C POINT"}});
    files_.block(kTileA, {{9990, 9990, 1, 0, -1, "A POINT"}, {10, 10, 1, 0, -1, "A FAR"}});
    files_.block(kTileC + 1, {{10, 10, 1, 0, -1, "D POINT"}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistxy(kWestB, kSouthC, 100, 0), 3);
    EXPECT_EQ(dist44(), poi_line("A POINT", kWestA + 9990, kSouthA + 9990) +
                            poi_line("C POINT", kWestA + 9990, kSouthC + 10) +
                            poi_line("B POINT", kWestB + 10, kSouthA + 9990) +
                            poi_line("D POINT", kWestB + 10, kSouthC + 10));
}

TEST_F(PoiReportTest, AnEnormousWindowEndsPromptly) {
    files_.block(kTileA, {{100, 100, 105, 0, -1, "CENTRE"}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistxy(0, 0, 2147483647, 0), 0);
}

// ---- dlldistsearch ------------------------------------------------------------------------

TEST_F(PoiReportTest, SearchMatchesBytesAnywhereInTheTwentyEightByteName) {
    const std::string full = "ABCDEFGHIJKLMNOPQRSTUVWXYZ01";  // 28 bytes
    files_.block(kTileA, {{1, 1, 105, 0, -1, full},
                          {2, 2, 105, 0, -1, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0"},
                          {3, 3, 105, 0, -1, "XYZ01 AT THE START"}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistsearch(full.c_str()), 0);
    EXPECT_EQ(dist44(), poi_line(full, kWestA + 1, kSouthA + 1));
    EXPECT_EQ(dlldistsearch("Z01"), 1);  // the last 3 bytes of the first name
    EXPECT_EQ(dist44(), poi_line(full, kWestA + 1, kSouthA + 1) +
                            poi_line("XYZ01 AT THE START", kWestA + 3, kSouthA + 3));
    EXPECT_EQ(dlldistsearch((full + "2").c_str()), -1);  // longer than a name
    EXPECT_EQ(dist44(), "");
}

TEST_F(PoiReportTest, EachRecordIsReportedOnceAndANulInTheNameEndsAMatch) {
    files_.block(kTileA,
                 {{1, 1, 105, 0, -1, "AA AA AA"}, {2, 2, 105, 0, -1, std::string("XA\0A", 4)}});
    files_.write(data_dir_);
    EXPECT_EQ(dlldistsearch("AA"), 0);
    EXPECT_EQ(dist44(), poi_line("AA AA AA", kWestA + 1, kSouthA + 1));
}

TEST_F(PoiReportTest, TheEmptySearchTextReportsEveryPointInIndexOrder) {
    files_.block(kTileB, {{1, 2, 105, 4, -1, "FIRST"}, {3, 4, 106, 5, 0, "SECOND"}});
    files_.block(kTileA, {});
    files_.block(kTileA, {{5, 6, 107, 6, -1, "THIRD"}});
    files_.note("A NOTE");
    files_.write(data_dir_);
    EXPECT_EQ(dlldistsearch(""), 2);
    EXPECT_EQ(dist44(), poi_line("FIRST", kWestB + 1, kSouthA + 2) +
                            poi_line("SECOND", kWestB + 3, kSouthA + 4, padded("A NOTE", 52)) +
                            poi_line("THIRD", kWestA + 5, kSouthA + 6));
}

// A dat44_1.bin of 48 bytes, loaded by the data set loader: index entry 0 addresses a record at
// byte 8 (so the record's x is that entry's offset field, 8, and its y 0); entries 1 to 3 are
// made of the record's bytes (entry 1's last index is the record's note, -1; entries 2 and 3
// have blanks for last index, far past the file). The entries the file does not fill must be
// skipped, not read as tile 0 with a record at byte 0.
TEST_F(PoiReportTest, IndexEntriesThatAShortFileLeftUnfilledAreSkipped) {
    std::string file(12, '\0');
    const int32_t entry0[3] = {kTileA, 0, 8};
    std::memcpy(file.data(), entry0, 12);
    const int16_t district_category[2] = {105, 0};
    file.append(reinterpret_cast<const char*>(district_category), 4);
    const int32_t no_note = -1;
    file.append(reinterpret_cast<const char*>(&no_note), 4);
    file += padded("SHORT FILE", 28);
    ASSERT_EQ(file.size(), 48u);
    write_file(data_dir_ + "dat44_1.bin", file);
    write_file(data_dir_ + "dat44_2.bin", "");
    write_file(data_dir_ + "d4.txt", "105 277025\n");
    write_file(data_dir_ + "alldist.txt", "");
    ASSERT_EQ(data::set_path(data_dir_.c_str(), false), 1);
    EXPECT_EQ(dlldistsearch(""), 0);
    EXPECT_EQ(dist44(), poi_line("SHORT FILE", kWestA + 8, kSouthA));
    EXPECT_EQ(dlldist44(105, 0), 0);
    EXPECT_EQ(dist44(), poi_line("SHORT FILE", kWestA + 8, kSouthA));
}

// ---- failures -------------------------------------------------------------------------------

TEST_F(PoiReportTest, MissingDataFilesGiveMinusOneAndWriteNoReport) {
    files_.block(kTileA, {{1, 1, 105, 0, -1, "CITY HALL"}});
    files_.write(data_dir_);
    ASSERT_EQ(std::remove((data_dir_ + "dat44_2.bin").c_str()), 0);
    EXPECT_EQ(dlldistsearch(""), -1);
    EXPECT_FALSE(exists(folder_ + "/dist44.tmp"));
    data::dataset().data_path[0] = '\0';
    EXPECT_EQ(dlldist44(105, 0), -1);
    EXPECT_EQ(dlldistxy(0, 0, 10, 0), -1);
    EXPECT_FALSE(exists(folder_ + "/dist44.tmp"));
}

TEST_F(PoiReportTest, ANullSearchTextIsRefused) {
    files_.write(data_dir_);
    EXPECT_EQ(dlldistsearch(nullptr), -1);
    EXPECT_FALSE(exists(folder_ + "/dist44.tmp"));
}

}  // namespace
