// poi_overlay_test.cpp: the point-of-interest overlay (dlldraw44).
//
// Fixtures: dat44_1.bin is built byte by byte from its layout (a 6000-byte index of 500
// entries of tile, last record index and offset; then blocks of 40-byte records: int16 x,
// int16 y, int16 district, int16 category, int32 note, 28-byte blank-padded name). The index is
// put into the data set's table as the loader would, tiles are pinned by hand in the tile
// cache, and the last view is set directly. What is drawn is checked through the drawing
// layer's recorder and the context's pixels.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "data/store.h"
#include "kestrel.h"
#include "recorder.h"
#include "render/view.h"
#include "test_support/image_check.h"

namespace {

using namespace kestrel_test;
namespace data = kestrel::data;
namespace render = kestrel::render;

constexpr int kIndexBytes = 6000;
constexpr int kRecordBytes = 40;
constexpr int kNameBytes = 28;
constexpr int kWidth = 356;
constexpr int kHeight = 276;
constexpr double kScale = 10.0;
// Tile 276030 covers x 300000..310000, y 2760000..2770000 and the view's top-left is its
// north-west corner, so a record (x, y) of that tile lands at pixel (x / 10, (10000 - y) / 10).
// Records of the neighbouring tile 276031 need negative x to fall inside the view.
constexpr int kTile = 276030;
constexpr int kOtherTile = 276031;
constexpr int kLeft = 300000;
constexpr int kTop = 2770000;
constexpr COLORREF kBlue = RGB(0, 0, 255);

struct Record {
    int16_t x;
    int16_t y;
    int16_t district;
    int16_t category;
    std::string name;
};

// dat44_1.bin, assembled from index entries and blocks.
class PoiFile {
  public:
    PoiFile() : bytes_(kIndexBytes, 0) {}

    // Appends a block and an index entry pointing at it; returns the block's offset.
    int32_t add_block(int32_t tile, const std::vector<Record>& records) {
        const int32_t offset = int32_t(bytes_.size());
        for (const Record& r : records) append_record(r);
        add_entry(tile, int32_t(records.size()) - 1, offset);
        return offset;
    }
    // Appends an index entry as given.
    void add_entry(int32_t tile, int32_t last, int32_t offset) {
        const std::size_t at = std::size_t(entries_++) * 12;
        put32(at, tile);
        put32(at + 4, last);
        put32(at + 8, offset);
    }
    const std::vector<uint8_t>& bytes() const { return bytes_; }

  private:
    void put32(std::size_t at, int32_t v) {
        for (int i = 0; i < 4; ++i) bytes_[at + i] = uint8_t(uint32_t(v) >> (8 * i));
    }
    void put16(int16_t v) {
        bytes_.push_back(uint8_t(uint16_t(v)));
        bytes_.push_back(uint8_t(uint16_t(v) >> 8));
    }
    void append_record(const Record& r) {
        put16(r.x);
        put16(r.y);
        put16(r.district);
        put16(r.category);
        for (int i = 0; i < 4; ++i) bytes_.push_back(0xFF);  // note -1
        std::string name = r.name;
        name.resize(kNameBytes, ' ');
        bytes_.insert(bytes_.end(), name.begin(), name.end());
    }

    std::vector<uint8_t> bytes_;
    int entries_ = 0;
};

// The pixel at which a record of tile kTile is drawn.
POINT pixel_of(int16_t x, int16_t y) {
    return POINT{x / 10, (10000 - y) / 10};
}

class PoiOverlay : public ::testing::Test {
  protected:
    void SetUp() override {
        data::reset_all();
        render::reset_view_state();
        view_.fill(RGB(255, 255, 255));
        render::view_state() = render::ViewState{view_.dc(), kLeft, kTop, kWidth, kHeight, kScale};
        std::snprintf(data::dataset().data_path, data::DATA_PATH_MAX + 1, "%s",
                      dir_.slash().c_str());
    }
    void TearDown() override {
        data::reset_all();
        render::reset_view_state();
    }

