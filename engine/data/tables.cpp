// tables.cpp: the process-global storage of the data store.
//
// The tile cache (about 53 MB) and the work buffer are zero-initialised static data: they sit
// in the library's bss, so the pages of slots that are never filled are never touched and cost
// no resident memory. The data set's tables start empty (last indexes -1); only the counters
// are set at load, which touches one page.
#include <cstring>

#include "data/store.h"
#include "data/store_detail.h"
#include "data/tile_decoder.h"

namespace kestrel::data {

namespace {

TileCache g_cache;  // zero: every slot never filled, ring at 0
DataSet g_data;     // zero apart from the counters set below
alignas(64) uint8_t g_work[WORK_BUFFER_SIZE];
char g_last_error[detail::kErrorBytes];

// Sets the counters of the data set's tables to "empty" when the library is loaded.
struct EmptyCounters {
    EmptyCounters() noexcept {
        g_data.tile_index_last = -1;
        g_data.place_last = -1;
        g_data.point_last = -1;
    }
} g_empty_counters;

}  // namespace

DataSet& dataset() noexcept {
    return g_data;
}
TileCache& tile_cache() noexcept {
    return g_cache;
}
uint8_t* work_buffer() noexcept {
    return g_work;
}

const char* last_error() noexcept {
    return g_last_error;
}

namespace detail {
char* error_buffer() noexcept {
    return g_last_error;
}
}  // namespace detail

void empty_tile_cache() noexcept {
    static constexpr TileHeader kNeverFilled{};
    for (TileSlot& s : g_cache.slots) {
        // Headers that are still all zero are left untouched, so their pages stay unmapped.
        if (std::memcmp(&s.header, &kNeverFilled, sizeof kNeverFilled) != 0)
            std::memset(&s.header, 0, sizeof s.header);
    }
    g_cache.ring = 0;
}

void reset_all() noexcept {
    free_base_map();
    std::memset(&g_data, 0, sizeof g_data);
    g_data.tile_index_last = -1;
    g_data.place_last = -1;
    g_data.point_last = -1;
    empty_tile_cache();
    g_last_error[0] = '\0';
}

}  // namespace kestrel::data
