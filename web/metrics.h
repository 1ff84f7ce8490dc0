// metrics.h: counters shared by the master and its workers (one anonymous shared mapping made
// before the workers are forked), printed in the Prometheus text format.
#ifndef KSERVE_METRICS_H
#define KSERVE_METRICS_H

#include <atomic>
#include <cstdint>
#include <string>

namespace kserve {

constexpr int kLatencyBuckets = 12;
constexpr double kBucketBounds[kLatencyBuckets] = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                   0.1,   0.25,   0.5,   1.0,  2.5,   10.0};

struct Metrics {
    std::atomic<uint64_t> requests[6];                   // by status class: 1xx .. 5xx, [0] unused
    std::atomic<uint64_t> buckets[kLatencyBuckets + 1];  // last: +Inf
    std::atomic<uint64_t> latency_us;
    std::atomic<uint64_t> tile_hits;
    std::atomic<uint64_t> tile_misses;
    std::atomic<uint64_t> not_modified;
    std::atomic<uint64_t> worker_restarts;
    std::atomic<uint64_t> workers;

    // Maps a zeroed block shared with every child forked later; nullptr on failure.
    static Metrics* create();
    void record(int status, double seconds);
    std::string text() const;
};

}  // namespace kserve

#endif
