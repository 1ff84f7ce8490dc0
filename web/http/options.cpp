// options.cpp: kserve's command line.
#include "http/options.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "kcommon/cli.h"
#include "service/metrics.h"
#include "service/params.h"
#include "service/request.h"

namespace kserve {

namespace {

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

}  // namespace

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

}  // namespace kserve
