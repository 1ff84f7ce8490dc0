// export_test.cpp: the bitmap export (sdllgetbmp, sdllgetimgfile) of the full engine.
//
// The views are drawn with the drawing layer directly into memory contexts, and the ViewState
// is set as a drawn view leaves it, so these tests need no data set. Every exported image is
// decoded with Pillow (and once with ImageMagick) and compared pixel by pixel with the view's
// device context; header fields are checked byte by byte against the BMP layout.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "data/store.h"
#include "kestrel.h"
#include "render/view.h"
#include "test_support/image_check.h"

namespace {

using kestrel_test::Decoded;
using kestrel_test::MemoryView;
using kestrel_test::TempDir;
namespace fs = std::filesystem;

constexpr int kHeaderBytes = 1078;
constexpr int kViewWidth = 356;  // the server's picture box
constexpr int kViewHeight = 276;

uint32_t u32(const std::vector<uint8_t>& b, std::size_t at) {
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}
uint16_t u16(const std::vector<uint8_t>& b, std::size_t at) {
    return uint16_t(b[at] | b[at + 1] << 8);
}

// Makes `view` the last drawn view, as an accepted dlldraw leaves it.
void make_last_view(const MemoryView& view) {
    kestrel::render::view_state() =
        kestrel::render::ViewState{view.dc(), 300000, 2770000, view.width(), view.height(), 10.0};
}

// Draws something like a map: a background, a filled area, roads of several widths and colours
// and a label.
void draw_map_like(const MemoryView& view) {
    view.fill(RGB(0, 255, 255));
    view.fill_rect(40, 30, 140, 110, RGB(190, 230, 160));
    view.line(0, 200, 355, 120, 4, RGB(190, 0, 0));
    view.line(60, 0, 200, 275, 3, RGB(128, 64, 64));
    view.line(10, 20, 340, 260, 1, RGB(0, 0, 0));
    view.line(300, 10, 300, 270, 2, RGB(255, 100, 100));
    SetBkMode(view.dc(), TRANSPARENT);
    TextOutA(view.dc(), 150, 60, "Harbour Road", 12);
}

// Fills the view with pixels of many colours that RLE8 cannot compress.
void draw_noise(const MemoryView& view) {
    std::mt19937 random(7);
    for (int y = 0; y < view.height(); ++y)
        for (int x = 0; x < view.width(); ++x) {
            const unsigned v = random() % 200;
            SetPixel(view.dc(), x, y, RGB(v, 255 - v, (v * 7) & 0xFF));
        }
}

class ExportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        kestrel::render::reset_view_state();
        set_temp_dir(temp_.slash());
    }
    void TearDown() override {
        kestrel::render::reset_view_state();
        set_temp_dir("");
    }
    static void set_temp_dir(const std::string& dir) {
        char* stored = kestrel::data::dataset().temp_dir;
        std::snprintf(stored, kestrel::data::TEMP_DIR_MAX + 1, "%s", dir.c_str());
    }
    // Exports the last view into a buffer of exactly the documented room plus a guard band.
    std::vector<uint8_t> export_to_buffer(int* result, int width, int height) {
        std::vector<uint8_t> buffer(kHeaderBytes + std::size_t(width) * height + kGuard, 0xAA);
        *result = sdllgetbmp(buffer.data());
        return buffer;
    }
    std::vector<std::string> files_in_temp() const {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(temp_.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    static constexpr std::size_t kGuard = 4096;
    TempDir temp_;
};

// ---- sdllgetbmp --------------------------------------------------------------------------

TEST_F(ExportTest, HeaderFieldsFollowTheBmpLayoutByteByByte) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_GT(n, 0);
    EXPECT_LE(n, kViewWidth * kViewHeight);  // 98,256
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(b[1], 'M');
    EXPECT_EQ(u32(b, 2), uint32_t(n) + kHeaderBytes);
    EXPECT_EQ(u32(b, 6), 0u);
    EXPECT_EQ(b[10], 0x36);
    EXPECT_EQ(b[11], 0x04);
    EXPECT_EQ(b[12], 0);
    EXPECT_EQ(b[13], 0);
    EXPECT_EQ(u32(b, 14), 40u);
    EXPECT_EQ(u32(b, 18), uint32_t(kViewWidth));
    EXPECT_EQ(u32(b, 22), uint32_t(kViewHeight));
    EXPECT_EQ(u16(b, 26), 1);
    EXPECT_EQ(u16(b, 28), 8);
    EXPECT_EQ(u32(b, 30), 1u);  // BI_RLE8
    EXPECT_EQ(u32(b, 34), uint32_t(n));
    for (int i = 0; i < 256; ++i) EXPECT_EQ(b[54 + 4 * i + 3], 0) << "colour entry " << i;
    // The pixel data ends with the end-of-bitmap escape, exactly at N.
    EXPECT_EQ(b[kHeaderBytes + n - 2], 0);
    EXPECT_EQ(b[kHeaderBytes + n - 1], 1);
    // Nothing is written past the image.
    EXPECT_TRUE(std::all_of(b.end() - kGuard, b.end(), [](uint8_t v) { return v == 0xAA; }));
}

