// reports_poi.cpp: the point-of-interest reports, all written to dist44.tmp: dlldist44 (one
// category of one district), dlldistxy (a square window around a position, one category or
// all) and dlldistsearch (names that contain a text).
//
// The point records are read at each call straight from dat44_1.bin, one tile's block at a time
// into the shared work buffer, as the point-of-interest index (loaded with the data set) places
// them; a record's note is read from dat44_2.bin only when the record is reported. Every block
// and note is checked against the file's size and the work buffer before it is read: a block
// that runs past either is skipped, and a note index that addresses no whole note gives a line
// without a note.
#include <algorithm>
#include <cstring>
#include <span>

#include "data/format.h"
#include "data/poi_file.h"
#include "query/query.h"

namespace kestrel::query {
namespace {

namespace fmt = data::format;

constexpr int POI_NAME_BLANKS = 7;  // between the name and X
constexpr int POI_NOTE_BLANKS = 2;  // between Y and the note (or the line end)

// One call's open files: the two data files and the report.
struct PoiReport {
    data::DataFile points;
    data::DataFile notes;
    ReportFile report;
    int last_line = -1;

    // Opens the data files, then the report; false when any of them cannot be opened.
    bool open() noexcept {
        return points.open(fmt::kPoiFile) && notes.open(fmt::kPoiNoteFile) &&
               report.open(DIST44_FILE);
    }

    // Reads the block of PoiIndex entry `e` into the work buffer and returns its record count;
    // 0 for an empty entry or a block that runs past the file or the work buffer.
    int read_block(const data::PoiIndexEntry& e) const noexcept {
        return data::read_poi_block(points, e);
    }

    // Writes one line for `rec` of tile `tile`: the name, 7 blanks, X, one blank, Y, two
    // blanks, the note when it has one, CR LF.
    void write(int32_t tile, const data::PoiRecord& rec) noexcept {
        ++last_line;
        char name[data::POI_NAME_BYTES + 1];
        std::strncpy(name, rec.name, data::POI_NAME_BYTES);
        name[data::POI_NAME_BYTES] = '\0';
        report.text(name);
        report.blanks(POI_NAME_BLANKS);
        report.number(int64_t{data::tile_west(tile)} + rec.x);
        report.blanks(1);
        report.number(data::tile_south_wide(tile) + rec.y);
        report.blanks(POI_NOTE_BLANKS);
        char note[data::POI_NOTE_BYTES + 1] = {};
        if (data::read_poi_note(notes, rec.note, std::span(note).first<data::POI_NOTE_BYTES>()))
            report.text(note);
        report.line_end();
    }

    // Closes the report into place; the number of lines minus one, or -1 when it failed.
    int finish() noexcept { return report.commit() ? last_line : -1; }
};

using data::find_poi_block;
using data::poi_block_record;

// True when the name holds `text` (n bytes) at some position k with k + n <= 28; the bounded
// comparison fails on a NUL inside the name.
bool name_contains(const char* name, const char* text, std::size_t n) noexcept {
    for (std::size_t k = 0; k + n <= data::POI_NAME_BYTES; ++k)
        if (std::strncmp(name + k, text, n) == 0) return true;
    return false;
}

}  // namespace

// Points of district `code` and exactly `category`, tile by tile in district-index order (a tile
// listed twice is reported twice).
int poi_by_district(int32_t code, int32_t category) noexcept {
    PoiReport out;
    if (!out.open()) return -1;
    const data::DataSet& ds = data::dataset();
    const int last = std::min(ds.tile_index_last, data::TILE_INDEX_CAPACITY - 1);
    for (int t = 0; t <= last; ++t) {
        if (ds.tile_index_district[t] != code) continue;
        const int e = find_poi_block(ds.tile_index_tile[t]);
        if (e < 0) continue;
        const int count = out.read_block(ds.poi_index[e]);
        for (int i = 0; i < count; ++i) {
            const data::PoiRecord rec = poi_block_record(i);
            if (rec.district == code && rec.category == category)
                out.write(ds.poi_index[e].tile, rec);
        }
    }
    return out.finish();
}

// Points strictly inside the square of half side r around (x, y), of `category` or (0) of every
// category. The tiles whose columns and rows the window touches are read column by column, rows
// ascending within a column. Only tiles that have a block are visited, in that order, so the
// walk costs the same for any window size.
int poi_by_window(int32_t x, int32_t y, int32_t r, int32_t category) noexcept {
    PoiReport out;
    if (!out.open()) return -1;
    const int64_t west = int64_t{x} - r, east = int64_t{x} + r;
    const int64_t south = int64_t{y} - r, north = int64_t{y} + r;
    const int64_t col_lo = west / data::TILE_SIZE_M, col_hi = east / data::TILE_SIZE_M;
    const int64_t row_lo = south / data::TILE_SIZE_M, row_hi = north / data::TILE_SIZE_M;

    struct Visit {
        int32_t column, row;
        int entry;
    };
    Visit visits[data::POI_INDEX_ENTRIES];
    int n = 0;
    const data::PoiIndexEntry* index = data::dataset().poi_index;
    for (int e = 0; e < data::POI_INDEX_ENTRIES; ++e) {
        const int32_t tile = index[e].tile;
        if (tile < 0 || find_poi_block(tile) != e) continue;  // only a tile's first non-empty entry
        const int32_t column = data::tile_column(tile), row = data::tile_row(tile);
        if (column < col_lo || column > col_hi || row < row_lo || row > row_hi) continue;
        visits[n++] = Visit{column, row, e};
    }
    std::sort(visits, visits + n, [](const Visit& a, const Visit& b) {
        return a.column != b.column ? a.column < b.column : a.row < b.row;
    });

    for (int v = 0; v < n; ++v) {
        const data::PoiIndexEntry& entry = index[visits[v].entry];
        const int count = out.read_block(entry);
        for (int i = 0; i < count; ++i) {
            const data::PoiRecord rec = poi_block_record(i);
            if (category != 0 && rec.category != category) continue;
            const int64_t px = int64_t{data::tile_west(entry.tile)} + rec.x;
            const int64_t py = data::tile_south_wide(entry.tile) + rec.y;
            if (west < px && px < east && south < py && py < north) out.write(entry.tile, rec);
        }
    }
    return out.finish();
}

// Points whose 28-byte name holds `text` as a byte sequence, every non-empty block in index
// order (a tile with two non-empty entries contributes both blocks).
int poi_by_name(const char* text) noexcept {
    if (text == nullptr) return -1;
    PoiReport out;
    if (!out.open()) return -1;
    const std::size_t n = std::strlen(text);
    const data::PoiIndexEntry* index = data::dataset().poi_index;
    for (int e = 0; e < data::POI_INDEX_ENTRIES; ++e) {
        if (index[e].last == -1) continue;
        const int count = out.read_block(index[e]);
        for (int i = 0; i < count; ++i) {
            const data::PoiRecord rec = poi_block_record(i);
            if (name_contains(rec.name, text, n)) out.write(index[e].tile, rec);
        }
    }
    return out.finish();
}

}  // namespace kestrel::query
