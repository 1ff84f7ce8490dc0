// etag.cpp: entity tags and If-None-Match (RFC 9110).
#include "kcommon/etag.h"

namespace kcommon {
namespace {

// etagc = "!" / %x23-7E / obs-text (RFC 9110, 8.8.3)
bool etag_char(unsigned char c) {
    return c == 0x21 || (c >= 0x23 && c != 0x7F);
}

bool blank(char c) {
    return c == ' ' || c == '\t';
}

// Reads one entity tag at s[i] (i past it); its quoted part into `opaque`. False when there is
// none.
bool read_tag(std::string_view s, std::size_t& i, std::string_view& opaque) {
    if (s.compare(i, 2, "W/") == 0) i += 2;
    if (i >= s.size() || s[i] != '"') return false;
    const std::size_t start = i;
    for (++i; i < s.size() && s[i] != '"'; ++i)
        if (!etag_char(static_cast<unsigned char>(s[i]))) return false;
    if (i >= s.size()) return false;
    ++i;
    opaque = s.substr(start, i - start);
    return true;
}

}  // namespace

bool if_none_match(std::string_view field, std::string_view etag) {
    std::string_view current;
    std::size_t j = 0;
    if (!read_tag(etag, j, current) || j != etag.size()) return false;
    std::size_t i = 0;
    while (i < field.size() && blank(field[i])) ++i;
    if (field.compare(i, 1, "*") == 0) {
        ++i;
        while (i < field.size() && blank(field[i])) ++i;
        return i == field.size();
    }
    bool matched = false;
    bool any = false;
    // #entity-tag: elements separated by commas and optional blanks; empty elements allowed.
    while (i < field.size()) {
        if (field[i] == ',' || blank(field[i])) {
            ++i;
            continue;
        }
        std::string_view tag;
        if (!read_tag(field, i, tag)) return false;
        any = true;
        matched = matched || tag == current;
        while (i < field.size() && blank(field[i])) ++i;
        if (i < field.size() && field[i] != ',') return false;
    }
    return any && matched;
}

}  // namespace kcommon
