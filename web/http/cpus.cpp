// http/cpus.cpp: the processors the process may use.
#include "http/cpus.h"

#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <vector>

#include "kcommon/numbers.h"

namespace kserve {

namespace {

// The first line of a file, empty when it cannot be read.
std::string first_line(const std::string& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// `path` and each of its parents up to "/" ("/a/b", "/a", "/").
std::vector<std::string> with_parents(std::string path) {
    std::vector<std::string> out;
    while (!path.empty() && path.back() == '/') path.pop_back();
    while (true) {
        out.push_back(path.empty() ? "/" : path);
        const size_t slash = path.rfind('/');
        if (path.empty() || slash == std::string::npos) break;
        path.erase(slash);
    }
    return out;
}

// The quota of one group's folder of v2 ("QUOTA PERIOD" in cpu.max) or v1.
std::optional<double> quota_v2(const std::string& dir) {
    std::istringstream in(first_line(dir + "/cpu.max"));
    std::string quota, period;
    if (!(in >> quota >> period) || quota == "max") return std::nullopt;
    const auto q = kcommon::parse_int(quota, 1, 1LL << 50);
    const auto p = kcommon::parse_int(period, 1, 1LL << 50);
    if (!q || !p) return std::nullopt;
    return static_cast<double>(*q) / static_cast<double>(*p);
}

std::optional<double> quota_v1(const std::string& dir) {
    const auto q = kcommon::parse_int(first_line(dir + "/cpu.cfs_quota_us"), 1, 1LL << 50);
    const auto p = kcommon::parse_int(first_line(dir + "/cpu.cfs_period_us"), 1, 1LL << 50);
    if (!q || !p) return std::nullopt;  // -1: no quota
    return static_cast<double>(*q) / static_cast<double>(*p);
}

}  // namespace

std::optional<double> cgroup_cpu_quota(const std::string& root, const std::string& self) {
    std::optional<double> lowest;
    auto take = [&](std::optional<double> q) {
        if (q && (!lowest || *q < *lowest)) lowest = q;
    };
    std::istringstream lines(self);
    std::string line;
    while (std::getline(lines, line)) {
        // "ID:CONTROLLERS:PATH"; v2's is "0::PATH".
        const size_t a = line.find(':');
        const size_t b = a == std::string::npos ? a : line.find(':', a + 1);
        if (b == std::string::npos) continue;
        const std::string controllers = line.substr(a + 1, b - a - 1);
        const std::string path = line.substr(b + 1);
        if (controllers.empty()) {
            for (const auto& p : with_parents(path)) take(quota_v2(root + p));
            continue;
        }
        std::istringstream names(controllers);
        std::string name;
        bool cpu = false;
        while (std::getline(names, name, ',')) cpu = cpu || name == "cpu";
        if (!cpu) continue;
        // The controller's folder: "cpu,cpuacct" or "cpu" (a link to it on most systems).
        for (const std::string& folder : {controllers, std::string("cpu")})
            for (const auto& p : with_parents(path)) {
                std::string dir = root;
                dir.append("/").append(folder).append(p);
                take(quota_v1(dir));
            }
    }
    return lowest;
}

int default_workers(int most) {
    long cpus = ::sysconf(_SC_NPROCESSORS_ONLN);
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0) cpus = CPU_COUNT(&set);
    std::ifstream in("/proc/self/cgroup");
    const std::string self((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (const auto quota = cgroup_cpu_quota("/sys/fs/cgroup", self))
        cpus = std::min(cpus, static_cast<long>(std::ceil(*quota)));
    return static_cast<int>(std::clamp(cpus, 1L, static_cast<long>(most)));
}

}  // namespace kserve
