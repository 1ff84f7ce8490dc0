/*
 * corpus_test.cpp: every file of the fuzz seed corpus (tests/gdi/corpus) goes through the
 * metafile reader and player and the BMP reader, as the fuzz target does. Seeds are valid and
 * broken files; none may crash, leak a handle or be misread.
 */
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "gdi_test_util.h"

TEST(FuzzCorpus, EverySeedGoesThroughTheReadersSafely) {
    namespace fs = std::filesystem;
    const int before = KgdiLiveObjectCount();
    kgdi_test::Canvas canvas(64, 48);
    const int with_canvas = KgdiLiveObjectCount();
    int files = 0, emf_ok = 0, bmp_ok = 0;
    for (const auto& entry : fs::directory_iterator(KGDI_TEST_CORPUS)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        const std::vector<uint8_t> bytes(std::istreambuf_iterator<char>(in), {});
        ++files;
        if (HENHMETAFILE emf = KgdiLoadEnhMetaFile(bytes.data(), bytes.size())) {
            ++emf_ok;
            RECT r{-5, 3, 70, 40};
            EXPECT_TRUE(PlayEnhMetaFile(canvas.dc(), emf, &r)) << entry.path();
            EXPECT_TRUE(DeleteEnhMetaFile(emf));
        }
        KgdiImage img{};
        if (KgdiDecodeBmp(bytes.data(), bytes.size(), &img)) {
            ++bmp_ok;
            EXPECT_GT(img.width, 0);
            KgdiFreeImage(&img);
        }
        const bool valid = entry.path().filename().string().rfind("ok-", 0) == 0;
        if (valid) {
            EXPECT_EQ(emf_ok + bmp_ok > 0, true) << entry.path() << " should be readable";
        }
        emf_ok = bmp_ok = 0;
    }
    EXPECT_GT(files, 4);
    EXPECT_EQ(KgdiLiveObjectCount(), with_canvas);
    EXPECT_GT(with_canvas, before);
}
