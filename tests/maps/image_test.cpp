// image_test.cpp: the service's own PNG writer and its GIF writer give the exact pixels back
// through independent decoders (libpng, giflib's reader): palettes of any size up to 256 with
// the smallest bit depth, transparency as one palette entry, and pictures of more colours.
#include "kmaps/image.h"

#include <gif_lib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "test_support/png.h"

namespace {

// A picture of `colours` colours in stripes and blocks; with `hole` a transparent square.
kmaps::Image picture(int colours, bool hole) {
    kmaps::Image im(61, 37);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const int k = (x / 3 + y * 7) % colours;
            im.at(x, y) = 0xFF000000u | static_cast<uint32_t>(k * 2654435761u) >> 8;
        }
    if (hole)
        for (int y = 5; y < 15; ++y)
            for (int x = 20; x < 30; ++x) im.at(x, y) = 0x00123456u;
    return im;
}

struct Kind {
    const char* name;
    int colours;
    bool hole;
    int depth;  // expected PNG bit depth
};

class Encodings : public ::testing::TestWithParam<Kind> {};

TEST_P(Encodings, PngDecodesToTheSamePixels) {
    const kmaps::Image im = picture(GetParam().colours, GetParam().hole);
    const std::string png = kmaps::encode_png(im);
    ASSERT_GT(png.size(), 33u);
    EXPECT_EQ(static_cast<int>(static_cast<unsigned char>(png[24])), GetParam().depth);
    const auto back = test_support::decode_png(png);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->width, im.width);
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const uint32_t want = im.at(x, y) >> 24 ? im.at(x, y) : 0u;
            const uint32_t got = back->at(x, y) >> 24 ? back->at(x, y) : 0u;
            ASSERT_EQ(got, want) << x << "," << y;
        }
}

int gif_read(GifFileType* gif, GifByteType* out, int n) {
    auto* in = static_cast<std::string*>(gif->UserData);
    const int k = std::min<int>(n, static_cast<int>(in->size()));
    std::copy(in->begin(), in->begin() + k, out);
    in->erase(0, static_cast<size_t>(k));
    return k;
}

class GifEncodings : public Encodings {};

TEST_P(GifEncodings, DecodeToTheSameColours) {
    const kmaps::Image im = picture(GetParam().colours, GetParam().hole);
    std::string gif = kmaps::encode_gif(im);
    int error = 0;
    GifFileType* g = DGifOpen(&gif, gif_read, &error);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(DGifSlurp(g), GIF_OK);
    GraphicsControlBlock gcb{};
    gcb.TransparentColor = NO_TRANSPARENT_COLOR;
    DGifSavedExtensionToGCB(g, 0, &gcb);
    const SavedImage& frame = g->SavedImages[0];
    for (int y = 0; y < im.height; ++y)
        for (int x = 0; x < im.width; ++x) {
            const int index = frame.RasterBits[y * im.width + x];
            if (!(im.at(x, y) >> 24)) {
                ASSERT_EQ(index, gcb.TransparentColor);
                continue;
            }
            const GifColorType c = g->SColorMap->Colors[index];
            ASSERT_EQ(uint32_t{c.Red} << 16 | uint32_t{c.Green} << 8 | c.Blue,
                      im.at(x, y) & 0xFFFFFFu);
        }
    DGifCloseFile(g, &error);
}

const Kind kPalettes[] = {
    Kind{"two_colours", 2, false, 1}, Kind{"four_with_transparency", 3, true, 2},
    Kind{"a_map_of_sixteen", 16, false, 4}, Kind{"two_hundred_with_transparency", 200, true, 8}};
const Kind kMoreColours[] = {Kind{"more_than_256", 700, false, 8},
                             Kind{"more_than_256_with_transparency", 700, true, 8}};
const auto kName = [](const auto& info) { return std::string(info.param.name); };
INSTANTIATE_TEST_SUITE_P(Palettes, Encodings, ::testing::ValuesIn(kPalettes), kName);
INSTANTIATE_TEST_SUITE_P(MoreColours, Encodings, ::testing::ValuesIn(kMoreColours), kName);
INSTANTIATE_TEST_SUITE_P(Palettes, GifEncodings, ::testing::ValuesIn(kPalettes), kName);

TEST(Pictures, ACropIsThatRectangle) {
    const kmaps::Image im = picture(16, false);
    const kmaps::Image part = im.crop(10, 4, 5, 3);
    ASSERT_EQ(part.width, 5);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_EQ(part.at(x, y), im.at(10 + x, 4 + y));
}

}  // namespace
