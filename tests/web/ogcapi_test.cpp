// OGC API through the service, without a socket: each resource, and the refusals of maps,
// tiles and features as problem details.
#include <gtest/gtest.h>

#include "service_fixture.h"

namespace {

using kserve_test::Case;

class OgcApi : public ::testing::TestWithParam<Case> {};

TEST_P(OgcApi, Answers) {
    kserve_test::expect_answer(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Service, OgcApi,
    ::testing::Values(
        Case{"/ogcapi", 200, "application/json", "\"href\":\"http://maps.test/ogcapi/api\""},
        Case{"/ogcapi?f=html", 200, "text/html", "<h1>kestrel map service</h1>"},
        Case{"/ogcapi?bogus=1", 400, "application/problem+json", "unknown parameter bogus"},
        Case{"/ogcapi/conformance", 200, "application/json", "ogcapi-maps-1/1.0/conf/core"},
        Case{"/ogcapi/api", 200, "application/vnd.oai.openapi+json",
             "more than 1000 count as 1000"},
        Case{"/ogcapi/collections", 200, "application/json", "\"id\":\"pois\""},
        Case{"/ogcapi/collections/roads", 200, "application/json", "\"storageCrs\""},
        Case{"/ogcapi/collections/rivers", 404, "application/problem+json", "no collection"},
        Case{"/ogcapi/collections/map/map?width=0", 400, "application/problem+json",
             "width must be"},
        Case{"/ogcapi/collections/map/map?width=64", 200, "image/png", "PNG"},
        Case{"/ogcapi/collections/map/map/tiles", 200, "application/json", "WebMercatorQuad"},
        Case{"/ogcapi/collections/map/map/tiles/WebMercatorQuad/0/0/0", 200, "image/png", "PNG"},
        Case{"/ogcapi/collections/map/map/tiles/WebMercatorQuad/0/1/0", 404,
             "application/problem+json", "outside the matrix"},
        Case{"/ogcapi/collections/map/map/tiles/Nowhere", 404, "application/problem+json",
             "no tile matrix set"},
        Case{"/ogcapi/collections/roads/items?limit=2", 200, "application/geo+json",
             "\"numberReturned\":2"},
        Case{"/ogcapi/collections/roads/items?limit=0", 400, "application/problem+json",
             "limit must be"},
        Case{"/ogcapi/collections/pois/items/0", 404, "application/problem+json", "no feature"},
        Case{"/ogcapi/tileMatrixSets", 200, "application/json", "\"id\":\"native\""},
        Case{"/ogcapi/tileMatrixSets/WebMercatorQuad", 200, "application/json", "\"tileMatrices\""},
        Case{"/ogcapi/nothing", 404, "application/problem+json", "no resource"}));

}  // namespace
