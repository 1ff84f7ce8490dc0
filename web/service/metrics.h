// metrics.h: the memory shared by the master and its workers (one anonymous shared mapping made
// before the workers are forked): the counters printed in the Prometheus text format, and one
// slot per worker with its heartbeat, its load and the client addresses of its connections.
#ifndef KSERVE_METRICS_H
#define KSERVE_METRICS_H

#include <atomic>
#include <cstdint>
#include <string>

namespace kserve {

constexpr int kLatencyBuckets = 12;
constexpr double kBucketBounds[kLatencyBuckets] = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05,
                                                   0.1,   0.25,   0.5,   1.0,  2.5,   10.0};

constexpr int kMaxWorkers = 64;
// The running workers, and two sets of old ones still finishing their requests after reloads.
constexpr int kWorkerSlots = 3 * kMaxWorkers;
// Distinct client addresses a worker keeps count of: twice its largest connection limit.
constexpr int kMaxConnectionsLimit = 4096;
constexpr int kClientEntries = 2 * kMaxConnectionsLimit;

// One worker's part of the shared memory. The worker writes it; the master and the other
// workers read it. The master clears it when the worker has ended.
struct WorkerSlot {
    std::atomic<int32_t> pid;           // 0: free
    std::atomic<int64_t> heartbeat;     // milliseconds (monotonic) of the last turn of its loop
    std::atomic<uint32_t> accepting;    // it takes new connections
    std::atomic<uint32_t> busy;         // it is answering a request now
    std::atomic<uint32_t> sessions;     // open connections
    std::atomic<uint64_t> held;         // bytes of unsent answers in memory
    std::atomic<uint64_t> spilled;      // bytes of unsent answers in temporary files
    std::atomic<uint32_t> expensive;    // it holds one of the expensive maps' places
    std::atomic<uint32_t> client_keys;  // entries of `clients` taken (cleared when rebuilt)
    // Open connections by client address (key: a 64-bit hash of the address, 0 for an empty
    // entry), open addressing with linear probing. An entry whose count falls to 0 keeps its
    // key until the table is rebuilt.
    struct Client {
        std::atomic<uint64_t> key;
        std::atomic<uint32_t> count;
    } clients[kClientEntries];

    // The worker's own bookkeeping of one connection from `key` opening or closing.
    void add_client(uint64_t key);
    void remove_client(uint64_t key);
    uint32_t connections_of(uint64_t key) const;
};

struct Metrics {
    std::atomic<uint64_t> requests[6];                   // by status class: 1xx .. 5xx, [0] unused
    std::atomic<uint64_t> buckets[kLatencyBuckets + 1];  // last: +Inf
    std::atomic<uint64_t> latency_us;
    std::atomic<uint64_t> tile_hits;
    std::atomic<uint64_t> tile_misses;
    std::atomic<uint64_t> not_modified;
    std::atomic<uint64_t> worker_restarts;
    std::atomic<uint64_t> workers;
    std::atomic<uint64_t> refused_client;   // connections over the per-client limit
    std::atomic<uint64_t> refused_worker;   // connections over a worker's limit, none idle to close
    std::atomic<uint64_t> closed_early;     // idle or slow connections closed to make room
    std::atomic<uint64_t> answers_spilled;  // answers sent from a temporary file
    std::atomic<uint64_t> answers_refused;  // answers replaced by a 503: no memory or disk left
    std::atomic<uint64_t> worker_stalls;    // workers replaced by the watchdog
    std::atomic<uint64_t> tile_faults;      // maps refused for a damaged or unreadable tile
    std::atomic<int64_t> last_tile_fault_ms;  // monotonic_ms() of the last; 0: none
    std::atomic<uint64_t> maps_over_budget;   // maps refused: over the budget of one map
    std::atomic<uint64_t> maps_busy;          // maps refused: no place for an expensive map
    std::atomic<uint32_t> expensive_maps;     // expensive maps being drawn, over the workers
    WorkerSlot slots[kWorkerSlots];

    // Maps a zeroed block shared with every child forked later; nullptr on failure.
    static Metrics* create();
    void record(int status, double seconds);
    std::string text() const;

    // Open connections from the client `key` over every worker.
    uint32_t connections_of(uint64_t key) const;
    // Reserves a free slot for a worker about to be forked, or -1; the master's.
    int take_slot();
    // Takes one of `places` for an expensive map for the worker of `slot`; false when all are
    // taken. Given back by leave_expensive(), or by free_slot() when the worker has died.
    bool take_expensive(WorkerSlot& slot, uint32_t places);
    void leave_expensive(WorkerSlot& slot);
    // Frees the slot of a worker that has ended; the master's.
    void free_slot(int slot);
};

// The time the heartbeats count in.
int64_t monotonic_ms();

}  // namespace kserve

#endif
