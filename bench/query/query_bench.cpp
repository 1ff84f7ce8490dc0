// query_bench.cpp: dllquroad on a cached tile at 20 m per pixel (largest tolerance 80 m).
//
// The tile is the busiest tile (most features) of the sample data set in the build's AppDir
// when it is there; otherwise a city tile is generated with the data-set writer: a street grid
// every 150 m, each street cut at every crossing into a road of several vertices, about 26000
// road features. Queries are taken at random points of the tile (most miss every road, so the
// whole tile is scanned) and at points on roads.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "data/store.h"
#include "kestrel.h"
#include "writer.h"

namespace {

namespace data = kestrel::data;

constexpr double kScale = 20.0;
constexpr int32_t kGeneratedTile = 277025;

struct Fixture {
    int32_t tile = 0;
    std::string source;
    std::vector<std::pair<int32_t, int32_t>> on_road;  // world points on roads of the tile
};

// Writes a generated city tile into a private folder and returns the folder (with '/').
std::string generate_city() {
    char dir[] = "/tmp/bench-query-XXXXXX";
    if (mkdtemp(dir) == nullptr) return "";
    kdataset::DataSetContent content;
    kdataset::Tile& tile = content.tiles[kGeneratedTile];
    tile.number = kGeneratedTile;
    const int32_t west = data::tile_west(kGeneratedTile), south = data::tile_south(kGeneratedTile);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> jitter(-3, 3);
    int n = 0;
    for (int line = 0; line < 66; ++line) {
        for (int block = 0; block < 66; ++block) {
            for (int dir_ = 0; dir_ < 2; ++dir_) {
                kdataset::Road road;
                road.type = static_cast<int16_t>(1 + n % 9);
                road.district = static_cast<int16_t>(100 + line / 10);
                road.name = "ROAD " + std::to_string(n++ % 4000);
                for (int k = 0; k <= 4; ++k) {
                    const int along = block * 150 + k * 37 + (k == 4 ? 2 : 0);
                    const int across = line * 150 + (k == 0 || k == 4 ? 0 : jitter(rng));
                    road.points.push_back(dir_ == 0
                                              ? kdataset::WorldPoint{west + along, south + across}
                                              : kdataset::WorldPoint{west + across, south + along});
                }
                tile.roads.push_back(road);
            }
        }
    }
    content.tile_index = kdataset::derive_tile_index(content.tiles);
    kdataset::WriteReport report;
    const std::string folder = std::string(dir) + "/";
    const std::string error = kdataset::write_dataset(content, folder, &report);
    if (!error.empty()) {
        std::fprintf(stderr, "bench_query: cannot write the generated data set: %s\n",
                     error.c_str());
        return "";
    }
    return folder;
}

// Loads the sample data set, or a generated one, and picks the tile to query.
Fixture& fixture() {
    static Fixture f = [] {
        Fixture fx;
        std::string path = KESTREL_SAMPLE_DATA;
        if (access((path + "d4.txt").c_str(), R_OK) == 0 && dllsetpath(path.c_str()) == 1) {
            fx.source = "sample data set";
            int best = -1;
            const data::DataSet& ds = data::dataset();
            for (int e = 0; e <= ds.tile_index_last; ++e) {
                const int s = data::find_or_load_tile(ds.tile_index_tile[e]);
                if (s >= 0 && data::slot(s).header.last_record > best) {
                    best = data::slot(s).header.last_record;
                    fx.tile = ds.tile_index_tile[e];
                }
            }
        } else {
            path = generate_city();
            data::set_path(path.c_str(), true);
            fx.source = "generated city tile";
            fx.tile = kGeneratedTile;
        }
        const int s = data::find_or_load_tile(fx.tile);
        if (s < 0) return fx;
        const data::TileSlot& slot = data::slot(s);
        for (int i = 0; i <= slot.header.last_record; ++i) {
            const data::FeatureRecord& r = slot.records[i];
            if (r.type < 1 || r.type > 9 || r.vertex_count < 2) continue;
            const data::Vertex& v = slot.vertices[r.first_vertex + 1];
            fx.on_road.emplace_back(slot.header.origin_x + v.x, slot.header.origin_y + v.y);
        }
        std::fprintf(stderr, "bench_query: %s, tile %d, %d records, %zu roads, %d vertices\n",
                     fx.source.c_str(), fx.tile, slot.header.last_record + 1, fx.on_road.size(),
                     slot.header.vertex_last + 1);
        return fx;
    }();
    return f;
}

void BM_QuroadRandomPoint(benchmark::State& state) {
    Fixture& f = fixture();
    std::mt19937 rng(1);
    std::uniform_int_distribution<int> d(0, data::TILE_SIZE_M - 1);
    const int32_t west = data::tile_west(f.tile), south = data::tile_south(f.tile);
    char text[64];
    int found = 0;
    for (auto _ : state) {
        const int r = dllquroad(west + d(rng), south + d(rng), kScale, text);
        found += r >= 0;
        benchmark::DoNotOptimize(r);
    }
    state.counters["found"] = benchmark::Counter(found, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_QuroadRandomPoint)->Unit(benchmark::kMicrosecond);

void BM_QuroadPointOnRoad(benchmark::State& state) {
    Fixture& f = fixture();
    if (f.on_road.empty()) {
        state.SkipWithError("no roads in the tile");
        return;
    }
    std::size_t i = 0;
    char text[64];
    for (auto _ : state) {
        const auto& [x, y] = f.on_road[i++ % f.on_road.size()];
        benchmark::DoNotOptimize(dllquroad(x, y, kScale, text));
    }
}
BENCHMARK(BM_QuroadPointOnRoad)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
