// format.h: the byte layouts of the data set's files, in one place.
//
// The tile file (header, sections A to D, vertex array, delta stream, names), the point-of-
// interest files (dat44_1.bin index and records, dat44_2.bin notes), the catalogue keywords of
// alldist.txt and the fixed file names. The readers of the files (reader.h) and the data-set
// writer take their offsets and sizes from here, so that the two cannot drift apart.
// All numbers in binary files are little-endian.
#ifndef KESTREL_DATA_FORMAT_H
#define KESTREL_DATA_FORMAT_H

#include <cstddef>
#include <cstdint>

namespace kestrel::data::format {

// ---- file names, appended directly to the data path --------------------------------------
inline constexpr const char* kTileIndexFile = "d4.txt";
inline constexpr const char* kPoiFile = "dat44_1.bin";
inline constexpr const char* kPoiNoteFile = "dat44_2.bin";
inline constexpr const char* kCatalogueFile = "alldist.txt";
inline constexpr const char* kBaseMapFile = "dist.emf";
inline constexpr const char* kTileFileFormat = "%s%d.dat";

// ---- two-byte characters of the code page ------------------------------------------------
// Text is Big5. The code page's lead bytes (0x81 to 0xFE) are stated once, in kcommon/big5.h
// (kcommon::is_big5_lead, kcommon::big5_cut); the catalogue's names are cut by them. One rule
// of the engine reads the bytes on purpose with other bounds, and it is kept here:
// - kLabelTwoByteMin: the road labeller lays a 20-byte name out one position per character and
//   takes every byte of 0x7F or above as the start of a two-byte character. This is the label
//   layout that views have always had (0x7F, which Big5 leaves unused, counts as a lead byte
//   there); changing it would move the characters of existing labels.
inline constexpr unsigned char kLabelTwoByteMin = 0x7F;

// Text files are read in pieces of at most this many characters; a longer line is continued
// by the next read and treated as a line of its own.
inline constexpr int kTextReadChars = 98;

// ---- tile file header (128 bytes): offsets of the int32 fields ----------------------------
inline constexpr std::size_t kHeaderBytes = 128;
inline constexpr std::size_t kHdrRecordSize = 8;  // stride of sections A, C and D
inline constexpr std::size_t kHdrALast = 12;
inline constexpr std::size_t kHdrAnchorBase = 16;
inline constexpr std::size_t kHdrAOffset = 20;
inline constexpr std::size_t kHdrBLast = 24;
inline constexpr std::size_t kHdrBRecordSize = 28;
inline constexpr std::size_t kHdrBOffset = 32;
inline constexpr std::size_t kHdrCLast = 36;
inline constexpr std::size_t kHdrCOffset = 40;
inline constexpr std::size_t kHdrDLast = 44;
inline constexpr std::size_t kHdrDOffset = 48;
inline constexpr std::size_t kHdrVertexLast = 52;
inline constexpr std::size_t kHdrVertexOffset = 56;
inline constexpr std::size_t kHdrDeltaOffset = 64;
inline constexpr std::size_t kHdrNameLast = 68;
inline constexpr std::size_t kHdrNameOffset = 76;
inline constexpr std::size_t kHdrLastRecord = 80;  // not read; a slot keeps its last record here
inline constexpr std::size_t kHdrOriginX = 84;
inline constexpr std::size_t kHdrOriginY = 88;
inline constexpr std::size_t kHdrInView = 92;  // not read; a slot keeps its in-view flag here
inline constexpr std::size_t kHdrTileNumber = 96;

// ---- section records ---------------------------------------------------------------------
// Sections A (lines and areas), C (named points) and D (coded points) share the stride of
// header offset 8, of which the first 4 bytes are read.
inline constexpr int kPointRecordUsedBytes = 4;
inline constexpr std::size_t kRecType = 0;    // int16, all sections
inline constexpr std::size_t kRecACount = 2;  // int16 vertex count (A)
inline constexpr std::size_t kRecCName = 2;   // int16 name index (C)
inline constexpr std::size_t kRecDCode = 2;   // 2 bytes of code (D)
inline constexpr int kPointCodeBytes = 2;

// Section B (delta-coded roads): stride at header offset 28, of which 16 bytes are read.
inline constexpr int kRoadRecordUsedBytes = 16;
inline constexpr std::size_t kRoadX = 2;           // int16 first vertex x
inline constexpr std::size_t kRoadY = 4;           // int16 first vertex y
inline constexpr std::size_t kRoadCodedCount = 6;  // int16 coded vertex count
inline constexpr std::size_t kRoadCode = 8;        // 4 bytes of road code
inline constexpr std::size_t kRoadName = 12;       // int16 name index
inline constexpr std::size_t kRoadDistrict = 14;   // int16 district code
inline constexpr int kRoadCodeBytes = 4;

inline constexpr int kVertexBytes = 4;  // int16 x, int16 y
inline constexpr int kDeltaBytes = 2;   // int8 dx, int8 dy
inline constexpr int kDeltaMin = -128;
inline constexpr int kDeltaMax = 127;

// The amount that a road record adds to its vertex count to make the coded count: derived
// from its first vertex, with remainders truncated toward zero as the 16-bit values give them.
constexpr int coded_count_adjustment(int16_t x, int16_t y) noexcept {
    return x % 100 + y % 100 + (x % 10) * (y % 10);
}

// The vertex count of a road record, from its first vertex and coded count (kept as int16).
constexpr int16_t decode_vertex_count(int16_t x, int16_t y, int16_t coded) noexcept {
    return static_cast<int16_t>(coded - coded_count_adjustment(x, y));
}

// ---- dat44_1.bin and dat44_2.bin ---------------------------------------------------------
inline constexpr std::size_t kPoiIndexEntryBytes = 12;
inline constexpr std::size_t kPoiIndexTile = 0;    // int32 tile number
inline constexpr std::size_t kPoiIndexLast = 4;    // int32 last record index, -1: empty
inline constexpr std::size_t kPoiIndexOffset = 8;  // int32 byte offset of the block
inline constexpr std::size_t kPoiRecX = 0;         // int16, metres east of the tile's west edge
inline constexpr std::size_t kPoiRecY = 2;         // int16, metres north of the south edge
inline constexpr std::size_t kPoiRecDistrict = 4;  // int16
inline constexpr std::size_t kPoiRecCategory = 6;  // int16
inline constexpr std::size_t kPoiRecNote = 8;      // int32 note index, -1: none
inline constexpr std::size_t kPoiRecName = 12;     // 28 bytes, blank-padded

// ---- alldist.txt keywords, compared on their own length in this order --------------------
inline constexpr const char* kWordPolyline = "pline";
inline constexpr const char* kWordCity = "city";
inline constexpr const char* kWordPoint = "point";
inline constexpr const char* kWordMinorPoint = "poin22";

// ---- base map: the world rectangle that dist.emf's frame is stretched over ----------------
inline constexpr int32_t kBaseMapWest = 140000;
inline constexpr int32_t kBaseMapNorth = 2800000;
inline constexpr int32_t kBaseMapWidth = 220000;
inline constexpr int32_t kBaseMapHeight = 380000;

// The smallest district code; lower codes in d4.txt are skipped.
inline constexpr int32_t kMinDistrict = 100;

}  // namespace kestrel::data::format

#endif  // KESTREL_DATA_FORMAT_H
