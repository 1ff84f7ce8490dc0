// image_check.h: helpers of the tests that check the engine's pictures (export, overlay,
// examples).
//
// - TempDir: the shared temporary folder (temp_dir.h).
// - MemoryView: a memory device context with a bitmap of the drawing layer, released at the end.
// - decode_with_pillow / decode_with_imagemagick: decode a BMP file with a decoder that is
//   independent of the code under test (Debian's Pillow through /usr/bin/python3, ImageMagick's
//   convert) into top-down RGB bytes.
// - expect_pixels_match: compares a decoded image with a device context pixel by pixel.
#ifndef KESTREL_TESTS_SUPPORT_IMAGE_CHECK_H
#define KESTREL_TESTS_SUPPORT_IMAGE_CHECK_H

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "kgdi.h"
#include "test_support/temp_dir.h"

namespace kestrel_test {

using test_support::TempDir;

#ifndef KESTREL_TEST_SCRIPTS
#error "KESTREL_TEST_SCRIPTS must name the folder of decode_bmp.py"
#endif

class MemoryView {
  public:
    MemoryView(int width, int height) : width_(width), height_(height) {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, width, height);
        previous_ = SelectObject(dc_, bitmap_);
    }
    ~MemoryView() {
        if (dc_ != nullptr) {
            SelectObject(dc_, previous_);
            DeleteDC(dc_);
        }
        DeleteObject(bitmap_);
    }
    MemoryView(const MemoryView&) = delete;
    MemoryView& operator=(const MemoryView&) = delete;

    HDC dc() const { return dc_; }
    int width() const { return width_; }
    int height() const { return height_; }
    // Deletes the context early (its handle then goes stale).
    void release_dc() {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
        dc_ = nullptr;
    }

    void fill(COLORREF colour) const {
        HBRUSH brush = CreateSolidBrush(colour);
        RECT all{0, 0, width_, height_};
        FillRect(dc_, &all, brush);
        DeleteObject(brush);
    }
    void fill_rect(int left, int top, int right, int bottom, COLORREF colour) const {
        HBRUSH brush = CreateSolidBrush(colour);
        RECT r{left, top, right, bottom};
        FillRect(dc_, &r, brush);
        DeleteObject(brush);
    }
    void line(int x1, int y1, int x2, int y2, int width, COLORREF colour) const {
        HPEN pen = CreatePen(PS_SOLID, width, colour);
        HGDIOBJ old = SelectObject(dc_, pen);
        POINT pts[2] = {{x1, y1}, {x2, y2}};
        Polyline(dc_, pts, 2);
        SelectObject(dc_, old);
        DeleteObject(pen);
    }

  private:
    int width_;
    int height_;
    HDC dc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::string mode;          // Pillow's mode ("P" for a palette image)
    int compression = -1;      // Pillow's BMP compression (1: RLE8); -1 when unknown
    std::vector<uint8_t> rgb;  // width * height * 3, rows top-down
};

inline std::vector<uint8_t> read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline bool write_file(const std::string& path, const void* data, std::size_t size) {
    std::ofstream out(path, std::ios::binary);
    out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    return static_cast<bool>(out);
}

// Runs a shell command and returns its standard output; `status` receives the exit status.
inline std::string run_command(const std::string& command, int* status) {
    std::string output;
    std::FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        *status = -1;
        return output;
    }
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, n);
    *status = pclose(pipe);
    return output;
}

// Decodes a BMP file with Pillow.
inline Decoded decode_with_pillow(const std::string& bmp_path) {
    Decoded d;
    const std::string out = bmp_path + ".pillow.rgb";
    int status = 0;
    const std::string line =
        run_command("/usr/bin/python3 '" KESTREL_TEST_SCRIPTS "/decode_bmp.py' '" + bmp_path +
                        "' '" + out + "'",
                    &status);
    if (status != 0) return d;
    std::istringstream fields(line);
    fields >> d.width >> d.height >> d.mode >> d.compression;
    d.rgb = read_file(out);
    std::remove(out.c_str());
    d.ok = d.width > 0 && d.height > 0 &&
           d.rgb.size() == std::size_t(d.width) * std::size_t(d.height) * 3;
    return d;
}

// Decodes a BMP file with ImageMagick; the size must be known beforehand.
inline Decoded decode_with_imagemagick(const std::string& bmp_path, int width, int height) {
    Decoded d;
    const std::string out = bmp_path + ".magick.rgb";
    int status = 0;
    run_command("convert 'bmp:" + bmp_path + "' -depth 8 'rgb:" + out + "' 2>&1", &status);
    if (status != 0) return d;
    d.width = width;
    d.height = height;
    d.rgb = read_file(out);
    std::remove(out.c_str());
    d.ok = d.rgb.size() == std::size_t(width) * std::size_t(height) * 3;
    return d;
}

// Compares every pixel of a decoded image with the device context; reports the first
// mismatches and returns their number.
inline int count_pixel_mismatches(HDC dc, const Decoded& image) {
    int mismatches = 0;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const uint8_t* p = &image.rgb[(std::size_t(y) * image.width + x) * 3];
            const COLORREF want = GetPixel(dc, x, y);
            if (RGB(p[0], p[1], p[2]) != want) {
                if (++mismatches <= 5) {
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") decodes as " << int(p[0])
                                  << "," << int(p[1]) << "," << int(p[2]) << " but the view holds "
                                  << int(GetRValue(want)) << "," << int(GetGValue(want)) << ","
                                  << int(GetBValue(want));
                }
            }
        }
    }
    return mismatches;
}

// The RGB triple of a decoded pixel as a COLORREF.
inline COLORREF decoded_pixel(const Decoded& image, int x, int y) {
    const uint8_t* p = &image.rgb[(std::size_t(y) * image.width + x) * 3];
    return RGB(p[0], p[1], p[2]);
}

}  // namespace kestrel_test

#endif  // KESTREL_TESTS_SUPPORT_IMAGE_CHECK_H
