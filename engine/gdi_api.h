// gdi_api.h: the one header through which the engine's sources reach the drawing API, and the
// one place where the engine's use of it differs between the platforms (ScaledText).
//
// On Linux the drawing API is the drawing layer's kgdi.h; on Windows it is the platform's own
// GDI (windows.h, linked with gdi32), which has the same names and types. Nothing else of the
// engine names either header; on Windows the drawing layer's RLE8 encoder comes along (its own
// header, free of the layer's types). The public kestrel.h makes the same choice itself, because
// clients see the handle types in the engine's interface.
#ifndef KESTREL_GDI_API_H
#define KESTREL_GDI_API_H

#if defined(_WIN32)
#include <windows.h>

// The drawing layer's RLE8 encoder, for the export (render/export.cpp): the platform's
// GetDIBits declines BI_RLE8 under Wine and quantises to its own palette on Windows.
#include "kgdi_rle8.h"
#else
#include "kgdi.h"
#endif

namespace kestrel {

// While it lives, text written into `dc` is `factor` times the size of the context's font (a
// view drawn at a scale factor); the font is as before afterwards. Factor 1 changes nothing.
// The drawing layer sets the context's font pixel size (12 becomes 24 at factor 2, drawn from
// the outlines without antialiasing); on Windows a copy of the selected font, `factor` times
// as high and without antialiasing, is selected for the time.
class ScaledText {
  public:
    ScaledText(HDC dc, int factor) noexcept : dc_(dc) {
        if (factor <= 1 || dc == nullptr) return;
#if defined(_WIN32)
        LOGFONTA font{};
        if (GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof font, &font) != sizeof font) return;
        font.lfHeight *= factor;
        font.lfWidth *= factor;
        font.lfQuality = NONANTIALIASED_QUALITY;
        font_ = CreateFontIndirectA(&font);
        if (font_ != nullptr) kept_ = SelectObject(dc, font_);
#else
        const int size = KgdiGetFontPixelSize(dc);
        int wanted = size * factor;
        if (wanted > KGDI_FONT_PIXEL_SIZE_MAX) wanted = KGDI_FONT_PIXEL_SIZE_MAX;
        if (size > 0 && KgdiSetFontPixelSize(dc, wanted) != 0) kept_ = size;
#endif
    }
    ~ScaledText() {
#if defined(_WIN32)
        if (font_ == nullptr) return;
        SelectObject(dc_, kept_);
        DeleteObject(font_);
#else
        if (kept_ != 0) KgdiSetFontPixelSize(dc_, kept_);
#endif
    }
    ScaledText(const ScaledText&) = delete;
    ScaledText& operator=(const ScaledText&) = delete;

  private:
    HDC dc_;
#if defined(_WIN32)
    HFONT font_ = nullptr;
    HGDIOBJ kept_ = nullptr;
#else
    int kept_ = 0;  // the size to restore, 0: nothing to restore
#endif
};

}  // namespace kestrel

#endif  // KESTREL_GDI_API_H
