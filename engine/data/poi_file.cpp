// poi_file.cpp: the engine's points of interest: the loaded index and the work buffer, over
// the point-of-interest reader.
#include "data/poi_file.h"

namespace kestrel::data {

int find_poi_block(int32_t tile) noexcept {
    return poi_block_entry(dataset().poi_index, tile);
}

int read_poi_block(const DataFile& points, const PoiIndexEntry& e) noexcept {
    return read_poi_records(points, e, std::span<uint8_t>(work_buffer(), WORK_BUFFER_SIZE));
}

PoiRecord poi_block_record(int i) noexcept {
    return poi_record_at(work_buffer(), i);
}

}  // namespace kestrel::data
