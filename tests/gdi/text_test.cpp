/*
 * text_test.cpp: TextOutA with the default font: ASCII and Big5 two-byte text land inside
 * their box in the text colour, opaque mode fills the box with the background colour and
 * transparent mode leaves it alone, text keeps two colours, Big5 pairs whose trail byte is an
 * ASCII character are decoded as one character, and invalid bytes become boxes. The font's
 * pixel size of a context: larger sizes give proportionally larger boxes and glyphs, still in
 * two colours, sizes out of range are refused, and text draws the same after the glyph cache
 * was emptied on reaching its bound.
 */
#include <gtest/gtest.h>

#include "gdi_test_util.h"

using kgdi_test::Canvas;

namespace {

const COLORREF kGreen = RGB(0, 200, 0);
const COLORREF kBlue = RGB(0, 0, 255);
const COLORREF kYellow = RGB(255, 255, 0);

struct Box {
    int x0, y0, x1, y1;  // [x0, x1) x [y0, y1)
    bool Contains(int x, int y) const { return x >= x0 && x < x1 && y >= y0 && y < y1; }
};

/* Draws text on a green canvas and returns its box from the extent. */
Box DrawOnGreen(Canvas& c, int x, int y, const std::string& text, int mode) {
    c.Clear(kGreen);
    SetTextColor(c.dc(), kBlue);
    SetBkColor(c.dc(), kYellow);
    SetBkMode(c.dc(), mode);
    EXPECT_TRUE(TextOutA(c.dc(), x, y, text.data(), static_cast<int>(text.size())));
    int w = 0, h = 0;
    EXPECT_TRUE(KgdiGetTextExtent(c.dc(), text.data(), static_cast<int>(text.size()), &w, &h));
    return Box{x, y, x + w, y + h};
}

/* Counts of ink pixels inside and outside the box, checking that nothing else changed. */
void CheckBox(const Canvas& c, const Box& box, int mode, int* ink) {
    *ink = 0;
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x) {
            const COLORREF p = GetPixel(c.dc(), x, y);
            if (!box.Contains(x, y)) {
                ASSERT_EQ(p, kGreen) << "outside the text box at " << x << "," << y;
            } else if (p == kBlue) {
                ++*ink;
            } else {
                ASSERT_EQ(p, mode == OPAQUE ? kYellow : kGreen) << "at " << x << "," << y;
            }
        }
}

}  // namespace

TEST(TextOut, AsciiTextIsInkInsideItsBoxOnAnOpaqueBackground) {
    Canvas c(120, 40);
    const Box box = DrawOnGreen(c, 7, 9, "Road 12", OPAQUE);
    EXPECT_EQ(box.y1 - box.y0, 16);  // the font's line height
    EXPECT_GT(box.x1 - box.x0, 7 * 2);
    EXPECT_LE(box.x1 - box.x0, 7 * 10);
    int ink = 0;
    CheckBox(c, box, OPAQUE, &ink);
    EXPECT_GT(ink, 30);
}

TEST(TextOut, TransparentModeLeavesTheBackgroundAlone) {
    Canvas c(120, 40);
    const Box box = DrawOnGreen(c, 3, 2, "Road 12", TRANSPARENT);
    int ink_transparent = 0;
    CheckBox(c, box, TRANSPARENT, &ink_transparent);
    DrawOnGreen(c, 3, 2, "Road 12", OPAQUE);
    int ink_opaque = 0;
    CheckBox(c, box, OPAQUE, &ink_opaque);
    EXPECT_EQ(ink_transparent, ink_opaque);
}

TEST(TextOut, Big5CharactersAreTwelvePixelsWideAndDrawn) {
    Canvas c(120, 40);
    const std::string text = "\xA5\x78\xA5\x5F\xA5\xAB";  // three Chinese characters
    const Box box = DrawOnGreen(c, 10, 10, text, OPAQUE);
    EXPECT_EQ(box.x1 - box.x0, 36);
    int ink = 0;
    CheckBox(c, box, OPAQUE, &ink);
    EXPECT_GT(ink, 3 * 20);
    // Each character has ink in its own 12-pixel cell.
    for (int k = 0; k < 3; ++k) {
        int cell = 0;
        for (int y = box.y0; y < box.y1; ++y)
            for (int x = box.x0 + 12 * k; x < box.x0 + 12 * (k + 1); ++x)
                cell += GetPixel(c.dc(), x, y) == kBlue;
        EXPECT_GT(cell, 15) << "character " << k;
    }
}

