// log_test.cpp: the server's log lines, the escaping of client text in them and the bounded
// log file.
#include "tessera/core/log.h"

#include <gtest/gtest.h>
#include <test_support/files.h>
#include <test_support/temp_dir.h>

#include <filesystem>
#include <string>

namespace tessera::core {
namespace {

namespace fs = std::filesystem;
using test_support::TempDir;

TEST(LogText, EscapesClientTextGivenAsUtf16WithItsUnpairedSurrogates) {
    const std::u16string id = u"x\n\u2028\u202e" + std::u16string(1, char16_t(0xDC00)) + u"\u4e2d";
    EXPECT_EQ(logText(id), "x\\n\\u{2028}\\u{202e}\\u{dc00}\xe4\xb8\xad");
    EXPECT_EQ(logText(std::u16string(300, u'a')), std::string(256, 'a') + "...(44 more)");
    EXPECT_EQ(logText(std::string("ok\xff"), 1), "o...(2 more)");
}

TEST(LogLines, GiveTimeProcessLevelAndTheMessageOnOneLine) {
    const LocalTime time{2026, 12, 8, 14, 5, 9, 7};
    EXPECT_EQ(formatLogLine(time, 42, LogLevel::kWarning, "draw \"A\\\"\nB"),
              "2026-12-08T14:05:09.007 tessera[42] warning: draw \"A\\\"\\nB");
    EXPECT_EQ(formatLogLine(time, 1, LogLevel::kInfo, "ended"),
              "2026-12-08T14:05:09.007 tessera[1] info: ended");
}

TEST(LogFile, RotatesBeforeALineWouldPassTheBound) {
    TempDir folder("tessera-core-test");
    const std::string name = folder.file("tessera.log");
    {
        LogFile log;
        ASSERT_TRUE(log.open(name, 100));
        for (int i = 0; i < 25; ++i) log.writeLine(std::string(19, static_cast<char>('a' + i)));
    }
    // Five 20-byte lines fill a file; the 25 lines leave the last five in each of the two.
    std::string old;
    for (char c : {'p', 'q', 'r', 's', 't'}) old += std::string(19, c) + "\n";
    EXPECT_EQ(test_support::read_file(name + ".1"), old);
    EXPECT_EQ(fs::file_size(name), 100u);
    EXPECT_EQ(std::distance(fs::directory_iterator(folder.path()), fs::directory_iterator()), 2);
    // Reopening continues the file at its size: the next line rotates at once, replacing the
    // older file.
    LogFile again;
    ASSERT_TRUE(again.open(name, 100));
    again.writeLine("z");
    EXPECT_EQ(fs::file_size(name), 2u);
    EXPECT_EQ(test_support::read_file(name + ".1").substr(0, 19), std::string(19, 'u'));
}

TEST(LogFile, AFileThatCannotBeOpenedIsReportedAndWritesNothing) {
    TempDir folder("tessera-core-test");
    LogFile log;
    EXPECT_FALSE(log.open(folder.file("missing/tessera.log")));
    EXPECT_FALSE(log.isOpen());
    log.writeLine("lost");
    EXPECT_FALSE(fs::exists(folder.file("missing")));
}

TEST(LogWriter, WritesFormattedLinesToItsFileAndEcho) {
    TempDir folder("tessera-core-test");
    LogWriter log(7);
    std::string echoed;
    log.setEcho([&](const std::string& line) { echoed = line; });
    ASSERT_TRUE(log.file().open(folder.file("tessera.log")));
    log.warning("client \"" + logText("a\nb") + "\"");
    const std::string written = test_support::read_file(folder.file("tessera.log"));
    EXPECT_EQ(written, echoed + "\n");
    EXPECT_NE(written.find(" tessera[7] warning: client \"a\\nb\"\n"), std::string::npos)
        << written;
}

}  // namespace
}  // namespace tessera::core