TEST_F(ExportTest, EveryPixelDecodedByPillowMatchesTheView) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_GT(n, 0);
    const std::string path = temp_.slash() + "view.bmp";
    ASSERT_TRUE(kestrel_test::write_file(path, b.data(), kHeaderBytes + std::size_t(n)));
    const Decoded image = kestrel_test::decode_with_pillow(path);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.width, kViewWidth);
    EXPECT_EQ(image.height, kViewHeight);
    EXPECT_EQ(image.mode, "P");
    EXPECT_EQ(image.compression, 1);
    EXPECT_EQ(kestrel_test::count_pixel_mismatches(view.dc(), image), 0);
}

TEST_F(ExportTest, EveryPixelDecodedByImageMagickMatchesTheView) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_GT(n, 0);
    const std::string path = temp_.slash() + "view.bmp";
    ASSERT_TRUE(kestrel_test::write_file(path, b.data(), kHeaderBytes + std::size_t(n)));
    const Decoded image = kestrel_test::decode_with_imagemagick(path, kViewWidth, kViewHeight);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(kestrel_test::count_pixel_mismatches(view.dc(), image), 0);
}

TEST_F(ExportTest, SingleColourViewReportsTheCompressedSizeNotWidthTimesHeight) {
    MemoryView view(kViewWidth, kViewHeight);
    view.fill(RGB(200, 255, 200));
    make_last_view(view);
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_GT(n, 0);
    EXPECT_LT(n, kViewWidth * kViewHeight / 20);
    EXPECT_EQ(u32(b, 2), uint32_t(n) + kHeaderBytes);
    EXPECT_EQ(u32(b, 34), uint32_t(n));
    EXPECT_EQ(b[kHeaderBytes + n - 2], 0);
    EXPECT_EQ(b[kHeaderBytes + n - 1], 1);
    const std::string path = temp_.slash() + "plain.bmp";
    ASSERT_TRUE(kestrel_test::write_file(path, b.data(), kHeaderBytes + std::size_t(n)));
    const Decoded image = kestrel_test::decode_with_pillow(path);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(kestrel_test::count_pixel_mismatches(view.dc(), image), 0);
}

TEST_F(ExportTest, OddSizedViewsDecodeExactly) {
    for (const auto& [w, h] :
         {std::pair{17, 97}, std::pair{255, 3}, std::pair{256, 2}, std::pair{513, 7}}) {
        MemoryView view(w, h);
        view.fill(RGB(10, 20, 30));
        view.line(0, 0, w, h, 1, RGB(250, 250, 0));
        make_last_view(view);
        int n = 0;
        const std::vector<uint8_t> b = export_to_buffer(&n, w, h);
        ASSERT_GT(n, 0) << w << " x " << h;
        const std::string path = temp_.slash() + "odd.bmp";
        ASSERT_TRUE(kestrel_test::write_file(path, b.data(), kHeaderBytes + std::size_t(n)));
        const Decoded image = kestrel_test::decode_with_pillow(path);
        ASSERT_TRUE(image.ok) << w << " x " << h;
        EXPECT_EQ(kestrel_test::count_pixel_mismatches(view.dc(), image), 0) << w << " x " << h;
    }
}

TEST_F(ExportTest, RefusesWhenNoViewHasBeenDrawnAndWritesNothing) {
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, 0, 0);
    EXPECT_EQ(n, -1);
    EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](uint8_t v) { return v == 0xAA; }));
}

TEST_F(ExportTest, RefusesPixelsThatDoNotCompressIntoWidthTimesHeightBytes) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_noise(view);
    make_last_view(view);
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, kViewWidth, kViewHeight);
    EXPECT_EQ(n, -1);
    EXPECT_TRUE(std::all_of(b.end() - kGuard, b.end(), [](uint8_t v) { return v == 0xAA; }));
    // A view one pixel wide needs a run and an end of line per row: more than W x H bytes.
    MemoryView narrow(1, 97);
    narrow.fill(RGB(10, 20, 30));
    make_last_view(narrow);
    export_to_buffer(&n, 1, 97);
    EXPECT_EQ(n, -1);
}

TEST_F(ExportTest, RefusesANullBuffer) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    EXPECT_EQ(sdllgetbmp(nullptr), -1);
}

TEST_F(ExportTest, RefusesAViewWhoseDeviceContextWasDeleted) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    view.release_dc();
    int n = 0;
    export_to_buffer(&n, kViewWidth, kViewHeight);
    EXPECT_EQ(n, -1);
}

TEST_F(ExportTest, LeavesNoDrawingObjectBehind) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    const int before = KgdiLiveObjectCount();
    int n = 0;
    export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_GT(n, 0);
    char name[260];
    ASSERT_GT(sdllgetimgfile(name), 0);
    draw_noise(view);
    export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_EQ(n, -1);
    EXPECT_EQ(KgdiLiveObjectCount(), before);
}

