// bmp_reference: writes the engine's own RLE8 export (sdllgetbmp) of one view, drawn as kview
// draws it, so that the test can compare kserve's image/bmp answers with it byte for byte.
// Usage: bmp_reference DATA_DIR LEFT TOP WIDTH HEIGHT SCALE OUTPUT
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kestrel.h"
#include "kgdi.h"

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fputs("usage: bmp_reference DATA_DIR LEFT TOP WIDTH HEIGHT SCALE OUTPUT\n", stderr);
        return 2;
    }
    std::string dir = argv[1];
    if (dir.back() != '/') dir += '/';
    const int left = std::atoi(argv[2]);
    const int top = std::atoi(argv[3]);
    const int width = std::atoi(argv[4]);
    const int height = std::atoi(argv[5]);
    const double scale = std::atof(argv[6]);
    if (dllsetpath(dir.c_str()) != 1 || width < 1 || height < 1) return 1;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ old = SelectObject(dc, bitmap);
    const RECT all{0, 0, width, height};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    int status = 1;
    if (dlldraw(dc, left, top, width, height, scale, "00210000") == 0) {
        std::vector<unsigned char> buffer(1078 + static_cast<size_t>(width) * height);
        const int n = sdllgetbmp(buffer.data());
        if (n >= 0) {
            if (FILE* f = std::fopen(argv[7], "wb")) {
                status = std::fwrite(buffer.data(), 1, 1078 + static_cast<size_t>(n), f) ==
                                 1078 + static_cast<size_t>(n)
                             ? 0
                             : 1;
                std::fclose(f);
            }
        }
    }
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return status;
}
