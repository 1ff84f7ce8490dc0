// report_folder_test.cpp: where reports go and the refusals that keep them safe: the private
// folder <base>/kestrel-<euid> (mode 0700, made when missing), refused when it is a symbolic
// link, not a folder, open to others or owned by another user; report files replaced, never
// written through a planted link; nothing left behind by a failed call.
#include <dirent.h>
#include <sys/resource.h>

#include <csignal>

#include "fixture.h"
#include "kestrel.h"

namespace {

using namespace qtest;

// The names in a folder, "." and ".." left out.
std::vector<std::string> list_folder(const std::string& path) {
    std::vector<std::string> names;
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return names;
    while (dirent* e = readdir(d))
        if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
            names.emplace_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

class ReportFolderTest : public QueryTest {
  protected:
    void SetUp() override {
        QueryTest::SetUp();
        SlotBuilder a(0, 277025);
        a.road(3, 105, "MAIN ST", {{10, 20}, {30, 40}});
        index_tile(105, 277025);
        expected_ = road_line("MAIN ST", 250010, 2770020);
    }
    std::string expected_;
};

TEST_F(ReportFolderTest, AMissingFolderIsMadePrivateAndHoldsOnlyTheReport) {
    ASSERT_FALSE(exists(folder_));
    EXPECT_EQ(dlldistroad(105), 0);
    struct stat st {};
    ASSERT_EQ(lstat(folder_.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    EXPECT_EQ(st.st_uid, geteuid());
    EXPECT_EQ(report("distroad.tmp"), expected_);
    char name[32] = "MAIN ST";
    EXPECT_EQ(dlldistcrrd(105, name), -1);
    EXPECT_EQ(list_folder(folder_), (std::vector<std::string>{"distcrrd.tmp", "distroad.tmp"}));
}

TEST_F(ReportFolderTest, TheDefaultFolderIsTheUsersFolderInTmp) {
    kestrel::query::set_report_base(nullptr);
    char folder[256];
    ASSERT_TRUE(kestrel::query::report_folder(folder, sizeof folder));
    EXPECT_EQ(std::string(folder), "/tmp/kestrel-" + std::to_string(geteuid()));
    EXPECT_EQ(dlldistroad(105), 0);
    EXPECT_EQ(read_file(std::string(folder) + "/distroad.tmp"), expected_);
}

TEST_F(ReportFolderTest, ASymbolicLinkInTheFoldersPlaceIsRefused) {
    const std::string target = base_.path() + "/elsewhere";
    ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
    ASSERT_EQ(symlink(target.c_str(), folder_.c_str()), 0);
    EXPECT_EQ(dlldistroad(105), -1);
    EXPECT_EQ(dlldist44(105, 0), -1);
    EXPECT_TRUE(list_folder(target).empty());
}

TEST_F(ReportFolderTest, AFolderOpenToOthersIsRefusedAndKeepsItsReport) {
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    write_file(folder_ + "/distroad.tmp", "earlier\r\n");
    for (mode_t mode : {0777, 0750, 0701}) {
        ASSERT_EQ(chmod(folder_.c_str(), mode), 0);
        EXPECT_EQ(dlldistroad(105), -1) << std::oct << mode;
        EXPECT_EQ(report("distroad.tmp"), "earlier\r\n");
    }
    ASSERT_EQ(chmod(folder_.c_str(), 0700), 0);
    EXPECT_EQ(dlldistroad(105), 0);
    EXPECT_EQ(report("distroad.tmp"), expected_);
}

TEST_F(ReportFolderTest, AFileInTheFoldersPlaceIsRefused) {
    write_file(folder_, "not a folder");
    EXPECT_EQ(dlldistroad(105), -1);
    EXPECT_EQ(read_file(folder_), "not a folder");
}

TEST_F(ReportFolderTest, AFolderOfAnotherUserIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give the folder to another user";
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    ASSERT_EQ(chown(folder_.c_str(), 65534, 65534), 0);
    EXPECT_EQ(dlldistroad(105), -1);
    EXPECT_TRUE(list_folder(folder_).empty());
}

TEST_F(ReportFolderTest, APlantedLinkAtTheReportsNameIsReplacedNotFollowed) {
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    const std::string victim = base_.path() + "/victim";
    write_file(victim, "precious\n");
    ASSERT_EQ(symlink(victim.c_str(), (folder_ + "/distroad.tmp").c_str()), 0);
    EXPECT_EQ(dlldistroad(105), 0);
    EXPECT_EQ(read_file(victim), "precious\n");
    struct stat st {};
    ASSERT_EQ(lstat((folder_ + "/distroad.tmp").c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(report("distroad.tmp"), expected_);
}

TEST_F(ReportFolderTest, AReportThatCannotBePutInPlaceLeavesNothingBehind) {
    ASSERT_EQ(mkdir(folder_.c_str(), 0700), 0);
    ASSERT_EQ(mkdir((folder_ + "/distroad.tmp").c_str(), 0700), 0);
    ASSERT_EQ(mkdir((folder_ + "/distroad.tmp/keep").c_str(), 0700), 0);
    EXPECT_EQ(dlldistroad(105), -1);
    EXPECT_EQ(list_folder(folder_), std::vector<std::string>{"distroad.tmp"});
}

// A file size limit makes the write of the report fail (EFBIG, with SIGXFSZ ignored), as a full
// disk would.
TEST_F(ReportFolderTest, AReportThatCannotBeWrittenWholeLeavesNothingAndKeepsTheEarlierOne) {
    SlotBuilder b(1, 277026);
    for (int i = 0; i < 10; ++i) b.road(3, 105, "ROAD " + std::to_string(i), {{i, i}, {9, 9}});
    index_tile(105, 277026);
    ASSERT_EQ(dlldistroad(105), 10);
    const std::string earlier = report("distroad.tmp");

    const auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit old_limit{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
    rlimit small = old_limit;
    small.rlim_cur = 100;  // the report is 11 lines of about 40 bytes
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const int result = dlldistroad(105);
    setrlimit(RLIMIT_FSIZE, &old_limit);
    std::signal(SIGXFSZ, old_handler);

    EXPECT_EQ(result, -1);
    EXPECT_EQ(report("distroad.tmp"), earlier);
    EXPECT_EQ(list_folder(folder_), std::vector<std::string>{"distroad.tmp"});
}

TEST_F(ReportFolderTest, AnEmptyReportIsWrittenAsAnEmptyFile) {
    EXPECT_EQ(dlldistroad(999), -1);
    EXPECT_TRUE(exists(folder_ + "/distroad.tmp"));
    EXPECT_EQ(report("distroad.tmp"), "");
}

}  // namespace
