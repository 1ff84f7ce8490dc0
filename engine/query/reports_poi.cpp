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
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "kestrel.h"
#include "query/query.h"

namespace kestrel::query {
namespace {

static_assert(std::endian::native == std::endian::little,
              "point records are read from the file's little-endian bytes as they stand");

constexpr const char* POI_FILE = "dat44_1.bin";
constexpr const char* NOTE_FILE = "dat44_2.bin";
constexpr int POI_NAME_BLANKS = 7;  // between the name and X
constexpr int POI_NOTE_BLANKS = 2;  // between Y and the note (or the line end)
constexpr int MAX_BLOCK_RECORDS = static_cast<int>(data::WORK_BUFFER_SIZE / data::POI_RECORD_BYTES);

// A data file open for reading, with its size.
struct DataFile {
    int fd = -1;
    int64_t size = 0;

    DataFile() noexcept = default;
    DataFile(const DataFile&) = delete;
    DataFile& operator=(const DataFile&) = delete;
    ~DataFile() {
        if (fd >= 0) close(fd);
    }

    // Opens the data path + `name`; false when the name does not fit or the file does not open.
    bool open(const char* name) noexcept {
        char path[data::DATA_PATH_MAX + 32];
        const int n = std::snprintf(path, sizeof path, "%s%s", data::dataset().data_path, name);
        if (n < 0 || static_cast<std::size_t>(n) >= sizeof path) return false;
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
        size = st.st_size;
        return true;
    }

    // Reads exactly `n` bytes at `offset` when they lie wholly inside the file.
    bool read_at(int64_t offset, void* out, std::size_t n) const noexcept {
        if (offset < 0 || offset > size || static_cast<int64_t>(n) > size - offset) return false;
        auto* p = static_cast<char*>(out);
        std::size_t done = 0;
        while (done < n) {
            const ssize_t got = pread(fd, p + done, n - done, static_cast<off_t>(offset + done));
            if (got <= 0) return false;
            done += static_cast<std::size_t>(got);
        }
        return true;
    }
};

// One call's open files: the two data files and the report.
struct PoiReport {
    DataFile points;
    DataFile notes;
    ReportFile report;
    int last_line = -1;

    // Opens the data files, then the report; false when any of them cannot be opened.
    bool open() noexcept {
        return points.open(POI_FILE) && notes.open(NOTE_FILE) && report.open(DIST44_FILE);
    }

    // Reads the block of PoiIndex entry `e` into the work buffer and returns its record count;
    // 0 for an empty entry or a block that runs past the file or the work buffer.
    int read_block(const data::PoiIndexEntry& e) const noexcept {
        if (e.last < 0 || e.last >= MAX_BLOCK_RECORDS) return 0;
        const int count = e.last + 1;
        const std::size_t bytes = static_cast<std::size_t>(count) * data::POI_RECORD_BYTES;
        return points.read_at(e.offset, data::work_buffer(), bytes) ? count : 0;
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
        report.number(int64_t{tile / 1000} * data::TILE_SIZE_M + rec.y);
        report.blanks(POI_NOTE_BLANKS);
        char note[data::POI_NOTE_BYTES + 1];
        if (rec.note >= 0 &&
            notes.read_at(int64_t{rec.note} * data::POI_NOTE_BYTES, note, data::POI_NOTE_BYTES)) {
            note[data::POI_NOTE_BYTES] = '\0';
            report.text(note);
        }
        report.line_end();
    }

    // Closes the report into place; the number of lines minus one, or -1 when it failed.
    int finish() noexcept { return report.commit() ? last_line : -1; }
};

// Record `i` of the block in the work buffer.
data::PoiRecord block_record(int i) noexcept {
    data::PoiRecord rec;
    std::memcpy(&rec, data::work_buffer() + static_cast<std::size_t>(i) * data::POI_RECORD_BYTES,
                sizeof rec);
    return rec;
}

// The PoiIndex entry of a tile's block: the first entry of that tile number whose last index is
// not -1, or -1 when there is none.
int find_block(int32_t tile) noexcept {
    const data::PoiIndexEntry* index = data::dataset().poi_index;
    for (int e = 0; e < data::POI_INDEX_ENTRIES; ++e)
        if (index[e].tile == tile && index[e].last != -1) return e;
    return -1;
}

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
        const int e = find_block(ds.tile_index_tile[t]);
        if (e < 0) continue;
        const int count = out.read_block(ds.poi_index[e]);
        for (int i = 0; i < count; ++i) {
            const data::PoiRecord rec = block_record(i);
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
        if (tile < 0 || find_block(tile) != e) continue;  // only a tile's first non-empty entry
        const int32_t column = tile % 1000, row = tile / 1000;
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
            const data::PoiRecord rec = block_record(i);
            if (category != 0 && rec.category != category) continue;
            const int64_t px = int64_t{data::tile_west(entry.tile)} + rec.x;
            const int64_t py = int64_t{entry.tile / 1000} * data::TILE_SIZE_M + rec.y;
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
            const data::PoiRecord rec = block_record(i);
            if (name_contains(rec.name, text, n)) out.write(index[e].tile, rec);
        }
    }
    return out.finish();
}

}  // namespace kestrel::query

extern "C" {

KESTREL_API int dlldist44(int code, int category) {
    return kestrel::query::poi_by_district(code, category);
}

KESTREL_API int dlldistxy(int x, int y, int r, int category) {
    return kestrel::query::poi_by_window(x, y, r, category);
}

KESTREL_API int dlldistsearch(const char* text) {
    return kestrel::query::poi_by_name(text);
}

}  // extern "C"
