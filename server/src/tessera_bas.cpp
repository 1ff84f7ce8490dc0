// tessera_bas.cpp: the drawing routine drawview.
#include "tessera_bas.h"

#include "engine_binding.h"
#include "numbers.h"
#include "picture_box.h"

namespace tessera {

int drawview(PictureBox& box, EngineBinding& engine, int32_t xc, int32_t yc, double mp) {
    const int32_t width = roundToInt32(box.innerWidth());
    const int32_t height = roundToInt32(box.innerHeight());
    // roundToInt32 raises Overflow for a result that is infinite or not a number, which is
    // what an invalid operation or an overflow of these products leaves behind.
    const int32_t left =
        roundToInt32(static_cast<double>(xc) - static_cast<double>(width) * mp / 2);
    const int32_t top =
        roundToInt32(static_cast<double>(height) * mp / 2 + static_cast<double>(yc));
    box.clearImage();
    const int result = engine.sdlldraw(box.hdc(), left, top, width, height, mp, kServerLayers);
    box.refreshImage();
    return result;
}

}  // namespace tessera
