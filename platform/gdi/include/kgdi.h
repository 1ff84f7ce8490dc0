/*
 * kgdi.h: the 2D device-context drawing layer.
 *
 * A small C interface with the names, types and constants of the classic Windows 2D API, for
 * the subset that the map engine and the request server use: memory device contexts holding
 * 32-bit colour bitmaps or DIB sections (8 bits a pixel with a colour table, or 32 bits),
 * solid pens and brushes, polylines, polygons, 8-bit text in code page 950 (Big5), enhanced
 * metafiles, device-independent bitmap export (24/32-bit BI_RGB, 8-bit BI_RGB and BI_RLE8) and
 * temporary file names. Drawing is non-antialiased and clipped to the bitmap; it gives the same
 * pixels at both depths, an 8-bit surface holding for each colour the entry of its colour table
 * that the colour matches (see CreateDIBSection).
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
typedef struct KgdiHandle* HGDIOBJ;
typedef HGDIOBJ HPEN;
typedef HGDIOBJ HBRUSH;
typedef HGDIOBJ HBITMAP;
typedef struct KgdiDc* HDC;
typedef struct KgdiEmf* HENHMETAFILE;
typedef void* HANDLE;

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

/* GetObjectA on a bitmap: its size, row bytes, depth and, for a DIB section, its bits. */
typedef struct tagBITMAP {
    LONG bmType; /* 0 */
    LONG bmWidth;
    LONG bmHeight;
    LONG bmWidthBytes;
    WORD bmPlanes; /* 1 */
    WORD bmBitsPixel;
    void* bmBits; /* NULL unless a DIB section */
} BITMAP;

/* GetObjectA on a DIB section: the BITMAP and the header it was made with. */
typedef struct tagDIBSECTION {
    BITMAP dsBm;
    BITMAPINFOHEADER dsBmih;
    DWORD dsBitfields[3];
    HANDLE dshSection;
    DWORD dsOffset;
} DIBSECTION;

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

/* For a bitmap: fills `out` with a BITMAP, or with a DIBSECTION when the bitmap is a DIB
 * section and `size` holds one, and returns the bytes written; with `out` NULL returns the
 * size of the structure it would write (DIBSECTION for a DIB section). 0 for any other object,
 * a bad handle or a `size` smaller than a BITMAP. Pens and brushes are not described. */
KGDI_API int GetObjectA(HGDIOBJ obj, int size, void* out) KGDI_NOEXCEPT;

/* Deletes a pen, brush or bitmap. A pen or brush that is still selected may be deleted: the
 * context keeps drawing with its attributes until another one is selected. A bitmap that is
 * selected into a context is refused (FALSE). FALSE for a null, stale or unknown handle. */
KGDI_API BOOL DeleteObject(HGDIOBJ obj) KGDI_NOEXCEPT;

/* ---- device contexts -------------------------------------------------------------------- */

/* A memory device context. `hdc` may be NULL, and has to be valid when given. A new context holds a
 * 1 x 1 bitmap, the black pen, the white brush, black text on an opaque white background and the
 * default font (a 12-pixel font with Traditional Chinese coverage, drawn without antialiasing). */
KGDI_API HDC CreateCompatibleDC(HDC hdc) KGDI_NOEXCEPT;

/* A width x height bitmap in the format of the bitmap selected into `hdc`: when that is an
 * 8-bit DIB section, an 8-bit DIB section with the same colour table and row order, all
 * entry 0; otherwise (also for a NULL `hdc`) a 32-bit colour bitmap, all black. NULL when a
 * size is not positive, too large (more than 16384 on a side or 2^28 pixels), `hdc` is not a
 * context or the memory is not available. */
KGDI_API HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) KGDI_NOEXCEPT;

/* A DIB section: a bitmap described by `info` whose pixels the caller reaches at `*bits`.
 * info->bmiHeader: biSize 40 to 124 (the colour table follows the header's biSize bytes),
 * width and height as for CreateCompatibleBitmap with a positive height storing the rows
 * bottom-up and a negative one top-down, 1 plane, BI_RGB, and 8 or 32 bits a pixel. Rows are
 * padded to 4 bytes; the pixels start zero (entry 0, or black). With 8 bits the colour table
 * has biClrUsed entries (0 means 256; more than 256 is refused), read as RGBQUADs behind the
 * header. `usage` must be DIB_RGB_COLORS, `section` NULL and `offset` 0. `bits` may be NULL;
 * it is set to NULL on failure. `hdc` may be NULL.
 *
 * Drawing into an 8-bit DIB section writes, for every colour (pen, brush, text, background,
 * SetPixel, metafile records), the entry of the colour table that it matches: the entry of
 * least squared distance (dr^2 + dg^2 + db^2), the lowest index among equally near ones, so a
 * colour present in the table takes its first exact entry. Each colour is matched once per
 * primitive, not per pixel. Reading a pixel (GetPixel, BitBlt into a 32-bit bitmap, GetDIBits
 * to 24 or 32 bits, KgdiSaveImage) gives its entry's colour, so a picture whose colours are all
 * in the table reads back exactly as the 32-bit picture drawn the same way. */
