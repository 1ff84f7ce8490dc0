// image.cpp: PNG written here (its rows compressed by deflate.h) and read by libpng, GIF through
// giflib, JPEG through libjpeg-turbo.
#include "kmaps/image.h"

#include <gif_lib.h>
#include <png.h>
#include <zlib.h>

// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kmaps/deflate.h"

namespace kmaps {

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

// The palette of `height` rows of `width` words, `stride` words apart, by key(word): the keys
// in order of first appearance and each word's index; false when there are more than 256.
template <class Key>
bool palette_of_rows(const uint32_t* rows, size_t stride, int width, int height, Key key,
                     std::vector<uint32_t>& colours, std::vector<uint8_t>& index) {
    // An open-addressed table of 1024 slots (at most 256 used), keyed by the colour. A pixel
    // whose colour sits in its home slot (nearly all of them once the few colours of a map
    // have been met) takes one look-up and no branch that depends on the picture; others
    // probe on from there. Empty slots hold a key that `key` never gives.
    constexpr size_t kSlots = 1024;
    constexpr uint32_t kEmpty = 1;
    uint32_t keys[kSlots];
    uint8_t values[kSlots];
    std::fill(keys, keys + kSlots, kEmpty);
    colours.clear();
    index.resize(static_cast<size_t>(width) * height);
    uint8_t* out = index.data();
    for (int y = 0; y < height; ++y) {
        const uint32_t* px = rows + static_cast<size_t>(y) * stride;
        for (int x = 0; x < width; ++x, ++out) {
            const uint32_t k = key(px[x]);
            size_t h = (k * 2654435761u) >> 22;
            if (keys[h] == k) {
                *out = values[h];
                continue;
            }
            while (keys[h] != kEmpty && keys[h] != k) h = (h + 1) & (kSlots - 1);
            if (keys[h] == kEmpty) {
                if (colours.size() == 256) return false;
                keys[h] = k;
                values[h] = static_cast<uint8_t>(colours.size());
                colours.push_back(k);
            }
            *out = values[h];
        }
    }
    return true;
}

// The palette of an image: colours in order of first appearance, at most 256; false when
// there are more.
bool palette_of(const Image& im, std::vector<uint32_t>& colours, std::vector<uint8_t>& index) {
    return palette_of_rows(im.pixels.data(), static_cast<size_t>(im.width), im.width, im.height,
                           key_of, colours, index);
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

// A PNG chunk: length, type, data and the CRC of type and data.
void put_chunk(std::string& out, const char* type, const uint8_t* data, size_t n) {
    const auto put32 = [&out](uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<char>(v >> shift));
    };
    put32(static_cast<uint32_t>(n));
    const size_t start = out.size();
    out.append(type, 4);
    if (n != 0) out.append(reinterpret_cast<const char*>(data), n);
    put32(static_cast<uint32_t>(
        crc32_z(0, reinterpret_cast<const Bytef*>(out.data() + start), n + 4)));
}

// The rows of a picture, each led by its filter byte (0: none), ready for compression.
struct Rows {
    size_t stride;  // bytes of a row, filter byte included
    std::vector<uint8_t> bytes;
    Rows(int height, size_t row_bytes)
        : stride(row_bytes + 1), bytes(stride * static_cast<size_t>(height)) {}
    uint8_t* row(int y) { return &bytes[stride * static_cast<size_t>(y) + 1]; }
};

// The PNG file of rows ready for compression.
std::string png_file(int width, int height, int depth, int colour_type,
                     const std::vector<uint8_t>& plte, const std::vector<uint8_t>& trns,
                     const Rows& rows) {
    std::string out("\x89PNG\r\n\x1a\n", 8);
    uint8_t ihdr[13] = {};
    for (int k = 0; k < 4; ++k) {
        ihdr[k] = static_cast<uint8_t>(static_cast<uint32_t>(width) >> (24 - 8 * k));
        ihdr[4 + k] = static_cast<uint8_t>(static_cast<uint32_t>(height) >> (24 - 8 * k));
    }
    ihdr[8] = static_cast<uint8_t>(depth);
    ihdr[9] = static_cast<uint8_t>(colour_type);  // compression, filter, interlace: 0
    put_chunk(out, "IHDR", ihdr, sizeof ihdr);
    if (!plte.empty()) put_chunk(out, "PLTE", plte.data(), plte.size());
    if (!trns.empty()) put_chunk(out, "tRNS", trns.data(), trns.size());
    std::string idat;
    zlib_compress_rows(rows.bytes.data(), rows.bytes.size(), rows.stride, idat);
    put_chunk(out, "IDAT", reinterpret_cast<const uint8_t*>(idat.data()), idat.size());
    put_chunk(out, "IEND", nullptr, 0);
    return out;
}

}  // namespace

