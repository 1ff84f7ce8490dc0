// big5.cpp: the code page 950 codec of big5.h, over the table of big5_table.inc.
#include "kcommon/big5.h"

#include <array>
#include <cstdint>
#include <memory>

namespace kcommon {
namespace {

#include "big5_table.inc"

constexpr unsigned kTrailMin = 0x40;      // below it a byte never ends a pair
constexpr unsigned kTableLeadMin = 0xA1;  // the table's lead bytes
constexpr unsigned kTableLeadMax = 0xF9;
constexpr unsigned kTrailsPerLead = 157;
constexpr char32_t kReplacement = 0xFFFD;

// The place of a trail byte in a row of the table, or -1.
int trail_index(unsigned trail) {
    if (trail >= 0x40 && trail <= 0x7E) return static_cast<int>(trail - 0x40);
    if (trail >= 0xA1 && trail <= 0xFE) return static_cast<int>(trail - 0xA1 + 63);
    return -1;
}

// Every code point of the Basic Multilingual Plane to its pair (0: none), made from the
// table on first use.
const std::uint16_t* encoder() {
    static const std::unique_ptr<std::uint16_t[]> table = [] {
        auto t = std::make_unique<std::uint16_t[]>(0x10000);
        for (unsigned lead = kTableLeadMin; lead <= kTableLeadMax; ++lead)
            for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
                const int k = trail_index(trail);
                if (k < 0) continue;
                const std::uint16_t code = kBig5Codes[(lead - kTableLeadMin) * kTrailsPerLead + k];
                const auto pair = static_cast<std::uint16_t>(lead << 8 | trail);
                bool decode_only = false;
                for (std::uint16_t p : kBig5DecodeOnly) decode_only = decode_only || p == pair;
                if (code != 0 && !decode_only) t[code] = pair;
            }
        return t;
    }();
    return table.get();
}

void append_escape(std::string& out, unsigned char byte) {
    static const char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[byte >> 4];
    out += kHex[byte & 15];
}

// Decodes `big5` character by character: `put` appends a code point to the output (a UTF-8
// or UTF-16 string), `put_byte` a byte kept as it is; a position that is no character goes as
// `bad` says. Nothing when the policy is to fail.
template <class String, class Put, class PutByte>
std::optional<String> decode(std::string_view big5, BadBig5 bad, Put put, PutByte put_byte) {
    String out;
    out.reserve(big5.size() + big5.size() / 2);
    while (!big5.empty()) {
        const Big5Char c = big5_next(big5);
        const std::string_view bytes = big5.substr(0, c.bytes);
        big5.remove_prefix(c.bytes);
        if (c.code != kNotBig5) {
            put(out, c.code);
            continue;
        }
        switch (bad) {
            case BadBig5::replace:
                put(out, kReplacement);
                break;
            case BadBig5::keep:
                for (char b : bytes) put_byte(out, static_cast<unsigned char>(b));
                break;
            case BadBig5::escape:
                for (char b : bytes) {
                    std::string escaped;
                    append_escape(escaped, static_cast<unsigned char>(b));
                    for (char e : escaped) put(out, static_cast<char32_t>(e));
                }
                break;
            case BadBig5::fail:
                return std::nullopt;
        }
    }
    return out;
}

}  // namespace

char32_t big5_decode(unsigned lead, unsigned trail) noexcept {
    const int k = trail_index(trail);
    if (lead < kTableLeadMin || lead > kTableLeadMax || k < 0) return kNotBig5;
    const std::uint16_t code = kBig5Codes[(lead - kTableLeadMin) * kTrailsPerLead + k];
    return code != 0 ? code : kNotBig5;
}

Big5Char big5_next(std::string_view text) noexcept {
    const auto c = static_cast<unsigned char>(text[0]);
    if (c < 0x80) return {c, 1};
    if (is_big5_lead(c) && text.size() >= 2) {
        const auto t = static_cast<unsigned char>(text[1]);
        if (t >= kTrailMin) return {big5_decode(c, t), 2};
    }
    return {kNotBig5, 1};
}

int big5_encode(char32_t code, char out[2]) noexcept {
    if (code < 0x80) {
        out[0] = static_cast<char>(code);
        return 1;
    }
    if (code > 0xFFFF) return 0;
    const std::uint16_t pair = encoder()[code];
    if (pair == 0) return 0;
    out[0] = static_cast<char>(pair >> 8);
    out[1] = static_cast<char>(pair & 0xFF);
    return 2;
}

std::optional<std::string> big5_to_utf8(std::string_view big5, BadBig5 bad) {
    return decode<std::string>(
        big5, bad, [](std::string& out, char32_t c) { utf8_append(out, c); },
        [](std::string& out, unsigned char b) { out += static_cast<char>(b); });
}

std::optional<std::u16string> big5_to_utf16(std::string_view big5, BadBig5 bad) {
    // Every character of the table fits one UTF-16 unit; a kept byte is the character of its
    // value.
    const auto put = [](std::u16string& out, char32_t c) { out += static_cast<char16_t>(c); };
    return decode<std::u16string>(big5, bad, put,
                                  [put](std::u16string& out, unsigned char b) { put(out, b); });
}

std::optional<std::string> utf8_to_big5(std::string_view utf8, NoBig5 none) {
    std::string out;
    out.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t code = 0;
        char bytes[2];
        const int n = utf8_next(utf8, i, code) ? big5_encode(code, bytes) : 0;
        if (n > 0) {
            out.append(bytes, static_cast<std::size_t>(n));
        } else if (none == NoBig5::replace) {
            out += '?';
        } else {
            return std::nullopt;
        }
    }
    return out;
}

bool utf8_next(std::string_view s, std::size_t& i, char32_t& code) noexcept {
    const auto b = static_cast<unsigned char>(s[i]);
    const int len = b < 0x80           ? 1
                    : (b >> 5) == 0x6  ? 2
                    : (b >> 4) == 0xE  ? 3
                    : (b >> 3) == 0x1E ? 4
                                       : 0;
    if (len == 0 || i + static_cast<std::size_t>(len) > s.size()) {
        ++i;
        return false;
    }
    char32_t v = len == 1 ? b : b & (0x7Fu >> len);
    for (int k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(s[i + static_cast<std::size_t>(k)]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        v = (v << 6) | (c & 0x3Fu);
    }
    static constexpr std::array<char32_t, 5> kMinForLength = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMinForLength[static_cast<std::size_t>(len)] || v > 0x10FFFF ||
        (v >= 0xD800 && v <= 0xDFFF)) {
        ++i;
        return false;
    }
    i += static_cast<std::size_t>(len);
    code = v;
    return true;
}

void utf8_append(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

}  // namespace kcommon
