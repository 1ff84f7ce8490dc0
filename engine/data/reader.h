// reader.h: the readers of a data set's files, one per file, for the engine and for every
// program that reads the files (the map service, the dump command).
//
// Each reader writes into memory its caller owns: the engine reads into its process-global
// tables (store.h), a program into its own. Every number taken from a file is checked before
// it is used: offsets and sizes against the file and the caller's buffer, counts against the
// named capacities of limits.h. What does not fit is refused or skipped as each reader says,
// never trusted. The file layouts are in format.h and docs/data-format.md.
//
//   NUMBER.dat    read_tile_file, over decode_tile (tile_decoder.h)
//   dat44_1.bin   read_poi_index, poi_block_entry, is_tile_block; read_poi_records,
//                 poi_record_at
//   dat44_2.bin   read_poi_note
//   d4.txt        TileIndexReader
//   alldist.txt   CatalogueReader
#ifndef KESTREL_DATA_READER_H
#define KESTREL_DATA_READER_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string_view>

#include "data/format.h"
#include "data/limits.h"
#include "data/store.h"
#include "data/tile_decoder.h"

namespace kestrel::data {

// A binary file of the data set open for reading, with its size; every read is checked against
// the size. Only regular files open (a folder or a pipe is refused, without waiting for a
// writer). Together with the report folder of the queries this is where the engine calls the
// operating system's file interface directly.
class DataFile {
  public:
    DataFile() noexcept = default;
    ~DataFile();
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;

    // Opens the engine's data path + `name` (a fixed file name of format.h); false when the
    // name does not fit or open_path fails.
    bool open(const char* name) noexcept;
    // Opens the file at `path`; false when it does not open or is not a regular file. A file
    // open before is closed first.
    bool open_path(const char* path) noexcept;
    // Reads exactly `n` bytes at `offset` when they lie wholly inside the file.
    bool read_at(int64_t offset, void* out, std::size_t n) const noexcept;
    int64_t size() const noexcept { return size_; }

  private:
    void close() noexcept;

    int fd_ = -1;
    int64_t size_ = 0;
};

// ---- tile files (NUMBER.dat) ---------------------------------------------------------------

// Room for the name of a tile file without a folder: "-2147483648.dat" and its NUL.
inline constexpr std::size_t kTileFileNameBytes = 16;

// Writes the name of tile `tile`'s file in the folder `folder` (format::kTileFileFormat: the
// folder, then the number in decimal, then ".dat") into `out`; false when it does not fit.
bool tile_file_name(const char* folder, int32_t tile, char* out, std::size_t out_size) noexcept;

// The tile number of a file name of a data set's folder: true, with `*tile` set, when `name`
// is exactly what tile_file_name writes for some tile without a folder ("277025.dat"; not
// "0277025.dat" or "+277025.dat", which no tile is read from).
bool tile_file_number(std::string_view name, int32_t* tile) noexcept;

// Room for a whole tile file: a file may be at most this large.
using TileFileBuffer = std::span<uint8_t, WORK_BUFFER_SIZE>;

// Reads the open tile file `file` whole (its length as the file system reports it) into
// `buffer` and decodes it into `slot` (decode_tile). Returns nullptr on success; otherwise a
// sentence saying why ("file larger than 2000000 bytes", "cannot seek", "short read" or the
// decoder's refusal), and the slot is left empty. The file stays open; a null file is refused
// as one that cannot be read.
const char* read_tile_file(std::FILE* file, TileFileBuffer buffer, TileSlot& slot) noexcept;

// ---- dat44_1.bin: the point-of-interest index ------------------------------------------------

using PoiIndex = PoiIndexEntry[POI_INDEX_ENTRIES];

// Reads the index, the first POI_INDEX_BYTES bytes of the open file, into `index`. Entries that
// a shorter file does not fill completely are marked empty (tile 0, last index -1).
void read_poi_index(std::FILE* file, PoiIndex& index) noexcept;

// The entry of `tile`'s block: the first entry of that tile number whose last index is not -1
// (a later entry of the same tile is never its block); -1 when there is none.
int poi_block_entry(const PoiIndex& index, int32_t tile) noexcept;

// True when entry `e` holds the points of a tile: it is its tile's block (poi_block_entry), its
// last index is 0 or more, and its tile number is above 0 (0 numbers no tile: a tile file with
// that number is refused, and the cache marks empty slots with it).
bool is_tile_block(const PoiIndex& index, int e) noexcept;

// ---- dat44_1.bin: the blocks of point records ------------------------------------------------

// The record count of an entry's block: its last index + 1, or 0 for an empty entry and for a
// block of more records than the work buffer holds (kPoiBlockRecordsMax).
int poi_block_count(const PoiIndexEntry& e) noexcept;

// Reads the block of entry `e` from `points` into `out` and returns its record count; 0 when
// poi_block_count is 0, when the block does not lie wholly inside the file (a negative offset
// included) or does not fit `out`.
int read_poi_records(const DataFile& points, const PoiIndexEntry& e,
                     std::span<uint8_t> out) noexcept;

// Record `i` of a block that read_poi_records left in `block` (i below its count).
PoiRecord poi_record_at(const uint8_t* block, int i) noexcept;

// ---- dat44_2.bin: notes ------------------------------------------------------------------------

// Reads note `note` (its 52 bytes, blank-padded, no terminator); false for a negative index or
// a note that does not lie wholly inside the file.
bool read_poi_note(const DataFile& notes, int32_t note,
                   std::span<char, POI_NOTE_BYTES> out) noexcept;

// ---- text files ------------------------------------------------------------------------------

// The lines of an open text file of the data set, read in pieces of at most
// format::kTextReadChars characters: a longer line goes on in the next piece, which counts as
// a line of its own.
class TextLines {
  public:
    explicit TextLines(std::FILE* file) noexcept : file_(file) {}
    TextLines(const TextLines&) = delete;
    TextLines& operator=(const TextLines&) = delete;

