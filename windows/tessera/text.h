// text.h: the COM server's text at the edge of the core: Win32 wide strings (UTF-16) to and
// from the core's UTF-8, and the ANSI code page the engine's folders are passed in.
#ifndef TESSERA_WIN_TEXT_H
#define TESSERA_WIN_TEXT_H

#include <string>
#include <string_view>

namespace tessera {

// The UTF-16 units of a wide string, as the core takes a request identifier.
inline std::u16string_view units(std::wstring_view text) {
    return std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// UTF-8 to a wide string (a bad byte becomes U+FFFD) and back.
std::wstring wide(std::string_view utf8);
std::string utf8(std::wstring_view text);

// UTF-8 in the system's ANSI code page (a character it has no form for becomes its default
// character).
std::string ansi(std::string_view utf8);

}  // namespace tessera

#endif  // TESSERA_WIN_TEXT_H
