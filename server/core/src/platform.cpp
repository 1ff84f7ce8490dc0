// platform.cpp: the clock and the files of the system, the same on every platform.
#include "tessera/core/platform.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "tessera/core/text.h"

namespace tessera::core {

LocalTime SystemClock::now() {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm parts{};
#if defined(_WIN32)
    localtime_s(&parts, &seconds);
#else
    localtime_r(&seconds, &parts);
#endif
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,           parts.tm_hour,
                     parts.tm_min,         parts.tm_sec,     static_cast<int>(millis)};
}

bool SystemFiles::isFolder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(pathOf(path), error);
}

bool SystemFiles::remove(const std::string& path) {
    std::error_code error;
    return std::filesystem::remove(pathOf(path), error);
}

}  // namespace tessera::core
