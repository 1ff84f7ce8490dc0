// big5_test.cpp: the code page 950 codec. Its table agrees with the C library's converter
// pair by pair and code point by code point (Linux); text is read by pairs, so a trail byte
// that is an ASCII letter or '\' stays part of its character; each error policy does what it
// says; UTF-8 that is not well-formed is caught.
#include "kcommon/big5.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#if defined(__linux__)
#include <iconv.h>
#endif

namespace {

using kcommon::BadBig5;
using kcommon::NoBig5;

#if defined(__linux__)
// The whole output of the C library's converter for `in`, or nothing when it refuses.
std::optional<std::string> iconv_all(const char* to, const char* from, const std::string& in) {
    static std::map<std::string, iconv_t> open;
    iconv_t& cd = open[std::string(to) + "<" + from];
    if (cd == nullptr) cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::nullopt;
    char out[16];
    char* src = const_cast<char*>(in.data());
    char* dst = out;
    size_t src_left = in.size(), dst_left = sizeof out;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &src, &src_left, &dst, &dst_left) == static_cast<size_t>(-1) || src_left != 0)
        return std::nullopt;
    return std::string(out, sizeof out - dst_left);
}

TEST(Big5Table, EveryPairDecodesAsTheCLibraryConverterDoes) {
    int characters = 0;
    for (unsigned lead = 0x81; lead <= 0xFE; ++lead)
        for (unsigned trail = 0x40; trail <= 0xFF; ++trail) {
            const std::string pair{static_cast<char>(lead), static_cast<char>(trail)};
            const auto utf32 = iconv_all("UTF-32LE", "CP950", pair);
            char32_t expected = kcommon::kNotBig5;
            if (utf32 && utf32->size() == 4)
                expected = static_cast<unsigned char>((*utf32)[0]) |
                           static_cast<unsigned char>((*utf32)[1]) << 8 |
                           static_cast<unsigned char>((*utf32)[2]) << 16;
            ASSERT_EQ(kcommon::big5_decode(lead, trail), expected) << std::hex << lead << trail;
            characters += expected != kcommon::kNotBig5;
        }
    EXPECT_EQ(characters, 13911);
}

TEST(Big5Table, EveryCodePointEncodesAsTheCLibraryConverterDoes) {
    for (char32_t c = 0; c < 0x10000; ++c) {
        if (c >= 0xD800 && c < 0xE000) continue;
        std::string utf8;
        kcommon::utf8_append(utf8, c);
        auto expected = iconv_all("CP950", "UTF-8", utf8);
        if (c == 0x80) expected.reset();  // the converter's one single byte above ASCII
        char bytes[2];
        const int n = kcommon::big5_encode(c, bytes);
        ASSERT_EQ(n == 0 ? std::nullopt : std::optional<std::string>(std::string(bytes, n)),
                  expected)
            << std::hex << static_cast<unsigned>(c);
    }
}
#endif

TEST(Big5Table, EveryEncodedCharacterDecodesToItself) {
    for (char32_t c = 0x80; c < 0x10000; ++c) {
        char b[2];
        if (kcommon::big5_encode(c, b) == 2) {
            ASSERT_EQ(kcommon::big5_decode(static_cast<unsigned char>(b[0]),
                                           static_cast<unsigned char>(b[1])),
                      c);
        }
    }
}

struct Decoded {
    const char* name;
    std::string big5;
    std::optional<std::string> replace, escape, keep, fail;
};

class Big5ToUtf8 : public ::testing::TestWithParam<Decoded> {};

TEST_P(Big5ToUtf8, EachPolicyDoesWhatItSays) {
    const Decoded& d = GetParam();
    EXPECT_EQ(kcommon::big5_to_utf8(d.big5, BadBig5::replace), d.replace);
    EXPECT_EQ(kcommon::big5_to_utf8(d.big5, BadBig5::escape), d.escape);
    EXPECT_EQ(kcommon::big5_to_utf8(d.big5, BadBig5::keep), d.keep);
    EXPECT_EQ(kcommon::big5_to_utf8(d.big5, BadBig5::fail), d.fail);
}