bool palette_of_rgb(const uint32_t* rows, size_t stride, int width, int height,
                    std::vector<uint32_t>& colours, std::vector<uint8_t>& index) {
    return palette_of_rows(
        rows, stride, width, height, [](uint32_t p) { return p & 0xFFFFFFu; }, colours, index);
}

std::string encode_png(const Paletted& im) {
    const size_t n = im.colours.size();
    if (im.width <= 0 || im.height <= 0 || n == 0 || n > 256 ||
        im.index.size() != static_cast<size_t>(im.width) * im.height)
        return {};
    const int depth = n <= 2 ? 1 : n <= 4 ? 2 : n <= 16 ? 4 : 8;
    const size_t row_bytes = (static_cast<size_t>(im.width) * depth + 7) / 8;
    std::vector<uint8_t> plte, trns;
    size_t ntrans = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint32_t c = im.colours[i];
        plte.insert(plte.end(), {static_cast<uint8_t>(c >> 16), static_cast<uint8_t>(c >> 8),
                                 static_cast<uint8_t>(c)});
        trns.push_back((c >> 24) == 0 ? 0 : 255);
        if (trns.back() == 0) ntrans = i + 1;
    }
    trns.resize(ntrans);
    Rows rows(im.height, row_bytes);
    for (int y = 0; y < im.height; ++y) {
        uint8_t* d = rows.row(y);
        const uint8_t* src = &im.index[static_cast<size_t>(y) * im.width];
        switch (depth) {
            case 8:
                std::memcpy(d, src, row_bytes);
                break;
            case 4:
                pack_row<4>(src, im.width, d);
                break;
            case 2:
                pack_row<2>(src, im.width, d);
                break;
            default:
                pack_row<1>(src, im.width, d);
                break;
        }
    }
    return png_file(im.width, im.height, depth, 3, plte, trns, rows);
}

std::string encode_png(const Image& im) {
    if (im.width <= 0 || im.height <= 0) return {};
    Paletted paletted{im.width, im.height, {}, {}};
    if (palette_of(im, paletted.colours, paletted.index)) return encode_png(paletted);
    const bool alpha =
        std::any_of(im.pixels.begin(), im.pixels.end(), [](uint32_t p) { return (p >> 24) == 0; });
    const size_t row_bytes = static_cast<size_t>(im.width) * (alpha ? 4 : 3);
    Rows rows(im.height, row_bytes);
    for (int y = 0; y < im.height; ++y) {
        uint8_t* d = rows.row(y);
        for (int x = 0; x < im.width; ++x) {
            const uint32_t p = im.at(x, y);
            *d++ = static_cast<uint8_t>(p >> 16);
            *d++ = static_cast<uint8_t>(p >> 8);
            *d++ = static_cast<uint8_t>(p);
            if (alpha) *d++ = static_cast<uint8_t>(p >> 24);
        }
    }
    return png_file(im.width, im.height, 8, alpha ? 6 : 2, {}, {}, rows);
}

namespace {
int gif_write_to_string(GifFileType* gif, const GifByteType* data, int length) {
    static_cast<std::string*>(gif->UserData)->append(reinterpret_cast<const char*>(data), length);
    return length;
}
}  // namespace

std::string encode_gif(const Image& im) {
    Paletted p{im.width, im.height, {}, {}};
    if (!palette_of(im, p.colours, p.index)) {
        // More than 256 colours: keep the first 256 and map every pixel to the nearest.
        p.colours.resize(256);
        for (size_t i = 0; i < im.pixels.size(); ++i) {
            const uint32_t k = key_of(im.pixels[i]);
            int best = 0;
            long best_d = -1;
            for (int c = 0; c < 256; ++c) {
                const uint32_t pc = p.colours[c];
                const long dr = static_cast<long>((k >> 16) & 255) - ((pc >> 16) & 255);
                const long dg = static_cast<long>((k >> 8) & 255) - ((pc >> 8) & 255);
                const long db = static_cast<long>(k & 255) - (pc & 255);
                const long d =
                    dr * dr + dg * dg + db * db + ((k >> 24) != (pc >> 24) ? 1000000 : 0);
                if (best_d < 0 || d < best_d) {
                    best_d = d;
                    best = c;
                }
            }
            p.index[i] = static_cast<uint8_t>(best);
        }
    }
    return encode_gif(p);
}

