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
#include "kmaps/geometry.h"

namespace kserve {

// Percent-decodes `in` ('+' becomes a blank). False for a malformed escape or a NUL byte.
bool percent_decode(std::string_view in, std::string& out);

// The key=value pairs of a query string. Keys are compared without regard to case (OGC KVP
// keys are case-insensitive). A key given twice with the same value counts once; with
// different values the query is refused: which one the client meant is in doubt, and WMS
// clients (GDAL, QGIS, OpenLayers) never repeat a key.
class Params {
  public:
    // Parses `query` (the part after '?'). False, with `error` set, for a malformed escape,
    // an empty key, a key repeated with another value, or more than 64 pairs.
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

using kmaps::Box;
// "a,b,c,d" as four finite numbers with a < c and b < d.
std::optional<Box> parse_box(std::string_view s);

// "TRUE"/"FALSE" in any case (empty: `fallback`); nothing for anything else.
std::optional<bool> parse_flag(std::string_view s, bool fallback);

// "0xRRGGBB"; nothing for anything else.
std::optional<unsigned> parse_colour(std::string_view s);

std::vector<std::string> split(std::string_view s, char sep);

}  // namespace kserve

#endif
