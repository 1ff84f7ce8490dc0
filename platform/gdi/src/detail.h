/*
 * detail.h: internals of the drawing layer shared by its source files.
 *
 * The objects behind the handles (pens, brushes, bitmaps, device contexts, metafiles), the
 * handle table that owns them, the raster routines that write 32-bit pixels, and the text
 * renderer. Nothing here is exported; the flat C functions of kgdi.h are thin layers over it.
 */
#ifndef KGDI_DETAIL_H
#define KGDI_DETAIL_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "kgdi.h"

namespace kgdi::detail {

/* Largest bitmap side and pixel count (CreateCompatibleBitmap, the BMP reader). */
constexpr int kMaxBitmapSide = 16384;
constexpr int64_t kMaxBitmapPixels = int64_t{1} << 28;

/* Pens wider than this are drawn this wide: it bounds the work of one stroke. */
constexpr int kMaxPenWidth = 256;

/* The pixel size of the font of a new context, and the sizes a context may be set to. */
constexpr int kDefaultFontSize = 12;
constexpr int kMinFontSize = KGDI_FONT_PIXEL_SIZE_MIN;
constexpr int kMaxFontSize = KGDI_FONT_PIXEL_SIZE_MAX;

/* The layer's pixel word 0x00RRGGBB from a COLORREF 0x00BBGGRR, and back. */
constexpr uint32_t PixelFromColor(COLORREF c) noexcept {
    return ((c & 0xFFu) << 16) | (c & 0xFF00u) | ((c >> 16) & 0xFFu);
}
constexpr COLORREF ColorFromPixel(uint32_t p) noexcept {
    return ((p >> 16) & 0xFFu) | (p & 0xFF00u) | ((p & 0xFFu) << 16);
}

enum class Kind : uint8_t { Pen, Brush, Bitmap, Dc, Metafile };

/* Base of every object of the handle table. */
struct Object {
    explicit Object(Kind k) : kind(k) {}
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;
    Kind kind;
    bool stock = false;
};

struct PenAttrs {
    bool null = false;
    int width = 1;
    uint32_t pixel = 0;  // 0x00RRGGBB
    COLORREF color = 0;
};

struct BrushAttrs {
    bool null = false;
    uint32_t pixel = 0xFFFFFF;
    COLORREF color = RGB(255, 255, 255);
};

struct Pen : Object {
    Pen() : Object(Kind::Pen) {}
    PenAttrs attrs;
};

struct Brush : Object {
    Brush() : Object(Kind::Brush) {}
    BrushAttrs attrs;
};

/* The pixels of every line piece of up to kReach steps each way, as offsets from its start in
 * rows `width` pixels apart, so that a map's many short pieces are drawn with a table look-up
 * and a few stores (raster.cpp). Index (dy + kReach) * kSide + (dx + kReach). */
struct ShortPieces {
    static constexpr int kReach = 4;
    static constexpr int kSide = 2 * kReach + 1;
    /* A one-pixel pen's steps 0 .. n-1 (n = max(|dx|, |dy|) >= 1), then step 0 again. */
    int32_t thin[kSide * kSide][kReach];
    /* The centres of the two-pixel pen's square at steps 1 .. kReach, the end repeated. */
    int32_t square[kSide * kSide][kReach];
};
std::unique_ptr<const ShortPieces> MakeShortPieces(int width);

struct Bitmap : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;               // rows top-down, width words apart
    std::unique_ptr<const ShortPieces> pieces;  // for this width
    uint32_t sink = 0;       // where the table's pieces of length 0 store (see Surface::sink)
    int selected_count = 0;  // contexts holding it (at most one unless stock)
};

/* A surface to draw on: the selected bitmap's pixels. */
struct Surface {
    uint32_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    const ShortPieces* pieces = nullptr;  // may be missing: lines are drawn without it
    uint32_t* sink = nullptr;             // a word outside the picture, with `pieces`
};

struct Dc : Object {
    Dc() : Object(Kind::Dc) {}
    HGDIOBJ pen_handle = nullptr;
    HGDIOBJ brush_handle = nullptr;
    HGDIOBJ bitmap_handle = nullptr;
    Bitmap* bitmap = nullptr;
    PenAttrs pen;
    BrushAttrs brush;
    COLORREF text_color = RGB(0, 0, 0);
    COLORREF bk_color = RGB(255, 255, 255);
    int bk_mode = OPAQUE;
    int font_size = kDefaultFontSize;  // pixels, kMinFontSize .. kMaxFontSize
    KgdiRecordFn recorder = nullptr;
    void* recorder_user = nullptr;

    Surface surface() const noexcept {
        return bitmap ? Surface{bitmap->pixels.data(), bitmap->width, bitmap->height,
                                bitmap->pieces.get(), &bitmap->sink}
                      : Surface{};
    }
};

struct MetafileData;  // emf.cpp

struct Metafile : Object {
    Metafile();  // defined where MetafileData is complete
    ~Metafile() override;
    std::unique_ptr<MetafileData> data;
};

/* A per-thread scratch object of type T, one for each Tag (each user names its own tag, so
 * that no two users share an object). The accessor is kept out of line on purpose: in a
 * shared library each use of a thread_local name may call the TLS look-up again, while a
 * reference returned from a call stays in a register. */
template <typename T, typename Tag>
[[gnu::noinline]] T& PerThread() {
    thread_local T value;
    return value;
}

/* ---- handle table (objects.cpp) ---- */

/* The process-wide lock of the handle table. */
std::mutex& TableLock();

/* Adds an object, returns its handle (NULL when the table is full). Takes the lock. */
HGDIOBJ AddObject(std::unique_ptr<Object> obj);

/* The object of a handle if it is live and of the given kind, else nullptr. The caller holds
 * TableLock(). */
Object* LookupLocked(const void* handle, Kind kind);

/* Looks up a device context (takes the lock for the look-up only). */
Dc* LookupDc(HDC hdc);

/* ---- raster (raster.cpp) ---- */

/* Strokes connected segments through the points with the pen; `closed` adds the closing
 * segment. One-pixel pens leave out the end point of each segment. */
void StrokePolyline(const Surface& s, const PenAttrs& pen, const POINT* pts, int count,
                    bool closed);

/* Fills a polygon with the alternate rule, sampling pixel centres. */
void FillPolygon(const Surface& s, uint32_t pixel, const POINT* pts, int count);

/* Fills polygons together (alternate rule across all of them), as a poly-polygon fill. */
void FillPolyPolygon(const Surface& s, uint32_t pixel, const POINT* pts, const int* counts,
                     int polys);

/* Fills [left, right) x [top, bottom), clipped; coordinates in 64 bits. */
void FillRectPixels(const Surface& s, int64_t left, int64_t top, int64_t right, int64_t bottom,
                    uint32_t pixel);

/* ---- text (text.cpp) ---- */

/* Draws code page 950 text with its top-left at (x, y) in the context's text colour,
 * background mode and font size. Without any usable font every character is drawn as a box. */
void DrawText950(const Dc& dc, int x, int y, const char* text, int len);

/* Draws UTF-16 text (metafile records) with its top-left at (x, y). */
void DrawTextUtf16(const Dc& dc, int x, int y, const uint16_t* text, int len);

/* Width (sum of advances) and line height of code page 950 text at a font size. */
void MeasureText950(int size, const char* text, int len, int* width, int* height);

/* Reports a primitive to the context's recorder, filling in its attributes. */
void Record(const Dc& dc, KgdiRecord rec);

}  // namespace kgdi::detail

#endif  // KGDI_DETAIL_H
