// tile_names_test.cpp: the last segment of every tile address names the tile's number, drawing
// scale factor and format, and nothing else.
#include <gtest/gtest.h>

#include "service/tile_answer.h"

namespace {

TEST(TileNames, ReadTheNumberFactorAndFormatOfAnAddressesLastSegment) {
    struct Case {
        const char* segment;
        long number;  // -1: not a tile name
        int factor;
        bool jpeg = false;
    };
    for (const Case& c : {Case{"41.png", 41, 1}, Case{"0@2x.png", 0, 2}, Case{"7@3x.png", 7, 3},
                          Case{"1073741824.png", 1073741824, 1}, Case{"1073741825.png", -1, 0},
                          Case{"5@1x.png", -1, 0}, Case{"5@4x.png", -1, 0}, Case{"5@2X.png", -1, 0},
                          Case{"5@22x.png", -1, 0}, Case{"5@x.png", -1, 0}, Case{"@2x.png", -1, 0},
                          Case{"5@2x.jpg", 5, 2, true}, Case{"9.jpg", 9, 1, true},
                          Case{"9.jpeg", -1, 0}, Case{"9.JPG", -1, 0}, Case{".jpg", -1, 0},
                          Case{"-5.png", -1, 0}, Case{"5.png@2x", -1, 0}, Case{".png", -1, 0}}) {
        const auto name = kserve::parse_tile_name(c.segment);
        if (c.number < 0) {
            EXPECT_FALSE(name) << c.segment;
            continue;
        }
        ASSERT_TRUE(name) << c.segment;
        EXPECT_EQ(name->number, c.number) << c.segment;
        EXPECT_EQ(name->factor, c.factor) << c.segment;
        EXPECT_EQ(name->format == kmaps::TileFormat::jpeg, c.jpeg) << c.segment;
    }
}

}  // namespace
