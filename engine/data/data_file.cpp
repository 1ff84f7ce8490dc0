// data_file.cpp: data::DataFile, the checked reader of the data set's binary files, and the
// engine's one use of the operating system's file interface for them.
//
// The file calls are the platform's: POSIX open, fstat and pread, or on Windows CreateFileA
// and ReadFile at an offset, the handle kept as a C run-time descriptor so that the class is
// the same on both.
#include "data/reader.h"

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
#include <cstdio>

namespace kestrel::data {

bool DataFile::open(const char* name) noexcept {
    char path[DATA_PATH_MAX + 32];
    const int n = std::snprintf(path, sizeof path, "%s%s", dataset().data_path, name);
    if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) {
        close();
        return false;
    }
    return open_path(path);
}

DataFile::~DataFile() {
    close();
}

#if defined(_WIN32)

void DataFile::close() noexcept {
    if (fd_ >= 0) _close(fd_);
    fd_ = -1;
    size_ = 0;
}

bool DataFile::open_path(const char* path) noexcept {
    close();
    // A folder does not open without FILE_FLAG_BACKUP_SEMANTICS; a device or a pipe is refused
    // below.
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

void DataFile::close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    size_ = 0;
}

bool DataFile::open_path(const char* path) noexcept {
    close();
    // Without waiting: a pipe put in the file's place would block the open until a writer came.
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd_ < 0) return false;
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        close();
        return false;
    }
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

}  // namespace kestrel::data
