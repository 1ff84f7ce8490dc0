// export_srv_test.cpp: the server-only build (kestrelsrv) as its client sees it through the
// exports: a data set without dist.emf loads, the background is red 200, green 255, blue 200,
// and after a draw the context writes blue text on a transparent background.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "build_config.h"
#include "data/store.h"
#include "kestrel.h"
#include "render/view.h"
#include "test_support/fixture_dataset.h"
#include "test_support/image_check.h"

namespace {

using namespace kestrel_test;

constexpr int kHeaderBytes = 1078;
constexpr COLORREF kServerBackground = RGB(200, 255, 200);

static_assert(kestrel::kServerOnly, "this test exercises the server-only build");

class ServerBuildExport : public ::testing::Test {
  protected:
    void SetUp() override {
        kestrel::data::reset_all();
        kestrel::render::reset_view_state();
        ASSERT_EQ(write_fixture_dataset(data_.slash()), "");
        ASSERT_EQ(unlink((data_.slash() + "dist.emf").c_str()), 0);
    }
    void TearDown() override {
        kestrel::data::reset_all();
        kestrel::render::reset_view_state();
    }

    Decoded export_and_decode(int width, int height) {
        std::vector<uint8_t> buffer(kHeaderBytes + std::size_t(width) * height);
        const int n = sdllgetbmp(buffer.data());
        if (n <= 0) return Decoded{};
        const std::string path = temp_.slash() + "srv.bmp";
        write_file(path, buffer.data(), kHeaderBytes + std::size_t(n));
        return decode_with_pillow(path);
    }

    TempDir data_;
    TempDir temp_;
};

TEST_F(ServerBuildExport, ADataSetWithoutBaseMapLoads) {
    EXPECT_EQ(sdllisinit(), -1);
    EXPECT_EQ(sdllinit(data_.slash().c_str(), temp_.slash().c_str()), 1);
    EXPECT_EQ(sdllisinit(), 1);
}

TEST_F(ServerBuildExport, SmallScaleViewsShowTheLightGreenBackgroundAndNoBaseMap) {
    ASSERT_EQ(sdllinit(data_.slash().c_str(), temp_.slash().c_str()), 1);
    MemoryView view(kViewWidth, kViewHeight);
    ASSERT_EQ(sdlldraw(view.dc(), 280000, 2790000, kViewWidth, kViewHeight, 60.0, "10210000"), 0);
    const Decoded image = export_and_decode(kViewWidth, kViewHeight);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(count_pixel_mismatches(view.dc(), image), 0);
    int background = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            background += decoded_pixel(image, x, y) == kServerBackground ? 1 : 0;
    // Only the catalogue's polyline and label cover the background: no base-map fill.
    EXPECT_GT(background, kViewWidth * kViewHeight * 9 / 10);
    EXPECT_EQ(decoded_pixel(image, 0, 0), kServerBackground);
    EXPECT_EQ(decoded_pixel(image, kViewWidth - 1, kViewHeight - 1), kServerBackground);
}

TEST_F(ServerBuildExport, TextWrittenAfterADrawIsBlueOnTheMap) {
    ASSERT_EQ(sdllinit(data_.slash().c_str(), temp_.slash().c_str()), 1);
    MemoryView view(kViewWidth, kViewHeight);
    SetTextColor(view.dc(), RGB(255, 0, 0));
    SetBkMode(view.dc(), OPAQUE);
    ASSERT_EQ(
        sdlldraw(view.dc(), kViewLeft, kViewTop, kViewWidth, kViewHeight, kViewScale, "10210000"),
        0);
    // Write a caller's text on a stretch of plain background, then export.
    const int x = 200;
    const int y = 240;
    TextOutA(view.dc(), x, y, "WWWW", 4);
    const Decoded image = export_and_decode(kViewWidth, kViewHeight);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(count_pixel_mismatches(view.dc(), image), 0);
    int blue = 0;
    int white = 0;
    for (int yy = y; yy < y + 16; ++yy)
        for (int xx = x; xx < x + 40; ++xx) {
            blue += decoded_pixel(image, xx, yy) == RGB(0, 0, 255) ? 1 : 0;
            white += decoded_pixel(image, xx, yy) == RGB(255, 255, 255) ? 1 : 0;
        }
    EXPECT_GT(blue, 20);
    EXPECT_EQ(white, 0) << "the text box was filled: the background mode is not transparent";
}

}  // namespace
