// tessera_bas.h: the drawing routine drawview, shared by the draw button and the requests.
#ifndef TESSERA_WIN_TESSERA_BAS_H
#define TESSERA_WIN_TESSERA_BAS_H

#include <cstdint>

namespace tessera {

class EngineBinding;
class PictureBox;

// The layer string of every view the server draws.
inline constexpr char kServerLayers[] = "00210000";

// Draws the view centred on (xc, yc) at mp metres a pixel into P: computes the world window
// from the inner size of P, clears P, calls sdlldraw and refreshes P. Returns sdlldraw's
// result (0 drawn, -1 scale refused). Raises error 6 when the window's edges overflow.
int drawview(PictureBox& box, EngineBinding& engine, int32_t xc, int32_t yc, double mp);

}  // namespace tessera

#endif  // TESSERA_WIN_TESSERA_BAS_H
