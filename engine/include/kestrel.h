/*
 * kestrel.h: the map engine's flat C interface (libkestrel.so; libkestrelsrv.so offers the five
 * sdll functions only).
 *
 * The engine keeps one map data set per process, draws map views into a caller's device
 * context of the drawing layer (kgdi.h), draws overlays on the last view, exports it as an
 * 8-bit RLE8 BMP, answers road queries and writes report files.
 *
 * Conventions for every function:
 *  - Results are int. -1 means failure, not found or empty; counts are returned as last
 *    indexes (number of items - 1).
 *  - Text is 8-bit, code page 950 (Big5).
 *  - World coordinates are integer metres of the projected grid, x east, y north; scales are
 *    metres per pixel.
 *  - All state is process-global and unsynchronised: make one call at a time.
 *  - Buffers belong to the caller; the library keeps no pointer to them after a call. The
 *    device context belongs to the caller; the library keeps its handle as the last view's and
 *    draws into it again in the overlay, query and export calls.
 */
#ifndef KESTREL_H
#define KESTREL_H

#include "kgdi.h"

#if defined(KESTREL_BUILDING)
#define KESTREL_API __attribute__((visibility("default")))
#else
#define KESTREL_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- data set ---- */
KESTREL_API int dllsetpath(const char* path);
KESTREL_API int sdllinit(const char* path, const char* tmpdir);
KESTREL_API int sdllisinit(void);
KESTREL_API int dllfree(void);

/* ---- views ---- */
KESTREL_API int dlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                        const char* layers);
KESTREL_API int sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                         const char* layers);
KESTREL_API int dllsetcolor(int index, int red, int green, int blue, int width);
KESTREL_API int dlldrawrdtxt(void);

/* ---- export ---- */
KESTREL_API int sdllgetbmp(unsigned char* buffer);
KESTREL_API int sdllgetimgfile(char* name);

/* ---- overlays ---- */
KESTREL_API int dlldraw44(int category, int mode);
KESTREL_API int dllhisload(const char* path);
KESTREL_API int dllhisdraw(int west, int south, int east, int north);
KESTREL_API int dllhisfree(void);

/* ---- road queries ---- */
KESTREL_API int dllselroad(const char* name);
KESTREL_API int dllquroad(int x, int y, double scale, char* text);
KESTREL_API int dllquroad2(int x, int y, double scale, char* text, double* slope);
KESTREL_API int dllqudrroad(int x, int y, double scale, char* text, HDC hdc, int left, int top);

/* ---- reports ---- */
KESTREL_API int dlldistroad(int code);
KESTREL_API int dlldistcrrd(int code, char* name);
KESTREL_API int dlldist44(int code, int category);
KESTREL_API int dlldistxy(int x, int y, int r, int category);
KESTREL_API int dlldistsearch(const char* text);

#ifdef __cplusplus
}
#endif

#endif /* KESTREL_H */
