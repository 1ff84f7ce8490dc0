/*
 * kbmp2gif.h: the BMP-to-GIF converter component (libkbmp2gif.so).
 *
 * A converter object reads a BMP file (8 bits with or without RLE8 compression, 24 or 32 bits)
 * and writes it as a GIF file. Images of at most 256 colours keep their exact colours; images
 * with more are reduced to 256 colours by median-cut quantisation.
 *
 * The interface mirrors the two members that the request server uses:
 *  - member 1, kbmp2gif_convert: convert one file;
 *  - member 3, kbmp2gif_failed: whether the last conversion failed.
 * A failed conversion leaves no GIF file behind and never replaces an existing one halfway:
 * the GIF is written under a temporary name in the target folder and renamed into place.
 *
 * Objects are independent; one object must not be used from two threads at once. No function
 * crashes on a null object: it fails (or reports failure) instead.
 */
#ifndef KBMP2GIF_H
#define KBMP2GIF_H

#if defined(KBMP2GIF_BUILDING)
#define KBMP2GIF_API __attribute__((visibility("default")))
#else
#define KBMP2GIF_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct KBmp2Gif KBmp2Gif;

/* Flags for kbmp2gif_convert. */
#define KBMP2GIF_PLAIN 0      /* rows in order (what the request server asks for) */
#define KBMP2GIF_INTERLACED 1 /* rows in the four interlace passes of the GIF format */

/* Makes a converter whose failure flag is clear. NULL when memory is short. */
KBMP2GIF_API KBmp2Gif* kbmp2gif_create(void);

/* Member 1: converts the BMP file `bmp_path` to the GIF file `gif_path` (replacing a file of
 * that name). `flag` is KBMP2GIF_PLAIN or KBMP2GIF_INTERLACED; other values are refused.
 * Sets the failure flag to 0 on success and 1 on any failure (unreadable or malformed BMP,
 * unwritable GIF path, a null argument), and returns the new flag. The BMP file is not
 * touched. */
KBMP2GIF_API int kbmp2gif_convert(KBmp2Gif* converter, const char* bmp_path, const char* gif_path,
                                  int flag);

/* Member 3: 1 when the last conversion failed, 0 when it wrote the GIF file; 1 for a null
 * converter; 0 for a fresh one. */
KBMP2GIF_API int kbmp2gif_failed(const KBmp2Gif* converter);

/* Why the last conversion failed, in English, or "" after a success or for a fresh
 * converter. Valid until the next call on the same converter. */
KBMP2GIF_API const char* kbmp2gif_error(const KBmp2Gif* converter);

/* Frees the converter; NULL is allowed. */
KBMP2GIF_API void kbmp2gif_destroy(KBmp2Gif* converter);

#ifdef __cplusplus
}
#endif

#endif /* KBMP2GIF_H */
