// main.cpp: kserve, the HTTP map service: reads its command line, binds the listening socket
// and runs the master, which forks the workers (http/master.h). The limits that keep one client
// from starving the others (connections per client address and per worker, timeouts that
// shrink as a worker fills up, memory for unsent answers) are described in docs/web.md.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "http/master.h"
#include "http/options.h"
#include "kmaps/crs.h"
#include "service/metrics.h"
#include "service/request.h"

namespace kserve {
namespace {

// Binds and listens on the address of `o`; the socket, or -1 (reported). `family` is set to
// its address family and `shown` to the address as "HOST:PORT" ("[V6]:PORT").
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
    if (const auto end = parse(argc, argv, o)) return *end;
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
