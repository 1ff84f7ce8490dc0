/*
 * kestrel.h: the map engine's flat C interface, and its reference documentation.
 *
 * Libraries
 *   libkestrel.so     all 23 functions below.
 *   libkestrelsrv.so  the five server entry points only: sdllinit, sdllisinit, sdlldraw,
 *                     sdllgetbmp, sdllgetimgfile. Its data set needs no dist.emf, its views
 *                     have a light green background (red 200, green 255, blue 200), black
 *                     labels without boxes, road names only at 5 m per pixel or less, and it
 *                     leaves the device context writing blue text on a transparent background.
 *   Both depend on libkgdi.so, the drawing layer (kgdi.h), whose memory device contexts the
 *   engine draws into. Link with -lkestrel -lkgdi (pkg-config: kestrel; CMake:
 *   find_package(kestrel) and the target kestrel::kestrel).
 *   On Windows the same functions are kestrel.dll and kestrelsrv.dll, drawing with the
 *   platform's GDI (this header includes windows.h there): standard-call functions exported
 *   undecorated by name and ordinal (docs/windows.md). Directories end with '\' there.
 *
 * What the engine does
 *   It keeps one map data set per process (a directory of five fixed files and one file per
 *   10000 m tile), draws map views into a caller's device context, draws overlays on the last
 *   view (points of interest, a recorded track, a highlighted road), exports the last view as
 *   an 8-bit RLE8-compressed BMP, answers "which road is here" and writes report files.
 *
 * The calling pattern
 *   1. Load a data set once: dllsetpath(dir) or sdllinit(dir, tmpdir).
 *   2. Draw a view: dlldraw(hdc, left, top, width, height, scale, "10210000").
 *   3. Optionally draw on top of it: dlldraw44, dllhisload + dllhisdraw, dllselroad,
 *      dlldrawrdtxt, dllqudrroad.
 *   4. Take the picture out: sdllgetbmp or sdllgetimgfile (or read the device context).
 *   The report functions (dlldistroad, dlldistcrrd, dlldist44, dlldistxy, dlldistsearch) need
 *   only step 1.
 *
 * Conventions for every function
 *   - Results are int. -1 means failure, not found or empty; counts are returned as last
 *     indexes (number of items - 1, so -1 is "none" and 0 is "one"). No function reports an
 *     error in words, and no function lets a C++ exception out.
 *   - Text is 8-bit, code page 950 (Big5). Names stored in the data set are fixed-width and
 *     padded with blanks: 20 bytes for roads, 28 bytes for points of interest.
 *   - World coordinates are integer metres of the projected grid, x growing east and y north.
 *     Scales are metres per pixel. A world point (x, y) is drawn at column
 *     (x - left) / scale and row (top - y) / scale, truncated toward zero; rows grow down.
 *   - Directories (data path, temporary directory) are used as prefixes: file names are
 *     appended directly, so a directory must end with '/'.
 *   - All state is process-global and unsynchronised: make one call at a time, from one
 *     thread (or serialise the calls yourself).
 *   - Buffers belong to the caller; the library keeps no pointer to them after a call.
 *   - The device context belongs to the caller. The library remembers the handle of the last
 *     view's context and draws into it or reads it again in the overlay, query and export
 *     calls, so keep it (and its bitmap) alive while you use them; a context that was deleted
 *     is detected by the drawing layer and the call draws or exports nothing.
 *   - Report files are written into the user's private folder /tmp/kestrel-UID/ (UID the
 *     numeric user id; made with mode 0700 when missing, refused when it is a link, not owned
 *     by the user or open to others). On Windows they are written into c:\ itself
 *     (c:\distroad.tmp, c:\distcrrd.tmp, c:\dist44.tmp), never through a reparse point. A report
 *     is replaced whole: it appears complete or not at all. Lines end with CR LF.
 */
#ifndef KESTREL_H
#define KESTREL_H

#if defined(_WIN32)
#include <windows.h>
#else
#include "kgdi.h"
#endif

/* The engine's export list (engine/exports.list in the sources) names these functions and their
 * ordinals; the build makes from it the module-definition files of the DLLs and the version
 * scripts of the shared libraries. On Windows the functions use the standard calling
 * convention; elsewhere the default one applies. */
