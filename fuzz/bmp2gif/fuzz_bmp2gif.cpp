// fuzz_bmp2gif.cpp: libFuzzer target for BMP files through the GIF converter (kbmp2gif.h,
// members 1 and 3) to the GIF file written. Each input is written to a private folder and
// converted, rows in order for an even-sized input and interlaced for an odd-sized one. Then:
//   - the result and the failure flag agree;
//   - a failed conversion leaves no GIF file and no temporary file behind;
//   - a GIF written decodes with giflib's reader into one image of the BMP's size (as the
//     drawing layer's BMP reader sees it) whose indexes lie inside its colour table, and when
//     the BMP holds at most 256 colours every pixel keeps its exact colour.
#include <gif_lib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>

#include "kbmp2gif.h"
#include "kgdi.h"
#include "private_dir.h"

namespace {

[[noreturn]] void fail(const char* why) {
    std::fprintf(stderr, "%s\n", why);
    std::abort();
}

std::size_t files_in(const std::string& dir) {
    std::size_t n = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        (void)e;
        ++n;
    }
    return n;
}

void check_gif(const std::string& path, const KgdiImage& bmp) {
    int error = 0;
    GifFileType* gif = DGifOpenFileName(path.c_str(), &error);
    if (gif == nullptr) fail("the GIF does not open");
    if (DGifSlurp(gif) != GIF_OK) fail("the GIF does not decode");
    if (gif->ImageCount != 1) fail("the GIF does not hold one image");
    const SavedImage& image = gif->SavedImages[0];
    if (gif->SWidth != bmp.width || gif->SHeight != bmp.height ||
        image.ImageDesc.Width != bmp.width || image.ImageDesc.Height != bmp.height)
        fail("the GIF's size is not the BMP's");
    const ColorMapObject* map =
        image.ImageDesc.ColorMap ? image.ImageDesc.ColorMap : gif->SColorMap;
    if (map == nullptr) fail("the GIF has no colour table");
    const std::size_t pixels = std::size_t(bmp.width) * std::size_t(bmp.height);
    std::set<uint32_t> colours(bmp.pixels, bmp.pixels + pixels);
    for (std::size_t i = 0; i < pixels; ++i) {
        const int index = image.RasterBits[i];
        if (index >= map->ColorCount) fail("a GIF pixel lies outside its colour table");
        if (colours.size() > 256) continue;
        const GifColorType& c = map->Colors[index];
        const uint32_t rgb = uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
        if (rgb != (bmp.pixels[i] & 0xFFFFFFu)) fail("a GIF pixel changed its colour");
    }
    DGifCloseFile(gif, &error);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz_support::PrivateDir& dir = fuzz_support::PrivateDir::get();
    static const std::string bmp_path = dir.file("in.bmp"), gif_path = dir.file("out.gif");
    static KBmp2Gif* converter = kbmp2gif_create();

    KgdiImage bmp{};
    const bool readable = KgdiDecodeBmp(data, size, &bmp);
    // Large pictures only repeat the same code on more pixels.
    if (readable && int64_t{bmp.width} * bmp.height > (1 << 20)) {
        KgdiFreeImage(&bmp);
        return 0;
    }
    dir.put("in.bmp", data, size);
    std::remove(gif_path.c_str());
    const int flag = size % 2 == 0 ? KBMP2GIF_PLAIN : KBMP2GIF_INTERLACED;
    const int failed = kbmp2gif_convert(converter, bmp_path.c_str(), gif_path.c_str(), flag);
    if (failed != kbmp2gif_failed(converter)) fail("the result is not the failure flag");
    if (failed) {
        if (files_in(dir.path()) != 1) fail("a failed conversion left a file behind");
    } else {
        if (!readable) fail("a BMP that the drawing layer refuses was converted");
        check_gif(gif_path, bmp);
    }
    if (readable) KgdiFreeImage(&bmp);
    return 0;
}
