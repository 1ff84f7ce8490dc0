// http/cpus.h: how many processors the process may use, for the default number of workers: the
// processors it may run on (its affinity) within the CPU quota of its control group, as a
// container or a systemd unit sets it.
#ifndef KSERVE_HTTP_CPUS_H
#define KSERVE_HTTP_CPUS_H

#include <optional>
#include <string>

namespace kserve {

// The CPU quota of the control group that /proc/self/cgroup's text `self` names, read under the
// cgroup file system mounted at `root`, in processors (1.5 for 150 ms a 100 ms period); the
// lowest over the group and its parents. Control groups v2 (cpu.max: "QUOTA PERIOD" or "max
// PERIOD") and v1 (cpu.cfs_quota_us, -1 for none, and cpu.cfs_period_us under the cpu
// controller's folder). Nothing when no quota is set or none can be read.
std::optional<double> cgroup_cpu_quota(const std::string& root, const std::string& self);

// The workers to start when --workers is not given: the processors of the affinity mask,
// at most the quota rounded up, at least 1 and at most `most`.
int default_workers(int most);

}  // namespace kserve

#endif
