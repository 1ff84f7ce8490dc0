// http/worker.h: one worker process of the HTTP server: its event loop, its connections and
// what it may hold (connections, memory and files for answers, places for expensive maps),
// the watchdog's heartbeat, and its stop.
#ifndef KSERVE_HTTP_WORKER_H
#define KSERVE_HTTP_WORKER_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <set>
#include <string>

#include "http/beast.h"
#include "http/limits.h"
#include "http/options.h"
#include "http/session.h"
#include "service/metrics.h"
#include "service/service.h"

namespace kserve {

class Worker {
  public:
    Worker(net::io_context& ioc, int fd, int family, Service& service, Metrics* metrics, int slot,
           const Limits& limits);

    // Takes the connections of the listening socket, as long as the worker accepts.
    void accept();

    // Stops accepting and ends the worker once its connections are done. Every request that
    // has reached it is answered, the last one on each connection with Connection: close: those
    // being drawn or sent, those queued behind them, and the next request on each kept-alive
    // or new connection within the grace (Limits::grace); connections that send nothing for
    // that long are closed then (sweep()). It ends at the latest after Limits::drain.
    void stop();

    // A connection from the client `client` opens, or is gone (counted over the workers).
    void add(Session* s, uint64_t client);
    void remove(Session* s, uint64_t client);
    // A connection is being closed; one was closed early to make room.
    void closing() { ++closing_; }
    void closed_early() {
        ++closed_early_;
        if (metrics_) metrics_->closed_early.fetch_add(1, std::memory_order_relaxed);
    }
    // A place for an expensive map (Limits::expensive_places over all workers); always
    // granted without the shared memory.
    bool take_expensive() {
        return !metrics_ || !slot_ || metrics_->take_expensive(*slot_, limits_.expensive_places);
    }
    void leave_expensive() {
        if (metrics_ && slot_) metrics_->leave_expensive(*slot_);
    }
    void busy(bool b) {
        if (slot_) slot_->busy.store(b ? 1 : 0, std::memory_order_relaxed);
    }

    // Keeps an answer of `bytes` in memory when the worker's memory for unsent answers has
    // room for it (small answers always); false when not.
    bool hold(size_t bytes);
    // Writes an answer into an unlinked temporary file and returns it open at its start, or
    // -1 when the worker's files for answers are full or the file cannot be written.
    int spill(const std::string& body);
    // Gives back the room of an answer sent: `held` bytes of memory, `spilled` of files.
    void release(size_t held, size_t spilled);

    // The times a connection is allowed, shorter the fuller the worker is (see docs/web.md).
    std::chrono::steady_clock::duration idle_timeout() const {
        return shrunk(limits_.idle, std::chrono::seconds(1));
    }
    std::chrono::steady_clock::duration read_timeout() const {
        return shrunk(limits_.read, std::chrono::seconds(2));
    }

    bool stopping() const { return stopping_; }
    Service& service() { return service_; }
    Metrics* metrics() { return metrics_; }
    const Limits& limits() const { return limits_; }

  private:
    // Answers up to this size are always kept in memory.
    static constexpr size_t kSmallAnswer = size_t{16} * 1024;

    // Logs (once until a spill works again) why an answer could not be spilled; -1.
    int spill_failed(const char* why);

    size_t live() const { return sessions_.size() - closing_; }

    // The fraction of a timeout left at the worker's fill: all of it up to half its
    // connection limit, falling in a straight line to nothing at the limit; at least `floor`.
    std::chrono::steady_clock::duration shrunk(std::chrono::steady_clock::duration full,
                                               std::chrono::steady_clock::duration floor) const;

    // How many connections this worker holds more than the fewest of the other workers that
    // accept and are idle right now; 0 when none holds fewer.
    uint32_t more_than_an_idle_worker() const;

    // Lets in the connections waiting in the listening socket's queue, which would be reset
    // with it when this worker is the last to hold it (a stop, as opposed to a reload, where
    // the new workers would take them): their clients may have sent their requests.
    void take_queued();

    // Accepts again after `wait`, unless the worker stops meanwhile.
    void wait_then_accept(std::chrono::milliseconds wait);

    // Lets a new connection in, or refuses it over the client's or the worker's limit.
    void admit(tcp::socket socket);

    // At the connection limit: closes the connection that has waited longest for its next
    // request, or else the one that has been sending its request longest (over 2 s), to let
    // a new one in. False when every connection is being answered or is new.
    bool make_room();

    // Sends a 503 saying `why` on a new connection and closes it.
    void refuse(tcp::socket socket, const char* why);

    // Every half second: the heartbeat the master's watchdog looks at, the early closing of
    // idle and slow connections when the worker is filling up, and once a second a log line
    // of the connections refused.
    void tick();

    // Closes the connections that have waited or been sending longer than the shrunk
    // timeouts allow, oldest first, each closing lengthening the timeouts again (nothing to
    // do below half the connection limit).
    void sweep();

    static constexpr size_t kMaxRefusals = 64;
    static constexpr size_t kSpillLimit = size_t{1} << 30;

    net::io_context& ioc_;
    tcp::acceptor acceptor_;
    Service& service_;
    Metrics* metrics_;
    WorkerSlot* slot_;
    const Limits& limits_;
    net::signal_set signals_;
    net::steady_timer deadline_;
    net::steady_timer pause_;
    net::steady_timer tick_;
    std::set<Session*> sessions_;
    size_t closing_ = 0;  // sessions closed, their handlers not yet run
    size_t held_ = 0;
    size_t spilled_ = 0;
    size_t refusals_ = 0;
    size_t refused_client_ = 0, refused_worker_ = 0, closed_early_ = 0;  // since the last log line
    std::string last_refused_;
    unsigned ticks_ = 0;
    bool stopping_ = false;
    std::chrono::steady_clock::time_point stopped_at_;
    bool accept_error_logged_ = false;
    bool spill_error_logged_ = false;
};

// Runs one worker: loads the data set (saying on `ready_fd` whether it did, 'R' or 'F'), then
// serves the connections of the listening socket `fd` until it is told to stop. Returns its
// exit status (3: the data set did not load). `slot` is its place in `metrics` (-1: none).
int run_worker(int fd, int family, const Options& o, Metrics* metrics, int slot, int ready_fd);

}  // namespace kserve

#endif
