// image.cpp: PNG through libpng, GIF through giflib.
#include "image.h"

#include <gif_lib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>

namespace kserve {

Image Image::crop(int x, int y, int w, int h) const {
    Image out(w, h);
    for (int r = 0; r < h; ++r)
        std::memcpy(&out.pixels[static_cast<size_t>(r) * w],
                    &pixels[static_cast<size_t>(y + r) * width + x], static_cast<size_t>(w) * 4);
    return out;
}

namespace {

// Transparent pixels all become one key, whatever their colour bits. Branch-free: a map
// changes between opaque and transparent pixels at random places.
inline uint32_t key_of(uint32_t p) {
    const uint32_t opaque = 0u - static_cast<uint32_t>((p >> 24) != 0);
    return (p | 0xFF000000u) & opaque;
}

// The palette of an image: colours in order of first appearance, at most 256; false when
// there are more.
bool palette_of(const Image& im, std::vector<uint32_t>& colours, std::vector<uint8_t>& index) {
    // An open-addressed table of 1024 slots (at most 256 used), keyed by the colour. A pixel
    // whose colour sits in its home slot (nearly all of them once the few colours of a map
    // have been met) takes one look-up and no branch that depends on the picture; others
    // probe on from there. Empty slots hold a key that key_of never gives.
    constexpr size_t kSlots = 1024;
    constexpr uint32_t kEmpty = 1;
    uint32_t keys[kSlots];
    uint8_t values[kSlots];
    std::fill(keys, keys + kSlots, kEmpty);
    colours.clear();
    const size_t n = im.pixels.size();
    index.resize(n);
    const uint32_t* px = im.pixels.data();
    uint8_t* out = index.data();
    for (size_t i = 0; i < n; ++i) {
        const uint32_t k = key_of(px[i]);
        size_t h = (k * 2654435761u) >> 22;
        if (keys[h] == k) {
            out[i] = values[h];
            continue;
        }
        while (keys[h] != kEmpty && keys[h] != k) h = (h + 1) & (kSlots - 1);
        if (keys[h] == kEmpty) {
            if (colours.size() == 256) return false;
            keys[h] = k;
            values[h] = static_cast<uint8_t>(colours.size());
            colours.push_back(k);
        }
        out[i] = values[h];
    }
    return true;
}

// Packs a row of palette indices into `depth` bits a pixel, leftmost pixel in the high bits.
template <int depth>
void pack_row(const uint8_t* src, int width, uint8_t* row) {
    constexpr int per = 8 / depth;
    const int whole = width / per;
    for (int b = 0; b < whole; ++b) {
        unsigned v = 0;
        for (int k = 0; k < per; ++k) v = (v << depth) | src[b * per + k];
        row[b] = static_cast<uint8_t>(v);
    }
    if (whole * per < width) {
        unsigned v = 0;
        for (int k = 0; k < per; ++k) {
            const int x = whole * per + k;
            v = (v << depth) | (x < width ? src[x] : 0u);
        }
        row[whole] = static_cast<uint8_t>(v);
    }
}

void png_write_to_string(png_structp png, png_bytep data, png_size_t length) {
    auto* out = static_cast<std::string*>(png_get_io_ptr(png));
    out->append(reinterpret_cast<const char*>(data), length);
}
void png_flush_nothing(png_structp) {}

}  // namespace

std::string encode_png(const Image& im) {
    std::string out;
    std::vector<uint32_t> colours;
    std::vector<uint8_t> index;
    const volatile bool paletted = palette_of(im, colours, index);
    volatile bool alpha = false;
    if (paletted)
        alpha = std::find(colours.begin(), colours.end(), 0u) != colours.end();
    else
        for (uint32_t p : im.pixels)
            if ((p >> 24) == 0) {
                alpha = true;
                break;
            }

    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return {};
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return {};
    }
    std::vector<uint8_t> row;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return {};
    }
    png_set_write_fn(png, &out, png_write_to_string, png_flush_nothing);
    // Maps are long runs of few colours: run-length matching compresses them nearly as well
    // as the default, several times faster.
    png_set_compression_level(png, 1);
    png_set_compression_strategy(png, Z_RLE);
    if (paletted) {
        const int depth = colours.size() <= 2    ? 1
                          : colours.size() <= 4  ? 2
                          : colours.size() <= 16 ? 4
                                                 : 8;
        png_set_IHDR(png, info, im.width, im.height, depth, PNG_COLOR_TYPE_PALETTE,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_color pal[256];
        png_byte trans[256];
        int ntrans = 0;
        for (size_t i = 0; i < colours.size(); ++i) {
            pal[i].red = static_cast<png_byte>(colours[i] >> 16);
            pal[i].green = static_cast<png_byte>(colours[i] >> 8);
            pal[i].blue = static_cast<png_byte>(colours[i]);
            trans[i] = (colours[i] >> 24) == 0 ? 0 : 255;
            if (trans[i] == 0) ntrans = static_cast<int>(i) + 1;
        }
        png_set_PLTE(png, info, pal, static_cast<int>(colours.size()));
        if (ntrans > 0) png_set_tRNS(png, info, trans, ntrans, nullptr);
        png_set_filter(png, 0, PNG_FILTER_NONE);
        png_write_info(png, info);
        row.resize(static_cast<size_t>(im.width));
        for (int y = 0; y < im.height; ++y) {
            const uint8_t* src = &index[static_cast<size_t>(y) * im.width];
            switch (depth) {
                case 8:
                    png_write_row(png, src);
                    continue;
                case 4:
                    pack_row<4>(src, im.width, row.data());
                    break;
                case 2:
                    pack_row<2>(src, im.width, row.data());
                    break;
                default:
                    pack_row<1>(src, im.width, row.data());
                    break;
            }
            png_write_row(png, row.data());
        }
    } else {
        const int channels = alpha ? 4 : 3;
        png_set_IHDR(png, info, im.width, im.height, 8,
                     alpha ? PNG_COLOR_TYPE_RGBA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_write_info(png, info);
        row.resize(static_cast<size_t>(im.width) * channels);
        for (int y = 0; y < im.height; ++y) {
            for (int x = 0; x < im.width; ++x) {
                const uint32_t p = im.at(x, y);
                uint8_t* d = &row[static_cast<size_t>(x) * channels];
                d[0] = static_cast<uint8_t>(p >> 16);
                d[1] = static_cast<uint8_t>(p >> 8);
                d[2] = static_cast<uint8_t>(p);
                if (alpha) d[3] = static_cast<uint8_t>(p >> 24);
            }
            png_write_row(png, row.data());
        }
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return out;
}

namespace {
int gif_write_to_string(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}
}  // namespace

std::string encode_gif(const Image& im) {
    std::vector<uint32_t> colours;
    std::vector<uint8_t> index;
    if (!palette_of(im, colours, index)) {
        // More than 256 colours: keep the first 256 and map every pixel to the nearest.
        colours.resize(256);
        for (size_t i = 0; i < im.pixels.size(); ++i) {
            const uint32_t k = key_of(im.pixels[i]);
            int best = 0;
            long best_d = -1;
            for (int c = 0; c < 256; ++c) {
                const long dr = static_cast<long>((k >> 16) & 255) - ((colours[c] >> 16) & 255);
                const long dg = static_cast<long>((k >> 8) & 255) - ((colours[c] >> 8) & 255);
                const long db = static_cast<long>(k & 255) - (colours[c] & 255);
                const long d =
                    dr * dr + dg * dg + db * db + ((k >> 24) != (colours[c] >> 24) ? 1000000 : 0);
                if (best_d < 0 || d < best_d) {
                    best_d = d;
                    best = c;
                }
            }
            index[i] = static_cast<uint8_t>(best);
        }
    }
    int transparent = -1;
    for (size_t i = 0; i < colours.size(); ++i)
        if ((colours[i] >> 24) == 0) transparent = static_cast<int>(i);

    int bits = 1;
    while ((1u << bits) < colours.size()) ++bits;
    ColorMapObject* map = GifMakeMapObject(1 << bits, nullptr);
    if (!map) return {};
    for (int i = 0; i < (1 << bits); ++i) {
        const uint32_t c = i < static_cast<int>(colours.size()) ? colours[i] : 0;
        map->Colors[i].Red = static_cast<GifByteType>(c >> 16);
        map->Colors[i].Green = static_cast<GifByteType>(c >> 8);
        map->Colors[i].Blue = static_cast<GifByteType>(c);
    }
    std::string out;
    int error = 0;
    GifFileType* gif = EGifOpen(&out, gif_write_to_string, &error);
    if (!gif) {
        GifFreeMapObject(map);
        return {};
    }
    EGifSetGifVersion(gif, true);
    bool ok = EGifPutScreenDesc(gif, im.width, im.height, bits, 0, map) == GIF_OK;
    if (ok && transparent >= 0) {
        GraphicsControlBlock gcb{};
        gcb.DisposalMode = DISPOSAL_UNSPECIFIED;
        gcb.TransparentColor = transparent;
        GifByteType ext[4];
        const size_t n = EGifGCBToExtension(&gcb, ext);
        ok = EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext) == GIF_OK;
    }
    ok = ok && EGifPutImageDesc(gif, 0, 0, im.width, im.height, false, nullptr) == GIF_OK;
    for (int y = 0; ok && y < im.height; ++y)
        ok = EGifPutLine(gif, &index[static_cast<size_t>(y) * im.width], im.width) == GIF_OK;
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    GifFreeMapObject(map);
    return ok ? out : std::string{};
}

}  // namespace kserve
