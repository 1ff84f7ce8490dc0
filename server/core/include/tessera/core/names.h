// tessera/core/names.h: request identifiers and the names of the files draw makes from them.
#ifndef TESSERA_CORE_NAMES_H
#define TESSERA_CORE_NAMES_H

#include <string>
#include <string_view>

namespace tessera::core {

// The file system the names are for. Windows file names cannot hold : * ? " < > | and a name
// whose part before the first '.' is a device (CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9,
// in any case, blanks at its end ignored) opens that device instead of a file.
enum class FileNameRules { kPosix, kWindows };
#if defined(_WIN32)
inline constexpr FileNameRules kNativeFileNames = FileNameRules::kWindows;
#else
inline constexpr FileNameRules kNativeFileNames = FileNameRules::kPosix;
#endif

// True when the request identifier `id` can name a file in the temporary folder: not empty,
// not "." or "..", no path separator ('/' or '\'), no NUL or other control character (C0,
// DEL), no unpaired surrogate, at most kMaxIdBytes bytes in UTF-8, and under the Windows rules
// none of the characters above and no device name.
bool isPlainFileName(std::u16string_view id, FileNameRules rules);

// The name of draw's GIF file: the identifier, the minute and the second (both without
// leading zeros) and ".gif": A12 at 14:05:09 gives "A1259.gif".
std::string gifName(std::string_view id, int minute, int second);

}  // namespace tessera::core

#endif  // TESSERA_CORE_NAMES_H
