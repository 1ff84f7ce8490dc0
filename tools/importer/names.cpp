// names.cpp: UTF-8 to Big5 conversion of names through glibc iconv ("CP950"), one character
// at a time so that a character without a Big5 form costs only itself.
#include "names.h"

#include <cstdint>

namespace kimport {
namespace {

constexpr unsigned char kBig5LeadFirst = 0x81;
constexpr unsigned char kBig5LeadLast = 0xFE;
constexpr char32_t kNoBreakSpace = 0xA0;
constexpr char32_t kIdeographicSpace = 0x3000;

// Decodes one UTF-8 character at s[i]; advances i. Returns false (and advances by one byte)
// for a byte that does not start a valid, shortest-form character.
bool decode_utf8(std::string_view s, std::size_t& i, char32_t* cp) {
    unsigned char b = static_cast<unsigned char>(s[i]);
    int len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
        ++i;
        return false;
    }
    char32_t v = len == 1 ? b : b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        unsigned char c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) {
            ++i;
            return false;
        }
        v = (v << 6) | (c & 0x3F);
    }
    static constexpr char32_t kMinForLength[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (v < kMinForLength[len] || v > 0x10FFFF || (v >= 0xD800 && v <= 0xDFFF)) {
        ++i;
        return false;
    }
    i += len;
    *cp = v;
    return true;
}

// The unaccented ASCII letter of a Latin-1 letter (U+00C0 to U+00FF), or 0. Big5 has no
// accented Latin letters; "Cafe" reads better than "Caf?".
char fold_latin1(char32_t cp) {
    static constexpr char kFold[64 + 1] =
        "AAAAAAACEEEEIIII"     // C0..CF
        "DNOOOOO\0OUUUUY\0\0"  // D0..DF (D7 is the multiplication sign, DE thorn, DF sharp s)
        "aaaaaaaceeeeiiii"     // E0..EF
        "dnooooo\0ouuuuy\0y";  // F0..FF (F7 is the division sign, FE thorn)
    return cp >= 0xC0 && cp <= 0xFF ? kFold[cp - 0xC0] : 0;
}

bool is_space(char32_t cp) {
    return cp == ' ' || cp == '\t' || cp == '\n' || cp == '\r' || cp == '\v' || cp == '\f' ||
           cp == kNoBreakSpace || cp == kIdeographicSpace;
}

}  // namespace

std::size_t big5_cut(std::string_view big5, std::size_t max_bytes) {
    std::size_t i = 0;
    while (i < big5.size()) {
        unsigned char b = static_cast<unsigned char>(big5[i]);
        std::size_t len = (b >= kBig5LeadFirst && b <= kBig5LeadLast) ? 2 : 1;
        if (i + len > max_bytes || i + len > big5.size()) break;
        i += len;
    }
    return i;
}

NameConverter::NameConverter() : cd_(iconv_open("CP950", "UTF-8")) {}

NameConverter::~NameConverter() {
    if (ok()) iconv_close(cd_);
}

std::string NameConverter::to_big5(std::string_view utf8, std::size_t max_bytes) {
    std::string out;
    bool replaced = false;
    bool invalid = false;
    bool pending_space = false;
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        if (!decode_utf8(utf8, i, &cp)) {
            invalid = true;
            cp = U'?';
        }
        if (is_space(cp)) {
            pending_space = !out.empty();
            continue;
        }
        if (cp < 0x20 || cp == 0x7F) continue;
        if (pending_space) {
            out.push_back(' ');
            pending_space = false;
        }
        if (cp < 0x80) {
            out.push_back(static_cast<char>(cp));
            continue;
        }
        if (char folded = fold_latin1(cp); folded != 0) {
            out.push_back(folded);
            ++stats_.folded_chars;
            continue;
        }
        // Re-encode the one character and convert it alone.
        char in_buf[4];
        std::size_t in_len = 0;
        if (cp < 0x800) {
            in_buf[0] = static_cast<char>(0xC0 | (cp >> 6));
            in_len = 1;
        } else if (cp < 0x10000) {
            in_buf[0] = static_cast<char>(0xE0 | (cp >> 12));
            in_buf[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            in_len = 2;
        } else {
            in_buf[0] = static_cast<char>(0xF0 | (cp >> 18));
            in_buf[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            in_buf[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            in_len = 3;
        }
        in_buf[in_len++] = static_cast<char>(0x80 | (cp & 0x3F));
        char out_buf[8];
        char* in_p = in_buf;
        char* out_p = out_buf;
        std::size_t in_left = in_len;
        std::size_t out_left = sizeof out_buf;
        bool converted = false;
        if (ok()) {
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
            converted = iconv(cd_, &in_p, &in_left, &out_p, &out_left) != static_cast<size_t>(-1) &&
                        in_left == 0;
        }
        // Only one- or two-byte results are Big5 characters the engine can draw.
        std::size_t produced = sizeof out_buf - out_left;
        if (converted && (produced == 1 || produced == 2)) {
            out.append(out_buf, produced);
        } else {
            out.push_back(kReplacement);
            ++stats_.replaced_chars;
            replaced = true;
        }
    }
    ++stats_.converted;
    if (replaced) ++stats_.names_with_replacement;
    if (invalid) ++stats_.invalid_utf8;
    std::size_t keep = big5_cut(out, max_bytes);
    if (keep < out.size()) {
        ++stats_.cut;
        out.resize(keep);
        while (!out.empty() && out.back() == ' ') out.pop_back();
    }
    return out;
}

std::string NameConverter::to_token(std::string_view utf8, std::size_t max_bytes) {
    std::string s = to_big5(utf8, max_bytes);
    for (char& c : s) {
        if (c == ' ') c = '_';
    }
    return s;
}

}  // namespace kimport
