// tile_cache.cpp: the 80-slot tile cache: finding a tile's slot, choosing a slot round the
// ring, and reading a tile file (read_tile_file) through the work buffer into the slot.
#include <cstdio>

#include "data/reader.h"
#include "data/store.h"
#include "data/store_detail.h"

namespace kestrel::data {

namespace {

// Records why a tile file was refused, for last_error().
void set_error(const char* why) noexcept {
    std::snprintf(detail::error_buffer(), detail::kErrorBytes, "tile file: %s", why);
}

// The slot that the next load may fill: the first, searching round the ring from its
// position, that was never filled or is not in the current view; -1 when every slot is both.
int choose_slot() noexcept {
    const TileCache& cache = tile_cache();
    const int start = cache.ring >= 0 && cache.ring < SLOT_COUNT ? cache.ring : 0;
    for (int i = 0; i < SLOT_COUNT; ++i) {
        const int s = (start + i) % SLOT_COUNT;
        const TileHeader& h = cache.slots[s].header;
        if (h.tile_number == 0 || h.in_view == 0) return s;
    }
    return -1;
}

}  // namespace

int find_slot(int32_t tile) noexcept {
    if (tile == 0) return -1;  // 0 is the tile number of an empty slot, never of a tile
    const TileSlot* slots = tile_cache().slots;
    for (int s = 0; s < SLOT_COUNT; ++s)
        if (slots[s].header.tile_number == tile) return s;
    return -1;
}

int load_tile(std::FILE* file) noexcept {
    if (file == nullptr) return -1;
    const int s = choose_slot();
    if (s < 0) {
        set_error("every slot holds a tile of the current view");
        std::fclose(file);
        return -1;
    }
    const char* why =
        read_tile_file(file, TileFileBuffer(work_buffer(), WORK_BUFFER_SIZE), slot(s));
    std::fclose(file);
    if (why != nullptr) {
        set_error(why);
        return -1;
    }
    TileCache& cache = tile_cache();
    cache.ring = s + 1 < SLOT_COUNT ? s + 1 : 0;
    return s;
}

bool tile_file_name(int32_t tile, char* out, std::size_t out_size) noexcept {
    return tile_file_name(dataset().data_path, tile, out, out_size);
}

int find_or_load_tile(int32_t tile) noexcept {
    if (const int s = find_slot(tile); s >= 0) return s;
    char name[DATA_PATH_MAX + 32];
    if (!tile_file_name(tile, name, sizeof name)) return -1;
    std::FILE* file = std::fopen(name, "rb");
    if (file == nullptr) return -1;
    return load_tile(file);
}

}  // namespace kestrel::data
