// kvector-tiles: writes or times the vector tiles of a data set over zoom levels of a tile set,
// for the tests and the benchmarks (not installed). The google set is EPSG:3857 with tiles of
// 512 pixels; the native set is the data set's grid with kserve's levels (128 to 1 m a pixel
// for tiles of 256 pixels, drawn by vector clients at 512). Each level's tiles are those that
// meet the data set, built row by row. The tile files over the data set are read and projected
// first (as many as the builder keeps), then the tiles built. It prints the tiles, the empty
// ones, their bytes, and the CPU seconds of the whole run (the start, PROJ and the opening of
// the data set included), of reading and projecting, and of building.
#include <proj.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "data/limits.h"
#include "kmaps/vector/tile_builder.h"
#include "source.h"

namespace {

namespace vec = kmaps::vector;

constexpr double kHalfWorld = 20037508.342789244;  // EPSG:3857's square, half a side

// The grid to EPSG:3857 through PROJ, many points a call.
class ProjProjection final : public vec::Projection {
  public:
    explicit ProjProjection(const std::string& grid) {
        ctx_ = proj_context_create();
        PJ* p = proj_create_crs_to_crs(ctx_, grid.c_str(), "EPSG:3857", nullptr);
        if (p != nullptr) {
            pj_ = proj_normalize_for_visualization(ctx_, p);
            proj_destroy(p);
        }
    }
    ~ProjProjection() override {
        if (pj_ != nullptr) proj_destroy(pj_);
        proj_context_destroy(ctx_);
    }
    bool ok() const { return pj_ != nullptr; }
    bool forward(std::span<double> xy) const override {
        const std::size_t n = xy.size() / 2;
        if (n == 0) return true;
        const std::size_t stride = 2 * sizeof(double);
        if (proj_trans_generic(pj_, PJ_FWD, xy.data(), stride, n, xy.data() + 1, stride, n, nullptr,
                               0, 0, nullptr, 0, 0) != n)
            return false;
        return std::all_of(xy.begin(), xy.end(), [](double v) { return std::isfinite(v); });
    }

  private:
    PJ_CONTEXT* ctx_ = nullptr;
    PJ* pj_ = nullptr;
};

// The process's CPU seconds so far (user and system), its start included.
double cpu_seconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Options {
    std::string data, set = "google", crs = "EPSG:3826", out, geojson;
    int zmin = 12, zmax = 16;
};

// The box of the data set's tile files in the set's system.
vec::Box data_extent(const vec::DataSource& source, const vec::Projection& projection) {
    vec::Box b{1e300, 1e300, -1e300, -1e300};
    for (std::int32_t t : source.tiles()) {
        const double w = kestrel::data::tile_west(t);
        const double s = static_cast<double>(kestrel::data::tile_south_wide(t));
        const double side = kestrel::data::TILE_SIZE_M;
        std::vector<double> xy = {w, s, w + side, s, w + side, s + side, w, s + side};
        if (!projection.forward(xy)) continue;
        for (std::size_t i = 0; i < xy.size(); i += 2) {
            b.minx = std::min(b.minx, xy[i]);
            b.maxx = std::max(b.maxx, xy[i]);
            b.miny = std::min(b.miny, xy[i + 1]);
            b.maxy = std::max(b.maxy, xy[i + 1]);
        }
    }
    return b;
}

// A JSON string.
std::string json_text(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') out += '\\';
        if (static_cast<unsigned char>(c) >= 0x20) out += c;
    }
    return out + "\"";
}

// Writes every feature the tiles take from the tile files (in the set's system, EPSG:3857 for
// the google set) as one GeoJSON file, for the benchmark's peers to cut the same features.
int write_geojson(const vec::DataSource& source, const vec::Projection& projection,
                  const std::string& path) {
    static const char* layers[] = {"areas", "lines", "roads", "overview", "places", "pois"};
    std::ofstream out(path);
    out.precision(10);
    out << "{\"type\":\"FeatureCollection\",\"crs\":{\"type\":\"name\",\"properties\":"
           "{\"name\":\"EPSG:3857\"}},\"features\":[";
    vec::ReadBuffers buffers;
    vec::SourceTile t;
    std::string error;
    bool first = true;
    for (std::int32_t n : source.tiles()) {
        if (!vec::read_source_tile(source.state(), n, buffers, t, error) ||
            !projection.forward(t.xy))
            return 1;
        for (const vec::SourceFeature& f : t.features) {
            out << (first ? "" : ",") << "{\"type\":\"Feature\",\"properties\":{\"layer\":\""
                << layers[static_cast<int>(f.layer)] << "\",\"type\":" << f.type;
            if (f.name) out << ",\"name\":" << json_text(t.texts[f.name]);
            if (f.code) out << ",\"code\":" << json_text(t.texts[f.code]);
            if (f.note) out << ",\"note\":" << json_text(t.texts[f.note]);
            if (f.layer == vec::Layer::roads || f.layer == vec::Layer::pois)
                out << ",\"district\":" << f.district;
            first = false;
            const auto point = [&](std::uint32_t k) {
                out << "[" << t.xy[2 * static_cast<std::size_t>(k)] << ","
                    << t.xy[2 * static_cast<std::size_t>(k) + 1] << "]";
            };
            out << "},\"geometry\":";
            if (f.count == 1) {
                out << "{\"type\":\"Point\",\"coordinates\":";
                point(f.first);
            } else if (f.rings == 0) {
                out << "{\"type\":\"LineString\",\"coordinates\":[";
                for (std::uint32_t k = 0; k < f.count; ++k) {
                    if (k) out << ",";
                    point(f.first + k);
                }
                out << "]";
            } else {
                out << "{\"type\":\"Polygon\",\"coordinates\":[";
                for (std::uint32_t r = 0; r < f.rings; ++r) {
                    out << (r ? ",[" : "[");
                    const std::uint32_t a = t.ring_at[f.first_ring + r],
                                        b = t.ring_at[f.first_ring + r + 1];
                    for (std::uint32_t k = a; k <= b; ++k) {  // closed: the first point again
                        if (k > a) out << ",";
                        point(k == b ? a : k);
                    }
                    out << "]";
                }
                out << "]";
            }
            out << "}}";
        }
    }
    out << "]}\n";
    return out ? 0 : 1;
}

