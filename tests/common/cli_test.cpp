// cli_test.cpp: the command line every program reads through its option table ("--opt value"
// and "--opt=value", the errors, the help made from the table) and the escaping of client text
// for log lines.
#include "kcommon/cli.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "kcommon/log_text.h"

namespace {

// A program with an option of each kind, the values it was given, and what it printed.
struct Command {
    std::string data = "unset";
    bool flag = false;
    int workers = 0;
    std::vector<std::string> layers;
    std::vector<std::string> operands;
    std::optional<int> end;
    std::string out, err;

    kcli::Program program() {
        return {.name = "prog",
                .usage = "Usage: prog [options] FILE...\n\nDoes things.\n",
                .options = {{.name = "--data",
                             .alias = "-d",
                             .value = "DIR",
                             .help = "data set directory",
                             .handle = kcli::store(&data)},
                            {.name = "--flag", .help = "a flag", .handle = kcli::set(&flag)},
                            {.name = "--workers",
                             .value = "N",
                             .help = "processes",
                             .handle = kcli::whole(1, 64, &workers)},
                            {.name = "--layer",
                             .alias = "--level",
                             .value = "NAME",
                             .help = "repeatable",
                             .handle =
                                 [this](const std::string& v) {
                                     layers.push_back(v);
                                     return std::string();
                                 }},
                            {.name = "--a-rather-long-option-name",
                             .value = "VALUE",
                             .help = "a help text long enough to be wrapped over more than one "
                                     "line of the help, at words, below eighty columns",
                             .handle = kcli::store(&data)}},
                .notes = "Exit status: 0.\n"};
    }

