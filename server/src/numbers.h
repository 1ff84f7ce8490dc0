// numbers.h: number conversions of the console window and the drawing routine: reading a
// number from a text box, rounding to int32 with halves to even, and the text of a
// single-precision value.
#ifndef TESSERA_NUMBERS_H
#define TESSERA_NUMBERS_H

#include <QString>
#include <cstdint>

namespace tessera {

// Reads the longest leading part of `text` that forms a decimal number: optional sign,
// digits, optional decimal point and digits, optional exponent (E or D, optional sign,
// digits). Blanks, tabs and line breaks anywhere in that part are skipped. 0 when there is
// none: "20" gives 20, "12abc" 12, "" 0, " 1 2" 12. A value too large for a double is
// infinite.
double readNumber(const QString& text);

// Rounds to the nearest int32, halves to even. Raises error 6 (Overflow) when the value is
// not finite or the rounded value does not fit.
int32_t roundToInt32(double value);

// The shortest decimal text of a single-precision value, with a leading blank when it is not
// negative: 356 gives " 356", -2.5 gives "-2.5".
QString singleText(float value);

// Converts to single precision. Raises error 6 when the value is out of the single range or
// not finite.
float toSingle(double value);

}  // namespace tessera

#endif  // TESSERA_NUMBERS_H