TEST(TextOut, TrailBytesThatLookLikeAsciiBelongToTheirLeadByte) {
    // 0xA5 0x5C is one character whose trail byte is a backslash; 0xA4 0x41 has trail 'A'.
    Canvas c(60, 30);
    int w = 0, h = 0;
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "\xA5\x5C", 2, &w, &h));
    EXPECT_EQ(w, 12);
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "\xA4\x41", 2, &w, &h));
    EXPECT_EQ(w, 12);
    int bs = 0;
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "\\", 1, &bs, &h));
    EXPECT_LT(bs, 12);
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "\xA5\x5C\xA4\x41x", 5, &w, &h));
    int x_only = 0;
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "x", 1, &x_only, &h));
    EXPECT_EQ(w, 24 + x_only);
}

TEST(TextOut, InvalidBytesAreDrawnAsBoxesAndNeverSwallowAscii) {
    Canvas c(80, 30);
    int lone = 0, h = 0, pair = 0, space = 0;
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "\xA4", 1, &lone, &h));  // lead byte at the end
    EXPECT_GT(lone, 0);
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), " ", 1, &space, &h));
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "\x81\x20", 2, &pair, &h));  // 0x20 is no trail byte
    EXPECT_EQ(pair, lone + space);
    const Box box = DrawOnGreen(c, 2, 2, "\x80\xFF\x01", OPAQUE);
    int ink = 0;
    CheckBox(c, box, OPAQUE, &ink);
    EXPECT_GT(ink, 3 * 10);  // three box outlines
}

TEST(TextOut, TextIsClippedAtEveryEdge) {
    Canvas c(30, 12);
    const std::string text = "\xA4\xA4\xA4\xE5 Wide text";
    for (int x : {-20, -5, 0, 20, 29}) {
        for (int y : {-10, -3, 0, 5, 11}) {
            SetBkMode(c.dc(), OPAQUE);
            ASSERT_TRUE(TextOutA(c.dc(), x, y, text.data(), static_cast<int>(text.size())));
        }
    }
    ASSERT_TRUE(
        TextOutA(c.dc(), INT32_MAX - 5, INT32_MIN, text.data(), static_cast<int>(text.size())));
    ASSERT_TRUE(TextOutA(c.dc(), INT32_MIN, INT32_MAX, text.data(), static_cast<int>(text.size())));
}

TEST(TextOut, EmptyAndBadArgumentsAreHandled) {
    Canvas c(10, 10);
    EXPECT_TRUE(TextOutA(c.dc(), 0, 0, "", 0));
    EXPECT_EQ(c.CountNot(RGB(255, 255, 255)), 0);
    EXPECT_FALSE(TextOutA(c.dc(), 0, 0, nullptr, 3));
    EXPECT_FALSE(TextOutA(c.dc(), 0, 0, "abc", -1));
}

TEST(TextOut, TextKeepsExactlyTwoColours) {
    Canvas c(200, 20);
    SetTextColor(c.dc(), RGB(10, 20, 30));
    SetBkColor(c.dc(), RGB(250, 240, 230));
    const std::string text = "Kestrel \xA5\x78\xA5\x5F Road 7";
    ASSERT_TRUE(TextOutA(c.dc(), 0, 0, text.data(), static_cast<int>(text.size())));
    int w = 0, h = 0;
    KgdiGetTextExtent(c.dc(), text.data(), static_cast<int>(text.size()), &w, &h);
    std::set<COLORREF> colours;
    for (int y = 0; y < h && y < 20; ++y)
        for (int x = 0; x < w; ++x) colours.insert(GetPixel(c.dc(), x, y));
    EXPECT_EQ(colours, (std::set<COLORREF>{RGB(10, 20, 30), RGB(250, 240, 230)}));
}

