// deflate_bench.cpp: kserve's PNG row encoder (web/deflate.cpp) against zlib and libdeflate,
// alone, over the rows of real maps.
//
//   bench_web_deflate DATA_DIR PATHS_FILE [ROUNDS]
//
// Answers every GetMap path of PATHS_FILE (as bench/web/run.sh and bench_web_replay take them)
// once, keeps the rows each PNG compressed (its IDAT inflated: filter byte and packed palette
// indices, row by row), then compresses all of them with each encoder ROUNDS times (default 5)
// and prints the CPU time a map of the fastest round and the bytes a map. Every stream is
// inflated once by zlib and compared with its rows.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench_worker.h"
#include "kmaps/deflate.h"
#include "service/service.h"

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

uint32_t be32(const std::string& s, size_t at) {
    return static_cast<uint32_t>(
        static_cast<unsigned char>(s[at]) << 24 | static_cast<unsigned char>(s[at + 1]) << 16 |
        static_cast<unsigned char>(s[at + 2]) << 8 | static_cast<unsigned char>(s[at + 3]));
}

// The rows a PNG compressed, and their stride (filter byte included).
struct Rows {
    std::vector<uint8_t> bytes;
    size_t stride = 0;
};

bool rows_of(const std::string& png, Rows& rows) {
    if (png.size() < 33 || png.compare(0, 8, "\x89PNG\r\n\x1a\n", 8) != 0) return false;
    const uint32_t width = be32(png, 16), height = be32(png, 20);
    const int depth = static_cast<unsigned char>(png[24]);
    const int type = static_cast<unsigned char>(png[25]);
    const int channels = type == 2 ? 3 : type == 6 ? 4 : type == 4 ? 2 : 1;
    rows.stride = 1 + (static_cast<size_t>(width) * depth * channels + 7) / 8;
    std::string idat;
    for (size_t at = 8; at + 8 <= png.size();) {
        const uint32_t n = be32(png, at);
        if (png.compare(at + 4, 4, "IDAT") == 0) idat.append(png, at + 8, n);
        at += 12 + n;
    }
    rows.bytes.resize(rows.stride * height);
    uLongf size = rows.bytes.size();
    return uncompress(rows.bytes.data(), &size, reinterpret_cast<const Bytef*>(idat.data()),
                      idat.size()) == Z_OK &&
           size == rows.bytes.size();
}

bool inflates_to(const std::string& z, const Rows& rows) {
    std::vector<uint8_t> back(rows.bytes.size() + 1);
    uLongf n = back.size();
    if (uncompress(back.data(), &n, reinterpret_cast<const Bytef*>(z.data()), z.size()) != Z_OK)
        return false;
    return n == rows.bytes.size() && std::memcmp(back.data(), rows.bytes.data(), n) == 0;
}

using Encoder = std::function<void(const Rows&, std::string&)>;

Encoder zlib_encoder(int level, int strategy) {
    auto stream = std::make_shared<z_stream>();
    deflateInit2(stream.get(), level, Z_DEFLATED, 15, 8, strategy);
    return [stream](const Rows& rows, std::string& out) {
        deflateReset(stream.get());
        out.resize(deflateBound(stream.get(), rows.bytes.size()));
        stream->next_in = const_cast<Bytef*>(rows.bytes.data());
        stream->avail_in = static_cast<uInt>(rows.bytes.size());
        stream->next_out = reinterpret_cast<Bytef*>(out.data());
        stream->avail_out = static_cast<uInt>(out.size());
        deflate(stream.get(), Z_FINISH);
        out.resize(stream->total_out);
    };
}

Encoder libdeflate_encoder(int level) {
    std::shared_ptr<libdeflate_compressor> c(libdeflate_alloc_compressor(level),
                                             libdeflate_free_compressor);
    return [c](const Rows& rows, std::string& out) {
        out.resize(libdeflate_zlib_compress_bound(c.get(), rows.bytes.size()));
        out.resize(libdeflate_zlib_compress(c.get(), rows.bytes.data(), rows.bytes.size(),
                                            out.data(), out.size()));
    };
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DATA_DIR PATHS_FILE [ROUNDS]\n", argv[0]);
        return 2;
    }
    const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    kserve::Service service;
    if (!start_like_a_worker(service, argv[1], argv[0])) return 1;
    std::vector<Rows> maps;
    std::ifstream in(argv[2]);
    kserve::Request r;
    r.method = "GET";
    for (std::string line; std::getline(in, line);) {
        if (line.empty()) continue;
        r.target = line;
        Rows rows;
        if (!rows_of(service.handle(r).body, rows)) {
            std::fprintf(stderr, "%s: %s: no PNG\n", argv[0], line.c_str());
            return 1;
        }
        maps.push_back(std::move(rows));
    }
    size_t raw = 0;
    for (const auto& m : maps) raw += m.bytes.size();
    std::printf("%zu maps, %.0f bytes of rows a map\n", maps.size(),
                static_cast<double>(raw) / maps.size());

    const std::pair<const char*, Encoder> encoders[] = {
        {"kserve row encoder",
         [](const Rows& rows, std::string& out) {
             out.clear();
             kmaps::zlib_compress_rows(rows.bytes.data(), rows.bytes.size(), rows.stride, out);
         }},
        {"zlib level 1", zlib_encoder(1, Z_DEFAULT_STRATEGY)},
        {"zlib level 6", zlib_encoder(6, Z_DEFAULT_STRATEGY)},
        {"zlib Z_RLE", zlib_encoder(1, Z_RLE)},
        {"libdeflate level 1", libdeflate_encoder(1)},
        {"libdeflate level 6", libdeflate_encoder(6)},
    };
    std::string out;
    for (const auto& [name, encode] : encoders) {
        size_t bytes = 0;
        for (const auto& m : maps) {
            encode(m, out);
            if (!inflates_to(out, m)) {
                std::fprintf(stderr, "%s: %s: a stream does not inflate to its rows\n", argv[0],
                             name);
                return 1;
            }
            bytes += out.size();
        }
        double best = 1e30;
        for (int round = 0; round < rounds; ++round) {
            const double t0 = cpu_seconds();
            for (const auto& m : maps) encode(m, out);
            best = std::min(best, cpu_seconds() - t0);
        }
        std::printf("%-20s %8.1f us a map  %8.0f bytes a map\n", name, best * 1e6 / maps.size(),
                    static_cast<double>(bytes) / maps.size());
    }
    return 0;
}
