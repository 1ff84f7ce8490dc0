// export_view_test.cpp: exporting views that the full engine drew from a data set.
//
// The fixture data set is written with the data-set writer (fixture_dataset.h); views are drawn
// with dlldraw and exported with sdllgetbmp / sdllgetimgfile, and every exported pixel is
// compared, after decoding with Pillow, with the view's device context.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "data/store.h"
#include "kestrel.h"
#include "render/view.h"
#include "test_support/fixture_dataset.h"
#include "test_support/image_check.h"

namespace {

using namespace kestrel_test;

constexpr int kHeaderBytes = 1078;

uint32_t u32(const std::vector<uint8_t>& b, std::size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

class DrawnViewExport : public ::testing::Test {
  protected:
    void SetUp() override {
        kestrel::data::reset_all();
        kestrel::render::reset_view_state();
        ASSERT_EQ(write_fixture_dataset(data_.slash()), "");
        ASSERT_EQ(sdllinit(data_.slash().c_str(), temp_.slash().c_str()), 1);
    }
    void TearDown() override {
        kestrel::data::reset_all();
        kestrel::render::reset_view_state();
    }

    // Exports the last view and decodes it with Pillow; `n` receives the export's result.
    Decoded export_and_decode(int room_width, int room_height, int* n,
                              std::vector<uint8_t>* bytes = nullptr) {
        std::vector<uint8_t> buffer(kHeaderBytes + std::size_t(room_width) * room_height);
        *n = sdllgetbmp(buffer.data());
        if (*n <= 0) return Decoded{};
        const std::string path = temp_.slash() + "export.bmp";
        write_file(path, buffer.data(), kHeaderBytes + std::size_t(*n));
        if (bytes != nullptr) *bytes = buffer;
        return decode_with_pillow(path);
    }

    TempDir data_;
    TempDir temp_;
};

TEST_F(DrawnViewExport, EveryPixelOfADetailedViewSurvivesTheExport) {
    MemoryView view(kViewWidth, kViewHeight);
    ASSERT_EQ(
        dlldraw(view.dc(), kViewLeft, kViewTop, kViewWidth, kViewHeight, kViewScale, "10210000"),
        0);
    int n = 0;
    std::vector<uint8_t> bytes;
    const Decoded image = export_and_decode(kViewWidth, kViewHeight, &n, &bytes);
    ASSERT_GT(n, 0);
    EXPECT_LE(n, kViewWidth * kViewHeight);
    EXPECT_EQ(u32(bytes, 2), uint32_t(n) + kHeaderBytes);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.width, kViewWidth);
    EXPECT_EQ(image.height, kViewHeight);
    EXPECT_EQ(count_pixel_mismatches(view.dc(), image), 0);
}

TEST_F(DrawnViewExport, EveryPixelOfASmallScaleViewSurvivesTheFileExport) {
    MemoryView view(kViewWidth, kViewHeight);
    ASSERT_EQ(dlldraw(view.dc(), 280000, 2790000, kViewWidth, kViewHeight, 200.0, "10210000"), 0);
    char name[260];
    const int n = sdllgetimgfile(name);
    ASSERT_GT(n, 0);
    EXPECT_EQ(std::string(name).rfind(temp_.slash() + "rle", 0), 0u) << name;
    const Decoded image = decode_with_pillow(name);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(count_pixel_mismatches(view.dc(), image), 0);
}

TEST_F(DrawnViewExport, ARefusedDrawLeavesTheExportOnThePreviousView) {
    MemoryView first(kViewWidth, kViewHeight);
    ASSERT_EQ(
        dlldraw(first.dc(), kViewLeft, kViewTop, kViewWidth, kViewHeight, kViewScale, "10210000"),
        0);
    MemoryView second(120, 80);
    second.fill(RGB(255, 0, 255));
    EXPECT_EQ(dlldraw(second.dc(), kViewLeft, kViewTop, 120, 80, 0.5, "10210000"), -1);
    int n = 0;
    std::vector<uint8_t> bytes;
    const Decoded image = export_and_decode(kViewWidth, kViewHeight, &n, &bytes);
    ASSERT_GT(n, 0);
    EXPECT_EQ(u32(bytes, 18), uint32_t(kViewWidth));
    EXPECT_EQ(u32(bytes, 22), uint32_t(kViewHeight));
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(count_pixel_mismatches(first.dc(), image), 0);
}

TEST_F(DrawnViewExport, AfterARoadQueryDrawsElsewhereTheExportCopiesThatContext) {
    MemoryView view(kViewWidth, kViewHeight);
    ASSERT_EQ(
        dlldraw(view.dc(), kViewLeft, kViewTop, kViewWidth, kViewHeight, kViewScale, "10210000"),
        0);
    MemoryView other(kViewWidth, kViewHeight);
    other.fill(RGB(255, 255, 255));
    char text[64];
    ASSERT_EQ(dllqudrroad(302000, 2766000, kViewScale, text, other.dc(), kViewLeft, kViewTop), 0);
    int n = 0;
    const Decoded image = export_and_decode(kViewWidth, kViewHeight, &n);
    ASSERT_GT(n, 0);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(count_pixel_mismatches(other.dc(), image), 0);
}

TEST_F(DrawnViewExport, OverlaysDrawnOnTheViewAppearInTheExport) {
    MemoryView view(kViewWidth, kViewHeight);
    ASSERT_EQ(
        dlldraw(view.dc(), kViewLeft, kViewTop, kViewWidth, kViewHeight, kViewScale, "10210000"),
        0);
    ASSERT_EQ(dlldraw44(0, 1), 0);
    int n = 0;
    const Decoded image = export_and_decode(kViewWidth, kViewHeight, &n);
    ASSERT_GT(n, 0);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(count_pixel_mismatches(view.dc(), image), 0);
    // The museum's cross, at pixel (80, 46), is blue in the exported image.
    EXPECT_EQ(decoded_pixel(image, 80, 46), RGB(0, 0, 255));
}

}  // namespace
