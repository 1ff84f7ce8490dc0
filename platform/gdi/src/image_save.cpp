/*
 * image_save.cpp: KgdiSaveImage, writing a context's bitmap as a 24-bit BMP file or a PNG
 * file (libpng). An 8-bit bitmap is written through its colour table, as the same file as the
 * 32-bit picture of the same colours. Files are written to a temporary name next to the target and
 * renamed into place only when complete, so a failed save never leaves a partial file under the
 * name.
 */
#include <png.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "detail.h"

namespace kgdi::detail {
namespace {

constexpr uint16_t kBmpSignature = 0x4D42;  // "BM"
constexpr uint32_t kBmpHeadersSize = 14 + 40;

void Put16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

/* The bytes of a 24-bit row of `width` pixels padded to 4 bytes, as BMP files store it. */
size_t BmpRowBytes(int width) {
    return (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
}

/* Writes a bottom-up 24-bit BI_RGB BMP; false on any write error or a size too large. `row`
 * holds BmpRowBytes(width) bytes, `words` a row of the picture's width (for an 8-bit
 * surface's rows). */
bool WriteBmp(FILE* f, const Surface& s, uint8_t* row, uint32_t* words) {
    const uint64_t stride = BmpRowBytes(s.width);
    const uint64_t image = stride * static_cast<uint64_t>(s.height);
    if (image + kBmpHeadersSize > UINT32_MAX) return false;
    uint8_t head[kBmpHeadersSize] = {};
    Put16(head, kBmpSignature);
    Put32(head + 2, static_cast<uint32_t>(image + kBmpHeadersSize));
    Put32(head + 10, kBmpHeadersSize);
    Put32(head + 14, 40);
    Put32(head + 18, static_cast<uint32_t>(s.width));
    Put32(head + 22, static_cast<uint32_t>(s.height));
    Put16(head + 26, 1);
    Put16(head + 28, 24);
    Put32(head + 30, BI_RGB);
    Put32(head + 34, static_cast<uint32_t>(image));
    if (std::fwrite(head, 1, sizeof head, f) != sizeof head) return false;
    std::memset(row, 0, stride);
    for (int y = s.height - 1; y >= 0; --y) {
        const uint32_t* p = s.Words(y, words);
        for (ptrdiff_t x = 0; x < s.width; ++x) {
            row[3 * x] = static_cast<uint8_t>(p[x]);
            row[3 * x + 1] = static_cast<uint8_t>(p[x] >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(p[x] >> 16);
        }
        if (std::fwrite(row, 1, stride, f) != stride) return false;
    }
    return true;
}

/* Writes an 8-bit RGB PNG. Plain C inside: libpng reports errors by longjmp, which must not
 * cross C++ objects with destructors, so the row buffers are supplied by the caller. */
bool WritePng(FILE* f, const Surface& s, uint8_t* row, uint32_t* words) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    if (!png) return false;
    png_infop info = png_create_info_struct(png);
    if (!info) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(s.width), static_cast<png_uint_32>(s.height),
                 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < s.height; ++y) {
        const uint32_t* p = s.Words(y, words);
        for (ptrdiff_t x = 0; x < s.width; ++x) {
            row[3 * x] = static_cast<uint8_t>(p[x] >> 16);
            row[3 * x + 1] = static_cast<uint8_t>(p[x] >> 8);
            row[3 * x + 2] = static_cast<uint8_t>(p[x]);
        }
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return true;
}

}  // namespace
}  // namespace kgdi::detail

using namespace kgdi::detail;

extern "C" KGDI_API BOOL KgdiSaveImage(HDC hdc, const char* path, int format) noexcept try {
    if (!path || (format != KGDI_FILE_BMP && format != KGDI_FILE_PNG)) return FALSE;
    try {
        const Dc* dc = LookupDc(hdc);
        if (!dc) return FALSE;
        const Surface& s = dc->surface();
        const std::string tmp = std::string(path) + ".part" + std::to_string(getpid());
        // The row buffers come first: nothing may throw while the file is open.
        std::vector<uint32_t> words(static_cast<size_t>(s.width));
        std::vector<uint8_t> row(BmpRowBytes(s.width));
        FILE* f = std::fopen(tmp.c_str(), "wbx");
        if (!f) return FALSE;
        const bool ok_rows = format == KGDI_FILE_BMP ? WriteBmp(f, s, row.data(), words.data())
                                                     : WritePng(f, s, row.data(), words.data());
        bool ok = ok_rows;
        ok = (std::fflush(f) == 0) && ok;
        ok = (std::fclose(f) == 0) && ok;
        if (ok && std::rename(tmp.c_str(), path) == 0) return TRUE;
        std::remove(tmp.c_str());
        return FALSE;
    } catch (...) {
        return FALSE;
    }
} catch (...) {
    return FALSE;
}
