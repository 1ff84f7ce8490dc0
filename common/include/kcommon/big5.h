// kcommon/big5.h: the data sets' text encoding, Big5 as code page 950 has it, and UTF-8.
//
// Bytes below 0x80 are ASCII. A lead byte 0x81 to 0xFE and the byte after it are one
// character; the trail byte may be an ASCII letter or '\', so Big5 text is always read by
// pairs from its start, never a byte at a time. The characters are those of the C library's
// "CP950" converter, held in a table here (no converter is needed, on any platform).
//
// What a conversion does with text the other side cannot hold is the caller's choice: replace
// it, fail, keep the bytes, or (when decoding) escape them for people to read.
#ifndef KCOMMON_BIG5_H
#define KCOMMON_BIG5_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kcommon {

// The lead bytes of the code page: a byte from kBig5LeadMin to kBig5LeadMax starts a two-byte
// position. This is the one statement of the range; the codec below, the engine's catalogue
// names, the data-set writer and the importer all read and cut text by it.
inline constexpr unsigned char kBig5LeadMin = 0x81;
inline constexpr unsigned char kBig5LeadMax = 0xFE;

constexpr bool is_big5_lead(unsigned char byte) noexcept {
    return byte >= kBig5LeadMin && byte <= kBig5LeadMax;
}

// The length of the longest start of `big5` of at most `max_bytes` bytes that does not
// separate a lead byte from the byte after it, whatever that byte is (so a cut never splits a
// character, even of text that is not well formed). A lead byte that ends the text is a byte
// of its own. Header-only, so that the engine cuts names by it without linking kcommon.
constexpr std::size_t big5_cut(std::string_view big5, std::size_t max_bytes) noexcept {
    std::size_t end = 0;
    while (end < big5.size()) {
        const bool pair =
            is_big5_lead(static_cast<unsigned char>(big5[end])) && end + 1 < big5.size();
        const std::size_t next = end + (pair ? 2 : 1);
        if (next > max_bytes) break;
        end = next;
    }
    return end;
}

// Stands for bytes that are no Big5 character.
inline constexpr char32_t kNotBig5 = 0xFFFFFFFF;

// One character of Big5 text: its code point (kNotBig5 when the bytes are none) and its bytes.
struct Big5Char {
    char32_t code;
    std::size_t bytes;  // 1 or 2
};

// The character at the start of `text`, which must not be empty. An ASCII byte is itself. A
// lead byte followed by a byte of 0x40 or above is one two-byte position, a character or not;
// a lead byte at the end or before a byte below 0x40, and the bytes 0x80 and 0xFF, are one bad
// byte each (the byte after it is read on its own).
Big5Char big5_next(std::string_view text) noexcept;

// The code point of the pair (lead, trail), or kNotBig5.
char32_t big5_decode(unsigned lead, unsigned trail) noexcept;

// Writes the Big5 bytes of `code` into `out`: 1 for ASCII, 2 for a character of the code page,
// 0 when Big5 has no form for it.
int big5_encode(char32_t code, char out[2]) noexcept;

// What big5_to_utf8 and big5_to_utf16 do with a position that is no character.
enum class BadBig5 {
    replace,  // U+FFFD for the position (one for a two-byte position)
    fail,     // the conversion fails
    keep,     // its bytes as they are (UTF-16: each byte as the character of its value)
    escape,   // "\xNN" for each of its bytes, for people to read
};
std::optional<std::string> big5_to_utf8(std::string_view big5, BadBig5 bad);
std::optional<std::u16string> big5_to_utf16(std::string_view big5, BadBig5 bad);

// What utf8_to_big5 does with a character Big5 cannot hold, and with a byte that starts no
// well-formed UTF-8 character.
enum class NoBig5 {
    replace,  // '?' for it
    fail,     // the conversion fails
};
std::optional<std::string> utf8_to_big5(std::string_view utf8, NoBig5 none);

// The UTF-8 character at utf8[i] into `code`, i moved past it. False for a byte that starts
// no well-formed character (overlong forms, surrogates and values beyond U+10FFFF included);
// i then moves on by that one byte. `i` must be below utf8.size().
bool utf8_next(std::string_view utf8, std::size_t& i, char32_t& code) noexcept;

// Appends the UTF-8 form of `code` (U+FFFD for a surrogate or a value beyond U+10FFFF).
void utf8_append(std::string& out, char32_t code);

}  // namespace kcommon

#endif  // KCOMMON_BIG5_H
