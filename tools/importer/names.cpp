// names.cpp: UTF-8 to Big5 conversion of names through kcommon's code page 950 codec, one
// character at a time so that a character without a Big5 form costs only itself.
#include "names.h"

#include <cstdint>

#include "kcommon/big5.h"

namespace kimport {
namespace {

constexpr char32_t kNoBreakSpace = 0xA0;
constexpr char32_t kIdeographicSpace = 0x3000;

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
        const std::size_t len = kcommon::is_big5_lead(static_cast<unsigned char>(big5[i])) ? 2 : 1;
        if (i + len > max_bytes || i + len > big5.size()) break;
        i += len;
    }
    return i;
}

std::string NameConverter::to_big5(std::string_view utf8, std::size_t max_bytes) {
    std::string out;
    bool replaced = false;
    bool invalid = false;
    bool pending_space = false;
    std::size_t i = 0;
    while (i < utf8.size()) {
        char32_t cp = 0;
        if (!kcommon::utf8_next(utf8, i, cp)) {
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
        char big5[2];
        if (const int n = kcommon::big5_encode(cp, big5); n > 0) {
            out.append(big5, static_cast<std::size_t>(n));
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
