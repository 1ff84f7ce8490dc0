// poi_file.h: reading the point-of-interest files of the data set (dat44_1.bin, dat44_2.bin).
//
// The overlay and the reports read a tile's PoiRecord block through the same functions: the
// block is found through the PoiIndex loaded with the data set and read whole into the shared
// work buffer, after its offset and size have been checked against the file and the buffer.
// Bad data is skipped, never trusted.
#ifndef KESTREL_DATA_POI_FILE_H
#define KESTREL_DATA_POI_FILE_H

#include <cstddef>
#include <cstdint>

#include "data/store.h"

namespace kestrel::data {

// A file of the data set open for reading, with its size; every read is checked against the
// size. Together with the report folder of the queries this is where the engine calls the
// operating system's file interface directly (open, fstat, pread).
class DataFile {
  public:
    DataFile() noexcept = default;
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Opens the data path + `name`; false when the name does not fit, the file does not open
    // or is not a regular file.
    bool open(const char* name) noexcept;
    // Reads exactly `n` bytes at `offset` when they lie wholly inside the file.
    bool read_at(int64_t offset, void* out, std::size_t n) const noexcept;
    int64_t size() const noexcept { return size_; }

  private:
    int fd_ = -1;
    int64_t size_ = 0;
};

// The PoiIndex entry of a tile's block: the first entry of that tile number whose last index
// is not -1; -1 when there is none.
int find_poi_block(int32_t tile) noexcept;

// Reads the block of PoiIndex entry `e` from `points` (dat44_1.bin) into the work buffer and
// returns its record count; 0 for an empty entry, a negative offset, or a block that runs past
// the file or the work buffer.
int read_poi_block(const DataFile& points, const PoiIndexEntry& e) noexcept;

// Record `i` of the block that read_poi_block left in the work buffer.
PoiRecord poi_block_record(int i) noexcept;

}  // namespace kestrel::data

#endif  // KESTREL_DATA_POI_FILE_H
