// The CPU quota of a control group, read from fixture folders laid out as the cgroup file
// systems v2 and v1 are.
#include "http/cpus.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace {

namespace fs = std::filesystem;

class CgroupQuota : public ::testing::Test {
  protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("kserve-cgroup-" + std::to_string(::getpid()));
        fs::remove_all(root_);
    }
    void TearDown() override { fs::remove_all(root_); }
    // Writes `text` to the file `path` under the root, making its folders.
    void write(const std::string& path, const std::string& text) {
        const fs::path file = root_ / path;
        fs::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    std::optional<double> quota(const std::string& self) {
        return kserve::cgroup_cpu_quota(root_.string(), self);
    }
    fs::path root_;
};

TEST_F(CgroupQuota, V2TakesTheLowestOverTheGroupAndItsParents) {
    write("cpu.max", "max 100000\n");
    write("kube/pod/cpu.max", "250000 100000\n");
    write("kube/cpu.max", "400000 100000\n");
    EXPECT_EQ(quota("0::/kube/pod\n"), 2.5);
    write("kube/pod/cpu.max", "max 100000\n");
    EXPECT_EQ(quota("0::/kube/pod\n"), 4.0);
    write("kube/cpu.max", "max 100000\n");
    EXPECT_EQ(quota("0::/kube/pod\n"), std::nullopt);
    // A group path that the container's mount does not show falls back to its root.
    write("cpu.max", "50000 100000\n");
    EXPECT_EQ(quota("0::/elsewhere/unseen\n"), 0.5);
}

TEST_F(CgroupQuota, V1ReadsTheCpuControllersFolder) {
    write("cpu,cpuacct/docker/c1/cpu.cfs_quota_us", "150000\n");
    write("cpu,cpuacct/docker/c1/cpu.cfs_period_us", "100000\n");
    const std::string self = "12:memory:/docker/c1\n4:cpu,cpuacct:/docker/c1\n";
    EXPECT_EQ(quota(self), 1.5);
    write("cpu,cpuacct/docker/c1/cpu.cfs_quota_us", "-1\n");
    EXPECT_EQ(quota(self), std::nullopt);
}

TEST_F(CgroupQuota, NoQuotaFromMissingOrDamagedFiles) {
    EXPECT_EQ(quota("0::/\n"), std::nullopt);
    write("cpu.max", "lots 100000\n");
    EXPECT_EQ(quota("0::/\n"), std::nullopt);
    write("cpu.max", "100000 0\n");
    EXPECT_EQ(quota("garbage\n0::/\n"), std::nullopt);
}

TEST(DefaultWorkers, AtLeastOneAndAtMostTheCap) {
    const int n = kserve::default_workers(64);
    EXPECT_GE(n, 1);
    EXPECT_LE(n, 64);
    EXPECT_EQ(kserve::default_workers(1), 1);
}

}  // namespace
