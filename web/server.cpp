// server.cpp: kserve's command line, the pre-forking master and the HTTP workers.
//
// The master binds the listening socket, forks the workers, starts a worker again when one
// dies, replaces them all on SIGHUP (the new ones load the data set afresh before the old ones
// are told to stop) and stops them on SIGTERM or SIGINT. A worker is single-threaded: it loads
// the data set into its own engine once, then serves its connections on one io_context, one
// request at a time, keep-alive included.
#include <arpa/inet.h>
#include <fcntl.h>
#include <malloc.h>
#include <netdb.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

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
// A whole request must arrive within the read timeout from its first byte; a kept-alive
// connection may wait twice that for its next request.
std::chrono::seconds kReadTimeout(15);
std::chrono::seconds kIdleTimeout(30);
constexpr auto kWriteTimeout = std::chrono::seconds(30);
constexpr size_t kMaxConnections = 512;  // per worker
constexpr int kReadyTimeoutMs = 120000;

const char* const kUsage =
    "Usage: kserve [options]\n"
    "\n"
    "Serves the map views and queries of one data set over HTTP: WMS 1.3.0 and 1.1.1 at /wms,\n"
    "WMTS 1.0.0 at /wmts, XYZ tiles at /tiles/, JSON queries at /api/, /healthz and /metrics,\n"
    "and the map viewer (a web page) at /.\n"
    "\n"
    "Options:\n"
    "  --data DIR       data set directory (default: the build's sample, " KSERVE_DEFAULT_DATA
    ")\n"
    "  --crs EPSG:N     the data set's grid (default EPSG:3826)\n"
    "  --listen A:P     address and port to listen on (default 127.0.0.1:8080; port 0 picks a\n"
    "                   free port, printed at start)\n"
    "  --workers N      worker processes, 1 to 64 (default: the number of cores)\n"
    "  --viewer DIR     the built viewer's folder, served at / (default: " KSERVE_VIEWER_RELATIVE
    "\n"
    "                   beside the program, as installed and in the build; '' serves none)\n"
    "  --timeout S      seconds a client has to send a whole request, 1 to 3600 (default 15);\n"
    "                   an idle kept-alive connection is closed after twice that\n"
    "  --help           show this text\n"
    "  --version        show the version\n"
    "\n"
    "Options take their value as the next argument or after '=' (--data=DIR).\n"
    "\n"
    "Signals: SIGTERM or SIGINT stop the service, SIGHUP replaces the workers (they load the\n"
    "data set again). One line per request is written to standard error, in the common log\n"
    "format followed by the time taken in microseconds.\n";

struct Options {
    Config config;
    std::string host = "127.0.0.1";
    std::string port = "8080";
    int workers = 0;
    bool viewer_given = false;
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

class Session : public std::enable_shared_from_this<Session> {
  public:
    Session(tcp::socket socket, Worker& worker);
    void start() { read(true); }
    void close_if_idle();
    ~Session();

  private:
    void read(bool first);
    void on_read(beast::error_code ec);
    void respond(Response res, bool keep_alive, unsigned version, bool head);
    void finish();

    beast::tcp_stream stream_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
    http::response<http::string_body> res_;
    Worker& worker_;
    std::string peer_;
    std::string request_line_;
    std::chrono::steady_clock::time_point started_;
    bool busy_ = false;
};

class Worker {
  public:
    Worker(net::io_context& ioc, int fd, int family, Service& service, Metrics* metrics)
        : ioc_(ioc),
          acceptor_(ioc),
          service_(service),
          metrics_(metrics),
          signals_(ioc, SIGTERM, SIGINT),
          deadline_(ioc),
          pause_(ioc) {
        acceptor_.assign(family == AF_INET6 ? tcp::v6() : tcp::v4(), fd);
        signals_.async_wait([this](beast::error_code ec, int) {
            if (!ec) stop();
        });
    }
    void accept() {
        acceptor_.async_accept([this](beast::error_code ec, tcp::socket socket) {
            if (stopping_) return;
            if (!ec) {
                if (sessions_.size() >= kMaxConnections) {
                    socket.close(ec);
                } else {
                    // Headers and body leave in separate writes: without this the body would
                    // wait for the client's delayed acknowledgement of the headers.
                    socket.set_option(tcp::no_delay(true), ec);
                    std::make_shared<Session>(std::move(socket), *this)->start();
                }
            }
            // All workers wait on one socket, and the first awake would take every new
            // connection. A worker that already has connections waits a little (1 ms per
            // connection, at most 10) before taking the next, so idle workers get them first.
            const size_t busy = std::min<size_t>(sessions_.size(), 10);
            if (busy == 0) return accept();
            pause_.expires_after(std::chrono::milliseconds(busy));
            pause_.async_wait([this](beast::error_code e) {
                if (!e && !stopping_) accept();
            });
        });
    }
    void stop() {
        stopping_ = true;
        beast::error_code ec;
        acceptor_.close(ec);
        pause_.cancel();
        for (Session* s : std::set<Session*>(sessions_)) s->close_if_idle();
        deadline_.expires_after(std::chrono::seconds(10));
        deadline_.async_wait([this](beast::error_code) { ioc_.stop(); });
        if (sessions_.empty()) ioc_.stop();
    }
    void add(Session* s) { sessions_.insert(s); }
    void remove(Session* s) {
        sessions_.erase(s);
        if (stopping_ && sessions_.empty()) ioc_.stop();
    }
    bool stopping() const { return stopping_; }
    Service& service() { return service_; }
    Metrics* metrics() { return metrics_; }

