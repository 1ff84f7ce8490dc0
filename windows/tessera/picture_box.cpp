// picture_box.cpp: the picture box P and its persistent image.
#include "picture_box.h"

#include <vector>

#include "text.h"

namespace tessera {

namespace {

constexpr wchar_t kClassName[] = L"tesseraPicture";

// The description of a bottom-up, uncompressed width x height image of `bits` bits a pixel.
BITMAPINFO imageInfo(int width, int height, WORD bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = bits;
    info.bmiHeader.biCompression = BI_RGB;
    return info;
}

}  // namespace

HBITMAP image::makeBitmap(HDC, int width, int height) {
    // A DIB section: a memory context's compatible bitmap would have one bit a pixel.
    const BITMAPINFO info = imageInfo(width, height, 32);
    void* bits = nullptr;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

void PictureBox::registerClass(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
}

PictureBox::PictureBox(HWND parent, int left, int top, int outerWidth, int outerHeight) {
    setOuterSize(outerWidth, outerHeight);
    hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, kClassName, L"", WS_CHILD | WS_VISIBLE, left, top,
                            outerWidth, outerHeight, parent, nullptr,
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                            this);
}

PictureBox::~PictureBox() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
}

void PictureBox::resizeImage(int width, int height) {
    image_.resize(width, height);
    if (hwnd_ != nullptr) {
        SetWindowPos(hwnd_, nullptr, 0, 0, width + 2 * kBorder, height + 2 * kBorder,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void PictureBox::refreshImage() {
    GdiFlush();
    if (hwnd_ != nullptr) {
        InvalidateRect(hwnd_, nullptr, FALSE);
        UpdateWindow(hwnd_);
    }
}

bool PictureBox::saveBmp(const std::string& utf8Path) {
    GdiFlush();
    const std::wstring path = wide(utf8Path);
    const int width = innerWidth();
    const int height = innerHeight();
    const int stride = (width * 3 + 3) & ~3;
    BITMAPINFO info = imageInfo(width, height, 24);
    info.bmiHeader.biSizeImage = static_cast<DWORD>(stride) * height;
    std::vector<unsigned char> pixels(info.bmiHeader.biSizeImage);
    if (GetDIBits(image_.hdc(), image_.bitmap(), 0, height, pixels.data(), &info, DIB_RGB_COLORS) !=
        height) {
        return false;
    }
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + info.bmiHeader.biSizeImage;
    // Never write through a link: the file is created afresh in the temporary folder.
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(handle, &file, sizeof file, &written, nullptr) && written == sizeof file;
    ok = ok && WriteFile(handle, &info.bmiHeader, sizeof info.bmiHeader, &written, nullptr) &&
         written == sizeof info.bmiHeader;
    ok = ok && WriteFile(handle, pixels.data(), info.bmiHeader.biSizeImage, &written, nullptr) &&
         written == info.bmiHeader.biSizeImage;
    CloseHandle(handle);
    if (!ok) DeleteFileW(path.c_str());
    return ok;
}

LRESULT CALLBACK PictureBox::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* box = reinterpret_cast<PictureBox*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (message == WM_PAINT && box != nullptr) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        BitBlt(dc, 0, 0, box->innerWidth(), box->innerHeight(), box->image_.hdc(), 0, 0, SRCCOPY);
        EndPaint(hwnd, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace tessera