#if defined(_WIN32)
#define KESTREL_API
#define KESTREL_CALL __stdcall
#elif defined(KESTREL_BUILDING)
#define KESTREL_API __attribute__((visibility("default")))
#define KESTREL_CALL
#else
#define KESTREL_API
#define KESTREL_CALL
#endif

/* No function lets a C++ exception out: to C++ callers they are declared noexcept. */
#if defined(__cplusplus)
#define KESTREL_NOEXCEPT noexcept
#else
#define KESTREL_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ==== data set ============================================================================ */

/*
 * dllsetpath: loads the map data set in the directory `path` (which must end with '/').
 *
 * The directory holds d4.txt (district index), dat44_1.bin and dat44_2.bin (points of
 * interest and their notes), alldist.txt (place catalogue), dist.emf (base map, drawn at
 * scales above 51 m per pixel) and one tile file "<tile number>.dat" per 10000 m tile. Tile
 * files are read later, when a view or a query needs them.
 *
 * Returns 1 when the five fixed files were loaded; -1 when one of them cannot be opened, when
 * a table of the engine would overflow, for a null path, or for a path longer than 103
 * characters (then nothing is stored). The path is stored before the files are read, so after
 * a failure sdllisinit() still returns 1 and the tables read before the failing file stay
 * filled. A second call replaces the district index and the catalogue, and empties the tile
 * cache when the directory differs.
 */
KESTREL_API int KESTREL_CALL dllsetpath(const char* path) KESTREL_NOEXCEPT;

/*
 * sdllinit: loads the data set as dllsetpath(path) does, then stores `tmpdir` (ending with
 * '/', at most 199 characters) as the directory of the files written by sdllgetimgfile.
 *
 * Returns the result of the load (1 or -1); -1 also when `tmpdir` is null or too long. The
 * temporary directory is stored even when the load fails. In libkestrelsrv.so the data set has
 * no dist.emf: a directory without it loads.
 */
KESTREL_API int KESTREL_CALL sdllinit(const char* path, const char* tmpdir) KESTREL_NOEXCEPT;

/*
 * sdllisinit: 1 when a data path has been stored by dllsetpath or sdllinit (even one whose
 * load failed), else -1. Servers call it to load the data set once per process.
 */
KESTREL_API int KESTREL_CALL sdllisinit(void) KESTREL_NOEXCEPT;

/*
 * dllfree: releases the base-map metafile; returns 0. Everything else stays loaded; views at
 * scales above 51 m per pixel show no base map until the data set is loaded again. Nothing
 * else needs releasing: the tables live as long as the process.
 */
KESTREL_API int KESTREL_CALL dllfree(void) KESTREL_NOEXCEPT;

/* ==== views =============================================================================== */

/*
 * dlldraw: draws a map view into the device context `hdc`.
 *
 *   hdc     a memory device context of the drawing layer with a bitmap selected
 *           (CreateCompatibleDC, CreateCompatibleBitmap, SelectObject).
 *   left    world x of the view's west edge, metres.
 *   top     world y of the view's north edge, metres.
 *   width   view width in pixels; height: view height in pixels.
 *   scale   metres per pixel, 1 or more.
 *   layers  at least 4 characters (servers pass "00210000"):
 *             [0] '1': paint the background (colour entry 0) first; else draw over what the
 *                 context shows;
 *             [2] '0': no line types 13 and 14; '1': type 13 only; above '1': both;
 *             [3] '1': place labels, and road names at 10 m per pixel or less;
 *           the other characters are not read.
 *
 * At 51 m per pixel or less the view is drawn from the tiles: up to 40 tiles of the view are
 * found in the tile cache or loaded (a missing tile file is painted as a square of colour
 * entry 11). Above 51 m per pixel it is drawn from the base-map metafile and the place
 * catalogue. Text uses the context's font, text colour and background mode.
 *
 * Returns 0 when drawn. Returns -1, and draws and stores nothing, when the scale is below 1,
 * when `hdc` is null or not a valid device context, or when `layers` is null. An accepted call
 * becomes the "last view" that the overlay, query and export calls use (context, window,
 * scale and size), and starts a new list of label boxes.
 */