    // Writes the file and loads its index into the data set, as the data-set load does.
    void install(const PoiFile& file) {
        ASSERT_TRUE(
            write_file(dir_.slash() + "dat44_1.bin", file.bytes().data(), file.bytes().size()));
        std::memcpy(data::dataset().poi_index, file.bytes().data(), kIndexBytes);
    }
    // Pins `tile` in `slot` as the last view would have.
    static void pin(int slot, int32_t tile, int in_view = 1) {
        data::slot(slot).header.tile_number = tile;
        data::slot(slot).header.in_view = in_view;
    }
    static void expect_cross_at(const std::vector<Drawn>& lines, std::size_t i, POINT p) {
        ASSERT_GE(lines.size(), i + 2);
        EXPECT_EQ(lines[i].points, (std::vector<POINT>{{p.x - 2, p.y}, {p.x + 2, p.y}}));
        EXPECT_EQ(lines[i + 1].points, (std::vector<POINT>{{p.x, p.y - 2}, {p.x, p.y + 2}}));
        EXPECT_EQ(lines[i].pen_color, kBlue);
        EXPECT_LE(lines[i].pen_width, 1);
    }

    TempDir dir_;
    MemoryView view_{kWidth, kHeight};
};

TEST_F(PoiOverlay, ModeOneDrawsEveryPointOfThePinnedTilesInsideTheViewOrNot) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "INSIDE"},
                           {0, 8000, 101, 5, "ON LEFT EDGE"},
                           {9000, 9990, 101, 5, "NEAR TOP"},
                           {5000, 100, 101, 5, "FAR SOUTH"}});
    install(file);
    pin(3, kTile);
    Recorder rec(view_.dc());
    EXPECT_EQ(dlldraw44(0, 1), 0);
    const std::vector<Drawn> lines = rec.polylines();
    const std::vector<Drawn> texts = rec.texts();
    ASSERT_EQ(lines.size(), 8u);
    ASSERT_EQ(texts.size(), 4u);
    expect_cross_at(lines, 0, pixel_of(1000, 8000));
    expect_cross_at(lines, 2, pixel_of(0, 8000));
    expect_cross_at(lines, 6, pixel_of(5000, 100));  // row 990, far below the view
    const POINT p = pixel_of(1000, 8000);
    EXPECT_EQ(texts[0].x, p.x + 2);
    EXPECT_EQ(texts[0].y, p.y + 2);
    EXPECT_EQ(texts[0].text, "INSIDE" + std::string(22, ' '));  // all 28 bytes
    EXPECT_EQ(render::label_boxes().last, -1);                  // mode 1 records no box
    // The cross is blue in the picture.
    EXPECT_EQ(GetPixel(view_.dc(), p.x - 2, p.y), kBlue);
    EXPECT_EQ(GetPixel(view_.dc(), p.x, p.y - 2), kBlue);
    EXPECT_EQ(GetPixel(view_.dc(), p.x, p.y), kBlue);
}

TEST_F(PoiOverlay, ModesTwoAndThreeDrawOnlyPointsStrictlyInsideTheView) {
    PoiFile file;
    file.add_block(kTile, {{0, 8000, 101, 5, "A"},       // column 0: left edge
                           {2000, 10000, 101, 5, "B"},   // row 0: top edge
                           {3550, 7250, 101, 5, "C"},    // column 355, row 275: inside
                           {3560, 8000, 101, 5, "D"},    // column 356: right edge
                           {1000, 7240, 101, 5, "E"}});  // row 276: bottom edge
    install(file);
    pin(0, kTile);
    for (int mode : {2, 3}) {
        render::label_boxes().last = -1;
        Recorder rec(view_.dc());
        EXPECT_EQ(dlldraw44(0, mode), 0);
        const std::vector<Drawn> texts = rec.texts();
        ASSERT_EQ(texts.size(), 1u) << "mode " << mode;
        EXPECT_EQ(texts[0].text.substr(0, 1), "C");
        ASSERT_EQ(render::label_boxes().last, 0);
        const render::LabelBox& box = render::label_boxes().boxes[0];
        // (x - 5, y - 5, x + 7 * 1 + 10, y + 15) around pixel (355, 275).
        EXPECT_EQ(box.left, 350);
        EXPECT_EQ(box.top, 270);
        EXPECT_EQ(box.right, 372);
        EXPECT_EQ(box.bottom, 290);
    }
}