TEST(FontPixelSize, ANewContextHas12AndOutOfRangeSizesAreRefused) {
    Canvas c(10, 10);
    EXPECT_EQ(KgdiGetFontPixelSize(c.dc()), 12);
    for (int bad : {KGDI_FONT_PIXEL_SIZE_MIN - 1, KGDI_FONT_PIXEL_SIZE_MAX + 1, 0, -12})
        EXPECT_EQ(KgdiSetFontPixelSize(c.dc(), bad), 0) << bad;
    EXPECT_EQ(KgdiGetFontPixelSize(c.dc()), 12);
    EXPECT_EQ(KgdiSetFontPixelSize(c.dc(), 24), 12);
    EXPECT_EQ(KgdiSetFontPixelSize(c.dc(), KGDI_FONT_PIXEL_SIZE_MAX), 24);
    EXPECT_EQ(KgdiGetFontPixelSize(c.dc()), KGDI_FONT_PIXEL_SIZE_MAX);
    EXPECT_EQ(KgdiSetFontPixelSize(nullptr, 24), 0);
    EXPECT_EQ(KgdiGetFontPixelSize(nullptr), 0);
}

class FontPixelSizes : public ::testing::TestWithParam<int> {};

// At N times the default size the text box is N times as wide, its line about N times as high,
// and the glyphs fill about N * N times the pixels, in the text colour only.
TEST_P(FontPixelSizes, TextIsScaledInBoxAndInkAndKeepsTwoColours) {
    const int n = GetParam();
    const std::string text = "Kestrel \xA5\x78\xA5\x5F\xC5\x4B\xB9\x44 Road 7";
    Canvas c(400, 60);
    const Box one = DrawOnGreen(c, 3, 2, text, OPAQUE);
    int ink_one = 0;
    CheckBox(c, one, OPAQUE, &ink_one);
    ASSERT_EQ(KgdiSetFontPixelSize(c.dc(), 12 * n), 12);
    const Box big = DrawOnGreen(c, 3, 2, text, OPAQUE);
    int ink_big = 0;
    CheckBox(c, big, OPAQUE, &ink_big);
    int chinese = 0, h = 0;
    ASSERT_TRUE(KgdiGetTextExtent(c.dc(), "\xA5\x78", 2, &chinese, &h));
    EXPECT_EQ(chinese, 12 * n);
    EXPECT_NEAR(big.x1 - big.x0, n * (one.x1 - one.x0), 2 * n * 4);  // rounded advances
    EXPECT_NEAR(big.y1 - big.y0, n * (one.y1 - one.y0), n + 1);
    EXPECT_GT(ink_big, ink_one * n * n / 2) << "ink at 12: " << ink_one;
    EXPECT_LT(ink_big, ink_one * n * n * 3 / 2) << "ink at 12: " << ink_one;
}

INSTANTIATE_TEST_SUITE_P(TwiceAndThreeTimes, FontPixelSizes, ::testing::Values(2, 3));

// Text in many sizes and characters fills the glyph cache past its bound (32 MB), which is then
// emptied between two texts: drawing goes on with the same pixels.
TEST(FontPixelSize, TextDrawsTheSameAfterTheGlyphCacheIsEmptied) {
    Canvas c(160, 40);
    const std::string label = "Kestrel \xA5\x78\xA5\x5F";
    KgdiSetFontPixelSize(c.dc(), 24);
    auto draw_label = [&] {
        c.Clear(kGreen);
        TextOutA(c.dc(), 0, 0, label.data(), static_cast<int>(label.size()));
        return c.PixelsOf(kBlue);
    };
    SetTextColor(c.dc(), kBlue);
    SetBkMode(c.dc(), TRANSPARENT);
    const auto before = draw_label();
    ASSERT_FALSE(before.empty());
    // 3,768 Big5 characters (lead bytes 0xA4 to 0xBB) at 128 pixels: about 47 MB of masks.
    KgdiSetFontPixelSize(c.dc(), 128);
    std::string many;
    for (int lead = 0xA4; lead <= 0xBB; ++lead)
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (trail > 0x7E && trail < 0xA1) continue;  // not a trail byte
            many += static_cast<char>(lead);
            many += static_cast<char>(trail);
        }
    for (size_t at = 0; at < many.size(); at += 200)
        TextOutA(c.dc(), 0, 0, many.data() + at,
                 static_cast<int>(std::min<size_t>(200, many.size() - at)));
    KgdiSetFontPixelSize(c.dc(), 24);
    EXPECT_EQ(draw_label(), before);
}
