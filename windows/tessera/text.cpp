// text.cpp: wide strings, UTF-8 and the ANSI code page.
#include "text.h"

#include <tessera/core/text.h>
#include <windows.h>

namespace tessera {

std::wstring wide(std::string_view utf8) {
    const std::u16string text = core::toUtf16(utf8);
    return std::wstring(text.begin(), text.end());
}

std::string utf8(std::wstring_view text) {
    return core::toUtf8(units(text));
}

std::string ansi(std::string_view utf8) {
    const std::wstring text = wide(utf8);
    const int n = WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string();
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, text.c_str(), -1, out.data(), n, nullptr, nullptr);
    out.resize(static_cast<size_t>(n) - 1);
    return out;
}

}  // namespace tessera
