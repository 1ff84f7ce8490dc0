// log_text.cpp: escaping of client text for log lines.
#include "kcommon/log_text.h"

namespace kcommon {

std::string log_escape(std::string_view s, std::size_t limit) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string o;
    o.reserve(s.size() < limit ? s.size() : limit);
    for (std::size_t i = 0; i < s.size() && i < limit; ++i) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            o += "\\x";
            o += kHex[c >> 4];
            o += kHex[c & 15];
        } else {
            o += static_cast<char>(c);
        }
    }
    if (s.size() > limit) o += "...";
    return o;
}

}  // namespace kcommon
