// tiles_bench.cpp: the cost of the map service's tiles at drawing scale factors 1 and 2.
//
//   bench_web_tiles [DATA_DIR] [benchmark options]
//
// Draws metatiles of the native tile matrix set through the tile module (render_metatile: one
// engine view of 4 x 4 tiles and the PNG file of each tile), the 3 x 3 metatiles around the
// middle of a level in each iteration, at factor 1 (1024 x 1024 pixels, 256-pixel tiles) and factor
// 2 (2048 x 2048, "@2x" tiles of 512 pixels) of the same ground, so the two costs are taken in one
// run, each drawn into an 8-bit surface with the map's palette (what the service does) and into
// a 32-bit one (Engine::set_eight_bit), for the same files. The figure per tile is the time of a
// metatile divided by its tiles. DATA_DIR defaults to the build's sample data set.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "kmaps/dataset.h"
#include "kmaps/tiles.h"

#ifndef KESTREL_SAMPLE_DIR
#define KESTREL_SAMPLE_DIR ""
#endif

namespace {

std::string g_data = KESTREL_SAMPLE_DIR;

struct Fixture {
    kmaps::DataSet data;
    kmaps::TileMatrixSet set;
    bool ok = false;
};

Fixture& fixture() {
    static Fixture* f = [] {
        // The allocator settings of kserve's workers (server.cpp), so that the figures are theirs.
        ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
        ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
        auto* fx = new Fixture;
        std::string error;
        if (!fx->data.open(g_data, kmaps::kDefaultGrid, error)) {
            std::fprintf(stderr, "bench_web_tiles: %s\n", error.c_str());
            return fx;
        }
        fx->set = kmaps::TileMatrixSet::native(fx->data.native(), fx->data.extent());
        fx->ok = true;
        return fx;
    }();
    return *f;
}

// Arguments: level, factor, bits a pixel of the surface (8 or 32).
void BM_Metatile(benchmark::State& state) {
    Fixture& f = fixture();
    if (!f.ok) {
        state.SkipWithError("no data set");
        return;
    }
    const int level = static_cast<int>(state.range(0));
    const int factor = static_cast<int>(state.range(1));
    const int bits = static_cast<int>(state.range(2));
    f.data.engine().set_eight_bit(bits == 8);
    const kmaps::TileMatrix* m = f.set.matrix(level);
    const long metarows = (m->rows + kmaps::kMetatileTiles - 1) / kmaps::kMetatileTiles;
    const long metacols = (m->cols + kmaps::kMetatileTiles - 1) / kmaps::kMetatileTiles;
    // The same metatiles at every factor: the 3 x 3 around the middle of the level.
    std::vector<std::pair<long, long>> places;
    for (long r = std::max(0L, metarows / 2 - 1); r <= std::min(metarows - 1, metarows / 2 + 1);
         ++r)
        for (long c = std::max(0L, metacols / 2 - 1); c <= std::min(metacols - 1, metacols / 2 + 1);
             ++c)
            places.emplace_back(r, c);
    double tiles = 0, bytes = 0;
    std::string error;
    for (auto _ : state)
        for (const auto& [r, c] : places) {
            const auto meta = kmaps::render_metatile(f.data, f.set, level, r, c, factor, error);
            if (!meta) {
                state.SkipWithError(error.c_str());
                return;
            }
            tiles += static_cast<double>(meta->png.size());
            for (const auto& png : meta->png) bytes += static_cast<double>(png.size());
        }
    state.counters["per_tile"] =
        benchmark::Counter(tiles, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["png_bytes"] = tiles > 0 ? bytes / tiles : 0;
    state.SetLabel("level " + std::to_string(level) + " @" + std::to_string(factor) + "x, " +
                   std::to_string(bits) + "-bit, " + std::to_string(places.size()) + " metatiles");
}

void arguments(benchmark::internal::Benchmark* b) {
    for (int level : {3, 5})
        for (int factor : {1, 2})
            for (int bits : {8, 32}) b->Args({level, factor, bits});
}
BENCHMARK(BM_Metatile)->Apply(arguments)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc > 1) g_data = argv[1];
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