KESTREL_API int KESTREL_CALL dlldraw(HDC hdc, int left, int top, int width, int height,
                                     double scale, const char* layers) KESTREL_NOEXCEPT;

/*
 * sdlldraw: the server's entry point for a view; the same arguments and results as dlldraw.
 * In libkestrelsrv.so it draws with that build's settings (see the head of this file).
 */
KESTREL_API int KESTREL_CALL sdlldraw(HDC hdc, int left, int top, int width, int height,
                                      double scale, const char* layers) KESTREL_NOEXCEPT;

/*
 * dllsetcolor: sets entry `index` (0 to 49) of the colour table to (red, green, blue) (the low
 * 8 bits of each are used) and its width to `width`, unless `width` is -1, which keeps the
 * width. Widths are in metres for entries 1 to 9 and 15 (road types; divided by the scale when
 * drawn) and in pixels for the others. Entry 0 is the background, 10 the highlight pen, 11 the
 * area fill, 13 the catalogue lines. The change takes effect at the next dlldraw.
 * Returns 0, or -1 for an index outside 0 to 49 (nothing changes).
 */
KESTREL_API int KESTREL_CALL dllsetcolor(int index, int red, int green, int blue,
                                         int width) KESTREL_NOEXCEPT;

/*
 * dlldrawrdtxt: writes the road names of the last view along its roads, one character at a
 * time, avoiding the labels already placed (each character placed is recorded as a label box).
 * dlldraw calls it itself at 10 m per pixel or less when layer character 3 is '1'. Uses the
 * context's font, text colour and background mode. Returns 0; draws nothing when no view has
 * been drawn.
 */
KESTREL_API int KESTREL_CALL dlldrawrdtxt(void) KESTREL_NOEXCEPT;

/* ==== export ============================================================================== */

/*
 * sdllgetbmp: writes the last view as a complete BMP file image into `buffer`.
 *
 * The image is W x H pixels (the size of the last view), 8 bits per pixel with a 256-entry
 * colour table, the pixel data compressed with RLE8, bottom row first:
 *   bytes 0-13     file header: "BM", file size N + 1078, 0, pixel offset 1078;
 *   bytes 14-53    info header: 40, W, H, 1 plane, 8 bits, compression 1 (RLE8), image size N;
 *   bytes 54-1077  colour table: 256 entries of blue, green, red, 0;
 *   bytes 1078-    N bytes of compressed pixel data.
 * The pixels are read from the last view's device context (after dllqudrroad, from the context
 * given to it), so the image holds the view with every overlay drawn since.
 *
 * `buffer` must hold 1078 + W x H bytes; the export never writes beyond that. Returns N, the
 * number of compressed bytes after the 1078-byte header (the whole image is N + 1078 bytes).
 * Returns -1 (and writes nothing after the header room) for a null buffer, when no view has
 * been drawn, when the view's device context has been deleted, or when the compressed data
 * would need more than W x H bytes (very narrow views, or pictures of many colours that do not
 * compress).
 */
KESTREL_API int KESTREL_CALL sdllgetbmp(unsigned char* buffer) KESTREL_NOEXCEPT;

/*
 * sdllgetimgfile: writes the last view's BMP image (as sdllgetbmp makes it) into a new file of
 * the temporary directory given to sdllinit, named "rle" followed by a unique number, and
 * writes the file's full name, NUL-terminated, into `name`, which must hold 260 bytes.
 *
 * Returns N as sdllgetbmp does; the file holds N + 1078 bytes, and deleting it is the
 * caller's business. Returns -1, leaves `name` empty and leaves no file behind for a null
 * `name`, when no view has been drawn or its context is gone, when the image would not fit
 * the library's 2,000,000-byte work buffer (1078 + W x H bytes above that), when the
 * compressed data would need more than W x H bytes, when no temporary directory was given,
 * or when the file cannot be created or written completely.
 */
KESTREL_API int KESTREL_CALL sdllgetimgfile(char* name) KESTREL_NOEXCEPT;

/* ==== overlays ============================================================================ */

