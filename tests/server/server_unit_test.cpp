// server_unit_test.cpp: unit tests of the D-Bus server's own parts: its picture box on the
// drawing layer, drawview through it, the engine binding, the error replies and the escaping
// of client text given as Qt text. The rules of the core have their own suite (core/).
#include <gtest/gtest.h>
#include <tessera/core/errors.h>
#include <tessera/core/limits.h>
#include <tessera/core/view.h>

#include <QApplication>
#include <cmath>
#include <limits>

#include "bus_objects.h"
#include "engine_binding.h"
#include "picture_box.h"
#include "server_log.h"

namespace {

using tessera::core::RunTimeError;

// The error number that `call` raises, 0 when it raises none.
template <typename Call>
int errorOf(Call call) {
    const auto error = tessera::core::errorOf(call);
    return error ? error->number() : 0;
}

TEST(RunTimeErrors, CarryTheirBusNameAndMessage) {
    const RunTimeError error(6, tessera::core::standardErrorText(6));
    EXPECT_EQ(tessera::dbusErrorName(error), QStringLiteral("tessera.Error.E6"));
    EXPECT_EQ(error.message(), "6: Overflow");
    EXPECT_STREQ(tessera::core::standardErrorText(9), "Subscript out of range");
}

// ---- picture box --------------------------------------------------------------------------

TEST(PictureBox, TheDesignSizeGivesAnInnerImageOf356By276InLightYellow) {
    tessera::PictureBox box(360, 280, nullptr);
    EXPECT_EQ(box.innerWidth(), 356);
    EXPECT_EQ(box.innerHeight(), 276);
    box.clearImage();
    KgdiSurface surface{};
    ASSERT_TRUE(KgdiGetSurface(box.hdc(), &surface));
    EXPECT_EQ(surface.width, 356);
    EXPECT_EQ(surface.height, 276);
    EXPECT_EQ(GetPixel(box.hdc(), 0, 0), RGB(255, 255, 192));
    EXPECT_EQ(GetPixel(box.hdc(), 355, 275), RGB(255, 255, 192));
    EXPECT_EQ(GetTextColor(box.hdc()), RGB(0, 0, 0));
    EXPECT_EQ(GetBkMode(box.hdc()), TRANSPARENT);
}

TEST(PictureBox, ResizingKeepsTheContextAndTheDrawnTopLeftAndFillsNewAreaWithBackground) {
    tessera::PictureBox box(360, 280, nullptr);
    box.clearImage();
    HDC before = box.hdc();
    SetPixel(box.hdc(), 3, 4, RGB(1, 2, 3));
    box.setOuterWidth(500);
    box.setOuterHeight(100);
    EXPECT_EQ(box.hdc(), before);
    EXPECT_EQ(box.innerWidth(), 496);
    EXPECT_EQ(box.innerHeight(), 96);
    EXPECT_EQ(GetPixel(box.hdc(), 3, 4), RGB(1, 2, 3));
    EXPECT_EQ(GetPixel(box.hdc(), 495, 50), RGB(255, 255, 192));
}

TEST(PictureBox, RefusesAnEmptyOrOversizedInnerAreaAndKeepsItsSize) {
    tessera::PictureBox box(360, 280, nullptr);
    EXPECT_EQ(errorOf([&] { box.setOuterWidth(4); }), 380);
    EXPECT_EQ(errorOf([&] { box.setOuterHeight(-10); }), 380);
    EXPECT_EQ(errorOf([&] { box.setOuterWidth(20000); }), 380);
    EXPECT_EQ(errorOf([&] { box.setOuterHeight(4101); }), 380);
    EXPECT_EQ(errorOf([&] { box.setOuterWidth(std::numeric_limits<int>::min()); }), 380);
    // Setting both: one refused side leaves the other unchanged too.
    EXPECT_EQ(errorOf([&] { box.setOuterSize(0, 1000); }), 380);
    EXPECT_EQ(errorOf([&] { box.setOuterSize(1000, 4101); }), 380);
    EXPECT_EQ(errorOf([&] { box.setOuterSize(16388, 16388); }), 380);
    EXPECT_EQ(box.innerWidth(), 356);
    EXPECT_EQ(box.innerHeight(), 276);
    EXPECT_EQ(box.width(), 360);
    EXPECT_EQ(box.height(), 280);
    EXPECT_EQ(errorOf([&] { box.setOuterSize(4100, 5); }), 0);
    EXPECT_EQ(box.innerWidth(), tessera::PictureBox::kMaxSide);
    EXPECT_EQ(box.innerHeight(), 1);
}

// ---- drawview -------------------------------------------------------------------------------

// An engine whose absolute path does not exist: reaching sdlldraw raises 48, so a test can
// tell whether drawview got that far.
tessera::EngineBinding missingEngine("/nonexistent/libkestrel.so");

TEST(Drawview, RaisesOverflowBeforeClearingWhenTheWindowLeavesTheInt32Range) {
    tessera::PictureBox box(360, 280, nullptr);
    box.clearImage();
    SetPixel(box.hdc(), 0, 0, RGB(9, 9, 9));
    EXPECT_EQ(errorOf([&] { tessera::core::drawview(box, missingEngine, 0, 0, 1e10); }), 6);
    EXPECT_EQ(errorOf([&] { tessera::core::drawview(box, missingEngine, -2147483647, 0, 20); }), 6);
    EXPECT_EQ(errorOf([&] { tessera::core::drawview(box, missingEngine, 0, 0, std::nan("")); }), 6);
    EXPECT_EQ(errorOf([&] { tessera::core::drawview(box, missingEngine, 0, 0, INFINITY); }), 6);
    EXPECT_EQ(GetPixel(box.hdc(), 0, 0), RGB(9, 9, 9));
}

TEST(Drawview, ClearsTheBoxAndPassesABindingErrorOfSdlldrawToTheCaller) {
    tessera::PictureBox box(360, 280, nullptr);
    SetPixel(box.hdc(), 0, 0, RGB(9, 9, 9));
    EXPECT_EQ(errorOf([&] { tessera::core::drawview(box, missingEngine, 301234, 2771234, 20); }),
              48);
    EXPECT_EQ(GetPixel(box.hdc(), 0, 0), RGB(255, 255, 192));
}

// ---- engine binding -------------------------------------------------------------------------

TEST(EngineBinding, TheBareNameAndTheAbsolutePathReachOneLoadedLibrary) {
    tessera::EngineBinding engine(TESSERA_TEST_LIBDIR "/libkestrel.so");
    tessera::PictureBox box(360, 280, nullptr);
    box.clearImage();
    EXPECT_EQ(engine.sdlldraw(box.hdc(), 0, 0, 356, 276, 0.5, tessera::core::kServerLayers), -1);
    EXPECT_NE(engine.sdllisinit(), 0);
    EXPECT_TRUE(engine.sameInstance());
    EXPECT_TRUE(engine.loadedFrom().endsWith(QStringLiteral("/libkestrel.so")));
}

TEST(EngineBinding, AMissingEntryPointIsError453) {
    tessera::EngineBinding engine(TESSERA_TEST_LIBDIR "/libkbmp2gif.so");
    tessera::PictureBox box(360, 280, nullptr);
    EXPECT_EQ(errorOf([&] { engine.sdlldraw(box.hdc(), 0, 0, 1, 1, 20, "00210000"); }), 453);
}

// ---- the log ----------------------------------------------------------------------------------

TEST(LogSafe, EscapesWhatCouldForgeOrHideALine) {
    const struct {
        QString in;
        QString out;
    } cases[] = {
        {QStringLiteral("A12"), QStringLiteral("A12")},
        {QStringLiteral("x\n2026-12-09 tessera[1] info: forged"),
         QStringLiteral("x\\n2026-12-09 tessera[1] info: forged")},
        {QStringLiteral("\x1b[31mred\r\t"), QStringLiteral("\\x1b[31mred\\r\\t")},
        {QStringLiteral("back\\slash \"quoted\""), QStringLiteral("back\\\\slash \\\"quoted\\\"")},
        {QString(QChar(0x85)) + QChar(0x7F) + QChar(0), QStringLiteral("\\x85\\x7f\\x00")},
        {QString(QChar(0x2028)) + QChar(0x202E) + QChar(0xDC00),
         QStringLiteral("\\u{2028}\\u{202e}\\u{dc00}")},
        {QStringLiteral("中文 ") + QString::fromUcs4(U"\U0001F5FA"),
         QStringLiteral("中文 ") + QString::fromUcs4(U"\U0001F5FA")},
    };
    for (const auto& c : cases) EXPECT_EQ(tessera::logSafe(c.in), c.out) << qPrintable(c.out);
    EXPECT_EQ(tessera::logSafe(QString(300, u'a')),
              QString(256, u'a') + QStringLiteral("...(44 more)"));
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
