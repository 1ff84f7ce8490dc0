// The routing table and the request read once: every route reaches its interface, errors take
// the route's form, and a map's cost is known before its answer is asked for.
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {

using kserve_test::Case;
using kserve_test::service;

class Routes : public ::testing::TestWithParam<Case> {};

TEST_P(Routes, AnswerInTheirInterfacesForm) {
    kserve_test::expect_answer(GetParam());
}

// A query that cannot be read ("%zz") is refused in each route's error form.
INSTANTIATE_TEST_SUITE_P(
    Service, Routes,
    ::testing::Values(Case{"/livez", 200, "text/plain", "ok\n"},
                      Case{"/healthz", 200, "text/plain", "ok\n"},
                      Case{"/metrics", 200, "text/plain", ""},
                      Case{"/wms?x=%zz", 400, "text/xml", "<ServiceExceptionReport"},
                      Case{"/wmts?x=%zz", 400, "text/xml", "<ExceptionReport"},
                      Case{"/wmts/other?x=%zz", 400, "text/xml", "<ExceptionReport"},
                      Case{"/wmts/other", 404, "text/plain", "not found"},
                      Case{"/ogcapi?x=%zz", 400, "application/problem+json", "\"status\":400"},
                      Case{"/api/info?x=%zz", 400, "application/json", "error"},
                      Case{"/tiles/google/0/0/0.png?x=%zz", 400, "text/plain", ""},
                      Case{"/nowhere", 404, "text/plain", "not found"},
                      Case{"/%zz", 400, "text/plain", "malformed path"}));

TEST(Prepare, FindsTheRouteAndCostsOnlyMaps) {
    const std::string box = kserve_test::kGridBox;
    const std::string wms =
        "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&"
        "CRS=EPSG:3826&BBOX=" +
        box + "&WIDTH=356&HEIGHT=276&FORMAT=image/png";
    const auto map = service().prepare(kserve_test::get(wms));
    ASSERT_NE(map.route, nullptr);
    EXPECT_STREQ(map.route->interface, "wms");
    EXPECT_GT(kserve::Service::cost(map), 0);
    // The OGC API's map of the same box, and a map twice the size costs more.
    const auto ogc = service().prepare(kserve_test::get(
        "/ogcapi/collections/map/map?bbox-crs=http://www.opengis.net/def/crs/EPSG/0/3826&bbox=" +
        box + "&width=356&height=276"));
    EXPECT_STREQ(ogc.route->interface, "ogcapi");
    EXPECT_GT(kserve::Service::cost(ogc), 0);
    const auto larger = service().prepare(kserve_test::get(
        wms.substr(0, wms.find("&WIDTH")) + "&WIDTH=712&HEIGHT=552&FORMAT=image/png"));
    EXPECT_GT(kserve::Service::cost(larger), kserve::Service::cost(map));
    // No cost for anything but a map that can be drawn.
    for (const char* target : {"/wms?SERVICE=WMS&REQUEST=GetCapabilities",
                               "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=nothing",
                               "/tiles/google/0/0/0.png", "/ogcapi/collections"})
        EXPECT_EQ(kserve::Service::cost(service().prepare(kserve_test::get(target))), 0) << target;
    // A preflight and a method not served are decided while reading.
    kserve::Request options = kserve_test::get("/wms");
    options.method = "OPTIONS";
    EXPECT_TRUE(service().prepare(options).decided);
    options.method = "POST";
    EXPECT_EQ(service().answer(service().prepare(options)).status, 405);
}

TEST(Prepare, RouteOfTakesTheFirstRowThatMatches) {
    EXPECT_STREQ(kserve::Service::route_of("/wmts/1.0.0/WMTSCapabilities.xml")->interface, "wmts");
    EXPECT_STREQ(kserve::Service::route_of("/tiles/google.json")->interface, "tilejson");
    EXPECT_STREQ(kserve::Service::route_of("/tiles/google/1/0/0.png")->interface, "xyz");
    EXPECT_EQ(kserve::Service::route_of("/"), nullptr);
    EXPECT_EQ(kserve::Service::route_of("/wmsx"), nullptr);
}

}  // namespace
