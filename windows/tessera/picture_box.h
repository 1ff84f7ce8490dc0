// picture_box.h: the picture box P of the console window, in Win32 and GDI.
//
// Its persistent image (tessera::image::PersistentImage) holds a 32-bit DIB section of the
// box's inner size: the engine draws into its context (the window may be hidden), draw saves it
// as a BMP file, and the box paints it on screen inside a 2-pixel sunken border. The size rules
// are those of core::PictureBox.
#ifndef TESSERA_WIN_PICTURE_BOX_H
#define TESSERA_WIN_PICTURE_BOX_H

#include <tessera/core/picture_box.h>
#include <tessera/image/persistent_image.h>
#include <windows.h>

#include <string>

namespace tessera {

class PictureBox : public core::PictureBox {
  public:
    // Creates the box as a child of `parent` at the outer rectangle given in pixels. Raises
    // error 7 when the image cannot be made, 380 for a size the box refuses.
    PictureBox(HWND parent, int left, int top, int outerWidth, int outerHeight);
    ~PictureBox() override;
    PictureBox(const PictureBox&) = delete;
    PictureBox& operator=(const PictureBox&) = delete;

    HWND hwnd() const { return hwnd_; }

    core::DeviceContext deviceContext() const override { return image_.hdc(); }
    void clearImage() override { image_.clear(); }
    void refreshImage() override;
    bool saveBmp(const std::string& path) override;

    static void registerClass(HINSTANCE instance);

  protected:
    void resizeImage(int innerWidth, int innerHeight) override;

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    image::PersistentImage image_;
    HWND hwnd_ = nullptr;
};

}  // namespace tessera

#endif  // TESSERA_WIN_PICTURE_BOX_H
