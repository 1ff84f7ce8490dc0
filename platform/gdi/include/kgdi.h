/*
 * kgdi.h: the 2D device-context drawing layer.
 *
 * A small C interface with the names, types and constants of the classic Windows 2D API, for
 * the subset that the map engine and the request server use: memory device contexts holding
 * 32-bit colour bitmaps, solid pens and brushes, polylines, polygons, 8-bit text in code page
 * 950 (Big5), enhanced metafiles, device-independent bitmap export (24/32-bit BI_RGB and 8-bit
 * BI_RLE8) and temporary file names. Drawing is non-antialiased and clipped to the bitmap.
 *
 * Handles are opaque values that the layer checks on every call: a null, deleted (stale) or
 * wrong-kind handle makes the call fail with its documented failure result; it never crashes.
 *
 * The functions after the classic ones (prefix Kgdi) are this layer's own extensions: access to
 * a context's pixels, saving a context's bitmap as a BMP or PNG file, reading BMP files, the
 * pixel size of a context's font, and a recorder that reports every primitive drawn into a
 * context (for tests and diagnostics).
 *
 * Threads: the layer keeps a process-wide handle table guarded by a lock, so handles may be
 * created and deleted from any thread; one device context must not be drawn into from two
 * threads at once.
 */
#ifndef KGDI_H
#define KGDI_H

#include <stddef.h>
#include <stdint.h>

#if defined(KGDI_BUILDING)
#define KGDI_API __attribute__((visibility("default")))
#else
#define KGDI_API
#endif

/* No function lets a C++ exception out: to C++ callers they are declared noexcept. */
#if defined(__cplusplus)
#define KGDI_NOEXCEPT noexcept
#else
#define KGDI_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- basic types ---------------------------------------------------------------------- */

typedef int32_t BOOL;
typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef DWORD COLORREF;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

/* Opaque handles. Their values are never dereferenced by callers. */
typedef struct KgdiHandle__* HGDIOBJ;
typedef HGDIOBJ HPEN;
typedef HGDIOBJ HBRUSH;
typedef HGDIOBJ HBITMAP;
typedef struct KgdiDc__* HDC;
typedef struct KgdiEmf__* HENHMETAFILE;

typedef struct tagPOINT {
    LONG x;
    LONG y;
} POINT;

typedef struct tagRECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
} RECT;

/* RGB(r, g, b): red in the low byte, then green, then blue. */
#define RGB(r, g, b) \
    ((COLORREF)(((BYTE)(r)) | ((WORD)((BYTE)(g)) << 8) | (((DWORD)(BYTE)(b)) << 16)))
#define GetRValue(c) ((BYTE)((c)&0xFF))
#define GetGValue(c) ((BYTE)(((c) >> 8) & 0xFF))
#define GetBValue(c) ((BYTE)(((c) >> 16) & 0xFF))
#define CLR_INVALID 0xFFFFFFFFu

/* ---- device-independent bitmap structures (byte layouts as in BMP files) ----------------- */

#pragma pack(push, 2)
typedef struct tagBITMAPFILEHEADER {
    WORD bfType; /* 'B' 'M' = 0x4D42 */
    DWORD bfSize;
    WORD bfReserved1;
    WORD bfReserved2;
    DWORD bfOffBits;
} BITMAPFILEHEADER;
#pragma pack(pop)

typedef struct tagBITMAPINFOHEADER {
    DWORD biSize;
    LONG biWidth;
    LONG biHeight; /* positive: rows stored bottom-up; negative: top-down */
    WORD biPlanes;
    WORD biBitCount;
    DWORD biCompression;
    DWORD biSizeImage;
    LONG biXPelsPerMeter;
    LONG biYPelsPerMeter;
    DWORD biClrUsed;
    DWORD biClrImportant;
} BITMAPINFOHEADER;

typedef struct tagRGBQUAD {
    BYTE rgbBlue;
    BYTE rgbGreen;
    BYTE rgbRed;
    BYTE rgbReserved;
} RGBQUAD;

/* As in the classic API the colour table is declared with one entry; an 8-bit request must
 * pass a structure with room for 256 entries behind the header. */
typedef struct tagBITMAPINFO {
    BITMAPINFOHEADER bmiHeader;
    RGBQUAD bmiColors[1];
} BITMAPINFO;

#ifdef __cplusplus
static_assert(sizeof(BITMAPFILEHEADER) == 14, "BITMAPFILEHEADER is 14 bytes on disk");
static_assert(sizeof(BITMAPINFOHEADER) == 40, "BITMAPINFOHEADER is 40 bytes on disk");
static_assert(sizeof(RGBQUAD) == 4, "RGBQUAD is 4 bytes on disk");
#endif

