// road_reports_test.cpp: dlldistroad and dlldistcrrd. Slots are filled by hand and the district
// index by entries; the expected report files are built from the line format (name padded to
// 20 bytes, 7 blanks, X, one blank, Y, CR LF) and compared byte for byte.
#include "fixture.h"
#include "kestrel.h"

namespace {

using namespace qtest;
namespace query = kestrel::query;

constexpr int32_t kTileA = 277025;
constexpr int32_t kTileB = 277026;
constexpr long kWestA = 250000, kWestB = 260000, kSouth = 2770000;

class RoadReportTest : public QueryTest {};

TEST_F(RoadReportTest, AnUnknownDistrictGivesAnEmptyFreshReport) {
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    write_file(folder_ + "/distroad.tmp", "an earlier report\r\n");
    SlotBuilder a(0, kTileA);
    a.road(3, 105, "MAIN ST", {{10, 20}, {30, 40}});
    index_tile(105, kTileA);
    EXPECT_EQ(dlldistroad(999), -1);
    EXPECT_TRUE(exists(folder_ + "/distroad.tmp"));
    EXPECT_EQ(report("distroad.tmp"), "");
}

TEST_F(RoadReportTest, EachDistinctNameIsListedOnceAtItsFirstVertex) {
    SlotBuilder a(0, kTileA);
    a.road(3, 105, "MAIN ST", {{10, 20}, {30, 40}});
    a.road(3, 105, "ELM ST", {{50, 60}, {70, 80}});
    a.road(4, 105, "MAIN ST", {{90, 100}, {110, 120}});
    SlotBuilder b(1, kTileB);
    b.road(5, 105, "OAK AVE", {{-5, 7}, {1, 1}});
    b.road(5, 105, "ELM ST", {{1, 2}, {3, 4}});
    index_tile(105, kTileA);
    index_tile(200, kTileB);
    index_tile(105, kTileB);
    index_tile(105, kTileA);  // listed twice: its names are already in the list
    EXPECT_EQ(dlldistroad(105), 2);
    EXPECT_EQ(report("distroad.tmp"), road_line("MAIN ST", kWestA + 10, kSouth + 20) +
                                          road_line("ELM ST", kWestA + 50, kSouth + 60) +
                                          road_line("OAK AVE", kWestB - 5, kSouth + 7));
}

TEST_F(RoadReportTest, OnlyNamedRoadsOfTheDistrictAreListed) {
    SlotBuilder a(0, kTileA);
    a.road(3, 105, " BLANK FIRST", {{1, 1}, {2, 2}});
    a.road(3, 106, "OTHER DISTRICT", {{1, 1}, {2, 2}});
    a.road(12, 105, "A LINE", {{1, 1}, {2, 2}});
    a.road(9, 105, "TYPE NINE", {{3, 4}, {2, 2}});
    a.point(21, 5, 5, "TOWN");
    index_tile(105, kTileA);
    EXPECT_EQ(dlldistroad(105), 0);
    EXPECT_EQ(report("distroad.tmp"), road_line("TYPE NINE", kWestA + 3, kSouth + 4));
}

TEST_F(RoadReportTest, AMissingTileFileIsPassedOver) {
    SlotBuilder b(3, kTileB);
    b.road(3, 105, "OAK AVE", {{1, 2}, {3, 4}});
    index_tile(105, kTileA);  // neither cached nor on disk
    index_tile(105, kTileB);
    EXPECT_EQ(dlldistroad(105), 0);
    EXPECT_EQ(report("distroad.tmp"), road_line("OAK AVE", kWestB + 1, kSouth + 2));
}

TEST_F(RoadReportTest, ANameWithoutBlanksIsPrintedUpToItsNul) {
    SlotBuilder a(0, kTileA);
    const int r = a.road(3, 105, "SHORT", {{1, 2}, {3, 4}});
    std::memcpy(a.slot().names[a.record(r).name_index].bytes, "SHORT\0ZZZ", 9);
    const int r2 = a.road(3, 105, "SHORT", {{5, 6}, {3, 4}});
    std::memcpy(a.slot().names[a.record(r2).name_index].bytes, "SHORT\0YYY", 9);
    index_tile(105, kTileA);
    EXPECT_EQ(dlldistroad(105), 0);  // equal up to the NUL: one name
    EXPECT_EQ(report("distroad.tmp"), "SHORT       250001 2770002\r\n");
}

TEST_F(RoadReportTest, TheNameListStopsAtItsCapacity) {
    query::ReportNameList& list = query::report_names();
    list.clear();
    char name[21];
    for (int i = 0; i < query::REPORT_NAME_CAPACITY; ++i) {
        std::snprintf(name, sizeof name, "%-20d", i);
        ASSERT_TRUE(list.add(name)) << i;
    }
    EXPECT_EQ(list.last(), query::REPORT_NAME_CAPACITY - 1);
    EXPECT_FALSE(list.add("ONE TOO MANY        "));
    EXPECT_FALSE(list.contains("ONE TOO MANY        "));
    EXPECT_TRUE(list.contains("99999               "));
    EXPECT_FALSE(list.add("0                   "));
    EXPECT_EQ(list.last(), query::REPORT_NAME_CAPACITY - 1);
    list.clear();
    EXPECT_EQ(list.last(), -1);
    EXPECT_FALSE(list.contains("0                   "));
}

// ---- dlldistcrrd ------------------------------------------------------------------------------

// A crossing in tile A: MAIN ST runs east along y 100 through (100,100), (200,100), (300,100).
// ELM ST meets it at (200,100), OAK AVE at (100,100) and (300,100), PINE RD crosses between
// stored vertices, MAIN ST continues in a second record, and a road of district 300 meets it at
// (300,100).
class MeetingRoadTest : public QueryTest {
  protected:
    void SetUp() override {
        QueryTest::SetUp();
        SlotBuilder a(0, kTileA);
        a.road(5, 105, "ELM ST", {{200, 0}, {200, 100}, {200, 200}});
        a.road(3, 105, "MAIN ST", {{100, 100}, {200, 100}, {300, 100}});
        a.road(5, 105, "PINE RD", {{150, 50}, {150, 150}});
        a.road(5, 105, "OAK AVE", {{300, 100}, {300, 0}, {100, 0}, {100, 100}});
        a.road(3, 105, "MAIN ST", {{300, 100}, {400, 100}});
        a.road(6, 300, "FAR WAY", {{300, 100}, {300, 300}});
        a.road(6, 105, " UNNAMED", {{200, 100}, {250, 250}});
        a.road(12, 105, "RIVER", {{200, 100}, {260, 260}});
        index_tile(105, kTileA);
    }
};

TEST_F(MeetingRoadTest, RoadsSharingAStoredVertexAreListedAtTheFirstOneMet) {
    char name[32] = "MAIN ST";
    EXPECT_EQ(dlldistcrrd(105, name), 2);
    // Vertex (100,100) of MAIN ST meets OAK AVE; (200,100) ELM ST; (300,100) OAK AVE again and
    // FAR WAY of another district. PINE RD crosses without a shared vertex.
    EXPECT_EQ(report("distcrrd.tmp"), road_line("OAK AVE", kWestA + 100, kSouth + 100) +
                                          road_line("ELM ST", kWestA + 200, kSouth + 100) +
                                          road_line("FAR WAY", kWestA + 300, kSouth + 100));
}

TEST_F(MeetingRoadTest, TheCallersNameIsPaddedInPlace) {
    char name[32];
    std::memset(name, 'x', sizeof name);
    std::memcpy(name, "ELM S", 6);
    EXPECT_EQ(dlldistcrrd(105, name), -1);  // "ELM S" padded is not "ELM ST"
    EXPECT_EQ(std::string(name, 21), std::string("ELM S") + std::string(15, ' ') + '\0');
    EXPECT_EQ(name[21], 'x');

    char long_name[32] = "ELM ST              TOO LONG";  // 28 characters
    EXPECT_EQ(dlldistcrrd(105, long_name), 0);            // cut to its first 20
    EXPECT_EQ(std::string(long_name, 21), padded("ELM ST") + '\0');
    EXPECT_EQ(report("distcrrd.tmp"), road_line("MAIN ST", kWestA + 200, kSouth + 100));

    char twenty_five[32] = "ABCDEFGHIJKLMNOPQRSTUVWXY";
    dlldistcrrd(105, twenty_five);
    EXPECT_EQ(std::string(twenty_five, 21), std::string("ABCDEFGHIJKLMNOPQRST") + '\0');
}

TEST_F(MeetingRoadTest, AnEmptyNameSelectsRoadsNamedWithTwentyBlanks) {
    SlotBuilder b(1, kTileB);
    b.road(3, 105, "", {{10, 10}, {20, 20}});
    b.road(3, 105, "BRIDGE ST", {{20, 20}, {30, 30}});
    b.road(3, 105, "CANAL ST", {{5, 5}, {6, 6}});
    index_tile(105, kTileB);
    char name[32] = "";
    EXPECT_EQ(dlldistcrrd(105, name), 0);
    EXPECT_EQ(std::string(name, 21), std::string(20, ' ') + '\0');
    EXPECT_EQ(report("distcrrd.tmp"), road_line("BRIDGE ST", kWestB + 20, kSouth + 20));
}

TEST_F(MeetingRoadTest, ANameThatNoRoadBearsGivesAnEmptyReport) {
    char name[32] = "NO SUCH ROAD";
    EXPECT_EQ(dlldistcrrd(105, name), -1);
    EXPECT_EQ(report("distcrrd.tmp"), "");
    char main_st[32] = "MAIN ST";
    EXPECT_EQ(dlldistcrrd(300, main_st), -1);  // not a road of district 300, and no tile
}

TEST_F(MeetingRoadTest, ANullNameIsRefused) {
    EXPECT_EQ(dlldistcrrd(105, nullptr), -1);
}

// ---- through the tile cache -----------------------------------------------------------------

// A tile file with one section B road per name given, each from (10*i + 1, 20) east by 5 m,
// built from the format tables.
std::string roads_tile_file(int32_t tile, const std::vector<std::string>& names) {
    std::string f(128, '\0');
    auto put32 = [&](std::size_t at, int32_t v) { std::memcpy(&f[at], &v, 4); };
    auto add16 = [&](int v) {
        const auto w = static_cast<int16_t>(v);
        f.append(reinterpret_cast<const char*>(&w), 2);
    };
    const int n = static_cast<int>(names.size());
    const int delta_at = 128 + 16 * n, names_at = delta_at + 2 * n;
    const int32_t header[][2] = {{8, 4},         {12, -1},       {16, -1},       {20, 128},
                                 {24, n - 1},    {28, 16},       {32, 128},      {36, -1},
                                 {40, delta_at}, {44, -1},       {48, delta_at}, {52, -1},
                                 {56, delta_at}, {64, delta_at}, {68, n - 1},    {76, names_at}};
    for (const auto& [at, v] : header) put32(static_cast<std::size_t>(at), v);
    put32(84, data::tile_west(tile));
    put32(88, data::tile_south(tile));
    put32(96, tile);
    for (int i = 0; i < n; ++i) {
        const int x = 10 * i + 1, y = 20;
        add16(3);
        add16(x);
        add16(y);
        add16(2 + x % 100 + y % 100 + (x % 10) * (y % 10));
        f += std::string(4, '\0');
        add16(i);
        add16(105);
    }
    for (int i = 0; i < n; ++i) f += std::string("\x05\x00", 2);
    for (const std::string& name : names) f += padded(name);
    return f;
}

TEST_F(RoadReportTest, TilesAreLoadedThroughTheCacheInIndexOrder) {
    write_file(data_dir_ + std::to_string(kTileB) + ".dat", roads_tile_file(kTileB, {"B1", "B2"}));
    write_file(data_dir_ + std::to_string(kTileA) + ".dat", roads_tile_file(kTileA, {"A1", "B1"}));
    index_tile(105, kTileB);
    index_tile(105, kTileA);
    EXPECT_EQ(dlldistroad(105), 2);
    EXPECT_EQ(report("distroad.tmp"), road_line("B1", kWestB + 1, kSouth + 20) +
                                          road_line("B2", kWestB + 11, kSouth + 20) +
                                          road_line("A1", kWestA + 1, kSouth + 20));
}

}  // namespace
