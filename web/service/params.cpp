// params.cpp: query strings and the checked readers of their values.
#include "service/params.h"

#include <array>

namespace kserve {

namespace {
int hex(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
constexpr size_t kMaxPairs = 64;
}  // namespace

bool percent_decode(std::string_view in, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (size_t i = 0; i < in.size(); ++i) {
        char c = in[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (i + 2 >= in.size()) return false;
            const int h = hex(in[i + 1]);
            const int l = hex(in[i + 2]);
            if (h < 0 || l < 0) return false;
            c = static_cast<char>(h * 16 + l);
            i += 2;
        }
        if (c == '\0') return false;
        out.push_back(c);
    }
    return true;
}

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

std::string lower(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return r;
}

bool Params::parse(std::string_view query, std::string& error) {
    values_.clear();
    size_t pairs = 0;
    while (!query.empty()) {
        const size_t amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view{} : query.substr(amp + 1);
        if (pair.empty()) continue;
        if (++pairs > kMaxPairs) {
            error = "too many parameters";
            return false;
        }
        const size_t eq = pair.find('=');
        std::string key;
        std::string value;
        if (!percent_decode(pair.substr(0, eq), key) ||
            (eq != std::string_view::npos && !percent_decode(pair.substr(eq + 1), value))) {
            error = "malformed escape in the query string";
            return false;
        }
        if (key.empty()) {
            error = "a parameter without a name";
            return false;
        }
        const auto [it, added] = values_.emplace(upper(key), value);
        if (!added && it->second != value) {
            error = "the parameter " + it->first + " is given twice, with different values";
            return false;
        }
    }
    return true;
}

bool Params::has(const std::string& key) const {
    return values_.count(upper(key)) != 0;
}

const std::string& Params::get(const std::string& key) const {
    static const std::string empty;
    const auto it = values_.find(upper(key));
    return it == values_.end() ? empty : it->second;
}

void Params::set(const std::string& key, const std::string& value) {
    values_[upper(key)] = value;
}

std::vector<std::string> split(std::string_view s, char sep) {
    std::vector<std::string> out;
    size_t start = 0;
    while (true) {
        const size_t p = s.find(sep, start);
        out.emplace_back(s.substr(start, p == std::string_view::npos ? s.npos : p - start));
        if (p == std::string_view::npos) break;
        start = p + 1;
    }
    return out;
}

std::optional<Box> parse_box(std::string_view s) {
    std::array<double, 4> v{};
    if (!kcommon::parse_decimals(s, ',', v)) return std::nullopt;
    if (!(v[0] < v[2]) || !(v[1] < v[3])) return std::nullopt;
    return Box{v[0], v[1], v[2], v[3]};
}

std::optional<bool> parse_flag(std::string_view s, bool fallback) {
    if (s.empty()) return fallback;
    const std::string u = upper(s);
    if (u == "TRUE") return true;
    if (u == "FALSE") return false;
    return std::nullopt;
}

std::optional<unsigned> parse_colour(std::string_view s) {
    if (s.size() != 8 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return std::nullopt;
    unsigned v = 0;
    for (size_t i = 2; i < 8; ++i) {
        const int h = hex(s[i]);
        if (h < 0) return std::nullopt;
        v = v * 16 + static_cast<unsigned>(h);
    }
    return v;
}

}  // namespace kserve
