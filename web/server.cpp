// server.cpp: kserve's command line, the pre-forking master and the HTTP workers.
//
// The master binds the listening socket, forks the workers, starts a worker again when one
// dies or stalls, replaces them all on SIGHUP (the new ones load the data set afresh before the
// old ones are told to stop; the old ones answer every request that has reached them first)
// and stops them on SIGTERM or SIGINT. A worker is single-threaded: it loads the data set into
// its own engine once, then serves its connections on one io_context, one request at a time,
// keep-alive included. The limits that keep one client from starving the others (connections
// per client address and per worker, timeouts that shrink as a worker fills up, memory for
// unsent answers) are described in docs/web.md.
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>  // before Boost.Asio, whose C++20 parts use std::exchange
#include <vector>

// Boost.Asio's C++20 parts use std::exchange without including <utility> (Boost 1.74).
// An answer sent from a temporary file leaves in pieces of this size.
#define BOOST_BEAST_FILE_BUFFER_SIZE 65536
// clang-format off
#include <utility>
#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
// clang-format on

#include "kcommon/cli.h"
#include "kcommon/log_text.h"
#include "service.h"

namespace beast = boost::beast;
namespace http = beast::http;
namespace net = boost::asio;
using tcp = net::ip::tcp;

namespace kserve {
namespace {

constexpr size_t kHeaderLimit = 8 * 1024;
constexpr size_t kBodyLimit = 16 * 1024;
constexpr int kReadyTimeoutMs = 120000;
// The workers' time to stop on SIGTERM or SIGINT before they are killed, and the part of it
// that a kept-alive connection is kept for its next request (Limits::grace), which leaves that
// request its time to be answered.
constexpr std::chrono::seconds kStopTimeout{15};
constexpr std::chrono::seconds kGrace{5};
static_assert(kGrace * 2 <= kStopTimeout);

// What one connection, client or worker may take (docs/web.md lists them all).
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
    size_t max_connections = 512;     // per worker
    size_t client_connections = 64;   // per client address over all workers; 0: no limit
    size_t answer_memory = 64 << 20;  // bytes of unsent answers a worker keeps in memory
    int watchdog = 60;                // seconds without progress before a worker is replaced
    // A map that costs more than this (map_cost(), in pixels; half the budget of one map)
    // waits for one of `expensive_places` over all workers (the workers less one, at least
    // one), at most expensive_wait, without holding its worker; then a 503.
    double expensive_cost = kDefaultMapBudget / 2;
    uint32_t expensive_places = 1;
    std::chrono::milliseconds expensive_wait{2000};
};

const char* const kUsage =
    "Usage: kserve [options]\n"
    "\n"
    "Serves the map views and queries of one data set over HTTP: WMS 1.3.0 and 1.1.1 at /wms,\n"
    "WMTS 1.0.0 at /wmts, OGC API (Maps, Tiles, Features) at /ogcapi, XYZ tiles and TileJSON\n"
    "at /tiles/, JSON queries at /api/, /healthz and /metrics,\n"
    "and the map viewer (a web page) at /.\n"
    "\n"
    "Options:\n"
    "  --data DIR       data set directory (default: the build's sample, " KSERVE_DEFAULT_DATA
    ")\n"
    "  --crs EPSG:N     the data set's grid (default EPSG:3826)\n"
    "  --listen A:P     address and port to listen on (default 127.0.0.1:8080; port 0 picks a\n"
    "                   free port, printed at start)\n"
    "  --public-url URL the service's address as its clients reach it, for the addresses in\n"
    "                   the capabilities: http[s]://HOST[:PORT][/PATH] (default: the --listen\n"
    "                   address; the machine's name for 0.0.0.0 or [::]). Set it behind a proxy\n"
    "  --workers N      worker processes, 1 to 64 (default: the number of cores)\n"
    "  --viewer DIR     the built viewer's folder, served at / (default: " KSERVE_VIEWER_RELATIVE
    "\n"
    "                   beside the program, as installed and in the build; '' serves none)\n"
    "  --timeout S      seconds a client has to send a whole request, 1 to 3600 (default 15);\n"
    "                   an idle kept-alive connection is closed after twice that\n"
    "  --max-connections N\n"
    "                   connections a worker holds, 1 to 4096 (default 512); at the limit the\n"
    "                   longest idle one is closed for a new one, else the new one gets a 503\n"
    "  --client-connections N\n"
    "                   connections one client address may hold over all workers (default\n"
    "                   64; 0: no limit, as behind a proxy that limits them itself)\n"
    "  --answer-memory MB\n"
    "                   memory a worker keeps for answers not yet taken by their clients, 1 to\n"
    "                   65536 MB (default 64); larger answers go through a temporary file\n"
    "  --map-budget MPX the most a map may cost, in millions of pixels the engine draws (a\n"
    "                   warped pixel counts 4 more), 1 to 100000 (default 128: every map of up\n"
    "                   to 4096 x 4096 in every system); the capabilities advertise the size\n"
    "                   drawn within it; maps over half of it are drawn a few at a time\n"
    "                   (docs/web.md)\n"
    "  --watchdog S     seconds a worker may make no progress before it is replaced, 0 (never)\n"
    "                   to 3600 (default 60)\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "Options take their value as the next argument or after '=' (--data=DIR).\n"
    "\n"
    "Signals: SIGTERM or SIGINT stop the service, SIGHUP replaces the workers (the new ones\n"
    "load the data set again). The workers stopping first answer every request that has\n"
    "reached them, and the next one on each kept-alive connection within 5 s.\n"
    "One line per request is written to standard error, in the common log format followed by\n"
    "the time taken in microseconds.\n";

struct Options {
    Config config;
    Limits limits;
    std::string host = "127.0.0.1";
    std::string port = "8080";
    int workers = 0;
    bool viewer_given = false;
    bool public_url_given = false;
};

// The viewer's folder beside the program: <bin>/../share/kestrel/viewer, in the build tree as
// in an installation. Empty when it holds no page.
std::string default_viewer() {
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    std::string dir(exe, static_cast<size_t>(n));
    dir = dir.substr(0, dir.rfind('/') + 1) + KSERVE_VIEWER_RELATIVE;
    return ::access((dir + "/index.html").c_str(), R_OK) == 0 ? dir : std::string();
}

// ---- logging ------------------------------------------------------------------------------

void log_line(const std::string& peer, const std::string& request, int status, size_t bytes,
              long micros) {
    char when[64];
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    gmtime_r(&now, &tm);
    std::strftime(when, sizeof when, "%d/%b/%Y:%H:%M:%S +0000", &tm);
    std::string line = peer + " - - [" + when + "] \"" + request + "\" " + std::to_string(status) +
                       " " + (bytes ? std::to_string(bytes) : "-") + " " + std::to_string(micros) +
                       "\n";
    // One write per line: lines of different workers never interleave.
    const ssize_t ignored = ::write(2, line.data(), line.size());
    (void)ignored;
}

// ---- the crash answer ---------------------------------------------------------------------

// The socket of the request being answered: should the worker die on a fault while drawing,
// the client gets a 500 (which a balancer may retry elsewhere) instead of a silent close.
volatile sig_atomic_t g_current_fd = -1;

void on_fault(int sig) {
    static const char kAnswer[] =
        "HTTP/1.1 500 Internal Server Error\r\nContent-Type: text/plain\r\nContent-Length: 22\r\n"
        "Connection: close\r\n\r\nthe worker has failed\n";
    const int fd = g_current_fd;
    if (fd >= 0) {
        const ssize_t ignored = ::write(fd, kAnswer, sizeof kAnswer - 1);
        (void)ignored;
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

// ---- a worker -----------------------------------------------------------------------------

class Worker;

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
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : b) h = (h ^ c) * 1099511628211ull;
    return h ? h : 1;
}

class Session : public std::enable_shared_from_this<Session> {
  public:
    // Where a connection is: before its first request, between two requests of a kept-alive
    // connection, receiving a request, or answering one.
    enum class Phase { fresh, idle, reading, answering };