KGDI_API HBITMAP CreateDIBSection(HDC hdc, const BITMAPINFO* info, UINT usage, void** bits,
                                  HANDLE section, DWORD offset) KGDI_NOEXCEPT;

/* Sets entries start .. start + count - 1 of the colour table of the 8-bit DIB section selected
 * into `hdc`, as far as the table reaches; the pixels keep their entries (so their colours
 * change). Returns the number of entries set, 0 for a bad context, a context without an 8-bit
 * bitmap or a start beyond the table. GetDIBColorTable copies the same entries out. */
KGDI_API UINT SetDIBColorTable(HDC hdc, UINT start, UINT count,
                               const RGBQUAD* colors) KGDI_NOEXCEPT;
KGDI_API UINT GetDIBColorTable(HDC hdc, UINT start, UINT count, RGBQUAD* colors) KGDI_NOEXCEPT;

/* Deletes a memory device context. The bitmap selected into it is not deleted (it becomes free
 * to select elsewhere). */
KGDI_API BOOL DeleteDC(HDC hdc) KGDI_NOEXCEPT;

/* Copies a rectangle of pixels from one context to another (only SRCCOPY). Parts outside
 * either bitmap are left out. Between bitmaps of one format (8-bit ones with equal colour
 * tables) the pixel values are copied; otherwise each pixel's colour is drawn as the target
 * draws it (into an 8-bit bitmap: the entry it matches). */
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

/* The colour of one pixel, CLR_INVALID outside the bitmap or for a bad context. SetPixel
 * returns the colour set: on an 8-bit surface that of the entry the colour matched. */
KGDI_API COLORREF GetPixel(HDC hdc, int x, int y) KGDI_NOEXCEPT;
KGDI_API COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) KGDI_NOEXCEPT;

/* ---- enhanced metafiles ----------------------------------------------------------------- */

/* Reads an enhanced metafile. NULL when the file does not open, is truncated or is not a
 * well-formed metafile (every record is checked before it is kept). */
KGDI_API HENHMETAFILE GetEnhMetaFileA(const char* path) KGDI_NOEXCEPT;

/* Plays the metafile's records, its picture frame mapped onto `rect` of the context. */
KGDI_API BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE emf, const RECT* rect) KGDI_NOEXCEPT;

KGDI_API BOOL DeleteEnhMetaFile(HENHMETAFILE emf) KGDI_NOEXCEPT;

/* The bytes of a metafile as it was read: with `data` NULL their number, else copies them
 * into `data` and returns their number. 0 for a bad handle or a `size` smaller than the
 * metafile (nothing is written then). */
KGDI_API UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) KGDI_NOEXCEPT;

/* ---- device-independent bitmaps ----------------------------------------------------------- */

/* Converts `lines` rows of the bitmap, starting at row `start` counted from the bottom, into
 * the format of info->bmiHeader:
 *  - BI_RGB with 24 or 32 bits: rows padded to 4 bytes, bottom-up for a positive height;
 *    `bits` must hold the rows requested. An 8-bit bitmap gives its entries' colours.
 *  - BI_RGB with 8 bits, from an 8-bit bitmap only: its entries, rows padded to 4 bytes, and
 *    its colour table in 256 entries behind the header (black beyond the table's size).
 *  - BI_RLE8 with 8 bits: a colour table of 256 entries is written behind the header (exact
 *    when the bitmap holds at most 256 colours, otherwise a reduction of them), and the pixel
 *    indexes, bottom row first, are compressed with the RLE8 scheme (no delta escapes). The
 *    header's biSizeImage gives the room in `bits`; the result never writes past it. On success
 *    biSizeImage becomes the compressed size. An 8-bit bitmap is encoded from its entries'
 *    colours: the bytes are those of the 32-bit bitmap of the same colours.
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

/* The pixels of a context's selected 32-bit bitmap: 32-bit words 0x00RRGGBB (blue in the
 * lowest byte in memory), `pixels` the top row, each row `stride` bytes from the one above
 * (negative for a bottom-up DIB section). Valid until the bitmap is deselected or deleted.
 * FALSE for a bad context or an 8-bit bitmap (whose bits CreateDIBSection and GetObjectA
 * give). */
typedef struct KgdiSurface {
    uint32_t* pixels;
    int width;
    int height;
    int stride;
} KgdiSurface;
KGDI_API BOOL KgdiGetSurface(HDC hdc, KgdiSurface* surface) KGDI_NOEXCEPT;

/* Saves the bitmap selected into a context: KGDI_FILE_BMP writes a 24-bit BI_RGB BMP file,
 * KGDI_FILE_PNG an RGB PNG file (an 8-bit bitmap through its colour table, as the same file as
 * the 32-bit bitmap of the same colours). Returns TRUE when the whole file was written. */
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