std::string encode_gif(const Paletted& im) {
    const std::vector<uint32_t>& colours = im.colours;
    const std::vector<uint8_t>& index = im.index;
    if (im.width <= 0 || im.height <= 0 || colours.empty() || colours.size() > 256 ||
        index.size() != static_cast<size_t>(im.width) * im.height)
        return {};
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
    // giflib masks the bytes of a line in place: each row is given as a copy.
    std::vector<GifByteType> line(static_cast<size_t>(im.width));
    for (int y = 0; ok && y < im.height; ++y) {
        std::memcpy(line.data(), &index[static_cast<size_t>(y) * im.width], line.size());
        ok = EGifPutLine(gif, line.data(), im.width) == GIF_OK;
    }
    if (EGifCloseFile(gif, &error) != GIF_OK) ok = false;
    GifFreeMapObject(map);
    return ok ? out : std::string{};
}

namespace {

// libjpeg's error manager: a fatal error ends the compression by a jump back to it (libjpeg
// would otherwise end the process), its messages are not printed.
struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf back;
};

[[noreturn]] void jpeg_fatal(j_common_ptr c) {
    std::longjmp(reinterpret_cast<JpegErrors*>(c->err)->back, 1);
}

void jpeg_silent(j_common_ptr) {}

// Compresses the picture into `out` (libjpeg's buffer, malloc'd, `size` bytes; the caller
// frees it whatever the result). Only plain data lives across the jump: `row` is made before
// it and freed after.
bool compress_jpeg(const Image& im, unsigned background, unsigned char*& out, unsigned long& size) {
    std::vector<JSAMPLE> row(static_cast<size_t>(im.width) * 3);
    jpeg_compress_struct c{};
    JpegErrors errors{};
    c.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = jpeg_fatal;
    errors.manager.output_message = jpeg_silent;
    if (setjmp(errors.back)) {
        jpeg_destroy_compress(&c);
        return false;
    }
    jpeg_create_compress(&c);
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = static_cast<JDIMENSION>(im.width);
    c.image_height = static_cast<JDIMENSION>(im.height);
    c.input_components = 3;
    c.in_color_space = JCS_RGB;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, kJpegQuality, TRUE);
    // Every pixel keeps its colour (4:4:4): a map's thin coloured lines survive.
    for (int k = 0; k < c.num_components; ++k)
        c.comp_info[k].h_samp_factor = c.comp_info[k].v_samp_factor = 1;
    c.optimize_coding = TRUE;
    jpeg_start_compress(&c, TRUE);
    const uint32_t fill = 0xFF000000u | background;
    while (c.next_scanline < c.image_height) {
        const uint32_t* px = &im.pixels[static_cast<size_t>(c.next_scanline) * im.width];
        for (size_t x = 0; x < static_cast<size_t>(im.width); ++x) {
            const uint32_t p = (px[x] >> 24) ? px[x] : fill;
            row[3 * x] = static_cast<JSAMPLE>(p >> 16);
            row[3 * x + 1] = static_cast<JSAMPLE>(p >> 8);
            row[3 * x + 2] = static_cast<JSAMPLE>(p);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&c, rows, 1);
    }
    jpeg_finish_compress(&c);
    jpeg_destroy_compress(&c);
    return true;
}

}  // namespace

std::string encode_jpeg(const Image& im, unsigned background) {
    if (im.width <= 0 || im.height <= 0 || im.width > JPEG_MAX_DIMENSION ||
        im.height > JPEG_MAX_DIMENSION)
        return {};
    unsigned char* out = nullptr;
    unsigned long size = 0;
    const bool ok = compress_jpeg(im, background & 0xFFFFFFu, out, size);
    std::string file = ok && out ? std::string(reinterpret_cast<const char*>(out), size) : "";
    std::free(out);
    return file;
}

std::optional<Image> decode_png(const std::string& png) {
    png_image p{};
    p.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&p, png.data(), png.size())) return std::nullopt;
    p.format = PNG_FORMAT_RGBA;
    if (p.width == 0 || p.height == 0 || p.width > 65536 || p.height > 65536) {
        png_image_free(&p);
        return std::nullopt;
    }
    std::vector<uint8_t> rgba(PNG_IMAGE_SIZE(p));
    if (!png_image_finish_read(&p, nullptr, rgba.data(), 0, nullptr)) {
        png_image_free(&p);
        return std::nullopt;
    }
    Image im(static_cast<int>(p.width), static_cast<int>(p.height));
    for (size_t k = 0; k < im.pixels.size(); ++k) {
        const uint8_t* q = &rgba[4 * k];
        im.pixels[k] =
            q[3] ? (uint32_t{q[3]} << 24 | uint32_t{q[0]} << 16 | uint32_t{q[1]} << 8 | q[2]) : 0u;
    }
    return im;
}

}  // namespace kmaps