/*
 * dlldraw44: draws the points of interest of the last view's tiles over the view: a blue
 * cross (2 pixels each way) at each point and its 28-byte name at (x + 2, y + 2) in the
 * context's font, text colour and background mode.
 *
 *   category  0: every category; any other value: only points of that category.
 *   mode      1: every selected point of the view's tiles, inside the view or not;
 *             2: points strictly inside the view whose name box overlaps no label of the view
 *                (place labels, road names, boxes of earlier overlays);
 *             3: points strictly inside the view whose name box overlaps no box drawn earlier
 *                in this same call;
 *             any other value: nothing.
 *   In modes 2 and 3 the name box, (x - 5, y - 5) to (x + 7 e + 10, y + 15) with e the
 *   name's length without trailing blanks, is recorded as a label box, so later labels avoid
 *   it; when the list of label boxes (3000) is full the point is not drawn.
 *
 * Only tiles that the last view at 51 m per pixel or less drew are used; nothing is loaded.
 * Returns 0 always; nothing is drawn when no view has been drawn or dat44_1.bin cannot be
 * read, and a block of records that lies outside the file is skipped.
 */
KESTREL_API int KESTREL_CALL dlldraw44(int category, int mode) KESTREL_NOEXCEPT;

/*
 * dllhisload: replaces the track with the points of the text file `path`.
 *
 * A line that starts with the lower-case letters "xy" carries a point: a first word (skipped
 * whatever follows "xy"), then the integers X and Y, separated by white space, for example
 * "xy 302500 2765400". Other lines are ignored, and so are points outside
 * 110000 < X < 360000, 2410000 < Y < 2810000 (bounds excluded). At most 20000 points are kept;
 * later ones are ignored. Lines are read in pieces of at most 498 characters.
 *
 * Returns the key of the first point, (Y / 1000) x 1000 + X / 1000 (its kilometre row and
 * column: column = key % 1000, row = key / 1000). Returns -1, and leaves the track empty, for
 * a null path, a file that cannot be opened, or a file without any accepted point.
 */
KESTREL_API int KESTREL_CALL dllhisload(const char* path) KESTREL_NOEXCEPT;

/*
 * dllhisdraw: draws the track inside the world window west < X < east, south < Y < north as
 * green (red 0, green 128, blue 0) lines 2 pixels wide into the last view's device context,
 * the window's north-west corner at pixel (0, 0) and the last view's scale; pass the window of
 * the view that was drawn. A point outside the window, or on its edge, breaks the line; a lone
 * point inside draws nothing. Returns 0 always; draws nothing when the track is empty or no
 * view has been drawn.
 */
KESTREL_API int KESTREL_CALL dllhisdraw(int west, int south, int east, int north) KESTREL_NOEXCEPT;

/*
 * dllhisfree: empties the track; returns 0. dllhisdraw then draws nothing until the next
 * dllhisload.
 */
KESTREL_API int KESTREL_CALL dllhisfree(void) KESTREL_NOEXCEPT;

/* ==== road queries ======================================================================== */

/*
 * dllselroad: draws every road of the last view whose 20-byte name begins with `name` over
 * the view, with the pen of colour entry 10 (default black, 2 pixels). Pass the full
 * blank-padded 20-byte name to match one road exactly; a name longer than 20 bytes is cut to
 * 20. Only the tiles of the last view are searched (types 1 to 9).
 *
 * Returns the number of road pieces drawn minus one (0: one piece); -1 when none matched or no
 * view has been drawn; -2 for an empty or null name (nothing is drawn).
 */
KESTREL_API int KESTREL_CALL dllselroad(const char* name) KESTREL_NOEXCEPT;

/*
 * dllquroad: finds the road at world position (x, y) for a view at `scale` metres per pixel:
 * the first road (types 1 to 9) of the position's tile within 2, 4, 6 ... metres, up to
 * 4 x scale. The tile is loaded into the tile cache when it is not there.
 *
 * `text` must hold 29 bytes. On success it receives the road text: bytes 0-2 the district
 * code ("%3d"), byte 3 '0' + the road type, bytes 4-7 the road code, bytes 8-27 the 20-byte
 * name, byte 28 NUL (a NUL inside the code or the name shortens the text as C string).
 *
 * Returns the road's reference, slot x 100000 + record (0 or more; valid only until the tile
 * cache reuses the slot). Returns -1, with `text` empty, when no road lies within the
 * tolerance, the tile file is missing, the scale is below 0.5, or `text` is null.
 */
