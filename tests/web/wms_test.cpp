// WMS through the service, without a socket: capabilities, maps and their refusals.
#include <gtest/gtest.h>

#include <string>

#include "service_fixture.h"

namespace {

using kserve_test::Case;

const std::string kMap = std::string(
                             "/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=map&STYLES=&"
                             "CRS=EPSG:3826&BBOX=") +
                         kserve_test::kGridBox + "&WIDTH=356&HEIGHT=276";

class Wms : public ::testing::TestWithParam<Case> {};

TEST_P(Wms, Answers) {
    kserve_test::expect_answer(GetParam());
}

INSTANTIATE_TEST_SUITE_P(
    Service, Wms,
    ::testing::Values(
        Case{"/wms?SERVICE=WMS&REQUEST=GetCapabilities", 200, "text/xml", "<WMS_Capabilities"},
        Case{"/wms?SERVICE=WMS&REQUEST=GetCapabilities&VERSION=1.1.1", 200,
             "application/vnd.ogc.wms_xml", "<WMT_MS_Capabilities"},
        Case{"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap", 400, "text/xml",
             "MissingParameterValue"},
        Case{"/wms?SERVICE=WFS&REQUEST=GetMap", 400, "text/xml", "SERVICE must be WMS"},
        Case{"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=GetMap&LAYERS=roads", 400, "text/xml",
             "LayerNotDefined"},
        Case{"/wms?SERVICE=WMS&VERSION=1.1.1&REQUEST=GetMap&LAYERS=map&SRS=EPSG:1", 400,
             "application/vnd.ogc.se_xml", "InvalidSRS"},
        Case{"/wms?SERVICE=WMS&VERSION=1.3.0&REQUEST=Burn", 400, "text/xml",
             "OperationNotSupported"}));

// A map: a PNG of the size asked for (its IHDR, as the PNG format lays it out), and the
// same refusal when the map read while preparing is bad as when it is read again.
TEST(WmsMap, IsAPngOfTheSizeAskedFor) {
    const kserve::Response res = kserve_test::answer(kMap + "&FORMAT=image/png");
    ASSERT_EQ(res.status, 200) << res.body.substr(0, 300);
    EXPECT_EQ(res.content_type, "image/png");
    ASSERT_GT(res.body.size(), 24u);
    EXPECT_EQ(res.body.substr(0, 8), "\x89PNG\r\n\x1a\n");
    auto be32 = [&](size_t at) {
        return (static_cast<unsigned>(static_cast<unsigned char>(res.body[at])) << 24) |
               (static_cast<unsigned>(static_cast<unsigned char>(res.body[at + 1])) << 16) |
               (static_cast<unsigned>(static_cast<unsigned char>(res.body[at + 2])) << 8) |
               static_cast<unsigned>(static_cast<unsigned char>(res.body[at + 3]));
    };
    EXPECT_EQ(be32(16), 356u);
    EXPECT_EQ(be32(20), 276u);
    EXPECT_FALSE(res.etag.empty());
}

TEST(WmsMap, RefusalsOfAPreparedMap) {
    const kserve::Response format = kserve_test::answer(kMap + "&FORMAT=image/tiff");
    EXPECT_EQ(format.status, 400);
    EXPECT_NE(format.body.find("InvalidFormat"), std::string::npos);
    // A version the map request reads as 1.1.1 answers in 1.1.1's form.
    std::string v111 = kMap + "&FORMAT=image/png";
    v111.replace(v111.find("1.3.0"), 5, "1.1.1");
    const kserve::Response srs = kserve_test::answer(v111);
    EXPECT_EQ(srs.status, 400);
    EXPECT_EQ(srs.content_type.rfind("application/vnd.ogc.se_xml", 0), 0u);
}

}  // namespace
