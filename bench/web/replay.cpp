// replay.cpp: the CPU cost of kserve's answers without HTTP or a load generator.
//
//   bench_web_replay DATA_DIR PATHS_FILE [ROUNDS] [--digest]
//
// Starts the service on the data set as a worker does, then answers every request path of
// PATHS_FILE (one a line, as bench/web/run.sh writes them) in turn, ROUNDS times (default 3;
// the first round also loads the tiles). Prints the process CPU time per request of the
// fastest round, split into the engine's view drawing and the rest, so that changes can be
// compared on a loaded machine. --digest prints a digest of the decoded pictures instead of
// timing, to check that a change keeps every pixel.
#include <png.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <vector>

#include "bench_worker.h"
#include "kcommon/hash.h"
#include "service/service.h"

namespace {

double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + t.tv_nsec * 1e-9;
}

// The RGBA pixels of a PNG (libpng's own expansion of palettes and transparency).
bool decode_png(const std::string& body, std::vector<uint8_t>& rgba) {
    png_image im{};
    im.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&im, body.data(), body.size())) return false;
    im.format = PNG_FORMAT_RGBA;
    rgba.resize(PNG_IMAGE_SIZE(im));
    const bool ok = png_image_finish_read(&im, nullptr, rgba.data(), 0, nullptr) != 0;
    png_image_free(&im);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DATA_DIR PATHS_FILE [ROUNDS] [--digest]\n", argv[0]);
        return 2;
    }
    bool digest = false;
    int rounds = 3;
    for (int i = 3; i < argc; ++i) {
        if (std::strcmp(argv[i], "--digest") == 0)
            digest = true;
        else
            rounds = std::max(1, std::atoi(argv[i]));
    }
    std::vector<std::string> paths;
    std::ifstream in(argv[2]);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) paths.push_back(line);
    if (paths.empty()) {
        std::fprintf(stderr, "%s: no request paths in %s\n", argv[0], argv[2]);
        return 2;
    }
    kserve::Service service;
    if (!start_like_a_worker(service, argv[1], argv[0])) return 1;
    kserve::Request r;
    r.method = "GET";
    r.host = "127.0.0.1";

    if (digest) {
        uint64_t pixels = kcommon::kFnvOffsetBasis;
        size_t bytes = 0;
        std::vector<uint8_t> rgba;
        for (const auto& p : paths) {
            r.target = p;
            const kserve::Response res = service.handle(r);
            bytes += res.body.size();
            if (res.status != 200 || !decode_png(res.body, rgba)) {
                std::fprintf(stderr, "%s: %s: status %d, no PNG\n", argv[0], p.c_str(), res.status);
                return 1;
            }
            pixels = kcommon::fnv1a(rgba.data(), rgba.size(), pixels);
        }
        std::printf("%zu pictures, pixel digest %016llx, %zu bytes of PNG\n", paths.size(),
                    static_cast<unsigned long long>(pixels), bytes);
        return 0;
    }

    double best = 1e30;
    size_t bytes = 0;
    for (int round = 0; round < rounds; ++round) {
        bytes = 0;
        const double t0 = cpu_seconds();
        for (const auto& p : paths) {
            r.target = p;
            bytes += service.handle(r).body.size();
        }
        best = std::min(best, cpu_seconds() - t0);
    }
    std::printf(
        "%zu requests: %.3f ms CPU a request (fastest of %d rounds), %.0f bytes a "
        "response\n",
        paths.size(), best * 1e3 / paths.size(), rounds, static_cast<double>(bytes) / paths.size());
    return 0;
}
