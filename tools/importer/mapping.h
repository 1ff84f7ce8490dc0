// mapping.h: the classification of source features by rules on their attribute values.
//
// A mapping is a list of rules read from a small text format (documented in docs/importer.md
// and in the built-in default below). Each rule names what a matching feature becomes (a road
// of types 1 to 9, a line of types 10 and 12 to 15, an area of type 11, a place label of types
// 21 to 24, a point of interest with a category, or nothing), optional roles for the
// small-scale views, and conditions on attribute values that must all hold. The first rule
// that matches a feature and accepts its geometry wins.
#ifndef KESTREL_TOOLS_IMPORTER_MAPPING_H
#define KESTREL_TOOLS_IMPORTER_MAPPING_H

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kimport {

// What a matching feature becomes.
enum class Kind { Road, Line, Area, Place, Poi, Skip };

// Geometry of a source feature, as far as the rules care.
enum class Shape { Point, Line, Polygon };

// Roles for the small-scale views (place catalogue and base map), marked "+name" in a rule.
enum Role : unsigned {
    kRoleNone = 0,
    kRoleMain = 1u << 0,   // road drawn as a catalogue polyline
    kRoleCoast = 1u << 1,  // coast line of the base map
    kRoleRiver = 1u << 2,  // river line of the base map
    kRoleWater = 1u << 3,  // water area of the base map
};

// Limits of the values a rule may give.
constexpr int kMinRoadType = 1;
constexpr int kMaxRoadType = 9;
constexpr int kAreaType = 11;
constexpr int kMinPlaceType = 21;
constexpr int kMaxPlaceType = 24;
constexpr int kMinPoiCategory = 1;
constexpr int kMaxPoiCategory = 32767;

// One test on one attribute. An attribute that is missing or empty counts as absent.
struct Condition {
    enum class Op { Equal, NotEqual, Less, LessEqual, Greater, GreaterEqual };
    std::string key;
    Op op = Op::Equal;
    std::vector<std::string> values;  // alternatives for Equal/NotEqual; "*" = any value
    double number = 0;                // for the four comparisons
};

struct Rule {
    Kind kind = Kind::Skip;
    int value = 0;       // type or category
    unsigned roles = 0;  // Role bits
    std::vector<Condition> conditions;
    int line = 0;  // line number in the mapping text (0 for rules built in code)
};

// Looks up an attribute of the feature being classified; an empty view means absent.
using TagLookup = std::function<std::string_view(std::string_view key)>;

class Mapping {
  public:
    // Parses mapping text. On a syntax error returns false and sets `error` to
    // "NAME:LINE: what is wrong"; `name` is the file name used in messages.
    bool parse(std::string_view text, std::string_view name, std::string* error);

    // The first rule that accepts `shape` and whose conditions all hold, or nullptr.
    const Rule* classify(Shape shape, const TagLookup& tags) const;

    const std::vector<Rule>& rules() const { return rules_; }

    // Every attribute key that some rule reads, each once.
    std::vector<std::string> keys() const;

  private:
    std::vector<Rule> rules_;
};

// The built-in mapping for OpenStreetMap tags and OSM-derived GeoJSON, as mapping text.
std::string_view default_mapping_text();

// True when a rule of `kind` accepts a feature of `shape`.
bool kind_accepts(Kind kind, Shape shape);

// Values of the HSTORE-like "other_tags" field of the OSM driver ("k"=>"v","k2"=>"v2"):
// the value of `key` (unescaped into `scratch`), or an empty view when absent.
std::string_view hstore_value(std::string_view hstore, std::string_view key, std::string* scratch);

}  // namespace kimport

#endif  // KESTREL_TOOLS_IMPORTER_MAPPING_H
