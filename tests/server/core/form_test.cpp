// form_test.cpp: the console window's control table and its handlers.
#include "tessera/core/form.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#include "fakes.h"

namespace tessera::core {
namespace {

using testing::FakeEngine;
using testing::FakeFiles;
using testing::FakeForm;
using testing::RecordingLog;

TEST(ControlTable, HoldsTheDesignInCreationOrderWithItsCaptionsAndTabOrder) {
    const struct {
        const char* name;
        ControlKind kind;
        const char* caption;  // UTF-8
        int left, top, width, height;
    } design[] = {
        {"Command3", ControlKind::kButton, "\xe6\xb8\x85\xe5\x9c\x96", 3240, 0, 615, 255},
        {"Command2", ControlKind::kButton, "\xe5\xaf\xac\xe9\xab\x98", 4080, 0, 615, 255},
        {"Text5", ControlKind::kTextBox, "Text5", 5400, 0, 495, 270},
        {"Text4", ControlKind::kTextBox, "Text4", 4800, 0, 495, 270},
        {"Command1", ControlKind::kButton, "\xe7\xa7\x80\xe5\x9c\x96", 2520, 0, 615, 255},
        {"Text3", ControlKind::kTextBox, "20", 2040, 0, 375, 270},
        {"Text2", ControlKind::kTextBox, "2771234", 1200, 0, 735, 270},
        {"Text1", ControlKind::kTextBox, "301234", 360, 0, 735, 270},
        {"P", ControlKind::kPicture, "", 240, 720, 5400, 4200},
        {"Label5", ControlKind::kLabel, "\xe5\x89\x8d\xe6\xac\xa1\xe6\x99\x82\xe9\x96\x93", 1080,
         360, 720, 180},
        {"Label4", ControlKind::kLabel, "", 1800, 360, 2055, 255},
        {"Label3", ControlKind::kLabel, "\xe7\x8b\x80\xe6\x85\x8b", 120, 360, 360, 180},
        {"Label2", ControlKind::kLabel, "xy", 120, 0, 180, 180},
        {"Label1", ControlKind::kLabel, "", 480, 360, 495, 255},
    };
    ASSERT_EQ(std::size(kControls), std::size(design));
    for (size_t i = 0; i < std::size(design); ++i) {
        const ControlEntry& entry = kControls[i];
        EXPECT_STREQ(entry.name, design[i].name);
        EXPECT_EQ(static_cast<size_t>(entry.id), i);
        EXPECT_EQ(entry.kind, design[i].kind);
        EXPECT_EQ(captionText(entry), design[i].caption) << entry.name;
        EXPECT_EQ(entry.left, design[i].left);
        EXPECT_EQ(entry.top, design[i].top);
        EXPECT_EQ(entry.width, design[i].width);
        EXPECT_EQ(entry.height, design[i].height);
        EXPECT_EQ(findControl(entry.name), &entry);
    }
    EXPECT_EQ(findControl("BMP2GIF1"), nullptr);
    // Tab order: P, Text1, Text2, Text3, Command1, Text4, Text5, Command2, Command3.
    std::vector<std::string> tabs(9);
    for (const ControlEntry& entry : kControls) {
        if (entry.kind != ControlKind::kLabel)
            tabs.at(static_cast<size_t>(entry.tabIndex)) = entry.name;
    }
    EXPECT_EQ(tabs, (std::vector<std::string>{"P", "Text1", "Text2", "Text3", "Command1", "Text4",
                                              "Text5", "Command2", "Command3"}));
    EXPECT_EQ(pixels(kClientWidthTwips), 401);
    EXPECT_EQ(pixels(kClientHeightTwips), 377);
}

// A console window without a screen, with an engine and a log.
class FormHandlers : public ::testing::Test {
  protected:
    FakeFiles files;
    FakeForm form{files};
    FakeEngine engine;
    RecordingLog log;
};

TEST_F(FormHandlers, LoadFillsTheSizeBoxesWithTheInnerSizeOfP) {
    EXPECT_EQ(form.text(Control::kText4), " 356");
    EXPECT_EQ(form.text(Control::kText5), " 276");
}

TEST_F(FormHandlers, TheSizeButtonSetsTheOuterSizeFromTheTexts) {
    runButton(form, engine, Control::kCommand2);  // unchanged: 4 pixels smaller
    EXPECT_EQ(form.picture().innerWidth(), 352);
    EXPECT_EQ(form.picture().innerHeight(), 272);
    form.setText(Control::kText4, "200abc");
    form.setText(Control::kText5, " 1 50");
    runButton(form, engine, Control::kCommand2);
    EXPECT_EQ(form.picture().innerWidth(), 196);
    EXPECT_EQ(form.picture().innerHeight(), 146);
    form.setText(Control::kText4, "-20");
    EXPECT_EQ(testing::errorNumberOf([&] { runButton(form, engine, Control::kCommand2); }), 380);
}

TEST_F(FormHandlers, TheDrawButtonDrawsTheTextsViewAndOverflowsOnAHugeCentre) {
    runButton(form, engine, Control::kCommand1);
    EXPECT_EQ(engine.last.left, 301234 - 3560);
    EXPECT_EQ(engine.last.scale, 20);
    // No number in the scale box: scale 0, which the engine refuses after the box is cleared.
    form.setText(Control::kText3, "abc");
    runButton(form, engine, Control::kCommand1);
    EXPECT_EQ(engine.last.scale, 0);
    EXPECT_EQ(form.box().clears, 2);
    form.setText(Control::kText3, "20");
    form.setText(Control::kText1, "1e10");
    EXPECT_EQ(testing::errorNumberOf([&] { runButton(form, engine, Control::kCommand1); }), 6);
    // The labels stay as they were.
    EXPECT_EQ(form.text(Control::kLabel1), "");
    EXPECT_EQ(form.text(Control::kLabel4), "");
}

TEST_F(FormHandlers, TheClearButtonClearsAndRefreshesP) {
    runButton(form, engine, Control::kCommand3);
    EXPECT_EQ(form.box().clears, 1);
    EXPECT_EQ(form.box().refreshes, 1);
}

TEST_F(FormHandlers, AnOperatorsPressShowsAndLogsTheErrorAndTheWindowStays) {
    form.setText(Control::kText4, "-20");
    pressButton(form, engine, log, Control::kCommand2);
    EXPECT_EQ(form.errors,
              (std::vector<std::string>{"Run-time error '380':\n\nInvalid property value"}));
    EXPECT_TRUE(log.contains("console window: run-time error 380: Invalid property value"));
    pressButton(form, engine, log, Control::kCommand3);
    EXPECT_EQ(form.errors.size(), 1u);
}

TEST(TimeStamp, IsTwoDigitYearMonthDayAndTheTime) {
    EXPECT_EQ(timeStampText(LocalTime{2003, 4, 5, 6, 7, 8, 0}), "03_04_05 06:07:08");
    EXPECT_EQ(timeStampText(LocalTime{2026, 12, 8, 14, 5, 9, 999}), "26_12_08 14:05:09");
}

}  // namespace
}  // namespace tessera::core
