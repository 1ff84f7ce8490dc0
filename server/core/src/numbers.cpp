// numbers.cpp: the number rules of the console window and the drawing routine.
#include "tessera/core/numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "tessera/core/errors.h"

namespace tessera::core {

namespace {

// Blanks that the number reader skips inside a number.
bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

}  // namespace

double readNumber(std::string_view text) {
    // Gather the characters of the number without blanks, stopping at the first character
    // that cannot continue it.
    std::string number;
    size_t i = 0;
    const size_t n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text[i])) ++i;
    };
    skipBlanks();
    if (i < n && (text[i] == '+' || text[i] == '-')) number += text[i++];
    bool digits = false;
    auto takeDigits = [&] {
        for (skipBlanks(); i < n && isDigit(text[i]); skipBlanks()) {
            number += text[i++];
            digits = true;
        }
    };
    takeDigits();
    if (i < n && text[i] == '.') {
        number += '.';
        ++i;
        takeDigits();
    }
    if (!digits) return 0.0;
    // An exponent counts only when digits follow it.
    if (i < n && (text[i] == 'e' || text[i] == 'E' || text[i] == 'd' || text[i] == 'D')) {
        size_t j = i + 1;
        std::string exponent = "e";
        while (j < n && isBlank(text[j])) ++j;
        if (j < n && (text[j] == '+' || text[j] == '-')) exponent += text[j++];
        bool exponentDigits = false;
        for (; j < n; ++j) {
            if (isBlank(text[j])) continue;
            if (!isDigit(text[j])) break;
            exponent += text[j];
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

std::string singleText(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    std::string text(buffer, result.ptr);
    return value < 0 ? text : " " + text;
}

float toSingle(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
        raiseError(kErrOverflow);
    }
    return static_cast<float>(value);
}

int32_t checkedAdd(int32_t a, int32_t b) {
    const int64_t sum = static_cast<int64_t>(a) + static_cast<int64_t>(b);
    if (sum < std::numeric_limits<int32_t>::min() || sum > std::numeric_limits<int32_t>::max()) {
        raiseError(kErrOverflow);
    }
    return static_cast<int32_t>(sum);
}

}  // namespace tessera::core
