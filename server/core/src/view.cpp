// view.cpp: the drawing routine drawview.
#include "tessera/core/view.h"

#include "tessera/core/limits.h"
#include "tessera/core/numbers.h"
#include "tessera/core/picture_box.h"
#include "tessera/core/platform.h"

namespace tessera::core {

ViewWindow viewWindow(int32_t width, int32_t height, int32_t xc, int32_t yc, double mp) {
    // roundToInt32 raises Overflow for a result that is infinite or not a number, which is
    // what an invalid operation or an overflow of these products leaves behind.
    const int32_t left =
        roundToInt32(static_cast<double>(xc) - static_cast<double>(width) * mp / 2);
    const int32_t top =
        roundToInt32(static_cast<double>(height) * mp / 2 + static_cast<double>(yc));
    return ViewWindow{left, top};
}

int drawview(PictureBox& box, Engine& engine, int32_t xc, int32_t yc, double mp) {
    const int32_t width = box.innerWidth();
    const int32_t height = box.innerHeight();
    const ViewWindow window = viewWindow(width, height, xc, yc, mp);
    box.clearImage();
    const int result = engine.sdlldraw(box.deviceContext(), window.left, window.top, width, height,
                                       mp, kServerLayers);
    box.refreshImage();
    return result;
}

}  // namespace tessera::core
