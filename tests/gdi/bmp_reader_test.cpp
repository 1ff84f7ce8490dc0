/*
 * bmp_reader_test.cpp: the BMP reader. Round trips through KgdiSaveImage; files written by
 * ImageMagick in 8 bits (uncompressed and RLE8), 24 and 32 bits; byte-built fixtures for
 * top-down rows, RLE8 delta escapes and absolute runs; and malformed files (bad sizes,
 * offsets, runs past the row or the data, truncation at every length) refused cleanly.
 */
#include <gtest/gtest.h>

#include <cstring>

#include "gdi_test_util.h"

using kgdi_test::Canvas;

namespace {

void Put16(std::vector<uint8_t>& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

/* An 8-bit BMP from the format tables: file header, 40-byte info header, `colors` table
 * entries (index i is RGB(i * 10, 0, 255 - i)), then the pixel data. */
std::vector<uint8_t> Bmp8(int w, int h, uint32_t compression, int colors,
                          const std::vector<uint8_t>& data) {
    std::vector<uint8_t> f;
    const uint32_t off = 14 + 40 + 4 * colors;
    Put16(f, 0x4D42);
    Put32(f, static_cast<uint32_t>(off + data.size()));
    Put32(f, 0);
    Put32(f, off);
    Put32(f, 40);
    Put32(f, static_cast<uint32_t>(w));
    Put32(f, static_cast<uint32_t>(h));
    Put16(f, 1);
    Put16(f, 8);
    Put32(f, compression);
    Put32(f, static_cast<uint32_t>(data.size()));
    Put32(f, 0);
    Put32(f, 0);
    Put32(f, static_cast<uint32_t>(colors));
    Put32(f, 0);
    for (int i = 0; i < colors; ++i) {
        f.push_back(static_cast<uint8_t>(255 - i));  // blue
        f.push_back(0);
        f.push_back(static_cast<uint8_t>(i * 10));  // red
        f.push_back(0);
    }
    f.insert(f.end(), data.begin(), data.end());
    return f;
}

uint32_t Colour(int i) {
    return (static_cast<uint32_t>(i * 10) << 16) | static_cast<uint32_t>(255 - i);
}

/* A test picture of 31 colours (enough for ImageMagick to write 8-bit rather than 4-bit
 * palettes) with some detail. */
void Paint(Canvas& c) {
    for (int y = 0; y < c.height(); ++y)
        for (int x = 0; x < c.width(); ++x)
            SetPixel(
                c.dc(), x, y,
                ((x / 5 + y / 3) % 4 == 0) ? RGB(200, 30, 40) : RGB(x % 6 * 40, y % 5 * 50, 90));
}

void ExpectSame(const Canvas& c, const KgdiImage& img) {
    ASSERT_EQ(img.width, c.width());
    ASSERT_EQ(img.height, c.height());
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const uint32_t p = img.pixels[static_cast<size_t>(y) * img.width + x];
            ASSERT_EQ(RGB(p >> 16, (p >> 8) & 0xFF, p & 0xFF), GetPixel(c.dc(), x, y))
                << x << "," << y;
        }
}

}  // namespace

TEST(BmpReader, ReadsBackWhatKgdiSaveImageWrote) {
    kgdi_test::TempDir dir;
    for (int w : {1, 2, 3, 5, 31}) {
        Canvas c(w, 7);
        Paint(c);
        const std::string path = dir.file("save.bmp");
        ASSERT_TRUE(KgdiSaveImage(c.dc(), path.c_str(), KGDI_FILE_BMP));
        KgdiImage img{};
        ASSERT_TRUE(KgdiLoadBmp(path.c_str(), &img));
        ExpectSame(c, img);
        KgdiFreeImage(&img);
        EXPECT_EQ(img.pixels, nullptr);
    }
}

