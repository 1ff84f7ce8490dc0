// kcommon/log_text.h: text that clients send, made safe for a one-line log entry.
#ifndef KCOMMON_LOG_TEXT_H
#define KCOMMON_LOG_TEXT_H

#include <cstddef>
#include <string>
#include <string_view>

namespace kcommon {

// Returns `s` for a log line: printable ASCII stays, every other byte (and '"' and '\') is
// written as \xHH, so no client text can end a line or a quoted field early. At most `limit`
// bytes of `s` are written; a longer text ends in "...".
std::string log_escape(std::string_view s, std::size_t limit = 2048);

}  // namespace kcommon

#endif  // KCOMMON_LOG_TEXT_H