TEST_F(PoiOverlay, CategoryZeroDrawsAllCategoriesAndOtherValuesOnlyTheirOwn) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "FIVE"},
                           {2000, 8000, 101, 7, "SEVEN"},
                           {3000, 8000, 101, 5, "FIVE AGAIN"}});
    install(file);
    pin(0, kTile);
    {
        Recorder rec(view_.dc());
        dlldraw44(0, 1);
        EXPECT_EQ(rec.texts().size(), 3u);
    }
    Recorder rec(view_.dc());
    dlldraw44(5, 1);
    const std::vector<Drawn> texts = rec.texts();
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[0].text.substr(0, 4), "FIVE");
    EXPECT_EQ(texts[1].text.substr(0, 10), "FIVE AGAIN");
    rec.clear();
    dlldraw44(9, 1);
    EXPECT_TRUE(rec.texts().empty());
}

TEST_F(PoiOverlay, ABlankNameGetsABoxFifteenWideAndTwentyHigh) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, std::string(28, ' ')}});
    install(file);
    pin(0, kTile);
    EXPECT_EQ(dlldraw44(0, 2), 0);
    ASSERT_EQ(render::label_boxes().last, 0);
    const render::LabelBox& box = render::label_boxes().boxes[0];
    EXPECT_EQ(box.right - box.left, 15);
    EXPECT_EQ(box.bottom - box.top, 20);
    EXPECT_EQ(box.left, 100 - 5);
}

TEST_F(PoiOverlay, ANameBoxTouchingARoadNameBoxIsRefusedInModeTwoOnly) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "ABC"}});  // pixel (100, 200)
    install(file);
    pin(0, kTile);
    const POINT p = pixel_of(1000, 8000);
    // A road-name character box whose left edge equals the name box's right edge
    // (x + 7 * 3 + 10).
    const int right = p.x + 7 * 3 + 10;
    ASSERT_TRUE(render::add_label_box(right, p.y - 6, right + 18, p.y + 12));
    {
        Recorder rec(view_.dc());
        dlldraw44(0, 2);
        EXPECT_TRUE(rec.texts().empty());
        EXPECT_EQ(render::label_boxes().last, 0);
    }
    Recorder rec(view_.dc());
    dlldraw44(0, 3);
    EXPECT_EQ(rec.texts().size(), 1u);
    EXPECT_EQ(render::label_boxes().last, 1);
}

TEST_F(PoiOverlay, OfTwoCollidingPointsTheOneReadFirstWins) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "FIRST"}, {1050, 8000, 101, 5, "SECOND"}});
    file.add_block(kOtherTile, {{-8000, 8000, 101, 5, "THIRD"}});  // pixel (200, 200)
    install(file);
    pin(4, kTile);
    pin(7, kOtherTile);
    for (int mode : {2, 3}) {
        render::label_boxes().last = -1;
        Recorder rec(view_.dc());
        dlldraw44(0, mode);
        const std::vector<Drawn> texts = rec.texts();
        ASSERT_EQ(texts.size(), 2u) << "mode " << mode;
        EXPECT_EQ(texts[0].text.substr(0, 5), "FIRST");
        EXPECT_EQ(texts[1].text.substr(0, 5), "THIRD");
    }
}

TEST_F(PoiOverlay, ModeThreeIgnoresBoxesThatWereThereBeforeTheCall) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "OVER A LABEL"}});
    install(file);
    pin(0, kTile);
    ASSERT_TRUE(render::add_label_box(0, 0, kWidth, kHeight));  // covers the whole view
    Recorder rec(view_.dc());
    dlldraw44(0, 2);
    EXPECT_TRUE(rec.texts().empty());
    dlldraw44(0, 3);
    EXPECT_EQ(rec.texts().size(), 1u);
}

