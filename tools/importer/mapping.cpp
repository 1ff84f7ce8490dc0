// mapping.cpp: the mapping text parser, rule matching, the built-in OpenStreetMap mapping and
// the reader of the OSM driver's "other_tags" field.
#include "mapping.h"

#include <algorithm>
#include <cstdint>
#include <set>
#include <sstream>

#include "kcommon/numbers.h"

namespace kimport {
namespace {

constexpr std::string_view kDefaultMapping =
    R"(# Built-in mapping: OpenStreetMap tags (OSM PBF/XML through the OSM driver, or any source
# that carries the tags as attributes) and the attributes of OSM-derived vector-tile GeoJSON
# (_class, layer, admin_level). The first rule that matches wins.
#
# kind   value  roles   conditions
skip     0              highway=proposed|construction|abandoned|razed|platform|bus_stop|elevator|corridor|raceway
skip     0              area=yes highway=*

# Roads, widest first. +main roads also become polylines of the small-scale views.
road     4      +main   highway=motorway
road     1      +main   highway=trunk
road     2              highway=motorway_link|trunk_link
road     5      +main   highway=primary
road     5              highway=primary_link
road     6              highway=secondary|secondary_link
road     7              highway=tertiary|tertiary_link
road     8              highway=residential|unclassified|living_street|road
road     9              highway=service
road     3              highway=pedestrian|footway|path|steps|cycleway|track|bridleway

# Other lines.
line     10             railway=rail|subway|light_rail|narrow_gauge|monorail|tram|funicular
line     15     +coast  natural=coastline
line     12     +river  waterway=river|canal|stream
line     13             boundary=administrative admin_level<=4
line     14             boundary=administrative admin_level<=8
line     13             boundary!=* admin_level<=4
line     14             boundary!=* admin_level<=8

# Areas.
area     11     +water  natural=water
area     11     +water  waterway=riverbank|dock
area     11     +water  landuse=reservoir|basin
area     11             leisure=park|garden|nature_reserve

# Place labels.
place    21             place=city
place    22             place=town|suburb|borough
place    23             place=quarter|village|neighbourhood
place    24             place=hamlet|locality|isolated_dwelling

# Points of interest. Categories: 1 food and drink, 2 shops and services, 3 money,
# 4 health, 5 education and culture, 6 transport, 7 tourism and lodging, 8 public services,
# 9 worship, 10 sport and leisure, 11 natural features, 99 other.
poi      1              amenity=restaurant|fast_food|cafe|bar|pub|food_court|ice_cream|biergarten
poi      1              _class=restaurant|cafe|fast_food|bar|ice_cream|bakery|beer|coffee|pub|food_court
poi      3              amenity=bank|atm|bureau_de_change
poi      3              _class=bank|atm
poi      4              amenity=hospital|clinic|pharmacy|doctors|dentist|veterinary
poi      4              _class=hospital|pharmacy|chemist|dentist|doctors|veterinary|optician|hearing_aids
poi      5              amenity=school|university|college|kindergarten|library|theatre|cinema|arts_centre
poi      5              tourism=museum|gallery
poi      5              _class=school|college|university|library|art_gallery|theatre|cinema|museum
poi      6              amenity=parking|fuel|bicycle_rental|bus_station|ferry_terminal|charging_station|car_rental|taxi|motorcycle_parking|bicycle_parking
poi      6              _class=parking|fuel|bicycle_rental|bus|ferry_terminal|motorcycle_parking|bicycle_parking
poi      7              tourism=*
poi      8              amenity=police|post_office|townhall|fire_station|courthouse|toilets|shelter|telephone|recycling
poi      8              _class=police|post|town_hall|fire_station|toilets|shelter|telephone|recycling|waste_basket
poi      9              amenity=place_of_worship
poi      9              _class=place_of_worship
poi      10             leisure=sports_centre|stadium|swimming_pool|fitness_centre|pitch
poi      10             _class=stadium|swimming|sports_centre|pitch|gymnastics|athletics|yoga|table_tennis|croquet
poi      11             natural=peak|volcano|spring
poi      11             layer=peak
poi      2              shop=*
poi      2              layer=poi _class=*
poi      99             amenity=*
poi      99             office=*|craft=*|leisure=*
)";

// Splits `s` at white space.
std::vector<std::string> split_words(std::string_view s) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < s.size()) {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\r')) ++i;
        std::size_t start = i;
        while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '\r') ++i;
        if (i > start) words.emplace_back(s.substr(start, i - start));
    }
    return words;
}

