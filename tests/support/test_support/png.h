// png.h: PNG files decoded by libpng, a decoder independent of the project's own PNG writers
// (kserve writes its files itself); link PNG::PNG.
#ifndef KESTREL_TESTS_SUPPORT_PNG_H
#define KESTREL_TESTS_SUPPORT_PNG_H

#include <png.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace test_support {

struct Rgba {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> pixels;  // R, G, B, A top-down
    // The pixel as 0xAARRGGBB.
    uint32_t at(int x, int y) const {
        const uint8_t* p = &pixels[(static_cast<size_t>(y) * width + x) * 4];
        return uint32_t{p[3]} << 24 | uint32_t{p[0]} << 16 | uint32_t{p[1]} << 8 | p[2];
    }
};

// The RGBA pixels of a PNG file (palettes and transparency expanded); nothing when libpng
// refuses it.
inline std::optional<Rgba> decode_png(const std::string& file) {
    png_image im{};
    im.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&im, file.data(), file.size())) return std::nullopt;
    im.format = PNG_FORMAT_RGBA;
    Rgba out;
    out.width = static_cast<int>(im.width);
    out.height = static_cast<int>(im.height);
    out.pixels.resize(PNG_IMAGE_SIZE(im));
    const bool ok = png_image_finish_read(&im, nullptr, out.pixels.data(), 0, nullptr) != 0;
    png_image_free(&im);
    if (!ok) return std::nullopt;
    return out;
}

}  // namespace test_support

#endif  // KESTREL_TESTS_SUPPORT_PNG_H
