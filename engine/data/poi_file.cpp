// poi_file.cpp: the checked reader of the point-of-interest files.
#include "data/poi_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <bit>
#include <cstdio>
#include <cstring>

namespace kestrel::data {

static_assert(std::endian::native == std::endian::little,
              "point records are read from the file's little-endian bytes as they stand");

DataFile::~DataFile() {
    if (fd_ >= 0) close(fd_);
}

bool DataFile::open(const char* name) noexcept {
    char path[DATA_PATH_MAX + 32];
    const int n = std::snprintf(path, sizeof path, "%s%s", dataset().data_path, name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) return false;
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size_ = st.st_size;
    return true;
}

bool DataFile::read_at(int64_t offset, void* out, std::size_t n) const noexcept {
    if (fd_ < 0 || offset < 0 || offset > size_ || static_cast<int64_t>(n) > size_ - offset)
        return false;
    auto* p = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < n) {
        const ssize_t got = pread(fd_, p + done, n - done, static_cast<off_t>(offset + done));
        if (got <= 0) return false;
        done += static_cast<std::size_t>(got);
    }
    return true;
}

int find_poi_block(int32_t tile) noexcept {
    const PoiIndexEntry* index = dataset().poi_index;
    for (int e = 0; e < POI_INDEX_ENTRIES; ++e)
        if (index[e].tile == tile && index[e].last != -1) return e;
    return -1;
}

int read_poi_block(const DataFile& points, const PoiIndexEntry& e) noexcept {
    if (e.last < 0 || e.last >= kPoiBlockRecordsMax) return 0;
    const int count = e.last + 1;
    const std::size_t bytes = static_cast<std::size_t>(count) * POI_RECORD_BYTES;
    return points.read_at(e.offset, work_buffer(), bytes) ? count : 0;
}

PoiRecord poi_block_record(int i) noexcept {
    PoiRecord rec;
    std::memcpy(&rec, work_buffer() + static_cast<std::size_t>(i) * POI_RECORD_BYTES, sizeof rec);
    return rec;
}

}  // namespace kestrel::data
