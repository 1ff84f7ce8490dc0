/*
 * map_client.c: a small client of the map engine in C.
 *
 * It loads a data set, draws a map view into a memory device context of the drawing layer,
 * draws the points of interest over it, takes the picture out twice (into a buffer with
 * sdllgetbmp, saved as view.bmp, and as a temporary file with sdllgetimgfile), writes the
 * district road report with dlldistroad, and prints what it did.
 *
 * Usage: map_client DATA_DIR TMP_DIR OUT_DIR [LEFT TOP SCALE DISTRICT]
 *   DATA_DIR, TMP_DIR  directories ending with '/'
 *   OUT_DIR            where view.bmp is written
 *   LEFT TOP           world position of the view's north-west corner (default 300000 2767760)
 *   SCALE              metres per pixel (default 10)
 *   DISTRICT           district code of the road report (default 101)
 * Exit status 0 when every step worked, 1 otherwise.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kestrel.h"
#include "kgdi.h"

enum { VIEW_WIDTH = 356, VIEW_HEIGHT = 276, BMP_HEADER_BYTES = 1078, NAME_ROOM = 260 };

static void usage(FILE* out) {
    fprintf(out,
            "usage: map_client DATA_DIR TMP_DIR OUT_DIR [LEFT TOP SCALE DISTRICT]\n"
            "  Loads the data set in DATA_DIR, draws a %d x %d view with its points of\n"
            "  interest, exports it to OUT_DIR/view.bmp and to a file in TMP_DIR, and\n"
            "  writes the district road report. Directories end with '/'.\n",
            VIEW_WIDTH, VIEW_HEIGHT);
}

int main(int argc, char** argv) {
    if (argc == 2 && (strcmp(argv[1], "--help") == 0 || strcmp(argv[1], "-h") == 0)) {
        usage(stdout);
        return 0;
    }
    if (argc != 4 && argc != 8) {
        usage(stderr);
        return 1;
    }
    const char* data_dir = argv[1];
    const char* tmp_dir = argv[2];
    const char* out_dir = argv[3];
    const int left = argc == 8 ? atoi(argv[4]) : 300000;
    const int top = argc == 8 ? atoi(argv[5]) : 2767760;
    const double scale = argc == 8 ? atof(argv[6]) : 10.0;
    const int district = argc == 8 ? atoi(argv[7]) : 101;
    int status = 1;

    /* 1. The data set, once per process. */
    const int loaded = sdllinit(data_dir, tmp_dir);
    printf("data set %s: %s\n", data_dir, loaded == 1 ? "loaded" : "NOT loaded");
    if (loaded != 1) return 1;

    /* 2. A surface to draw into: a memory device context with a bitmap. */
    HDC dc = CreateCompatibleDC(NULL);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, VIEW_WIDTH, VIEW_HEIGHT);
    HGDIOBJ old_bitmap = SelectObject(dc, bitmap);
    unsigned char* image = malloc(BMP_HEADER_BYTES + (size_t)VIEW_WIDTH * VIEW_HEIGHT);
    if (dc == NULL || bitmap == NULL || old_bitmap == NULL || image == NULL) {
        fprintf(stderr, "map_client: cannot make a drawing surface\n");
        goto done;
    }
    SetBkMode(dc, TRANSPARENT); /* labels without boxes behind them */

    /* 3. The view, then the points of interest over it. */
    const int drawn = dlldraw(dc, left, top, VIEW_WIDTH, VIEW_HEIGHT, scale, "10210000");
    printf("view at (%d, %d), %g m per pixel: %s\n", left, top, scale,
           drawn == 0 ? "drawn" : "NOT drawn");
    if (drawn != 0) goto done;
    printf("points of interest: %d\n", dlldraw44(0, 2));

    /* 4. The picture into a buffer of 1078 + W x H bytes, saved as a file of our own. */
    const int n = sdllgetbmp(image);
    if (n < 0) {
        fprintf(stderr, "map_client: sdllgetbmp refused the view\n");
        goto done;
    }
    char path[4096];
    snprintf(path, sizeof path, "%sview.bmp", out_dir);
    FILE* out = fopen(path, "wb");
    if (out == NULL ||
        fwrite(image, 1, (size_t)n + BMP_HEADER_BYTES, out) != (size_t)n + BMP_HEADER_BYTES) {
        fprintf(stderr, "map_client: cannot write %s\n", path);
        if (out != NULL) fclose(out);
        goto done;
    }
    if (fclose(out) != 0) goto done;
    printf("sdllgetbmp: %d bytes of RLE8 pixels, %d bytes written to %s\n", n, n + BMP_HEADER_BYTES,
           path);

    /* 5. The same picture as a temporary file of the library. */
    char name[NAME_ROOM];
    const int n2 = sdllgetimgfile(name);
    if (n2 < 0) {
        fprintf(stderr, "map_client: sdllgetimgfile refused the view\n");
        goto done;
    }
    printf("sdllgetimgfile: %d bytes of RLE8 pixels in %s\n", n2, name);

    /* 6. A report file. */
    const int last = dlldistroad(district);
    printf("district %d road report: %d lines\n", district, last + 1);
    status = 0;

done:
    free(image);
    if (dc != NULL) {
        if (old_bitmap != NULL) SelectObject(dc, old_bitmap);
        DeleteDC(dc);
    }
    if (bitmap != NULL) DeleteObject(bitmap);
    return status;
}
