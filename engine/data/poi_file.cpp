// poi_file.cpp: the checked reader of the point-of-interest files.
//
// The file calls are the platform's: POSIX open, fstat and pread, or on Windows CreateFileA
// and ReadFile at an offset, the handle kept as a C run-time descriptor so that the class is
// the same on both.
#include "data/poi_file.h"

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace kestrel::data {

static_assert(std::endian::native == std::endian::little,
              "point records are read from the file's little-endian bytes as they stand");

#if defined(_WIN32)

DataFile::~DataFile() {
    if (fd_ >= 0) _close(fd_);
}

bool DataFile::open(const char* name) noexcept {
    char path[DATA_PATH_MAX + 32];
    const int n = std::snprintf(path, sizeof path, "%s%s", dataset().data_path, name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) return false;
    // A folder does not open without FILE_FLAG_BACKUP_SEMANTICS; a device is refused below.
    const HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size)) {
        CloseHandle(file);
        return false;
    }
    fd_ = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_RDONLY | _O_BINARY);
    if (fd_ < 0) {
        CloseHandle(file);
        return false;
    }
    size_ = size.QuadPart;
    return true;
}

bool DataFile::read_at(int64_t offset, void* out, std::size_t n) const noexcept {
    if (fd_ < 0 || offset < 0 || offset > size_ || static_cast<int64_t>(n) > size_ - offset)
        return false;
    const auto file = reinterpret_cast<HANDLE>(_get_osfhandle(fd_));
    auto* p = static_cast<char*>(out);
    std::size_t done = 0;
    while (done < n) {
        const uint64_t at = static_cast<uint64_t>(offset) + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        const DWORD want = static_cast<DWORD>(std::min<std::size_t>(n - done, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(file, p + done, want, &got, &where) || got == 0) return false;
        done += got;
    }
    return true;
}

#else

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

#endif

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
