/*
 * dib_test.cpp: GetDIBits. BI_RGB rows are compared with the pixels; BI_RLE8 output is
 * written as a complete BMP file and decoded with Pillow, pixel for pixel, for single-colour
 * images, noisy rows (absolute runs), odd and even widths and more than 256 colours. The RLE8
 * stream's structure is checked separately (absolute runs of 3 or more, word aligned, an end
 * of line per row, end of bitmap last, no delta escapes), and a room that is too small fails
 * without writing past it.
 */
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <random>

#include "gdi_test_util.h"

using kgdi_test::Canvas;

namespace {

struct Info256 {
    BITMAPINFOHEADER h;
    RGBQUAD colors[256];
};

BITMAPINFOHEADER Header(int w, int h, int bpp, DWORD compression, DWORD room) {
    BITMAPINFOHEADER hd{};
    hd.biSize = 40;
    hd.biWidth = w;
    hd.biHeight = h;
    hd.biPlanes = 1;
    hd.biBitCount = static_cast<WORD>(bpp);
    hd.biCompression = compression;
    hd.biSizeImage = room;
    return hd;
}

/* Converts the canvas to RLE8 with W x H bytes of room (plus guard bytes that must stay). */
bool ToRle8(const Canvas& c, Info256& info, std::vector<uint8_t>& data, size_t room) {
    info.h = Header(c.width(), c.height(), 8, BI_RLE8, static_cast<DWORD>(room));
    data.assign(room + 64, 0xAB);
    const int rows = GetDIBits(c.dc(), c.bitmap(), 0, c.height(), data.data(),
                               reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    for (size_t i = room; i < data.size(); ++i)
        if (data[i] != 0xAB) {
            ADD_FAILURE() << "guard byte " << i - room << " overwritten";
            return false;
        }
    if (rows == 0) return false;
    EXPECT_EQ(rows, c.height());
    data.resize(info.h.biSizeImage);
    return true;
}

void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

/* A BMP file image from the header, colour table and pixel data, byte by byte. */
std::vector<uint8_t> BmpFile(const Info256& info, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f;
    Put16(f, 0x4D42);
    Put32(f, static_cast<uint32_t>(1078 + data.size()));
    Put32(f, 0);
    Put32(f, 1078);
    const auto* h = reinterpret_cast<const uint8_t*>(&info.h);
    f.insert(f.end(), h, h + 40);
    const auto* t = reinterpret_cast<const uint8_t*>(info.colors);
    f.insert(f.end(), t, t + 1024);
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

/* Checks the structure of an RLE8 stream of `rows` rows of `width` pixels. */
void CheckStream(const std::vector<uint8_t>& d, int width, int rows) {
    size_t i = 0;
    int x = 0, row = 0;
    while (true) {
        ASSERT_LT(i + 1, d.size()) << "stream ends without end of bitmap";
        const uint8_t n = d[i], v = d[i + 1];
        i += 2;
        if (n > 0) {
            x += n;
            ASSERT_LE(x, width);
            continue;
        }
        ASSERT_NE(v, 2) << "delta escape";
        if (v == 0) {
            ASSERT_EQ(x, width) << "row " << row << " not complete at end of line";
            x = 0;
            ++row;
        } else if (v == 1) {
            ASSERT_EQ(row, rows);
            ASSERT_EQ(i, d.size()) << "bytes after end of bitmap";
            return;
        } else {
            ASSERT_GE(v, 3) << "absolute run shorter than 3";
            x += v;
            ASSERT_LE(x, width);
            i += (v + 1u) & ~1u;
            ASSERT_EQ(i % 2, 0u);
        }
    }
}

/* Writes the RLE8 image, decodes it with Pillow and compares with the canvas. max_error is
 * the largest channel difference allowed (0 for exact). */
void CheckWithPillow(const Canvas& c, const Info256& info, const std::vector<uint8_t>& data,
                     int max_error) {
    kgdi_test::TempDir dir;
    const std::string path = dir.file("rle.bmp");
    const auto file = BmpFile(info, data);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), file.size());
    int w = 0, h = 0;
    std::vector<uint32_t> px;
    ASSERT_TRUE(kgdi_test::DecodeWithPillow(path, &w, &h, &px));
    ASSERT_EQ(w, c.width());
    ASSERT_EQ(h, c.height());
    int worst = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const COLORREF want = GetPixel(c.dc(), x, y);
            const uint32_t got = px[static_cast<size_t>(y) * w + x];
            const int dr =
                std::abs(static_cast<int>(GetRValue(want)) - static_cast<int>((got >> 16) & 0xFF));
            const int dg =
                std::abs(static_cast<int>(GetGValue(want)) - static_cast<int>((got >> 8) & 0xFF));
            const int db =
                std::abs(static_cast<int>(GetBValue(want)) - static_cast<int>(got & 0xFF));
            worst = std::max({worst, dr, dg, db});
            if (max_error == 0) {
                ASSERT_EQ(worst, 0) << "pixel " << x << "," << y;
            }
        }
    EXPECT_LE(worst, max_error);
}

