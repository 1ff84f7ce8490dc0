// exports/render.cpp: the flat C exports of the drawing area: the view (dlldraw, sdlldraw,
// dllsetcolor, dlldrawrdtxt), its overlays (dlldraw44, dllhisload, dllhisdraw, dllhisfree)
// and its bitmap export (sdllgetbmp, sdllgetimgfile). kestrel.h documents them; each runs one
// call of render/view.h through the guard.
#include "exports/guard.h"
#include "kestrel.h"
#include "render/view.h"

namespace render = kestrel::render;
using kestrel::exports::guarded;

extern "C" {

KESTREL_API int dlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                        const char* layers) noexcept {
    return guarded(-1,
                   [&] { return render::draw_view(hdc, left, top, width, height, scale, layers); });
}

// The server's entry point for a view: the same arguments and result as dlldraw.
KESTREL_API int sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                         const char* layers) noexcept {
    return guarded(-1,
                   [&] { return render::draw_view(hdc, left, top, width, height, scale, layers); });
}

KESTREL_API int dllsetcolor(int index, int red, int green, int blue, int width) noexcept {
    return guarded(-1, [&] { return render::set_colour(index, red, green, blue, width); });
}

KESTREL_API int dlldrawrdtxt(void) noexcept {
    return guarded(-1, [] { return render::draw_road_names(); });
}

KESTREL_API int dlldraw44(int category, int mode) noexcept {
    return guarded(-1, [&] { return render::draw_points_of_interest(category, mode); });
}

KESTREL_API int dllhisload(const char* path) noexcept {
    return guarded(-1, [&] { return render::load_track(path); });
}

KESTREL_API int dllhisdraw(int west, int south, int east, int north) noexcept {
    return guarded(-1, [&] { return render::draw_track(west, south, east, north); });
}

KESTREL_API int dllhisfree(void) noexcept {
    return guarded(-1, [] { return render::free_track(); });
}

KESTREL_API int sdllgetbmp(unsigned char* buffer) noexcept {
    return guarded(-1, [&] { return render::export_bitmap(buffer); });
}

KESTREL_API int sdllgetimgfile(char* name) noexcept {
    return guarded(-1, [&] { return render::export_bitmap_file(name); });
}

}  // extern "C"
