// worker.cpp: a worker's loop: connections taken and refused, memory and files for answers,
// the early closing of idle and slow connections, the stop.
#include "http/worker.h"

#include <fcntl.h>
#include <malloc.h>
#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "http/crash.h"
#include "kcommon/hash.h"
#include "kcommon/log_text.h"

namespace kserve {

namespace {

// The hash of a client's address by which its connections are counted over the workers (an
// IPv4 address mapped into IPv6 counts as itself); never 0.
uint64_t client_key(const net::ip::address& a) {
    net::ip::address_v6::bytes_type b{};
    if (a.is_v6()) {
        const auto v6 = a.to_v6();
        if (v6.is_v4_mapped()) return client_key(net::ip::make_address_v4(net::ip::v4_mapped, v6));
        b = v6.to_bytes();
    } else {
        const auto v4 = a.to_v4().to_bytes();
        std::copy(v4.begin(), v4.end(), b.begin() + 12);
        b[10] = b[11] = 0xff;
    }
    const uint64_t h = kcommon::fnv1a(b.data(), b.size());
    return h ? h : 1;
}

// A refused connection: its 503 is sent, and what the client still sends is read and dropped
// for a moment, so that closing does not reset the connection before the client has read it.
class Refusal : public std::enable_shared_from_this<Refusal> {
  public:
    Refusal(tcp::socket socket, size_t& count) : socket_(std::move(socket)), count_(count) {
        ++count_;
    }
    ~Refusal() { --count_; }
    void start(net::io_context& ioc) {
        timer_.emplace(ioc);
        timer_->expires_after(std::chrono::seconds(2));
        timer_->async_wait([self = shared_from_this()](beast::error_code) {
            beast::error_code ec;
            self->socket_.close(ec);
        });
        drain();
    }

  private:
    void drain() {
        socket_.async_read_some(net::buffer(scrap_),
                                [self = shared_from_this()](beast::error_code ec, size_t) {
                                    if (!ec) return self->drain();
                                    self->timer_->cancel();
                                    beast::error_code ignored;
                                    self->socket_.close(ignored);
                                });
    }
    tcp::socket socket_;
    size_t& count_;
    std::optional<net::steady_timer> timer_;
    char scrap_[1024];
};

}  // namespace

Worker::Worker(net::io_context& ioc, int fd, int family, Service& service, Metrics* metrics,
               int slot, const Limits& limits)
    : ioc_(ioc),
      acceptor_(ioc),
      service_(service),
      metrics_(metrics),
      slot_(metrics && slot >= 0 ? &metrics->slots[slot] : nullptr),
      limits_(limits),
      signals_(ioc, SIGTERM, SIGINT),
      deadline_(ioc),
      pause_(ioc),
      tick_(ioc) {
    acceptor_.assign(family == AF_INET6 ? tcp::v6() : tcp::v4(), fd);
    signals_.async_wait([this](beast::error_code ec, int) {
        if (!ec) stop();
    });
    if (slot_) {
        slot_->pid.store(static_cast<int32_t>(::getpid()));
        slot_->heartbeat.store(monotonic_ms());
        slot_->accepting.store(1);
    }
    tick();
}

void Worker::accept() {
    acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
        // A connection taken from the queue is served even when the worker is stopping:
        // its client has been let in and may have sent its request.
        if (!ec) admit(std::move(socket));
        if (stopping_) return;
        if (ec && ec != net::error::operation_aborted) {
            // Out of descriptors or memory: wait a little rather than spin on the error.
            if (!accept_error_logged_)
                std::fprintf(stderr, "kserve: worker %d cannot accept: %s\n", ::getpid(),
                             ec.message().c_str());
            accept_error_logged_ = true;
            return wait_then_accept(std::chrono::milliseconds(100));
        }
        accept_error_logged_ = false;
        // All workers wait on one socket and every one of them is woken by a new
        // connection; the first to take it wins. A worker that holds more connections
        // than another that is idle right now (not drawing) lets that one take the next:
        // it waits a millisecond for each connection it holds more, at most 10, so that
        // kept-alive connections spread over the workers even when the idle one is slow
        // to be scheduled. Otherwise (the usual case, and always when the others are
        // busy) it accepts again at once.
        if (const uint32_t more = more_than_an_idle_worker())
            return wait_then_accept(std::chrono::milliseconds(std::min<uint32_t>(more, 10)));
        accept();
    });
}

