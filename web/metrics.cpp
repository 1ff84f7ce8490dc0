// metrics.cpp: the shared counters and their Prometheus text.
#include "metrics.h"

#include <sys/mman.h>

#include <cstdio>
#include <new>

namespace kserve {

Metrics* Metrics::create() {
    void* p =
        ::mmap(nullptr, sizeof(Metrics), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    return new (p) Metrics{};  // the mapping is zero-filled; the atomics start at 0
}

void Metrics::record(int status, double seconds) {
    const int cls = status / 100;
    if (cls >= 1 && cls <= 5) requests[cls].fetch_add(1, std::memory_order_relaxed);
    int b = 0;
    while (b < kLatencyBuckets && seconds > kBucketBounds[b]) ++b;
    buckets[b].fetch_add(1, std::memory_order_relaxed);
    latency_us.fetch_add(static_cast<uint64_t>(seconds * 1e6), std::memory_order_relaxed);
}

std::string Metrics::text() const {
    std::string out;
    char line[160];
    out +=
        "# HELP kserve_requests_total HTTP requests answered, by status class.\n"
        "# TYPE kserve_requests_total counter\n";
    for (int c = 1; c <= 5; ++c) {
        std::snprintf(line, sizeof line, "kserve_requests_total{code=\"%dxx\"} %llu\n", c,
                      static_cast<unsigned long long>(requests[c].load()));
        out += line;
    }
    out +=
        "# HELP kserve_request_duration_seconds Time from a request's arrival to its answer.\n"
        "# TYPE kserve_request_duration_seconds histogram\n";
    uint64_t cumulative = 0;
    for (int b = 0; b <= kLatencyBuckets; ++b) {
        cumulative += buckets[b].load();
        if (b < kLatencyBuckets)
            std::snprintf(line, sizeof line,
                          "kserve_request_duration_seconds_bucket{le=\"%g\"} %llu\n",
                          kBucketBounds[b], static_cast<unsigned long long>(cumulative));
        else
            std::snprintf(line, sizeof line,
                          "kserve_request_duration_seconds_bucket{le=\"+Inf\"} %llu\n",
                          static_cast<unsigned long long>(cumulative));
        out += line;
    }
    std::snprintf(
        line, sizeof line,
        "kserve_request_duration_seconds_sum %.6f\nkserve_request_duration_seconds_count %llu\n",
        latency_us.load() / 1e6, static_cast<unsigned long long>(cumulative));
    out += line;
    auto counter = [&](const char* name, const char* help, uint64_t v, const char* type) {
        std::snprintf(line, sizeof line, "# HELP %s %s\n# TYPE %s %s\n%s %llu\n", name, help, name,
                      type, name, static_cast<unsigned long long>(v));
        out += line;
    };
    counter("kserve_tile_cache_hits_total", "Tiles served from a worker's metatile cache.",
            tile_hits.load(), "counter");
    counter("kserve_tile_cache_misses_total", "Tiles that needed a metatile drawn.",
            tile_misses.load(), "counter");
    counter("kserve_not_modified_total", "Requests answered 304 from their validator.",
            not_modified.load(), "counter");
    counter("kserve_worker_restarts_total", "Workers started again after they died.",
            worker_restarts.load(), "counter");
    counter("kserve_workers", "Workers running.", workers.load(), "gauge");
    return out;
}

}  // namespace kserve