/* A map-like picture: background, filled blocks, lines and some text. */
void DrawMap(Canvas& c) {
    c.Clear(RGB(240, 236, 220));
    HBRUSH park = CreateSolidBrush(RGB(180, 220, 160));
    HGDIOBJ old_brush = SelectObject(c.dc(), park);
    HGDIOBJ old_pen = SelectObject(c.dc(), GetStockObject(NULL_PEN));
    POINT area[4] = {{20, 30}, {120, 40}, {100, 150}, {10, 120}};
    Polygon(c.dc(), area, 4);
    HPEN road = CreatePen(PS_SOLID, 3, RGB(250, 200, 60));
    SelectObject(c.dc(), road);
    for (int k = 0; k < 30; ++k) {
        POINT line[3] = {{k * 12, 0}, {k * 12 + 40, c.height() / 2}, {k * 9, c.height()}};
        Polyline(c.dc(), line, 3);
    }
    SetBkMode(c.dc(), TRANSPARENT);
    TextOutA(c.dc(), 40, 60, "Main Road \xA5\x78\xA5\x5F", 14);
    SelectObject(c.dc(), old_pen);
    SelectObject(c.dc(), old_brush);
    DeleteObject(road);
    DeleteObject(park);
}

}  // namespace

TEST(GetDIBitsRgb, TwentyFourAndThirtyTwoBitRowsMatchThePixels) {
    Canvas c(7, 5);  // odd width: 24-bit rows are padded
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 7; ++x) SetPixel(c.dc(), x, y, RGB(x * 30, y * 40, 99));
    for (int bpp : {24, 32}) {
        for (int sign : {1, -1}) {
            BITMAPINFO info{};
            info.bmiHeader = Header(7, 5 * sign, bpp, BI_RGB, 0);
            const size_t stride = ((7 * bpp + 31) / 32) * 4;
            std::vector<uint8_t> bits(stride * 5, 0xEE);
            ASSERT_EQ(GetDIBits(c.dc(), c.bitmap(), 0, 5, bits.data(), &info, DIB_RGB_COLORS), 5);
            EXPECT_EQ(info.bmiHeader.biSizeImage, stride * 5);
            for (int row = 0; row < 5; ++row) {
                const int y = sign > 0 ? 4 - row : row;
                for (int x = 0; x < 7; ++x) {
                    const uint8_t* p = bits.data() + stride * row + x * (bpp / 8);
                    EXPECT_EQ(RGB(p[2], p[1], p[0]), GetPixel(c.dc(), x, y))
                        << bpp << " " << x << "," << y;
                }
            }
        }
    }
}

