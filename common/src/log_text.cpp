// log_text.cpp: escaping of client text for log lines.
#include "kcommon/log_text.h"

#include <cstdio>

#include "kcommon/big5.h"

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

namespace {

// The code point of the character at s[i] and its length in bytes: a well-formed UTF-8
// character (utf8_next), or a surrogate code point in its three-byte form. Length 0 when the
// byte at s[i] starts neither.
char32_t next_char(std::string_view s, std::size_t i, std::size_t& length) {
    std::size_t next = i;
    char32_t c = 0;
    if (utf8_next(s, next, c)) {
        length = next - i;
        return c;
    }
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    if (s.size() - i >= 3 && byte(0) == 0xED && byte(1) >= 0xA0 && byte(1) <= 0xBF &&
        (byte(2) & 0xC0) == 0x80) {
        length = 3;
        return 0xD000 | ((byte(1) & 0x3Fu) << 6) | (byte(2) & 0x3Fu);
    }
    length = 0;
    return 0;
}

bool is_hidden(char32_t c) {
    return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x2028 || c == 0x2029 ||
           (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C || (c >= 0xD800 && c <= 0xDFFF);
}

void append_hex(std::string& o, const char* format, unsigned value) {
    char buffer[16];
    const int n = std::snprintf(buffer, sizeof buffer, format, value);
    o.append(buffer, static_cast<std::size_t>(n));
}

// Appends the character c (its bytes s[i .. i + length)) under the text policy; `quoting`
// says whether '\' and '"' are escaped.
void append_char(std::string& o, std::string_view bytes, char32_t c, bool quoting) {
    switch (c) {
        case '\\':
            o += quoting ? "\\\\" : "\\";
            return;
        case '"':
            o += quoting ? "\\\"" : "\"";
            return;
        case '\n':
            o += "\\n";
            return;
        case '\r':
            o += "\\r";
            return;
        case '\t':
            o += "\\t";
            return;
        default:
            break;
    }
    if (!is_hidden(c)) {
        o += bytes;
    } else if (c < 0x100) {
        append_hex(o, "\\x%02x", static_cast<unsigned>(c));
    } else {
        append_hex(o, "\\u{%04x}", static_cast<unsigned>(c));
    }
}

std::string escape_text(std::string_view s, std::size_t max_chars, bool quoting) {
    std::string o;
    o.reserve(s.size());
    std::size_t i = 0;
    std::size_t shown = 0;
    for (; i < s.size() && shown < max_chars; ++shown) {
        std::size_t length = 0;
        const char32_t c = next_char(s, i, length);
        if (length == 0) {
            append_hex(o, "\\x%02x", static_cast<unsigned char>(s[i]));
            ++i;
        } else {
            append_char(o, s.substr(i, length), c, quoting);
            i += length;
        }
    }
    if (i < s.size()) {
        std::size_t more = 0;
        for (std::size_t length = 0; i < s.size(); ++more) {
            next_char(s, i, length);
            i += length == 0 ? 1 : length;
        }
        o += "...(" + std::to_string(more) + " more)";
    }
    return o;
}

}  // namespace

std::string log_escape_text(std::string_view s, std::size_t max_chars) {
    return escape_text(s, max_chars, true);
}

std::string log_one_line(std::string_view s) {
    return escape_text(s, s.size(), false);
}

}  // namespace kcommon
