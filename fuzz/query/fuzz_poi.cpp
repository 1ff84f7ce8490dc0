// fuzz_poi.cpp: libFuzzer target for the point-of-interest files dat44_1.bin and dat44_2.bin,
// read by the three point reports and by the overlay. An input is
//   byte 0      district of dlldist44: 100 + byte % 4 (101 and 102 are in d4.txt)
//   byte 1      category (signed) of dlldist44, dlldistxy and dlldraw44
//   byte 2      overlay mode: byte % 4 (0 draws nothing)
//   byte 3      scale of the view: 1 + byte % 50 metres per pixel
//   bytes 4, 5  centre of dlldistxy: 250000 + 40 x byte, 2770000 + 40 x byte
//   byte 6      half side of dlldistxy: 40 x byte
//   byte 7      length n of the search text (byte % 32), which follows as the next n bytes
//   2 bytes     size of dat44_1.bin (little-endian), which follows; the rest is dat44_2.bin.
// The two files go into a private data set (see engine_dataset.h), which is loaded through the
// C interface; reports go to the private folder. Each report's result must match the lines it
// wrote.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "engine_dataset.h"
#include "kestrel.h"
#include "query/query.h"

namespace {

struct View {
    HDC dc;
    View() : dc(CreateCompatibleDC(nullptr)) {
        SelectObject(dc, CreateCompatibleBitmap(dc, 96, 64));
        SetBkMode(dc, TRANSPARENT);
    }
};

// Aborts unless the point report holds result + 1 lines (none for -1).
void check_report(int result, const std::string& report) {
    std::ifstream in(report, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), {}};
    std::size_t lines = 0;
    for (std::size_t at = text.find("\r\n"); at != std::string::npos;
         at = text.find("\r\n", at + 2))
        ++lines;
    if (result < -1 || (result >= 0 && lines != std::size_t(result) + 1)) {
        std::fprintf(stderr, "report says %d, holds %zu lines\n", result, lines);
        std::abort();
    }
    std::remove(report.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzz_support::PrivateDir& dir = fuzz_support::engine_dataset();
    static const std::string report = [&] {
        if (!kestrel::query::set_report_base(dir.path().c_str())) std::abort();
        char folder[512];
        if (!kestrel::query::report_folder(folder, sizeof folder)) std::abort();
        return std::string(folder) + "/dist44.tmp";
    }();
    static View view;

    if (size < 10) return 0;
    const int district = 100 + data[0] % 4;
    const int category = static_cast<int8_t>(data[1]);
    const int mode = data[2] % 4;
    const double scale = 1 + data[3] % 50;
    const int x = fuzz_support::kTileWest + 40 * data[4];
    const int y = fuzz_support::kTileSouth + 40 * data[5];
    const int r = 40 * data[6];
    std::size_t at = 8;
    const std::size_t text_length = data[7] % 32;
    if (size < at + text_length + 2) return 0;
    const std::string text(reinterpret_cast<const char*>(data + at), text_length);
    at += text_length;
    std::size_t poi_size = data[at] | std::size_t(data[at + 1]) << 8;
    at += 2;
    if (poi_size > size - at) poi_size = size - at;
    dir.put("dat44_1.bin", data + at, poi_size);
    dir.put("dat44_2.bin", data + at + poi_size, size - at - poi_size);

    if (dllsetpath(dir.path().c_str()) != 1) std::abort();  // the fixed files all load
    check_report(dlldist44(district, category), report);
    check_report(dlldistxy(x, y, r, category), report);
    check_report(dlldistsearch(text.c_str()), report);

    // A view inside the tile, then the overlay on it.
    if (dlldraw(view.dc, 252000, 2778000, 96, 64, scale, "10110000") != 0) std::abort();
    if (dlldraw44(category, mode) != 0) std::abort();
    return 0;
}