#define BI_RGB 0
#define BI_RLE8 1
#define DIB_RGB_COLORS 0

/* ---- constants -------------------------------------------------------------------------- */

/* GetStockObject */
#define WHITE_BRUSH 0
#define LTGRAY_BRUSH 1
#define GRAY_BRUSH 2
#define DKGRAY_BRUSH 3
#define BLACK_BRUSH 4
#define NULL_BRUSH 5
#define HOLLOW_BRUSH NULL_BRUSH
#define WHITE_PEN 6
#define BLACK_PEN 7
#define NULL_PEN 8

/* CreatePen styles: only solid lines are drawn; PS_NULL makes a pen that draws nothing. */
#define PS_SOLID 0
#define PS_NULL 5

/* SetBkMode */
#define TRANSPARENT 1
#define OPAQUE 2

/* BitBlt */
#define SRCCOPY 0x00CC0020u

/* SelectObject failure result */
#define HGDI_ERROR ((HGDIOBJ)(intptr_t)-1)

/* ---- objects ---------------------------------------------------------------------------- */

/* Returns the stock object (never deleted; DeleteObject on it succeeds and does nothing), or
 * NULL for an unknown index. */
KGDI_API HGDIOBJ GetStockObject(int index) KGDI_NOEXCEPT;

/* A pen of the given style, width in pixels (0 and 1 both draw one-pixel lines; wider pens
 * have round ends and joins) and colour. NULL for an unknown style or a negative width. */
KGDI_API HPEN CreatePen(int style, int width, COLORREF color) KGDI_NOEXCEPT;

/* A solid brush of the given colour. */
KGDI_API HBRUSH CreateSolidBrush(COLORREF color) KGDI_NOEXCEPT;

/* Selects a pen, brush or bitmap into a memory device context and returns the object of the
 * same kind that was selected before. A bitmap can be selected into one context at a time.
 * Returns NULL for a bad context or object, or a bitmap already selected elsewhere. */
KGDI_API HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj) KGDI_NOEXCEPT;

/* Deletes a pen, brush or bitmap. A pen or brush that is still selected may be deleted: the
 * context keeps drawing with its attributes until another one is selected. A bitmap that is
 * selected into a context is refused (FALSE). FALSE for a null, stale or unknown handle. */
KGDI_API BOOL DeleteObject(HGDIOBJ obj) KGDI_NOEXCEPT;

/* ---- device contexts -------------------------------------------------------------------- */

/* A memory device context. Every bitmap of the layer is 32-bit colour, so `hdc` (which may be
 * NULL) only has to be valid when given. A new context holds a 1 x 1 bitmap, the black pen,
 * the white brush, black text on an opaque white background and the default font (a 12-pixel
 * font with Traditional Chinese coverage, drawn without antialiasing). */
KGDI_API HDC CreateCompatibleDC(HDC hdc) KGDI_NOEXCEPT;

/* A width x height colour bitmap, all black. NULL when a size is not positive, too large
 * (more than 16384 on a side or 2^28 pixels) or the memory is not available. */
KGDI_API HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) KGDI_NOEXCEPT;

/* Deletes a memory device context. The bitmap selected into it is not deleted (it becomes free
 * to select elsewhere). */
KGDI_API BOOL DeleteDC(HDC hdc) KGDI_NOEXCEPT;

/* Copies a rectangle of pixels from one context to another (only SRCCOPY). Parts outside
 * either bitmap are left out. */
KGDI_API BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1,
                     DWORD rop) KGDI_NOEXCEPT;

/* Drawing is immediate; kept for callers that flush a batch. Always TRUE. */
KGDI_API BOOL GdiFlush(void) KGDI_NOEXCEPT;

/* ---- drawing ---------------------------------------------------------------------------- */

/* Connected line segments through `count` points with the selected pen. One-pixel lines leave
 * out their last point. FALSE for a bad context or count < 2. */
KGDI_API BOOL Polyline(HDC hdc, const POINT* points, int count) KGDI_NOEXCEPT;

/* A closed polygon: filled with the selected brush (alternate rule), outlined with the
 * selected pen. FALSE for a bad context or count < 2. */
KGDI_API BOOL Polygon(HDC hdc, const POINT* points, int count) KGDI_NOEXCEPT;