int run(const Options& o) {
    std::string error;
    auto source = vec::DataSource::open(o.data, error);
    if (!source) {
        std::cerr << "kvector-tiles: " << error << "\n";
        return 1;
    }
    std::unique_ptr<vec::Projection> projection;
    const bool google = o.set == "google";
    if (google) {
        auto p = std::make_unique<ProjProjection>(o.crs);
        if (!p->ok()) {
            std::cerr << "kvector-tiles: PROJ cannot transform " << o.crs << " to EPSG:3857\n";
            return 1;
        }
        projection = std::move(p);
    } else {
        projection = std::make_unique<vec::IdentityProjection>();
    }
    if (!o.geojson.empty()) return write_geojson(*source, *projection, o.geojson);
    const vec::Box extent = data_extent(*source, *projection);
    vec::TileBuilder builder(*source, *projection);
    // The tile files read and projected first, then the tiles built: each timed on its own.
    const double read_start = cpu_seconds();
    if (!builder.preload(extent, error)) {
        std::cerr << "kvector-tiles: " << error << "\n";
        return 1;
    }
    long tiles = 0, empty = 0;
    std::size_t bytes = 0;
    const double start = cpu_seconds();
    std::string mvt;
    for (int z = o.zmin; z <= o.zmax; ++z) {
        // google: 2^z tiles a side of the square; native: 256 * 2^(7 - z) m from the extent's
        // north-west corner.
        const double side = google ? 2 * kHalfWorld / std::exp2(z) : 256 * std::exp2(7 - z);
        const double left = google ? -kHalfWorld : extent.minx;
        const double top = google ? kHalfWorld : extent.maxy;
        const long c0 = static_cast<long>(std::floor((extent.minx - left) / side));
        const long c1 = static_cast<long>(std::floor((extent.maxx - left) / side));
        const long r0 = static_cast<long>(std::floor((top - extent.maxy) / side));
        const long r1 = static_cast<long>(std::floor((top - extent.miny) / side));
        for (long r = r0; r <= r1; ++r)
            for (long c = c0; c <= c1; ++c) {
                const vec::Box box{left + c * side, top - (r + 1) * side, left + (c + 1) * side,
                                   top - r * side};
                if (!builder.build(box, side / vec::kTilePixels, mvt, error)) {
                    std::cerr << "kvector-tiles: " << z << "/" << c << "/" << r << ": " << error
                              << "\n";
                    return 1;
                }
                ++tiles;
                bytes += mvt.size();
                if (mvt.empty()) ++empty;
                if (o.out.empty()) continue;
                const auto dir =
                    std::filesystem::path(o.out) / std::to_string(z) / std::to_string(c);
                std::filesystem::create_directories(dir);
                std::ofstream(dir / (std::to_string(r) + ".mvt"), std::ios::binary) << mvt;
            }
    }
    const double end = cpu_seconds();
    const double build = end - start;
    std::printf(
        "tiles %ld empty %ld bytes %zu cpu_seconds %.4f read_seconds %.4f build_seconds %.4f "
        "tiles_per_build_second %.1f\n",
        tiles, empty, bytes, end, start - read_start, build,
        build > 0 ? static_cast<double>(tiles) / build : 0.0);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string zoom;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::cerr << "kvector-tiles: " << a << " needs a value\n";
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--data")
            o.data = value();
        else if (a == "--set")
            o.set = value();
        else if (a == "--crs")
            o.crs = value();
        else if (a == "--out")
            o.out = value();
        else if (a == "--zoom")
            zoom = value();
        else if (a == "--geojson")
            o.geojson = value();
        else {
            std::cerr << "usage: kvector-tiles --data DIR [--set google|native] [--zoom A-B] "
                         "[--crs EPSG:3826] [--out DIR] [--geojson FILE]\n";
            return 2;
        }
    }
    if (!zoom.empty() && std::sscanf(zoom.c_str(), "%d-%d", &o.zmin, &o.zmax) < 1) return 2;
    if (zoom.find('-') == std::string::npos && !zoom.empty()) o.zmax = o.zmin;
    if (o.data.empty() || (o.set != "google" && o.set != "native") || o.zmin < 0 || o.zmax > 24 ||
        o.zmin > o.zmax) {
        std::cerr << "kvector-tiles: --data DIR is needed, --set is google or native, --zoom "
                     "A-B within 0-24\n";
        return 2;
    }
    return run(o);
}