KESTREL_API int KESTREL_CALL dllquroad(int x, int y, double scale, char* text) KESTREL_NOEXCEPT;

/*
 * dllquroad2: as dllquroad, and on success writes into *slope the slope of the road segment
 * that was hit, in map units (rise to the north over run to the east; 1.0 for a vertical
 * segment). On failure *slope is left unchanged. -1 (and `text` emptied when it is not null)
 * also for a null `text` or `slope`.
 */
KESTREL_API int KESTREL_CALL dllquroad2(int x, int y, double scale, char* text,
                                        double* slope) KESTREL_NOEXCEPT;

/*
 * dllqudrroad: finds the road at (x, y) as dllquroad does and draws it into `hdc`, a view
 * whose north-west corner is the world point (left, top) at `scale`, with the pen of colour
 * entry 10. On success `hdc` becomes the last view's device context (the width and height stay
 * those of the last dlldraw), so later overlays and exports use it.
 *
 * Returns 0 when a road was found and drawn; -1 otherwise, with `text` empty, nothing drawn
 * and the last view unchanged; -1 also for a null `text` or `hdc`.
 */
KESTREL_API int KESTREL_CALL dllqudrroad(int x, int y, double scale, char* text, HDC hdc, int left,
                                         int top) KESTREL_NOEXCEPT;

/* ==== reports ============================================================================= */

/*
 * dlldistroad: writes the district road report /tmp/kestrel-UID/distroad.tmp: every distinct
 * road name of the district `code`, once, with the world position of the first vertex of its
 * first piece. Each line is the 20-byte name, 7 blanks, X, a blank, Y.
 *
 * Returns the number of lines minus one (-1: an empty report, for example an unknown
 * district); -1 and no report when the report folder is refused or the file cannot be written.
 */
KESTREL_API int KESTREL_CALL dlldistroad(int code) KESTREL_NOEXCEPT;

/*
 * dlldistcrrd: writes the meeting-roads report /tmp/kestrel-UID/distcrrd.tmp: the roads that
 * share a vertex with the road called `name` in the district `code`, each once, at the first
 * shared vertex, in the format of dlldistroad.
 *
 * `name` must be a writable buffer of at least 21 bytes: it is padded in place with blanks to
 * 20 bytes and ended with a NUL at byte 20 (a longer name is cut to 20). Returns the number of
 * lines minus one; -1 for an empty report, a null `name`, or a report that cannot be written.
 */
KESTREL_API int KESTREL_CALL dlldistcrrd(int code, char* name) KESTREL_NOEXCEPT;

/*
 * dlldist44: writes the point-of-interest report /tmp/kestrel-UID/dist44.tmp with the points
 * of district `code` whose category equals `category` exactly (0 selects category 0 only).
 * Each line: the name (28 bytes), 7 blanks, X, a blank, Y, two blanks, and the point's 52-byte
 * note when it has one.
 *
 * Returns the number of lines minus one; -1 for an empty report, and -1 with no report when
 * the data files cannot be opened or the report cannot be written.
 */
KESTREL_API int KESTREL_CALL dlldist44(int code, int category) KESTREL_NOEXCEPT;

/*
 * dlldistxy: writes dist44.tmp (format of dlldist44) with the points strictly inside the
 * square of half side `r` metres around the world position (x, y); category 0 selects every
 * category, any other value that category only. Results as dlldist44 (r of 0 or less: an
 * empty report, -1).
 */
KESTREL_API int KESTREL_CALL dlldistxy(int x, int y, int r, int category) KESTREL_NOEXCEPT;

/*
 * dlldistsearch: writes dist44.tmp (format of dlldist44) with every point whose 28-byte name
 * contains the bytes of `text`; the empty text selects every point, a text longer than 28
 * bytes none. Results as dlldist44; -1 for a null `text`.
 */
KESTREL_API int KESTREL_CALL dlldistsearch(const char* text) KESTREL_NOEXCEPT;

#ifdef __cplusplus
}
#endif

#endif /* KESTREL_H */
