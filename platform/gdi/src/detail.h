/*
 * detail.h: internals of the drawing layer shared by its source files.
 *
 * The objects behind the handles (pens, brushes, bitmaps, device contexts, metafiles), the
 * handle table that owns them, the raster routines that write 32-bit or 8-bit pixels, and the
 * text renderer. Nothing here is exported; the flat C functions of kgdi.h are thin layers over it.
 */
#ifndef KGDI_DETAIL_H
#define KGDI_DETAIL_H

#include <cstddef>
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

/* A pen's or brush's attributes. Colours are kept as COLORREF: each surface turns them into
 * its own pixel values when a primitive is drawn (Surface::ValueOf). */
struct PenAttrs {
    bool null = false;
    int width = 1;
    COLORREF color = 0;
};

struct BrushAttrs {
    bool null = false;
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
 * rows `stride` pixels apart, so that a map's many short pieces are drawn with a table look-up
 * and a few stores (raster.cpp). Index (dy + kReach) * kSide + (dx + kReach). */
struct ShortPieces {
    static constexpr int kReach = 4;
    static constexpr int kSide = 2 * kReach + 1;
    /* A one-pixel pen's steps 0 .. n-1 (n = max(|dx|, |dy|) >= 1), then step 0 again. */
    int32_t thin[kSide * kSide][kReach];
    /* The centres of the two-pixel pen's square at steps 1 .. kReach, the end repeated. */
    int32_t square[kSide * kSide][kReach];
};
std::unique_ptr<const ShortPieces> MakeShortPieces(std::ptrdiff_t stride);

/* Entries of an 8-bit colour table. */
constexpr int kMaxColorEntries = 256;

/* The colour table of an 8-bit bitmap and the matching of colours to its entries: a colour
 * takes the entry nearest to it, by the squared distance of red, green and blue, the lowest
 * index among equally near entries (so an exact entry, at distance 0, always wins). A colour
 * is matched once and kept in a small memo until the table changes, so drawing resolves a
 * colour once per primitive, never per pixel. */
class ColorTable {
  public:
    /* Entries in use, 1 .. 256; pixel values beyond them show black. */
    int count() const noexcept { return count_; }
    /* The 0x00RRGGBB word of an entry (0 beyond count()). */
    uint32_t Entry(int index) const noexcept { return entries_[index & 0xFF]; }
    /* Sets the number of entries (1 .. 256; those beyond become black). */
    void Resize(int count) noexcept;
    /* Sets entries [first, first + n), within the size, from 0x00RRGGBB words. */
    void Set(int first, int n, const uint32_t* words) noexcept;
    /* The entry a colour is drawn with. */
    uint8_t Match(COLORREF color) const noexcept {
        const uint32_t key = (color & 0xFFFFFFu) | kMemoValid;
        Memo& m = memo_[((key * 0x9E3779B1u) >> 26) & (kMemoSize - 1)];
        if (m.key != key) m = Memo{key, Nearest(color)};
        return m.index;
    }
    bool SameAs(const ColorTable& o) const noexcept;

  private:
    static constexpr uint32_t kMemoValid = 0x80000000u;
    static constexpr int kMemoSize = 64;
    struct Memo {
        uint32_t key = 0;  // colour | kMemoValid; 0: empty
        uint8_t index = 0;
    };
    uint8_t Nearest(COLORREF color) const noexcept;
    int count_ = 0;
    uint32_t entries_[kMaxColorEntries] = {};
    mutable Memo memo_[kMemoSize];
};

/* The pixels of one type of a surface: rows top-down `stride` pixels apart. */
template <typename T>
struct Plane {
    T* top;
    int width;
    int height;
    std::ptrdiff_t stride;
    const ShortPieces* pieces;  // may be missing: lines are drawn without it
    T* sink;                    // a pixel outside the picture, with `pieces`
    T* Row(int64_t y) const noexcept { return top + y * stride; }
};

/* A surface to draw on: the selected bitmap's pixels, 32-bit words or 8-bit table indexes.
 * The raster routines take colours; ValueOf turns a colour into the surface's pixel value
 * once for each primitive. */
struct Surface {
    void* top = nullptr;  // the top row
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;  // pixels from a row to the one below
    int bits = 32;
    const ShortPieces* pieces = nullptr;
    void* sink = nullptr;
    const ColorTable* table = nullptr;  // 8 bits