TEST_F(ExportTest, ExportsTheDeviceContextThatTheViewStateNamesNow) {
    // A successful road query on another context makes that context the view's (the size
    // stays that of the last view): the export follows it.
    MemoryView first(kViewWidth, kViewHeight);
    draw_map_like(first);
    make_last_view(first);
    MemoryView other(kViewWidth + 40, kViewHeight + 40);
    other.fill(RGB(255, 255, 255));
    other.line(0, 0, kViewWidth, kViewHeight, 3, RGB(0, 0, 0));
    kestrel::render::view_state().dc = other.dc();
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_GT(n, 0);
    EXPECT_EQ(u32(b, 18), uint32_t(kViewWidth));
    const std::string path = temp_.slash() + "other.bmp";
    ASSERT_TRUE(kestrel_test::write_file(path, b.data(), kHeaderBytes + std::size_t(n)));
    const Decoded image = kestrel_test::decode_with_pillow(path);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(image.width, kViewWidth);
    EXPECT_EQ(kestrel_test::count_pixel_mismatches(other.dc(), image), 0);
}

// ---- sdllgetimgfile ----------------------------------------------------------------------

TEST_F(ExportTest, TwoFileExportsWriteTwoFilesNamedRleInTheTemporaryDirectory) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    char first[260];
    char second[260];
    const int n1 = sdllgetimgfile(first);
    const int n2 = sdllgetimgfile(second);
    ASSERT_GT(n1, 0);
    EXPECT_EQ(n1, n2);
    EXPECT_STRNE(first, second);
    for (const char* name : {first, second}) {
        const fs::path path(name);
        EXPECT_EQ(path.parent_path(), fs::path(temp_.path()));
        EXPECT_EQ(path.filename().string().rfind("rle", 0), 0u) << name;
        EXPECT_EQ(fs::file_size(path), uintmax_t(n1) + kHeaderBytes);
    }
    // The file holds the same bytes as the buffer export.
    int n = 0;
    const std::vector<uint8_t> b = export_to_buffer(&n, kViewWidth, kViewHeight);
    ASSERT_EQ(n, n1);
    const std::vector<uint8_t> file = kestrel_test::read_file(first);
    EXPECT_TRUE(std::equal(file.begin(), file.end(), b.begin()));
    const Decoded image = kestrel_test::decode_with_pillow(first);
    ASSERT_TRUE(image.ok);
    EXPECT_EQ(kestrel_test::count_pixel_mismatches(view.dc(), image), 0);
}

TEST_F(ExportTest, FileExportRefusesAMissingTemporaryDirectory) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    set_temp_dir(temp_.slash() + "absent/");
    char name[260];
    std::memset(name, 'x', sizeof name);
    EXPECT_EQ(sdllgetimgfile(name), -1);
    EXPECT_EQ(name[0], '\0');
    EXPECT_TRUE(files_in_temp().empty());
}

TEST_F(ExportTest, FileExportRefusesWhenNoTemporaryDirectoryWasGiven) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    set_temp_dir("");
    char name[260];
    EXPECT_EQ(sdllgetimgfile(name), -1);
    EXPECT_EQ(name[0], '\0');
}

TEST_F(ExportTest, FileExportRefusesANullNameAndAMissingView) {
    char name[260];
    EXPECT_EQ(sdllgetimgfile(name), -1);
    EXPECT_EQ(name[0], '\0');
    MemoryView view(kViewWidth, kViewHeight);
    draw_map_like(view);
    make_last_view(view);
    EXPECT_EQ(sdllgetimgfile(nullptr), -1);
    EXPECT_TRUE(files_in_temp().empty());
}

TEST_F(ExportTest, FileExportRefusesViewsThatCannotFitTheWorkBuffer) {
    // 1078 + 1000 x 1998 fits the 2,000,000-byte work buffer; 1000 x 1999 does not.
    char name[260];
    {
        MemoryView fits(1000, 1998);
        fits.fill(RGB(1, 2, 3));
        make_last_view(fits);
        EXPECT_GT(sdllgetimgfile(name), 0);
    }
    EXPECT_EQ(files_in_temp().size(), 1u);
    MemoryView too_big(1000, 1999);
    too_big.fill(RGB(1, 2, 3));
    make_last_view(too_big);
    EXPECT_EQ(sdllgetimgfile(name), -1);
    EXPECT_EQ(files_in_temp().size(), 1u);
    // The buffer export has no such limit: the caller provides the room.
    int n = 0;
    export_to_buffer(&n, 1000, 1999);
    EXPECT_GT(n, 0);
}

TEST_F(ExportTest, FileExportOfIncompressiblePixelsLeavesNoFile) {
    MemoryView view(kViewWidth, kViewHeight);
    draw_noise(view);
    make_last_view(view);
    char name[260];
    EXPECT_EQ(sdllgetimgfile(name), -1);
    EXPECT_TRUE(files_in_temp().empty());
}

}  // namespace
