// converter.cpp: the BMP-to-GIF converter behind kbmp2gif.h.
//
// The BMP file is decoded by the drawing layer's bounds-checked reader (KgdiLoadBmp), the
// pixels are mapped to a colour table (exact up to 256 colours, else quantised by giflib's
// median cut) and written as one GIF image with giflib. The GIF goes to a temporary file in
// the target folder first and is renamed over the target only when complete.
#include <fcntl.h>
#include <gif_lib.h>
#include <kgdi.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <unordered_map>
#include <vector>

#include "kbmp2gif.h"

namespace {

constexpr int kMaxGifSide = 65535;  // GIF screen and image sizes are 16-bit fields
constexpr int kMaxColours = 256;    // a GIF colour table holds at most 256 entries
constexpr int kMinTableSize = 2;    // smallest colour table giflib writes (1 bit per pixel)

// An image reduced to a colour table and one table index per pixel, rows top-down.
struct IndexedImage {
    int width = 0;
    int height = 0;
    std::vector<GifColorType> colours;
    std::vector<GifPixelType> indexes;
};

// Frees a decoded BMP image when it goes out of scope.
struct ImageGuard {
    KgdiImage image{};
    ~ImageGuard() { KgdiFreeImage(&image); }
};

// Maps every pixel to an exact colour table. Returns false (leaving `out` partly filled) as
// soon as a 257th colour appears.
bool index_exactly(const KgdiImage& image, IndexedImage* out) {
    std::unordered_map<uint32_t, GifPixelType> table;
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    out->indexes.resize(count);
    uint32_t last_colour = 0;
    GifPixelType last_index = 0;
    bool have_last = false;
    for (size_t i = 0; i < count; ++i) {
        const uint32_t colour = image.pixels[i] & 0x00FFFFFFu;
        if (have_last && colour == last_colour) {
            out->indexes[i] = last_index;
            continue;
        }
        auto found = table.find(colour);
        if (found == table.end()) {
            if (static_cast<int>(table.size()) == kMaxColours) return false;
            const auto index = static_cast<GifPixelType>(table.size());
            found = table.emplace(colour, index).first;
            out->colours.push_back(GifColorType{static_cast<GifByteType>((colour >> 16) & 0xFF),
                                                static_cast<GifByteType>((colour >> 8) & 0xFF),
                                                static_cast<GifByteType>(colour & 0xFF)});
        }
        last_colour = colour;
        last_index = found->second;
        have_last = true;
        out->indexes[i] = last_index;
    }
    return true;
}

// Reduces an image of more than 256 colours with giflib's median-cut quantiser. Returns false
// when giflib refuses.
bool index_quantised(const KgdiImage& image, IndexedImage* out) {
    const size_t count = static_cast<size_t>(image.width) * static_cast<size_t>(image.height);
    std::vector<GifByteType> red(count), green(count), blue(count);
    for (size_t i = 0; i < count; ++i) {
        red[i] = static_cast<GifByteType>((image.pixels[i] >> 16) & 0xFF);
        green[i] = static_cast<GifByteType>((image.pixels[i] >> 8) & 0xFF);
        blue[i] = static_cast<GifByteType>(image.pixels[i] & 0xFF);
    }
    int size = kMaxColours;
    out->colours.assign(kMaxColours, GifColorType{0, 0, 0});
    out->indexes.assign(count, 0);
    if (GifQuantizeBuffer(static_cast<unsigned>(image.width), static_cast<unsigned>(image.height),
                          &size, red.data(), green.data(), blue.data(), out->indexes.data(),
                          out->colours.data()) != GIF_OK) {
        return false;
    }
    out->colours.resize(static_cast<size_t>(size));
    return true;
}

// The rows of an image in the order they are written: top to bottom, or the four interlace
// passes (every 8th row from 0, every 8th from 4, every 4th from 2, every 2nd from 1).
std::vector<int> row_order(int height, bool interlaced) {
    std::vector<int> rows;
    rows.reserve(static_cast<size_t>(height));
    if (!interlaced) {
        for (int y = 0; y < height; ++y) rows.push_back(y);
        return rows;
    }
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        for (int y = kStart[pass]; y < height; y += kStep[pass]) rows.push_back(y);
    }
    return rows;
}