TEST(BmpReader, SavedPngAndBmpDecodeWithPillowToTheSamePixels) {
    kgdi_test::TempDir dir;
    Canvas c(13, 9);
    Paint(c);
    for (int format : {KGDI_FILE_BMP, KGDI_FILE_PNG}) {
        const std::string path = dir.file(format == KGDI_FILE_BMP ? "a.bmp" : "a.png");
        ASSERT_TRUE(KgdiSaveImage(c.dc(), path.c_str(), format));
        int w = 0, h = 0;
        std::vector<uint32_t> px;
        ASSERT_TRUE(kgdi_test::DecodeWithPillow(path, &w, &h, &px));
        KgdiImage img{px.data(), w, h};
        ExpectSame(c, img);
    }
    EXPECT_FALSE(KgdiSaveImage(c.dc(), (dir.path() + "/no/such/dir.bmp").c_str(), KGDI_FILE_BMP));
    EXPECT_FALSE(KgdiSaveImage(c.dc(), dir.file("x.gif").c_str(), 3));
    EXPECT_FALSE(KgdiSaveImage(nullptr, dir.file("y.bmp").c_str(), KGDI_FILE_BMP));
}

TEST(BmpReader, ReadsImageMagickFilesOfEveryDepthAndRle8) {
    kgdi_test::TempDir dir;
    Canvas c(37, 21);  // odd width: padded rows and odd absolute runs
    Paint(c);
    const std::string png = dir.file("src.png");
    ASSERT_TRUE(KgdiSaveImage(c.dc(), png.c_str(), KGDI_FILE_PNG));
    const std::vector<std::pair<std::string, std::string>> variants = {
        {"-type Palette -compress None BMP3:", "p8.bmp"},
        {"-type Palette -compress RLE BMP3:", "rle.bmp"},
        {"-type TrueColor BMP3:", "t24.bmp"},
        {"-type TrueColorAlpha -define bmp:format=bmp3 BMP3:", "t32.bmp"},
        {"-type TrueColorAlpha BMP:", "v5.bmp"},
    };
    for (const auto& [options, name] : variants) {
        const std::string out = dir.file(name);
        const std::string opts = options.substr(0, options.rfind(' ') + 1);
        const std::string prefix = options.substr(options.rfind(' ') + 1);
        bool ok = false;
        kgdi_test::RunCommand("convert '" + png + "' " + opts + prefix + "'" + out + "' 2>&1", &ok);
        ASSERT_TRUE(ok) << name;
        bool id_ok = false;
        const std::string id = kgdi_test::RunCommand(
            "identify -verbose '" + out + "' | grep -i -E 'compression|depth|type:'", &id_ok);
        KgdiImage img{};
        ASSERT_TRUE(KgdiLoadBmp(out.c_str(), &img)) << name << "\n" << id;
        ExpectSame(c, img);
        KgdiFreeImage(&img);
    }
}

TEST(BmpReader, DecodesRle8EscapesFromTheFormatTables) {
    // 6 x 3, bottom-up: an encoded run, an absolute run with its pad byte, an end of line,
    // a delta escape over a whole row, and the end of bitmap before the last row is complete.
    const std::vector<uint8_t> data = {
        3, 1,              // row 0: 1 1 1
        0, 3, 2, 3, 2, 0,  // absolute 2 3 2 + pad
        0, 0,              // end of line
        0, 2, 2, 1,        // delta: right 2, up 1 -> row 2, x 2
        2, 5,              // 5 5 at x 2..3
        0, 1,              // end of bitmap
    };
    const auto file = Bmp8(6, 3, BI_RLE8, 6, data);
    KgdiImage img{};
    ASSERT_TRUE(KgdiDecodeBmp(file.data(), file.size(), &img));
    ASSERT_EQ(img.width, 6);
    ASSERT_EQ(img.height, 3);
    auto at = [&](int x, int row_from_bottom) {
        return img.pixels[static_cast<size_t>(2 - row_from_bottom) * 6 + x];
    };
    const int row0[6] = {1, 1, 1, 2, 3, 2};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(at(x, 0), Colour(row0[x])) << x;
    for (int x = 0; x < 6; ++x) EXPECT_EQ(at(x, 1), Colour(0)) << "skipped row keeps index 0";
    const int row2[6] = {0, 0, 5, 5, 0, 0};
    for (int x = 0; x < 6; ++x) EXPECT_EQ(at(x, 2), Colour(row2[x])) << x;
    KgdiFreeImage(&img);
}

