// options.cpp: kserve's command line.
#include "http/options.h"

#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "http/cpus.h"
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
    "at /tiles/, JSON queries at /api/, /healthz (ready), /livez (alive) and /metrics,\n"
    "and the map viewer (a web page) at /.\n";

const char* const kNotes =
    "Every option may also be set by the environment: KSERVE_ and its name in capitals with\n"
    "'_' for '-' (KSERVE_DATA, KSERVE_PUBLIC_URL, KSERVE_MAP_BUDGET). An option given on the\n"
    "command line wins over its variable.\n"
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

// Reads --listen's ADDRESS:PORT ("[::1]:8080" too; an empty address is 127.0.0.1).
std::string listen_on(const std::string& value, Options& o) {
    const size_t colon = value.rfind(':');
    if (colon == std::string::npos || !parse_int(value.substr(colon + 1), 0, 65535))
        return "wants ADDRESS:PORT, not '" + value + "'";
    o.host = value.substr(0, colon);
    if (o.host.size() >= 2 && o.host.front() == '[' && o.host.back() == ']')
        o.host = o.host.substr(1, o.host.size() - 2);
    if (o.host.empty()) o.host = "127.0.0.1";
    o.port = value.substr(colon + 1);
    return {};
}

// The option table of kserve, each row keeping its value in `o`.
std::vector<kcli::Option> option_table(Options& o) {
    using kcli::whole;
    return {
        {.name = "--data",
         .value = "DIR",
         .help = "data set directory (default: the build's sample, " KSERVE_DEFAULT_DATA ")",
         .handle = kcli::store(&o.config.data)},
        {.name = "--crs",
         .value = "EPSG:N",
         .help = "the data set's grid (default EPSG:3826)",
         .handle =
             [&o](const std::string& v) {
                 o.config.crs = upper(v);
                 return std::string();
             }},
        {.name = "--listen",
         .value = "A:P",
         .help = "address and port to listen on (default 127.0.0.1:8080; port 0 picks a free "
                 "port, printed at start)",
         .handle = [&o](const std::string& v) { return listen_on(v, o); }},
        {.name = "--public-url",
         .value = "URL",
         .help = "the service's address as its clients reach it, for the addresses in the "
                 "capabilities: http[s]://HOST[:PORT][/PATH] (default: the --listen address; "
                 "the machine's name for 0.0.0.0 or [::]). Set it behind a proxy",
         .handle =
             [&o](const std::string& v) {
                 const auto url = public_url(v);
                 if (!url) return "wants http[s]://HOST[:PORT][/PATH], not '" + v + "'";
                 o.config.public_url = *url;
                 o.public_url_given = true;
                 return std::string();
             }},
        {.name = "--workers",
         .value = "N",
         .help = "worker processes, 1 to 64 (default: the processors the process may use, "
                 "within its control group's CPU quota rounded up)",
         .handle = whole(1, 64, &o.workers)},
        {.name = "--viewer",
         .value = "DIR",
         .help = "the built viewer's folder, served at / (default: " KSERVE_VIEWER_RELATIVE
                 " beside the program, as installed and in the build; '' serves none)",
         .handle =
             [&o](const std::string& v) {
                 o.config.viewer = v;
                 o.viewer_given = true;
                 return std::string();
             }},
        {.name = "--timeout",
         .value = "S",
         .help = "seconds a client has to send a whole request, 1 to 3600 (default 15); an "
                 "idle kept-alive connection is closed after twice that",
         .handle =
             [&o](const std::string& v) {
                 int seconds = 0;
                 std::string why = whole(1, 3600, &seconds)(v);
                 if (why.empty()) {
                     o.limits.read = std::chrono::seconds(seconds);
                     o.limits.idle = std::chrono::seconds(2 * seconds);
                 }
                 return why;
             }},
        {.name = "--max-connections",
         .value = "N",
         .help = "connections a worker holds, 1 to 4096 (default 512); at the limit the "
                 "longest idle one is closed for a new one, else the new one gets a 503",
         .handle = whole(1, kMaxConnectionsLimit, &o.limits.max_connections)},
        {.name = "--client-connections",
         .value = "N",
         .help = "connections one client address may hold over all workers (default 64; 0: "
                 "no limit, as behind a proxy that limits them itself)",
         .handle = whole(0, 1000000, &o.limits.client_connections)},
        {.name = "--answer-memory",
         .value = "MB",
         .help = "memory a worker keeps for answers not yet taken by their clients, 1 to 65536 "
                 "MB (default 64); larger answers go through a temporary file",
         .handle =
             [&o](const std::string& v) {
                 size_t mb = 0;
                 std::string why = whole(1, 65536, &mb)(v);
                 if (why.empty()) o.limits.answer_memory = mb << 20;
                 return why;
             }},
        {.name = "--map-budget",
         .value = "MPX",
         .help = "the most a map may cost, in millions of pixels the engine draws (a warped "
                 "pixel counts 4 more), 1 to 100000 (default 128: every map of up to 4096 x "
                 "4096 in every system); the capabilities advertise the size drawn within it; "
                 "maps over half of it are drawn a few at a time (docs/web.md)",
         .handle =
             [&o](const std::string& v) {
                 long long mpx = 0;
                 std::string why = whole(1, 100000, &mpx)(v);
                 if (why.empty()) o.config.map_budget = static_cast<double>(mpx) * 1e6;
                 return why;
             }},
        {.name = "--watchdog",
         .value = "S",
         .help = "seconds a worker may make no progress before it is replaced, 0 (never) to "
                 "3600 (default 60)",
         .handle = whole(0, 3600, &o.limits.watchdog)},
    };
}

}  // namespace

std::string environment_name(const std::string& option) {
    std::string name = "KSERVE_";
    for (const char c : std::string_view(option).substr(2))
        name += c == '-' ? '_' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return name;
}

std::optional<int> parse(int argc, char** argv, Options& o, const Environment& environment) {
    o.config.data = KSERVE_DEFAULT_DATA;
    kcli::Program program{.name = "kserve",
                          .usage = kUsage,
                          .options = option_table(o),
                          .notes = kNotes,
                          .version = "kserve " KSERVE_VERSION};
    // The command line first, noting what it gives; then the variables of the options it did
    // not give, so that the command line wins.
    std::set<std::string> given;
    for (auto& option : program.options)
        option.handle = [&given, name = option.name, handle = option.handle](const std::string& v) {
            given.insert(name);
            return handle(v);
        };
    if (const auto end = kcli::parse(program, argc, argv)) return end;
    for (const auto& option : program.options) {
        if (given.count(option.name)) continue;
        std::string variable = environment_name(option.name);
        const std::optional<std::string> value = environment(variable);
        if (!value) continue;
        if (const std::string why = option.handle(*value); !why.empty())
            return kcli::refuse(program,
                                variable.append(" (").append(option.name).append(") ") + why);
    }
    o.limits.drain = o.limits.read + o.limits.write + std::chrono::seconds(5);
    if (!o.viewer_given) o.config.viewer = default_viewer();
    if (!o.config.viewer.empty() && ::access((o.config.viewer + "/index.html").c_str(), R_OK) != 0)
        return kcli::refuse(program, "--viewer " + o.config.viewer + " holds no index.html");
    if (o.workers == 0) o.workers = default_workers(64);
    return std::nullopt;
}

}  // namespace kserve