// Parses one condition word such as "highway=primary|secondary" or "admin_level<=4".
// Returns an empty string, or what is wrong with it.
std::string parse_condition(const std::string& word, Condition* c) {
    static constexpr std::pair<std::string_view, Condition::Op> kOps[] = {
        {"!=", Condition::Op::NotEqual},     {"<=", Condition::Op::LessEqual},
        {">=", Condition::Op::GreaterEqual}, {"=", Condition::Op::Equal},
        {"<", Condition::Op::Less},          {">", Condition::Op::Greater}};
    std::size_t best = std::string::npos;
    std::size_t best_len = 0;
    Condition::Op op = Condition::Op::Equal;
    for (const auto& [text, o] : kOps) {
        std::size_t at = word.find(text);
        if (at != std::string::npos && (at < best || (at == best && text.size() > best_len))) {
            best = at;
            best_len = text.size();
            op = o;
        }
    }
    if (best == std::string::npos) return "condition \"" + word + "\" has no operator";
    if (best == 0) return "condition \"" + word + "\" has no attribute name";
    c->key = word.substr(0, best);
    c->op = op;
    std::string rest = word.substr(best + best_len);
    if (rest.empty()) return "condition \"" + word + "\" has no value";
    if (op == Condition::Op::Equal || op == Condition::Op::NotEqual) {
        std::size_t start = 0;
        while (true) {
            std::size_t bar = rest.find('|', start);
            std::string v = rest.substr(start, bar == std::string::npos ? bar : bar - start);
            if (v.empty()) return "condition \"" + word + "\" has an empty alternative";
            c->values.push_back(v);
            if (bar == std::string::npos) break;
            start = bar + 1;
        }
    } else if (const auto number = kcommon::parse_decimal(rest)) {
        c->number = *number;
    } else {
        return "condition \"" + word + "\" compares with \"" + rest + "\", which is no number";
    }
    return {};
}

// True when the condition holds for the attribute value `v` (empty: absent).
bool holds(const Condition& c, std::string_view v) {
    switch (c.op) {
        case Condition::Op::Equal:
        case Condition::Op::NotEqual: {
            bool match = false;
            for (const std::string& alt : c.values) {
                if (alt == "*" ? !v.empty() : v == alt) {
                    match = true;
                    break;
                }
            }
            return c.op == Condition::Op::Equal ? match : !match;
        }
        default:
            break;
    }
    const auto parsed = kcommon::parse_decimal(v);
    if (!parsed) return false;
    const double n = *parsed;
    switch (c.op) {
        case Condition::Op::Less:
            return n < c.number;
        case Condition::Op::LessEqual:
            return n <= c.number;
        case Condition::Op::Greater:
            return n > c.number;
        case Condition::Op::GreaterEqual:
            return n >= c.number;
        default:
            return false;
    }
}

}  // namespace

bool kind_accepts(Kind kind, Shape shape) {
    switch (kind) {
        case Kind::Road:
            return shape == Shape::Line;
        case Kind::Line:
            return shape == Shape::Line || shape == Shape::Polygon;
        case Kind::Area:
            return shape == Shape::Polygon;
        case Kind::Place:
        case Kind::Poi:
            return shape == Shape::Point || shape == Shape::Polygon;
        case Kind::Skip:
            return true;
    }
    return false;
}

