// etag_test.cpp: If-None-Match as RFC 9110 has it: "*", lists with blanks and empty elements,
// weak tags compared weakly, and malformed fields that match nothing.
#include "kcommon/etag.h"

#include <gtest/gtest.h>

#include <string>

namespace {

struct Field {
    std::string field;
    bool matches;  // the tag "abc-1"
};

class IfNoneMatch : public ::testing::TestWithParam<Field> {};

TEST_P(IfNoneMatch, MatchesByTheWeakComparison) {
    EXPECT_EQ(kcommon::if_none_match(GetParam().field, "\"abc-1\""), GetParam().matches);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, IfNoneMatch,
    ::testing::Values(Field{"\"abc-1\"", true}, Field{"W/\"abc-1\"", true}, Field{"*", true},
                      Field{" * ", true}, Field{"\"x\", \"abc-1\"", true},
                      Field{"\"x\",W/\"abc-1\" ,", true}, Field{", ,\"abc-1\"", true},
                      Field{"\"x\"\t,\t\"abc-1\"", true}, Field{"", false},
                      Field{"\"abc-2\"", false}, Field{"\"ABC-1\"", false}, Field{"abc-1", false},
                      Field{"\"abc-1", false}, Field{"w/\"abc-1\"", false},
                      Field{"\"abc-1\" \"x\"", false}, Field{"*, \"abc-1\"", false},
                      Field{"\"a b\", \"abc-1\"", false}, Field{"\"x\", garbage", false}));

TEST(IfNoneMatch, AWeakCurrentTagMatchesItsStrongForm) {
    EXPECT_TRUE(kcommon::if_none_match("\"t\"", "W/\"t\""));
    EXPECT_TRUE(kcommon::if_none_match("*", "W/\"t\""));
    EXPECT_FALSE(kcommon::if_none_match("\"t\"", "t"));  // not a tag: nothing matches it
}

}  // namespace
