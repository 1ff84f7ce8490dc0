// examples_test.cpp: runs the two example clients (C and Python) against the fixture data
// set, written with the data-set writer, and checks what they print and write: the BMP they
// saved is decoded with Pillow, the library's temporary file exists with the reported size,
// and the district road report was written.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "test_support/fixture_dataset.h"
#include "test_support/image_check.h"

namespace {

using namespace kestrel_test;
namespace fs = std::filesystem;

class ExampleClients : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_EQ(write_fixture_dataset(data_.slash()), ""); }

    // Checks the lines every example prints and the files it leaves.
    void check_run(const std::string& output) {
        EXPECT_NE(output.find("data set " + data_.slash() + ": loaded"), std::string::npos);
        EXPECT_NE(output.find("m per pixel: drawn"), std::string::npos);
        EXPECT_NE(output.find("points of interest: 0"), std::string::npos);
        EXPECT_NE(output.find("sdllgetbmp: "), std::string::npos);
        EXPECT_NE(output.find("district 101 road report: 2 lines"), std::string::npos);

        const std::string bmp = out_.slash() + "view.bmp";
        const Decoded image = decode_with_pillow(bmp);
        ASSERT_TRUE(image.ok);
        EXPECT_EQ(image.width, kViewWidth);
        EXPECT_EQ(image.height, kViewHeight);
        EXPECT_EQ(image.compression, 1);

        const std::string marker = "sdllgetimgfile: ";
        const std::size_t at = output.find(marker);
        ASSERT_NE(at, std::string::npos);
        const std::size_t n = std::stoul(output.substr(at + marker.size()));
        const std::size_t in = output.find(" in ", at);
        const std::string name = output.substr(in + 4, output.find('\n', in) - in - 4);
        EXPECT_EQ(name.rfind(temp_.slash() + "rle", 0), 0u) << name;
        EXPECT_EQ(fs::file_size(name), n + 1078);
        EXPECT_EQ(fs::file_size(bmp), n + 1078);  // the same view, the same image

        const std::string report = "/tmp/kestrel-" + std::to_string(geteuid()) + "/distroad.tmp";
        EXPECT_TRUE(fs::exists(report));
    }

    TempDir data_;
    TempDir temp_;
    TempDir out_;
};

TEST_F(ExampleClients, TheCClientDrawsExportsAndReports) {
    int status = 0;
    const std::string output = run_command(
        "'" MAP_CLIENT "' '" + data_.slash() + "' '" + temp_.slash() + "' '" + out_.slash() + "'",
        &status);
    ASSERT_EQ(status, 0) << output;
    check_run(output);
}

TEST_F(ExampleClients, TheCClientExplainsItself) {
    int status = 0;
    const std::string output = run_command("'" MAP_CLIENT "' --help", &status);
    EXPECT_EQ(status, 0);
    EXPECT_NE(output.find("usage: map_client"), std::string::npos);
    run_command("'" MAP_CLIENT "' 2>&1", &status);
    EXPECT_NE(status, 0);
}

TEST_F(ExampleClients, ThePythonClientDrawsExportsChecksWithPillowAndReports) {
    int status = 0;
    const std::string output = run_command(
        std::string(PYTHON_PRELOAD) + " /usr/bin/python3 '" MAP_CLIENT_PY "' '" + data_.slash() +
            "' '" + temp_.slash() + "' '" + out_.slash() + "' --lib-dir '" LIB_DIR "' 2>&1",
        &status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("decodes to the view, pixel for pixel"), std::string::npos) << output;
    check_run(output);
}

// Without arguments, from a folder whose build/ is a build: the build's libraries and sample.
// Without Pillow (Python without its site packages) it says what is missing.
TEST_F(ExampleClients, ThePythonClientRunsWithoutArgumentsBesideABuild) {
    std::filesystem::create_directory_symlink(BUILD_DIR, out_.path() + "/build");
    int status = 0;
    std::string output = run_command("cd '" + out_.path() + "' && " + PYTHON_PRELOAD +
                                         " /usr/bin/python3 '" MAP_CLIENT_PY "' 2>&1",
                                     &status);
    ASSERT_EQ(status, 0) << output;
    EXPECT_NE(output.find("decodes to the view, pixel for pixel"), std::string::npos) << output;
    EXPECT_TRUE(std::filesystem::exists(out_.path() + "/view.bmp"));
    output = run_command("/usr/bin/python3 -S '" MAP_CLIENT_PY "' 2>&1", &status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << output;
    EXPECT_NE(output.find("Pillow is missing"), std::string::npos) << output;
}

}  // namespace
