// report_place_test.cpp: where the Windows engine writes its reports, and the links it
// refuses to write through. run-tests.sh prepares, in the Wine prefix, C:\reports (a folder),
// C:\linked (a link to a folder) and in C:\reports a link distcrrd.tmp to C:\target.txt, and
// passes nothing else; the checks of what is on disk are made here and by run-tests.sh.
#include <gtest/gtest.h>
#include <windows.h>

#include <fstream>
#include <iterator>
#include <string>

#include "fixture.h"
#include "kestrel.h"

namespace {

using qtest::SlotBuilder;

std::string contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class ReportPlaceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kestrel::data::reset_all();
        kestrel::render::reset_view_state();
        SlotBuilder a(0, 277025);
        a.road(3, 105, "MAIN ST", {{10, 20}, {30, 40}});
        kestrel::data::DataSet& ds = kestrel::data::dataset();
        ds.tile_index_last = 0;
        ds.tile_index_district[0] = 105;
        ds.tile_index_tile[0] = 277025;
    }
    void TearDown() override { kestrel::query::set_report_base(nullptr); }
};

TEST_F(ReportPlaceTest, TheDefaultFolderIsTheRootOfDriveC) {
    char folder[256];
    ASSERT_TRUE(kestrel::query::report_folder(folder, sizeof folder));
    EXPECT_STREQ(folder, "c:\\");
}

TEST_F(ReportPlaceTest, ReportsGoIntoTheFolderItself) {
    ASSERT_TRUE(kestrel::query::set_report_base("C:\\reports"));
    EXPECT_EQ(dlldistroad(105), 0);
    EXPECT_EQ(contents("C:\\reports\\distroad.tmp"), qtest::road_line("MAIN ST", 250010, 2770020));
}

TEST_F(ReportPlaceTest, AFolderThatIsALinkIsRefused) {
    DeleteFileA("C:\\reports\\distroad.tmp");  // C:\linked shows C:\reports
    ASSERT_TRUE(kestrel::query::set_report_base("C:\\linked"));
    EXPECT_EQ(dlldistroad(105), -1);
    EXPECT_EQ(GetFileAttributesA("C:\\linked\\distroad.tmp"), INVALID_FILE_ATTRIBUTES);
}

TEST_F(ReportPlaceTest, ALinkAtTheReportsNameIsReplacedNotFollowed) {
    ASSERT_TRUE(kestrel::query::set_report_base("C:\\reports"));
    const std::string before = contents("C:\\target.txt");
    ASSERT_FALSE(before.empty());
    char name[32] = "MAIN ST";
    EXPECT_EQ(dlldistcrrd(105, name), -1);  // no meeting roads: an empty report
    EXPECT_EQ(contents("C:\\target.txt"), before);
    const DWORD attributes = GetFileAttributesA("C:\\reports\\distcrrd.tmp");
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & FILE_ATTRIBUTE_REPARSE_POINT, 0u);
    EXPECT_EQ(contents("C:\\reports\\distcrrd.tmp"), "");
}

}  // namespace
