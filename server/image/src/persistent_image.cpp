// persistent_image.cpp: the picture box's persistent image on the GDI drawing API.
#include "tessera/image/persistent_image.h"

#include <tessera/core/errors.h>
#include <tessera/core/limits.h>

namespace tessera::image {

PersistentImage::PersistentImage() {
    hdc_ = CreateCompatibleDC(nullptr);
    const core::Rgb colour = core::kPictureBackground;
    background_ = CreateSolidBrush(RGB(colour.red, colour.green, colour.blue));
    if (hdc_ == nullptr || background_ == nullptr) {
        if (hdc_ != nullptr) DeleteDC(hdc_);
        if (background_ != nullptr) DeleteObject(background_);
        core::raiseError(core::kErrOutOfMemory);
    }
    SetTextColor(hdc_, RGB(0, 0, 0));
    SetBkMode(hdc_, TRANSPARENT);
}

PersistentImage::~PersistentImage() {
    if (initialBitmap_ != nullptr) SelectObject(hdc_, initialBitmap_);
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    DeleteDC(hdc_);
    DeleteObject(background_);
}

void PersistentImage::resize(int width, int height) {
    HBITMAP fresh = makeBitmap(hdc_, width, height);
    if (fresh == nullptr) core::raiseError(core::kErrOutOfMemory);
    // Paint the new bitmap in a scratch context: background, then the old image on top.
    HDC scratch = CreateCompatibleDC(nullptr);
    if (scratch == nullptr) {
        DeleteObject(fresh);
        core::raiseError(core::kErrOutOfMemory);
    }
    HGDIOBJ scratchInitial = SelectObject(scratch, fresh);
    const RECT all{0, 0, width, height};
    FillRect(scratch, &all, background_);
    if (bitmap_ != nullptr) BitBlt(scratch, 0, 0, width_, height_, hdc_, 0, 0, SRCCOPY);
    SelectObject(scratch, scratchInitial);
    DeleteDC(scratch);

    HGDIOBJ previous = SelectObject(hdc_, fresh);
    if (initialBitmap_ == nullptr) {
        initialBitmap_ = previous;
    } else {
        DeleteObject(previous);
    }
    bitmap_ = fresh;
    width_ = width;
    height_ = height;
}

void PersistentImage::clear() {
    const RECT all{0, 0, width_, height_};
    FillRect(hdc_, &all, background_);
}

}  // namespace tessera::image
