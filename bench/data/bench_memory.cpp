// bench_memory.cpp: resident memory (VmRSS) of the data store. Reports, as counters, the
// resident size at start, after loading a data set, after one small tile, and after all 80
// slots were filled with tiles that use every capacity, next to the size of the tables. The
// tables are static zero-initialised data, so only what is filled becomes resident.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>

#include "bench_tiles.h"
#include "data/store.h"
#include "writer.h"

namespace kd = kestrel::data;

namespace {

// The process's resident set in bytes, from /proc/self/status.
double vm_rss() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    if (!f) return 0;
    char line[256];
    long kb = 0;
    while (std::fgets(line, sizeof line, f))
        if (std::sscanf(line, "VmRSS: %ld kB", &kb) == 1) break;
    std::fclose(f);
    return double(kb) * 1024;
}

// A data set with a district index, points of interest and a catalogue near their capacities.
kdataset::DataSetContent sample_set() {
    kdataset::DataSetContent c;
    for (int i = 0; i < 2000; ++i) c.tile_index.push_back({100 + i % 12, 270000 + i});
    for (int i = 0; i < 2000; ++i)
        c.pois.push_back(
            {{250000 + (i % 50) * 10000, 2700000 + (i / 50) * 10000}, 100, 1, "P", "n"});
    kdataset::CatalogueEntry line{kdataset::CatalogueEntry::Polyline, "", {}};
    for (int i = 0; i < 30000; ++i) line.points.push_back({200000 + i, 2600000 + i});
    c.catalogue.push_back(line);
    for (int i = 0; i < 1999; ++i)
        c.catalogue.push_back({kdataset::CatalogueEntry::City, "C" + std::to_string(i), {{i, i}}});
    return c;
}

void bench_resident_memory(benchmark::State& state) {
    const double at_start = vm_rss();
    const std::string dir = "/tmp/kestrel-bench-set-" + std::to_string(getpid()) + "/";
    const std::string why = kdataset::write_dataset(sample_set(), dir, nullptr);
    const std::string tile = dir + "full.dat";
    const std::string why_tile = kdataset::write_tile_file(bench_tiles::full_tile(), tile, nullptr);
    if (!why.empty() || !why_tile.empty()) {
        state.SkipWithError("cannot write the data set");
        return;
    }
    kd::reset_all();
    double after_set = 0, after_one = 0, after_all = 0;
    for (auto _ : state) {
        if (kd::set_path(dir.c_str(), true) != 1) state.SkipWithError("data set not loaded");
        after_set = vm_rss();
        kdataset::Tile small;
        small.number = bench_tiles::kTile;
        kdataset::write_tile_file(small, dir + "small.dat", nullptr);
        kd::load_tile(std::fopen((dir + "small.dat").c_str(), "rb"));
        benchmark::DoNotOptimize(kd::find_slot(1));  // reads every slot's header
        after_one = vm_rss();
        for (int i = 0; i < kd::SLOT_COUNT; ++i) kd::load_tile(std::fopen(tile.c_str(), "rb"));
        after_all = vm_rss();
    }
    const double tables =
        double(sizeof(kd::TileCache) + sizeof(kd::DataSet) + kd::WORK_BUFFER_SIZE);
    state.counters["rss_start_MB"] = at_start / 1e6;
    state.counters["rss_data_set_MB"] = after_set / 1e6;
    state.counters["rss_one_small_tile_MB"] = after_one / 1e6;
    state.counters["rss_80_full_slots_MB"] = after_all / 1e6;
    state.counters["tables_MB"] = tables / 1e6;
    state.counters["rss_over_tables"] = after_all / tables;
    state.counters["growth_over_tables"] = (after_all - at_start) / tables;
    std::filesystem::remove_all(dir);
    kd::reset_all();
}
BENCHMARK(bench_resident_memory)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
