/*
 * tempfile.cpp: GetTempFileNameA, unique temporary file names.
 *
 * A name is the directory, a '/' when the directory does not end with one, up to three
 * characters of the prefix, the number in upper-case hexadecimal and ".tmp". With no number
 * given, numbers are tried from a starting point that differs between processes and calls,
 * and the first name that can be created exclusively (O_CREAT | O_EXCL, never through a
 * symbolic link, mode 0600) is taken. The number is a 16-bit value other than 0.
 */
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "detail.h"

namespace {

constexpr size_t kMaxPath = 260;  // the output holds 259 characters and a NUL
constexpr size_t kPrefixChars = 3;
constexpr unsigned kNumberSpace = 0xFFFF;  // numbers 1 .. 0xFFFF
constexpr const char* kSuffix = ".tmp";

/* The full name for a number; false when it does not fit in kMaxPath. */
bool Compose(const char* dir, const char* prefix, unsigned number, char* out) {
    std::string name = dir;
    if (!name.empty() && name.back() != '/') name += '/';
    if (prefix) name.append(prefix, strnlen(prefix, kPrefixChars));
    char digits[16];
    std::snprintf(digits, sizeof digits, "%X", number);
    name += digits;
    name += kSuffix;
    if (name.size() + 1 > kMaxPath) return false;
    std::memcpy(out, name.c_str(), name.size() + 1);
    return true;
}

/* A starting number that differs between processes and between calls in one process. */
unsigned StartNumber() {
    static std::atomic<unsigned> counter{0};
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    const unsigned mix = static_cast<unsigned>(getpid()) * 2654435761u ^
                         static_cast<unsigned>(ts.tv_nsec) ^ (counter.fetch_add(1) * 40503u);
    return mix % kNumberSpace + 1;
}

}  // namespace

extern "C" KGDI_API UINT GetTempFileNameA(const char* path, const char* prefix, UINT unique,
                                          char* out) noexcept try {
    if (!path || !out || path[0] == '\0') return 0;
    try {
        if (unique != 0) {
            const unsigned number = unique & kNumberSpace;
            if (number == 0 || !Compose(path, prefix, number, out)) return 0;
            return number;
        }
        unsigned number = StartNumber();
        for (unsigned tries = 0; tries < kNumberSpace; ++tries) {
            char name[kMaxPath];
            if (!Compose(path, prefix, number, name)) return 0;
            const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
            if (fd >= 0) {
                close(fd);
                std::memcpy(out, name, std::strlen(name) + 1);
                return number;
            }
            if (errno != EEXIST) return 0;  // the directory is missing or not writable
            number = number % kNumberSpace + 1;
        }
        return 0;
    } catch (...) {
        return 0;
    }
} catch (...) {
    return 0;
}
