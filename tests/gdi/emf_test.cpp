/*
 * emf_test.cpp: enhanced metafiles written in the test with libuemf's writer are read and
 * played: the picture frame maps onto the target rectangle, pens, brushes, stock objects, the
 * 16- and 32-bit poly records, map modes and text land where the mapping puts them. Truncated,
 * corrupted and garbage files are refused, and stale or wrong handles fail.
 */
#include <gtest/gtest.h>
#include <uemf.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

#include "emf_writer.h"
#include "gdi_test_util.h"

using kgdi_test::Canvas;
using kgdi_test::EmfWriter;

namespace {

const COLORREF kWhite = RGB(255, 255, 255);
const COLORREF kBlack = RGB(0, 0, 0);
const COLORREF kRed = RGB(255, 0, 0);

void Play(Canvas& c, const std::vector<uint8_t>& bytes, RECT target) {
    HENHMETAFILE emf = KgdiLoadEnhMetaFile(bytes.data(), bytes.size());
    ASSERT_NE(emf, nullptr);
    EXPECT_TRUE(PlayEnhMetaFile(c.dc(), emf, &target));
    EXPECT_TRUE(DeleteEnhMetaFile(emf));
}

}  // namespace

class Metafiles : public ::testing::Test {
  protected:
    kgdi_test::TempDir dir_;
    std::string Path() const { return dir_.file("test.emf"); }
};

TEST_F(Metafiles, FrameIsMappedOntoTheTargetRectangle) {
    EmfWriter w(Path());
    w.Polyline({{0, 50}, {100, 50}});  // frame is 0..100 reference pixels
    const auto bytes = w.Finish();
    Canvas c(100, 100);
    Play(c, bytes, RECT{10, 10, 60, 60});  // half size, moved by 10
    std::set<std::pair<int, int>> want;
    for (int x = 10; x < 60; ++x) want.insert({x, 35});
    EXPECT_EQ(c.PixelsOf(kBlack), want);
}

TEST_F(Metafiles, PensBrushesAndSixteenBitPolygonsAreUsed) {
    EmfWriter w(Path());
    const uint32_t brush = w.Brush(kRed);
    w.Select(brush);
    w.Select(U_NULL_PEN);  // stock object: no outline
    w.Polygon16({{20, 20}, {60, 20}, {60, 60}, {20, 60}});
    const uint32_t pen = w.Pen(1, RGB(0, 0, 255));
    w.Select(pen);
    w.Select(U_NULL_BRUSH);
    w.Polygon16({{70, 70}, {90, 70}, {90, 90}, {70, 90}});
    const auto bytes = w.Finish();
    Canvas c(100, 100);
    Play(c, bytes, RECT{0, 0, 50, 50});
    std::set<std::pair<int, int>> red;
    for (int y = 10; y < 30; ++y)
        for (int x = 10; x < 30; ++x) red.insert({x, y});
    EXPECT_EQ(c.PixelsOf(kRed), red);
    const auto blue = c.PixelsOf(RGB(0, 0, 255));
    EXPECT_EQ(blue.size(), 40u);  // the 11 x 11 outline of a 10 x 10 square, no fill
    EXPECT_TRUE(blue.count({35, 35}) && blue.count({45, 45}));
    EXPECT_EQ(c.CountNot(kWhite), 400 + 40);
}

TEST_F(Metafiles, AnisotropicMappingWithYUpIsFollowed) {
    EmfWriter w(Path());
    w.Add(U_EMRSETMAPMODE_set(U_MM_ANISOTROPIC));
    w.Add(U_EMRSETWINDOWEXTEX_set(sizel_set(1000, 1000)));
    w.Add(U_EMRSETVIEWPORTEXTEX_set(sizel_set(100, -100)));
    w.Add(U_EMRSETVIEWPORTORGEX_set(U_POINTL{0, 100}));
    w.Polyline({{0, 250}, {1000, 250}});  // a quarter up from the bottom
    const auto bytes = w.Finish();
    Canvas c(100, 100);
    Play(c, bytes, RECT{0, 0, 100, 100});
    std::set<std::pair<int, int>> want;
    for (int x = 0; x < 100; ++x) want.insert({x, 75});
    EXPECT_EQ(c.PixelsOf(kBlack), want);
}

