// bmp2gif_test.cpp: tests of the converter component libkbmp2gif.so.
//
// Fixtures are BMP files built byte by byte from the format's tables (file header, info
// header, colour table, pixel rows or RLE8 codes). The GIF files written are decoded by
// Pillow in a separate /usr/bin/python3 process (decode_gif.py), so the check does not rest
// on giflib.
#include <gtest/gtest.h>
#include <kbmp2gif.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "test_support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// One pixel colour as red, green, blue.
struct Rgb {
    uint8_t r, g, b;
    bool operator==(const Rgb&) const = default;
};

// An image of rows top-down.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<size_t>(y * width + x)]; }
};

void put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t>& out, uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// BITMAPFILEHEADER (14 bytes) and BITMAPINFOHEADER (40 bytes) for the given layout.
std::vector<uint8_t> bmpHeaders(int width, int height, int bits, int compression,
                                uint32_t paletteEntries, uint32_t imageSize) {
    std::vector<uint8_t> out;
    const uint32_t offset = 14 + 40 + paletteEntries * 4;
    out.push_back('B');
    out.push_back('M');
    put32(out, offset + imageSize);  // file size
    put32(out, 0);                   // reserved
    put32(out, offset);              // pixel data offset
    put32(out, 40);                  // info header size
    put32(out, static_cast<uint32_t>(width));
    put32(out, static_cast<uint32_t>(height));
    put16(out, 1);  // planes
    put16(out, static_cast<uint32_t>(bits));
    put32(out, static_cast<uint32_t>(compression));
    put32(out, imageSize);
    put32(out, 2835);  // 72 dpi
    put32(out, 2835);
    put32(out, paletteEntries);
    put32(out, 0);
    return out;
}

// A 24-bit or 32-bit BI_RGB file of the picture, rows bottom-up, 24-bit rows padded to 4.
std::vector<uint8_t> rgbBmp(const Picture& p, int bits) {
    const int bytesPerPixel = bits / 8;
    const int stride = (p.width * bytesPerPixel + 3) / 4 * 4;
    std::vector<uint8_t> out =
        bmpHeaders(p.width, p.height, bits, 0, 0, static_cast<uint32_t>(stride * p.height));
    for (int y = p.height - 1; y >= 0; --y) {
        size_t rowStart = out.size();
        for (int x = 0; x < p.width; ++x) {
            const Rgb c = p.at(x, y);
            out.push_back(c.b);
            out.push_back(c.g);
            out.push_back(c.r);
            if (bytesPerPixel == 4) out.push_back(0);
        }
        while (out.size() - rowStart < static_cast<size_t>(stride)) out.push_back(0);
    }
    return out;
}

void writeFile(const fs::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

// Decodes a GIF with Pillow (decode_gif.py): returns the picture, the number of its distinct
// colours and whether it is interlaced.
Picture decodeGif(const fs::path& path, int* colours = nullptr, bool* interlaced = nullptr) {
    const std::string command = "/usr/bin/python3 " DECODE_GIF_SCRIPT " '" + path.string() + "'";
    FILE* pipe = popen(command.c_str(), "r");
    Picture p;
    if (pipe == nullptr) return p;
    std::string text;
    std::array<char, 65536> chunk{};
    size_t n;
    while ((n = fread(chunk.data(), 1, chunk.size(), pipe)) > 0) text.append(chunk.data(), n);
    if (pclose(pipe) != 0) return p;
    std::istringstream in(text);
    int used = 0, inter = 0;
    std::string hex;
    in >> p.width >> p.height >> used >> inter >> hex;
    if (colours != nullptr) *colours = used;
    if (interlaced != nullptr) *interlaced = inter != 0;
    for (size_t i = 0; i + 6 <= hex.size(); i += 6) {
        p.pixels.push_back(Rgb{static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)),
                               static_cast<uint8_t>(std::stoi(hex.substr(i + 2, 2), nullptr, 16)),
                               static_cast<uint8_t>(std::stoi(hex.substr(i + 4, 2), nullptr, 16))});
    }
    return p;
}

// A picture of a few colours with a pattern that shows row order and padding mistakes.
Picture fewColours(int width, int height) {
    static const Rgb kColours[] = {
        {255, 255, 192}, {0, 0, 0}, {255, 0, 0}, {0, 128, 255}, {128, 64, 64}};
    Picture p{width, height, {}};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) p.pixels.push_back(kColours[(x + 2 * y) % 5]);
    }
    return p;
}

class ConverterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        converter_ = kbmp2gif_create();
        ASSERT_NE(converter_, nullptr);
    }
    void TearDown() override { kbmp2gif_destroy(converter_); }
    // Writes `bytes` as in.bmp, converts it to out.gif; returns member 3.
    int convert(const std::vector<uint8_t>& bytes, int flag = KBMP2GIF_PLAIN) {
        writeFile(dir_ / "in.bmp", bytes);
        kbmp2gif_convert(converter_, (dir_ / "in.bmp").c_str(), (dir_ / "out.gif").c_str(), flag);
        return kbmp2gif_failed(converter_);
    }
    // Files in the folder other than in.bmp.
    std::set<std::string> leftovers() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir_)) {
            if (entry.path().filename() != "in.bmp") names.insert(entry.path().filename());
        }
        return names;
    }

    test_support::TempDir folder_{"bmp2gif-test"};
    fs::path dir_ = folder_.path();
    KBmp2Gif* converter_ = nullptr;
};

// ---- formats --------------------------------------------------------------------------------

TEST_F(ConverterTest, A24BitFileWithPaddedRowsKeepsEveryPixelExactly) {
    const Picture p = fewColours(5, 3);  // 15 bytes a row, padded to 16
    ASSERT_EQ(convert(rgbBmp(p, 24)), 0) << kbmp2gif_error(converter_);
    EXPECT_STREQ(kbmp2gif_error(converter_), "");
    const Picture gif = decodeGif(dir_ / "out.gif");
    ASSERT_EQ(gif.width, 5);
    ASSERT_EQ(gif.height, 3);
    EXPECT_EQ(gif.pixels, p.pixels);
}

TEST_F(ConverterTest, A32BitFileKeepsEveryPixelExactly) {
    const Picture p = fewColours(7, 6);
    ASSERT_EQ(convert(rgbBmp(p, 32)), 0) << kbmp2gif_error(converter_);
    const Picture gif = decodeGif(dir_ / "out.gif");
    ASSERT_EQ(gif.width, 7);
    EXPECT_EQ(gif.pixels, p.pixels);
}

TEST_F(ConverterTest, AnRle8FileWithRunsAbsoluteRunsAndEndOfLineDecodes) {
    // 6 x 2 image, colour table: 0 light yellow, 1 red, 2 blue. Bottom row first:
    //   bottom row: run of 3 x index 1, absolute run of 3 pixels 2 0 2 (padded to a word),
    //               end of line;
    //   top row:    run of 6 x index 2, end of bitmap.
    const std::vector<uint8_t> codes = {3, 1, 0, 3, 2, 0, 2, 0, 0, 0, 6, 2, 0, 1};
    std::vector<uint8_t> file = bmpHeaders(6, 2, 8, 1, 256, static_cast<uint32_t>(codes.size()));
    for (int i = 0; i < 256; ++i) {
        const uint8_t entry[4][4] = {{192, 255, 255, 0}, {0, 0, 255, 0}, {255, 0, 0, 0}};
        const uint8_t* e = i < 3 ? entry[i] : entry[3];
        file.insert(file.end(), e, e + 4);
    }
    file.insert(file.end(), codes.begin(), codes.end());
    ASSERT_EQ(convert(file), 0) << kbmp2gif_error(converter_);
    const Picture gif = decodeGif(dir_ / "out.gif");
    ASSERT_EQ(gif.width, 6);
    ASSERT_EQ(gif.height, 2);
    const Rgb yellow{255, 255, 192}, red{255, 0, 0}, blue{0, 0, 255};
    const std::vector<Rgb> expected = {blue, blue, blue, blue, blue,   blue,
                                       red,  red,  red,  blue, yellow, blue};
    EXPECT_EQ(gif.pixels, expected);
}

TEST_F(ConverterTest, AnImageOfMoreThan256ColoursIsReducedToAtMost256CloseColours) {
    Picture p{40, 20, {}};
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            p.pixels.push_back(Rgb{static_cast<uint8_t>(x * 6), static_cast<uint8_t>(y * 12),
                                   static_cast<uint8_t>(255 - x * 3)});
        }
    }  // 800 distinct colours
    ASSERT_EQ(convert(rgbBmp(p, 24)), 0) << kbmp2gif_error(converter_);
    int colours = 0;
    const Picture gif = decodeGif(dir_ / "out.gif", &colours);
    ASSERT_EQ(gif.pixels.size(), p.pixels.size());
    EXPECT_GT(colours, 0);
    EXPECT_LE(colours, 256);
    long total = 0;
    for (size_t i = 0; i < p.pixels.size(); ++i) {
        total += std::abs(gif.pixels[i].r - p.pixels[i].r) +
                 std::abs(gif.pixels[i].g - p.pixels[i].g) +
                 std::abs(gif.pixels[i].b - p.pixels[i].b);
    }
    EXPECT_LT(static_cast<double>(total) / static_cast<double>(p.pixels.size()), 24.0);
}

