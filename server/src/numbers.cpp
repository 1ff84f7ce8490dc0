// numbers.cpp: number conversions of the console window and the drawing routine.
#include "numbers.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

#include "run_time_error.h"

namespace tessera {

namespace {

// Blanks that the number reader skips inside a number.
bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r';
}

bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

double readNumber(const QString& text) {
    // Gather the characters of the number without blanks, stopping at the first character
    // that cannot continue it.
    std::string number;
    int i = 0;
    const int n = text.size();
    auto skipBlanks = [&] {
        while (i < n && isBlank(text[i])) ++i;
    };
    skipBlanks();
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        number += static_cast<char>(text[i].unicode());
        ++i;
    }
    bool digits = false;
    auto takeDigits = [&] {
        for (skipBlanks(); i < n && isDigit(text[i]); skipBlanks()) {
            number += static_cast<char>(text[i].unicode());
            digits = true;
            ++i;
        }
    };
    takeDigits();
    if (i < n && text[i] == u'.') {
        number += '.';
        ++i;
        takeDigits();
    }
    if (!digits) return 0.0;
    // An exponent counts only when digits follow it.
    if (i < n && (text[i] == u'e' || text[i] == u'E' || text[i] == u'd' || text[i] == u'D')) {
        int j = i + 1;
        std::string exponent = "e";
        while (j < n && isBlank(text[j])) ++j;
        if (j < n && (text[j] == u'+' || text[j] == u'-')) {
            exponent += static_cast<char>(text[j].unicode());
            ++j;
        }
        bool exponentDigits = false;
        for (; j < n; ++j) {
            if (isBlank(text[j])) continue;
            if (!isDigit(text[j])) break;
            exponent += static_cast<char>(text[j].unicode());
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

QString singleText(float value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, static_cast<int>(result.ptr - buffer));
    return value < 0 ? text : QStringLiteral(" ") + text;
}

float toSingle(double value) {
    if (!std::isfinite(value) || std::fabs(value) > std::numeric_limits<float>::max()) {
        raiseError(kErrOverflow);
    }
    return static_cast<float>(value);
}

}  // namespace tessera
