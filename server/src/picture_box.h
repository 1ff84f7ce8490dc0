// picture_box.h: the picture box P of the console window, on Qt and the Linux drawing layer.
//
// Its persistent image (tessera::image::PersistentImage) is a memory device context of the
// drawing layer; the engine draws into it, draw saves it, and the widget paints it on screen
// inside a 2-pixel border. The size rules are those of core::PictureBox.
#ifndef TESSERA_PICTURE_BOX_H
#define TESSERA_PICTURE_BOX_H

#include <tessera/core/picture_box.h>
#include <tessera/image/persistent_image.h>

#include <QWidget>

namespace tessera {

class PictureBox : public QWidget, public core::PictureBox {
    Q_OBJECT
  public:
    // Creates the image for the outer size. Raises error 7 when the drawing layer cannot make
    // it, 380 for a size the box refuses.
    PictureBox(int outerWidth, int outerHeight, QWidget* parent);

    HDC hdc() const { return image_.hdc(); }

    core::DeviceContext deviceContext() const override { return image_.hdc(); }
    void clearImage() override { image_.clear(); }
    void refreshImage() override { update(); }
    bool saveBmp(const std::string& path) override;

  protected:
    void resizeImage(int innerWidth, int innerHeight) override;
    void paintEvent(QPaintEvent* event) override;

  private:
    image::PersistentImage image_;
};

}  // namespace tessera

#endif  // TESSERA_PICTURE_BOX_H
