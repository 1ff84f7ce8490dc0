// numbers_test.cpp: the number readers take plain decimal text only, whole or with a fraction,
// check their ranges and read lists of an exact length.
#include "kcommon/numbers.h"

#include <gtest/gtest.h>

#include <array>
#include <string>

namespace {

struct Text {
    std::string text;
    std::optional<long long> whole;  // as parse_int(-1000, 1000) reads it
    std::optional<double> decimal;
};

class Numbers : public ::testing::TestWithParam<Text> {};

TEST_P(Numbers, AreReadAsPlainDecimalTextOnly) {
    EXPECT_EQ(kcommon::parse_int(GetParam().text, -1000, 1000), GetParam().whole);
    EXPECT_EQ(kcommon::parse_decimal(GetParam().text), GetParam().decimal);
}

const auto kNo = std::nullopt;
INSTANTIATE_TEST_SUITE_P(
    Texts, Numbers,
    ::testing::Values(Text{"0", 0, 0.0}, Text{"-12", -12, -12.0}, Text{"+3", 3, 3.0},
                      Text{"1000", 1000, 1000.0}, Text{"1001", kNo, 1001.0},
                      Text{"-1001", kNo, -1001.0}, Text{"2.5", kNo, 2.5}, Text{".5", kNo, 0.5},
                      Text{"5.", kNo, 5.0}, Text{"-1.5e3", kNo, -1500.0}, Text{"1E-2", kNo, 0.01},
                      Text{"", kNo, kNo}, Text{" 1", kNo, kNo}, Text{"1 ", kNo, kNo},
                      Text{"+-1", kNo, kNo}, Text{"--1", kNo, kNo}, Text{"0x10", kNo, kNo},
                      Text{"inf", kNo, kNo}, Text{"nan", kNo, kNo}, Text{"1e400", kNo, kNo},
                      Text{"1e", kNo, kNo}, Text{".", kNo, kNo}, Text{"1,5", kNo, kNo},
                      Text{"99999999999999999999999", kNo, 1e23}));

TEST(NumberLists, HaveExactlyTheirLength) {
    std::array<double, 4> box{};
    EXPECT_TRUE(kcommon::parse_decimals("1,-2.5,3e2,4", ',', box));
    EXPECT_EQ(box, (std::array<double, 4>{1, -2.5, 300, 4}));
    for (const char* bad : {"1,2,3", "1,2,3,4,5", "1,2,,4", "1,2,3,4,", "1;2;3;4"})
        EXPECT_FALSE(kcommon::parse_decimals(bad, ',', box)) << bad;
    std::array<long long, 2> size{};
    EXPECT_TRUE(kcommon::parse_ints("640x480", 'x', size));
    EXPECT_EQ(size, (std::array<long long, 2>{640, 480}));
    EXPECT_FALSE(kcommon::parse_ints("640x480.5", 'x', size));
    EXPECT_FALSE(kcommon::parse_ints("640 x480", 'x', size));
}

}  // namespace
