// exports_view.cpp: the flat C exports of view drawing: dlldraw and sdlldraw (draw a view),
// dllsetcolor (change a colour table entry) and dlldrawrdtxt (road names of the last view).
// They are thin wrappers over the noexcept drawing functions of view.h, so no C++ exception
// can cross them.
#include "kestrel.h"
#include "render/view.h"

extern "C" {

// Draws a view; 0 when drawn, -1 for a scale below 1, a null or invalid device context or a
// null layer string (nothing is drawn or stored then).
KESTREL_API int dlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                        const char* layers) {
    return kestrel::render::draw_view(hdc, left, top, width, height, scale, layers);
}

// The server's entry point for a view: the same arguments and result as dlldraw.
KESTREL_API int sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                         const char* layers) {
    return kestrel::render::draw_view(hdc, left, top, width, height, scale, layers);
}

// Sets entry `index` (0..49) of the colour table; a width of -1 keeps the entry's width.
// 0 when stored, -1 for an index outside the table.
KESTREL_API int dllsetcolor(int index, int red, int green, int blue, int width) {
    return kestrel::render::set_colour(index, red, green, blue, width);
}

// Writes the road names of the last view into its device context; always 0.
KESTREL_API int dlldrawrdtxt(void) { return kestrel::render::draw_road_names(); }

}  // extern "C"
