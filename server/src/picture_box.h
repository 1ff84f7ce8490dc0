// picture_box.h: the picture box P of the console window.
//
// Its persistent image is a memory device context of the drawing layer holding a bitmap of
// the box's inner size; the engine draws into that context, draw saves it, and the widget
// paints it on screen inside a 2-pixel border. The context writes text in black with a
// transparent background, in the drawing layer's default font.
#ifndef TESSERA_PICTURE_BOX_H
#define TESSERA_PICTURE_BOX_H

#include <kgdi.h>

#include <QWidget>

namespace tessera {

class PictureBox : public QWidget {
    Q_OBJECT
  public:
    static constexpr int kBorder = 2;  // pixels on each side
    static constexpr COLORREF kBackground = RGB(255, 255, 192);
    // The largest inner side: room for a full-screen map on a 4K display, while one request
    // stays about a second and its bitmap at 64 MiB (the drawing layer would allow
    // 16384 pixels, a 1 GiB bitmap that holds every other client up for seconds).
    static constexpr int kMaxSide = 4096;

    // Creates the memory context and its bitmap for the design size. Raises error 7 when the
    // drawing layer cannot make them.
    PictureBox(int outerWidth, int outerHeight, QWidget* parent);
    ~PictureBox() override;

    HDC hdc() const { return hdc_; }
    int innerWidth() const { return innerWidth_; }
    int innerHeight() const { return innerHeight_; }

    // Set the outer size in pixels; the inner size is 4 pixels less. The persistent image
    // keeps its top-left content and shows the background where it grows. Raise error 380
    // when the inner size would be empty or larger than the layer allows, 7 when the bitmap
    // cannot be made; the size is then unchanged.
    void setOuterWidth(int width);
    void setOuterHeight(int height);
    // Sets both at once: when either side is refused, neither changes.
    void setOuterSize(int width, int height);
    // Whether an outer size gives an inner size the box accepts.
    static bool acceptsOuterSize(int width, int height);

    // Fills the persistent image with the background colour.
    void clearImage();
    // Shows the persistent image on screen.
    void refreshImage();
    // Saves the persistent image as a 24-bit BMP file; false when it was not written.
    bool saveBmp(const QByteArray& path) const;

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    void resizeImage(int innerWidth, int innerHeight);

    HDC hdc_ = nullptr;
    HBITMAP bitmap_ = nullptr;
    HGDIOBJ initialBitmap_ = nullptr;
    HBRUSH background_ = nullptr;
    int innerWidth_ = 0;
    int innerHeight_ = 0;
};

}  // namespace tessera

#endif  // TESSERA_PICTURE_BOX_H
