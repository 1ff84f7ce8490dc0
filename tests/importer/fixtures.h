// fixtures.h: helpers of the importer tests: a temporary folder, GeoJSON files written by the
// tests (in grid metres, so that expected tile contents can be worked out by hand), and a
// reader of tile files written from the tile format's tables, independent of the writer and
// of the engine.
#ifndef KESTREL_TESTS_IMPORTER_FIXTURES_H
#define KESTREL_TESTS_IMPORTER_FIXTURES_H

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "test_support/temp_dir.h"

namespace kimport_test {

// A folder under /tmp removed with everything in it when the object goes (the shared one).
using test_support::TempDir;

inline void write_text(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

inline std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

using Coords = std::vector<std::pair<double, double>>;

// Builds a GeoJSON FeatureCollection, in EPSG:3826 unless another CRS name is given.
class GeoJson {
  public:
    explicit GeoJson(std::string crs = "urn:ogc:def:crs:EPSG::3826") : crs_(std::move(crs)) {}

    // `props` is the inside of the properties object, e.g. "\"highway\":\"primary\"".
    GeoJson& line(const std::string& props, const Coords& c) {
        return add(props, "{\"type\":\"LineString\",\"coordinates\":" + coords(c) + "}");
    }
    GeoJson& point(const std::string& props, double x, double y) {
        return add(props, "{\"type\":\"Point\",\"coordinates\":" + num(x, y) + "}");
    }
    // One polygon of rings (exterior first), each ring given open; it is closed here.
    GeoJson& polygon(const std::string& props, const std::vector<Coords>& rings) {
        std::string g = "{\"type\":\"Polygon\",\"coordinates\":[";
        for (std::size_t i = 0; i < rings.size(); ++i) {
            Coords r = rings[i];
            r.push_back(r.front());
            g += (i ? "," : "") + coords(r);
        }
        return add(props, g + "]}");
    }
    std::string text() const {
        std::string crs = crs_.empty() ? std::string()
                                       : "\"crs\":{\"type\":\"name\",\"properties\":{\"name\":\"" +
                                             crs_ + "\"}},";
        return "{\"type\":\"FeatureCollection\"," + crs + "\"features\":[" + features_ + "]}";
    }
    void save(const std::string& path) const { write_text(path, text()); }

  private:
    static std::string num(double x, double y) {
        std::ostringstream o;
        o.precision(12);
        o << "[" << x << "," << y << "]";
        return o.str();
    }
    static std::string coords(const Coords& c) {
        std::string s = "[";
        for (std::size_t i = 0; i < c.size(); ++i)
            s += (i ? "," : "") + num(c[i].first, c[i].second);
        return s + "]";
    }
    GeoJson& add(const std::string& props, const std::string& geom) {
        if (!features_.empty()) features_ += ",";
        features_ +=
            "{\"type\":\"Feature\",\"properties\":{" + props + "},\"geometry\":" + geom + "}";
        return *this;
    }
    std::string crs_;
    std::string features_;
};

// One record of a tile file, decoded into world metres.
struct TileRecord {
    char section = 'A';
    int type = 0;
    int district = 0;
    std::string name;  // 20 bytes, blank padded (roads and named points)
    std::vector<std::pair<int32_t, int32_t>> points;
};

struct TileFile {
    bool ok = false;
    int32_t number = 0, origin_x = 0, origin_y = 0;
    int names = 0;
    int vertices = 0;  // file vertices plus decoded road vertices
    std::vector<TileRecord> records;
};

// Reads a tile file by its format tables: the 128-byte header (offsets 8 .. 96), sections A
// to D, the vertex array, the delta stream and the names. Every read is bounds-checked; a
// file that does not hold together gives ok == false.
inline TileFile read_tile(const std::string& path) {
    TileFile t;
    std::string b = read_text(path);
    auto i32 = [&](std::size_t at, bool* good) -> int32_t {
        if (at + 4 > b.size()) {
            *good = false;
            return 0;
        }
        uint32_t v;
        std::memcpy(&v, b.data() + at, 4);
        return static_cast<int32_t>(v);
    };
    auto i16 = [&](std::size_t at, bool* good) -> int16_t {
        if (at + 2 > b.size()) {
            *good = false;
            return 0;
        }
        uint16_t v;
        std::memcpy(&v, b.data() + at, 2);
        return static_cast<int16_t>(v);
    };
    bool g = b.size() >= 128;
    int32_t stride = i32(8, &g), a_last = i32(12, &g), anchor = i32(16, &g), a_off = i32(20, &g);
    int32_t b_last = i32(24, &g), b_size = i32(28, &g), b_off = i32(32, &g);
    int32_t c_last = i32(36, &g), c_off = i32(40, &g), d_last = i32(44, &g), d_off = i32(48, &g);
    int32_t v_last = i32(52, &g), v_off = i32(56, &g), delta_off = i32(64, &g);
    int32_t n_last = i32(68, &g), n_off = i32(76, &g);
    t.origin_x = i32(84, &g);
    t.origin_y = i32(88, &g);
    t.number = i32(96, &g);
    if (!g) return t;
    std::vector<std::pair<int32_t, int32_t>> verts;
    for (int32_t i = 0; i <= v_last && g; ++i) {
        verts.emplace_back(i16(v_off + 4 * i, &g), i16(v_off + 4 * i + 2, &g));
    }
    auto name_at = [&](int idx) {
        if (idx < 0 || idx > n_last || std::size_t(n_off) + 20 * (idx + 1) > b.size()) {
            g = false;
            return std::string();
        }
        return b.substr(n_off + 20 * idx, 20);
    };
    auto world = [&](std::pair<int32_t, int32_t> v) {
        return std::make_pair(t.origin_x + v.first, t.origin_y + v.second);
    };
    int32_t first = 0;
    for (int32_t i = 0; i <= a_last && g; ++i) {
        TileRecord r;
        r.section = 'A';
        r.type = i16(a_off + stride * i, &g);
        int n = i16(a_off + stride * i + 2, &g);
        for (int k = 0; k < n && g; ++k) {
            if (first + k >= static_cast<int32_t>(verts.size()))
                g = false;
            else
                r.points.push_back(world(verts[first + k]));
        }
        first += n;
        t.records.push_back(std::move(r));
    }
    std::size_t delta = delta_off;
    int decoded = 0;
    for (int32_t i = 0; i <= b_last && g; ++i) {
        std::size_t at = b_off + std::size_t(b_size) * i;
        TileRecord r;
        r.section = 'B';
        r.type = i16(at, &g);
        int16_t x = i16(at + 2, &g), y = i16(at + 4, &g), coded = i16(at + 6, &g);
        int count = coded - ((x % 100) + (y % 100) + (x % 10) * (y % 10));
        r.name = name_at(i16(at + 12, &g));
        r.district = i16(at + 14, &g);
        std::pair<int32_t, int32_t> v{x, y};
        r.points.push_back(world(v));
        for (int k = 1; k < count && g; ++k) {
            if (delta + 2 > b.size()) {
                g = false;
                break;
            }
            v.first += static_cast<int8_t>(b[delta]);
            v.second += static_cast<int8_t>(b[delta + 1]);
            delta += 2;
            r.points.push_back(world(v));
        }
        decoded += count;
        t.records.push_back(std::move(r));
    }
    int n_point = 0;
    for (int32_t i = 0; i <= c_last && g; ++i, ++n_point) {
        TileRecord r;
        r.section = 'C';
        r.type = i16(c_off + stride * i, &g);
        r.name = name_at(i16(c_off + stride * i + 2, &g));
        int32_t v = anchor + 1 + n_point;
        if (v < 0 || v >= static_cast<int32_t>(verts.size()))
            g = false;
        else
            r.points.push_back(world(verts[v]));
        t.records.push_back(std::move(r));
    }
    (void)d_off;
    (void)d_last;
    t.names = n_last + 1;
    t.vertices = static_cast<int>(verts.size()) + decoded;
    t.ok = g;
    return t;
}

// The entries of the folder `dir` whose names start with `prefix`.
inline int count_entries(const std::string& dir, const std::string& prefix) {
    int n = 0;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir, ec)) {
        if (e.path().filename().string().rfind(prefix, 0) == 0) ++n;
    }
    return n;
}

}  // namespace kimport_test

#endif  // KESTREL_TESTS_IMPORTER_FIXTURES_H