TEST(GetDIBitsRgb, PartialBandsCountRowsFromTheBottom) {
    Canvas c(4, 6);
    for (int y = 0; y < 6; ++y) SetPixel(c.dc(), 0, y, RGB(y, 0, 0));
    BITMAPINFO info{};
    info.bmiHeader = Header(4, 6, 32, BI_RGB, 0);
    std::vector<uint32_t> bits(4 * 10);
    EXPECT_EQ(GetDIBits(c.dc(), c.bitmap(), 2, 10, bits.data(), &info, DIB_RGB_COLORS), 4);
    EXPECT_EQ(bits[0] >> 16, 3u);  // row 2 from the bottom is y = 3
    EXPECT_EQ(bits[4 * 3] >> 16, 0u);
}

TEST(GetDIBitsRgb, BadArgumentsFail) {
    Canvas c(4, 4);
    BITMAPINFO info{};
    std::vector<uint32_t> bits(16);
    info.bmiHeader = Header(5, 4, 32, BI_RGB, 0);  // wrong width
    EXPECT_EQ(GetDIBits(c.dc(), c.bitmap(), 0, 4, bits.data(), &info, DIB_RGB_COLORS), 0);
    info.bmiHeader = Header(4, 4, 16, BI_RGB, 0);  // unsupported depth
    EXPECT_EQ(GetDIBits(c.dc(), c.bitmap(), 0, 4, bits.data(), &info, DIB_RGB_COLORS), 0);
    info.bmiHeader = Header(4, 4, 32, BI_RGB, 0);
    EXPECT_EQ(GetDIBits(c.dc(), c.bitmap(), 4, 1, bits.data(), &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(c.dc(), c.bitmap(), 0, 4, bits.data(), &info, 1), 0);
    EXPECT_EQ(GetDIBits(c.dc(), nullptr, 0, 4, bits.data(), &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(nullptr, c.bitmap(), 0, 4, bits.data(), &info, DIB_RGB_COLORS), 0);
    EXPECT_EQ(GetDIBits(c.dc(), reinterpret_cast<HBITMAP>(GetStockObject(BLACK_PEN)), 0, 4,
                        bits.data(), &info, DIB_RGB_COLORS),
              0);
    EXPECT_EQ(GetDIBits(c.dc(), c.bitmap(), 0, 4, bits.data(), nullptr, DIB_RGB_COLORS), 0);
}

TEST(GetDIBitsRle8, SingleColourImageCompressesToRunsAndDecodesExactly) {
    Canvas c(356, 276);
    c.Clear(RGB(12, 34, 56));
    Info256 info{};
    std::vector<uint8_t> data;
    ASSERT_TRUE(ToRle8(c, info, data, 356 * 276));
    EXPECT_LT(data.size(), 356u * 276u / 50u);
    EXPECT_EQ(info.colors[0].rgbRed, 12);
    EXPECT_EQ(info.colors[0].rgbGreen, 34);
    EXPECT_EQ(info.colors[0].rgbBlue, 56);
    CheckStream(data, 356, 276);
    CheckWithPillow(c, info, data, 0);
}

TEST(GetDIBitsRle8, MapLikeImageDecodesExactly) {
    Canvas c(356, 276);
    DrawMap(c);
    Info256 info{};
    std::vector<uint8_t> data;
    ASSERT_TRUE(ToRle8(c, info, data, 356 * 276));
    CheckStream(data, 356, 276);
    CheckWithPillow(c, info, data, 0);
}

TEST(GetDIBitsRle8, NoisyRowsUseAbsoluteRunsForOddAndEvenWidths) {
    std::mt19937 rng(5);
    for (int width : {1, 2, 3, 4, 5, 17, 254, 255, 256, 257, 300, 511}) {
        Canvas c(width, 9);
        const COLORREF palette[6] = {RGB(0, 0, 0),   RGB(255, 0, 0), RGB(0, 255, 0),
                                     RGB(0, 0, 255), RGB(9, 9, 9),   RGB(200, 100, 50)};
        for (int y = 0; y < 9; ++y)
            for (int x = 0; x < width; ++x) {
                // rows mix noise, short runs and long runs
                const int kind = y % 3;
                const int v = kind == 0   ? static_cast<int>(rng() % 6)
                              : kind == 1 ? (x / 2) % 6
                                          : (x / 7) % 6;
                SetPixel(c.dc(), x, y, palette[v]);
            }
        Info256 info{};
        std::vector<uint8_t> data;
        const size_t room =
            static_cast<size_t>(width) * 9 * 2 + 64;  // roomy: noise may exceed W x H
        ASSERT_TRUE(ToRle8(c, info, data, room)) << "width " << width;
        CheckStream(data, width, 9);
        CheckWithPillow(c, info, data, 0);
    }
}

TEST(GetDIBitsRle8, MoreThan256ColoursDecodeWithCloseColours) {
    Canvas c(120, 90);
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 120; ++x) SetPixel(c.dc(), x, y, RGB(x * 2, y * 2, (x + y) & 0xFF));
    DrawMap(c);  // flat areas over part of the gradient
    for (int y = 60; y < 90; ++y)
        for (int x = 0; x < 120; ++x) SetPixel(c.dc(), x, y, RGB(x * 2, y * 2, (x * y) & 0xFF));
    Info256 info{};
    std::vector<uint8_t> data;
    ASSERT_TRUE(ToRle8(c, info, data, 120 * 90 * 2));
    CheckStream(data, 120, 90);
    CheckWithPillow(c, info, data, 40);
}

TEST(GetDIBitsRle8, FlatColoursSurviveTheReductionExactly) {
    // A few large flat areas plus a gradient strip: the flat colours keep their own entries.
    Canvas c(300, 40);
    c.Clear(RGB(240, 236, 220));
    for (int x = 0; x < 300; ++x)
        for (int y = 0; y < 4; ++y) SetPixel(c.dc(), x, y, RGB(x % 256, (x * 7) % 256, y * 60));
    Info256 info{};
    std::vector<uint8_t> data;
    ASSERT_TRUE(ToRle8(c, info, data, 300 * 40 * 2));
    bool found = false;
    for (const RGBQUAD& q : info.colors)
        found |= q.rgbRed == 240 && q.rgbGreen == 236 && q.rgbBlue == 220;
    EXPECT_TRUE(found);
}

TEST(GetDIBitsRle8, RoomTooSmallFailsWithoutWritingPastIt) {
    Canvas c(64, 16);
    std::mt19937 rng(3);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 64; ++x) SetPixel(c.dc(), x, y, RGB(rng() % 4 * 60, 0, 0));
    Info256 info{};
    std::vector<uint8_t> data;
    size_t needed = 0;
    {
        Info256 probe{};
        probe.h = Header(64, 16, 8, BI_RLE8, 0);
        ASSERT_EQ(GetDIBits(c.dc(), c.bitmap(), 0, 16, nullptr,
                            reinterpret_cast<BITMAPINFO*>(&probe), DIB_RGB_COLORS),
                  16);  // NULL bits: size only
        needed = probe.h.biSizeImage;
    }
    for (size_t room : {size_t{0}, size_t{1}, size_t{2}, needed / 2, needed - 2, needed - 1}) {
        EXPECT_FALSE(ToRle8(c, info, data, room)) << "room " << room;
    }
    EXPECT_TRUE(ToRle8(c, info, data, needed));
    EXPECT_EQ(data.size(), needed);
}

TEST(GetDIBitsRle8, NoisyImageLargerThanWidthTimesHeightFailsCleanly) {
    // Pure noise needs a little more than one byte a pixel: W x H of room is refused.
    Canvas c(356, 20);
    std::mt19937 rng(9);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 356; ++x) SetPixel(c.dc(), x, y, RGB(rng() % 200, 0, 0));
    Info256 info{};
    std::vector<uint8_t> data;
    EXPECT_FALSE(ToRle8(c, info, data, 356 * 20));
}
