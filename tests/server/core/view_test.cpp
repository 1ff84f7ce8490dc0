// view_test.cpp: the view window of the drawing routine and what drawview does in order.
#include "tessera/core/view.h"

#include <gtest/gtest.h>

#include <cmath>

#include "fakes.h"

namespace tessera::core {
namespace {

using testing::errorNumberOf;
using testing::FakeEngine;
using testing::FakeFiles;
using testing::FakePictureBox;

TEST(ViewWindow, IsCentredOnTheGivenPointAndRoundedHalvesToEven) {
    const ViewWindow window = viewWindow(356, 276, 301234, 2771234, 20);
    EXPECT_EQ(window.left, 301234 - 3560);
    EXPECT_EQ(window.top, 2771234 + 2760);
    // 3 x 0.5 / 2 = 0.75 and 1 x 1 / 2 = 0.5: 0 - 0.75 rounds to -1, 0.5 + 0 to 0.
    EXPECT_EQ(viewWindow(3, 1, 0, 0, 0.5).left, -1);
    EXPECT_EQ(viewWindow(1, 1, 0, 0, 1).top, 0);
    EXPECT_EQ(viewWindow(1, 3, 0, 0, 1).top, 2);
}

TEST(ViewWindow, RaisesOverflowWhenAnEdgeIsNotFiniteOrLeavesInt32) {
    EXPECT_EQ(errorNumberOf([] { viewWindow(356, 276, 0, 0, 1e10); }), 6);
    EXPECT_EQ(errorNumberOf([] { viewWindow(356, 276, -2147483647, 0, 20); }), 6);
    EXPECT_EQ(errorNumberOf([] { viewWindow(356, 276, 0, 2147483647, 20); }), 6);
    EXPECT_EQ(errorNumberOf([] { viewWindow(356, 276, 0, 0, std::nan("")); }), 6);
    EXPECT_EQ(errorNumberOf([] { viewWindow(356, 276, 0, 0, INFINITY); }), 6);
    EXPECT_EQ(errorNumberOf([] { viewWindow(356, 276, 0, 0, 1e300); }), 6);
}

TEST(Drawview, ClearsDrawsTheInnerSizeWithTheServerLayersAndRefreshes) {
    FakeFiles files;
    FakePictureBox box(files, 360, 280);
    FakeEngine engine;
    EXPECT_EQ(drawview(box, engine, 301234, 2771234, 20), 0);
    EXPECT_EQ(box.clears, 1);
    EXPECT_EQ(box.refreshes, 1);
    EXPECT_EQ(engine.last.width, 356);
    EXPECT_EQ(engine.last.height, 276);
    EXPECT_EQ(engine.last.left, 297674);
    EXPECT_EQ(engine.last.top, 2773994);
    EXPECT_EQ(engine.last.layers, "00210000");
    // A refused scale is the engine's -1, after the box was cleared.
    EXPECT_EQ(drawview(box, engine, 301234, 2771234, 0.5), -1);
    EXPECT_EQ(box.clears, 2);
}

TEST(Drawview, RaisesOverflowBeforeClearingAndPassesBindingErrorsAfterIt) {
    FakeFiles files;
    FakePictureBox box(files, 360, 280);
    FakeEngine engine;
    EXPECT_EQ(errorNumberOf([&] { drawview(box, engine, 0, 0, 1e10); }), 6);
    EXPECT_EQ(box.clears, 0);
    EXPECT_EQ(engine.drawCalls, 0);
    engine.drawError = 48;
    EXPECT_EQ(errorNumberOf([&] { drawview(box, engine, 301234, 2771234, 20); }), 48);
    EXPECT_EQ(box.clears, 1);
}

}  // namespace
}  // namespace tessera::core
