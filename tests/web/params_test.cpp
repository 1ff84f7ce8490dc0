// params_test.cpp: query strings become parameters with case-insensitive names, decoded
// percent escapes and repeated keys with one value; malformed ones, and keys repeated with
// different values, are refused with a reason;
// the readers of boxes, flags and colours take only what their contracts say.
#include "service/params.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

struct Query {
    const char* name;
    std::string query;
    bool ok;
    std::map<std::string, std::string> values;  // upper-case names
};

class QueryStrings : public ::testing::TestWithParam<Query> {};

TEST_P(QueryStrings, AreParsedOrRefused) {
    kserve::Params p;
    std::string error;
    ASSERT_EQ(p.parse(GetParam().query, error), GetParam().ok) << error;
    if (GetParam().ok)
        EXPECT_EQ(p.all(), GetParam().values);
    else
        EXPECT_FALSE(error.empty());
}

std::string many_pairs(int n) {
    std::string q;
    for (int i = 0; i < n; ++i) q += "k" + std::to_string(i) + "=1&";
    return q;
}

std::map<std::string, std::string> many_values(int n) {
    std::map<std::string, std::string> v;
    for (int i = 0; i < n; ++i) v["K" + std::to_string(i)] = "1";
    return v;
}

INSTANTIATE_TEST_SUITE_P(
    Queries, QueryStrings,
    ::testing::Values(
        Query{"names_in_any_case",
              "Service=WMS&layers=a,b",
              true,
              {{"SERVICE", "WMS"}, {"LAYERS", "a,b"}}},
        Query{"escapes_and_plus", "q=%E4%B8%AD+x%2Fy", true, {{"Q", "\xE4\xB8\xAD x/y"}}},
        // A key repeated with the same value is one parameter (a client adding SERVICE=WMS to
        // an address that has it already); with another value it is in doubt: refused.
        Query{"repeated_with_one_value", "a=1&A=1", true, {{"A", "1"}}},
        Query{"repeated_with_two_values", "a=1&A=2", false, {}},
        Query{"empty_pairs_and_values", "&&a=&b&", true, {{"A", ""}, {"B", ""}}},
        Query{"sixty_four_pairs", many_pairs(64), true, many_values(64)},
        Query{"sixty_five_pairs", many_pairs(65), false, {}},
        Query{"malformed_escape", "a=%zz", false, {}}, Query{"cut_escape", "a=%4", false, {}},
        Query{"nul_byte", "a=%00", false, {}}, Query{"empty_name", "=1", false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QueryStrings, ValuesAreFoundByNameInAnyCase) {
    kserve::Params p;
    std::string error;
    ASSERT_TRUE(p.parse("BBox=1,2,3,4", error));
    EXPECT_TRUE(p.has("bbox"));
    EXPECT_EQ(p.get("BBOX"), "1,2,3,4");
    EXPECT_EQ(p.get("width"), "");
}

TEST(ValueReaders, TakeOnlyWhatTheirContractsSay) {
    const auto box = kserve::parse_box("-1.5,2,3e2,4");
    ASSERT_TRUE(box);
    EXPECT_EQ(box->minx, -1.5);
    EXPECT_EQ(box->maxx, 300);
    for (const char* bad : {"1,2,3", "3,2,1,4", "1,4,3,2", "1,2,3,4,5", "1,2,3,inf", "1, 2,3,4"})
        EXPECT_FALSE(kserve::parse_box(bad)) << bad;
    EXPECT_EQ(kserve::parse_flag("", true), true);
    EXPECT_EQ(kserve::parse_flag("tRuE", false), true);
    EXPECT_EQ(kserve::parse_flag("FALSE", true), false);
    EXPECT_EQ(kserve::parse_flag("1", false), std::nullopt);
    EXPECT_EQ(kserve::parse_colour("0x10a0Ff"), 0x10A0FFu);
    for (const char* bad : {"10A0FF", "0x10A0F", "0x10A0FFF", "0xGGGGGG", "#10A0FF"})
        EXPECT_EQ(kserve::parse_colour(bad), std::nullopt) << bad;
    EXPECT_EQ(kserve::split("a,,b,", ','), (std::vector<std::string>{"a", "", "b", ""}));
}

}  // namespace