TEST_F(Metafiles, PenWidthsScaleWithTheMapping) {
    EmfWriter w(Path());
    w.Select(w.Pen(4, kBlack));
    w.Polyline({{10, 50}, {90, 50}});
    const auto bytes = w.Finish();
    Canvas c(200, 200);
    Play(c, bytes, RECT{0, 0, 200, 200});  // twice the size: an 8-pixel pen
    int rows = 0;
    for (int y = 0; y < 200; ++y) rows += GetPixel(c.dc(), 100, y) == kBlack;
    EXPECT_EQ(rows, 8);
}

TEST_F(Metafiles, TextRecordsDrawAtTheirReferencePoint) {
    EmfWriter w(Path());
    w.Add(U_EMRSETBKMODE_set(U_TRANSPARENT));
    w.Add(U_EMRSETTEXTCOLOR_set(U_RGB(255, 0, 0)));
    char text[] =
        "\xA5\x78"
        "Ab";
    uint32_t advances[4] = {12, 12, 6, 6};
    char* emrtext = emrtext_set(U_POINTL{40, 40}, 4, 1, text, U_ETO_NONE, U_RECTL{}, advances);
    w.Add(U_EMREXTTEXTOUTA_set(U_RECTL{}, U_GM_COMPATIBLE, 1, 1,
                               reinterpret_cast<PU_EMRTEXT>(emrtext)));
    free(emrtext);
    const auto bytes = w.Finish();
    // At the context's font size: the default 12 pixels, then 24.
    for (int size : {12, 24}) {
        Canvas c(100, 100);
        KgdiSetFontPixelSize(c.dc(), size);
        Play(c, bytes, RECT{0, 0, 100, 100});
        const auto red = c.PixelsOf(kRed);
        ASSERT_GT(red.size(), 20u * size / 12);
        int lowest = 0;
        for (const auto& [x, y] : red) {
            EXPECT_GE(x, 40);
            EXPECT_GE(y, 40);
            EXPECT_LT(x, 40 + 30 * size / 12);
            EXPECT_LT(y, 40 + 16 * size / 12 + 1);
            lowest = std::max(lowest, y);
        }
        EXPECT_GE(lowest, 40 + 8 * size / 12) << "glyphs of " << size << " pixels";
        EXPECT_EQ(c.CountNot(kWhite), static_cast<int>(red.size()));
    }
}

TEST_F(Metafiles, PlaybackLeavesTheContextAttributesAlone) {
    EmfWriter w(Path());
    w.Select(w.Pen(3, kRed));
    w.Add(U_EMRSETTEXTCOLOR_set(U_RGB(1, 2, 3)));
    const auto bytes = w.Finish();
    Canvas c(10, 10);
    Play(c, bytes, RECT{0, 0, 10, 10});
    EXPECT_EQ(GetTextColor(c.dc()), kBlack);
    POINT pts[2] = {{0, 5}, {9, 5}};
    Polyline(c.dc(), pts, 2);
    EXPECT_EQ(GetPixel(c.dc(), 4, 5), kBlack);
    EXPECT_EQ(GetPixel(c.dc(), 4, 4), kWhite);
}

TEST_F(Metafiles, TruncatedFilesAreRefusedAtEveryLength) {
    EmfWriter w(Path());
    w.Select(w.Brush(kRed));
    w.Polygon16({{20, 20}, {60, 20}, {60, 60}, {20, 60}});
    w.Polyline({{0, 0}, {5, 5}, {9, 1}});
    const auto bytes = w.Finish();
    const int before = KgdiLiveObjectCount();
    for (size_t n = 0; n < bytes.size(); ++n)
        EXPECT_EQ(KgdiLoadEnhMetaFile(bytes.data(), n), nullptr) << "length " << n;
    EXPECT_EQ(KgdiLiveObjectCount(), before);
    HENHMETAFILE whole = KgdiLoadEnhMetaFile(bytes.data(), bytes.size());
    EXPECT_NE(whole, nullptr);
    DeleteEnhMetaFile(whole);
}

