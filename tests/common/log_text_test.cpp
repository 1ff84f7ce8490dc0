// log_text_test.cpp: the text policy of log escaping (the request server's log): what could
// forge or hide a line is escaped, other characters stay readable, long text is cut.
#include "kcommon/log_text.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(LogEscapeText, EscapesWhatCouldForgeOrHideALine) {
    const struct {
        std::string in;
        std::string out;
    } cases[] = {
        {"A12", "A12"},
        {"x\n2026-12-09 tessera[1] info: forged", "x\\n2026-12-09 tessera[1] info: forged"},
        {"\x1b[31mred\r\t", "\\x1b[31mred\\r\\t"},
        {"back\\slash \"quoted\"", "back\\\\slash \\\"quoted\\\""},
        {std::string("\xc2\x85\x7f\0", 4), "\\x85\\x7f\\x00"},
        // U+2028, U+202E and the surrogate U+DC00 in its three-byte form.
        {"\xe2\x80\xa8\xe2\x80\xae\xed\xb0\x80", "\\u{2028}\\u{202e}\\u{dc00}"},
        {"\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x97\xba", "\xe4\xb8\xad\xe6\x96\x87 \xf0\x9f\x97\xba"},
        // Bytes that start no character, one escape each.
        {"ok\xff\xc3(\xe4\xb8\xad\n", "ok\\xff\\xc3(\xe4\xb8\xad\\n"},
        {"\xe0\x80\x80", "\\xe0\\x80\\x80"},
    };
    for (const auto& c : cases) EXPECT_EQ(kcommon::log_escape_text(c.in, 256), c.out) << c.out;
}

TEST(LogEscapeText, CutsAfterTheGivenNumberOfCharactersAndCountsTheRest) {
    EXPECT_EQ(kcommon::log_escape_text(std::string(300, 'a'), 256),
              std::string(256, 'a') + "...(44 more)");
    // Characters, not bytes: three Chinese characters of three bytes each, cut after two.
    EXPECT_EQ(kcommon::log_escape_text("\xe4\xb8\xad\xe4\xb8\xad\xe4\xb8\xad", 2),
              "\xe4\xb8\xad\xe4\xb8\xad...(1 more)");
    EXPECT_EQ(kcommon::log_escape_text("ab\xff\xff", 2), "ab...(2 more)");
}

TEST(LogOneLine, EscapesOnlyWhatBreaksOrHidesTheLine) {
    EXPECT_EQ(kcommon::log_one_line("a \"b\\\"\nc"), "a \"b\\\"\\nc");
    EXPECT_EQ(kcommon::log_one_line(std::string(3000, 'x')), std::string(3000, 'x'));
}

}  // namespace
