// tessera/image/persistent_image.h: the persistent image of the picture box P: a memory device
// context holding a 32-bit bitmap of the box's inner size, which the engine draws into whether
// the window is shown or not.
//
// Written once against the GDI drawing API, which both servers have: the Linux drawing layer
// (kgdi.h) offers the same names and types as Windows' GDI (windows.h). Only the making of the
// bitmap differs (makeBitmap, defined by each server).
#ifndef TESSERA_IMAGE_PERSISTENT_IMAGE_H
#define TESSERA_IMAGE_PERSISTENT_IMAGE_H

#if defined(_WIN32)
#include <windows.h>
#else
#include <kgdi.h>
#endif

namespace tessera::image {

// A bitmap of width x height pixels in 32-bit colour that `hdc` (a memory device context) can
// select; null when it cannot be made. Each server defines it for its drawing layer.
HBITMAP makeBitmap(HDC hdc, int width, int height);

class PersistentImage {
  public:
    // Makes the memory device context, which writes text in black on a transparent
    // background, and the brush of P's background. Raises error 7 when either cannot be made.
    // The image is empty until the first resize.
    PersistentImage();
    ~PersistentImage();
    PersistentImage(const PersistentImage&) = delete;
    PersistentImage& operator=(const PersistentImage&) = delete;

    HDC hdc() const { return hdc_; }
    HBITMAP bitmap() const { return bitmap_; }
    int width() const { return width_; }
    int height() const { return height_; }

    // Makes the image width x height pixels: the old image's top-left part stays, new area
    // shows the background. Raises error 7 when the new bitmap cannot be made, leaving the old.
    void resize(int width, int height);
    // Fills the image with the background colour.
    void clear();

  private:
    HDC hdc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ initialBitmap_ = nullptr;
    HBRUSH background_ = nullptr;
    int width_ = 0;
    int height_ = 0;
};

}  // namespace tessera::image

#endif  // TESSERA_IMAGE_PERSISTENT_IMAGE_H