TEST_F(PoiOverlay, TheFirstIndexEntryWithRecordsIsUsedForATile) {
    PoiFile file;
    file.add_entry(kTile, -1, 0);  // no records: passed over
    file.add_block(kTile, {{1000, 8000, 101, 5, "USED"}});
    file.add_block(kTile, {{2000, 8000, 101, 5, "NOT USED"}});
    install(file);
    pin(0, kTile);
    Recorder rec(view_.dc());
    dlldraw44(0, 1);
    const std::vector<Drawn> texts = rec.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text.substr(0, 4), "USED");
}

TEST_F(PoiOverlay, TilesThatTheViewDidNotPinAreNotDrawn) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "HIDDEN"}});
    install(file);
    pin(0, kTile, 0);
    Recorder rec(view_.dc());
    EXPECT_EQ(dlldraw44(0, 1), 0);
    EXPECT_TRUE(rec.texts().empty());
}

TEST_F(PoiOverlay, AnUnknownModeDrawsNothing) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "X"}});
    install(file);
    pin(0, kTile);
    Recorder rec(view_.dc());
    EXPECT_EQ(dlldraw44(0, 4), 0);
    EXPECT_EQ(dlldraw44(0, 0), 0);
    EXPECT_EQ(dlldraw44(0, -1), 0);
    EXPECT_TRUE(rec.polylines().empty());
    EXPECT_TRUE(rec.texts().empty());
}

TEST_F(PoiOverlay, AMissingPointFileDrawsNothingAndReturnsZero) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "X"}});
    std::memcpy(data::dataset().poi_index, file.bytes().data(), kIndexBytes);  // no file
    pin(0, kTile);
    const int objects = KgdiLiveObjectCount();
    Recorder rec(view_.dc());
    EXPECT_EQ(dlldraw44(0, 1), 0);
    EXPECT_TRUE(rec.texts().empty());
    EXPECT_EQ(KgdiLiveObjectCount(), objects);
}

TEST_F(PoiOverlay, BlocksRunningPastTheFileOrTheWorkBufferAreSkipped) {
    PoiFile file;
    file.add_block(kOtherTile, {{1000, 6000, 101, 5, "GOOD"}});
    const int32_t size = int32_t(file.bytes().size());
    file.add_entry(kTile, 0, size - 20);         // half a record past the end
    file.add_entry(276032, 60000, kIndexBytes);  // 2,400,040 bytes: over the work buffer
    file.add_entry(276033, 0, -40);              // negative offset
    file.add_entry(276034, 1000, kIndexBytes);   // more records than the file holds
    install(file);
    pin(0, kTile);
    pin(1, 276032);
    pin(2, 276033);
    pin(3, 276034);
    pin(4, kOtherTile);
    Recorder rec(view_.dc());
    EXPECT_EQ(dlldraw44(0, 1), 0);
    const std::vector<Drawn> texts = rec.texts();
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0].text.substr(0, 4), "GOOD");
}

TEST_F(PoiOverlay, WhenTheLabelListIsFullBoxedModesDrawNothing) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "NO ROOM"}});
    install(file);
    pin(0, kTile);
    while (render::add_label_box(-1000, -1000, -990, -990)) {
    }
    ASSERT_EQ(render::label_boxes().last, render::LABEL_BOX_CAPACITY - 1);
    Recorder rec(view_.dc());
    dlldraw44(0, 2);
    dlldraw44(0, 3);
    EXPECT_TRUE(rec.texts().empty());
    dlldraw44(0, 1);
    EXPECT_EQ(rec.texts().size(), 1u);
}

TEST_F(PoiOverlay, TheOverlayLeavesNoObjectBehindAndRestoresThePen) {
    PoiFile file;
    file.add_block(kTile, {{1000, 8000, 101, 5, "X"}});
    install(file);
    pin(0, kTile);
    HPEN mine = CreatePen(PS_SOLID, 3, RGB(1, 2, 3));
    HGDIOBJ old = SelectObject(view_.dc(), mine);
    const int objects = KgdiLiveObjectCount();
    dlldraw44(0, 1);
    EXPECT_EQ(KgdiLiveObjectCount(), objects);
    EXPECT_EQ(SelectObject(view_.dc(), old), mine);  // still selected after the call
    DeleteObject(mine);
}

}  // namespace
