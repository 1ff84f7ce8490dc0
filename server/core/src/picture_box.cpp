// picture_box.cpp: the size rules of the picture box P.
#include "tessera/core/picture_box.h"

#include <cstdint>

#include "tessera/core/errors.h"

namespace tessera::core {

bool PictureBox::acceptsOuterSize(int width, int height) {
    const int64_t innerWidth = static_cast<int64_t>(width) - int64_t{2} * kBorder;
    const int64_t innerHeight = static_cast<int64_t>(height) - int64_t{2} * kBorder;
    return innerWidth >= 1 && innerWidth <= kMaxSide && innerHeight >= 1 && innerHeight <= kMaxSide;
}

void PictureBox::setOuterSize(int width, int height) {
    if (!acceptsOuterSize(width, height)) raiseError(kErrInvalidProperty);
    const int innerWidth = width - 2 * kBorder;
    const int innerHeight = height - 2 * kBorder;
    if (innerWidth == innerWidth_ && innerHeight == innerHeight_) return;
    resizeImage(innerWidth, innerHeight);
    innerWidth_ = innerWidth;
    innerHeight_ = innerHeight;
}

void PictureBox::setOuterWidth(int width) {
    setOuterSize(width, outerHeight());
}

void PictureBox::setOuterHeight(int height) {
    setOuterSize(outerWidth(), height);
}

}  // namespace tessera::core