    // Parses `args` (after the program's name), taking operands when `with_operands`.
    Command& parse(std::vector<std::string> args, bool with_operands = true) {
        args.insert(args.begin(), "prog");
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        const kcli::Program p = program();
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        end = kcli::parse(p, static_cast<int>(argv.size()), argv.data(),
                          with_operands ? &operands : nullptr);
        out = testing::internal::GetCapturedStdout();
        err = testing::internal::GetCapturedStderr();
        return *this;
    }
};

TEST(OptionTable, TakesValuesInBothFormsAndOperandsInOrder) {
    Command r;
    r.parse({"in1", "--data", "a=b", "--flag", "--workers=64", "--layer", "-x", "--level=", "-d",
             "c", "-", "--", "--flag", "-d"});
    EXPECT_FALSE(r.end.has_value()) << r.err;
    EXPECT_EQ(r.data, "c");
    EXPECT_TRUE(r.flag);
    EXPECT_EQ(r.workers, 64);
    EXPECT_EQ(r.layers, (std::vector<std::string>{"-x", ""}));
    EXPECT_EQ(r.operands, (std::vector<std::string>{"in1", "-", "--flag", "-d"}));
    EXPECT_TRUE(r.out.empty() && r.err.empty());
}

struct Refusal {
    std::vector<std::string> args;
    const char* message;  // the whole line on standard error
};

class OptionTableRefuses : public testing::TestWithParam<Refusal> {};

TEST_P(OptionTableRefuses, InOneLineWithStatusTwo) {
    Command r;
    r.parse(GetParam().args, /*with_operands=*/false);
    EXPECT_EQ(r.end, kcli::kUsageStatus);
    EXPECT_EQ(r.err, GetParam().message);
    EXPECT_TRUE(r.out.empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryUsageError, OptionTableRefuses,
    testing::Values(
        Refusal{{"--bogus=1"}, "prog: unknown option '--bogus' (see prog --help)\n"},
        Refusal{{"-x"}, "prog: unknown option '-x' (see prog --help)\n"},
        Refusal{{"--flag", "--data"}, "prog: --data needs a value (see prog --help)\n"},
        Refusal{{"--flag=yes"}, "prog: option --flag takes no value (see prog --help)\n"},
        Refusal{{"file"}, "prog: unexpected argument 'file' (see prog --help)\n"},
        Refusal{{"--", "-d"}, "prog: unexpected argument '-d' (see prog --help)\n"},
        Refusal{{"--workers", "0x10"},
                "prog: --workers wants 1 to 64, not '0x10' (see prog --help)\n"},
        Refusal{{"--workers= 5"}, "prog: --workers wants 1 to 64, not ' 5' (see prog --help)\n"},
        // The first error ends the reading: a --help after it is not reached.
        Refusal{{"--workers=65", "--help"},
                "prog: --workers wants 1 to 64, not '65' (see prog --help)\n"}));

TEST(OptionTable, HelpAndVersionEndWithStatusZero) {
    Command help;
    help.parse({"--flag", "-h", "--bogus"});
    EXPECT_EQ(help.end, 0);
    EXPECT_EQ(help.out, kcli::help_text(help.program()));
    Command version;
    version.parse({"--version"});
    EXPECT_EQ(version.end, 0);
    EXPECT_EQ(version.out.rfind("prog ", 0), 0u);
    EXPECT_EQ(version.out.back(), '\n');
    Command r;
    kcli::Program p = r.program();
    p.version = "prog 1.00 (type library 1.0)";
    EXPECT_EQ(kcli::version_line(p), "prog 1.00 (type library 1.0)\n");
}

TEST(OptionTable, HelpListsEveryOptionInColumnsBelowEightyCharacters) {
    Command r;
    const std::string help = kcli::help_text(r.program());
    EXPECT_EQ(help.rfind("Usage: prog [options] FILE...\n\nDoes things.\n\nOptions:\n", 0), 0u);
    // The column is that of the longest name that fits in 30 characters; a longer one has a
    // line of its own.
    for (const char* row : {"\n  -d, --data DIR             data set directory\n",
                            "\n      --layer, --level NAME  repeatable\n",
                            "\n      --a-rather-long-option-name VALUE\n                  "
                            "           a help text",
                            "\n  -h, --help                 show this text and exit\n",
                            "\n      --version              show the version and exit\n"})
        EXPECT_NE(help.find(row), std::string::npos) << row << help;
    EXPECT_NE(help.find("\nOptions take their value as the next argument or after '=' "
                        "(--data=DIR).\n\nExit status: 0.\n"),
              std::string::npos)
        << help;
    std::istringstream lines(help);
    std::string line, wrapped;
    while (std::getline(lines, line)) {
        EXPECT_LT(line.size(), 80u) << line;
        if (line.rfind(std::string(29, ' '), 0) == 0) wrapped += line.substr(29) + " ";
    }
    EXPECT_NE(wrapped.find("line of the help, at words, below eighty columns"), std::string::npos)
        << help;
}

TEST(ExpandArgs, SplitsTheEqualsFormOfOptionsWithValuesOnly) {
    std::vector<std::string> args = {"prog", "--data=/a=b", "--listen", "x:1", "--", "--data=c"};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    std::vector<std::string> out;
    EXPECT_EQ(
        kcli::expand_args(static_cast<int>(argv.size()), argv.data(), {"--data", "--listen"}, &out),
        "");
    EXPECT_EQ(out,
              (std::vector<std::string>{"--data", "/a=b", "--listen", "x:1", "--", "--data=c"}));
    char help[] = "--help=yes";
    char* bad[] = {argv[0], help};
    EXPECT_EQ(kcli::expand_args(2, bad, {"--data"}, &out), "option --help takes no value");
}

TEST(LogEscape, KeepsPrintableAsciiAndWritesEveryOtherByteInHex) {
    EXPECT_EQ(kcommon::log_escape("GET /a?b=\"\\\xE4\r\n"), "GET /a?b=\\x22\\x5C\\xE4\\x0D\\x0A");
    EXPECT_EQ(kcommon::log_escape("abcdef", 3), "abc...");
}

}  // namespace
