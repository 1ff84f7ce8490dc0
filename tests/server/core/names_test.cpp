// names_test.cpp: which request identifiers name a plain file, under the rules of each file
// system, and the names draw makes from them.
#include "tessera/core/names.h"

#include <gtest/gtest.h>

#include <string>

namespace tessera::core {
namespace {

bool plainOnBoth(std::u16string_view id) {
    const bool posix = isPlainFileName(id, FileNameRules::kPosix);
    EXPECT_EQ(posix, isPlainFileName(id, FileNameRules::kWindows))
        << std::string(id.begin(), id.end());
    return posix;
}

TEST(RequestIds, ArePlainFileNamesOfAtMost200Utf8Bytes) {
    EXPECT_TRUE(plainOnBoth(u"A12"));
    EXPECT_TRUE(plainOnBoth(std::u16string(200, u'a')));
    EXPECT_FALSE(plainOnBoth(std::u16string(201, u'a')));
    EXPECT_FALSE(plainOnBoth(std::u16string(5000, u'b')));
    EXPECT_TRUE(plainOnBoth(std::u16string(66, u'\u4E2D')));   // 198 bytes
    EXPECT_FALSE(plainOnBoth(std::u16string(67, u'\u4E2D')));  // 201 bytes
    EXPECT_TRUE(plainOnBoth(u"\U0001F5FA"));
    EXPECT_TRUE(plainOnBoth(std::u16string(100, u'\u00e9')));   // 200 bytes
    EXPECT_FALSE(plainOnBoth(std::u16string(101, u'\u00e9')));  // 202 bytes
}

TEST(RequestIds, RefuseSeparatorsControlsAndUnpairedSurrogatesEverywhere) {
    const std::u16string refused[] = {u"",
                                      u".",
                                      u"..",
                                      u"../A12",
                                      u"sub/A12",
                                      u"a\\b",
                                      {u'a', 0x01, u'b'},
                                      u"tab\there",
                                      {u'a', 0x1b, u'['},
                                      {u'd', 0x7f},
                                      {u'n', 0, u'x'}};
    for (const std::u16string& id : refused) {
        EXPECT_FALSE(plainOnBoth(id)) << std::string(id.begin(), id.end());
    }
    EXPECT_FALSE(plainOnBoth(std::u16string(1, char16_t(0xD800))));
    EXPECT_FALSE(plainOnBoth(std::u16string(1, char16_t(0xDC00)) + u"a"));
    EXPECT_TRUE(plainOnBoth(u"a.b c"));
}

TEST(RequestIds, UnderWindowsRulesRefuseReservedCharactersAndDeviceNames) {
    for (const std::u16string_view id :
         {u"c:x", u"a*", u"why?", u"say\"", u"<a>", u"a|b", u"CON", u"con", u"Con.x", u"NUL ",
          u"PRN.tar.gz", u"aux", u"COM1", u"lpt9", u"com3.txt"}) {
        EXPECT_FALSE(isPlainFileName(id, FileNameRules::kWindows))
            << std::string(id.begin(), id.end());
        EXPECT_TRUE(isPlainFileName(id, FileNameRules::kPosix))
            << std::string(id.begin(), id.end());
    }
    for (const std::u16string_view id : {u"CONSOLE", u"COM", u"COM0", u"LPT10", u"xCON", u"NUL1"}) {
        EXPECT_TRUE(plainOnBoth(id)) << std::string(id.begin(), id.end());
    }
}

TEST(GifNames, AreTheIdThenMinuteAndSecondWithoutLeadingZeros) {
    EXPECT_EQ(gifName("A12", 5, 9), "A1259.gif");
    EXPECT_EQ(gifName("A12", 15, 30), "A121530.gif");
    EXPECT_EQ(gifName("Z", 15, 1), "Z151.gif");
    EXPECT_EQ(gifName("Z", 0, 0), "Z00.gif");
}

}  // namespace
}  // namespace tessera::core
