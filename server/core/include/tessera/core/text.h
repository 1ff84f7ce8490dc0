// tessera/core/text.h: conversions between the UTF-16 text of the adaptors (QString, BSTR)
// and the UTF-8 text the core works in.
#ifndef TESSERA_CORE_TEXT_H
#define TESSERA_CORE_TEXT_H

#include <filesystem>
#include <string>
#include <string_view>

namespace tessera::core {

// UTF-16 to UTF-8. An unpaired surrogate is written in the three-byte form UTF-8 would give
// its code point, so that nothing is lost for the log, which shows it as \u{HHHH}; a request
// identifier holding one is refused before any file name is made from it.
std::string toUtf8(std::u16string_view text);

// UTF-8 to UTF-16; a byte that does not belong to a valid sequence becomes U+FFFD.
std::u16string toUtf16(std::string_view text);

// The file-system path of a UTF-8 path, on every platform.
std::filesystem::path pathOf(std::string_view utf8);

}  // namespace tessera::core

#endif  // TESSERA_CORE_TEXT_H
