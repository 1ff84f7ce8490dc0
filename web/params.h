// params.h: the query string of a request, parsed into case-insensitive keys, and the checked
// readers of numbers, boxes and flags that every handler uses.
#ifndef KSERVE_PARAMS_H
#define KSERVE_PARAMS_H

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kcommon/numbers.h"

namespace kserve {

// Percent-decodes `in` ('+' becomes a blank). False for a malformed escape or a NUL byte.
bool percent_decode(std::string_view in, std::string& out);

// The key=value pairs of a query string. Keys are compared without regard to case (OGC KVP
// keys are case-insensitive); a key given twice keeps its first value.
class Params {
  public:
    // Parses `query` (the part after '?'). False, with `error` set, for a malformed escape,
    // an empty key, or more than 64 pairs.
    bool parse(std::string_view query, std::string& error);

    bool has(const std::string& key) const;
    // The value, or "" when absent.
    const std::string& get(const std::string& key) const;
    const std::map<std::string, std::string>& all() const { return values_; }
    void set(const std::string& key, const std::string& value);

  private:
    std::map<std::string, std::string> values_;  // keys upper-cased
};

std::string upper(std::string_view s);
std::string lower(std::string_view s);

// Numbers are read as every program of the project reads them (kcommon/numbers.h): plain
// decimal text only.
using kcommon::parse_decimal;
using kcommon::parse_int;

struct Box {
    double minx, miny, maxx, maxy;
};
// "a,b,c,d" as four finite numbers with a < c and b < d.
std::optional<Box> parse_box(std::string_view s);

// "TRUE"/"FALSE" in any case (empty: `fallback`); nothing for anything else.
std::optional<bool> parse_flag(std::string_view s, bool fallback);

// "0xRRGGBB"; nothing for anything else.
std::optional<unsigned> parse_colour(std::string_view s);

std::vector<std::string> split(std::string_view s, char sep);

}  // namespace kserve

#endif