/* Fills a rectangle (right and bottom excluded) with a brush, without outline. */
KGDI_API int FillRect(HDC hdc, const RECT* rect, HBRUSH brush) KGDI_NOEXCEPT;

/* Writes `len` bytes of code page 950 text with its top-left at (x, y), in the text colour; in
 * OPAQUE mode the text box is first filled with the background colour. Bytes below 0x80 are
 * ASCII; a byte from 0x81 to 0xFE and the byte after it form one character; a character that
 * the font lacks, or an invalid pair, is drawn as a replacement box. */
KGDI_API BOOL TextOutA(HDC hdc, int x, int y, const char* text, int len) KGDI_NOEXCEPT;

/* Size of the box that TextOutA fills for this text, in pixels (width x line height), at the
 * context's font size. */
KGDI_API BOOL KgdiGetTextExtent(HDC hdc, const char* text, int len, int* width,
                                int* height) KGDI_NOEXCEPT;

/* The pixel size (em height) of a context's font, used by TextOutA, KgdiGetTextExtent and the
 * text of metafiles played into the context. A new context has 12. Every size is drawn without
 * antialiasing, in two colours: from the font's bitmap strike of that size when it has one
 * (the default face has 12 to 16), otherwise from its outlines (unhinted below 20 pixels,
 * lightly hinted from 20 on, so that horizontal strokes stay on whole rows). Glyph metrics,
 * advances and line height follow the size. KgdiSetFontPixelSize returns the previous size, or
 * 0 with nothing changed for a bad context or a size outside KGDI_FONT_PIXEL_SIZE_MIN to
 * KGDI_FONT_PIXEL_SIZE_MAX; KgdiGetFontPixelSize returns the size, 0 for a bad context. */
#define KGDI_FONT_PIXEL_SIZE_MIN 4
#define KGDI_FONT_PIXEL_SIZE_MAX 128
KGDI_API int KgdiSetFontPixelSize(HDC hdc, int pixels) KGDI_NOEXCEPT;
KGDI_API int KgdiGetFontPixelSize(HDC hdc) KGDI_NOEXCEPT;

/* Set...Color return the previous colour, CLR_INVALID on error. */
KGDI_API COLORREF SetTextColor(HDC hdc, COLORREF color) KGDI_NOEXCEPT;
KGDI_API COLORREF GetTextColor(HDC hdc) KGDI_NOEXCEPT;
KGDI_API COLORREF SetBkColor(HDC hdc, COLORREF color) KGDI_NOEXCEPT;
KGDI_API COLORREF GetBkColor(HDC hdc) KGDI_NOEXCEPT;
KGDI_API int SetBkMode(HDC hdc, int mode) KGDI_NOEXCEPT; /* previous mode, 0 on error */
KGDI_API int GetBkMode(HDC hdc) KGDI_NOEXCEPT;

/* The colour of one pixel, CLR_INVALID outside the bitmap or for a bad context. */
KGDI_API COLORREF GetPixel(HDC hdc, int x, int y) KGDI_NOEXCEPT;
KGDI_API COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) KGDI_NOEXCEPT;

/* ---- enhanced metafiles ----------------------------------------------------------------- */

/* Reads an enhanced metafile. NULL when the file does not open, is truncated or is not a
 * well-formed metafile (every record is checked before it is kept). */
KGDI_API HENHMETAFILE GetEnhMetaFileA(const char* path) KGDI_NOEXCEPT;

/* Plays the metafile's records, its picture frame mapped onto `rect` of the context. */
KGDI_API BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE emf, const RECT* rect) KGDI_NOEXCEPT;

KGDI_API BOOL DeleteEnhMetaFile(HENHMETAFILE emf) KGDI_NOEXCEPT;

/* ---- device-independent bitmaps ----------------------------------------------------------- */

/* Converts `lines` rows of the bitmap, starting at row `start` counted from the bottom, into
 * the format of info->bmiHeader:
 *  - BI_RGB with 24 or 32 bits: rows padded to 4 bytes, bottom-up for a positive height;
 *    `bits` must hold the rows requested.
 *  - BI_RLE8 with 8 bits: a colour table of 256 entries is written behind the header (exact
 *    when the bitmap holds at most 256 colours, otherwise a reduction of them), and the pixel
 *    indexes, bottom row first, are compressed with the RLE8 scheme (no delta escapes). The
 *    header's biSizeImage gives the room in `bits`; the result never writes past it. On success
 *    biSizeImage becomes the compressed size.
 * `bits` may be NULL: then only the header (biSizeImage) and colour table are filled.
 * Returns the number of rows converted, 0 on failure (bad handles, unsupported format, room
 * too small), in which case nothing is written to `bits` beyond the room. */