void Worker::stop() {
    if (stopping_) return;
    stopping_ = true;
    stopped_at_ = std::chrono::steady_clock::now();
    if (slot_) slot_->accepting.store(0);
    take_queued();
    beast::error_code ec;
    acceptor_.close(ec);
    pause_.cancel();
    deadline_.expires_after(limits_.drain);
    deadline_.async_wait([this](beast::error_code e) {
        if (!e) ioc_.stop();
    });
    // A connection the acceptor took just before it closed waits in the queue of
    // handlers: it is let in before the worker may end.
    net::post(ioc_, [this] {
        if (sessions_.empty()) ioc_.stop();
    });
}

void Worker::add(Session* s, uint64_t client) {
    sessions_.insert(s);
    if (slot_) {
        slot_->add_client(client);
        slot_->sessions.store(static_cast<uint32_t>(sessions_.size()));
    }
}

void Worker::remove(Session* s, uint64_t client) {
    sessions_.erase(s);
    if (s->closed()) --closing_;
    if (slot_) {
        slot_->remove_client(client);
        slot_->sessions.store(static_cast<uint32_t>(sessions_.size()));
    }
    if (stopping_ && sessions_.empty()) ioc_.stop();
}

bool Worker::hold(size_t bytes) {
    if (bytes > kSmallAnswer && held_ + bytes > limits_.answer_memory) return false;
    held_ += bytes;
    if (slot_) slot_->held.store(held_, std::memory_order_relaxed);
    return true;
}

int Worker::spill(const std::string& body) {
    if (spilled_ + body.size() > kSpillLimit) return -1;
    const char* dir = std::getenv("TMPDIR");
    if (!dir || !*dir) dir = "/tmp";
    int fd = ::open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::string name = std::string(dir) + "/kserve-answer-XXXXXX";
        fd = ::mkostemp(name.data(), O_CLOEXEC);
        if (fd >= 0) ::unlink(name.c_str());
    }
    if (fd < 0) return spill_failed(std::strerror(errno));
    for (size_t done = 0; done < body.size();) {
        const ssize_t n = ::write(fd, body.data() + done, body.size() - done);
        if (n <= 0) {
            const int err = n < 0 ? errno : ENOSPC;
            ::close(fd);
            return spill_failed(std::strerror(err));
        }
        done += static_cast<size_t>(n);
    }
    ::lseek(fd, 0, SEEK_SET);
    spilled_ += body.size();
    if (slot_) slot_->spilled.store(spilled_, std::memory_order_relaxed);
    if (metrics_) metrics_->answers_spilled.fetch_add(1, std::memory_order_relaxed);
    return fd;
}

void Worker::release(size_t held, size_t spilled) {
    held_ -= held;
    spilled_ -= spilled;
    if (slot_) {
        slot_->held.store(held_, std::memory_order_relaxed);
        slot_->spilled.store(spilled_, std::memory_order_relaxed);
    }
}

int Worker::spill_failed(const char* why) {
    if (!spill_error_logged_)
        std::fprintf(stderr, "kserve: worker %d cannot write an answer to a temporary file: %s\n",
                     ::getpid(), why);
    spill_error_logged_ = true;
    return -1;
}

