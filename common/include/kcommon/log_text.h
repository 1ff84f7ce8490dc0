// kcommon/log_text.h: text that clients send, made safe for a one-line log entry.
//
// A client must neither forge a log line (a line break in its text) nor hide one (terminal
// escape sequences, characters that reverse the direction of what follows). Two policies, one
// for each kind of log the programs keep:
//  - bytes (log_escape; kserve's logs, read by tools that expect ASCII): printable ASCII stays,
//    every other byte is \xHH (upper-case hexadecimal), '"' and '\' too;
//  - text (log_escape_text and log_one_line; the request server's log, read by people who
//    want a Chinese request name shown as it is): characters stay as they are, except
//    '\' and '"' (\\, \"), line feed, carriage return and tab (\n, \r, \t), the other control
//    characters C0, DEL and C1 and every byte that starts no well-formed UTF-8 character
//    (\xhh, lower-case), and the line and paragraph separators, the bidirectional controls and
//    surrogate code points (\u{hhhh}).
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

// Returns the UTF-8 text `s` for a log line under the text policy. At most `max_chars`
// characters are written (a byte that starts no character counts as one); a longer text ends
// in "...(N more)", N counting the characters left out. A surrogate code point in its
// three-byte form (what UTF-16 text with an unpaired surrogate gives) is read as one character.
std::string log_escape_text(std::string_view s, std::size_t max_chars);

// A whole message made one line under the text policy: only the control characters, the
// separators, the bidirectional controls, surrogates and bad bytes are escaped ('\' and '"'
// stay), and nothing is cut.
std::string log_one_line(std::string_view s);

}  // namespace kcommon

#endif  // KCOMMON_LOG_TEXT_H
