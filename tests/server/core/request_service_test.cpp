// request_service_test.cpp: the methods of tesseraClass over fakes of what they run on.
#include "tessera/core/request_service.h"

#include <gtest/gtest.h>

#include <limits>

#include "fakes.h"

namespace tessera::core {
namespace {

using testing::errorNumberOf;

class RequestServiceTest : public ::testing::Test {
  protected:
    RequestServiceTest() { files.folders = {"app/kgrid/", "app/tmp/"}; }

    RequestService& service() { return *service_; }
    testing::FakeForm& form() { return *host.form; }
    std::vector<std::string> tmpFiles() const {
        std::vector<std::string> names;
        for (const auto& [path, _] : files.files) names.push_back(path.substr(8));
        return names;
    }
    std::string draw(std::u16string_view id, int16_t w = 360, int16_t h = 280, double mp = 20) {
        return service().draw(301234, 2771234, mp, id, w, h);
    }

    testing::FakeEngine engine;
    testing::FakeClock clock;
    testing::FakeFiles files;
    testing::RecordingLog log;
    testing::FakeHost host{files};
    FileNameRules rules = FileNameRules::kPosix;

  private:
    std::unique_ptr<RequestService> service_ = std::make_unique<RequestService>(
        Folders{"app/kgrid/", "app/tmp/"}, rules, Services{engine, clock, files, log, host});
};

TEST_F(RequestServiceTest, InitialisationLoadsTheDataSetOnce) {
    service().initialise();
    service().initialise();
    EXPECT_EQ(engine.initCalls, 1);
    EXPECT_EQ(engine.dataDir, "app/kgrid/");
    EXPECT_EQ(engine.tmpDir, "app/tmp/");
    EXPECT_FALSE(service().windowLoaded());
}

TEST_F(RequestServiceTest, TestAddsTheSharedCounterAndKeepsItsStepOnOverflow) {
    EXPECT_EQ(service().test(1, 2), 4);
    EXPECT_EQ(service().test(1, 2), 5);
    EXPECT_EQ(errorNumberOf([&] { service().test(2147483647, 1); }), 6);
    EXPECT_EQ(service().test(1, 2), 7);
    EXPECT_EQ(service().counter(), 4);
}

TEST_F(RequestServiceTest, DrawNamesTheGifFromIdMinuteAndSecondAndDeletesTheBmp) {
    EXPECT_EQ(draw(u"A12"), "A1259.gif");
    EXPECT_EQ(tmpFiles(), std::vector<std::string>{"A1259.gif"});
    EXPECT_EQ(form().text(Control::kLabel1), "busy");
    EXPECT_EQ(form().label1History, std::vector<std::string>{"busy"});
    EXPECT_EQ(engine.last.width, 356);
    clock.time.minute = 15;
    clock.time.second = 30;
    EXPECT_EQ(draw(u"\u4e2d"),
              "\xe4\xb8\xad"
              "1530.gif");
}

TEST_F(RequestServiceTest, DrawRefusesIdsThatAreNotPlainFileNamesWithoutWritingOrLoading) {
    for (std::u16string_view id : {u"", u"..", u"sub/A12", u"a\\b"}) EXPECT_EQ(draw(id), "err.gif");
    EXPECT_EQ(draw(std::u16string(201, u'a')), "err.gif");
    EXPECT_TRUE(tmpFiles().empty());
    EXPECT_FALSE(service().windowLoaded());
    EXPECT_TRUE(log.contains("draw: refused the request identifier \"sub/A12\""));
    EXPECT_EQ(draw(std::u16string(200, u'a')), std::string(200, 'a') + "59.gif");
}

TEST_F(RequestServiceTest, DrawUnderWindowsRulesRefusesDeviceNamesAndReservedCharacters) {
    RequestService windows(Folders{"app/kgrid/", "app/tmp/"}, FileNameRules::kWindows,
                           Services{engine, clock, files, log, host});
    EXPECT_EQ(windows.draw(0, 0, 20, u"CON", 360, 280), "err.gif");
    EXPECT_EQ(windows.draw(0, 0, 20, u"c:x", 360, 280), "err.gif");
    EXPECT_EQ(windows.draw(301234, 2771234, 20, u"C5", 160, 120), "C559.gif");
}

TEST_F(RequestServiceTest, ARefusedSizeLeavesThePictureBoxAsItWas) {
    EXPECT_EQ(draw(u"W", 4100, 60), "W59.gif");
    for (const auto& [w, h] : {std::pair<int16_t, int16_t>{4101, 60},
                               {16388, 16388},
                               {0, 1000},
                               {1000, 0},
                               {300, 4101},
                               {-5, 280}}) {
        EXPECT_EQ(draw(u"R", w, h), "err.gif");
        EXPECT_EQ(form().picture().innerWidth(), 4096);
        EXPECT_EQ(form().picture().innerHeight(), 56);
    }
    EXPECT_TRUE(log.contains("draw \"R\": 380: Invalid property value"));
    EXPECT_EQ(tmpFiles(), std::vector<std::string>{"W59.gif"});
}

TEST_F(RequestServiceTest, DrawGivesErrGifForEveryFailureAndLeavesOnlyWhatWasWritten) {
    // A view window outside int32: nothing saved.
    EXPECT_EQ(draw(u"O", 360, 280, 1e300), "err.gif");
    EXPECT_TRUE(tmpFiles().empty());
    // The converter fails: the BMP is deleted, the reason logged.
    form().fakeConverter().fail = true;
    EXPECT_EQ(draw(u"C"), "err.gif");
    EXPECT_TRUE(tmpFiles().empty());
    EXPECT_TRUE(log.contains("draw \"C\": the converter failed: cannot write the GIF"));
    form().fakeConverter().fail = false;
    // The BMP cannot be deleted: error 75, the GIF stays.
    files.undeletable.insert("app/tmp/D.bmp");
    EXPECT_EQ(draw(u"D"), "err.gif");
    EXPECT_TRUE(log.contains("draw \"D\": 75: Path/File access error"));
    // No temporary folder: error 76.
    files.folders.erase("app/tmp/");
    EXPECT_EQ(draw(u"E"), "err.gif");
    EXPECT_TRUE(log.contains("draw \"E\": 76: Path not found"));
}

TEST_F(RequestServiceTest, AWindowThatCannotLoadGivesErrGifAndError48) {
    host.loadError = 48;
    EXPECT_EQ(draw(u"A12"), "err.gif");
    EXPECT_EQ(errorNumberOf([&] { service().draw3(0, 0, 20); }), 48);
    EXPECT_EQ(errorNumberOf([&] { service().show(); }), 48);
    EXPECT_FALSE(service().windowLoaded());
    EXPECT_EQ(service().test(1, 2), 4);
    host.loadError = 0;
    EXPECT_EQ(service().show(), 0);
    EXPECT_EQ(form().shows, 1);
}

TEST_F(RequestServiceTest, Draw2FillsAnArrayWithRoomForTheViewAndStampsLabel4) {
    std::vector<unsigned char> b(kBmpHeaderBytes + 356 * 276);
    const int32_t count = service().draw2(301234, 2771234, 20, b);
    EXPECT_EQ(count, 356 * 276 / 2);
    EXPECT_EQ(b[0], 'B');
    EXPECT_EQ(form().text(Control::kLabel1), "");
    EXPECT_EQ(form().text(Control::kLabel4), "26_12_08 14:05:09");
    EXPECT_EQ(form().label1History, (std::vector<std::string>{"busy", ""}));
}

TEST_F(RequestServiceTest, Draw2RefusesAnEmptyOrShortArrayAndLeavesBusy) {
    std::vector<unsigned char> b(kBmpHeaderBytes + 356 * 276 - 1);
    EXPECT_EQ(errorNumberOf([&] { service().draw2(0, 0, 20, {}); }), 9);
    EXPECT_EQ(form().text(Control::kLabel1), "busy");
    EXPECT_EQ(errorNumberOf([&] { service().draw2(0, 0, 20, b); }), 9);
    EXPECT_EQ(errorNumberOf([&] { service().draw2(0, 0, 20, std::span(b.data(), 100)); }), 9);
    // The view is drawn before the array is judged.
    EXPECT_EQ(engine.drawCalls, 3);
}

TEST_F(RequestServiceTest, AfterARefusedScaleTheRoomOfTheLastAcceptedViewIsRequired) {
    service().draw3(301234, 2771234, 20);  // accepted 356 x 276
    EXPECT_EQ(draw(u"small", 60, 50, 0.5), "small59.gif");
    EXPECT_EQ(service().exportRoom(), 356 * 276);
    std::vector<unsigned char> b(kBmpHeaderBytes + 56 * 46);
    EXPECT_EQ(errorNumberOf([&] { service().draw2(0, 0, 0.5, b); }), 9);
    const auto image = service().draw3(301234, 2771234, 0.5);
    EXPECT_EQ(image.size(), static_cast<size_t>(kBmpHeaderBytes + 356 * 276 / 2));
}

TEST_F(RequestServiceTest, Draw3ReturnsTheWholeFileAndRefusesViewsLargerThanItsBuffer) {
    const auto image = service().draw3(301234, 2771234, 20);
    EXPECT_EQ(image.size(), static_cast<size_t>(kBmpHeaderBytes + 356 * 276 / 2));
    EXPECT_EQ(image[0], 'B');
    EXPECT_EQ(draw(u"big", 800, 700), "big59.gif");
    EXPECT_EQ(errorNumberOf([&] { service().draw3(0, 0, 20); }), 9);
    EXPECT_EQ(draw(u"fit", 710, 700), "fit59.gif");  // 706 x 696 fits
    EXPECT_EQ(service().draw3(0, 0, 20).size(),
              static_cast<size_t>(kBmpHeaderBytes + 706 * 696 / 2));
}

TEST_F(RequestServiceTest, Draw3FailsWithError5WhenTheExportRefusesAnd6OnOverflow) {
    engine.imageBytes = -1;
    EXPECT_EQ(errorNumberOf([&] { service().draw3(0, 0, 20); }), 5);
    engine.imageBytes = 0;
    EXPECT_EQ(errorNumberOf([&] { service().draw3(0, 0, 1e300); }), 6);
    EXPECT_EQ(
        errorNumberOf([&] { service().draw3(0, 0, std::numeric_limits<double>::quiet_NaN()); }), 6);
}

TEST_F(RequestServiceTest, MyendUnloadsTheWindowAndEndsTheServer) {
    service().show();
    service().myend();
    EXPECT_FALSE(service().windowLoaded());
    EXPECT_EQ(host.unloads, 1);
    EXPECT_EQ(host.ends, 1);
    // Without a window, myend ends all the same.
    service().myend();
    EXPECT_EQ(host.unloads, 1);
    EXPECT_EQ(host.ends, 2);
}

}  // namespace
}  // namespace tessera::core
