/*
 * gdi_test_util.h: helpers shared by the drawing-layer tests: a memory context with a bitmap
 * (made and freed the way clients do), pixel-set comparison, temporary directories, and
 * running the independent image decoders (Pillow through /usr/bin/python3, ImageMagick).
 */
#ifndef KGDI_TEST_UTIL_H
#define KGDI_TEST_UTIL_H

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kgdi.h"
#include "test_support/temp_dir.h"

namespace kgdi_test {

using test_support::TempDir;

/* A memory context holding a width x height bitmap, cleared to white. */
class Canvas {
  public:
    Canvas(int width, int height) : width_(width), height_(height) {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, width, height);
        old_ = SelectObject(dc_, bitmap_);
        Clear(RGB(255, 255, 255));
    }
    ~Canvas() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }
    int width() const { return width_; }
    int height() const { return height_; }

    void Clear(COLORREF c) {
        HBRUSH b = CreateSolidBrush(c);
        RECT r{0, 0, width_, height_};
        FillRect(dc_, &r, b);
        DeleteObject(b);
    }
    /* The pixels of colour c, as (x, y) pairs. */
    std::set<std::pair<int, int>> PixelsOf(COLORREF c) const {
        std::set<std::pair<int, int>> out;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x)
                if (GetPixel(dc_, x, y) == c) out.insert({x, y});
        return out;
    }
    /* Count of pixels that differ from c. */
    int CountNot(COLORREF c) const {
        int n = 0;
        for (int y = 0; y < height_; ++y)
            for (int x = 0; x < width_; ++x) n += GetPixel(dc_, x, y) != c;
        return n;
    }

  private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

/* A fresh directory under the system temporary directory, removed at the end. */

/* Runs a command and returns its standard output; `ok` tells whether it exited with 0. */
inline std::string RunCommand(const std::string& cmd, bool* ok) {
    std::string out;
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) {
        *ok = false;
        return out;
    }
    char buf[65536];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    *ok = pclose(p) == 0;
    return out;
}

/* Decodes an image file with Pillow into 0x00RRGGBB words (rows top-down). */
inline bool DecodeWithPillow(const std::string& path, int* width, int* height,
                             std::vector<uint32_t>* pixels) {
    const std::string cmd =
        "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
        "im.load(); im = im.convert('RGB'); "
        "sys.stdout.buffer.write(b'%d %d\\n' % im.size + im.tobytes())\" '" +
        path + "'";
    bool ok = false;
    const std::string out = RunCommand(cmd, &ok);
    if (!ok) return false;
    const size_t nl = out.find('\n');
    if (nl == std::string::npos || std::sscanf(out.c_str(), "%d %d", width, height) != 2)
        return false;
    const size_t count = static_cast<size_t>(*width) * *height;
    if (out.size() - nl - 1 != count * 3) return false;
    pixels->resize(count);
    const auto* b = reinterpret_cast<const unsigned char*>(out.data() + nl + 1);
    for (size_t i = 0; i < count; ++i)
        (*pixels)[i] = (uint32_t{b[3 * i]} << 16) | (b[3 * i + 1] << 8) | b[3 * i + 2];
    return true;
}

}  // namespace kgdi_test

#endif  // KGDI_TEST_UTIL_H
