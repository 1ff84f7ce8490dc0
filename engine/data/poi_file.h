// poi_file.h: the engine's points of interest, read through the index loaded with the data set.
//
// The overlay and the reports read a tile's PoiRecord block through the same functions: the
// block is found in the data set's PoiIndex (dataset().poi_index) and read whole into the
// shared work buffer by the point-of-interest reader of reader.h, which checks its offset and
// size against the file and the buffer. Bad data is skipped, never trusted.
#ifndef KESTREL_DATA_POI_FILE_H
#define KESTREL_DATA_POI_FILE_H

#include <cstdint>

#include "data/reader.h"
#include "data/store.h"

namespace kestrel::data {

// The entry of the loaded index that holds `tile`'s block (poi_block_entry); -1 when none.
int find_poi_block(int32_t tile) noexcept;

// Reads the block of PoiIndex entry `e` from `points` (dat44_1.bin) into the work buffer and
// returns its record count (read_poi_records); 0 for an empty entry, a negative offset, or a
// block that runs past the file or the work buffer.
int read_poi_block(const DataFile& points, const PoiIndexEntry& e) noexcept;

// Record `i` of the block that read_poi_block left in the work buffer.
PoiRecord poi_block_record(int i) noexcept;

}  // namespace kestrel::data

#endif  // KESTREL_DATA_POI_FILE_H
