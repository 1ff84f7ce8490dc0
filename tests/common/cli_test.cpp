// cli_test.cpp: the command-line conventions every program shares ("--opt value" and
// "--opt=value") and the escaping of client text for log lines.
#include "kcommon/cli.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kcommon/log_text.h"

namespace {

std::string expand(std::vector<std::string> args, std::vector<std::string>* out) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    return kcli::expand_args(static_cast<int>(argv.size()), argv.data(), {"--data", "--listen"},
                             out);
}

TEST(ExpandArgs, SplitsTheEqualsFormOfOptionsWithValuesOnly) {
    std::vector<std::string> out;
    EXPECT_EQ(expand({"prog", "--data=/a=b", "--listen", "x:1", "--", "--data=c"}, &out), "");
    EXPECT_EQ(out,
              (std::vector<std::string>{"--data", "/a=b", "--listen", "x:1", "--", "--data=c"}));
    EXPECT_EQ(expand({"prog", "--help=yes"}, &out), "option --help takes no value");
}

TEST(LogEscape, KeepsPrintableAsciiAndWritesEveryOtherByteInHex) {
    EXPECT_EQ(kcommon::log_escape("GET /a?b=\"\\\xE4\r\n"), "GET /a?b=\\x22\\x5C\\xE4\\x0D\\x0A");
    EXPECT_EQ(kcommon::log_escape("abcdef", 3), "abc...");
}

}  // namespace
