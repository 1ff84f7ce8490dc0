// engine_dataset.h: a small data set in the fuzz targets' private folder, with the files that
// loading it needs: d4.txt (districts 101 and 102), alldist.txt (one town), an empty dist.emf
// (read as "no base map") and the tile 277025 (x 250000-260000, y 2770000-2780000) holding one
// road and one named place. The point-of-interest files are the target's business.
#ifndef KESTREL_FUZZ_ENGINE_DATASET_H
#define KESTREL_FUZZ_ENGINE_DATASET_H

#include <cstdint>
#include <cstring>
#include <vector>

#include "private_dir.h"

namespace fuzz_support {

inline constexpr int32_t kTile = 277025;
inline constexpr int32_t kTileWest = 250000;
inline constexpr int32_t kTileSouth = 2770000;

// The tile file: 128-byte header, one road (section B, two vertices from the delta stream),
// one place (section C) anchored at the road's first vertex, two 20-byte names.
inline std::vector<uint8_t> tile_file() {
    std::vector<uint8_t> t(128, 0);
    const auto set32 = [&](std::size_t at, int32_t v) { std::memcpy(&t[at], &v, 4); };
    const auto add16 = [&](int v) {
        t.push_back(uint8_t(v & 0xff));
        t.push_back(uint8_t((v >> 8) & 0xff));
    };
    set32(8, 4);    // stride of sections A, C, D
    set32(12, -1);  // section A: empty
    set32(16, -1);  // anchor base: the place sits on vertex 0
    set32(20, 128);
    set32(24, 0);  // section B: one road
    set32(28, 16);
    set32(32, 128);
    set32(36, 0);  // section C: one place
    set32(40, 144);
    set32(44, -1);  // section D: empty
    set32(48, 148);
    set32(52, -1);  // no stored vertices
    set32(56, 148);
    set32(64, 148);  // delta stream
    set32(68, 1);    // two names
    set32(76, 150);
    set32(84, kTileWest);
    set32(88, kTileSouth);
    set32(96, kTile);
    // Road: type 3, first vertex (2000, 3000) (count adjustment 0), coded count 2, code "R1",
    // name 0, district 101.
    for (int v : {3, 2000, 3000, 2}) add16(v);
    for (char c : {'R', '1', '\0', '\0'}) t.push_back(uint8_t(c));
    add16(0);
    add16(101);
    add16(21);  // place: type 21, name 1
    add16(1);
    t.push_back(100);  // delta (+100, -50)
    t.push_back(uint8_t(-50));
    for (const char* name : {"Main Road", "Town"}) {
        char padded[20];
        std::memset(padded, ' ', sizeof padded);
        std::memcpy(padded, name, std::strlen(name));
        t.insert(t.end(), padded, padded + sizeof padded);
    }
    return t;
}

// Writes the fixed files of the data set into the private folder (once per process).
inline const PrivateDir& engine_dataset() {
    static const PrivateDir& dir = []() -> const PrivateDir& {
        const PrivateDir& d = PrivateDir::get();
        d.put("d4.txt", "101 277025\r\n102 277025\r\n102 276025\r\n");
        d.put("alldist.txt", "city Town 252000 2773000\r\n");
        d.put("dist.emf", "", 0);
        const std::vector<uint8_t> tile = tile_file();
        d.put("277025.dat", tile.data(), tile.size());
        return d;
    }();
    return dir;
}

}  // namespace fuzz_support

#endif  // KESTREL_FUZZ_ENGINE_DATASET_H
