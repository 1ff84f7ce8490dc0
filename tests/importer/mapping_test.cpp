// mapping_test.cpp: the mapping text format, rule matching and the built-in OSM mapping.
#include "mapping.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace kimport {
namespace {

// A feature's attributes for classify().
struct Tags {
    std::map<std::string, std::string, std::less<>> values;
    TagLookup lookup() const {
        return [this](std::string_view key) -> std::string_view {
            auto it = values.find(key);
            return it == values.end() ? std::string_view() : std::string_view(it->second);
        };
    }
};

const Rule* classify(const Mapping& m, Shape shape, std::map<std::string, std::string> kv) {
    Tags t;
    for (auto& [k, v] : kv) t.values.emplace(k, v);
    return m.classify(shape, t.lookup());
}

Mapping parsed(const std::string& text) {
    Mapping m;
    std::string error;
    EXPECT_TRUE(m.parse(text, "test.map", &error)) << error;
    return m;
}

std::string parse_error(const std::string& text) {
    Mapping m;
    std::string error;
    EXPECT_FALSE(m.parse(text, "test.map", &error));
    return error;
}

TEST(MappingFile, ReadsKindsValuesRolesAndConditions) {
    Mapping m = parsed(
        "# comment line\n"
        "\n"
        "road 4 +main highway=motorway|trunk   # trailing comment\n"
        "line 13 boundary=administrative admin_level<=4\n"
        "area 11 +water natural=water\n"
        "place 22 place=town\n"
        "poi 7 tourism=*\n"
        "skip 0 highway=proposed\n");
    ASSERT_EQ(m.rules().size(), 6u);
    const Rule& road = m.rules()[0];
    EXPECT_EQ(road.kind, Kind::Road);
    EXPECT_EQ(road.value, 4);
    EXPECT_EQ(road.roles, unsigned(kRoleMain));
    EXPECT_EQ(road.line, 3);
    ASSERT_EQ(road.conditions.size(), 1u);
    EXPECT_EQ(road.conditions[0].values, (std::vector<std::string>{"motorway", "trunk"}));
    const Rule& line = m.rules()[1];
    ASSERT_EQ(line.conditions.size(), 2u);
    EXPECT_EQ(line.conditions[1].key, "admin_level");
    EXPECT_EQ(line.conditions[1].op, Condition::Op::LessEqual);
    EXPECT_EQ(line.conditions[1].number, 4);
    EXPECT_EQ(m.rules()[2].roles, unsigned(kRoleWater));
}

TEST(MappingFile, FirstMatchingRuleWins) {
    Mapping m = parsed("road 8 highway=residential\nroad 9 highway=*\n");
    EXPECT_EQ(classify(m, Shape::Line, {{"highway", "residential"}})->value, 8);
    EXPECT_EQ(classify(m, Shape::Line, {{"highway", "service"}})->value, 9);
    EXPECT_EQ(classify(m, Shape::Line, {{"railway", "rail"}}), nullptr);
}

TEST(MappingFile, RulesApplyOnlyToGeometryTheyAccept) {
    Mapping m = parsed("road 5 amenity=parking\npoi 6 amenity=parking\n");
    EXPECT_EQ(classify(m, Shape::Line, {{"amenity", "parking"}})->kind, Kind::Road);
    // A polygon is no road; a point-of-interest rule takes it (at a point inside it).
    EXPECT_EQ(classify(m, Shape::Polygon, {{"amenity", "parking"}})->kind, Kind::Poi);
    EXPECT_EQ(classify(m, Shape::Point, {{"amenity", "parking"}})->kind, Kind::Poi);
}

TEST(MappingFile, ComparisonsNeedNumbersAndAbsenceIsNotEqualStar) {
    Mapping m = parsed("line 13 boundary!=* admin_level<4.5\nline 14 admin_level>=5\n");
    EXPECT_EQ(classify(m, Shape::Line, {{"admin_level", "4"}})->value, 13);
    EXPECT_EQ(classify(m, Shape::Line, {{"admin_level", "5"}})->value, 14);
    EXPECT_EQ(classify(m, Shape::Line, {{"admin_level", "4"}, {"boundary", "x"}}), nullptr);
    EXPECT_EQ(classify(m, Shape::Line, {{"admin_level", "four"}}), nullptr);
    EXPECT_EQ(classify(m, Shape::Line, {}), nullptr);
}

TEST(MappingFile, EmptyValuesCountAsAbsent) {
    Mapping m = parsed("poi 1 name=*\n");
    EXPECT_EQ(classify(m, Shape::Point, {{"name", ""}}), nullptr);
    EXPECT_NE(classify(m, Shape::Point, {{"name", "x"}}), nullptr);
}

TEST(MappingFile, ErrorsNameTheFileAndLine) {
    EXPECT_EQ(parse_error("road 4 highway=motorway\nstreet 4 highway=x\n"),
              "test.map:2: unknown kind \"street\" (road, line, area, place, poi or skip)");
    EXPECT_NE(parse_error("road x highway=a\n").find("test.map:1: value \"x\" is no integer"),
              std::string::npos);
}

TEST(MappingFile, ValuesOutsideTheirKindsRangeAreRefused) {
    for (const char* bad :
         {"road 0 a=b", "road 10 a=b", "line 11 a=b", "line 16 a=b", "area 12 a=b", "place 20 a=b",
          "place 25 a=b", "poi 0 a=b", "poi 40000 a=b"}) {
        EXPECT_NE(parse_error(bad).find("out of range"), std::string::npos) << bad;
    }
}

TEST(MappingFile, MalformedRulesAreRefused) {
    EXPECT_NE(parse_error("road 4\n").find("at least one condition"), std::string::npos);
    EXPECT_NE(parse_error("road 4 highway\n").find("no operator"), std::string::npos);
    EXPECT_NE(parse_error("road 4 =x\n").find("no attribute name"), std::string::npos);
    EXPECT_NE(parse_error("road 4 highway=\n").find("no value"), std::string::npos);
    EXPECT_NE(parse_error("road 4 highway=a||b\n").find("empty alternative"), std::string::npos);
    EXPECT_NE(parse_error("line 13 admin_level<=low\n").find("no number"), std::string::npos);
    EXPECT_NE(parse_error("road 4 +water highway=a\n").find("role"), std::string::npos);
    EXPECT_NE(parse_error("road\n").find("needs a value"), std::string::npos);
    EXPECT_NE(parse_error("# nothing\n\n").find("holds no rule"), std::string::npos);
}

TEST(DefaultMapping, ClassifiesOpenStreetMapTags) {
    Mapping m = parsed(std::string(default_mapping_text()));
    auto road = [&](const char* v) { return classify(m, Shape::Line, {{"highway", v}}); };
    EXPECT_EQ(road("motorway")->value, 4);
    EXPECT_TRUE(road("motorway")->roles & kRoleMain);
    EXPECT_EQ(road("trunk")->value, 1);
    EXPECT_EQ(road("trunk_link")->value, 2);
    EXPECT_EQ(road("primary")->value, 5);
    EXPECT_EQ(road("secondary")->value, 6);
    EXPECT_EQ(road("tertiary")->value, 7);
    EXPECT_EQ(road("residential")->value, 8);
    EXPECT_EQ(road("service")->value, 9);
    EXPECT_EQ(road("footway")->value, 3);
    EXPECT_EQ(road("proposed")->kind, Kind::Skip);
    EXPECT_EQ(classify(m, Shape::Line, {{"railway", "rail"}})->value, 10);
    EXPECT_EQ(classify(m, Shape::Line, {{"waterway", "river"}})->roles, unsigned(kRoleRiver));
    EXPECT_EQ(classify(m, Shape::Polygon, {{"natural", "water"}})->value, 11);
    EXPECT_EQ(classify(m, Shape::Polygon, {{"leisure", "park"}})->kind, Kind::Area);
    EXPECT_EQ(
        classify(m, Shape::Line, {{"boundary", "administrative"}, {"admin_level", "4"}})->value,
        13);
    EXPECT_EQ(
        classify(m, Shape::Line, {{"boundary", "administrative"}, {"admin_level", "7"}})->value,
        14);
    EXPECT_EQ(classify(m, Shape::Point, {{"place", "city"}})->value, 21);
    EXPECT_EQ(classify(m, Shape::Point, {{"place", "suburb"}})->value, 22);
    EXPECT_EQ(classify(m, Shape::Point, {{"place", "village"}})->value, 23);
    EXPECT_EQ(classify(m, Shape::Point, {{"place", "hamlet"}})->value, 24);
    EXPECT_EQ(classify(m, Shape::Point, {{"amenity", "cafe"}})->value, 1);
    EXPECT_EQ(classify(m, Shape::Point, {{"amenity", "bank"}})->value, 3);
    EXPECT_EQ(classify(m, Shape::Point, {{"shop", "bakery"}})->value, 2);
    EXPECT_EQ(classify(m, Shape::Point, {{"tourism", "hotel"}})->value, 7);
}

TEST(DefaultMapping, ClassifiesVectorTileGeoJsonAttributes) {
    Mapping m = parsed(std::string(default_mapping_text()));
    // Boundary lines of the vector tiles carry admin_level without a boundary tag.
    EXPECT_EQ(classify(m, Shape::Line, {{"admin_level", "4"}})->value, 13);
    EXPECT_EQ(classify(m, Shape::Line, {{"admin_level", "5"}})->value, 14);
    EXPECT_EQ(classify(m, Shape::Point, {{"layer", "poi"}, {"_class", "restaurant"}})->value, 1);
    EXPECT_EQ(classify(m, Shape::Point, {{"layer", "poi"}, {"_class", "clothing_store"}})->value,
              2);
    EXPECT_EQ(classify(m, Shape::Point, {{"layer", "peak"}})->value, 11);
    EXPECT_EQ(classify(m, Shape::Point, {{"layer", "place"}, {"place", "suburb"}})->value, 22);
}

TEST(OtherTags, ValuesAreFoundAndUnescaped) {
    std::string scratch;
    const std::string h = R"("admin_level"=>"4","boundary"=>"administrative","note"=>"a \"b\"")";
    EXPECT_EQ(hstore_value(h, "boundary", &scratch), "administrative");
    EXPECT_EQ(hstore_value(h, "admin_level", &scratch), "4");
    EXPECT_EQ(hstore_value(h, "note", &scratch), "a \"b\"");
    EXPECT_EQ(hstore_value(h, "missing", &scratch), "");
    EXPECT_EQ(hstore_value(R"("a"=>"unterminated)", "a", &scratch), "");
    EXPECT_EQ(hstore_value("", "a", &scratch), "");
}

}  // namespace
}  // namespace kimport
