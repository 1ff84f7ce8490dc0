// fixture.h: fixtures of the query and report tests.
//
// - SlotBuilder fills a tile cache slot directly, as the tile loader leaves it (records of
//   sections A, B, C, D in that order, a vertex array, 20-byte blank-padded names), so that a
//   test states exactly which records a slot holds.
// - TempDir makes a private folder that disappears with the test.
// - QueryTest resets the engine's tables and points the report folder into a TempDir.
// - Helpers build expected report lines from the file formats: name, 7 blanks, X, one blank,
//   Y (and for points two blanks and the note), CR LF.
#ifndef KESTREL_TESTS_QUERY_FIXTURE_H
#define KESTREL_TESTS_QUERY_FIXTURE_H

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "data/store.h"
#include "query/query.h"
#include "render/view.h"
#include "test_support/files.h"
#include "test_support/temp_dir.h"

// Pixel points compare by value (for expected polylines).
inline bool operator==(const POINT& a, const POINT& b) {
    return a.x == b.x && a.y == b.y;
}

namespace qtest {

using test_support::TempDir;

namespace data = kestrel::data;

using Points = std::vector<std::pair<int, int>>;  // slot-relative metres

// A name as stored: the bytes, blank-padded to 20.
inline std::string padded(const std::string& name, std::size_t width = data::NAME_BYTES) {
    std::string s = name.substr(0, width);
    s.resize(width, ' ');
    return s;
}

class SlotBuilder {
  public:
    // Empties slot `s` and gives it `tile`, the tile's south-west corner as origin and the
    // in-view flag.
    SlotBuilder(int s, int32_t tile, bool in_view = false) : index_(s), slot_(data::slot(s)) {
        std::memset(&slot_.header, 0, sizeof slot_.header);
        slot_.header.tile_number = tile;
        slot_.header.origin_x = data::tile_west(tile);
        slot_.header.origin_y = data::tile_south(tile);
        slot_.header.in_view = in_view ? 1 : 0;
        slot_.header.last_record = -1;
        slot_.header.vertex_last = -1;
        slot_.header.name_last = -1;
    }

    int index() const { return index_; }
    data::TileSlot& slot() { return slot_; }

    // A road (section B): type, district, 20-byte name entry, road code, vertices. Returns the
    // record index.
    int road(int type, int district, const std::string& name, const Points& pts,
             const std::string& code = "") {
        data::FeatureRecord& r = add(type, pts);
        r.district = static_cast<int16_t>(district);
        r.name_index = name_entry(name);
        std::memset(r.code, 0, sizeof r.code);
        std::memcpy(r.code, code.data(), std::min<std::size_t>(code.size(), 4));
        return slot_.header.last_record;
    }

    // A line or area of section A (no name or district; the loader clears them).
    int line(int type, const Points& pts) {
        add(type, pts);
        return slot_.header.last_record;
    }

    // A point feature (type above 20) anchored at one vertex, with a name.
    int point(int type, int x, int y, const std::string& name) {
        data::FeatureRecord& r = add(type, {{x, y}});
        r.vertex_count = 0;
        r.name_index = name_entry(name);
        return slot_.header.last_record;
    }

    data::FeatureRecord& record(int i) { return slot_.records[i]; }

  private:
    data::FeatureRecord& add(int type, const Points& pts) {
        const int i = ++slot_.header.last_record;
        data::FeatureRecord& r = slot_.records[i];
        std::memset(&r, 0, sizeof r);
        r.type = static_cast<int16_t>(type);
        r.vertex_count = static_cast<int16_t>(pts.size());
        r.first_vertex = slot_.header.vertex_last + 1;
        for (const auto& [x, y] : pts) {
            data::Vertex& v = slot_.vertices[++slot_.header.vertex_last];
            v.x = static_cast<int16_t>(x);
            v.y = static_cast<int16_t>(y);
        }
        return r;
    }

    int16_t name_entry(const std::string& name) {
        const int n = ++slot_.header.name_last;
        std::memcpy(slot_.names[n].bytes, padded(name).data(), data::NAME_BYTES);
        return static_cast<int16_t>(n);
    }

    int index_;
    data::TileSlot& slot_;
};

using test_support::read_file;
using test_support::write_file;

inline bool exists(const std::string& path) {
    struct stat st {};
    return lstat(path.c_str(), &st) == 0;
}

// One line of a road report: the stored 20-byte name, 7 blanks, X, one blank, Y, CR LF.
inline std::string road_line(const std::string& name, long x, long y) {
    return padded(name) + "       " + std::to_string(x) + " " + std::to_string(y) + "\r\n";
}

// One line of the point report: the 28-byte name, 7 blanks, X, one blank, Y, two blanks, the
// note (if any), CR LF.
inline std::string poi_line(const std::string& name, long x, long y, const std::string& note = "") {
    return padded(name, 28) + "       " + std::to_string(x) + " " + std::to_string(y) + "  " +
           note + "\r\n";
}

// Resets the engine and sends reports into a private folder.
class QueryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        data::reset_all();
        kestrel::render::reset_view_state();
        ASSERT_FALSE(base_.path().empty());
        ASSERT_TRUE(kestrel::query::set_report_base(base_.path().c_str()));
        char folder[256];
        ASSERT_TRUE(kestrel::query::report_folder(folder, sizeof folder));
        folder_ = folder;
        data_dir_ = base_.path() + "/data/";
        ASSERT_EQ(mkdir(data_dir_.c_str(), 0755), 0);
        std::strcpy(data::dataset().data_path, data_dir_.c_str());
    }
    void TearDown() override { kestrel::query::set_report_base(nullptr); }

    // Appends a district index entry.
    void index_tile(int32_t district, int32_t tile) {
        data::DataSet& ds = data::dataset();
        ++ds.tile_index_last;
        ds.tile_index_district[ds.tile_index_last] = district;
        ds.tile_index_tile[ds.tile_index_last] = tile;
    }

    std::string report(const char* name) const { return read_file(folder_ + "/" + name); }

    TempDir base_;
    std::string folder_;    // the report folder
    std::string data_dir_;  // the data path, with its trailing separator
};

}  // namespace qtest

#endif  // KESTREL_TESTS_QUERY_FIXTURE_H
