// realdata_test.cpp: imports the central-Taipei extract (OpenStreetMap roads, paths, points of
// interest and boundary lines, and the city's district polygons) when it is present beside the
// source tree, and checks the result against the extract's own figures and with the dump
// command, which reads the files with the engine's loaders.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>

#include "fixtures.h"
#include "import.h"
#include "kestrel.h"

namespace kimport {
namespace {

using kimport_test::TempDir;

const std::string kData = KIMPORT_REALDATA_DIR;

bool have_data() {
    return std::filesystem::exists(kData + "/taipei_osm_roads.geojson");
}

Options taipei(const TempDir& dir, std::vector<std::string> files) {
    Options o;
    for (const std::string& f : files) o.inputs.push_back(kData + "/" + f);
    o.districts_file = kData + "/taipei_town_districts.geojson";
    o.district_field = "TNAME";
    o.output = dir.file("taipei");
    return o;
}

// Runs a command and returns its exit status and standard output.
int run_command(const std::string& cmd, std::string* out) {
    FILE* p = popen(cmd.c_str(), "r");
    if (p == nullptr) return -1;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out->append(buf, n);
    int status = pclose(p);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(TaipeiExtract, RoadsFallIntoTheDistrictsTheExtractNames) {
    if (!have_data()) GTEST_SKIP() << "no real data at " << kData;
    TempDir dir;
    Summary s;
    std::string error;
    ASSERT_TRUE(run_import(taipei(dir, {"taipei_osm_roads.geojson"}), &s, nullptr, &error))
        << error;
    // The extract's README counts roads by the district that holds each road's midpoint. Its
    // midpoint may be taken otherwise than halfway along the line, and its five multi-line
    // roads count once there and once per part here: the counts agree within 1 %.
    const std::map<std::string, long> expected = {
        {"中山區", 1874}, {"大安區", 1849}, {"中正區", 1557},  {"信義區", 1272},
        {"松山區", 1185}, {"大同區", 1095}, {"萬華區", 573},   {"內湖區", 396},
        {"士林區", 76},   {"南港區", 5},    {"(outside)", 259}};
    std::map<std::string, long> got;
    int code = 100;
    for (const DistrictLine& d : s.districts) {
        got[d.name] = d.roads;
        EXPECT_GE(d.code, code);
        code = d.code + 1;
    }
    for (const auto& [name, n] : expected) EXPECT_NEAR(got[name], n, 5 + n / 100) << name;
    EXPECT_GE(s.source_roads, 10141 - 6);  // less any road without usable geometry
    EXPECT_LE(s.source_roads, 10141 + 5);
}

TEST(TaipeiExtract, AWholeImportLoadsInTheEngineAndDumps) {
    if (!have_data()) GTEST_SKIP() << "no real data at " << kData;
    TempDir dir;
    Summary s;
    std::string error;
    Options o = taipei(dir, {"taipei_osm_roads.geojson", "taipei_osm_paths.geojson",
                             "taipei_osm_pois.geojson", "taipei_osm_admin_boundary_lines.geojson"});
    ASSERT_TRUE(run_import(o, &s, nullptr, &error)) << error;
    EXPECT_TRUE(s.written.refused.empty());
    EXPECT_EQ(s.written.inserted_vertices, 0);
    EXPECT_GE(s.tiles, 2);
    EXPECT_GT(s.road_records, 12000);
    EXPECT_GT(s.line_records, 100);  // boundary lines
    EXPECT_GT(s.place_records, 80);
    EXPECT_GT(s.pois, 14000);
    EXPECT_GT(s.catalogue_polylines, 20);
    EXPECT_GE(s.catalogue_entries, s.catalogue_polylines + 5);  // district and city labels
    // 中山區 in Big5, as a district label of the catalogue.
    EXPECT_NE(
        kimport_test::read_text(o.output + "/alldist.txt").find("point \xA4\xA4\xA4\x73\xB0\xCF "),
        std::string::npos);
    EXPECT_GT(s.base_shapes, 10);

    std::string out;
    int rc = run_command(std::string(KDATASET_DUMP_PATH) + " " + o.output + "/", &out);
    EXPECT_EQ(rc, 0) << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
    EXPECT_NE(out.find("tile files: " + std::to_string(s.tiles)), std::string::npos);
    EXPECT_NE(out.find("277030.dat: tile 277030"), std::string::npos);

    std::string path = o.output + "/";
    EXPECT_EQ(dllsetpath(path.c_str()), 1);
}

}  // namespace
}  // namespace kimport
