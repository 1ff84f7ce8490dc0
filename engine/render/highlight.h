// highlight.h: drawing a feature over the last view with the highlight pen. The road queries
// use it to show the road they found or selected; it is the part of the drawing that other
// areas of the engine call, next to the view state of view.h.
#ifndef KESTREL_RENDER_HIGHLIGHT_H
#define KESTREL_RENDER_HIGHLIGHT_H

#include <cstdint>

#include "data/store.h"
#include "gdi_api.h"

namespace kestrel::render {

inline constexpr int HIGHLIGHT_COLOUR = 10;  // colour entry and pen place of the highlight

// Draws a polyline through `count` world vertices (slot-relative, plus origin) mapped to the
// pixels of a view at (left, top, scale) and scale factor, through the shared point buffer
// (see draw_polyline). Nothing is drawn for fewer than two vertices or a null vertex pointer.
void draw_world_polyline(HDC dc, const data::Vertex* v, int count, int32_t origin_x,
                         int32_t origin_y, int32_t left, int32_t top, double scale,
                         int factor) noexcept;

// Makes the highlight pen from colour entry 10 (width in pixels at 1x, times the scale factor
// of the view it is drawn over), keeps it in place 10 of the pen table and selects it into
// `dc`; returns the object that was selected before.
HGDIOBJ select_highlight_pen(HDC dc, int factor) noexcept;
// Selects `previous` back and deletes the pen of place 10 (the place becomes empty).
void release_highlight_pen(HDC dc, HGDIOBJ previous) noexcept;

}  // namespace kestrel::render

#endif  // KESTREL_RENDER_HIGHLIGHT_H
