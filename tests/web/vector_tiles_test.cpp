// The vector tiles' answers that no client checks on its own: when gzip may be sent.
#include "service/vector_tiles.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace {

TEST(AcceptEncoding, GzipIsSentOnlyWhereTheClientAcceptsItWithAWeightAboveZero) {
    const std::pair<const char*, bool> cases[] = {
        {"gzip", true},
        {"gzip, deflate, br", true},
        {"br;q=1.0, GZIP;q=0.5", true},
        {"x-gzip", true},
        {"*", true},
        {" gzip ; q=0.001", true},
        {"", false},
        {"identity", false},
        {"deflate, br", false},
        {"gzip;q=0", false},
        {"gzip;q=0.000", false},
        {"*;q=0", false},
        {"gzipped", false},
        {"br, gzip;q=0, *;q=0", false},
    };
    for (const auto& [field, accepted] : cases)
        EXPECT_EQ(kserve::accepts_gzip(field), accepted) << field;
}

}  // namespace
