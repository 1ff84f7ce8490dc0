// picture_box.cpp: the picture box P as a Qt widget over its drawing-layer image.
#include "picture_box.h"

#include <QImage>
#include <QPainter>

namespace tessera {

HBITMAP image::makeBitmap(HDC hdc, int width, int height) {
    // The drawing layer's bitmaps are 32-bit whatever the context.
    return CreateCompatibleBitmap(hdc, width, height);
}

PictureBox::PictureBox(int outerWidth, int outerHeight, QWidget* parent) : QWidget(parent) {
    setOuterSize(outerWidth, outerHeight);
}

void PictureBox::resizeImage(int width, int height) {
    image_.resize(width, height);
    resize(width + 2 * kBorder, height + 2 * kBorder);
    update();
}

bool PictureBox::saveBmp(const std::string& path) {
    return KgdiSaveImage(image_.hdc(), path.c_str(), KGDI_FILE_BMP) != 0;
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // A sunken 2-pixel border: grey and dark grey outside, white and light grey inside.
    painter.fillRect(rect(), QColor(160, 160, 160));
    painter.fillRect(1, 1, width() - 1, height() - 1, QColor(255, 255, 255));
    painter.fillRect(1, 1, width() - 2, height() - 2, QColor(64, 64, 64));
    painter.fillRect(2, 2, width() - 3, height() - 3, QColor(227, 227, 227));
    KgdiSurface surface{};
    if (KgdiGetSurface(image_.hdc(), &surface)) {
        const QImage image(reinterpret_cast<const uchar*>(surface.pixels), surface.width,
                           surface.height, surface.stride, QImage::Format_RGB32);
        painter.drawImage(kBorder, kBorder, image);
    }
}

}  // namespace tessera
