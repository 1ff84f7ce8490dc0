// install_test.cpp: installs the build into a temporary prefix (cmake --install --prefix) and
// builds a tiny client against the installed files, once through pkg-config and once through
// find_package(kestrel); both clients are run against the installed libraries.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "test_support/image_check.h"

namespace {

using namespace kestrel_test;
namespace fs = std::filesystem;

// The client: draws a view without a data set (background only) and exports it, so it needs
// both installed libraries and both installed headers.
constexpr const char* kClientSource = R"(#include <stdio.h>
#include "kestrel.h"
#include "kgdi.h"

int main(void) {
    static unsigned char image[1078 + 64 * 48];
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, 64, 48);
    HGDIOBJ old = SelectObject(dc, bitmap);
    int drawn = dlldraw(dc, 300000, 2770000, 64, 48, 60.0, "10000000");
    int n = sdllgetbmp(image);
    printf("initialised %d drawn %d exported %d\n", sdllisinit(), drawn, n);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(bitmap);
    return drawn == 0 && n > 0 && image[0] == 'B' ? 0 : 1;
}
)";

constexpr const char* kClientCMake = R"(cmake_minimum_required(VERSION 3.25)
project(tiny_client C)
find_package(kestrel 1 REQUIRED)
add_executable(tiny_client client.c)
target_link_libraries(tiny_client PRIVATE kestrel::kestrel)
)";

class InstalledPackage : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        prefix_ = new TempDir();
        int status = 0;
        install_log_ = new std::string(run_command(
            "cmake --install '" BUILD_DIR "' --prefix '" + prefix_->path() + "' 2>&1", &status));
        install_status_ = status;
    }
    static void TearDownTestSuite() {
        delete prefix_;
        delete install_log_;
    }
    void SetUp() override { ASSERT_EQ(install_status_, 0) << *install_log_; }

    static std::string prefix() { return prefix_->path(); }
    static std::string libdir() { return prefix() + "/" INSTALL_LIBDIR; }
    void write_source(const std::string& dir) { std::ofstream(dir + "/client.c") << kClientSource; }
    // Runs the built client with the installed libraries.
    void run_client(const std::string& program) {
        int status = 0;
        const std::string output =
            run_command("LD_LIBRARY_PATH='" + libdir() + "' '" + program + "' 2>&1", &status);
        EXPECT_EQ(status, 0) << output;
        EXPECT_NE(output.find("initialised -1 drawn 0 exported"), std::string::npos) << output;
    }

    static TempDir* prefix_;
    static std::string* install_log_;
    static int install_status_;
    TempDir work_;
};

TempDir* InstalledPackage::prefix_ = nullptr;
std::string* InstalledPackage::install_log_ = nullptr;
int InstalledPackage::install_status_ = -1;

TEST_F(InstalledPackage, HoldsTheLibrariesHeadersAndPackageFiles) {
    for (const char* file :
         {"libkestrel.so", "libkestrelsrv.so", "libkgdi.so", "libkestrel.so.1",
          "pkgconfig/kestrel.pc", "pkgconfig/kestrelsrv.pc", "cmake/kestrel/kestrelConfig.cmake",
          "cmake/kestrel/kestrelConfigVersion.cmake", "cmake/kestrel/kestrelTargets.cmake"})
        EXPECT_TRUE(fs::exists(libdir() + "/" + file)) << file;
    for (const char* header : {"kestrel.h", "kgdi.h"})
        EXPECT_TRUE(fs::exists(prefix() + "/" INSTALL_INCLUDEDIR "/kestrel/" + header)) << header;
}

TEST_F(InstalledPackage, AClientBuildsWithPkgConfig) {
    write_source(work_.path());
    int status = 0;
    const std::string env = "PKG_CONFIG_PATH='" + libdir() + "/pkgconfig' ";
    const std::string flags = run_command(env + "pkg-config --cflags --libs kestrel", &status);
    ASSERT_EQ(status, 0) << flags;
    EXPECT_NE(flags.find("-lkestrel"), std::string::npos);
    EXPECT_NE(flags.find(prefix()), std::string::npos) << flags;
    const std::string program = work_.path() + "/tiny_client";
    const std::string log =
        run_command("cc " SANITIZE_FLAGS " '" + work_.path() + "/client.c' -o '" + program +
                        "' $(" + env + "pkg-config --cflags --libs kestrel) 2>&1",
                    &status);
    ASSERT_EQ(status, 0) << log;
    run_client(program);
}

TEST_F(InstalledPackage, AClientBuildsWithFindPackage) {
    write_source(work_.path());
    std::ofstream(work_.path() + "/CMakeLists.txt") << kClientCMake;
    int status = 0;
    const std::string build = work_.path() + "/build";
    std::string log = run_command("cmake -S '" + work_.path() + "' -B '" + build +
                                      "' -G Ninja -DCMAKE_PREFIX_PATH='" + prefix() +
                                      "' -DCMAKE_C_FLAGS='" SANITIZE_FLAGS "' 2>&1",
                                  &status);
    ASSERT_EQ(status, 0) << log;
    log = run_command("cmake --build '" + build + "' 2>&1", &status);
    ASSERT_EQ(status, 0) << log;
    run_client(build + "/tiny_client");
}

}  // namespace
