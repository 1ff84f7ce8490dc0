// metrics.cpp: the shared counters and their Prometheus text, and the workers' slots.
#include "service/metrics.h"

#include <sys/mman.h>

#include <cstdio>
#include <ctime>
#include <utility>
#include <vector>

namespace kserve {

int64_t monotonic_ms() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t{ts.tv_sec} * 1000 + ts.tv_nsec / 1000000;
}

void WorkerSlot::add_client(uint64_t key) {
    // Keys of addresses that have left stay until the table is three quarters full; then it is
    // built again from the addresses still connected (at most a worker's connection limit,
    // half the entries). Other workers reading it meanwhile may count a client short.
    if (client_keys.load(std::memory_order_relaxed) >= kClientEntries / 4 * 3) {
        std::vector<std::pair<uint64_t, uint32_t>> live;
        for (auto& c : clients)
            if (const uint32_t n = c.count.load(std::memory_order_relaxed); n > 0)
                live.emplace_back(c.key.load(std::memory_order_relaxed), n);
        for (auto& c : clients) {
            c.key.store(0, std::memory_order_relaxed);
            c.count.store(0, std::memory_order_relaxed);
        }
        client_keys.store(0, std::memory_order_relaxed);
        for (const auto& [k, n] : live) {
            for (uint32_t i = 0; i < n; ++i) add_client(k);
        }
    }
    for (size_t i = key % kClientEntries, probes = 0; probes < kClientEntries;
         ++probes, i = (i + 1) % kClientEntries) {
        Client& c = clients[i];
        const uint64_t k = c.key.load(std::memory_order_acquire);
        if (k == key) {
            c.count.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        if (k == 0) {
            c.count.store(1, std::memory_order_relaxed);
            c.key.store(key, std::memory_order_release);
            client_keys.fetch_add(1, std::memory_order_relaxed);
            return;
        }
    }
}

void WorkerSlot::remove_client(uint64_t key) {
    for (size_t i = key % kClientEntries, probes = 0; probes < kClientEntries;
         ++probes, i = (i + 1) % kClientEntries) {
        Client& c = clients[i];
        const uint64_t k = c.key.load(std::memory_order_acquire);
        if (k == 0) return;
        if (k == key) {
            if (c.count.load(std::memory_order_relaxed) > 0)
                c.count.fetch_sub(1, std::memory_order_relaxed);
            return;
        }
    }
}

uint32_t WorkerSlot::connections_of(uint64_t key) const {
    for (size_t i = key % kClientEntries, probes = 0; probes < kClientEntries;
         ++probes, i = (i + 1) % kClientEntries) {
        const Client& c = clients[i];
        const uint64_t k = c.key.load(std::memory_order_acquire);
        if (k == 0) return 0;
        if (k == key) return c.count.load(std::memory_order_relaxed);
    }
    return 0;
}

uint32_t Metrics::connections_of(uint64_t key) const {
    uint32_t n = 0;
    for (const auto& s : slots)
        if (s.pid.load(std::memory_order_relaxed) != 0) n += s.connections_of(key);
    return n;
}

int Metrics::take_slot() {
    for (int i = 0; i < kWorkerSlots; ++i) {
        int32_t free = 0;
        // -1 reserves it until the worker writes its own pid.
        if (slots[i].pid.compare_exchange_strong(free, -1)) return i;
    }
    return -1;
}

bool Metrics::take_expensive(WorkerSlot& slot, uint32_t places) {
    uint32_t n = expensive_maps.load();
    do {
        if (n >= places) return false;
    } while (!expensive_maps.compare_exchange_weak(n, n + 1));
    slot.expensive.store(1);
    return true;
}

void Metrics::leave_expensive(WorkerSlot& slot) {
    if (slot.expensive.exchange(0) == 1) expensive_maps.fetch_sub(1);
}

void Metrics::free_slot(int slot) {
    if (slot < 0 || slot >= kWorkerSlots) return;
    WorkerSlot& s = slots[slot];
    leave_expensive(s);  // a worker that died drawing one
    if (s.client_keys.load() > 0)
        for (auto& c : s.clients) {
            c.key.store(0, std::memory_order_relaxed);
            c.count.store(0, std::memory_order_relaxed);
        }
    s.client_keys.store(0);
    s.heartbeat.store(0);
    s.accepting.store(0);
    s.busy.store(0);
    s.sessions.store(0);
    s.held.store(0);
    s.spilled.store(0);
    s.pid.store(0);
}

Metrics* Metrics::create() {
    void* p =
        ::mmap(nullptr, sizeof(Metrics), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
    // The mapping is zero-filled, which is every counter at 0 and every slot free. It is not
    // constructed over: that would write, and so take memory for, all of its pages (24 MB,
    // mostly the slots' client tables), where only the pages in use are ever touched.
    static_assert(
        std::atomic<uint64_t>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free &&
            std::atomic<uint32_t>::is_always_lock_free && std::atomic<int32_t>::is_always_lock_free,
        "the shared counters must be plain words");
    return static_cast<Metrics*>(p);
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
    char line[512];
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
    uint64_t connections = 0, held = 0, spilled = 0;
    for (const auto& s : slots)
        if (s.pid.load(std::memory_order_relaxed) > 0) {
            connections += s.sessions.load(std::memory_order_relaxed);
            held += s.held.load(std::memory_order_relaxed);
            spilled += s.spilled.load(std::memory_order_relaxed);
        }
    counter("kserve_connections", "Open client connections.", connections, "gauge");
    out +=
        "# HELP kserve_connections_refused_total Connections refused with a 503, by the limit "
        "reached.\n"
        "# TYPE kserve_connections_refused_total counter\n";
    std::snprintf(line, sizeof line,
                  "kserve_connections_refused_total{limit=\"client\"} %llu\n"
                  "kserve_connections_refused_total{limit=\"worker\"} %llu\n",
                  static_cast<unsigned long long>(refused_client.load()),
                  static_cast<unsigned long long>(refused_worker.load()));
    out += line;
    counter("kserve_connections_closed_early_total",
            "Idle or slow connections closed before their timeout to make room.",
            closed_early.load(), "counter");
    out +=
        "# HELP kserve_unsent_answer_bytes Bytes of answers not yet sent, in memory and in "
        "temporary files.\n"
        "# TYPE kserve_unsent_answer_bytes gauge\n";
    std::snprintf(line, sizeof line,
                  "kserve_unsent_answer_bytes{in=\"memory\"} %llu\n"
                  "kserve_unsent_answer_bytes{in=\"file\"} %llu\n",
                  static_cast<unsigned long long>(held), static_cast<unsigned long long>(spilled));
    out += line;
    counter("kserve_answers_spilled_total",
            "Answers sent from a temporary file: the worker's memory for answers was full.",
            answers_spilled.load(), "counter");
    counter("kserve_answers_refused_total",
            "Answers replaced by a 503: the worker's memory and files for answers were full.",
            answers_refused.load(), "counter");
    out +=
        "# HELP kserve_maps_refused_total Maps refused by their cost: over the budget of one map "
        "(400), or no place for an expensive map within the wait (503).\n"
        "# TYPE kserve_maps_refused_total counter\n";
    std::snprintf(line, sizeof line,
                  "kserve_maps_refused_total{reason=\"budget\"} %llu\n"
                  "kserve_maps_refused_total{reason=\"busy\"} %llu\n",
                  static_cast<unsigned long long>(maps_over_budget.load()),
                  static_cast<unsigned long long>(maps_busy.load()));
    out += line;
    counter("kserve_expensive_maps", "Expensive maps being drawn now, over the workers.",
            expensive_maps.load(), "gauge");
    counter("kserve_tile_faults_total",
            "Maps answered with a 500: a tile file they need is damaged or unreadable.",
            tile_faults.load(), "counter");
    counter("kserve_worker_stalls_total", "Workers replaced because they made no progress.",
            worker_stalls.load(), "counter");
    return out;
}

}  // namespace kserve