KGDI_API int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, void* bits,
                       BITMAPINFO* info, UINT usage) KGDI_NOEXCEPT;

/* ---- temporary files -------------------------------------------------------------------- */

/* Makes a unique file name in `path` from up to three characters of `prefix` and a
 * hexadecimal number, and creates the file exclusively (never an existing file, never through
 * a link). `unique` != 0 uses that number and does not create the file. Writes the full name
 * (at most 259 characters and a NUL) to `out`, which must hold 260 bytes. Returns the number
 * used, 0 on failure. */
KGDI_API UINT GetTempFileNameA(const char* path, const char* prefix, UINT unique,
                               char* out) KGDI_NOEXCEPT;

/* ---- extensions ------------------------------------------------------------------------- */

/* The pixels of a context's selected bitmap: 32-bit words 0x00RRGGBB (blue in the lowest
 * byte in memory), rows top-down, `stride` bytes apart. Valid until the bitmap is deselected
 * or deleted. FALSE for a bad context. */
typedef struct KgdiSurface {
    uint32_t* pixels;
    int width;
    int height;
    int stride;
} KgdiSurface;
KGDI_API BOOL KgdiGetSurface(HDC hdc, KgdiSurface* surface) KGDI_NOEXCEPT;

/* Saves the bitmap selected into a context: KGDI_FILE_BMP writes a 24-bit BI_RGB BMP file,
 * KGDI_FILE_PNG a PNG file. Returns TRUE when the whole file was written. */
#define KGDI_FILE_BMP 1
#define KGDI_FILE_PNG 2
KGDI_API BOOL KgdiSaveImage(HDC hdc, const char* path, int format) KGDI_NOEXCEPT;

/* A decoded image: 32-bit words 0x00RRGGBB, rows top-down, width * 4 bytes apart. */
typedef struct KgdiImage {
    uint32_t* pixels;
    int width;
    int height;
} KgdiImage;

/* Decodes a BMP file (8 bits with or without RLE8, 24 and 32 bits BI_RGB, bottom-up or
 * top-down) from memory or from a file. Every size, offset and run is checked: malformed data
 * gives FALSE and an empty image. Free the pixels with KgdiFreeImage. */
KGDI_API BOOL KgdiDecodeBmp(const void* data, size_t size, KgdiImage* image) KGDI_NOEXCEPT;
KGDI_API BOOL KgdiLoadBmp(const char* path, KgdiImage* image) KGDI_NOEXCEPT;
KGDI_API void KgdiFreeImage(KgdiImage* image) KGDI_NOEXCEPT;

/* Parses an enhanced metafile held in memory, as GetEnhMetaFileA does with a file. */
KGDI_API HENHMETAFILE KgdiLoadEnhMetaFile(const void* data, size_t size) KGDI_NOEXCEPT;

/* Recorder: after KgdiSetRecorder, every primitive drawn into the context is reported to the
 * callback (after it is drawn) with the attributes it was drawn with. Pass NULL to stop. */
#define KGDI_REC_POLYLINE 1
#define KGDI_REC_POLYGON 2
#define KGDI_REC_TEXT 3
#define KGDI_REC_METAFILE 4
#define KGDI_REC_FILLRECT 5
#define KGDI_REC_BITBLT 6
typedef struct KgdiRecord {
    int kind;
    const POINT* points; /* POLYLINE, POLYGON */
    int count;
    int x, y;         /* TEXT: reference point */
    const char* text; /* TEXT: the bytes given, not NUL-terminated */
    int text_len;
    RECT rect;    /* METAFILE target, FILLRECT rectangle, BITBLT destination */
    int pen_null; /* the selected pen draws nothing */
    int pen_width;
    COLORREF pen_color;
    int brush_null;
    COLORREF brush_color;
    COLORREF text_color;
    COLORREF bk_color;
    int bk_mode;
} KgdiRecord;
typedef void (*KgdiRecordFn)(void* user, const KgdiRecord* record);
KGDI_API BOOL KgdiSetRecorder(HDC hdc, KgdiRecordFn fn, void* user) KGDI_NOEXCEPT;

/* Number of live objects of the handle table (contexts, pens, brushes, bitmaps, metafiles);
 * stock objects are not counted. Lets tests and callers check that nothing leaks. */
KGDI_API int KgdiLiveObjectCount(void) KGDI_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* KGDI_H */
