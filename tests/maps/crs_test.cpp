// crs_test.cpp: the names of coordinate systems, spelled in one place: as URNs, as OGC URIs,
// and read back from the forms OGC API clients send; the systems made from them.
#include "kmaps/crs.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(CrsNames, AreWrittenAsUrnsAndUris) {
    EXPECT_EQ(kmaps::crs_urn("EPSG:3826"), "urn:ogc:def:crs:EPSG::3826");
    EXPECT_EQ(kmaps::crs_uri("EPSG:3826"), "http://www.opengis.net/def/crs/EPSG/0/3826");
    EXPECT_EQ(kmaps::crs_uri(kmaps::kWebMercator), "http://www.opengis.net/def/crs/EPSG/0/3857");
    EXPECT_EQ(kmaps::crs_uri(kmaps::kCrs84), "http://www.opengis.net/def/crs/OGC/1.3/CRS84");
}

TEST(CrsNames, AreReadFromEachFormClientsSend) {
    const struct {
        const char* text;
        std::optional<std::string> name;
    } cases[] = {
        {"http://www.opengis.net/def/crs/OGC/1.3/CRS84", "CRS:84"},
        {"[OGC:CRS84]", "CRS:84"},
        {"CRS:84", "CRS:84"},
        {"http://www.opengis.net/def/crs/EPSG/0/3857", "EPSG:3857"},
        {"[EPSG:3826]", "EPSG:3826"},
        {"epsg:3826", "EPSG:3826"},
        {"https://www.opengis.net/def/crs/EPSG/0/3857", std::nullopt},
        {"[EPSG:3826", std::nullopt},
        {"urn:ogc:def:crs:EPSG::3826", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(kmaps::crs_name_of(c.text), c.name) << c.text;
}

TEST(CrsNames, MakeTheirSystemsInAnyCaseAndRefuseOthers) {
    const auto lonlat = kmaps::Crs::make("epsg:4326");
    ASSERT_TRUE(lonlat);
    EXPECT_EQ(lonlat->name(), kmaps::kLonLat);
    EXPECT_TRUE(lonlat->north_first());
    EXPECT_TRUE(lonlat->geographic());
    const auto crs84 = kmaps::Crs::make(kmaps::kCrs84);
    ASSERT_TRUE(crs84);
    EXPECT_FALSE(crs84->north_first());
    const auto grid = kmaps::Crs::make(kmaps::kDefaultGrid);
    ASSERT_TRUE(grid);
    EXPECT_FALSE(grid->geographic());
    for (const char* bad : {"EPSG:0", "EPSG:x", "EPSG: 3857", "CRS:83", "3857"})
        EXPECT_FALSE(kmaps::Crs::make(bad)) << bad;
}

}  // namespace
