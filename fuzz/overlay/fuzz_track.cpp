// fuzz_track.cpp: libFuzzer target for track files. Each input is written to a file of a
// private folder and loaded with dllhisload; the track is then drawn over a view inside the
// tile 277025 twice: through the view's own window and through the whole accepted range
// (points far outside the bitmap). A load that succeeds must give the key of a point inside
// the accepted range.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kestrel.h"
#include "private_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const fuzz_support::PrivateDir& dir = fuzz_support::PrivateDir::get();
    static const std::string track = dir.file("track.txt");
    static HDC dc = [] {
        HDC d = CreateCompatibleDC(nullptr);
        SelectObject(d, CreateCompatibleBitmap(d, 100, 80));
        // No data set: the view's tiles are missing and painted as squares.
        if (dlldraw(d, 250000, 2778000, 100, 80, 20.0, "10000000") != 0) std::abort();
        return d;
    }();
    (void)dc;

    dir.put("track.txt", data, size);
    const int key = dllhisload(track.c_str());
    if (key != -1) {
        const int column = key % 1000, row = key / 1000;
        if (column < 110 || column > 359 || row < 2410 || row > 2809) {
            std::fprintf(stderr, "key %d of no accepted point\n", key);
            std::abort();
        }
    }
    dllhisdraw(250000, 2776400, 252000, 2778000);
    dllhisdraw(110000, 2410000, 360000, 2810000);
    return 0;
}
