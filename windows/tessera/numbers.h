// numbers.h: number conversions of the console window and the drawing routine: reading a
// number from a text box, rounding to int32 with halves to even, and the text of a
// single-precision value.
#ifndef TESSERA_WIN_NUMBERS_H
#define TESSERA_WIN_NUMBERS_H

#include <cstdint>
#include <string>

namespace tessera {

// Reads the longest leading part of `text` that forms a decimal number (optional sign,
// digits, optional decimal point and digits, optional exponent with E or D). Blanks inside
// it are skipped; 0 when there is none: "20" gives 20, "12abc" 12, "" 0.
double readNumber(const std::wstring& text);

// Rounds to the nearest int32, halves to even. Raises error 6 (Overflow) when the value is
// not finite or the rounded value does not fit.
int32_t roundToInt32(double value);

// The shortest decimal text of a single-precision value, with a leading blank when it is not
// negative: 356 gives " 356".
std::wstring singleText(float value);

// Converts to single precision; raises error 6 when the value is out of range or not finite.
float toSingle(double value);

}  // namespace tessera

#endif  // TESSERA_WIN_NUMBERS_H
