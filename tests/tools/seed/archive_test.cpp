// archive_test.cpp: the archive writers of kseed. MBTiles files are read back through SQLite;
// PMTiles headers are checked against the format's table of fields (the directories and tiles
// are read by the pmtiles npm package in check_pmtiles.mjs).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <tuple>

#include "mbtiles.h"
#include "pmtiles.h"
#include "test_support/temp_dir.h"

namespace {

using kseed::ArchiveInfo;
using kseed::MbtilesWriter;
using kseed::PmtilesWriter;

// Rows of a query, each row's columns as text (blobs as their bytes).
std::vector<std::vector<std::string>> query(const std::string& path, const std::string& sql) {
    sqlite3* db = nullptr;
    std::vector<std::vector<std::string>> rows;
    EXPECT_EQ(sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    sqlite3_stmt* s = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr), SQLITE_OK) << sql;
    while (s && sqlite3_step(s) == SQLITE_ROW) {
        rows.emplace_back();
        for (int c = 0; c < sqlite3_column_count(s); ++c) {
            const auto* p = static_cast<const char*>(sqlite3_column_blob(s, c));
            rows.back().emplace_back(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(s, c)));
        }
    }
    sqlite3_finalize(s);
    sqlite3_close(db);
    return rows;
}

ArchiveInfo info(int minzoom, int maxzoom) {
    ArchiveInfo i;
    i.name = "test \"set\"";
    i.attribution = "made here";
    i.minzoom = minzoom;
    i.maxzoom = maxzoom;
    i.bounds[0] = 121.5;
    i.bounds[1] = 25.0;
    i.bounds[2] = 121.6;
    i.bounds[3] = 25.1;
    i.center[0] = 121.55;
    i.center[1] = 25.05;
    i.center_zoom = minzoom;
    return i;
}

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