  private:
    net::io_context& ioc_;
    tcp::acceptor acceptor_;
    Service& service_;
    Metrics* metrics_;
    net::signal_set signals_;
    net::steady_timer deadline_;
    net::steady_timer pause_;
    std::set<Session*> sessions_;
    bool stopping_ = false;
};

Session::Session(tcp::socket socket, Worker& worker) : stream_(std::move(socket)), worker_(worker) {
    beast::error_code ec;
    const auto ep = stream_.socket().remote_endpoint(ec);
    peer_ = ec ? "-" : ep.address().to_string();
    worker_.add(this);
}

Session::~Session() {
    worker_.remove(this);
}

void Session::close_if_idle() {
    if (busy_) return;
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ec);
    stream_.socket().close(ec);
}

void Session::read(bool first) {
    parser_.emplace();
    parser_->header_limit(kHeaderLimit);
    parser_->body_limit(kBodyLimit);
    busy_ = false;
    // Waiting for the next request of a kept-alive connection is allowed longer than reading
    // one; once a request has begun, the whole of it must arrive within kReadTimeout.
    stream_.expires_after(first || buffer_.size() > 0 ? kReadTimeout : kIdleTimeout);
    http::async_read_header(
        stream_, buffer_, *parser_, [self = shared_from_this()](beast::error_code ec, size_t) {
            if (ec) return self->on_read(ec);
            self->stream_.expires_after(kReadTimeout);
            self->busy_ = true;
            http::async_read(self->stream_, self->buffer_, *self->parser_,
                             [self](beast::error_code ec2, size_t) { self->on_read(ec2); });
        });
}

void Session::on_read(beast::error_code ec) {
    started_ = std::chrono::steady_clock::now();
    if (ec == http::error::end_of_stream || ec == net::error::eof || ec == beast::error::timeout ||
        ec == net::error::operation_aborted || ec == net::error::connection_reset ||
        ec == net::error::bad_descriptor) {
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
    busy_ = true;
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
    g_current_fd = stream_.socket().native_handle();
    Response res = worker_.service().handle(r);
    g_current_fd = -1;
    respond(std::move(res), req.keep_alive() && !worker_.stopping(), req.version(),
            r.method == "HEAD");
}

void Session::respond(Response r, bool keep_alive, unsigned version, bool head) {
    busy_ = true;
    res_ = {};
    res_.version(version);
    res_.result(static_cast<http::status>(r.status));
    res_.set(http::field::server, "kserve/" KSERVE_VERSION);
    if (r.status != 304) res_.set(http::field::content_type, r.content_type);
    if (!r.etag.empty()) res_.set(http::field::etag, r.etag);
    if (!r.cache_control.empty()) res_.set(http::field::cache_control, r.cache_control);
    res_.set(http::field::access_control_allow_origin, "*");
    const size_t bytes = r.body.size();
    res_.body() = head ? std::string() : std::move(r.body);
    res_.keep_alive(keep_alive);
    res_.prepare_payload();
    if (head) res_.content_length(bytes);
    const long micros = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - started_)
                            .count();
    if (worker_.metrics()) worker_.metrics()->record(r.status, micros / 1e6);
    log_line(peer_, request_line_, r.status, head ? 0 : bytes, micros);
    stream_.expires_after(kWriteTimeout);
    http::async_write(stream_, res_,
                      [self = shared_from_this(), keep_alive](beast::error_code ec, size_t) {
                          if (ec || !keep_alive || self->worker_.stopping()) return self->finish();
                          self->read(false);
                      });
}

void Session::finish() {
    busy_ = false;
    beast::error_code ec;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ec);
    stream_.socket().close(ec);
}

// Runs one worker; returns its exit status (3: the data set did not load).
int run_worker(int fd, int family, const Options& o, Metrics* metrics, int ready_fd) {
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
    net::io_context ioc(1);
    Worker worker(ioc, fd, family, service, metrics);
    worker.accept();
    ioc.run();
    return 0;
}

// ---- the master ---------------------------------------------------------------------------