std::chrono::steady_clock::duration Worker::shrunk(
    std::chrono::steady_clock::duration full, std::chrono::steady_clock::duration floor) const {
    const double fill = static_cast<double>(live()) / limits_.max_connections;
    const double part = std::clamp(2.0 * (1.0 - fill), 0.0, 1.0);
    const auto d = std::chrono::duration_cast<std::chrono::steady_clock::duration>(full * part);
    return std::max(std::min(full, floor), d);
}

uint32_t Worker::more_than_an_idle_worker() const {
    if (!metrics_ || !slot_) return 0;
    const uint32_t mine = static_cast<uint32_t>(sessions_.size());
    uint32_t more = 0;
    for (const auto& s : metrics_->slots)
        if (&s != slot_ && s.pid.load(std::memory_order_relaxed) > 0 &&
            s.accepting.load(std::memory_order_relaxed) &&
            !s.busy.load(std::memory_order_relaxed)) {
            const uint32_t theirs = s.sessions.load(std::memory_order_relaxed);
            if (theirs < mine) more = std::max(more, mine - theirs);
        }
    return more;
}

void Worker::take_queued() {
    beast::error_code ec;
    acceptor_.non_blocking(true, ec);
    while (!ec) {
        tcp::socket socket(ioc_);
        acceptor_.accept(socket, ec);
        if (!ec) admit(std::move(socket));
    }
}

void Worker::wait_then_accept(std::chrono::milliseconds wait) {
    pause_.expires_after(wait);
    pause_.async_wait([this](beast::error_code e) {
        if (!e && !stopping_) accept();
    });
}

void Worker::admit(tcp::socket socket) {
    beast::error_code ec;
    const auto ep = socket.remote_endpoint(ec);
    if (ec) return;  // the client has gone already
    const uint64_t client = client_key(ep.address());
    if (!stopping_) {
        if (limits_.client_connections && metrics_ && slot_ &&
            metrics_->connections_of(client) >= limits_.client_connections) {
            ++refused_client_;
            if (metrics_) metrics_->refused_client.fetch_add(1, std::memory_order_relaxed);
            last_refused_ = ep.address().to_string();
            return refuse(std::move(socket), "too many connections from your address\n");
        }
        if (live() >= limits_.max_connections && !make_room()) {
            ++refused_worker_;
            if (metrics_) metrics_->refused_worker.fetch_add(1, std::memory_order_relaxed);
            last_refused_ = ep.address().to_string();
            return refuse(std::move(socket), "the server is full; try again shortly\n");
        }
    }
    // Headers and body leave in separate writes: without this the body would wait for
    // the client's delayed acknowledgement of the headers.
    socket.set_option(tcp::no_delay(true), ec);
    std::make_shared<Session>(std::move(socket), *this, client)->start();
}

bool Worker::make_room() {
    Session* idle = nullptr;
    Session* slow = nullptr;
    const auto now = std::chrono::steady_clock::now();
    for (Session* s : sessions_) {
        if (s->closed() || s->phase() == Session::Phase::answering) continue;
        if (s->phase() == Session::Phase::idle && !s->pending()) {
            if (!idle || s->since() < idle->since()) idle = s;
        } else if (now - s->since() > std::chrono::seconds(2)) {
            if (!slow || s->since() < slow->since()) slow = s;
        }
    }
    Session* victim = idle ? idle : slow;
    if (!victim) return false;
    victim->close_now();
    closed_early();
    return true;
}

void Worker::refuse(tcp::socket socket, const char* why) {
    char answer[256];
    const int n =
        std::snprintf(answer, sizeof answer,
                      "HTTP/1.1 503 Service Unavailable\r\nServer: kserve/" KSERVE_VERSION
                      "\r\nContent-Type: text/plain; charset=utf-8\r\n"
                      "Content-Length: %zu\r\nRetry-After: 5\r\nCache-Control: no-store\r\n"
                      "Connection: close\r\n\r\n%s",
                      std::strlen(why), why);
    // A new connection's send buffer is empty: the short answer leaves in one call.
    const ssize_t ignored =
        ::send(socket.native_handle(), answer, static_cast<size_t>(n), MSG_DONTWAIT | MSG_NOSIGNAL);
    (void)ignored;
    beast::error_code ec;
    socket.shutdown(tcp::socket::shutdown_send, ec);
    if (refusals_ >= kMaxRefusals) return;  // closed at once
    std::make_shared<Refusal>(std::move(socket), refusals_)->start(ioc_);
}

