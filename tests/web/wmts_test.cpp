// WMTS, XYZ and TileJSON through the service, without a socket: every tile address reaches the
// same tile, and each scheme refuses in its own form.
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {

using kserve_test::Case;

class Wmts : public ::testing::TestWithParam<Case> {};

TEST_P(Wmts, Answers) {
    kserve_test::expect_answer(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Service, Wmts,
    ::testing::Values(
        Case{"/wmts?SERVICE=WMTS&REQUEST=GetCapabilities", 200, "text/xml", "<Capabilities"},
        Case{"/wmts/1.0.0/WMTSCapabilities.xml", 200, "text/xml", "http://maps.test/wmts"},
        Case{"/wmts?SERVICE=WMTS&REQUEST=GetTile", 400, "text/xml", "MissingParameterValue"},
        Case{"/wmts?SERVICE=WMTS&REQUEST=Burn", 501, "text/xml", "OperationNotSupported"},
        Case{"/wmts/1.0.0/map/default/GoogleMapsCompatible/1/5/0.png", 400, "text/xml",
             "TileOutOfRange"},
        Case{"/wmts/1.0.0/map/default/GoogleMapsCompatible/1/0/0.png", 200, "image/png", "PNG"},
        Case{"/tiles/google/1/0/0.jpg", 200, "image/jpeg", "JFIF"},
        Case{"/tiles/google/1/0/5.png", 404, "text/plain", "outside the matrix"},
        Case{"/tiles/moon/1/0/0.png", 404, "text/plain", "unknown tile set"},
        Case{"/tiles/google.json", 200, "application/json", "\"tilejson\":\"3.0.0\""},
        Case{"/tiles/native.json", 200, "application/json", "\"crs\":\"EPSG:3826\""}));

// The three address schemes of one tile give the same file.
TEST(Tiles, EveryAddressOfATileGivesTheSameFile) {
    const auto xyz = kserve_test::answer("/tiles/google/2/3/1.png");
    const auto rest = kserve_test::answer("/wmts/1.0.0/map/default/GoogleMapsCompatible/2/1/3.png");
    const auto kvp = kserve_test::answer(
        "/wmts?SERVICE=WMTS&REQUEST=GetTile&VERSION=1.0.0&LAYER=map&STYLE=default&"
        "FORMAT=image/png&TILEMATRIXSET=GoogleMapsCompatible&TILEMATRIX=2&TILEROW=1&TILECOL=3");
    const auto ogc = kserve_test::answer("/ogcapi/collections/map/map/tiles/WebMercatorQuad/2/1/3");
    ASSERT_EQ(xyz.status, 200);
    EXPECT_EQ(rest.body, xyz.body);
    EXPECT_EQ(kvp.body, xyz.body);
    EXPECT_EQ(ogc.body, xyz.body);
    EXPECT_EQ(ogc.etag, xyz.etag);
}

}  // namespace
