// kcommon/numbers.h: numbers in text (command lines, query strings, mapping files), read the
// same way by every program.
//
// A number is plain decimal text and nothing else: an optional sign, digits, for a decimal an
// optional fraction and exponent ("-12", "+3", "2.5", ".5", "1e5"). Blanks, hexadecimal,
// "inf", "nan" and trailing text are refused, as are values that do not fit. The reading does
// not depend on the C locale.
#ifndef KCOMMON_NUMBERS_H
#define KCOMMON_NUMBERS_H

#include <optional>
#include <span>
#include <string_view>

namespace kcommon {

// A whole number of [lo, hi]; nothing for anything else.
std::optional<long long> parse_int(std::string_view text, long long lo, long long hi) noexcept;

// A finite decimal number; nothing for anything else.
std::optional<double> parse_decimal(std::string_view text) noexcept;

// Exactly out.size() numbers separated by `sep` ("1,2,3,4" or "640x480"); false for anything
// else, `out` then undefined.
bool parse_decimals(std::string_view text, char sep, std::span<double> out) noexcept;
bool parse_ints(std::string_view text, char sep, std::span<long long> out) noexcept;

}  // namespace kcommon

#endif  // KCOMMON_NUMBERS_H
