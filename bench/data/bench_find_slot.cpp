// bench_find_slot.cpp: the cost of a cache hit. All 80 slots hold small tiles; find_slot looks
// up the tile in the last slot (a scan of all 80 headers), the first slot, and a tile that is
// not cached (also a full scan).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>

#include "data/store.h"
#include "writer.h"

namespace kd = kestrel::data;

namespace {

constexpr int32_t kFirstTile = 277001;

// Fills the 80 slots with tiles kFirstTile.. once per process.
void fill_cache() {
    static const bool filled = [] {
        kd::reset_all();
        const std::string path = "/tmp/kestrel-bench-slot-" + std::to_string(getpid()) + ".dat";
        for (int i = 0; i < kd::SLOT_COUNT; ++i) {
            kdataset::Tile t;
            t.number = kFirstTile + i;
            kdataset::write_tile_file(t, path, nullptr);
            kd::load_tile(std::fopen(path.c_str(), "rb"));
        }
        std::remove(path.c_str());
        return true;
    }();
    (void)filled;
}

void bench_find_slot_last(benchmark::State& state) {
    fill_cache();
    int32_t tile = kFirstTile + kd::SLOT_COUNT - 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tile);
        benchmark::DoNotOptimize(kd::find_slot(tile));
    }
}
BENCHMARK(bench_find_slot_last);

void bench_find_slot_first(benchmark::State& state) {
    fill_cache();
    int32_t tile = kFirstTile;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tile);
        benchmark::DoNotOptimize(kd::find_slot(tile));
    }
}
BENCHMARK(bench_find_slot_first);

void bench_find_slot_miss(benchmark::State& state) {
    fill_cache();
    int32_t tile = 1;
    for (auto _ : state) {
        benchmark::DoNotOptimize(tile);
        benchmark::DoNotOptimize(kd::find_slot(tile));
    }
}
BENCHMARK(bench_find_slot_miss);

}  // namespace

BENCHMARK_MAIN();
