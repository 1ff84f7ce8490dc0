// server_unit_test.cpp: unit tests of the server's number rules, picture box, drawing routine
// checks, engine binding, request identifiers and log.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cmath>
#include <limits>

#include "engine_binding.h"
#include "numbers.h"
#include "picture_box.h"
#include "request_service.h"
#include "run_time_error.h"
#include "server_log.h"
#include "tessera_bas.h"

namespace {

using tessera::RunTimeError;

// The error number that `call` raises, 0 when it raises none.
template <typename Call>
int errorOf(Call call) {
    try {
        call();
    } catch (const RunTimeError& error) {
        return error.number();
    }
    return 0;
}

// ---- reading numbers from text boxes ----------------------------------------------------------

TEST(ReadingANumber, TakesTheLongestLeadingDecimalPart) {
    EXPECT_EQ(tessera::readNumber(QStringLiteral("20")), 20.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("12abc")), 12.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("-4.5e2x")), -450.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral(".5")), 0.5);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("3D2")), 300.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("7e")), 7.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("1.2.3")), 1.2);
}

TEST(ReadingANumber, SkipsBlanksInsideTheNumber) {
    EXPECT_EQ(tessera::readNumber(QStringLiteral(" 356")), 356.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral(" 1 2\t3 x4")), 123.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("- 8")), -8.0);
}

TEST(ReadingANumber, GivesZeroWhenTheTextHoldsNoNumber) {
    EXPECT_EQ(tessera::readNumber(QString()), 0.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("abc")), 0.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral("+")), 0.0);
    EXPECT_EQ(tessera::readNumber(QStringLiteral(".")), 0.0);
}

// ---- rounding and single-precision text -------------------------------------------------------

TEST(RoundingToInt32, RoundsHalvesToEven) {
    EXPECT_EQ(tessera::roundToInt32(2.5), 2);
    EXPECT_EQ(tessera::roundToInt32(3.5), 4);
    EXPECT_EQ(tessera::roundToInt32(-2.5), -2);
    EXPECT_EQ(tessera::roundToInt32(2.500001), 3);
    EXPECT_EQ(tessera::roundToInt32(2147483647.4), 2147483647);
    EXPECT_EQ(tessera::roundToInt32(-2147483648.5), std::numeric_limits<int32_t>::min());
}

TEST(RoundingToInt32, RaisesOverflowOutsideTheRangeOrForNonFiniteValues) {
    EXPECT_EQ(errorOf([] { tessera::roundToInt32(2147483647.5); }), 6);
    EXPECT_EQ(errorOf([] { tessera::roundToInt32(-2147483649.0); }), 6);
    EXPECT_EQ(errorOf([] { tessera::roundToInt32(std::nan("")); }), 6);
    EXPECT_EQ(errorOf([] { tessera::roundToInt32(INFINITY); }), 6);
}

TEST(SingleText, IsTheShortestDecimalWithALeadingBlankWhenNotNegative) {
    EXPECT_EQ(tessera::singleText(356.0f), QStringLiteral(" 356"));
    EXPECT_EQ(tessera::singleText(0.1f), QStringLiteral(" 0.1"));
    EXPECT_EQ(tessera::singleText(-2.5f), QStringLiteral("-2.5"));
    EXPECT_EQ(errorOf([] { tessera::toSingle(1e39); }), 6);
}

TEST(RunTimeErrors, CarryTheirBusNameAndMessage) {
    const RunTimeError error(6, tessera::standardErrorText(6));
    EXPECT_EQ(error.dbusName(), QStringLiteral("tessera.Error.E6"));
    EXPECT_EQ(error.message(), QStringLiteral("6: Overflow"));
    EXPECT_EQ(tessera::standardErrorText(9), QStringLiteral("Subscript out of range"));
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
    EXPECT_EQ(errorOf([&] { tessera::drawview(box, missingEngine, 0, 0, 1e10); }), 6);
    EXPECT_EQ(errorOf([&] { tessera::drawview(box, missingEngine, -2147483647, 0, 20); }), 6);
    EXPECT_EQ(errorOf([&] { tessera::drawview(box, missingEngine, 0, 0, std::nan("")); }), 6);
    EXPECT_EQ(errorOf([&] { tessera::drawview(box, missingEngine, 0, 0, INFINITY); }), 6);
    EXPECT_EQ(GetPixel(box.hdc(), 0, 0), RGB(9, 9, 9));
}