    Session(tcp::socket socket, Worker& worker, uint64_t client);
    void start() { read(true); }
    ~Session();

    Phase phase() const { return phase_; }
    // Waiting for a request: the first or the next on a kept-alive connection.
    bool waiting() const { return phase_ == Phase::fresh || phase_ == Phase::idle; }
    std::chrono::steady_clock::time_point since() const { return since_; }
    // Bytes of a request have arrived and are not yet taken apart.
    bool pending();
    // Closes the connection at once (to make room, or when the worker stops).
    void close_now();
    bool closed() const { return closed_; }

  private:
    void enter(Phase p) {
        phase_ = p;
        since_ = std::chrono::steady_clock::now();
    }
    void read(bool first);
    void on_header(beast::error_code ec);
    void on_read(beast::error_code ec);
    bool keep_alive(const http::request<http::string_body>& req);
    void respond(Response res, bool keep_alive, unsigned version, bool head);
    void wait_for_place(Request r);
    void answer(Request r, bool expensive);
    void release();
    void linger();
    void discard();
    void finish();

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> res_;
    http::response<http::file_body> file_res_;  // an answer spilled into a temporary file
    Worker& worker_;
    uint64_t client_;
    std::string peer_;
    std::string request_line_;
    std::chrono::steady_clock::time_point started_;
    std::chrono::steady_clock::time_point since_;
    Phase phase_ = Phase::fresh;
    size_t held_ = 0;     // bytes of the answer being sent, kept in memory
    size_t spilled_ = 0;  // ... or in a temporary file
    bool closed_ = false;
    std::optional<net::steady_timer> parked_;  // an expensive map waiting for its place
    std::chrono::steady_clock::time_point parked_until_;
};

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

class Worker {
  public:
    Worker(net::io_context& ioc, int fd, int family, Service& service, Metrics* metrics, int slot,
           const Limits& limits)
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

