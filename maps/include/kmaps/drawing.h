// kmaps/drawing.h: how the engine draws every map of the web service and its tools, and kview:
// the layer string, the order of a view's tiles and the scale factors. Header-only, so that a
// program that draws through the engine alone (kview) draws by the same rules.
#ifndef KMAPS_DRAWING_H
#define KMAPS_DRAWING_H

#include "render/view.h"

namespace kmaps {

// The layer string of every map: no background paint (the map's own background is filled
// first), line types 13 and 14 drawn, place labels and road names drawn; as the request
// server's picture box draws its views.
inline constexpr const char* kMapLayers = "00210000";

// The drawing scale factors of maps and tiles: 1 (the classic map) to the engine's largest.
inline constexpr int kMaxFactor = kestrel::render::kMaxScaleFactor;

// The engine's options for a view at `factor`: its tiles drawn in the view's tile order
// (DrawingOrder::kTileList), so that a picture depends on the view alone, never on what the
// engine's tile cache holds from the views and queries drawn before.
inline constexpr kestrel::render::ViewOptions view_options(int factor) {
    return kestrel::render::ViewOptions{factor, kestrel::render::DrawingOrder::kTileList};
}

}  // namespace kmaps

#endif
