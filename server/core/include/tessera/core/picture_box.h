// tessera/core/picture_box.h: the picture box P of the console window as the requests see it.
//
// Its inner area, in pixels, is the view the engine draws and the image the export reads; its
// persistent image lives in a memory device context, so drawing and export work while the
// window is hidden. The rules of its size are here: the outer size is the inner size and a
// 2-pixel border on each side, an inner side is 1 to kPictureMaxSide pixels, and a refused
// size leaves the box as it was. Each server's picture box makes the image and the control.
#ifndef TESSERA_CORE_PICTURE_BOX_H
#define TESSERA_CORE_PICTURE_BOX_H

#include <string>

#include "tessera/core/limits.h"
#include "tessera/core/platform.h"

namespace tessera::core {

class PictureBox {
  public:
    static constexpr int kBorder = kPictureBorder;
    static constexpr int kMaxSide = kPictureMaxSide;

    virtual ~PictureBox() = default;

    int innerWidth() const { return innerWidth_; }
    int innerHeight() const { return innerHeight_; }
    int outerWidth() const { return innerWidth_ + 2 * kBorder; }
    int outerHeight() const { return innerHeight_ + 2 * kBorder; }

    // Whether an outer size gives an inner size the box accepts (sides far outside the range
    // do not wrap when the border is taken off).
    static bool acceptsOuterSize(int width, int height);

    // Sets the outer size in pixels, both sides at once. The image keeps its top-left content
    // and shows the background where it grows. Raises error 380 when either inner side would
    // be empty or larger than kMaxSide, 7 when the image cannot be made; neither side changes
    // then.
    void setOuterSize(int width, int height);
    // Set one side, keeping the other, with the same rules.
    void setOuterWidth(int width);
    void setOuterHeight(int height);

    // The device context of the persistent image, which the engine draws into.
    virtual DeviceContext deviceContext() const = 0;
    // Fills the persistent image with the background colour.
    virtual void clearImage() = 0;
    // Shows the persistent image on screen.
    virtual void refreshImage() = 0;
    // Saves the persistent image as a 24-bit BMP file (UTF-8 path), created afresh, never
    // written through a link; false when it was not written.
    virtual bool saveBmp(const std::string& path) = 0;

  protected:
    // Makes the persistent image innerWidth x innerHeight pixels (sizes the box accepts),
    // keeping the top-left of the old image (innerWidth() x innerHeight(), none at first) and
    // filling the new area with the background, and sizes the control. Raises error 7 when the
    // image cannot be made, leaving the old one.
    virtual void resizeImage(int innerWidth, int innerHeight) = 0;

  private:
    int innerWidth_ = 0;
    int innerHeight_ = 0;
};

}  // namespace tessera::core

#endif  // TESSERA_CORE_PICTURE_BOX_H
