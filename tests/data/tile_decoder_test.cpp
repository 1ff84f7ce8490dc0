// Tests of the tile file decoder: fixtures built byte by byte from the format tables, decoded
// into a slot of the test's own, and corrupt variants that must be refused as a whole.
#include "data/tile_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "data/store.h"
#include "tile_fixture.h"

using fixture::TileFile;
using kestrel::data::decode_tile;
using kestrel::data::TileSlot;

namespace {

class TileDecoding : public ::testing::Test {
  protected:
    // Decodes `bytes` into the test's slot; nullptr on success, else the refusal.
    const char* decode(const std::vector<uint8_t>& bytes) {
        return decode_tile(bytes.data(), bytes.size(), *slot);
    }
    std::unique_ptr<TileSlot> slot = std::make_unique<TileSlot>();
};

// A tile with one record in every section, used as the base of the corrupt variants.
TileFile full_tile() {
    TileFile t;
    t.lines = {{11, 3}};
    t.vertices = {{0, 0}, {100, 0}, {100, 100}, {5000, 5000}, {6000, 6000}};
    t.anchor_base = 2;  // points anchored at vertices 3 and 4
    t.roads = {{5, 123, 45, 90, "A1", 1, 101}};
    t.deltas = {{1, 2}, {3, 4}, {-1, -2}, {-128, 127}, {0, 0}, {10, -10}};
    t.places = {{21, 0}};
    t.coded = {{30, "XY"}};
    t.names = {"Town", "Main Road"};
    return t;
}

TEST_F(TileDecoding, CodedCountNinetyAtFirstVertex123_45GivesSevenVerticesAndTwelveDeltaBytes) {
    TileFile t;
    t.roads = {{5, 123, 45, 90, "R", 0, 100}, {6, 0, 0, 2, "S", 0, 100}};
    // Seven vertices take six delta pairs (12 bytes); the second road (count 2) takes the
    // seventh pair, so it starts reading exactly 12 bytes into the stream.
    t.deltas = {{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {-7, 9}};
    t.names = {"Main"};
    ASSERT_EQ(decode(t.bytes()), nullptr);
    const auto& r = slot->records[0];
    EXPECT_EQ(r.vertex_count, 7);
    EXPECT_EQ(r.first_vertex, 0);
    EXPECT_EQ(slot->vertices[0].x, 123);
    EXPECT_EQ(slot->vertices[0].y, 45);
    EXPECT_EQ(slot->vertices[6].x, 123 + 21);
    EXPECT_EQ(slot->vertices[6].y, 45 + 21);
    EXPECT_EQ(slot->records[1].vertex_count, 2);
    EXPECT_EQ(slot->records[1].first_vertex, 7);
    EXPECT_EQ(slot->vertices[8].x, -7);
    EXPECT_EQ(slot->vertices[8].y, 9);
    EXPECT_EQ(slot->header.vertex_last, 8);
    EXPECT_EQ(slot->header.last_record, 1);
}

TEST_F(TileDecoding, TwoRoadsReadTheDeltaStreamOneAfterTheOther) {
    TileFile t;
    // Counts: (10,10): 10 + 10 + 0 = 20 -> coded 23 gives 3; (0,0): coded 4 gives 4.
    t.roads = {{3, 10, 10, 23, "", 0, 100}, {4, 0, 0, 4, "", 0, 100}};
    t.deltas = {{1, 0}, {1, 0}, {0, 5}, {0, 5}, {0, 5}};
    t.names = {" "};
    ASSERT_EQ(decode(t.bytes()), nullptr);
    EXPECT_EQ(slot->records[0].vertex_count, 3);
    EXPECT_EQ(slot->records[1].vertex_count, 4);
    EXPECT_EQ(slot->vertices[2].x, 12);
    EXPECT_EQ(slot->vertices[3].x, 0);  // second road's first vertex from its record
    EXPECT_EQ(slot->vertices[6].y, 15);
}

TEST_F(TileDecoding, NegativeFirstVertexUsesRemaindersTruncatedTowardZero) {
    TileFile t;
    // x = -123, y = 45: -23 + 45 + (-3 * 5) = 7, so coded 9 gives 2 vertices.
    t.roads = {{5, -123, 45, 9, "", 0, 100}};
    t.deltas = {{1, 1}};
    t.names = {"N"};
    ASSERT_EQ(decode(t.bytes()), nullptr);
    EXPECT_EQ(slot->records[0].vertex_count, 2);
}

TEST_F(TileDecoding, RecordsFollowTheSectionOrderAndKeepOnlyTheirOwnFields) {
    TileFile t = full_tile();
    t.record_size = 8;  // strides longer than the used bytes
    t.road_record_size = 20;
    ASSERT_EQ(decode(t.bytes()), nullptr);
    ASSERT_EQ(slot->header.last_record, 3);
    const auto* r = slot->records;
    EXPECT_EQ(r[0].type, 11);
    EXPECT_EQ(r[0].vertex_count, 3);
    EXPECT_EQ(r[0].first_vertex, 0);
    EXPECT_EQ(r[1].type, 5);
    EXPECT_EQ(r[1].first_vertex, 5);  // after the file's five vertices
    EXPECT_EQ(std::string(r[1].code, 4), std::string("A1\0\0", 4));
    EXPECT_EQ(r[1].name_index, 1);
    EXPECT_EQ(r[1].district, 101);
    EXPECT_EQ(r[2].type, 21);
    EXPECT_EQ(r[2].name_index, 0);
    EXPECT_EQ(r[2].first_vertex, 3);
    EXPECT_EQ(r[2].district, 0);
    EXPECT_EQ(r[3].type, 30);
    EXPECT_EQ(std::string(r[3].code, 4), std::string("XY\0\0", 4));
    EXPECT_EQ(r[3].first_vertex, 4);
    EXPECT_EQ(std::string(slot->names[1].bytes, 20), "Main Road           ");
    EXPECT_EQ(slot->header.in_view, 0);
    EXPECT_EQ(slot->header.tile_number, 277025);
    EXPECT_EQ(slot->header.origin_x, 250000);
    EXPECT_EQ(slot->header.origin_y, 2770000);
    EXPECT_EQ(slot->header.vertex_last, 11);
}

TEST_F(TileDecoding, RoadCodeCopyStopsAtTheFirstNul) {
    TileFile t;
    t.roads = {{5, 0, 0, 2, std::string("A\0Z", 3), 0, 100}};
    t.deltas = {{1, 1}};
    t.names = {"N"};
    ASSERT_EQ(decode(t.bytes()), nullptr);
    EXPECT_EQ(std::string(slot->records[0].code, 4), std::string("A\0\0\0", 4));
}

TEST_F(TileDecoding, AnchorBase499AnchorsPointsAt500And501AcrossSectionsCAndD) {
    TileFile t;
    for (int i = 0; i < 502; ++i) t.vertices.push_back({i, i});
    t.anchor_base = 499;
    t.places = {{22, 0}};
    t.coded = {{31, "Q"}};
    t.names = {"P"};
    ASSERT_EQ(decode(t.bytes()), nullptr);
    EXPECT_EQ(slot->records[0].first_vertex, 500);
    EXPECT_EQ(slot->records[1].first_vertex, 501);

    t.places.clear();
    t.coded = {{31, "Q"}, {32, "R"}};
    ASSERT_EQ(decode(t.bytes()), nullptr);
    EXPECT_EQ(slot->records[0].first_vertex, 500);
    EXPECT_EQ(slot->records[1].first_vertex, 501);
}

TEST_F(TileDecoding, AllSectionsEmptyGivesATileWithNoRecords) {
    TileFile t;
    ASSERT_EQ(decode(t.bytes()), nullptr);
    EXPECT_EQ(slot->header.tile_number, 277025);
    EXPECT_EQ(slot->header.last_record, -1);
    EXPECT_EQ(slot->header.vertex_last, -1);
}

// ---- refusals: the slot is left empty -------------------------------------------------

class TileRefusal : public TileDecoding {
  protected:
    // Decodes a corrupt file into a slot that held a good tile before, and checks that it is
    // refused and leaves the slot empty.
    // `reason` is a part of the sentence that must say why.
    void expect_refused(const std::vector<uint8_t>& bytes, const std::string& reason) {
        ASSERT_EQ(decode(full_tile().bytes()), nullptr);
        const char* why = decode(bytes);
        ASSERT_NE(why, nullptr);
        EXPECT_NE(std::string(why).find(reason), std::string::npos) << why;
        EXPECT_EQ(slot->header.tile_number, 0) << why;
        EXPECT_EQ(slot->header.last_record, -1) << why;
        EXPECT_EQ(slot->header.vertex_last, -1) << why;
        EXPECT_EQ(slot->header.name_last, -1) << why;
    }
    std::vector<uint8_t> good = full_tile().bytes();
};

TEST_F(TileRefusal, FileShorterThanTheHeaderIsRefused) {
    expect_refused(std::vector<uint8_t>(good.begin(), good.begin() + 127), "shorter");
    expect_refused({}, "shorter");
}

TEST_F(TileRefusal, TruncatedFileIsRefused) {
    // Cut off the names, the last bytes of the file.
    expect_refused(std::vector<uint8_t>(good.begin(), good.end() - 1), "names run past");
}

TEST_F(TileRefusal, TileNumberZeroIsRefused) {
    fixture::set32(good, fixture::kTileNumber, 0);
    expect_refused(good, "tile number 0");
}

TEST_F(TileRefusal, CountsPastTheSlotsCapacitiesAreRefused) {
    auto b = good;
    fixture::set32(b, fixture::kALast, 10000);  // with B, C, D: over 10000 records
    expect_refused(b, "10000 records");
    b = good;
    fixture::set32(b, fixture::kVertexLast, 100000);
    expect_refused(b, "100000 vertices");
    b = good;
    fixture::set32(b, fixture::kNameLast, 5000);
    expect_refused(b, "5000 names");
    b = good;
    fixture::set32(b, fixture::kCLast, -2);
    expect_refused(b, "below -1");
    b = good;
    fixture::set32(b, fixture::kALast, INT32_MAX);  // would wrap to a negative count
    expect_refused(b, "10000 records");
}

TEST_F(TileRefusal, OffsetsPastTheFileAreRefused) {
    for (auto field : {fixture::kAOffset, fixture::kBOffset, fixture::kCOffset, fixture::kDOffset,
                       fixture::kVertexOffset, fixture::kNameOffset}) {
        auto b = good;
        fixture::set32(b, field, int32_t(b.size()) - 2);
        expect_refused(b, "past the end");
        fixture::set32(b, field, -4);
        expect_refused(b, "past the end");
        fixture::set32(b, field, INT32_MAX);
        expect_refused(b, "past the end");
    }
}

TEST_F(TileRefusal, RecordSizesTooSmallOrHugeAreRefused) {
    auto b = good;
    fixture::set32(b, fixture::kRecordSize, 2);
    expect_refused(b, "below 4");
    b = good;
    fixture::set32(b, fixture::kBRecordSize, 8);
    expect_refused(b, "below 16");
    TileFile t = full_tile();
    t.lines = {{11, 1}, {11, 1}};
    b = t.bytes();
    fixture::set32(b, fixture::kRecordSize, INT32_MAX);
    expect_refused(b, "section A runs past");
}

TEST_F(TileRefusal, NameIndexOutOfRangeIsRefused) {
    TileFile t = full_tile();
    t.roads[0].name = 2;
    expect_refused(t.bytes(), "section B: name index");
    t = full_tile();
    t.roads[0].name = -1;
    expect_refused(t.bytes(), "section B: name index");
    t = full_tile();
    t.places[0].name = 7;
    expect_refused(t.bytes(), "section C: name index");
}

TEST_F(TileRefusal, DeltaStreamRunningPastTheFileIsRefused) {
    TileFile t = full_tile();
    t.deltas.pop_back();  // the road needs six delta pairs; five are given
    t.roads[0].name = 0;
    t.names.clear();
    t.places.clear();
    auto b = t.bytes();
    // One name, placed in the header's reserved bytes, so that the deltas end the file.
    fixture::set32(b, fixture::kNameLast, 0);
    fixture::set32(b, fixture::kNameOffset, 100);
    expect_refused(b, "delta stream");
    b.push_back(0);  // one byte more is still half a pair short
    expect_refused(b, "delta stream");
    b.push_back(0);
    const char* why = decode(b);
    EXPECT_EQ(why, nullptr) << why;
    // A delta offset past the end, or negative.
    b = good;
    fixture::set32(b, fixture::kDeltaOffset, int32_t(b.size()));
    expect_refused(b, "delta stream");
    fixture::set32(b, fixture::kDeltaOffset, -1);
    expect_refused(b, "delta stream");
}

TEST_F(TileRefusal, CodedCountBelowOneIsRefused) {
    TileFile t = full_tile();
    t.roads[0].coded = 83;  // 83 - 83 = 0 vertices
    expect_refused(t.bytes(), "below 1");
}

TEST_F(TileRefusal, DecodedVerticesPastTheSlotCapacityAreRefused) {
    TileFile t;
    t.names = {"N"};
    // Three roads of 32767 vertices each and 1700 file vertices: 99,001 + 1,700 > 100,000.
    for (int i = 0; i < 3; ++i) t.roads.push_back({5, 0, 0, 32767, "", 0, 100});
    t.deltas.assign(3 * 32766, {0, 0});
    t.vertices.assign(1700, {0, 0});
    expect_refused(t.bytes(), "100000 vertices");
    t.vertices.assign(998, {0, 0});  // 98,301 + 998: fits
    ASSERT_EQ(decode(t.bytes()), nullptr);
    EXPECT_EQ(slot->header.vertex_last, 998 + 3 * 32767 - 1);
}

TEST_F(TileRefusal, SectionAVerticesPastTheVertexArrayAreRefused) {
    TileFile t = full_tile();
    t.lines = {{11, 3}, {12, 3}};  // six vertices from an array of five
    expect_refused(t.bytes(), "vertices run past");
    t = full_tile();
    t.lines = {{11, -1}};
    expect_refused(t.bytes(), "negative vertex count");
}

TEST_F(TileRefusal, AnchorsOutsideTheVertexArrayAreRefused) {
    TileFile t = full_tile();
    t.anchor_base = 100;
    expect_refused(t.bytes(), "anchor");
    t.anchor_base = -5;
    expect_refused(t.bytes(), "anchor");
    t.anchor_base = INT32_MAX;
    expect_refused(t.bytes(), "anchor");
}

}  // namespace
