// names_test.cpp: Big5 conversion of names: known code points, characters without a Big5
// form, cutting on character boundaries and catalogue tokens.
#include "names.h"

#include <gtest/gtest.h>

namespace kimport {
namespace {

// Big5 bytes of 臺北市 and 一, from the code page 950 table.
const std::string kTaipeiBig5 = "\xBB\x4F\xA5\x5F\xA5\xAB";
const std::string kOneBig5 = "\xA4\x40";

TEST(NameConversion, ChineseAndAsciiBecomeBig5Bytes) {
    NameConverter c;
    EXPECT_EQ(c.to_big5("臺北市", kRoadNameBytes), kTaipeiBig5);
    EXPECT_EQ(c.to_big5("7-Eleven", kRoadNameBytes), "7-Eleven");
    EXPECT_EQ(c.stats().converted, 2);
    EXPECT_EQ(c.stats().replaced_chars, 0);
}

TEST(NameConversion, CharactersWithoutBig5FormAreReplacedAndCounted) {
    NameConverter c;
    // 鱻 and the emoji have no Big5 form; 一 has.
    EXPECT_EQ(c.to_big5("鱻一\U0001F600", kRoadNameBytes), "?" + kOneBig5 + "?");
    EXPECT_EQ(c.to_big5("一", kRoadNameBytes), kOneBig5);
    EXPECT_EQ(c.stats().replaced_chars, 2);
    EXPECT_EQ(c.stats().names_with_replacement, 1);
}

TEST(NameConversion, AccentedLatinLettersLoseTheirAccent) {
    NameConverter c;
    EXPECT_EQ(c.to_big5("Café Ñandú Ærø", kPoiNameBytes), "Cafe Nandu Aro");
    EXPECT_EQ(c.stats().folded_chars, 5);
    EXPECT_EQ(c.stats().replaced_chars, 0);
}

TEST(NameConversion, LongNamesAreCutOnCharacterBoundaries) {
    NameConverter c;
    // Eleven two-byte characters (22 bytes) keep ten.
    std::string eleven;
    for (int i = 0; i < 11; ++i) eleven += "一";
    std::string ten;
    for (int i = 0; i < 10; ++i) ten += kOneBig5;
    EXPECT_EQ(c.to_big5(eleven, kRoadNameBytes), ten);
    // One ASCII byte first: 20 bytes would split the tenth character, so 19 are kept.
    std::string shifted = c.to_big5("A" + eleven, kRoadNameBytes);
    EXPECT_EQ(shifted.size(), 19u);
    EXPECT_EQ(shifted, "A" + ten.substr(0, 18));
    EXPECT_EQ(c.stats().cut, 2);
    // Points of interest have 28 bytes.
    std::string fifteen;
    for (int i = 0; i < 15; ++i) fifteen += "一";
    EXPECT_EQ(c.to_big5(fifteen, kPoiNameBytes).size(), 28u);
}

TEST(NameConversion, WhiteSpaceIsTrimmedAndJoinedAndControlsDropped) {
    NameConverter c;
    EXPECT_EQ(c.to_big5("  a \t  b\n", kRoadNameBytes), "a b");
    EXPECT_EQ(c.to_big5("a\x01"
                        "b",
                        kRoadNameBytes),
              "ab");
    EXPECT_EQ(c.to_big5("\xE3\x80\x80", kRoadNameBytes), "");  // ideographic space only
    // A cut that ends on a blank leaves no trailing blank.
    EXPECT_EQ(c.to_big5("abcdefghi jklmnop", 10), "abcdefghi");
}

TEST(NameConversion, InvalidUtf8IsReplacedAndCounted) {
    NameConverter c;
    EXPECT_EQ(c.to_big5("a\xFF"
                        "b\xC0\xAF",
                        kRoadNameBytes),
              "a?b??");
    EXPECT_EQ(c.stats().invalid_utf8, 1);
}

TEST(NameConversion, CatalogueTokensHaveNoWhiteSpaceAndTenBytes) {
    NameConverter c;
    EXPECT_EQ(c.to_token("New Town Hall", kCatalogueNameBytes), "New_Town_H");
    std::string t = c.to_token("中山 區中山區", kCatalogueNameBytes);
    EXPECT_LE(t.size(), kCatalogueNameBytes);
    EXPECT_EQ(t.find(' '), std::string::npos);
    EXPECT_EQ(t.size(), 9u);  // 中山 (4) _ (1) 區中 (4); the next character would make 11
}

TEST(Big5Cut, TrailBytesThatLookLikeAsciiStayWithTheirLead) {
    // A4 40 is one character although 40 is '@'.
    EXPECT_EQ(big5_cut(kOneBig5 + kOneBig5, 3), 2u);
    EXPECT_EQ(big5_cut(kOneBig5 + kOneBig5, 4), 4u);
    EXPECT_EQ(big5_cut("ab", 1), 1u);
    // A lone lead byte at the end is not a character.
    EXPECT_EQ(big5_cut("a\xA4", 5), 1u);
}

}  // namespace
}  // namespace kimport