void Worker::tick() {
    if (slot_) slot_->heartbeat.store(monotonic_ms(), std::memory_order_relaxed);
    sweep();
    if (++ticks_ % 2 == 0 && (refused_client_ || refused_worker_ || closed_early_)) {
        std::fprintf(stderr,
                     "kserve: worker %d in the last second: %zu connections refused over the "
                     "limit of %zu per client address, %zu over its limit of %zu connections%s%s; "
                     "%zu closed early to make room\n",
                     ::getpid(), refused_client_, limits_.client_connections, refused_worker_,
                     limits_.max_connections, last_refused_.empty() ? "" : ", the last from ",
                     kcommon::log_escape(last_refused_).c_str(), closed_early_);
        refused_client_ = refused_worker_ = closed_early_ = 0;
        last_refused_.clear();
    }
    tick_.expires_after(std::chrono::milliseconds(500));
    tick_.async_wait([this](beast::error_code e) {
        if (!e) tick();
    });
}

void Worker::sweep() {
    if (stopping_) {
        // A stopping worker closes the connections, kept-alive or new, on which nothing has
        // arrived for the grace since the stop or their last answer: a client still using
        // its connection sends its next request well within it, and a request of which a
        // byte has arrived is read and answered.
        const auto now = std::chrono::steady_clock::now();
        for (Session* s : std::set<Session*>(sessions_))
            if (!s->closed() && s->waiting() && !s->pending() &&
                now - std::max(s->since(), stopped_at_) >= limits_.grace)
                s->close_now();
        return;
    }
    if (idle_timeout() >= limits_.idle && read_timeout() >= limits_.read) return;
    std::vector<Session*> waiting;
    for (Session* s : sessions_)
        if (!s->closed() && s->phase() != Session::Phase::answering) waiting.push_back(s);
    std::sort(waiting.begin(), waiting.end(),
              [](Session* a, Session* b) { return a->since() < b->since(); });
    const auto now = std::chrono::steady_clock::now();
    for (Session* s : waiting) {
        const bool idle = s->phase() == Session::Phase::idle && !s->pending();
        if (now - s->since() <= (idle ? idle_timeout() : read_timeout())) continue;
        s->close_now();
        closed_early();
    }
}

int run_worker(int fd, int family, const Options& o, Metrics* metrics, int slot, int ready_fd) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    answer_crashes();
    // A map allocates about a megabyte (drawing surface, picture, palette rows, encodings) and
    // frees it again. By default glibc hands the top of the heap back to the system after each
    // request and the next one takes the page faults again: a sixth of a worker's time under
    // load. Keep up to 64 MB of freed memory for reuse, and serve blocks of up to 32 MB from
    // the heap rather than from mappings of their own.
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    Service service;
    std::string error;
    const bool ok = service.start(o.config, metrics, error);
    if (!ok) std::fprintf(stderr, "kserve: %s\n", error.c_str());
    const char status = ok ? 'R' : 'F';
    if (ready_fd >= 0) {
        const ssize_t ignored = ::write(ready_fd, &status, 1);
        (void)ignored;
        ::close(ready_fd);
    }
    if (!ok) return 3;
    // The worker ends with the process (the caller's _exit): its connections' handlers, still
    // queued when the loop stops, refer to it and are never destroyed before it.
    auto* ioc = new net::io_context(1);
    auto* worker = new Worker(*ioc, fd, family, service, metrics, slot, o.limits);
    worker->accept();
    ioc->run();
    return 0;
}

}  // namespace kserve