    // The next line (NUL-terminated, with its line end if it had one); nullptr at the end.
    const char* next() noexcept;
    // The number of the line that next() gave last, from 1.
    int number() const noexcept { return number_; }

  private:
    std::FILE* file_;
    int number_ = 0;
    char line_[format::kTextReadChars + 1] = {};
};

// ---- d4.txt: the district index ----------------------------------------------------------------

// One line that the district index keeps.
struct TileIndexLine {
    int line;  // its number in the file, from 1
    int32_t district;
    int32_t tile;
};

// Reads d4.txt line by line. A line is kept when it starts with a district code of
// format::kMinDistrict or more followed by a tile number, each a decimal int32 (leading white
// space and a sign allowed, words after them ignored); every other line is skipped.
class TileIndexReader {
  public:
    explicit TileIndexReader(std::FILE* file) noexcept : lines_(file) {}

    // The next kept line; false at the end of the file.
    bool next(TileIndexLine* out) noexcept;

  private:
    TextLines lines_;
};

// ---- alldist.txt: the place catalogue ----------------------------------------------------------

// One item of the catalogue: an entry, or one point of the polyline entry before it.
struct CatalogueItem {
    int line;        // its number in the file, from 1
    bool is_point;   // a point of the polyline before (x, y); otherwise an entry
    PlaceKind kind;  // of an entry
    int32_t count;   // of a polyline entry: the number of lines it takes for its points
    int32_t x, y;    // the point of a city, point or minor point entry, or the polyline point
    char name[PLACE_NAME_MAX + 1];  // of a city, point or minor point: cut to PLACE_NAME_MAX
                                    // bytes by kcommon::big5_cut, NUL-terminated
};

// Reads alldist.txt. A line is matched by its start, in the order pline, city, point, poin22
// (format.h's keywords, each compared on its own length):
// - "pline N": a polyline entry of count N (N a decimal int32 of 0 or more, else the line is
//   skipped); the next N lines are its point lines, whatever they start with: each that holds
//   two numbers gives a point item, the others are consumed without one, and the end of the
//   file ends the polyline early;
// - "city NAME X Y", "point NAME X Y", "poin22 NAME X Y": an entry with its one point; a line
//   missing any of them is skipped.
// Other lines are skipped.
class CatalogueReader {
  public:
    explicit CatalogueReader(std::FILE* file) noexcept : lines_(file) {}

    // The next item; false at the end of the file.
    bool next(CatalogueItem* out) noexcept;

  private:
    bool polyline_point(const char* line, CatalogueItem* out) noexcept;
    bool entry(const char* line, CatalogueItem* out) noexcept;

    TextLines lines_;
    int64_t polyline_lines_ = 0;  // point lines of the polyline still to come
};

}  // namespace kestrel::data

#endif  // KESTREL_DATA_READER_H
