/*
 * draw.cpp: the drawing entry points (Polyline, Polygon, FillRect, TextOutA, the text extent
 * and the font's pixel size). Each checks its context, draws with the context's current
 * attributes through the rasteriser or the text renderer, and reports the primitive to the
 * recorder.
 */
#include "detail.h"

using namespace kgdi::detail;

namespace {

/* Reports a polyline or polygon to the context's recorder, when it has one. */
void RecordPoints(const Dc& dc, int kind, const POINT* points, int count) {
    if (!dc.recorder) return;
    KgdiRecord rec{};
    rec.kind = kind;
    rec.points = points;
    rec.count = count;
    Record(dc, rec);
}

}  // namespace

extern "C" {

KGDI_API BOOL Polyline(HDC hdc, const POINT* points, int count) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc || !points || count < 2) return FALSE;
    StrokePolyline(dc->surface(), dc->pen, points, count, false);
    RecordPoints(*dc, KGDI_REC_POLYLINE, points, count);
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API BOOL Polygon(HDC hdc, const POINT* points, int count) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc || !points || count < 2) return FALSE;
    const Surface& s = dc->surface();
    if (!dc->brush.null) FillPolygon(s, dc->brush.color, points, count);
    StrokePolyline(s, dc->pen, points, count, true);
    RecordPoints(*dc, KGDI_REC_POLYGON, points, count);
    return TRUE;
} catch (...) {
    return FALSE;
}

/* Returns 1 when the rectangle was filled (an empty rectangle included), 0 for a bad
 * context, brush or rectangle. */
KGDI_API int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc || !rect) return 0;
    BrushAttrs attrs;
    {
        const std::lock_guard<std::mutex> guard(TableLock());
        const auto* b = static_cast<const Brush*>(LookupLocked(brush, Kind::Brush));
        if (!b) return 0;
        attrs = b->attrs;
    }
    if (!attrs.null)
        FillRectPixels(dc->surface(), rect->left, rect->top, rect->right, rect->bottom,
                       attrs.color);
    if (dc->recorder) {
        KgdiRecord rec{};
        rec.kind = KGDI_REC_FILLRECT;
        rec.rect = *rect;
        Record(*dc, rec);
    }
    return 1;
} catch (...) {
    return 0;
}

KGDI_API BOOL TextOutA(HDC hdc, int x, int y, const char* text, int len) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc || len < 0 || (!text && len > 0)) return FALSE;
    DrawText950(*dc, x, y, text, len);
    if (dc->recorder) {
        KgdiRecord rec{};
        rec.kind = KGDI_REC_TEXT;
        rec.x = x;
        rec.y = y;
        rec.text = text;
        rec.text_len = len;
        Record(*dc, rec);
    }
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API BOOL KgdiGetTextExtent(HDC hdc, const char* text, int len, int* width,
                                int* height) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc || len < 0 || (!text && len > 0) || !width || !height) return FALSE;
    MeasureText950(dc->font_size, text, len, width, height);
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API int KgdiSetFontPixelSize(HDC hdc, int pixels) noexcept try {
    Dc* dc = LookupDc(hdc);
    if (!dc || pixels < kMinFontSize || pixels > kMaxFontSize) return 0;
    const int old = dc->font_size;
    dc->font_size = pixels;
    return old;
} catch (...) {
    return 0;
}

KGDI_API int KgdiGetFontPixelSize(HDC hdc) noexcept try {
    const Dc* dc = LookupDc(hdc);
    return dc ? dc->font_size : 0;
} catch (...) {
    return 0;
}

}  // extern "C"
