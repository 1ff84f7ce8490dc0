// image.h: pictures as 32-bit pixels and their PNG, GIF and JPEG encodings.
#ifndef KMAPS_IMAGE_H
#define KMAPS_IMAGE_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kmaps {

// Pixels 0xAARRGGBB, rows top-down. Alpha 0 is transparent, 255 opaque; the renderer makes
// nothing in between.
struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;

    Image() = default;
    Image(int w, int h, uint32_t fill = 0xFFFFFFFFu)
        : width(w), height(h), pixels(static_cast<size_t>(w) * h, fill) {}
    uint32_t& at(int x, int y) { return pixels[static_cast<size_t>(y) * width + x]; }
    uint32_t at(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // The rectangle (x, y, w, h), which must lie inside.
    Image crop(int x, int y, int w, int h) const;
};

// A picture of at most 256 colours: each pixel's index into `colours` (0xAARRGGBB as in Image),
// rows top-down.
struct Paletted {
    int width = 0;
    int height = 0;
    std::vector<uint32_t> colours;
    std::vector<uint8_t> index;
};

// The palette of `height` rows of `width` pixels 0x..RRGGBB, `stride` words apart, by their
// low 24 bits: the colours 0x00RRGGBB in order of first appearance and each pixel's index.
// False when there are more than 256 colours.
bool palette_of_rgb(const uint32_t* rows, size_t stride, int width, int height,
                    std::vector<uint32_t>& colours, std::vector<uint8_t>& index);

// JPEG's quality (libjpeg's scale of 1 to 100). Maps are thin coloured lines and small text on
// flat areas, which chroma subsampling smears (colours off by up to 150 of 255 along the
// lines) and low qualities ring around: at 85 with every pixel's colour kept (4:4:4) a map
// differs from its PNG by 2 to 6 of 255 on average, at most 70 (docs/web.md, "WMS").
constexpr int kJpegQuality = 85;

// PNG: a palette image with the exact colours when there are at most 256 (transparent pixels
// share one palette entry with alpha 0 in tRNS), else 8-bit RGB or RGBA. Empty on failure.
std::string encode_png(const Image& image);
std::string encode_png(const Paletted& picture);
// GIF89a: the exact colours when there are at most 256 (transparency as one transparent index),
// else each pixel's nearest of the 256 colours met first. Empty on failure.
std::string encode_gif(const Image& image);
std::string encode_gif(const Paletted& picture);
// JPEG (baseline, YCbCr without chroma subsampling, kJpegQuality) of an opaque picture:
// transparent pixels take the colour `background` (0xRRGGBB), since JPEG has no transparency.
// Empty on failure.
std::string encode_jpeg(const Image& image, unsigned background);
// The pixels of a PNG file (libpng), or nothing when it is not one.
std::optional<Image> decode_png(const std::string& png);

}  // namespace kmaps

#endif