TEST(Drawview, ClearsTheBoxAndPassesABindingErrorOfSdlldrawToTheCaller) {
    tessera::PictureBox box(360, 280, nullptr);
    SetPixel(box.hdc(), 0, 0, RGB(9, 9, 9));
    EXPECT_EQ(errorOf([&] { tessera::drawview(box, missingEngine, 301234, 2771234, 20); }), 48);
    EXPECT_EQ(GetPixel(box.hdc(), 0, 0), RGB(255, 255, 192));
}

// ---- engine binding -------------------------------------------------------------------------

TEST(EngineBinding, TheBareNameAndTheAbsolutePathReachOneLoadedLibrary) {
    tessera::EngineBinding engine(TESSERA_TEST_LIBDIR "/libkestrel.so");
    tessera::PictureBox box(360, 280, nullptr);
    box.clearImage();
    EXPECT_EQ(engine.sdlldraw(box.hdc(), 0, 0, 356, 276, 0.5, tessera::kServerLayers), -1);
    EXPECT_NE(engine.sdllisinit(), 0);
    EXPECT_TRUE(engine.sameInstance());
    EXPECT_TRUE(engine.loadedFrom().endsWith(QStringLiteral("/libkestrel.so")));
}

TEST(EngineBinding, AMissingEntryPointIsError453) {
    tessera::EngineBinding engine(TESSERA_TEST_LIBDIR "/libkbmp2gif.so");
    tessera::PictureBox box(360, 280, nullptr);
    EXPECT_EQ(errorOf([&] { engine.sdlldraw(box.hdc(), 0, 0, 1, 1, 20, "00210000"); }), 453);
}

// ---- request identifiers ------------------------------------------------------------------

TEST(RequestIds, ArePlainFileNamesOfAtMost200Utf8Bytes) {
    using tessera::RequestService;
    EXPECT_TRUE(RequestService::isPlainFileName(QStringLiteral("A12")));
    EXPECT_TRUE(RequestService::isPlainFileName(QString(200, u'a')));
    EXPECT_FALSE(RequestService::isPlainFileName(QString(201, u'a')));
    EXPECT_TRUE(RequestService::isPlainFileName(QString(66, QChar(0x4E2D))));   // 198 bytes
    EXPECT_FALSE(RequestService::isPlainFileName(QString(67, QChar(0x4E2D))));  // 201 bytes
    EXPECT_TRUE(RequestService::isPlainFileName(QString::fromUcs4(U"\U0001F5FA")));
    EXPECT_FALSE(RequestService::isPlainFileName(QString(QChar(0xD800))));
    EXPECT_FALSE(RequestService::isPlainFileName(QStringLiteral("a\x1b[31m")));
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
    EXPECT_EQ(tessera::logSafe(QByteArray("ok\xff\xc3(\xe4\xb8\xad\n")),
              QStringLiteral("ok\\xff\\xc3(中\\n"));
    EXPECT_EQ(tessera::logSafe(QString(300, u'a')),
              QString(256, u'a') + QStringLiteral("...(44 more)"));
    EXPECT_EQ(tessera::logLine(QStringLiteral("a \"b\\\"\nc")), QStringLiteral("a \"b\\\"\\nc"));
}

TEST(LogFile, RotatesBeforeALineWouldPassTheBound) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("tessera.log")));
    {
        tessera::LogFile log;
        ASSERT_TRUE(log.open(path, 100));
        for (int i = 0; i < 25; ++i) log.writeLine(QByteArray(19, char('a' + i)));
    }
    QFile current(QString::fromUtf8(path));
    QFile old(QString::fromUtf8(path + ".1"));
    ASSERT_TRUE(current.open(QIODevice::ReadOnly));
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    // Five 20-byte lines fill a file; the 25 lines leave the last five in each of the two.
    EXPECT_EQ(old.readAll(), QByteArray("p").repeated(19) + "\n" + QByteArray("q").repeated(19) +
                                 "\n" + QByteArray("r").repeated(19) + "\n" +
                                 QByteArray("s").repeated(19) + "\n" +
                                 QByteArray("t").repeated(19) + "\n");
    EXPECT_EQ(current.size(), 100);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 2);
    // Reopening continues the file at its size: the next line rotates at once.
    tessera::LogFile again;
    ASSERT_TRUE(again.open(path, 100));
    again.writeLine("z");
    EXPECT_EQ(QFile(QString::fromUtf8(path)).size(), 2);
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