TEST_F(Metafiles, CorruptedRecordsAreRefused) {
    EmfWriter w(Path());
    w.Polyline({{0, 0}, {5, 5}, {9, 1}});
    const auto good = w.Finish();
    // The polyline is the second record; its header is at the header record's size.
    uint32_t header_size;
    std::memcpy(&header_size, good.data() + 4, 4);
    auto corrupt = [&](size_t offset, uint32_t value) {
        auto bad = good;
        std::memcpy(bad.data() + offset, &value, 4);
        return KgdiLoadEnhMetaFile(bad.data(), bad.size());
    };
    EXPECT_EQ(corrupt(header_size + 4, 0), nullptr);           // record size 0
    EXPECT_EQ(corrupt(header_size + 4, 6), nullptr);           // not a multiple of 4
    EXPECT_EQ(corrupt(header_size + 4, 0x7FFFFFF0), nullptr);  // past the end
    EXPECT_EQ(corrupt(header_size + 24, 1000000), nullptr);    // point count beyond the record
    EXPECT_EQ(corrupt(header_size + 24, 0xFFFFFFFF), nullptr);
    EXPECT_EQ(corrupt(40, 0x12345678), nullptr);     // header signature
    EXPECT_EQ(corrupt(0, U_EMR_POLYLINE), nullptr);  // no header first
}

TEST_F(Metafiles, GarbageIsRefused) {
    std::mt19937 rng(1);
    std::vector<uint8_t> junk(4096);
    for (int k = 0; k < 200; ++k) {
        for (auto& b : junk) b = static_cast<uint8_t>(rng());
        EXPECT_EQ(KgdiLoadEnhMetaFile(junk.data(), 16 + rng() % 4000), nullptr);
    }
    EXPECT_EQ(KgdiLoadEnhMetaFile(nullptr, 100), nullptr);
    EXPECT_EQ(GetEnhMetaFileA((dir_.path() + "/missing.emf").c_str()), nullptr);
    EXPECT_EQ(GetEnhMetaFileA(nullptr), nullptr);
}

TEST_F(Metafiles, FilesAreReadFromDiskAndHandlesAreChecked) {
    EmfWriter w(Path());
    w.Polyline({{0, 50}, {100, 50}});
    w.Finish();
    HENHMETAFILE emf = GetEnhMetaFileA(Path().c_str());
    ASSERT_NE(emf, nullptr);
    Canvas c(100, 100);
    RECT r{0, 0, 100, 100};
    EXPECT_FALSE(PlayEnhMetaFile(c.dc(), emf, nullptr));
    EXPECT_FALSE(PlayEnhMetaFile(nullptr, emf, &r));
    EXPECT_FALSE(PlayEnhMetaFile(c.dc(), reinterpret_cast<HENHMETAFILE>(c.dc()), &r));
    EXPECT_TRUE(PlayEnhMetaFile(c.dc(), emf, &r));
    EXPECT_EQ(GetPixel(c.dc(), 50, 50), kBlack);
    EXPECT_TRUE(DeleteEnhMetaFile(emf));
    EXPECT_FALSE(DeleteEnhMetaFile(emf));
    EXPECT_FALSE(PlayEnhMetaFile(c.dc(), emf, &r));
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(emf)));
}

TEST_F(Metafiles, TheirBytesAreGivenBackAsRead) {
    EmfWriter w(Path());
    w.Select(w.Pen(2, kRed));
    w.Polyline({{0, 50}, {100, 50}});
    const auto bytes = w.Finish();
    HENHMETAFILE emf = GetEnhMetaFileA(Path().c_str());
    ASSERT_NE(emf, nullptr);
    const UINT size = GetEnhMetaFileBits(emf, 0, nullptr);
    ASSERT_EQ(size, bytes.size());
    std::vector<uint8_t> got(size + 1, 0xAB);
    EXPECT_EQ(GetEnhMetaFileBits(emf, size - 1, got.data()), 0u);  // too small: nothing written
    EXPECT_EQ(got[0], 0xAB);
    EXPECT_EQ(GetEnhMetaFileBits(emf, size + 1, got.data()), size);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), got.begin()));
    EXPECT_EQ(got[size], 0xAB);
    EXPECT_TRUE(DeleteEnhMetaFile(emf));
    EXPECT_EQ(GetEnhMetaFileBits(emf, 0, nullptr), 0u);
}
