// limits.h: the capacities of the data store's tables and the numbering of the tiles.
//
// Written once here and used by the engine, the data-set writer, the importer, the sample
// generator and the messages that name a capacity. The header depends on nothing else, so the
// tools include it without the rest of the engine.
//
// Tile number = (y div 10000) * 1000 + (x div 10000), that is row * 1000 + column.
#ifndef KESTREL_DATA_LIMITS_H
#define KESTREL_DATA_LIMITS_H

#include <cstddef>
#include <cstdint>

namespace kestrel::data {

// ---- capacities ------------------------------------------------------------------------
inline constexpr int SLOT_COUNT = 80;
inline constexpr int MAX_RECORDS = 10000;    // FeatureRecords per slot
inline constexpr int MAX_VERTICES = 100000;  // vertices per slot (file + decoded)
inline constexpr int MAX_NAMES = 5000;       // NameRecords per slot
inline constexpr std::size_t WORK_BUFFER_SIZE = 2'000'000;
inline constexpr int TILE_INDEX_CAPACITY = 2000;
inline constexpr int POI_INDEX_ENTRIES = 500;
inline constexpr int PLACE_CAPACITY = 2000;
inline constexpr int CATALOGUE_POINTS = 80000;
inline constexpr int CATALOGUE_FIRST_POINT_LIMIT = 32768;  // first point is a signed int16
inline constexpr int PLACE_NAME_MAX = 10;                  // bytes, without the NUL
inline constexpr int DATA_PATH_MAX = 103;                  // characters
inline constexpr int TEMP_DIR_MAX = 199;                   // characters
inline constexpr int NAME_BYTES = 20;                      // tile NameRecord
inline constexpr int POI_RECORD_BYTES = 40;
inline constexpr int POI_NAME_BYTES = 28;
inline constexpr int POI_NOTE_BYTES = 52;
inline constexpr int POI_INDEX_BYTES = POI_INDEX_ENTRIES * 12;  // 6000
// Records of one PoiRecord block that the work buffer holds.
inline constexpr int kPoiBlockRecordsMax = int(WORK_BUFFER_SIZE / POI_RECORD_BYTES);
inline constexpr int TILE_SIZE_M = 10000;  // metres on a side
inline constexpr int TILE_HEADER_BYTES = 128;

// ---- tile numbering ---------------------------------------------------------------------
inline constexpr int32_t kTileRowFactor = 1000;  // tile number = row * 1000 + column
// The largest row whose tile numbers (row * 1000 + column, column 0..999) fit an int32.
inline constexpr int32_t kTileRowMax = (INT32_MAX - (kTileRowFactor - 1)) / kTileRowFactor;

constexpr int32_t tile_number(int32_t row, int32_t column) noexcept {
    return row * kTileRowFactor + column;
}
constexpr int32_t tile_column(int32_t tile) noexcept {
    return tile % kTileRowFactor;
}
constexpr int32_t tile_row(int32_t tile) noexcept {
    return tile / kTileRowFactor;
}
constexpr int32_t tile_number_of(int32_t x, int32_t y) noexcept {
    return tile_number(y / TILE_SIZE_M, x / TILE_SIZE_M);
}
constexpr int32_t tile_west(int32_t tile) noexcept {
    return tile_column(tile) * TILE_SIZE_M;
}
constexpr int32_t tile_south(int32_t tile) noexcept {
    return tile_row(tile) * TILE_SIZE_M;
}
// The south edge in 64 bits, for any int32 tile number (rows beyond 214748 overflow int32).
constexpr int64_t tile_south_wide(int32_t tile) noexcept {
    return int64_t{tile_row(tile)} * TILE_SIZE_M;
}

}  // namespace kestrel::data

#endif  // KESTREL_DATA_LIMITS_H