struct Child {
    int generation;
    std::chrono::steady_clock::time_point started;
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
            std::fputs("kserve: the workers could not start (see above)\n", stderr);
            stop_all(0);
            return 1;
        }
        while (true) {
            siginfo_t info{};
            if (sigwaitinfo(&set, &info) < 0) continue;
            if (info.si_signo == SIGTERM || info.si_signo == SIGINT) {
                stop_all(0);
                return 0;
            }
            if (info.si_signo == SIGHUP) {
                const int old = generation_;
                if (start_generation()) {
                    std::fputs("kserve: workers replaced\n", stderr);
                    stop_all(old);
                } else {
                    std::fputs("kserve: the new workers could not start; the old ones go on\n",
                               stderr);
                    stop_all(generation_);
                    generation_ = old;
                }
                continue;
            }
            reap();
        }
    }

  private:
    // Forks one worker of the current generation; with `ready` set, also the read end of
    // the pipe on which it says whether it loaded the data set.
    pid_t spawn(int* ready) {
        int p[2] = {-1, -1};
        if (ready && ::pipe2(p, O_CLOEXEC) != 0) return -1;
        const pid_t pid = ::fork();
        if (pid == 0) {
            sigset_t all;
            sigfillset(&all);
            sigprocmask(SIG_UNBLOCK, &all, nullptr);
            if (p[0] >= 0) ::close(p[0]);
            ::_exit(run_worker(fd_, family_, o_, metrics_, p[1]));
        }
        if (p[1] >= 0) ::close(p[1]);
        if (pid < 0) {
            if (p[0] >= 0) ::close(p[0]);
            return -1;
        }
        children_[pid] = {generation_, std::chrono::steady_clock::now()};
        if (ready) *ready = p[0];
        return pid;
    }

    bool start_generation() {
        ++generation_;
        std::vector<int> ready;
        for (int i = 0; i < o_.workers; ++i) {
            int fd = -1;
            if (spawn(&fd) < 0) return false;
            ready.push_back(fd);
        }
        bool ok = true;
        for (int fd : ready) {
            pollfd pfd{fd, POLLIN, 0};
            char status = 0;
            if (::poll(&pfd, 1, kReadyTimeoutMs) != 1 || ::read(fd, &status, 1) != 1 ||
                status != 'R')
                ok = false;
            ::close(fd);
        }
        if (ok && metrics_) metrics_->workers.store(static_cast<uint64_t>(o_.workers));
        return ok;
    }

    void reap() {
        int status = 0;
        pid_t pid;
        while ((pid = ::waitpid(-1, &status, WNOHANG)) > 0) {
            const auto it = children_.find(pid);
            if (it == children_.end()) continue;
            const Child c = it->second;
            children_.erase(it);
            if (c.generation != generation_) continue;
            if (WIFSIGNALED(status))
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

    // Stops the workers of generation `gen` (0: all) and waits for them, at most 15 s.
    void stop_all(int gen) {
        for (const auto& [pid, c] : children_)
            if (gen == 0 || c.generation == gen) ::kill(pid, SIGTERM);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(15);
        while (true) {
            bool left = false;
            for (const auto& [pid, c] : children_)
                if (gen == 0 || c.generation == gen) left = true;
            if (!left) return;
            int status = 0;
            const pid_t pid = ::waitpid(-1, &status, WNOHANG);
            if (pid > 0) {
                const auto it = children_.find(pid);
                if (it != children_.end() && (gen == 0 || it->second.generation == gen))
                    children_.erase(it);
                else if (it != children_.end()) {
                    // A worker of the generation that stays died meanwhile: start another.
                    children_.erase(it);
                    spawn(nullptr);
                }
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
    const std::string refused = kcli::expand_args(
        argc, argv, {"--data", "--viewer", "--crs", "--listen", "--timeout", "--workers"}, &args);
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
        } else if (arg == "--timeout") {
            const auto n = parse_int(value, 1, 3600);
            if (!n) {
                std::fprintf(stderr, "kserve: --timeout wants 1 to 3600 seconds, not '%s'\n",
                             value.c_str());
                return 1;
            }
            kReadTimeout = std::chrono::seconds(*n);
            kIdleTimeout = std::chrono::seconds(2 * *n);
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
    int family = AF_INET;
    std::string shown;
    const int fd = bind_socket(o, family, shown);
    if (fd < 0) return 1;
    Metrics* metrics = Metrics::create();
    std::fprintf(stderr, "kserve: serving %s on http://%s/ with %d workers\n",
                 o.config.data.c_str(), shown.c_str(), o.workers);
    if (o.config.viewer.empty())
        std::fputs("kserve: no map viewer (see --viewer); / lists the addresses\n", stderr);
    else
        std::fprintf(stderr, "kserve: the map viewer from %s at http://%s/\n",
                     o.config.viewer.c_str(), shown.c_str());
    Master master(o, fd, family, metrics);
    return master.run();
}
