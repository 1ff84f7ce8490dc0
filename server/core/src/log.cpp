// log.cpp: formatting, escaping and the bounded log file.
#include "tessera/core/log.h"

#include <kcommon/log_text.h>

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "tessera/core/text.h"

namespace tessera::core {

std::string logText(std::string_view utf8, int maxChars) {
    return kcommon::log_escape_text(utf8, static_cast<size_t>(maxChars));
}

std::string logText(std::u16string_view text, int maxChars) {
    return logText(toUtf8(text), maxChars);
}

const char* levelName(LogLevel level) {
    switch (level) {
        case LogLevel::kDebug:
            return "debug";
        case LogLevel::kInfo:
            return "info";
        case LogLevel::kWarning:
            return "warning";
        case LogLevel::kCritical:
            return "critical";
        case LogLevel::kFatal:
            return "fatal";
    }
    return "?";
}

std::string formatLogLine(const LocalTime& t, unsigned long pid, LogLevel level,
                          std::string_view message) {
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03d tessera[%lu] ", t.year,
                  t.month, t.day, t.hour, t.minute, t.second, t.millisecond, pid);
    return std::string(stamp) + levelName(level) + ": " + kcommon::log_one_line(message);
}

bool LogFile::open(const std::string& path, int64_t maxBytes) {
    path_ = path;
    maxBytes_ = maxBytes;
    file_.open(pathOf(path), std::ios::binary | std::ios::app);
    if (!file_.is_open()) return false;
    std::error_code error;
    const auto size = std::filesystem::file_size(pathOf(path), error);
    size_ = error ? 0 : static_cast<int64_t>(size);
    return true;
}

void LogFile::rotate() {
    file_.close();
    std::error_code error;
    std::filesystem::rename(pathOf(path_), pathOf(path_ + ".1"), error);
    file_.clear();
    file_.open(pathOf(path_), std::ios::binary | std::ios::app);
    size_ = 0;
}

void LogFile::writeLine(std::string_view line) {
    if (!file_.is_open()) return;
    const auto bytes = static_cast<int64_t>(line.size()) + 1;
    if (size_ > 0 && size_ + bytes > maxBytes_) {
        rotate();
        if (!file_.is_open()) return;
    }
    file_.write(line.data(), static_cast<std::streamsize>(line.size()));
    file_.put('\n');
    file_.flush();
    size_ += bytes;
}

void LogWriter::write(LogLevel level, std::string_view message) {
    const std::string line = formatLogLine(clock_.now(), pid_, level, message);
    if (echo_) echo_(line);
    if (file_.isOpen()) {
        file_.writeLine(line);
    } else if (standardError_) {
        std::fprintf(stderr, "%s\n", line.c_str());
        std::fflush(stderr);
    }
}

}  // namespace tessera::core