// Writes the indexed image as a GIF to the open descriptor `fd` (which giflib closes).
// Returns an empty string on success, else why not.
std::string write_gif(int fd, const IndexedImage& image, bool interlaced) {
    int error = 0;
    GifFileType* gif = EGifOpenFileHandle(fd, &error);
    if (gif == nullptr) {
        close(fd);
        return std::string("cannot start the GIF file: ") + GifErrorString(error);
    }
    int table_size = kMinTableSize;
    while (table_size < static_cast<int>(image.colours.size())) table_size *= 2;
    ColorMapObject* map = GifMakeMapObject(table_size, nullptr);
    std::string why;
    if (map == nullptr) {
        why = "out of memory for the colour table";
    } else {
        for (size_t i = 0; i < image.colours.size(); ++i) map->Colors[i] = image.colours[i];
        EGifSetGifVersion(gif, true);
        if (EGifPutScreenDesc(gif, image.width, image.height, map->BitsPerPixel, 0, map) !=
                GIF_OK ||
            EGifPutImageDesc(gif, 0, 0, image.width, image.height, interlaced, nullptr) != GIF_OK) {
            why = std::string("cannot write the GIF header: ") + GifErrorString(gif->Error);
        } else {
            for (int y : row_order(image.height, interlaced)) {
                auto* row = const_cast<GifPixelType*>(image.indexes.data()) +
                            static_cast<size_t>(y) * static_cast<size_t>(image.width);
                if (EGifPutLine(gif, row, image.width) != GIF_OK) {
                    why = std::string("cannot write the GIF pixels: ") + GifErrorString(gif->Error);
                    break;
                }
            }
        }
        GifFreeMapObject(map);
    }
    if (EGifCloseFile(gif, &error) != GIF_OK && why.empty()) {
        why = std::string("cannot finish the GIF file: ") + GifErrorString(error);
    }
    return why;
}

// Converts one file. Returns an empty string on success, else why not.
std::string convert_file(const char* bmp_path, const char* gif_path, int flag) {
    if (bmp_path == nullptr || gif_path == nullptr || *bmp_path == '\0' || *gif_path == '\0') {
        return "a file name is missing";
    }
    if (flag != KBMP2GIF_PLAIN && flag != KBMP2GIF_INTERLACED) return "unknown flag";
    ImageGuard decoded;
    if (!KgdiLoadBmp(bmp_path, &decoded.image)) {
        return std::string("cannot read the BMP file ") + bmp_path;
    }
    const KgdiImage& pixels = decoded.image;
    if (pixels.width <= 0 || pixels.height <= 0 || pixels.width > kMaxGifSide ||
        pixels.height > kMaxGifSide) {
        return "the image size does not fit a GIF file";
    }
    IndexedImage indexed;
    indexed.width = pixels.width;
    indexed.height = pixels.height;
    if (!index_exactly(pixels, &indexed)) {
        indexed.colours.clear();
        if (!index_quantised(pixels, &indexed)) return "cannot reduce the colours";
    }

    std::string temp = std::string(gif_path) + ".XXXXXX";
    const int fd = mkstemp(temp.data());
    if (fd < 0) return std::string("cannot create the GIF file: ") + std::strerror(errno);
    fchmod(fd, 0644);
    std::string why = write_gif(fd, indexed, flag == KBMP2GIF_INTERLACED);
    if (why.empty() && std::rename(temp.c_str(), gif_path) != 0) {
        why = std::string("cannot put the GIF file in place: ") + std::strerror(errno);
    }
    if (!why.empty()) unlink(temp.c_str());
    return why;
}

}  // namespace

struct KBmp2Gif {
    int failed = 0;
    std::string error;
};

extern "C" {

KBMP2GIF_API KBmp2Gif* kbmp2gif_create(void) {
    return new (std::nothrow) KBmp2Gif();
}

KBMP2GIF_API int kbmp2gif_convert(KBmp2Gif* converter, const char* bmp_path, const char* gif_path,
                                  int flag) {
    if (converter == nullptr) return 1;
    try {
        converter->error = convert_file(bmp_path, gif_path, flag);
    } catch (const std::bad_alloc&) {
        converter->error = "out of memory";
    } catch (...) {
        converter->error = "internal error";
    }
    converter->failed = converter->error.empty() ? 0 : 1;
    return converter->failed;
}

KBMP2GIF_API int kbmp2gif_failed(const KBmp2Gif* converter) {
    return converter == nullptr ? 1 : converter->failed;
}

KBMP2GIF_API const char* kbmp2gif_error(const KBmp2Gif* converter) {
    return converter == nullptr ? "no converter" : converter->error.c_str();
}

KBMP2GIF_API void kbmp2gif_destroy(KBmp2Gif* converter) {
    delete converter;
}

}  // extern "C"
