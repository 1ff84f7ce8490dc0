// kestrel_standin.cpp: a test fixture, NOT the map engine. It stands in for kestrel.dll so
// that the server's bindings and its drawing requests can be tested before the engine is
// built for Windows. It exports the five server entry points under their undecorated names
// with the standard calling convention and behaves like them in what the server relies on:
//   sdllisinit  -1 until sdllinit has run, then 1
//   sdllinit    stores the two folders; 1 when the data folder exists, else -1
//   sdlldraw    scale below 1: -1, nothing drawn; else draws a frame, a diagonal line, a
//               filled square and a label with real GDI into the caller's context and keeps
//               the context and size as the last view; 0
//   sdllgetbmp  writes the last view as an 8-bit RLE8 BMP (1078-byte header) into the
//               buffer and returns the number of image bytes; -1 without a view
//   sdllgetimgfile  writes the same image to "rle<n>.bmp" in the temporary folder
// For the tests it reports, in the reserved fields of the exported BMP's file header, how
// often sdllinit ran (bfReserved1) and whether its two folders were AppDir\kgrid\ and
// AppDir\tmp\ of one existing AppDir (bfReserved2 = 1).
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct View {
    HDC hdc = nullptr;
    int width = 0;
    int height = 0;
} view;

bool loaded = false;
int initCalls = 0;
bool foldersAsExpected = false;
char tmpDir[260] = "";

bool endsWith(const std::string& text, const std::string& end) {
    return text.size() >= end.size() &&
           text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Encodes one row of 8-bit indexes in the BMP format's RLE8 scheme: runs of equal bytes as
// (count, value) pairs, at most 255 each.
void encodeRow(const unsigned char* row, int width, std::vector<unsigned char>& out) {
    for (int x = 0; x < width;) {
        int run = 1;
        while (x + run < width && run < 255 && row[x + run] == row[x]) ++run;
        out.push_back(static_cast<unsigned char>(run));
        out.push_back(row[x]);
        x += run;
    }
    out.push_back(0);
    out.push_back(0);  // end of line
}

// The last view as a whole BMP file; empty without a view.
std::vector<unsigned char> exportView() {
    std::vector<unsigned char> file;
    if (view.hdc == nullptr) return file;
    HBITMAP bitmap = static_cast<HBITMAP>(GetCurrentObject(view.hdc, OBJ_BITMAP));
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = view.width;
    info.bmiHeader.biHeight = view.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(view.width) * view.height);
    GdiFlush();
    if (GetDIBits(view.hdc, bitmap, 0, view.height, pixels.data(), &info, DIB_RGB_COLORS) !=
        view.height) {
        return file;
    }
    // A palette of the colours met, in order; colours beyond 256 take entry 0.
    std::vector<DWORD> palette;
    std::vector<unsigned char> indexes(pixels.size());
    for (size_t i = 0; i < pixels.size(); ++i) {
        const DWORD colour = pixels[i] & 0xFFFFFF;
        size_t k = 0;
        while (k < palette.size() && palette[k] != colour) ++k;
        if (k == palette.size() && palette.size() < 256) palette.push_back(colour);
        indexes[i] = static_cast<unsigned char>(k < palette.size() ? k : 0);
    }
    std::vector<unsigned char> image;
    for (int y = 0; y < view.height; ++y) {
        encodeRow(&indexes[static_cast<size_t>(y) * view.width], view.width, image);
    }
    image.back() = 1;  // the last end of line becomes the end of the bitmap
    file.resize(1078);
    BITMAPFILEHEADER head = {};
    head.bfType = 0x4D42;
    head.bfOffBits = 1078;
    head.bfSize = static_cast<DWORD>(1078 + image.size());
    head.bfReserved1 = static_cast<WORD>(initCalls);
    head.bfReserved2 = foldersAsExpected ? 1 : 0;
    BITMAPINFOHEADER bih = {};
    bih.biSize = sizeof bih;
    bih.biWidth = view.width;
    bih.biHeight = view.height;
    bih.biPlanes = 1;
    bih.biBitCount = 8;
    bih.biCompression = BI_RLE8;
    bih.biSizeImage = static_cast<DWORD>(image.size());
    bih.biClrUsed = 256;
    std::memcpy(file.data(), &head, sizeof head);
    std::memcpy(file.data() + sizeof head, &bih, sizeof bih);
    for (size_t k = 0; k < palette.size(); ++k) {
        std::memcpy(file.data() + 54 + 4 * k, &palette[k], 4);  // blue, green, red, 0
    }
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

}  // namespace

extern "C" {

int WINAPI sdllisinit() {
    return loaded ? 1 : -1;
}

int WINAPI sdllinit(const char* dataDir, const char* tempDir) {
    ++initCalls;
    loaded = true;
    std::snprintf(tmpDir, sizeof tmpDir, "%s", tempDir != nullptr ? tempDir : "");
    const std::string data = dataDir != nullptr ? dataDir : "";
    const std::string temp = tmpDir;
    foldersAsExpected = endsWith(data, "\\kgrid\\") && endsWith(temp, "\\tmp\\") &&
                        data.substr(0, data.size() - 7) == temp.substr(0, temp.size() - 5);
    const DWORD attributes = GetFileAttributesA(dataDir);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) ? 1
                                                                                            : -1;
}

int WINAPI sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                    const char* layers) {
    if (scale < 1) return -1;
    view = {hdc, width, height};
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(0, 0, 255));
    HGDIOBJ oldPen = SelectObject(hdc, pen);
    POINT frame[5] = {{2, 2}, {width - 3, 2}, {width - 3, height - 3}, {2, height - 3}, {2, 2}};
    Polyline(hdc, frame, 5);
    POINT diagonal[2] = {{0, 0}, {width - 1, height - 1}};
    Polyline(hdc, diagonal, 2);
    HBRUSH brush = CreateSolidBrush(RGB(0, 160, 0));
    HGDIOBJ oldBrush = SelectObject(hdc, brush);
    POINT square[4] = {{10, 10}, {30, 10}, {30, 30}, {10, 30}};
    Polygon(hdc, square, 4);
    SelectObject(hdc, oldBrush);
    DeleteObject(brush);
    SelectObject(hdc, oldPen);
    DeleteObject(pen);
    char label[64];
    std::snprintf(label, sizeof label, "%d %d", left, top);
    TextOutA(hdc, 40, 12, label, static_cast<int>(std::strlen(label)));
    GdiFlush();
    return 0;
}

int WINAPI sdllgetbmp(unsigned char* buffer) {
    const std::vector<unsigned char> file = exportView();
    if (file.empty()) return -1;
    std::memcpy(buffer, file.data(), file.size());
    return static_cast<int>(file.size() - 1078);
}

int WINAPI sdllgetimgfile(char* name) {
    const std::vector<unsigned char> file = exportView();
    if (file.empty()) return -1;
    char path[MAX_PATH];
    if (GetTempFileNameA(tmpDir, "rle", 0, path) == 0) return -1;
    FILE* out = std::fopen(path, "wb");
    if (out == nullptr) return -1;
    std::fwrite(file.data(), 1, file.size(), out);
    std::fclose(out);
    std::snprintf(name, 260, "%s", path);
    return static_cast<int>(file.size() - 1078);
}

}  // extern "C"
