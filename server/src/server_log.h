// server_log.h: the server's log: one line a message in AppDir/tmp/tessera.log, the file
// bounded in size, and the escaping of text that clients send before it reaches a line.
#ifndef TESSERA_SERVER_LOG_H
#define TESSERA_SERVER_LOG_H

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <cstdio>

namespace tessera {

// Text that came from a client (a request identifier, a bus name, a path holding one), made
// safe for one log line: backslash and double quote, control characters (C0, DEL, C1), line
// and paragraph separators, bidirectional controls and unpaired surrogates are written as
// escapes (\\, \", \n, \r, \t, \xHH, \u{HHHH}); everything else stays as it is. Text
// beyond `maxChars` is left out and counted ("...(N more)"). Every log line that carries
// client text passes it through this function.
inline constexpr qsizetype kLogTextChars = 256;
QString logSafe(QStringView text, qsizetype maxChars = kLogTextChars);
// The same for bytes: valid UTF-8 is escaped as above, every byte that is not part of valid
// UTF-8 becomes \xHH.
QString logSafe(const QByteArray& bytes, qsizetype maxChars = kLogTextChars);
// A whole message made one line: only the characters that logSafe escapes for being
// controls are escaped (backslash and quote stay). The log writer applies it to every message.
QString logLine(QStringView message);

// The log file. A write that would take the file past `maxBytes` first renames it to
// PATH.1 (replacing an older PATH.1) and starts a new file, so that the log never holds more
// than about twice `maxBytes` on disk.
class LogFile {
  public:
    static constexpr int64_t kDefaultMaxBytes = 1024 * 1024;

    LogFile() = default;
    ~LogFile();
    LogFile(const LogFile&) = delete;
    LogFile& operator=(const LogFile&) = delete;

    // Opens (appends to) `path`; false when it cannot be opened.
    bool open(const QByteArray& path, int64_t maxBytes = kDefaultMaxBytes);
    bool isOpen() const { return file_ != nullptr; }
    // Writes one line (a newline is added), rotating first when needed.
    void writeLine(const QByteArray& line);

  private:
    void rotate();

    QByteArray path_;
    std::FILE* file_ = nullptr;
    int64_t size_ = 0;
    int64_t maxBytes_ = kDefaultMaxBytes;
};

}  // namespace tessera

#endif  // TESSERA_SERVER_LOG_H
