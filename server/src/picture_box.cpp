// picture_box.cpp: the picture box P and its persistent drawing-layer image.
#include "picture_box.h"

#include <QImage>
#include <QPainter>
#include <cstdint>

#include "run_time_error.h"

namespace tessera {

PictureBox::PictureBox(int outerWidth, int outerHeight, QWidget* parent) : QWidget(parent) {
    hdc_ = CreateCompatibleDC(nullptr);
    background_ = CreateSolidBrush(kBackground);
    if (hdc_ == nullptr || background_ == nullptr) {
        if (hdc_ != nullptr) DeleteDC(hdc_);
        if (background_ != nullptr) DeleteObject(background_);
        raiseError(kErrOutOfMemory);
    }
    SetTextColor(hdc_, RGB(0, 0, 0));
    SetBkMode(hdc_, TRANSPARENT);
    try {
        resizeImage(outerWidth - 2 * kBorder, outerHeight - 2 * kBorder);
    } catch (...) {
        DeleteDC(hdc_);
        DeleteObject(background_);
        throw;
    }
    resize(outerWidth, outerHeight);
}

PictureBox::~PictureBox() {
    if (initialBitmap_ != nullptr) SelectObject(hdc_, initialBitmap_);
    DeleteObject(bitmap_);
    DeleteDC(hdc_);
    DeleteObject(background_);
}

namespace {

bool acceptsInner(int side) {
    return side >= 1 && side <= PictureBox::kMaxSide;
}

}  // namespace

bool PictureBox::acceptsOuterSize(int width, int height) {
    // Sides far outside the range must not wrap when the border is taken off.
    const int64_t innerWidth = static_cast<int64_t>(width) - 2 * kBorder;
    const int64_t innerHeight = static_cast<int64_t>(height) - 2 * kBorder;
    return innerWidth >= 1 && innerWidth <= kMaxSide && innerHeight >= 1 && innerHeight <= kMaxSide;
}

void PictureBox::resizeImage(int innerWidth, int innerHeight) {
    if (!acceptsInner(innerWidth) || !acceptsInner(innerHeight)) raiseError(kErrInvalidProperty);
    if (innerWidth == innerWidth_ && innerHeight == innerHeight_) return;
    HBITMAP fresh = CreateCompatibleBitmap(hdc_, innerWidth, innerHeight);
    if (fresh == nullptr) raiseError(kErrOutOfMemory);

    // Paint the new bitmap in a scratch context: background, then the old image on top.
    HDC scratch = CreateCompatibleDC(nullptr);
    if (scratch == nullptr) {
        DeleteObject(fresh);
        raiseError(kErrOutOfMemory);
    }
    HGDIOBJ scratchInitial = SelectObject(scratch, fresh);
    const RECT all{0, 0, innerWidth, innerHeight};
    FillRect(scratch, &all, background_);
    if (bitmap_ != nullptr) {
        BitBlt(scratch, 0, 0, innerWidth_, innerHeight_, hdc_, 0, 0, SRCCOPY);
    }
    SelectObject(scratch, scratchInitial);
    DeleteDC(scratch);

    HGDIOBJ previous = SelectObject(hdc_, fresh);
    if (initialBitmap_ == nullptr) {
        initialBitmap_ = previous;
    } else {
        DeleteObject(previous);
    }
    bitmap_ = fresh;
    innerWidth_ = innerWidth;
    innerHeight_ = innerHeight;
}

void PictureBox::setOuterSize(int width, int height) {
    if (!acceptsOuterSize(width, height)) raiseError(kErrInvalidProperty);
    resizeImage(width - 2 * kBorder, height - 2 * kBorder);
    resize(width, height);
    update();
}

void PictureBox::setOuterWidth(int width) {
    if (!acceptsOuterSize(width, innerHeight_ + 2 * kBorder)) raiseError(kErrInvalidProperty);
    resizeImage(width - 2 * kBorder, innerHeight_);
    resize(width, height());
    update();
}

void PictureBox::setOuterHeight(int height) {
    if (!acceptsOuterSize(innerWidth_ + 2 * kBorder, height)) raiseError(kErrInvalidProperty);
    resizeImage(innerWidth_, height - 2 * kBorder);
    resize(width(), height);
    update();
}

void PictureBox::clearImage() {
    const RECT all{0, 0, innerWidth_, innerHeight_};
    FillRect(hdc_, &all, background_);
}

void PictureBox::refreshImage() {
    update();
}

bool PictureBox::saveBmp(const QByteArray& path) const {
    return KgdiSaveImage(hdc_, path.constData(), KGDI_FILE_BMP) != 0;
}

void PictureBox::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    // A sunken 2-pixel border: grey and dark grey outside, white and light grey inside.
    painter.fillRect(rect(), QColor(160, 160, 160));
    painter.fillRect(1, 1, width() - 1, height() - 1, QColor(255, 255, 255));
    painter.fillRect(1, 1, width() - 2, height() - 2, QColor(64, 64, 64));
    painter.fillRect(2, 2, width() - 3, height() - 3, QColor(227, 227, 227));
    KgdiSurface surface{};
    if (KgdiGetSurface(hdc_, &surface)) {
        const QImage image(reinterpret_cast<const uchar*>(surface.pixels), surface.width,
                           surface.height, surface.stride, QImage::Format_RGB32);
        painter.drawImage(kBorder, kBorder, image);
    }
}

}  // namespace tessera
