// names.cpp: request identifiers and the file names made from them.
#include "tessera/core/names.h"

#include <array>

#include "tessera/core/limits.h"

namespace tessera::core {

namespace {

bool isWindowsReserved(char16_t c) {
    return c == u':' || c == u'*' || c == u'?' || c == u'"' || c == u'<' || c == u'>' || c == u'|';
}

char16_t upper(char16_t c) {
    return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

// True when the part of `id` before its first '.', blanks at its end left out, is one of the
// device names of Windows.
bool isWindowsDevice(std::u16string_view id) {
    std::u16string_view stem = id.substr(0, id.find(u'.'));
    while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
    static constexpr std::array<std::u16string_view, 4> kDevices{u"CON", u"PRN", u"AUX", u"NUL"};
    auto equals = [&](std::u16string_view name) {
        if (stem.size() != name.size()) return false;
        for (size_t i = 0; i < name.size(); ++i) {
            if (upper(stem[i]) != name[i]) return false;
        }
        return true;
    };
    for (const auto name : kDevices) {
        if (equals(name)) return true;
    }
    // COM1 to COM9, LPT1 to LPT9.
    return stem.size() == 4 && stem[3] >= u'1' && stem[3] <= u'9' &&
           (equals(std::u16string(u"COM") + stem[3]) || equals(std::u16string(u"LPT") + stem[3]));
}

}  // namespace

bool isPlainFileName(std::u16string_view id, FileNameRules rules) {
    if (id.empty() || id == u"." || id == u"..") return false;
    // The UTF-8 form is never shorter than the UTF-16 one: a longer text is refused before it
    // is measured.
    if (id.size() > static_cast<size_t>(kMaxIdBytes)) return false;
    size_t utf8Bytes = 0;
    for (size_t i = 0; i < id.size(); ++i) {
        const char16_t c = id[i];
        if (c == u'/' || c == u'\\' || c < 0x20 || c == 0x7F) return false;
        if (rules == FileNameRules::kWindows && isWindowsReserved(c)) return false;
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < id.size() && id[i + 1] >= 0xDC00 &&
            id[i + 1] <= 0xDFFF) {
            utf8Bytes += 4;
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        } else {
            utf8Bytes += c < 0x80 ? 1 : c < 0x800 ? 2 : 3;
        }
    }
    if (utf8Bytes > static_cast<size_t>(kMaxIdBytes)) return false;
    return rules != FileNameRules::kWindows || !isWindowsDevice(id);
}

std::string gifName(std::string_view id, int minute, int second) {
    return std::string(id) + std::to_string(minute) + std::to_string(second) + ".gif";
}

}  // namespace tessera::core