    void accept() {
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

    // Stops accepting and ends the worker once its connections are done. Every request that
    // has reached it is answered, the last one on each connection with Connection: close: those
    // being drawn or sent, those queued behind them, and the next request on each kept-alive
    // or new connection within the grace (Limits::grace); connections that send nothing for
    // that long are closed then (sweep()). It ends at the latest after Limits::drain.
    void stop() {
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

    void add(Session* s, uint64_t client) {
        sessions_.insert(s);
        if (slot_) {
            slot_->add_client(client);
            slot_->sessions.store(static_cast<uint32_t>(sessions_.size()));
        }
    }
    void remove(Session* s, uint64_t client) {
        sessions_.erase(s);
        if (s->closed()) --closing_;
        if (slot_) {
            slot_->remove_client(client);
            slot_->sessions.store(static_cast<uint32_t>(sessions_.size()));
        }
        if (stopping_ && sessions_.empty()) ioc_.stop();
    }
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
    bool hold(size_t bytes) {
        if (bytes > kSmallAnswer && held_ + bytes > limits_.answer_memory) return false;
        held_ += bytes;
        if (slot_) slot_->held.store(held_, std::memory_order_relaxed);
        return true;
    }
    // Writes an answer into an unlinked temporary file and returns it open at its start, or
    // -1 when the worker's files for answers are full or the file cannot be written.
    int spill(const std::string& body) {
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
    void release(size_t held, size_t spilled) {
        held_ -= held;
        spilled_ -= spilled;
        if (slot_) {
            slot_->held.store(held_, std::memory_order_relaxed);
            slot_->spilled.store(spilled_, std::memory_order_relaxed);
        }
    }

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
    static constexpr size_t kSmallAnswer = 16 * 1024;

    int spill_failed(const char* why) {
        if (!spill_error_logged_)
            std::fprintf(stderr,
                         "kserve: worker %d cannot write an answer to a temporary file: %s\n",
                         ::getpid(), why);
        spill_error_logged_ = true;
        return -1;
    }

    size_t live() const { return sessions_.size() - closing_; }

    // The fraction of a timeout left at the worker's fill: all of it up to half its
    // connection limit, falling in a straight line to nothing at the limit; at least `floor`.
    std::chrono::steady_clock::duration shrunk(std::chrono::steady_clock::duration full,
                                               std::chrono::steady_clock::duration floor) const {
        const double fill = static_cast<double>(live()) / limits_.max_connections;
        const double part = std::clamp(2.0 * (1.0 - fill), 0.0, 1.0);
        const auto d = std::chrono::duration_cast<std::chrono::steady_clock::duration>(full * part);
        return std::max(std::min(full, floor), d);
    }

    // How many connections this worker holds more than the fewest of the other workers that
    // accept and are idle right now; 0 when none holds fewer.
    uint32_t more_than_an_idle_worker() const {
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

    // Lets in the connections waiting in the listening socket's queue, which would be reset
    // with it when this worker is the last to hold it (a stop, as opposed to a reload, where
    // the new workers would take them): their clients may have sent their requests.
    void take_queued() {
        beast::error_code ec;
        acceptor_.non_blocking(true, ec);
        while (!ec) {
            tcp::socket socket(ioc_);
            acceptor_.accept(socket, ec);
            if (!ec) admit(std::move(socket));
        }
    }

    void wait_then_accept(std::chrono::milliseconds wait) {
        pause_.expires_after(wait);
        pause_.async_wait([this](beast::error_code e) {
            if (!e && !stopping_) accept();
        });
    }

    void admit(tcp::socket socket) {
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

    // At the connection limit: closes the connection that has waited longest for its next
    // request, or else the one that has been sending its request longest (over 2 s), to let
    // a new one in. False when every connection is being answered or is new.
    bool make_room() {
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

    void refuse(tcp::socket socket, const char* why) {
        char answer[256];
        const int n =
            std::snprintf(answer, sizeof answer,
                          "HTTP/1.1 503 Service Unavailable\r\nServer: kserve/" KSERVE_VERSION
                          "\r\nContent-Type: text/plain; charset=utf-8\r\n"
                          "Content-Length: %zu\r\nRetry-After: 5\r\nCache-Control: no-store\r\n"
                          "Connection: close\r\n\r\n%s",
                          std::strlen(why), why);
        // A new connection's send buffer is empty: the short answer leaves in one call.
        const ssize_t ignored = ::send(socket.native_handle(), answer, static_cast<size_t>(n),
                                       MSG_DONTWAIT | MSG_NOSIGNAL);
        (void)ignored;
        beast::error_code ec;
        socket.shutdown(tcp::socket::shutdown_send, ec);
        if (refusals_ >= kMaxRefusals) return;  // closed at once
        std::make_shared<Refusal>(std::move(socket), refusals_)->start(ioc_);
    }

    // Every half second: the heartbeat the master's watchdog looks at, the early closing of
    // idle and slow connections when the worker is filling up, and once a second a log line
    // of the connections refused.
    void tick() {
        if (slot_) slot_->heartbeat.store(monotonic_ms(), std::memory_order_relaxed);
        sweep();
        if (++ticks_ % 2 == 0 && (refused_client_ || refused_worker_ || closed_early_)) {
            std::fprintf(
                stderr,
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

    // Closes the connections that have waited or been sending longer than the shrunk
    // timeouts allow, oldest first, each closing lengthening the timeouts again (nothing to
    // do below half the connection limit).
    void sweep() {
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

Session::Session(tcp::socket socket, Worker& worker, uint64_t client)
    : stream_(std::move(socket)), worker_(worker), client_(client) {
    beast::error_code ec;
    const auto ep = stream_.socket().remote_endpoint(ec);
    peer_ = ec ? "-" : ep.address().to_string();
    since_ = std::chrono::steady_clock::now();
    worker_.add(this, client_);
}

Session::~Session() {
    release();
    worker_.remove(this, client_);
}

bool Session::pending() {
    if (buffer_.size() > 0) return true;
    beast::error_code ec;
    return stream_.socket().is_open() && stream_.socket().available(ec) > 0 && !ec;
}

void Session::close_now() {
    if (closed_) return;
    closed_ = true;
    worker_.closing();
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
}

void Session::read(bool first) {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    enter(first ? Phase::fresh : Phase::idle);
    // Waiting for the next request of a kept-alive connection is allowed longer than reading
    // one; once a request has begun, the whole of it must arrive within the read timeout.
    stream_.expires_after(first || buffer_.size() > 0 ? worker_.read_timeout()
                                                      : worker_.idle_timeout());
    http::async_read_header(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec, size_t) { self->on_header(ec); });
}

// The header has arrived: its framing is checked before a byte of the body is read, so that a
// body the parser would not see as one can never be taken for the next request.
void Session::on_header(beast::error_code ec) {
    if (ec) return on_read(ec);
    if (phase_ != Phase::reading) enter(Phase::reading);
    const auto& req = parser_->get();
    const char* refusal = nullptr;
    int status = 400;
    size_t hosts = 0;
    std::string codings;
    for (const auto& f : req) {
        if (f.name() == http::field::host) ++hosts;
        if (f.name() == http::field::transfer_encoding)
            codings += (codings.empty() ? "" : ",") + std::string(f.value());
    }
    if (hosts > 1 || (hosts == 0 && req.version() >= 11)) {
        refusal = "a request needs exactly one Host header\n";
    } else if (req.find(http::field::transfer_encoding) != req.end()) {
        // Only "chunked", once, is a coding a request may have here; an HTTP/1.0 request may
        // have none. Anything else would leave the end of the body in doubt.
        std::string c;
        for (char ch : codings)
            if (ch != ' ' && ch != '\t')
                c += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (req.version() < 11) {
            refusal = "an HTTP/1.0 request cannot have a Transfer-Encoding\n";
        } else if (c != "chunked") {
            refusal = "only the chunked transfer coding is understood\n";
            status = 501;
        }
    }
    if (refusal) {
        started_ = std::chrono::steady_clock::now();
        request_line_ =
            kcommon::log_escape(std::string(req.method_string()) + " " + std::string(req.target()) +
                                (req.version() == 10 ? " HTTP/1.0" : " HTTP/1.1"));
        Response r;
        r.status = status;
        r.body = refusal;
        return respond(std::move(r), false, req.version() == 10 ? 10 : 11, false);
    }
    stream_.expires_after(worker_.read_timeout());
    http::async_read(
        stream_, buffer_, *parser_,
        [self = shared_from_this()](beast::error_code ec2, size_t) { self->on_read(ec2); });
}

void Session::on_read(beast::error_code ec) {
    started_ = std::chrono::steady_clock::now();
    if (closed_ || ec == http::error::end_of_stream || ec == net::error::eof ||
        ec == beast::error::timeout || ec == net::error::operation_aborted ||
        ec == net::error::connection_reset || ec == net::error::bad_descriptor) {
        // A client too slow to send its request has had its connection closed by the
        // stream's timer; there is nobody left to answer.
        return finish();
    }
    if (ec) {
        request_line_ = "-";
        Response r;
        r.status = ec == http::error::header_limit ? 431
                   : ec == http::error::body_limit ? 413
                                                   : 400;
        r.body = r.status == 431   ? "request header fields too large\n"
                 : r.status == 413 ? "request body too large\n"
                                   : "malformed request\n";
        return respond(std::move(r), false, 11, false);
    }
    enter(Phase::answering);
    const auto& req = parser_->get();
    request_line_ =
        kcommon::log_escape(std::string(req.method_string()) + " " + std::string(req.target()) +
                            (req.version() == 10 ? " HTTP/1.0" : " HTTP/1.1"));
    Request r;
    r.method = std::string(req.method_string());
    r.target = std::string(req.target());
    if (auto h = req.find(http::field::host); h != req.end()) r.host = std::string(h->value());
    // RFC 9110 lets a list be sent as several field lines: they count as one, joined by commas.
    for (auto [h, end] = req.equal_range(http::field::if_none_match); h != end; ++h) {
        if (!r.if_none_match.empty()) r.if_none_match += ", ";
        r.if_none_match += std::string(h->value());
    }
    for (auto [h, end] = req.equal_range(http::field::accept); h != end; ++h) {
        if (!r.accept.empty()) r.accept += ", ";
        r.accept += std::string(h->value());
    }
    const double cost = worker_.service().cost(r);
    // A map over the budget of one map is refused by its interface without taking a place.
    if (cost > worker_.limits().expensive_cost && cost <= worker_.service().map_budget()) {
        parked_until_ = std::chrono::steady_clock::now() + worker_.limits().expensive_wait;
        return wait_for_place(std::move(r));
    }
    answer(std::move(r), false);
}

// An expensive map: drawn once one of the places for them is free. Meanwhile the worker serves
// its other connections; the map looks again every 25 ms, until parked_until_.
void Session::wait_for_place(Request r) {
    if (worker_.take_expensive()) return answer(std::move(r), true);
    const auto& req = parser_->get();
    if (closed_ || std::chrono::steady_clock::now() >= parked_until_) {
        if (worker_.metrics()) worker_.metrics()->maps_busy.fetch_add(1, std::memory_order_relaxed);
        Response res = kserve::answer(
            503,
            "too many large maps are being drawn now; try again shortly, or ask for a "
            "smaller one\n");
        res.cache_control = "no-store";
        res.retry_after = 2;
        return respond(std::move(res), keep_alive(req), req.version(), r.method == "HEAD");
    }
    if (!parked_) parked_.emplace(stream_.get_executor());
    parked_->expires_after(std::chrono::milliseconds(25));
    parked_->async_wait([self = shared_from_this(), r = std::move(r)](beast::error_code) mutable {
        self->wait_for_place(std::move(r));
    });
}

void Session::answer(Request r, bool expensive) {
    g_current_fd = stream_.socket().native_handle();
    worker_.busy(true);
    Response res = worker_.service().handle(r);
    worker_.busy(false);
    g_current_fd = -1;
    if (expensive) worker_.leave_expensive();
    const auto& req = parser_->get();
    respond(std::move(res), keep_alive(req), req.version(), r.method == "HEAD");
}

// Whether the answer keeps the connection open: as the request asks, unless the worker is
// stopping; then only while another request of the client has arrived already (pipelined),
// so that it is answered too.
bool Session::keep_alive(const http::request<http::string_body>& req) {
    return req.keep_alive() && (!worker_.stopping() || pending());
}

namespace {

template <class Body>
void set_header(http::response<Body>& m, const Response& r, unsigned version, bool keep_alive) {
    m.version(version);
    m.result(static_cast<http::status>(r.status));
    m.set(http::field::server, "kserve/" KSERVE_VERSION);
    if (r.status != 304 && !r.content_type.empty())
        m.set(http::field::content_type, r.content_type);
    if (!r.etag.empty()) m.set(http::field::etag, r.etag);
    if (!r.cache_control.empty()) m.set(http::field::cache_control, r.cache_control);
    m.set(http::field::access_control_allow_origin, "*");
    if (r.retry_after > 0) m.set(http::field::retry_after, std::to_string(r.retry_after));
    for (const auto& [name, value] : r.headers) m.set(name, value);
    m.keep_alive(keep_alive);
}

}  // namespace

void Session::respond(Response r, bool keep_alive, unsigned version, bool head) {
    enter(Phase::answering);
    if (closed_) return finish();
    // The answer waits in memory until the client has taken it; a worker keeps at most
    // --answer-memory of such bytes, and puts larger answers beyond that into a temporary
    // file. With no room there either, the client is asked to come back.
    int fd = -1;
    if (!head && !worker_.hold(r.body.size())) {
        fd = worker_.spill(r.body);
        if (fd < 0) {
            if (worker_.metrics())
                worker_.metrics()->answers_refused.fetch_add(1, std::memory_order_relaxed);
            r = Response{};
            r.status = 503;
            r.body = "the server has no room for more answers now; try again shortly\n";
            r.cache_control = "no-store";
            r.retry_after = 2;
            worker_.hold(r.body.size());
            held_ = r.body.size();
        } else {
            spilled_ = r.body.size();
        }
    } else if (!head) {
        held_ = r.body.size();
    }
    const size_t bytes = r.body.size();
    const long micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - started_)
                            .count();
    if (worker_.metrics()) worker_.metrics()->record(r.status, micros / 1e6);
    log_line(peer_, request_line_, r.status, head ? 0 : bytes, micros);
    stream_.expires_after(worker_.limits().write);
    auto done = [self = shared_from_this(), keep_alive](beast::error_code ec, size_t) {
        self->release();
        if (ec || self->closed_) return self->finish();
        if (!keep_alive) return self->linger();
        // Kept alive even when the worker has begun to stop meanwhile: the client may send
        // its next request at once, and it is answered (with Connection: close).
        self->read(false);
    };
    if (fd >= 0) {
        file_res_ = {};
        set_header(file_res_, r, version, keep_alive);
        beast::file f;
        f.native_handle(fd);
        beast::error_code ec;
        file_res_.body().reset(std::move(f), ec);
        file_res_.prepare_payload();
        std::string().swap(r.body);
        return http::async_write(stream_, file_res_, std::move(done));
    }
    res_ = {};
    set_header(res_, r, version, keep_alive);
    res_.body() = head ? std::string() : std::move(r.body);
    res_.prepare_payload();
    if (head) res_.content_length(bytes);
    http::async_write(stream_, res_, std::move(done));
}

// Gives back the worker's room for the answer sent (or abandoned).
void Session::release() {
    if (held_ || spilled_) worker_.release(held_, spilled_);
    held_ = spilled_ = 0;
    std::string().swap(res_.body());
    beast::error_code ec;
    if (file_res_.body().is_open()) file_res_.body().file().close(ec);
}

// Half-closes the connection after an answer with Connection: close, and reads and drops what
// the client still sends until it closes too, at most 2 s: closing with unread bytes would
// reset the connection, and the reset could destroy the end of the answer before the client
// has read it.
void Session::linger() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    if (ec) return finish();
    stream_.expires_after(std::chrono::seconds(2));
    discard();
}

// Reads and drops what arrives on a lingering connection until it ends.
void Session::discard() {
    buffer_.clear();
    stream_.async_read_some(buffer_.prepare(4096),
                            [self = shared_from_this()](beast::error_code ec, size_t) {
                                if (ec || self->closed_) return self->finish();
                                self->discard();
                            });
}

void Session::finish() {
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.socket().close(ec);
}

// Runs one worker; returns its exit status (3: the data set did not load).
int run_worker(int fd, int family, const Options& o, Metrics* metrics, int slot, int ready_fd) {
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    ::signal(SIGPIPE, SIG_IGN);
    ::signal(SIGHUP, SIG_IGN);
    for (int sig : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(sig, on_fault);
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

// ---- the master ---------------------------------------------------------------------------

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
    Master(const Options& o, int fd, int family, Metrics* metrics)
        : o_(o), fd_(fd), family_(family), metrics_(metrics) {}

    int run() {
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
                    const auto at = std::chrono::steady_clock::now() + o_.limits.drain +
                                    std::chrono::seconds(5);
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

  private:
    // Forks one worker of the current generation; with `ready` set, also the read end of
    // the pipe on which it says whether it loaded the data set.
    pid_t spawn(int* ready) {
        const int slot = metrics_ ? metrics_->take_slot() : -1;
        if (metrics_ && slot < 0) {
            std::fputs("kserve: no room for another worker (old ones are still stopping)\n",
                       stderr);
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

    static bool stop_pending() {
        sigset_t pending;
        sigemptyset(&pending);
        return ::sigpending(&pending) == 0 &&
               (sigismember(&pending, SIGTERM) == 1 || sigismember(&pending, SIGINT) == 1);
    }

    bool start_generation() {
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

    // Collects the workers that have ended; one of the current set is started again.
    void reap() {
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
                std::fprintf(stderr, "kserve: worker %d ended with status %d; starting another\n",
                             pid, WEXITSTATUS(status));
            // A worker that dies at once is not started again in a tight loop.
            if (std::chrono::steady_clock::now() - c.started < std::chrono::seconds(1)) ::sleep(1);
            if (metrics_) metrics_->worker_restarts.fetch_add(1);
            spawn(nullptr);
        }
    }

    // The watchdog: a worker whose loop has not turned for --watchdog seconds gets SIGABRT
    // (its current client a 500 if it can still write one), then SIGKILL 2 s later; reap()
    // starts another. Old workers past their time to finish are killed.
    void watch() {
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
                             "kserve: worker %d has made no progress for %lld s; replacing it\n",
                             pid, static_cast<long long>((now_ms - beat) / 1000));
                metrics_->worker_stalls.fetch_add(1);
                c.stalled = true;
                ::kill(pid, SIGABRT);
                // A stopped process takes no signal but SIGKILL.
                const auto at = now + std::chrono::seconds(2);
                if (!c.kill_at || *c.kill_at > at) c.kill_at = at;
            }
        }
    }

    // Stops the workers of generation `gen` (0: all) and waits for them, at most kStopTimeout.
    void stop_all(int gen) {
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
                if (!c.stopping && c.generation == generation_ && gen != generation_)
                    spawn(nullptr);
                continue;
            }
            if (std::chrono::steady_clock::now() > until) {
                for (const auto& [p, c] : children_)
                    if (gen == 0 || c.generation == gen) ::kill(p, SIGKILL);
            }
            ::usleep(20000);
        }
    }

    const Options& o_;
    int fd_;
    int family_;
    Metrics* metrics_;
    int generation_ = 0;
    std::map<pid_t, Child> children_;
};

// ---- the command line ---------------------------------------------------------------------

int parse(int argc, char** argv, Options& o) {
    o.config.data = KSERVE_DEFAULT_DATA;
    std::vector<std::string> args;
    const std::string refused =
        kcli::expand_args(argc, argv,
                          {"--data", "--viewer", "--crs", "--listen", "--public-url", "--timeout",
                           "--workers", "--max-connections", "--client-connections",
                           "--answer-memory", "--watchdog", "--map-budget"},
                          &args);
    if (!refused.empty()) {
        std::fprintf(stderr, "kserve: %s (see --help)\n", refused.c_str());
        return 1;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            return 2;
        }
        if (arg == "--version") {
            std::puts("kserve " KSERVE_VERSION);
            return 2;
        }
        if (arg.rfind("--", 0) != 0) {
            std::fprintf(stderr, "kserve: unexpected argument '%s' (see --help)\n", arg.c_str());
            return 1;
        }
        if (i + 1 >= args.size()) {
            std::fprintf(stderr, "kserve: %s needs a value (see --help)\n", arg.c_str());
            return 1;
        }
        const std::string value = args[++i];
        if (arg == "--data") {
            o.config.data = value;
        } else if (arg == "--viewer") {
            o.config.viewer = value;
            o.viewer_given = true;
        } else if (arg == "--crs") {
            o.config.crs = upper(value);
        } else if (arg == "--listen") {
            const size_t colon = value.rfind(':');
            if (colon == std::string::npos || !parse_int(value.substr(colon + 1), 0, 65535)) {
                std::fprintf(stderr, "kserve: --listen wants ADDRESS:PORT, not '%s'\n",
                             value.c_str());
                return 1;
            }
            o.host = value.substr(0, colon);
            if (o.host.size() >= 2 && o.host.front() == '[' && o.host.back() == ']')
                o.host = o.host.substr(1, o.host.size() - 2);
            if (o.host.empty()) o.host = "127.0.0.1";
            o.port = value.substr(colon + 1);
        } else if (arg == "--map-budget") {
            const auto n = parse_int(value, 1, 100000);
            if (!n) {
                std::fprintf(stderr,
                             "kserve: --map-budget wants 1 to 100000 million pixels, not '%s'\n",
                             value.c_str());
                return 1;
            }
            o.config.map_budget = static_cast<double>(*n) * 1e6;
        } else if (arg == "--public-url") {
            const auto url = public_url(value);
            if (!url) {
                std::fprintf(stderr,
                             "kserve: --public-url wants http[s]://HOST[:PORT][/PATH], not '%s'\n",
                             value.c_str());
                return 1;
            }
            o.config.public_url = *url;
            o.public_url_given = true;
        } else if (arg == "--timeout") {
            const auto n = parse_int(value, 1, 3600);
            if (!n) {
                std::fprintf(stderr, "kserve: --timeout wants 1 to 3600 seconds, not '%s'\n",
                             value.c_str());
                return 1;
            }
            o.limits.read = std::chrono::seconds(*n);
            o.limits.idle = std::chrono::seconds(2 * *n);
        } else if (arg == "--max-connections" || arg == "--client-connections" ||
                   arg == "--answer-memory" || arg == "--watchdog") {
            const bool client = arg == "--client-connections";
            const long lo = arg == "--max-connections" || arg == "--answer-memory" ? 1 : 0;
            const long hi = arg == "--max-connections" ? kMaxConnectionsLimit
                            : arg == "--answer-memory" ? 65536
                            : client                   ? 1000000
                                                       : 3600;
            const auto n = parse_int(value, lo, hi);
            if (!n) {
                std::fprintf(stderr, "kserve: %s wants %ld to %ld, not '%s'\n", arg.c_str(), lo, hi,
                             value.c_str());
                return 1;
            }
            if (arg == "--max-connections") o.limits.max_connections = static_cast<size_t>(*n);
            if (client) o.limits.client_connections = static_cast<size_t>(*n);
            if (arg == "--answer-memory") o.limits.answer_memory = static_cast<size_t>(*n) << 20;
            if (arg == "--watchdog") o.limits.watchdog = static_cast<int>(*n);
        } else if (arg == "--workers") {
            const auto n = parse_int(value, 1, 64);
            if (!n) {
                std::fprintf(stderr, "kserve: --workers wants 1 to 64, not '%s'\n", value.c_str());
                return 1;
            }
            o.workers = static_cast<int>(*n);
        } else {
            std::fprintf(stderr, "kserve: unknown option '%s' (see --help)\n", arg.c_str());
            return 1;
        }
    }
    o.limits.drain = o.limits.read + o.limits.write + std::chrono::seconds(5);
    if (!o.viewer_given) o.config.viewer = default_viewer();
    if (!o.config.viewer.empty() &&
        ::access((o.config.viewer + "/index.html").c_str(), R_OK) != 0) {
        std::fprintf(stderr, "kserve: --viewer %s holds no index.html\n", o.config.viewer.c_str());
        return 1;
    }
    if (o.workers == 0) {
        const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
        o.workers = static_cast<int>(std::clamp(cores, 1L, 64L));
    }
    return 0;
}

int bind_socket(const Options& o, int& family, std::string& shown) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    if (::getaddrinfo(o.host.c_str(), o.port.c_str(), &hints, &list) != 0 || !list) {
        std::fprintf(stderr, "kserve: cannot resolve the address %s\n", o.host.c_str());
        return -1;
    }
    int fd = -1;
    for (addrinfo* a = list; a && fd < 0; a = a->ai_next) {
        fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) continue;
        const int one = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        if (::bind(fd, a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd, 1024) != 0) {
            ::close(fd);
            fd = -1;
            continue;
        }
        family = a->ai_family;
    }
    ::freeaddrinfo(list);
    if (fd < 0) {
        std::fprintf(stderr, "kserve: cannot listen on %s:%s: %s\n", o.host.c_str(), o.port.c_str(),
                     std::strerror(errno));
        return -1;
    }
    sockaddr_storage ss{};
    socklen_t len = sizeof ss;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&ss), &len);
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (ss.ss_family == AF_INET6) {
        const auto* s6 = reinterpret_cast<sockaddr_in6*>(&ss);
        ::inet_ntop(AF_INET6, &s6->sin6_addr, host, sizeof host);
        port = ntohs(s6->sin6_port);
        shown = std::string("[") + host + "]:" + std::to_string(port);
    } else {
        const auto* s4 = reinterpret_cast<sockaddr_in*>(&ss);
        ::inet_ntop(AF_INET, &s4->sin_addr, host, sizeof host);
        port = ntohs(s4->sin_port);
        shown = std::string(host) + ":" + std::to_string(port);
    }
    return fd;
}

}  // namespace
}  // namespace kserve

int main(int argc, char** argv) {
    using namespace kserve;
    Options o;
    const int parsed = parse(argc, argv, o);
    if (parsed != 0) return parsed == 2 ? 0 : 2;
    if (o.config.data.empty()) {
        std::fputs("kserve: --data must name a directory\n", stderr);
        return 2;
    }
    if (!Crs::make(o.config.crs)) {
        std::fprintf(stderr, "kserve: unknown coordinate system '%s' (want EPSG:N)\n",
                     o.config.crs.c_str());
        return 2;
    }
    // A worker's descriptors: its connections, the refused ones being closed, and some to spare
    // for files, the log and the engine.
    const rlim_t wanted = o.limits.max_connections + 64 + 64;
    rlimit rl{};
    if (::getrlimit(RLIMIT_NOFILE, &rl) == 0 && rl.rlim_cur < wanted) {
        rl.rlim_cur = std::min(wanted, rl.rlim_max);
        ::setrlimit(RLIMIT_NOFILE, &rl);
        if (rl.rlim_cur < wanted) {
            std::fprintf(stderr,
                         "kserve: --max-connections %zu needs %llu open files, and this process "
                         "may have %llu (raise its limit, e.g. LimitNOFILE= in systemd)\n",
                         o.limits.max_connections, static_cast<unsigned long long>(wanted),
                         static_cast<unsigned long long>(rl.rlim_max));
            return 2;
        }
    }
    o.limits.expensive_cost = o.config.map_budget / 2;
    o.limits.expensive_places = static_cast<uint32_t>(std::max(1, o.workers - 1));
    int family = AF_INET;
    std::string shown;
    const int fd = bind_socket(o, family, shown);
    if (fd < 0) return 1;
    if (o.config.public_url.empty()) {
        // The address listened on; for every address of the machine, the machine's name.
        std::string base = "http://" + shown;
        if (shown.rfind("0.0.0.0:", 0) == 0 || shown.rfind("[::]:", 0) == 0) {
            char name[256] = {};
            if (::gethostname(name, sizeof name - 1) != 0 || !name[0])
                std::strcpy(name, "localhost");
            base = "http://" + std::string(name) + shown.substr(shown.rfind(':'));
        }
        const auto url = public_url(base);
        o.config.public_url = url ? *url : "http://127.0.0.1";
    }
    Metrics* metrics = Metrics::create();
    std::fprintf(stderr, "kserve: serving %s on http://%s/ with %d workers\n",
                 o.config.data.c_str(), shown.c_str(), o.workers);
    std::fprintf(stderr, "kserve: the capabilities give the address %s%s\n",
                 o.config.public_url.c_str(),
                 o.public_url_given ? "" : " (set --public-url when clients reach it by another)");
    if (o.config.viewer.empty())
        std::fputs("kserve: no map viewer (see --viewer); / lists the addresses\n", stderr);
    else
        std::fprintf(stderr, "kserve: the map viewer from %s at http://%s/\n",
                     o.config.viewer.c_str(), shown.c_str());
    Master master(o, fd, family, metrics);
    return master.run();
}
