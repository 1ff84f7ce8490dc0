// bench_decode.cpp: tile decoding throughput. bench_tile_load reads a tile file that sits in
// the page cache through load_tile (open, one read into the work buffer, decode into a slot);
// bench_tile_decode decodes the same bytes from memory. Bytes processed are the file's size,
// so the rates are in file megabytes per second.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>

#include "bench_tiles.h"
#include "data/store.h"
#include "data/tile_decoder.h"

namespace kd = kestrel::data;

namespace {

// Writes the full tile once per process and returns its path.
const std::string& tile_path() {
    static const std::string path = [] {
        const std::string p = "/tmp/kestrel-bench-" + std::to_string(getpid()) + ".dat";
        const std::string why = kdataset::write_tile_file(bench_tiles::full_tile(), p, nullptr);
        if (!why.empty()) std::fprintf(stderr, "%s\n", why.c_str());
        return p;
    }();
    return path;
}

void bench_tile_load(benchmark::State& state) {
    kd::reset_all();
    for (auto _ : state) {
        std::FILE* f = std::fopen(tile_path().c_str(), "rb");
        const int s = kd::load_tile(f);
        if (s < 0) {
            state.SkipWithError("tile refused");
            break;
        }
        benchmark::DoNotOptimize(kd::slot(s).header.last_record);
    }
    std::ifstream in(tile_path(), std::ios::binary | std::ios::ate);
    const long size = long(in.tellg());
    state.SetBytesProcessed(int64_t(state.iterations()) * size);
    state.counters["file_bytes"] = double(size);
}
BENCHMARK(bench_tile_load)->Unit(benchmark::kMicrosecond);

void bench_tile_decode(benchmark::State& state) {
    std::ifstream in(tile_path(), std::ios::binary);
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                     std::istreambuf_iterator<char>()};
    auto slot = std::make_unique<kd::TileSlot>();
    for (auto _ : state) {
        const char* why = kd::decode_tile(bytes.data(), bytes.size(), *slot);
        benchmark::DoNotOptimize(why);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(bytes.size()));
}
BENCHMARK(bench_tile_decode)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::remove(tile_path().c_str());
    kd::reset_all();
    return 0;
}
