// picture_box.h: the picture box P of the console window.
//
// Its persistent image is a memory device context holding a 32-bit DIB section of the box's
// inner size: the engine draws into that context (the window may be hidden), draw saves it as
// a BMP file, and the box paints it on screen inside a 2-pixel sunken border.
#ifndef TESSERA_WIN_PICTURE_BOX_H
#define TESSERA_WIN_PICTURE_BOX_H

#include <windows.h>

#include <string>

namespace tessera {

class PictureBox {
  public:
    static constexpr int kBorder = 2;  // pixels on each side
    static constexpr COLORREF kBackground = RGB(255, 255, 192);
    static constexpr int kMaxSide = 16384;

    // Creates the box as a child of `parent` at the outer rectangle given in pixels. Raises
    // error 7 when the image cannot be made.
    PictureBox(HWND parent, int left, int top, int outerWidth, int outerHeight);
    ~PictureBox();
    PictureBox(const PictureBox&) = delete;
    PictureBox& operator=(const PictureBox&) = delete;

    HWND hwnd() const { return hwnd_; }
    HDC hdc() const { return hdc_; }
    int innerWidth() const { return innerWidth_; }
    int innerHeight() const { return innerHeight_; }

    // Set the outer size in pixels; the inner size is 4 pixels less. The image keeps its
    // top-left content and shows the background where it grows. Raise error 380 when the
    // inner size would be empty or too large, 7 when the image cannot be made.
    void setOuterWidth(int width);
    void setOuterHeight(int height);

    void clearImage();
    void refreshImage();
    // Saves the image as a 24-bit BMP file; false when it was not written.
    bool saveBmp(const std::wstring& path) const;

    static void registerClass(HINSTANCE instance);

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void resizeImage(int innerWidth, int innerHeight);

    HWND hwnd_ = nullptr;
    HDC hdc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ initialBitmap_ = nullptr;
    int innerWidth_ = 0;
    int innerHeight_ = 0;
};

}  // namespace tessera

#endif  // TESSERA_WIN_PICTURE_BOX_H
