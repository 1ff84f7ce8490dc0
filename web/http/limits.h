// http/limits.h: what one connection, client or worker of the HTTP server may take, and the
// server's fixed times and sizes (docs/web.md lists them all).
#ifndef KSERVE_HTTP_LIMITS_H
#define KSERVE_HTTP_LIMITS_H

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "service/site.h"

namespace kserve {

// A request's header fields and body at most.
inline constexpr std::size_t kHeaderLimit = std::size_t{8} * 1024;
inline constexpr std::size_t kBodyLimit = std::size_t{16} * 1024;
// A worker's time to load the data set and say it is ready.
inline constexpr int kReadyTimeoutMs = 120000;
// The workers' time to stop on SIGTERM or SIGINT before they are killed, and the part of it
// that a kept-alive connection is kept for its next request (Limits::grace), which leaves that
// request its time to be answered.
inline constexpr std::chrono::seconds kStopTimeout{15};
inline constexpr std::chrono::seconds kGrace{5};
static_assert(kGrace * 2 <= kStopTimeout);

struct Limits {
    // A whole request must arrive within the read timeout from its first byte; a kept-alive
    // connection may wait twice that for its next request; a whole answer must be taken
    // within the write timeout. The first two shrink as a worker fills up.
    std::chrono::seconds read{15};
    std::chrono::seconds idle{30};
    std::chrono::seconds write{30};
    // An old worker's time to answer what has reached it after a reload: a request's time to
    // arrive and its answer's time to leave.
    std::chrono::seconds drain{50};
    // A stopping worker keeps a kept-alive connection this long after the stop (or after its
    // last answer) for a next request, answered with Connection: close, unless the idle timeout
    // closes it first.
    std::chrono::seconds grace{kGrace};
    std::size_t max_connections = 512;     // per worker
    std::size_t client_connections = 64;   // per client address over all workers; 0: no limit
    std::size_t answer_memory = 64 << 20;  // bytes of unsent answers a worker keeps in memory
    int watchdog = 60;                     // seconds without progress before a worker is replaced
    // A map that costs more than this (kmaps::map_cost, in pixels; half the budget of one map)
    // waits for one of `expensive_places` over all workers (the workers less one, at least
    // one), at most expensive_wait, without holding its worker; then a 503.
    double expensive_cost = kDefaultMapBudget / 2;
    std::uint32_t expensive_places = 1;
    std::chrono::milliseconds expensive_wait{2000};
};

}  // namespace kserve

#endif