    /* The pixel value a colour is drawn with: its word, or its table entry. */
    uint32_t ValueOf(COLORREF color) const noexcept {
        return table ? table->Match(color) : PixelFromColor(color);
    }
    /* The 0x00RRGGBB word of a pixel value. */
    uint32_t WordOf(uint32_t value) const noexcept {
        return table ? table->Entry(static_cast<int>(value)) : value & 0xFFFFFFu;
    }
    /* The colour of pixel (x, y), inside the picture. */
    COLORREF ColorAt(int x, int y) const noexcept;
    /* Sets pixel (x, y), inside the picture, to a pixel value. */
    void Put(int x, int y, uint32_t value) const noexcept;
    /* Row y as 0x00RRGGBB words: the row itself for 32 bits, else expanded into `scratch`
     * (width words). */
    const uint32_t* Words(int y, uint32_t* scratch) const noexcept {
        if (bits == 32) return static_cast<const uint32_t*>(top) + y * stride;
        return Expand(y, scratch);
    }
    /* Row y of an 8-bit surface expanded into `scratch`; returns `scratch`. */
    const uint32_t* Expand(int y, uint32_t* scratch) const noexcept;

    /* Calls f with the Plane of the surface's pixel type and returns what it returns. */
    template <typename F>
    decltype(auto) Visit(F&& f) const {
        if (bits == 8)
            return f(Plane<uint8_t>{static_cast<uint8_t*>(top), width, height, stride, pieces,
                                    static_cast<uint8_t*>(sink)});
        return f(Plane<uint32_t>{static_cast<uint32_t*>(top), width, height, stride, pieces,
                                 static_cast<uint32_t*>(sink)});
    }
};

struct Bitmap : Object {
    Bitmap() : Object(Kind::Bitmap) {}
    int width = 0;
    int height = 0;
    int bits = 32;           // 32: 0x00RRGGBB words; 8: indexes into `table`
    bool dib = false;        // a DIB section: GetObjectA gives its bits
    bool bottom_up = false;  // rows stored bottom row first (a DIB section of positive height)
    size_t row_bytes = 0;    // bytes from one stored row to the next (a multiple of 4)
    std::vector<uint32_t> storage;              // the rows, in 4-byte units
    std::unique_ptr<ColorTable> table;          // 8-bit bitmaps
    std::unique_ptr<const ShortPieces> pieces;  // for this bitmap's rows
    uint32_t sink = 0;       // where the table's pieces of length 0 store (see Surface::sink)
    int selected_count = 0;  // contexts holding it (at most one unless stock)
    Surface surface;         // its pixels to draw on (set by MakeBitmap; they never move)

    /* The first stored byte (what CreateDIBSection hands out). */
    uint8_t* Bits() noexcept { return reinterpret_cast<uint8_t*>(storage.data()); }
    const uint8_t* Bits() const noexcept {
        return reinterpret_cast<const uint8_t*>(storage.data());
    }
    /* Row y of the picture (0 the top row). */
    uint8_t* Row(int y) noexcept {
        return Bits() + row_bytes * static_cast<size_t>(bottom_up ? height - 1 - y : y);
    }
    const uint8_t* Row(int y) const noexcept { return const_cast<Bitmap*>(this)->Row(y); }
    /* Pixels from one picture row to the next below it (negative when bottom-up). */
    std::ptrdiff_t Stride() const noexcept {
        const auto pixels = static_cast<std::ptrdiff_t>(row_bytes / (bits / 8));
        return bottom_up ? -pixels : pixels;
    }
};

/* Makes a bitmap of `bits` (8 or 32) bits a pixel, its rows zero (black, or entry 0), with
 * rows padded to 4 bytes; `table` for 8 bits. nullptr when a size is out of range. May throw
 * std::bad_alloc. */
std::unique_ptr<Bitmap> MakeBitmap(int width, int height, int bits, bool bottom_up,
                                   std::unique_ptr<ColorTable> table);

/* The surface of a bitmap (empty for nullptr). */
inline constexpr Surface kNoSurface{};
inline const Surface& SurfaceOf(const Bitmap* bitmap) noexcept {
    return bitmap ? bitmap->surface : kNoSurface;
}

/* Copies the destination rectangle [dx0, dx1) x [dy0, dy1) (inside both pictures once shifted
 * by (shift_x, shift_y) into the source) from `src`: pixel values between equal formats,
 * otherwise each colour as the destination draws it. Overlapping rows of one bitmap are
 * copied in the right order. */
void CopyPixels(const Surface& dst, int64_t dx0, int64_t dy0, int64_t dx1, int64_t dy1,
                const Surface& src, int64_t shift_x, int64_t shift_y);

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

    const Surface& surface() const noexcept { return SurfaceOf(bitmap); }
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
void FillPolygon(const Surface& s, COLORREF color, const POINT* pts, int count);

/* Fills polygons together (alternate rule across all of them), as a poly-polygon fill. */
void FillPolyPolygon(const Surface& s, COLORREF color, const POINT* pts, const int* counts,
                     int polys);

/* Fills [left, right) x [top, bottom), clipped; coordinates in 64 bits. */
void FillRectPixels(const Surface& s, int64_t left, int64_t top, int64_t right, int64_t bottom,
                    COLORREF color);

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
