// tessera/core/log.h: the server's log: one line a message, "TIME tessera[PID] LEVEL: TEXT",
// in a file that is bounded in size, with client text escaped before it reaches a line.
#ifndef TESSERA_CORE_LOG_H
#define TESSERA_CORE_LOG_H

#include <cstdint>
#include <fstream>
#include <functional>
#include <string>
#include <string_view>

#include "tessera/core/limits.h"
#include "tessera/core/platform.h"

namespace tessera::core {

// Text that came from a client (a request identifier, a bus name, a path holding one), made
// safe for one log line under the text policy of kcommon/log_text.h: backslash and double
// quote, control characters, line and paragraph separators, bidirectional controls, unpaired
// surrogates and bytes that are not UTF-8 become escapes; everything else stays. Text beyond
// `maxChars` characters is left out and counted ("...(N more)").
std::string logText(std::string_view utf8, int maxChars = kLogTextChars);
std::string logText(std::u16string_view text, int maxChars = kLogTextChars);

// The name of a level in a log line: "debug", "info", "warning", "critical", "fatal".
const char* levelName(LogLevel level);

// One log line without its line end: "2026-12-08T14:05:09.123 tessera[42] info: MESSAGE",
// the message made one line (every control character in it escaped).
std::string formatLogLine(const LocalTime& time, unsigned long pid, LogLevel level,
                          std::string_view message);

// The log file. A write that would take the file past `maxBytes` first renames it to PATH.1
// (replacing an older PATH.1) and starts a new file, so that the log never holds more than
// about twice `maxBytes` on disk.
class LogFile {
  public:
    LogFile() = default;
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens (appends to) `path` (UTF-8); false when it cannot be opened.
    bool open(const std::string& path, int64_t maxBytes = kLogMaxBytes);
    bool isOpen() const { return file_.is_open(); }
    // Writes one line (a line feed is added), rotating first when needed.
    void writeLine(std::string_view line);

  private:
    void rotate();

    std::string path_;
    std::ofstream file_;
    int64_t size_ = 0;
    int64_t maxBytes_ = kLogMaxBytes;
};

// The server's Log: formats each message into a line with the system's local time and the
// process id, and writes it to the log file, or while no file is open to standard error
// (unless that is switched off: a Windows program has none). `echo`, when set, receives every
// line as well (the COM server's debugger output).
class LogWriter : public Log {
  public:
    explicit LogWriter(unsigned long pid) : pid_(pid) {}

    LogFile& file() { return file_; }
    void setEcho(std::function<void(const std::string& line)> echo) { echo_ = std::move(echo); }
    void setStandardError(bool on) { standardError_ = on; }
    void write(LogLevel level, std::string_view message) override;

  private:
    unsigned long pid_;
    LogFile file_;
    SystemClock clock_;
    std::function<void(const std::string&)> echo_;
    bool standardError_ = true;
};

// A Log that drops every message.
class NullLog : public Log {
  public:
    void write(LogLevel, std::string_view) override {}
};

}  // namespace tessera::core

#endif  // TESSERA_CORE_LOG_H
