// pmtiles_fixture.cpp: writes a PMTiles archive large enough for leaf directories, whose tiles
// say where they are. Of zooms 0 to 9, with h = (7919 x + 104729 y + 31 z) mod 101, a tile is
// absent when h is a multiple of 4, else its bytes are "z/x/y" and h dots; but the western half
// of zoom 9 is one repeated "sea" tile (a run, one stored content). Tiles are added from the
// last to the first, so the writer has to order them.
//
//   pmtiles_fixture OUT.pmtiles
#include <cstdio>
#include <string>

#include "pmtiles.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: pmtiles_fixture OUT.pmtiles\n");
        return 2;
    }
    std::string error;
    auto w = kseed::PmtilesWriter::create(argv[1], error);
    for (int z = 9; w && z >= 0; --z)
        for (long x = (1L << z) - 1; x >= 0; --x)
            for (long y = (1L << z) - 1; y >= 0; --y) {
                const bool sea = z == 9 && x < 256;
                const long h = (7919 * x + 104729 * y + 31 * z) % 101;
                if (!sea && h % 4 == 0) continue;
                const std::string bytes = sea ? "sea"
                                              : std::to_string(z) + "/" + std::to_string(x) + "/" +
                                                    std::to_string(y) +
                                                    std::string(static_cast<size_t>(h), '.');
                if (!w->add(z, x, y, bytes, error)) w.reset();
            }
    kseed::ArchiveInfo info;
    info.name = "fixture";
    info.minzoom = 0;
    info.maxzoom = 9;
    if (!w || !w->finish(info, error)) {
        std::fprintf(stderr, "pmtiles_fixture: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
