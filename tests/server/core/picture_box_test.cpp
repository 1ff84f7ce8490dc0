// picture_box_test.cpp: the size rules of the picture box P.
#include "tessera/core/picture_box.h"

#include <gtest/gtest.h>

#include <limits>

#include "fakes.h"

namespace tessera::core {
namespace {

using testing::errorNumberOf;
using testing::FakeFiles;
using testing::FakePictureBox;

TEST(PictureBoxSize, TheInnerAreaIsTheOuterLessATwoPixelBorder) {
    FakeFiles files;
    FakePictureBox box(files, 360, 280);
    EXPECT_EQ(box.innerWidth(), 356);
    EXPECT_EQ(box.innerHeight(), 276);
    box.setOuterWidth(500);
    box.setOuterHeight(100);
    EXPECT_EQ(box.innerWidth(), 496);
    EXPECT_EQ(box.innerHeight(), 96);
    EXPECT_EQ(box.outerWidth(), 500);
    EXPECT_EQ(box.outerHeight(), 100);
}

TEST(PictureBoxSize, RefusesAnEmptyOrOversizedInnerAreaAndKeepsItsSize) {
    FakeFiles files;
    FakePictureBox box(files, 360, 280);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterWidth(4); }), 380);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterHeight(-10); }), 380);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterWidth(20000); }), 380);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterHeight(4101); }), 380);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterWidth(std::numeric_limits<int>::min()); }), 380);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterWidth(std::numeric_limits<int>::max()); }), 380);
    // Setting both: one refused side leaves the other unchanged too.
    EXPECT_EQ(errorNumberOf([&] { box.setOuterSize(0, 1000); }), 380);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterSize(1000, 4101); }), 380);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterSize(16388, 16388); }), 380);
    EXPECT_EQ(box.innerWidth(), 356);
    EXPECT_EQ(box.innerHeight(), 276);
    EXPECT_EQ(errorNumberOf([&] { box.setOuterSize(4100, 5); }), 0);
    EXPECT_EQ(box.innerWidth(), PictureBox::kMaxSide);
    EXPECT_EQ(box.innerHeight(), 1);
    EXPECT_EQ(PictureBox::kMaxSide, 4096);
}

TEST(PictureBoxSize, AnImageThatCannotBeMadeIsOutOfMemoryAndChangesNothing) {
    FakeFiles files;
    FakePictureBox box(files, 360, 280);
    box.outOfMemory = true;
    EXPECT_EQ(errorNumberOf([&] { box.setOuterSize(4100, 4100); }), 7);
    EXPECT_EQ(box.innerWidth(), 356);
    EXPECT_EQ(box.innerHeight(), 276);
}

}  // namespace
}  // namespace tessera::core
