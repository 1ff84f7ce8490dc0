// fuzz_tile.cpp: libFuzzer target for tile files. Every input is decoded into a slot; a
// refused input must leave the slot empty, an accepted one must keep every record inside the
// slot's arrays.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "data/tile_decoder.h"
#include "data_invariants.h"

namespace {
kestrel::data::TileSlot g_slot;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* refused = kestrel::data::decode_tile(data, size, g_slot);
    if (refused && g_slot.header.tile_number != 0) std::abort();
    if (const char* wrong = data_invariants::check_slot(g_slot)) {
        std::fprintf(stderr, "broken slot: %s\n", wrong);
        std::abort();
    }
    return 0;
}
