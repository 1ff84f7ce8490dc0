// tessera/core/numbers.h: the number rules of the console window and the drawing routine:
// reading a number from a text box, rounding to int32 with halves to even, single precision
// and its shortest text.
#ifndef TESSERA_CORE_NUMBERS_H
#define TESSERA_CORE_NUMBERS_H

#include <cstdint>
#include <string>
#include <string_view>

namespace tessera::core {

// Reads the longest leading part of `text` (UTF-8) that forms a decimal number: optional
// sign, digits, optional decimal point and digits, optional exponent (E or D, optional sign,
// digits). Blanks, tabs and line breaks anywhere in that part are skipped. 0 when there is
// none: "20" gives 20, "12abc" 12, "" 0, " 1 2" 12. A value too large for a double is
// infinite. Only ASCII characters can belong to a number, so any other character ends it.
double readNumber(std::string_view text);

// Rounds to the nearest int32, halves to even. Raises error 6 (Overflow) when the value is
// not finite or the rounded value does not fit.
int32_t roundToInt32(double value);

// The shortest decimal text of a single-precision value, with a leading blank when it is not
// negative: 356 gives " 356", -2.5 gives "-2.5".
std::string singleText(float value);

// Converts to single precision. Raises error 6 when the value is out of the single range or
// not finite.
float toSingle(double value);

// a + b, raising error 6 when the sum leaves the int32 range.
int32_t checkedAdd(int32_t a, int32_t b);

}  // namespace tessera::core

#endif  // TESSERA_CORE_NUMBERS_H
