// command_test.cpp: the kimport command line: help, usage errors, clear messages and exit
// status for bad input, and the summary of a successful import.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "fixtures.h"

namespace {

using kimport_test::GeoJson;
using kimport_test::TempDir;

struct Result {
    int status = -1;
    std::string out;  // standard output and standard error together
};

Result kimport(const std::string& args) {
    Result r;
    FILE* p = popen((std::string(KIMPORT_PATH) + " " + args + " 2>&1").c_str(), "r");
    if (p == nullptr) return r;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    int status = pclose(p);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

TEST(Command, HelpExplainsTheOptions) {
    Result r = kimport("--help");
    EXPECT_EQ(r.status, 0);
    for (const char* opt : {"--output", "--crs", "--mapping", "--districts", "--district-field",
                            "--progress", "--replace"}) {
        EXPECT_NE(r.out.find(opt), std::string::npos) << opt;
    }
    r = kimport("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("kimport ", 0), 0u) << r.out;
}

TEST(Command, PrintsTheBuiltInMapping) {
    Result r = kimport("--print-mapping");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("highway=motorway"), std::string::npos);
}

TEST(Command, UsageErrorsExitWithTwo) {
    EXPECT_EQ(kimport("").status, 2);
    EXPECT_EQ(kimport("in.geojson").status, 2);  // no output
    Result r = kimport("--frobnicate x -o y");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.out.find("unknown option '--frobnicate'"), std::string::npos);
    EXPECT_EQ(kimport("in.geojson -o").status, 2);
}

TEST(Command, BadInputExitsWithOneAndSaysWhy) {
    TempDir dir;
    Result r = kimport(dir.file("none.geojson") + " -o " + dir.file("out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("kimport: cannot read"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("No such file or directory"), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out")));

    GeoJson()
        .point("\"place\":\"city\",\"name\":\"p\"", 300000, 2760000)
        .save(dir.file("in.geojson"));
    r = kimport(dir.file("in.geojson") + " --crs NOT:A:CRS -o " + dir.file("out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("unknown CRS \"NOT:A:CRS\""), std::string::npos) << r.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("out")));
    // An output below a file fails before any work.
    r = kimport(dir.file("in.geojson") + " -o " + dir.file("in.geojson/sub/out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("is no folder"), std::string::npos) << r.out;
}

TEST(Command, ASuccessfulImportEndsWithASummaryAndNoProgressOffATerminal) {
    TempDir dir;
    GeoJson()
        .line("\"highway\":\"primary\",\"name\":\"a\"", {{300100, 2760100}, {300400, 2760100}})
        .save(dir.file("in.geojson"));
    // --opt=value, and an output whose parent folders are made.
    Result r = kimport(dir.file("in.geojson") + " --crs=EPSG:3826 --output=" + dir.file("a/b/out"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("a/b/out/d4.txt"))) << r.out;
    EXPECT_EQ(kimport("--quiet=1 in.geojson -o x").status, 2);
    // A relative output whose parents are missing (as in docs/importer.md).
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    r = kimport("in.geojson -o data/city");
    std::filesystem::current_path(here);
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_TRUE(std::filesystem::exists(dir.file("data/city/d4.txt"))) << r.out;
    r = kimport(dir.file("in.geojson") + " -o " + dir.file("out"));
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.out.rfind("kimport: wrote", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("roads               1 records"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("points inserted     2"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("reading"), std::string::npos);  // progress only on a terminal
    r = kimport(dir.file("in.geojson") + " --progress --replace -q -o " + dir.file("out"));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("writing the data set"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("kimport: wrote"), std::string::npos);
}

}  // namespace
