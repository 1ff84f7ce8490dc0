// numbers.cpp: number conversions of the console window and the drawing routine.
#include "numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "run_time_error.h"

namespace tessera {

namespace {

bool isBlank(wchar_t c) {
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\r';
}

bool isDigit(wchar_t c) {
    return c >= L'0' && c <= L'9';
}

}  // namespace

double readNumber(const std::wstring& text) {
    std::string number;
    size_t i = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text[i])) ++i;
    };
    skipBlanks();
    if (i < n && (text[i] == L'+' || text[i] == L'-')) number += static_cast<char>(text[i++]);
    bool digits = false;
    auto takeDigits = [&] {
        for (skipBlanks(); i < n && isDigit(text[i]); skipBlanks()) {
            number += static_cast<char>(text[i++]);
            digits = true;
        }
    };
    takeDigits();
    if (i < n && text[i] == L'.') {
        number += '.';
        ++i;
        takeDigits();
    }
    if (!digits) return 0.0;
    // An exponent counts only when digits follow it.
    if (i < n && (text[i] == L'e' || text[i] == L'E' || text[i] == L'd' || text[i] == L'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        while (j < n && isBlank(text[j])) ++j;
        if (j < n && (text[j] == L'+' || text[j] == L'-')) exponent += static_cast<char>(text[j++]);
        bool exponentDigits = false;
        for (; j < n; ++j) {
            if (isBlank(text[j])) continue;
            if (!isDigit(text[j])) break;
            exponent += static_cast<char>(text[j]);
            exponentDigits = true;
        }
        if (exponentDigits) number += exponent;
    }
    return std::strtod(number.c_str(), nullptr);
}

int32_t roundToInt32(double value) {
    if (!std::isfinite(value)) raiseError(kErrOverflow);
    const double rounded = std::nearbyint(value);  // default rounding mode: halves to even
    if (rounded < static_cast<double>(std::numeric_limits<int32_t>::min()) ||
        rounded > static_cast<double>(std::numeric_limits<int32_t>::max())) {
        raiseError(kErrOverflow);
    }
    return static_cast<int32_t>(rounded);
}

std::wstring singleText(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::wstring text(buffer, result.ptr);
    return value < 0 ? text : L" " + text;
}

float toSingle(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
        raiseError(kErrOverflow);
    }
    return static_cast<float>(value);
}

}  // namespace tessera