uint64_t le(const std::string& b, size_t at, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

TEST(TileIds, FollowTheHilbertCurveOfEachZoomAsTheFormatTableSays) {
    const std::tuple<int, uint64_t, uint64_t, uint64_t> table[] = {
        {0, 0, 0, 0},
        {1, 0, 0, 1},
        {1, 0, 1, 2},
        {1, 1, 1, 3},
        {1, 1, 0, 4},
        {2, 0, 0, 5},
        {12, 3423, 1763, 19078479},
    };
    for (const auto& [z, x, y, id] : table)
        EXPECT_EQ(kseed::hilbert_tile_id(z, x, y), id) << z << "/" << x << "/" << y;
    // Each zoom's ids follow the last of the zoom before, without gaps.
    EXPECT_EQ(kseed::hilbert_tile_id(18, 0, 0), ((uint64_t{1} << 36) - 1) / 3);
}

TEST(Mbtiles, StoresRepeatedTilesOnceWithRowsFromTheBottomAndTheMetadata) {
    test_support::TempDir dir;
    const std::string path = dir.file("a.mbtiles");
    std::string error;
    auto w = MbtilesWriter::create(path, error);
    ASSERT_TRUE(w) << error;
    ASSERT_TRUE(w->add(3, 1, 2, "blank", error)) << error;
    ASSERT_TRUE(w->add(3, 2, 2, "blank", error)) << error;
    ASSERT_TRUE(w->add(3, 3, 0, "roads", error)) << error;
    EXPECT_FALSE(w->add(3, 8, 0, "outside", error));
    EXPECT_FALSE(w->add(3, 4, 4, "", error));
    EXPECT_EQ(w->tiles(), 3u);
    EXPECT_EQ(w->contents(), 2u);
    ASSERT_TRUE(w->finish(info(3, 3), error)) << error;

    EXPECT_EQ(query(path, "SELECT count(*) FROM images")[0][0], "2");
    const auto tiles = query(
        path,
        "SELECT zoom_level, tile_column, tile_row, tile_data FROM tiles ORDER BY tile_column");
    ASSERT_EQ(tiles.size(), 3u);
    EXPECT_EQ(tiles[0], (std::vector<std::string>{"3", "1", "5", "blank"}));
    EXPECT_EQ(tiles[2], (std::vector<std::string>{"3", "3", "7", "roads"}));
    std::map<std::string, std::string> meta;
    for (const auto& row : query(path, "SELECT name, value FROM metadata")) meta[row[0]] = row[1];
    EXPECT_EQ(meta["name"], "test \"set\"");
    EXPECT_EQ(meta["format"], "png");
    EXPECT_EQ(meta["bounds"], "121.5,25,121.6,25.1");
    EXPECT_EQ(meta["center"], "121.55,25.05,3");
    EXPECT_EQ(meta["minzoom"], "3");
    EXPECT_EQ(meta["maxzoom"], "3");
    EXPECT_EQ(meta["attribution"], "made here");
    EXPECT_EQ(query(path, "PRAGMA application_id")[0][0], "1297105496");
}

TEST(Mbtiles, AnArchiveOpenedAgainKeepsItsTilesAndJoinsItsZoomsAndBounds) {
    test_support::TempDir dir;
    const std::string path = dir.file("a.mbtiles");
    std::string error;
    {
        auto w = MbtilesWriter::create(path, error);
        ASSERT_TRUE(w && w->add(4, 5, 6, "old", error) && w->add(4, 5, 7, "blank", error));
        ASSERT_TRUE(w->finish(info(4, 4), error)) << error;
    }
    auto w = MbtilesWriter::open(path, error);
    ASSERT_TRUE(w) << error;
    EXPECT_TRUE(w->has(4, 5, 6));
    EXPECT_FALSE(w->has(4, 6, 6));
    EXPECT_FALSE(w->has(5, 5, 6));
    EXPECT_EQ(w->tiles(), 2u);
    // A content already stored is found again; a new one is added.
    ASSERT_TRUE(w->add(5, 10, 12, "blank", error) && w->add(5, 10, 13, "new", error)) << error;
    EXPECT_EQ(w->contents(), 3u);
    ArchiveInfo more = info(5, 5);
    more.bounds[2] = 122.0;
    ASSERT_TRUE(w->finish(more, error)) << error;

    EXPECT_EQ(query(path, "SELECT count(*) FROM tiles")[0][0], "4");
    EXPECT_EQ(query(path, "SELECT count(*) FROM images")[0][0], "3");
    std::map<std::string, std::string> meta;
    for (const auto& row : query(path, "SELECT name, value FROM metadata")) meta[row[0]] = row[1];
    EXPECT_EQ(meta["minzoom"], "4");
    EXPECT_EQ(meta["maxzoom"], "5");
    EXPECT_EQ(meta["bounds"], "121.5,25,122,25.1");
}

TEST(Mbtiles, OnlyItsOwnArchivesAreOpenedToAddTo) {
    test_support::TempDir dir;
    std::string error;
    std::ofstream(dir.file("text.mbtiles")) << "not a database at all, just some text\n";
    EXPECT_FALSE(MbtilesWriter::open(dir.file("text.mbtiles"), error));
    EXPECT_FALSE(error.empty());
    // A plain `tiles` table, as other writers make it.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(dir.file("other.mbtiles").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db,
                 "CREATE TABLE metadata (name TEXT, value TEXT);"
                 "INSERT INTO metadata VALUES ('format', 'png');"
                 "CREATE TABLE tiles (zoom_level, tile_column, tile_row, tile_data);",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    error.clear();
    EXPECT_FALSE(MbtilesWriter::open(dir.file("other.mbtiles"), error));
    EXPECT_NE(error.find("kseed"), std::string::npos) << error;
    EXPECT_FALSE(MbtilesWriter::open(dir.file("absent.mbtiles"), error));
}

TEST(Pmtiles, TheHeaderHoldsTheFormatsFieldsAndTheSectionsFollowEachOther) {
    test_support::TempDir dir;
    const std::string path = dir.file("a.pmtiles");
    std::string error;
    auto w = PmtilesWriter::create(path, error);
    ASSERT_TRUE(w) << error;
    // Two blank tiles next to each other on the curve (one entry, run length 2), one other.
    ASSERT_TRUE(w->add(1, 0, 0, "blank", error) && w->add(1, 0, 1, "blank", error) &&
                w->add(2, 3, 3, "roads!", error) && w->add(1, 1, 0, "blank", error))
        << error;
    EXPECT_FALSE(w->add(2, 4, 0, "outside", error));
    ASSERT_TRUE(w->finish(info(1, 2), error)) << error;
    const std::string b = read_file(path);
    ASSERT_GE(b.size(), 127u);
    EXPECT_EQ(b.substr(0, 7), "PMTiles");
    EXPECT_EQ(b[7], 3);
    const uint64_t root_at = le(b, 8, 8), root_len = le(b, 16, 8);
    const uint64_t meta_at = le(b, 24, 8), meta_len = le(b, 32, 8);
    const uint64_t leaf_at = le(b, 40, 8), leaf_len = le(b, 48, 8);
    const uint64_t data_at = le(b, 56, 8), data_len = le(b, 64, 8);
    EXPECT_EQ(root_at, 127u);
    EXPECT_EQ(meta_at, root_at + root_len);
    EXPECT_EQ(leaf_at, meta_at + meta_len);
    EXPECT_EQ(leaf_len, 0u);
    EXPECT_EQ(data_at, leaf_at);
    EXPECT_EQ(data_at + data_len, b.size());
    EXPECT_EQ(b.substr(data_at), "blankroads!");  // clustered: in tile id order, each once
    EXPECT_EQ(le(b, 72, 8), 4u);                  // addressed tiles
    EXPECT_EQ(le(b, 80, 8), 3u);                  // entries: 1/0/0 with 1/0/1, 1/1/0, 2/3/3
    EXPECT_EQ(le(b, 88, 8), 2u);                  // contents
    EXPECT_EQ(b[96], 1);                          // clustered
    EXPECT_EQ(b[97], 2);                          // gzip directories
    EXPECT_EQ(b[98], 1);                          // tiles as they are
    EXPECT_EQ(b[99], 2);                          // PNG
    EXPECT_EQ(b[100], 1);
    EXPECT_EQ(b[101], 2);
    EXPECT_EQ(static_cast<int32_t>(le(b, 102, 4)), 1215000000);
    EXPECT_EQ(static_cast<int32_t>(le(b, 106, 4)), 250000000);
    EXPECT_EQ(static_cast<int32_t>(le(b, 110, 4)), 1216000000);
    EXPECT_EQ(static_cast<int32_t>(le(b, 114, 4)), 251000000);
    EXPECT_EQ(b[118], 1);
    EXPECT_EQ(static_cast<int32_t>(le(b, 119, 4)), 1215500000);
    EXPECT_EQ(static_cast<int32_t>(le(b, 123, 4)), 250500000);
    // gzip members.
    EXPECT_EQ(b.substr(root_at, 2), "\x1f\x8b");
    EXPECT_EQ(b.substr(meta_at, 2), "\x1f\x8b");
}

TEST(Pmtiles, AnArchiveWithoutTilesIsRefused) {
    test_support::TempDir dir;
    std::string error;
    auto w = PmtilesWriter::create(dir.file("a.pmtiles"), error);
    ASSERT_TRUE(w) << error;
    EXPECT_FALSE(w->finish(info(0, 0), error));
    EXPECT_EQ(error, "no tiles to write");
    EXPECT_FALSE(PmtilesWriter::create(dir.file("absent/a.pmtiles"), error));
}

}  // namespace
