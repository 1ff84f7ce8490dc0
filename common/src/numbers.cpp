// numbers.cpp: the number readers of numbers.h, over std::from_chars (no locale).
#include "kcommon/numbers.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace kcommon {
namespace {

bool digit(char c) {
    return c >= '0' && c <= '9';
}

// True when `s` is [sign] digits [. digits] [e [sign] digits], with a digit before or after
// the point.
bool plain_decimal(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t digits = 0;
    for (; i < s.size() && digit(s[i]); ++i) ++digits;
    if (i < s.size() && s[i] == '.')
        for (++i; i < s.size() && digit(s[i]); ++i) ++digits;
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
        const std::size_t start = i;
        while (i < s.size() && digit(s[i])) ++i;
        if (i == start) return false;
    }
    return i == s.size();
}

// from_chars takes no '+'.
std::string_view without_plus(std::string_view s) {
    if (!s.empty() && s[0] == '+') s.remove_prefix(1);
    return s;
}

template <class T, class Parse>
bool parse_list(std::string_view text, char sep, std::span<T> out, Parse parse) {
    if (out.empty()) return text.empty();
    for (std::size_t k = 0; k < out.size(); ++k) {
        const std::size_t end = k + 1 < out.size() ? text.find(sep) : text.size();
        if (end == std::string_view::npos) return false;
        const auto v = parse(text.substr(0, end));
        if (!v) return false;
        out[k] = *v;
        text.remove_prefix(k + 1 < out.size() ? end + 1 : end);
    }
    return true;
}

}  // namespace

std::optional<long long> parse_int(std::string_view text, long long lo, long long hi) noexcept {
    if (text.empty() || text.size() > 24) return std::nullopt;
    const std::string_view s = without_plus(text);
    if (s.empty() || s[0] == '+' || (s[0] == '-' && text[0] == '+')) return std::nullopt;
    long long v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || v < lo || v > hi) return std::nullopt;
    return v;
}

std::optional<double> parse_decimal(std::string_view text) noexcept {
    if (text.size() > 64 || !plain_decimal(text)) return std::nullopt;
    const std::string_view s = without_plus(text);
    double v = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || end != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
    return v;
}

bool parse_decimals(std::string_view text, char sep, std::span<double> out) noexcept {
    return parse_list(text, sep, out, parse_decimal);
}

bool parse_ints(std::string_view text, char sep, std::span<long long> out) noexcept {
    return parse_list(text, sep, out, [](std::string_view s) {
        return parse_int(s, std::numeric_limits<long long>::min(),
                         std::numeric_limits<long long>::max());
    });
}

}  // namespace kcommon