const std::string kRoad = "\xA4\xA4\xA5\xBF\xB8\xF4";  // 中正路
const std::string kRoadUtf8 = "\xE4\xB8\xAD\xE6\xAD\xA3\xE8\xB7\xAF";
// 許 (B3 5C) and 功 (A5 5C): their trail bytes are '\'.
const std::string kBackslashes = "\xB3\x5C\xA5\x5C";
const std::string kBackslashesUtf8 = "\xE8\xA8\xB1\xE5\x8A\x9F";
const std::string kFffd = "\xEF\xBF\xBD";

INSTANTIATE_TEST_SUITE_P(
    Texts, Big5ToUtf8,
    ::testing::Values(Decoded{"ascii_and_characters", "Road " + kRoad, "Road " + kRoadUtf8,
                              "Road " + kRoadUtf8, "Road " + kRoadUtf8, "Road " + kRoadUtf8},
                      Decoded{"trail_bytes_that_are_backslashes", kBackslashes, kBackslashesUtf8,
                              kBackslashesUtf8, kBackslashesUtf8, kBackslashesUtf8},
                      Decoded{"a_pair_that_is_no_character", "a\xFA\x41z", "a" + kFffd + "z",
                              "a\\xFA\\x41z", "a\xFA\x41z", std::nullopt},
                      Decoded{"a_lead_before_a_blank_is_alone", "\xA4 x", kFffd + " x", "\\xA4 x",
                              "\xA4 x", std::nullopt},
                      Decoded{"a_lead_at_the_end", "ab\xA4", "ab" + kFffd, "ab\\xA4", "ab\xA4",
                              std::nullopt},
                      Decoded{"bytes_that_lead_nothing", "\x80\xFF", kFffd + kFffd, "\\x80\\xFF",
                              "\x80\xFF", std::nullopt},
                      Decoded{"empty", "", "", "", "", ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Big5ToUtf16, CharactersAreOneUnitEachAndBadBytesFollowThePolicy) {
    EXPECT_EQ(kcommon::big5_to_utf16("A" + kRoad, BadBig5::fail), u"A\u4E2D\u6B63\u8DEF");
    EXPECT_EQ(kcommon::big5_to_utf16("\xA4", BadBig5::replace), u"\uFFFD");
    EXPECT_EQ(kcommon::big5_to_utf16("\xA4", BadBig5::keep), u"\u00A4");
    EXPECT_EQ(kcommon::big5_to_utf16("\xA4", BadBig5::escape), u"\\xA4");
    EXPECT_EQ(kcommon::big5_to_utf16("\xA4", BadBig5::fail), std::nullopt);
}

TEST(Utf8ToBig5, CharactersWithoutABig5FormAreReplacedOrFail) {
    EXPECT_EQ(kcommon::utf8_to_big5("Road " + kRoadUtf8, NoBig5::fail), "Road " + kRoad);
    EXPECT_EQ(kcommon::utf8_to_big5(kBackslashesUtf8, NoBig5::fail), kBackslashes);
    // e with an accent, an emoji, and a byte that starts nothing.
    const std::string others = "Caf\xC3\xA9 \xF0\x9F\x98\x80 \xFF";
    EXPECT_EQ(kcommon::utf8_to_big5(others, NoBig5::replace), "Caf? ? ?");
    EXPECT_EQ(kcommon::utf8_to_big5(others, NoBig5::fail), std::nullopt);
    // Two pairs share a character; the encoder gives the one the C library gives.
    EXPECT_EQ(kcommon::utf8_to_big5("\xE5\x8D\x81", NoBig5::fail), "\xA4\x51");  // 十
}

TEST(Utf8Next, MalformedSequencesAreOneBadByteEach) {
    for (const std::string bad : {"\x80", "\xC0\xAF", "\xE0\x80\xAF", "\xED\xA0\x80",
                                  "\xF4\x90\x80\x80", "\xE4\xB8", "\xC3("}) {
        std::size_t i = 0;
        char32_t c = 0;
        EXPECT_FALSE(kcommon::utf8_next(bad, i, c)) << bad;
        EXPECT_EQ(i, 1u);
    }
    std::string all;
    for (char32_t c : {U'A', U'\u00E9', U'\u4E2D', U'\U0001F600'}) kcommon::utf8_append(all, c);
    std::size_t i = 0;
    std::u32string back;
    for (char32_t c = 0; i < all.size();) {
        ASSERT_TRUE(kcommon::utf8_next(all, i, c));
        back += c;
    }
    EXPECT_EQ(back, U"A\u00E9\u4E2D\U0001F600");
}

}  // namespace
