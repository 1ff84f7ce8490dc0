// master.cpp: the workers forked, watched, replaced and stopped.
#include "http/master.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "http/limits.h"
#include "http/worker.h"

namespace kserve {

Master::Master(const Options& o, int fd, int family, Metrics* metrics)
    : o_(o), fd_(fd), family_(family), metrics_(metrics) {}

int Master::run() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGCHLD, SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    if (!start_generation()) {
        const bool asked = stop_pending();
        if (!asked) std::fputs("kserve: the workers could not start (see above)\n", stderr);
        stop_all(0);
        return asked ? 0 : 1;
    }
    while (true) {
        siginfo_t info{};
        const timespec half{0, 500000000};
        const int sig = sigtimedwait(&set, &info, &half);
        if (sig == SIGTERM || sig == SIGINT) {
            // The socket closes once the workers have let go of it too (each first takes
            // in what is queued on it): from then on new connections are refused rather
            // than left waiting to be reset when the master exits.
            ::close(fd_);
            stop_all(0);
            return 0;
        }
        if (sig == SIGHUP) {
            const int old = generation_;
            if (start_generation()) {
                std::fputs("kserve: workers replaced\n", stderr);
                // The old workers answer every request that has reached them, then end;
                // the new ones take the connections still queued on the socket.
                const auto at =
                    std::chrono::steady_clock::now() + o_.limits.drain + std::chrono::seconds(5);
                for (auto& [pid, c] : children_)
                    if (c.generation == old && !c.stopping) {
                        ::kill(pid, SIGTERM);
                        c.stopping = true;
                        if (!c.kill_at) c.kill_at = at;
                    }
            } else {
                if (!stop_pending())
                    std::fputs("kserve: the new workers could not start; the old ones go on\n",
                               stderr);
                stop_all(generation_);
                generation_ = old;
            }
        }
        reap();
        watch();
    }
}

pid_t Master::spawn(int* ready) {
    const int slot = metrics_ ? metrics_->take_slot() : -1;
    if (metrics_ && slot < 0) {
        std::fputs("kserve: no room for another worker (old ones are still stopping)\n", stderr);
        return -1;
    }
    int p[2] = {-1, -1};
    if (ready && ::pipe2(p, O_CLOEXEC) != 0) {
        if (metrics_) metrics_->free_slot(slot);
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        sigset_t all;
        sigfillset(&all);
        sigprocmask(SIG_UNBLOCK, &all, nullptr);
        if (p[0] >= 0) ::close(p[0]);
        ::_exit(run_worker(fd_, family_, o_, metrics_, slot, p[1]));
    }
    if (p[1] >= 0) ::close(p[1]);
    if (pid < 0) {
        if (p[0] >= 0) ::close(p[0]);
        if (metrics_) metrics_->free_slot(slot);
        return -1;
    }
    if (metrics_) metrics_->slots[slot].pid.store(pid);
    children_[pid] = {generation_, slot, std::chrono::steady_clock::now()};
    if (ready) *ready = p[0];
    return pid;
}

bool Master::stop_pending() {
    sigset_t pending;
    sigemptyset(&pending);
    return ::sigpending(&pending) == 0 &&
           (sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1);
}

bool Master::start_generation() {
    ++generation_;
    std::vector<int> ready;
    bool ok = true;
    for (int i = 0; i < o_.workers && ok; ++i) {
        int fd = -1;
        if (spawn(&fd) < 0)
            ok = false;
        else
            ready.push_back(fd);
    }
    // Every worker says whether it loaded the data set, within kReadyTimeoutMs. A stop
    // asked for meanwhile (SIGTERM, SIGINT: blocked, so they stay pending for the caller)
    // is not kept waiting for a worker that may never be ready.
    std::vector<pollfd> waiting;
    waiting.reserve(ready.size());
    for (int fd : ready) waiting.push_back({fd, POLLIN, 0});
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(kReadyTimeoutMs);
    while (ok && !waiting.empty()) {
        if (stop_pending() || std::chrono::steady_clock::now() > until) {
            ok = false;
            break;
        }
        if (::poll(waiting.data(), waiting.size(), 200) < 0 && errno != EINTR) {
            ok = false;
            break;
        }
        for (size_t i = waiting.size(); i-- > 0;) {
            if (waiting[i].revents == 0) continue;
            char status = 0;
            if (::read(waiting[i].fd, &status, 1) != 1 || status != 'R') ok = false;
            ::close(waiting[i].fd);
            waiting.erase(waiting.begin() + static_cast<std::ptrdiff_t>(i));
        }
    }
    for (const pollfd& w : waiting) ::close(w.fd);
    if (ok && metrics_) metrics_->workers.store(static_cast<uint64_t>(o_.workers));
    return ok;
}

