// tessera_bas.h: the drawing routine drawview shared by the draw button and the requests.
#ifndef TESSERA_TESSERA_BAS_H
#define TESSERA_TESSERA_BAS_H

#include <cstdint>

namespace tessera {

class PictureBox;
class EngineBinding;

// The layer string the server passes: no background paint, line types 13 and 14 drawn, place
// labels and road names drawn.
inline constexpr const char* kServerLayers = "00210000";

// Draws the view centred on (xc, yc) at `mp` metres a pixel into the picture box:
//  - W and H are the inner size of the box; left x = xc - W * mp / 2 and top y =
//    H * mp / 2 + yc, computed in double precision and rounded to int32 with halves to even;
//  - a computation that is not finite raises error 6 (Overflow), as does a rounded value
//    outside int32; nothing is cleared or drawn then;
//  - the box is cleared, the engine's sdlldraw draws into its context with the layer string
//    kServerLayers, and the box is refreshed.
// Returns sdlldraw's result: 0 when drawn, -1 when the engine refused the scale. Binding
// errors of sdlldraw (48, 453) pass to the caller.
int drawview(PictureBox& box, EngineBinding& engine, int32_t xc, int32_t yc, double mp);

}  // namespace tessera

#endif  // TESSERA_TESSERA_BAS_H
