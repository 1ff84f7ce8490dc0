// picture_box.cpp: the picture box P and its persistent image.
#include "picture_box.h"

#include <vector>

#include "run_time_error.h"

namespace tessera {

namespace {

constexpr wchar_t kClassName[] = L"tesseraPicture";

HBITMAP makeImage(int width, int height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
}

void fill(HDC hdc, int width, int height) {
    HBRUSH brush = CreateSolidBrush(PictureBox::kBackground);
    RECT all = {0, 0, width, height};
    FillRect(hdc, &all, brush);
    DeleteObject(brush);
}

}  // namespace

void PictureBox::registerClass(HINSTANCE instance) {
    WNDCLASSW wc = {};
    wc.lpfnWndProc = windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kClassName;
    RegisterClassW(&wc);
}

PictureBox::PictureBox(HWND parent, int left, int top, int outerWidth, int outerHeight) {
    hdc_ = CreateCompatibleDC(nullptr);
    if (hdc_ == nullptr) raiseError(kErrOutOfMemory);
    resizeImage(outerWidth - 2 * kBorder, outerHeight - 2 * kBorder);
    hwnd_ = CreateWindowExW(WS_EX_CLIENTEDGE, kClassName, L"", WS_CHILD | WS_VISIBLE, left, top,
                            outerWidth, outerHeight, parent, nullptr,
                            reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
                            this);
    // Text of the view: black on a transparent background.
    SetTextColor(hdc_, RGB(0, 0, 0));
    SetBkMode(hdc_, TRANSPARENT);
}

PictureBox::~PictureBox() {
    if (hwnd_ != nullptr) DestroyWindow(hwnd_);
    if (hdc_ != nullptr) {
        if (initialBitmap_ != nullptr) SelectObject(hdc_, initialBitmap_);
        DeleteDC(hdc_);
    }
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
}

void PictureBox::resizeImage(int innerWidth, int innerHeight) {
    if (innerWidth <= 0 || innerHeight <= 0 || innerWidth > kMaxSide || innerHeight > kMaxSide) {
        raiseError(kErrInvalidProperty);
    }
    HBITMAP bitmap = makeImage(innerWidth, innerHeight);
    if (bitmap == nullptr) raiseError(kErrOutOfMemory);
    HDC old = CreateCompatibleDC(nullptr);
    HGDIOBJ before = SelectObject(old, bitmap);
    fill(old, innerWidth, innerHeight);
    if (bitmap_ != nullptr) {
        BitBlt(old, 0, 0, innerWidth_, innerHeight_, hdc_, 0, 0, SRCCOPY);
    }
    SelectObject(old, before);
    DeleteDC(old);
    HGDIOBJ previous = SelectObject(hdc_, bitmap);
    if (initialBitmap_ == nullptr) initialBitmap_ = previous;
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    bitmap_ = bitmap;
    innerWidth_ = innerWidth;
    innerHeight_ = innerHeight;
    if (hwnd_ != nullptr) {
        SetWindowPos(hwnd_, nullptr, 0, 0, innerWidth + 2 * kBorder, innerHeight + 2 * kBorder,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
}

void PictureBox::setOuterWidth(int width) {
    resizeImage(width - 2 * kBorder, innerHeight_);
}

void PictureBox::setOuterHeight(int height) {
    resizeImage(innerWidth_, height - 2 * kBorder);
}

void PictureBox::clearImage() {
    fill(hdc_, innerWidth_, innerHeight_);
}

void PictureBox::refreshImage() {
    GdiFlush();
    if (hwnd_ != nullptr) {
        InvalidateRect(hwnd_, nullptr, FALSE);
        UpdateWindow(hwnd_);
    }
}

bool PictureBox::saveBmp(const std::wstring& path) const {
    GdiFlush();
    const int stride = (innerWidth_ * 3 + 3) & ~3;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = innerWidth_;
    info.bmiHeader.biHeight = innerHeight_;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    info.bmiHeader.biSizeImage = static_cast<DWORD>(stride) * innerHeight_;
    std::vector<unsigned char> pixels(info.bmiHeader.biSizeImage);
    if (GetDIBits(hdc_, bitmap_, 0, innerHeight_, pixels.data(), &info, DIB_RGB_COLORS) !=
        innerHeight_) {
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
        BitBlt(dc, 0, 0, box->innerWidth_, box->innerHeight_, box->hdc_, 0, 0, SRCCOPY);
        EndPaint(hwnd, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace tessera
