/*
 * fuzz_readers.cpp: libFuzzer entry for the drawing layer's file readers. Each input goes to
 * the metafile reader, and a metafile it accepts is played into a small bitmap through a
 * rectangle that both shrinks and flips it; then the same bytes go to the BMP reader. Every
 * handle made is freed, and the live-object count must come back to where it was.
 */
#include <cstdlib>

#include "kgdi.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static HDC dc = [] {
        HDC d = CreateCompatibleDC(nullptr);
        SelectObject(d, CreateCompatibleBitmap(d, 48, 32));
        return d;
    }();
    const int live = KgdiLiveObjectCount();
    if (HENHMETAFILE emf = KgdiLoadEnhMetaFile(data, size)) {
        const RECT rects[2] = {{2, 3, 40, 30}, {45, 30, -5, -2}};
        for (const RECT& r : rects) PlayEnhMetaFile(dc, emf, &r);
        DeleteEnhMetaFile(emf);
    }
    KgdiImage image{};
    if (KgdiDecodeBmp(data, size, &image)) {
        if (image.width <= 0 || image.height <= 0 || !image.pixels) std::abort();
        KgdiFreeImage(&image);
    }
    if (KgdiLiveObjectCount() != live) std::abort();
    return 0;
}
