// Tests of the kdataset-dump command, run as a program: a written data set and a tile file
// are printed, malformed input gives exit status 1 with the reason, misuse status 2.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"
#include "tile_fixture.h"
#include "writer.h"

namespace {

struct DumpResult {
    int status;
    std::string output;  // standard output and standard error together
};

DumpResult run_dump(const std::string& args) {
    const std::string command = std::string(KDATA_DUMP_PROGRAM) + " " + args + " 2>&1";
    DumpResult run{-1, {}};
    std::FILE* p = popen(command.c_str(), "r");
    if (!p) return run;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) run.output.append(buf, n);
    const int status = pclose(p);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

class DumpCommand : public ::testing::Test {
  protected:
    void SetUp() override {
        kdataset::DataSetContent c;
        c.tiles[277025].roads.push_back(
            {5, {{250000, 2770000}, {250100, 2770050}}, "K9", "Harbour Rd", 101});
        c.tile_index = kdataset::derive_tile_index(c.tiles);
        c.pois.push_back({{250100, 2770200}, 101, 7, "Shop", "Open daily"});
        c.catalogue.push_back({kdataset::CatalogueEntry::City, "Keelung", {{321000, 2780000}}});
        ASSERT_EQ(kdataset::write_dataset(c, dir.slash(), nullptr), "");
    }
    test_support::TempDir dir;
};

TEST_F(DumpCommand, PrintsEveryFileOfADataSet) {
    const DumpResult r = run_dump(dir.slash());
    EXPECT_EQ(r.status, 0) << r.output;
    for (const char* expected :
         {"101 277025", "poi 0 at (250100, 2770200)", "\"Open daily\"", "city \"Keelung\"",
          "frame (0, 0)-(220000, 380000)", "277025.dat: tile 277025"})
        EXPECT_NE(r.output.find(expected), std::string::npos) << expected << "\n" << r.output;
}

TEST_F(DumpCommand, PrintsATileWithItsRecordsAndVertices) {
    const DumpResult r = run_dump("--vertices " + dir.file("277025.dat"));
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("code \"K9\" district 101 name 0 \"Harbour Rd\""), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("(250100, 2770050)"), std::string::npos) << r.output;
}

TEST_F(DumpCommand, MalformedTileExitsWithItsReason) {
    fixture::TileFile t;
    t.roads = {{5, 0, 0, 5, "", 0, 100}};  // five vertices, no deltas, and no names
    ASSERT_TRUE(fixture::write_bytes(dir.file("277026.dat"), t.bytes()));
    DumpResult r = run_dump(dir.file("277026.dat"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("name index out of range"), std::string::npos) << r.output;
    r = run_dump(dir.slash());  // the data set holds the bad tile too
    EXPECT_EQ(r.status, 1);
}

TEST_F(DumpCommand, PointOfInterestBlockOrNoteOutsideItsFileExitsWithItsReason) {
    // dat44_1.bin as the writer made it: entry 0 (tile, last index, offset) at byte 0, its
    // block at 6000; record 0's note index at byte 8 of the record.
    std::vector<uint8_t> original;
    ASSERT_TRUE(fixture::read_bytes(dir.file("dat44_1.bin"), &original));
    struct Case {
        std::size_t at;
        int32_t value;
        const char* reason;
    };
    for (const Case& c : {Case{8, 6001, "block of entry 0 runs past the end of the file"},
                          Case{4, -2, "entry 0: last index -2 outside -1 to 49999"},
                          Case{6008, 1, "note 1 lies past the end"}}) {
        std::vector<uint8_t> bytes = original;
        fixture::set32(bytes, c.at, c.value);
        ASSERT_TRUE(fixture::write_bytes(dir.file("dat44_1.bin"), bytes));
        const DumpResult r = run_dump(dir.slash());
        EXPECT_EQ(r.status, 1) << c.reason;
        EXPECT_NE(r.output.find(c.reason), std::string::npos) << r.output;
    }
}

TEST_F(DumpCommand, ExplainsItsUseAndRefusesUnknownArguments) {
    DumpResult r = run_dump("--help");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.output.find("Usage: kdataset-dump"), std::string::npos);
    EXPECT_EQ(run_dump("").status, 2);
    EXPECT_EQ(run_dump("--frobnicate x").status, 2);
    EXPECT_EQ(run_dump(dir.file("no-such-file.dat")).status, 1);
}

}  // namespace