TEST(BmpReader, TopDownAndBottomUpRowsLandTheRightWayUp) {
    for (int sign : {1, -1}) {
        std::vector<uint8_t> data = {1, 2, 0, 0, 3, 4, 0, 0};  // two rows of 2, padded to 4
        auto file = Bmp8(2, 2, BI_RGB, 5, data);
        const int32_t h = 2 * sign;
        std::memcpy(file.data() + 22, &h, 4);
        KgdiImage img{};
        ASSERT_TRUE(KgdiDecodeBmp(file.data(), file.size(), &img));
        const int top_first = sign < 0 ? 1 : 3;  // first stored row is the top when top-down
        EXPECT_EQ(img.pixels[0], Colour(top_first));
        KgdiFreeImage(&img);
    }
}

TEST(BmpReader, MalformedFilesAreRefused) {
    const std::vector<uint8_t> good_data = {2, 1, 0, 0, 2, 2, 0, 1};
    const auto good = Bmp8(2, 2, BI_RLE8, 4, good_data);
    KgdiImage img{};
    ASSERT_TRUE(KgdiDecodeBmp(good.data(), good.size(), &img));
    KgdiFreeImage(&img);
    auto patched = [&](size_t off, uint32_t v, size_t bytes = 4) {
        auto f = good;
        std::memcpy(f.data() + off, &v, bytes);
        return f;
    };
    const std::vector<std::vector<uint8_t>> bad = {
        patched(0, 0x4D43, 2),                                   // signature
        patched(10, 0xFFFFFFF0),                                 // data offset past the end
        patched(10, 20),                                         // data offset inside the headers
        patched(14, 12),                                         // info header too small
        patched(14, 0x10000),                                    // info header too large
        patched(18, 0),                                          // width 0
        patched(18, 0x80000000),                                 // negative width
        patched(22, 0),                                          // height 0
        patched(18, 70000),                                      // too wide
        patched(22, 0xFFFFFFFE),                                 // top-down RLE8
        patched(26, 2, 2),                                       // planes
        patched(28, 4, 2),                                       // unsupported depth
        patched(30, 7),                                          // unknown compression
        patched(46, 300),                                        // too many colours
        Bmp8(2, 2, BI_RLE8, 4, {5, 1, 0, 1}),                    // run past the row's padding
        Bmp8(2, 2, BI_RLE8, 4, {0, 5, 1, 2, 3, 1, 2, 0, 0, 1}),  // absolute run past it
        Bmp8(2, 2, BI_RLE8, 4, {3, 1, 2, 1, 0, 1}),              // two runs past it
        Bmp8(2, 2, BI_RLE8, 4, {0, 2, 1, 3, 0, 1}),              // delta past the bitmap
        Bmp8(2, 2, BI_RLE8, 4, {0, 2, 5, 0, 0, 1}),              // delta past the row's padding
        Bmp8(2, 2, BI_RLE8, 4, {2, 1, 0, 0, 2, 2}),              // no end of bitmap
        Bmp8(2, 2, BI_RLE8, 4, {0, 0, 0, 0, 0, 0, 2, 1, 0, 1}),  // rows beyond the height
        Bmp8(4, 4, BI_RGB, 4, {1, 2, 3, 0}),                     // uncompressed data too short
    };
    for (size_t i = 0; i < bad.size(); ++i) {
        EXPECT_FALSE(KgdiDecodeBmp(bad[i].data(), bad[i].size(), &img)) << "case " << i;
        EXPECT_EQ(img.pixels, nullptr);
        EXPECT_EQ(img.width, 0);
    }
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(KgdiDecodeBmp(good.data(), n, &img)) << "length " << n;
    EXPECT_FALSE(KgdiDecodeBmp(nullptr, 100, &img));
    EXPECT_FALSE(KgdiDecodeBmp(good.data(), good.size(), nullptr));
    EXPECT_FALSE(KgdiLoadBmp("/nonexistent/file.bmp", &img));
}
