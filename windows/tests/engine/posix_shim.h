// posix_shim.h: the few POSIX calls that the engine's own test sources and the shared test
// helpers (tests/support) use to make scratch folders, for their Windows build (force-included
// by windows/tests/CMakeLists.txt). The sources themselves are the Linux build's, unchanged.
#ifndef KESTREL_WINDOWS_TESTS_POSIX_SHIM_H
#define KESTREL_WINDOWS_TESTS_POSIX_SHIM_H

#include <direct.h>
#include <process.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <ctime>

// Replaces the trailing "XXXXXX" of `pattern` and makes that folder; the pattern, or null.
inline char* mkdtemp(char* pattern) {
    static const bool seeded =
        (std::srand(unsigned(_getpid()) ^ unsigned(std::time(nullptr))), true);
    (void)seeded;
    const std::size_t n = std::strlen(pattern);
    if (n < 6 || std::strcmp(pattern + n - 6, "XXXXXX") != 0) return nullptr;
    static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 100; ++attempt) {
        for (std::size_t i = n - 6; i < n; ++i) pattern[i] = kLetters[std::rand() % 36];
        if (_mkdir(pattern) == 0) return pattern;
    }
    return nullptr;
}

// mkdir with a mode: Windows folders have no mode bits.
inline int mkdir(const char* path, int) {
    return _mkdir(path);
}

// No symbolic links are made by these tests: lstat is stat.
#define lstat stat

#endif  // KESTREL_WINDOWS_TESTS_POSIX_SHIM_H