TEST_F(ConverterTest, TheInterlacedFlagWritesAnInterlacedGifOfTheSamePixels) {
    const Picture p = fewColours(9, 19);
    ASSERT_EQ(convert(rgbBmp(p, 24), KBMP2GIF_INTERLACED), 0) << kbmp2gif_error(converter_);
    bool interlaced = false;
    const Picture gif = decodeGif(dir_ / "out.gif", nullptr, &interlaced);
    EXPECT_TRUE(interlaced);
    EXPECT_EQ(gif.pixels, p.pixels);
}

TEST_F(ConverterTest, ASuccessfulConversionReplacesAnExistingGif) {
    writeFile(dir_ / "out.gif", {'o', 'l', 'd'});
    ASSERT_EQ(convert(rgbBmp(fewColours(4, 4), 24)), 0);
    EXPECT_EQ(decodeGif(dir_ / "out.gif").width, 4);
    EXPECT_EQ(leftovers(), (std::set<std::string>{"out.gif"}));
}

// ---- failures -------------------------------------------------------------------------------

TEST_F(ConverterTest, AMissingBmpFileSetsTheFailureFlagAndWritesNothing) {
    kbmp2gif_convert(converter_, (dir_ / "none.bmp").c_str(), (dir_ / "out.gif").c_str(), 0);
    EXPECT_EQ(kbmp2gif_failed(converter_), 1);
    EXPECT_STRNE(kbmp2gif_error(converter_), "");
    EXPECT_TRUE(leftovers().empty());
}

TEST_F(ConverterTest, ATruncatedBmpFileSetsTheFailureFlagAndKeepsTheOldGif) {
    writeFile(dir_ / "out.gif", {'o', 'l', 'd'});
    std::vector<uint8_t> file = rgbBmp(fewColours(8, 8), 24);
    file.resize(file.size() - 10);
    EXPECT_EQ(convert(file), 1);
    EXPECT_EQ(fs::file_size(dir_ / "out.gif"), 3u);
    EXPECT_EQ(leftovers(), (std::set<std::string>{"out.gif"}));
}

TEST_F(ConverterTest, AGifPathInAMissingFolderSetsTheFailureFlag) {
    writeFile(dir_ / "in.bmp", rgbBmp(fewColours(3, 3), 24));
    kbmp2gif_convert(converter_, (dir_ / "in.bmp").c_str(), (dir_ / "no" / "out.gif").c_str(), 0);
    EXPECT_EQ(kbmp2gif_failed(converter_), 1);
}

TEST_F(ConverterTest, TheFailureFlagIsClearedByTheNextSuccessfulConversion) {
    EXPECT_EQ(kbmp2gif_failed(converter_), 0);  // fresh
    kbmp2gif_convert(converter_, nullptr, (dir_ / "out.gif").c_str(), 0);
    EXPECT_EQ(kbmp2gif_failed(converter_), 1);
    EXPECT_EQ(convert(rgbBmp(fewColours(3, 3), 24)), 0);
    EXPECT_EQ(kbmp2gif_failed(converter_), 0);
}

TEST_F(ConverterTest, AnUnknownFlagIsRefused) {
    EXPECT_EQ(convert(rgbBmp(fewColours(3, 3), 24), 7), 1);
    EXPECT_TRUE(leftovers().empty());
}

TEST(ConverterInterface, ANullConverterReportsFailureWithoutCrashing) {
    EXPECT_EQ(kbmp2gif_convert(nullptr, "a.bmp", "a.gif", 0), 1);
    EXPECT_EQ(kbmp2gif_failed(nullptr), 1);
    EXPECT_STRNE(kbmp2gif_error(nullptr), "");
    kbmp2gif_destroy(nullptr);
}

TEST(ConverterInterface, TheLibraryExportsExactlyTheEntryPointsOfItsVersionScript) {
    std::set<std::string> listed;
    std::ifstream map(KBMP2GIF_EXPORTS_MAP);
    std::string line;
    while (std::getline(map, line)) {
        const auto start = line.find("kbmp2gif_");
        if (start != std::string::npos) listed.insert(line.substr(start, line.find(';') - start));
    }
    std::set<std::string> exported;
    FILE* pipe = popen("nm -D --defined-only " KBMP2GIF_LIBRARY, "r");
    ASSERT_NE(pipe, nullptr);
    char buffer[512];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::istringstream in(buffer);
        std::string address, kind, name;
        in >> address >> kind >> name;
        if (kind == "T" || kind == "D" || kind == "B" || kind == "W") exported.insert(name);
    }
    pclose(pipe);
    EXPECT_EQ(listed.size(), 5u);
    EXPECT_EQ(exported, listed);
}

}  // namespace
