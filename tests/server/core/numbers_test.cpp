// numbers_test.cpp: the number rules of the console window and the drawing routine.
#include "tessera/core/numbers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "fakes.h"

namespace tessera::core {
namespace {

using testing::errorNumberOf;

TEST(ReadingANumber, TakesTheLongestLeadingDecimalPart) {
    EXPECT_EQ(readNumber("20"), 20.0);
    EXPECT_EQ(readNumber("12abc"), 12.0);
    EXPECT_EQ(readNumber("-4.5e2x"), -450.0);
    EXPECT_EQ(readNumber(".5"), 0.5);
    EXPECT_EQ(readNumber("3D2"), 300.0);
    EXPECT_EQ(readNumber("7e"), 7.0);
    EXPECT_EQ(readNumber("1.2.3"), 1.2);
    EXPECT_EQ(readNumber("1e999"), INFINITY);
}

TEST(ReadingANumber, SkipsBlanksInsideTheNumber) {
    EXPECT_EQ(readNumber(" 356"), 356.0);
    EXPECT_EQ(readNumber(" 1 2\t3 x4"), 123.0);
    EXPECT_EQ(readNumber("- 8"), -8.0);
    EXPECT_EQ(readNumber("5 e 2"), 500.0);
}

TEST(ReadingANumber, GivesZeroWhenTheTextHoldsNoNumber) {
    EXPECT_EQ(readNumber(""), 0.0);
    EXPECT_EQ(readNumber("abc"), 0.0);
    EXPECT_EQ(readNumber("+"), 0.0);
    EXPECT_EQ(readNumber("."), 0.0);
    // Digits of other scripts are no digits: the full-width "12" gives 0.
    EXPECT_EQ(readNumber("\xef\xbc\x91\xef\xbc\x92"), 0.0);
}

TEST(RoundingToInt32, RoundsHalvesToEven) {
    EXPECT_EQ(roundToInt32(2.5), 2);
    EXPECT_EQ(roundToInt32(3.5), 4);
    EXPECT_EQ(roundToInt32(-2.5), -2);
    EXPECT_EQ(roundToInt32(2.500001), 3);
    EXPECT_EQ(roundToInt32(2147483647.4), 2147483647);
    EXPECT_EQ(roundToInt32(-2147483648.5), std::numeric_limits<int32_t>::min());
}

TEST(RoundingToInt32, RaisesOverflowOutsideTheRangeOrForNonFiniteValues) {
    EXPECT_EQ(errorNumberOf([] { roundToInt32(2147483647.5); }), 6);
    EXPECT_EQ(errorNumberOf([] { roundToInt32(-2147483649.0); }), 6);
    EXPECT_EQ(errorNumberOf([] { roundToInt32(std::nan("")); }), 6);
    EXPECT_EQ(errorNumberOf([] { roundToInt32(INFINITY); }), 6);
}

TEST(SingleText, IsTheShortestDecimalWithALeadingBlankWhenNotNegative) {
    EXPECT_EQ(singleText(356.0f), " 356");
    EXPECT_EQ(singleText(0.1f), " 0.1");
    EXPECT_EQ(singleText(-2.5f), "-2.5");
    EXPECT_EQ(errorNumberOf([] { toSingle(1e39); }), 6);
    EXPECT_EQ(errorNumberOf([] { toSingle(std::nan("")); }), 6);
    EXPECT_EQ(toSingle(-32768), -32768.0f);
}

TEST(CheckedAdd, RaisesOverflowWhenTheSumLeavesInt32) {
    EXPECT_EQ(checkedAdd(2147483646, 1), 2147483647);
    EXPECT_EQ(checkedAdd(-2147483647, -1), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(errorNumberOf([] { checkedAdd(2147483647, 1); }), 6);
    EXPECT_EQ(errorNumberOf([] { checkedAdd(std::numeric_limits<int32_t>::min(), -1); }), 6);
}

}  // namespace
}  // namespace tessera::core
