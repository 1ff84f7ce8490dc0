// bench_tiles.h: tile files for the data store's benchmarks, written with the data-set writer.
#ifndef KESTREL_BENCH_DATA_BENCH_TILES_H
#define KESTREL_BENCH_DATA_BENCH_TILES_H

#include <string>

#include "writer.h"

namespace bench_tiles {

constexpr int32_t kTile = 277025;  // south-west corner (250000, 2770000)

// A tile that fills a slot to every capacity: 4000 lines and 1000 roads of 19 vertices, 5000
// named places (10000 records, 100000 vertices, 5000 names; about 512 KB on disk).
inline kdataset::Tile full_tile(int32_t number = kTile) {
    kdataset::Tile t;
    t.number = number;
    const int32_t x0 = (number % 1000) * 10000, y0 = (number / 1000) * 10000;
    const auto zigzag = [&](int i, int step) {
        std::vector<kdataset::WorldPoint> pts;
        for (int k = 0; k < 19; ++k)
            pts.push_back({x0 + (i * 7) % 9000 + k * step, y0 + (i * 13) % 9000 + (k % 2) * step});
        return pts;
    };
    for (int i = 0; i < 4000; ++i) t.lines.push_back({int16_t(10 + i % 11), zigzag(i, 40)});
    for (int i = 0; i < 1000; ++i)
        t.roads.push_back({int16_t(1 + i % 9), zigzag(i, 50), "R" + std::to_string(i % 100),
                           "Road " + std::to_string(i % 500), int16_t(100 + i % 12)});
    for (int i = 0; i < 5000; ++i)
        t.places.push_back(
            {21, {x0 + i % 9000, y0 + (i * 3) % 9000}, "Place " + std::to_string(i)});
    return t;
}

}  // namespace bench_tiles

#endif  // KESTREL_BENCH_DATA_BENCH_TILES_H
