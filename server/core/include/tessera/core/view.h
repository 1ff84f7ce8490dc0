// tessera/core/view.h: the drawing routine drawview, shared by the draw button and the
// requests, and the arithmetic of its view window.
#ifndef TESSERA_CORE_VIEW_H
#define TESSERA_CORE_VIEW_H

#include <cstdint>

namespace tessera::core {

class Engine;
class PictureBox;

// The world coordinates of the top-left corner of a view.
struct ViewWindow {
    int32_t left;
    int32_t top;
};

// The view window of a width x height pixel view centred on (xc, yc) at `mp` metres a pixel:
// left x = xc - width * mp / 2 and top y = height * mp / 2 + yc, computed in double precision
// and rounded to int32 with halves to even. Raises error 6 (Overflow) when a result is not
// finite (a huge, infinite or NaN scale) or does not fit an int32.
ViewWindow viewWindow(int32_t width, int32_t height, int32_t xc, int32_t yc, double mp);

// Draws the view centred on (xc, yc) at `mp` metres a pixel into the picture box: computes the
// view window from the box's inner size (nothing is cleared when that raises), clears the box,
// has the engine draw into its device context with the layer string kServerLayers, and
// refreshes the box. Returns sdlldraw's result: 0 when drawn, -1 when the engine refused the
// scale. Binding errors of sdlldraw (48, 453) pass to the caller.
int drawview(PictureBox& box, Engine& engine, int32_t xc, int32_t yc, double mp);

}  // namespace tessera::core

#endif  // TESSERA_CORE_VIEW_H