void Master::reap() {
    int status = 0;
    pid_t pid;
    while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
        const auto it = children_.find(pid);
        if (it == children_.end()) continue;
        const Child c = it->second;
        children_.erase(it);
        if (metrics_) metrics_->free_slot(c.slot);
        if (c.generation != generation_ || c.stopping) continue;
        if (c.stalled)
            std::fprintf(stderr, "kserve: worker %d replaced after it stalled\n", pid);
        else if (WIFSIGNALED(status))
            std::fprintf(stderr, "kserve: worker %d died of signal %d; starting another\n", pid,
                         WTERMSIG(status));
        else
            std::fprintf(stderr, "kserve: worker %d ended with status %d; starting another\n", pid,
                         WEXITSTATUS(status));
        // A worker that dies at once is not started again in a tight loop.
        if (std::chrono::steady_clock::now() - c.started < std::chrono::seconds(1)) ::sleep(1);
        if (metrics_) metrics_->worker_restarts.fetch_add(1);
        spawn(nullptr);
    }
}

void Master::watch() {
    const auto now = std::chrono::steady_clock::now();
    const int64_t now_ms = monotonic_ms();
    for (auto& [pid, c] : children_) {
        if (c.kill_at && now > *c.kill_at) {
            ::kill(pid, SIGKILL);
            continue;
        }
        if (!metrics_ || c.slot < 0 || o_.limits.watchdog <= 0) continue;
        const int64_t beat = metrics_->slots[c.slot].heartbeat.load();
        if (beat == 0 || c.stalled) continue;  // still loading the data set; or dealt with
        if (now_ms - beat > int64_t{o_.limits.watchdog} * 1000) {
            std::fprintf(stderr,
                         "kserve: worker %d has made no progress for %lld s; replacing it\n", pid,
                         static_cast<long long>((now_ms - beat) / 1000));
            metrics_->worker_stalls.fetch_add(1);
            c.stalled = true;
            ::kill(pid, SIGABRT);
            // A stopped process takes no signal but SIGKILL.
            const auto at = now + std::chrono::seconds(2);
            if (!c.kill_at || *c.kill_at > at) c.kill_at = at;
        }
    }
}

void Master::stop_all(int gen) {
    for (auto& [pid, c] : children_)
        if (gen == 0 || c.generation == gen) {
            ::kill(pid, SIGTERM);
            c.stopping = true;
        }
    const auto until = std::chrono::steady_clock::now() + kStopTimeout;
    while (true) {
        bool left = false;
        for (const auto& [pid, c] : children_)
            if (gen == 0 || c.generation == gen) left = true;
        if (!left) return;
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, WNOHANG);
        if (pid > 0) {
            const auto it = children_.find(pid);
            if (it == children_.end()) continue;
            const Child c = it->second;
            children_.erase(it);
            if (metrics_) metrics_->free_slot(c.slot);
            // A worker of the set that stays died meanwhile: start another.
            if (!c.stopping && c.generation == generation_ && gen != generation_) spawn(nullptr);
            continue;
        }
        if (std::chrono::steady_clock::now() > until) {
            for (const auto& [p, c] : children_)
                if (gen == 0 || c.generation == gen) ::kill(p, SIGKILL);
        }
        ::usleep(20000);
    }
}

}  // namespace kserve
