// http/master.h: the HTTP server's master process: it forks the workers over the listening
// socket, starts a worker again when one dies or stalls (the watchdog), replaces them all on
// SIGHUP (the new ones load the data set afresh before the old ones are told to stop; the old
// ones answer every request that has reached them first) and stops them on SIGTERM or SIGINT.
#ifndef KSERVE_HTTP_MASTER_H
#define KSERVE_HTTP_MASTER_H

#include <sys/types.h>

#include <chrono>
#include <map>
#include <optional>

#include "http/options.h"
#include "service/metrics.h"

namespace kserve {

// A worker process as the master knows it.
struct Child {
    int generation;
    int slot;  // in the shared memory; -1: none
    std::chrono::steady_clock::time_point started;
    bool stopping = false;  // told to stop: it is not started again
    bool stalled = false;   // the watchdog has sent it SIGABRT
    // Killed when still there at this time.
    std::optional<std::chrono::steady_clock::time_point> kill_at;
};

class Master {
  public:
    Master(const Options& o, int fd, int family, Metrics* metrics);

    // Starts the workers and watches over them until SIGTERM or SIGINT: starts a worker again
    // when one dies or stalls, replaces them all on SIGHUP. Returns the exit status.
    int run();

  private:
    // Forks one worker of the current generation; with `ready` set, also the read end of
    // the pipe on which it says whether it loaded the data set.
    pid_t spawn(int* ready);

    // True when SIGTERM or SIGINT waits (blocked) to be taken.
    static bool stop_pending();

    // Starts a new generation of workers and waits until each has loaded the data set; false
    // when one did not (or a stop was asked for meanwhile).
    bool start_generation();

    // Collects the workers that have ended; one of the current set is started again.
    void reap();

    // The watchdog: a worker whose loop has not turned for --watchdog seconds gets SIGABRT
    // (its current client a 500 if it can still write one), then SIGKILL 2 s later; reap()
    // starts another. Old workers past their time to finish are killed.
    void watch();

    // Stops the workers of generation `gen` (0: all) and waits for them, at most kStopTimeout.
    void stop_all(int gen);

    const Options& o_;
    int fd_;
    int family_;
    Metrics* metrics_;
    int generation_ = 0;
    std::map<pid_t, Child> children_;
};

}  // namespace kserve

#endif
