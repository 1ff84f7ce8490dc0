// districts_test.cpp: district polygons read from GeoJSON, point location with holes and
// several polygons, and the stable code order.
#include "districts.h"

#include <gtest/gtest.h>

#include "fixtures.h"

namespace kimport {
namespace {

using kimport_test::GeoJson;
using kimport_test::TempDir;

class DistrictPolygons : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(grid_.set("EPSG:3826", &error)) << error;
        // Written in reverse name order: codes must not follow the file order.
        GeoJson()
            .polygon("\"TNAME\":\"West\"", {{{0, 0}, {1000, 0}, {1000, 1000}, {0, 1000}},
                                            {{400, 400}, {600, 400}, {600, 600}, {400, 600}}})
            .polygon("\"TNAME\":\"East\"", {{{1000, 0}, {2000, 0}, {2000, 1000}, {1000, 1000}}})
            .polygon("\"TNAME\":\"East\"", {{{5000, 0}, {6000, 0}, {6000, 1000}, {5000, 1000}}})
            .polygon("\"OTHER\":\"x\"", {{{9000, 0}, {9500, 0}, {9500, 500}}})
            .save(dir_.file("districts.geojson"));
    }
    TempDir dir_;
    Grid grid_;
};

TEST_F(DistrictPolygons, CodesFollowTheNameOrder) {
    Districts d;
    std::string error;
    ASSERT_TRUE(d.load_polygons(dir_.file("districts.geojson"), "TNAME", grid_, {}, &error))
        << error;
    ASSERT_TRUE(d.assign_codes(&error));
    ASSERT_EQ(d.size(), 2);
    EXPECT_EQ(d.name(0), "West");
    EXPECT_EQ(d.code(0), 101);
    EXPECT_EQ(d.name(1), "East");
    EXPECT_EQ(d.code(1), 100);
}

TEST_F(DistrictPolygons, PointsAreLocatedOutsideHolesAndInEveryPolygonOfADistrict) {
    Districts d;
    std::string error;
    ASSERT_TRUE(d.load_polygons(dir_.file("districts.geojson"), "TNAME", grid_, {}, &error));
    EXPECT_EQ(d.locate(100, 100), 0);
    EXPECT_EQ(d.locate(500, 500), -1);  // in West's hole
    EXPECT_EQ(d.locate(1500, 500), 1);
    EXPECT_EQ(d.locate(5500, 500), 1);  // East's second polygon
    EXPECT_EQ(d.locate(3000, 500), -1);
    EXPECT_EQ(d.locate(9200, 100), -1);  // unnamed polygon
    // The label of West avoids its hole.
    ASSERT_FALSE(d.label_points(0).empty());
    auto [x, y] = d.label_points(0).front();
    EXPECT_EQ(d.locate(x, y), 0);
}

TEST_F(DistrictPolygons, AMissingNameFieldIsAnError) {
    Districts d;
    std::string error;
    EXPECT_FALSE(d.load_polygons(dir_.file("districts.geojson"), "NAME", grid_, {}, &error));
    EXPECT_NE(error.find("\"NAME\""), std::string::npos);
}

TEST_F(DistrictPolygons, AnUnreadableFileIsAnError) {
    Districts d;
    std::string error;
    EXPECT_FALSE(d.load_polygons(dir_.file("none.geojson"), "TNAME", grid_, {}, &error));
    EXPECT_NE(error.find("none.geojson"), std::string::npos);
}

TEST(AttributeDistricts, TheOutsideDistrictTakesTheLastCode) {
    Districts d;
    int b = d.add("b");
    int out = d.add(kOutsideDistrict);
    int a = d.add("a");
    EXPECT_EQ(d.add("b"), b);
    std::string error;
    ASSERT_TRUE(d.assign_codes(&error));
    EXPECT_EQ(d.code(a), 100);
    EXPECT_EQ(d.code(b), 101);
    EXPECT_EQ(d.code(out), 102);
}

}  // namespace
}  // namespace kimport