bool Mapping::parse(std::string_view text, std::string_view name, std::string* error) {
    rules_.clear();
    std::istringstream in{std::string(text)};
    std::string raw;
    int line_no = 0;
    auto fail = [&](const std::string& why) {
        *error = std::string(name) + ":" + std::to_string(line_no) + ": " + why;
        rules_.clear();
        return false;
    };
    while (std::getline(in, raw)) {
        ++line_no;
        std::size_t hash = raw.find('#');
        std::vector<std::string> words = split_words(
            std::string_view(raw).substr(0, hash == std::string::npos ? raw.size() : hash));
        if (words.empty()) continue;
        Rule rule;
        rule.line = line_no;
        const std::string& kind = words[0];
        if (kind == "road")
            rule.kind = Kind::Road;
        else if (kind == "line")
            rule.kind = Kind::Line;
        else if (kind == "area")
            rule.kind = Kind::Area;
        else if (kind == "place")
            rule.kind = Kind::Place;
        else if (kind == "poi")
            rule.kind = Kind::Poi;
        else if (kind == "skip")
            rule.kind = Kind::Skip;
        else
            return fail("unknown kind \"" + kind + "\" (road, line, area, place, poi or skip)");
        if (words.size() < 2) return fail("a rule needs a value after its kind");
        const auto parsed = kcommon::parse_int(words[1], INT32_MIN, INT32_MAX);
        if (!parsed) return fail("value \"" + words[1] + "\" is no integer");
        const long long value = *parsed;
        bool value_ok = true;
        switch (rule.kind) {
            case Kind::Road:
                value_ok = value >= kMinRoadType && value <= kMaxRoadType;
                break;
            case Kind::Line:
                value_ok = value == 10 || (value >= 12 && value <= 15);
                break;
            case Kind::Area:
                value_ok = value == kAreaType;
                break;
            case Kind::Place:
                value_ok = value >= kMinPlaceType && value <= kMaxPlaceType;
                break;
            case Kind::Poi:
                value_ok = value >= kMinPoiCategory && value <= kMaxPoiCategory;
                break;
            case Kind::Skip:
                value_ok = true;
                break;
        }
        if (!value_ok) {
            return fail("value " + words[1] + " is out of range for " + kind +
                        " (road 1-9, line 10 or 12-15, area 11, place 21-24, poi 1-32767)");
        }
        rule.value = static_cast<int>(value);
        std::size_t i = 2;
        for (; i < words.size() && words[i][0] == '+'; ++i) {
            const std::string& r = words[i];
            if (r == "+main" && rule.kind == Kind::Road)
                rule.roles |= kRoleMain;
            else if (r == "+coast" && rule.kind == Kind::Line)
                rule.roles |= kRoleCoast;
            else if (r == "+river" && rule.kind == Kind::Line)
                rule.roles |= kRoleRiver;
            else if (r == "+water" && rule.kind == Kind::Area)
                rule.roles |= kRoleWater;
            else {
                std::string why = "role \"" + r;
                why += "\" is unknown or not allowed for ";
                why += kind;
                why += " (road: +main; line: +coast, +river; area: +water)";
                return fail(why);
            }
        }
        if (i == words.size()) return fail("a rule needs at least one condition");
        for (; i < words.size(); ++i) {
            Condition c;
            std::string why = parse_condition(words[i], &c);
            if (!why.empty()) return fail(why);
            rule.conditions.push_back(std::move(c));
        }
        rules_.push_back(std::move(rule));
    }
    if (rules_.empty()) {
        *error = std::string(name) + ": the mapping holds no rule";
        return false;
    }
    return true;
}

const Rule* Mapping::classify(Shape shape, const TagLookup& tags) const {
    for (const Rule& rule : rules_) {
        if (!kind_accepts(rule.kind, shape)) continue;
        bool all = true;
        for (const Condition& c : rule.conditions) {
            if (!holds(c, tags(c.key))) {
                all = false;
                break;
            }
        }
        if (all) return &rule;
    }
    return nullptr;
}

std::vector<std::string> Mapping::keys() const {
    std::set<std::string> seen;
    std::vector<std::string> out;
    for (const Rule& r : rules_) {
        for (const Condition& c : r.conditions) {
            if (seen.insert(c.key).second) out.push_back(c.key);
        }
    }
    return out;
}

std::string_view default_mapping_text() {
    return kDefaultMapping;
}

std::string_view hstore_value(std::string_view h, std::string_view key, std::string* scratch) {
    // Reads one double-quoted string at h[i]; returns false at malformed input.
    auto read_quoted = [&](std::size_t& i, std::string& out) {
        out.clear();
        if (i >= h.size() || h[i] != '"') return false;
        for (++i; i < h.size(); ++i) {
            char ch = h[i];
            if (ch == '\\' && i + 1 < h.size()) {
                out.push_back(h[++i]);
            } else if (ch == '"') {
                ++i;
                return true;
            } else {
                out.push_back(ch);
            }
        }
        return false;
    };
    std::string k;
    std::size_t i = 0;
    while (i < h.size()) {
        while (i < h.size() && (h[i] == ',' || h[i] == ' ')) ++i;
        if (i >= h.size()) break;
        if (!read_quoted(i, k)) break;
        if (h.compare(i, 2, "=>") != 0) break;
        i += 2;
        if (!read_quoted(i, *scratch)) break;
        if (k == key) return *scratch;
    }
    scratch->clear();
    return {};
}

}  // namespace kimport
