// dataset_loader.cpp: loading the five fixed files of a data set into the process-global
// tables: d4.txt (district index), dat44_1.bin (point-of-interest index), dat44_2.bin (only
// checked), alldist.txt (place catalogue) and dist.emf (base-map metafile).
//
// Text files are read in pieces of at most 98 characters, as the format defines. Every table
// checks its capacity: an overflow stops the load of that file with -1, and what was loaded
// before stays in place.
#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "data/format.h"
#include "data/store.h"
#include "data/store_detail.h"

namespace kestrel::data {

namespace {

namespace fmt = format;

constexpr int kLineBytes = fmt::kTextReadChars + 1;  // room for one read and its NUL
constexpr int kPathBytes = DATA_PATH_MAX + 16;       // the data path and a fixed file name

// Records why the load failed, for last_error(), and returns -1.
int fail(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
int fail(const char* format, ...) noexcept {
    va_list args;
    va_start(args, format);
    std::vsnprintf(detail::error_buffer(), detail::kErrorBytes, format, args);
    va_end(args);
    return -1;
}

// The name of a fixed file of the data set at the stored data path.
void file_name(const char* file, char (&out)[kPathBytes]) noexcept {
    std::snprintf(out, sizeof out, "%s%s", dataset().data_path, file);
}

// Reads a decimal int32 as "%d" does (leading white space, optional sign, digits) and moves
// `p` past it. False when there is no number or it does not fit an int32.
bool read_int(const char*& p, int32_t* out) noexcept {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(p, &end, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *out = int32_t(v);
    p = end;
    return true;
}

// Finds the next token (a run of non-blank characters) as "%s" does and moves `p` past it.
// False when the line holds no further token.
bool read_token(const char*& p, const char** start, std::size_t* length) noexcept {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') return false;
    *start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    *length = std::size_t(p - *start);
    return true;
}

// Copies a place name, cut to PLACE_NAME_MAX bytes without splitting a two-byte character.
void copy_place_name(char (&to)[PLACE_NAME_MAX + 1], const char* from,
                     std::size_t length) noexcept {
    std::size_t end = 0;
    while (end < length) {
        const bool pair =
            static_cast<unsigned char>(from[end]) >= fmt::kBig5LeadMin && end + 1 < length;
        const std::size_t next = end + (pair ? 2 : 1);
        if (next > std::size_t(PLACE_NAME_MAX)) break;
        end = next;
    }
    std::memcpy(to, from, end);
    to[end] = '\0';
}

}  // namespace

// Reads d4.txt: every line with a district code of 100 or more and a tile number appends one
// TileIndex entry.
int detail::load_tile_index(std::FILE* f) noexcept {
    DataSet& d = dataset();
    char line[kLineBytes];
    int line_no = 0;
    while (std::fgets(line, sizeof line, f)) {
        ++line_no;
        const char* p = line;
        int32_t code = 0, tile = 0;
        if (!read_int(p, &code)) code = 0;
        if (code < fmt::kMinDistrict) continue;
        if (!read_int(p, &tile)) continue;  // a district code without a tile number
        if (d.tile_index_last + 1 >= TILE_INDEX_CAPACITY)
            return fail("d4.txt line %d: more than %d index lines", line_no, TILE_INDEX_CAPACITY);
        ++d.tile_index_last;
        d.tile_index_district[d.tile_index_last] = code;
        d.tile_index_tile[d.tile_index_last] = tile;
    }
    return 1;
}

namespace {

// Reads the 6000-byte head of dat44_1.bin into the PoiIndex; entries that a shorter file does
// not fill completely are marked empty.
void load_poi_index(std::FILE* f) noexcept {
    uint8_t raw[POI_INDEX_BYTES];
    const std::size_t got = std::fread(raw, 1, sizeof raw, f);
    PoiIndexEntry* index = dataset().poi_index;
    const std::size_t whole = got / fmt::kPoiIndexEntryBytes;
    std::memcpy(index, raw, whole * fmt::kPoiIndexEntryBytes);
    for (std::size_t i = whole; i < std::size_t(POI_INDEX_ENTRIES); ++i) index[i] = {0, -1, 0};
}

// Appends a catalogue entry; -1 (with the reason recorded) when the catalogue is full or the
// entry's first point could not be stored in its int16 field.
int add_place(int line_no, PlaceKind kind, PlaceEntry** out) noexcept {
    DataSet& d = dataset();
    if (d.place_last + 1 >= PLACE_CAPACITY)
        return fail("alldist.txt line %d: more than %d entries", line_no, PLACE_CAPACITY);
    const int32_t first = d.point_last + 1;
    if (first >= CATALOGUE_FIRST_POINT_LIMIT)
        return fail("alldist.txt line %d: first point at index %d, beyond %d", line_no, first,
                    CATALOGUE_FIRST_POINT_LIMIT - 1);
    PlaceEntry& e = d.places[++d.place_last];
    e = PlaceEntry{int16_t(first), 0, kind, {}};
    *out = &e;
    return 1;
}

// Appends a catalogue point; -1 when the points table is full.
int add_point(int line_no, int32_t x, int32_t y) noexcept {
    DataSet& d = dataset();
    if (d.point_last + 1 >= CATALOGUE_POINTS)
        return fail("alldist.txt line %d: more than %d points", line_no, CATALOGUE_POINTS);
    d.points[++d.point_last] = {x, y};
    return 1;
}

// Reads a "pline" line and the coordinate lines after it. The entry keeps the points that
// were actually read: lines that hold no two numbers are consumed but not stored, and the end
// of the file ends the polyline early.
int load_polyline(std::FILE* f, const char* line, int* line_no) noexcept {
    const char* p = line;
    const char* word;
    std::size_t length;
    int32_t n = 0;
    read_token(p, &word, &length);
    if (!read_int(p, &n) || n < 0) return 1;  // no usable count: not an entry
    if (n > INT16_MAX)
        return fail("alldist.txt line %d: polyline of %d points, over %d", *line_no, n, INT16_MAX);
    PlaceEntry* e = nullptr;
    if (add_place(*line_no, PLACE_POLYLINE, &e) < 0) return -1;
    char next[kLineBytes];
    for (int32_t i = 0; i < n && std::fgets(next, sizeof next, f); ++i) {
        ++*line_no;
        const char* q = next;
        int32_t x = 0, y = 0;
        if (!read_int(q, &x) || !read_int(q, &y)) continue;
        if (add_point(*line_no, x, y) < 0) return -1;
        ++e->point_count;
    }
    return 1;
}

// Reads a "city", "point" or "poin22" line: the word, a name, x and y. A line missing any of
// them is skipped.
int load_place(const char* line, int line_no, PlaceKind kind) noexcept {
    const char* p = line;
    const char *word, *name;
    std::size_t word_length, name_length;
    int32_t x = 0, y = 0;
    read_token(p, &word, &word_length);
    if (!read_token(p, &name, &name_length) || !read_int(p, &x) || !read_int(p, &y)) return 1;
    PlaceEntry* e = nullptr;
    if (add_place(line_no, kind, &e) < 0) return -1;
    copy_place_name(e->name, name, name_length);
    if (add_point(line_no, x, y) < 0) {
        --dataset().place_last;  // no entry without its point
        return -1;
    }
    return 1;
}

}  // namespace

// Reads alldist.txt into the place catalogue and its points.
int detail::load_catalogue(std::FILE* f) noexcept {
    char line[kLineBytes];
    int line_no = 0;
    while (std::fgets(line, sizeof line, f)) {
        ++line_no;
        int result = 1;
        if (std::strncmp(line, fmt::kWordPolyline, 5) == 0)
            result = load_polyline(f, line, &line_no);
        else if (std::strncmp(line, fmt::kWordCity, 4) == 0)
            result = load_place(line, line_no, PLACE_CITY);
        else if (std::strncmp(line, fmt::kWordPoint, 5) == 0)
            result = load_place(line, line_no, PLACE_POINT);
        else if (std::strncmp(line, fmt::kWordMinorPoint, 6) == 0)
            result = load_place(line, line_no, PLACE_MINOR);
        if (result < 0) return -1;
    }
    return 1;
}

namespace {

// Opens a fixed file of the data set; nullptr (with the reason recorded) when it cannot.
std::FILE* open_file(const char* file, const char* mode) noexcept {
    char name[kPathBytes];
    file_name(file, name);
    std::FILE* f = std::fopen(name, mode);
    if (f == nullptr) fail("cannot open %s: %s", name, std::strerror(errno));
    return f;
}

// Empties the tables that a load fills, and releases the metafile of an earlier load.
void empty_tables() noexcept {
    DataSet& d = dataset();
    d.tile_index_last = -1;
    d.place_last = -1;
    d.point_last = -1;
    for (PoiIndexEntry& e : d.poi_index) e = {0, -1, 0};
    free_base_map();
}

}  // namespace

int set_path(const char* path, bool with_base_map) noexcept {
    if (path == nullptr) return fail("no data path");
    const std::size_t length = strnlen(path, DATA_PATH_MAX + 1);
    if (length > std::size_t(DATA_PATH_MAX))
        return fail("data path longer than %d characters", DATA_PATH_MAX);

    DataSet& d = dataset();
    // Cached tiles are found by number alone: tiles of another data set must go.
    if (d.data_path[0] != '\0' && std::strcmp(d.data_path, path) != 0) empty_tile_cache();
    empty_tables();
    std::memcpy(d.data_path, path, length + 1);
    detail::error_buffer()[0] = '\0';

    std::FILE* f = open_file(fmt::kTileIndexFile, "r");
    if (f == nullptr) return -1;
    int result = detail::load_tile_index(f);
    std::fclose(f);
    if (result < 0) return -1;

    if ((f = open_file(fmt::kPoiFile, "rb")) == nullptr) return -1;
    load_poi_index(f);
    std::fclose(f);

    if ((f = open_file(fmt::kPoiNoteFile, "rb")) == nullptr) return -1;
    std::fclose(f);

    if ((f = open_file(fmt::kCatalogueFile, "r")) == nullptr) return -1;
    result = detail::load_catalogue(f);
    std::fclose(f);
    if (result < 0) return -1;

    if (with_base_map) {
        if ((f = open_file(fmt::kBaseMapFile, "rb")) == nullptr) return -1;
        std::fclose(f);
        char name[kPathBytes];
        file_name(fmt::kBaseMapFile, name);
        // An unreadable metafile gives a null handle: the base map is then simply not drawn.
        d.base_map = GetEnhMetaFileA(name);
    }
    return 1;
}

int set_temp_dir(const char* dir) noexcept {
    if (dir == nullptr) return fail("no temporary directory");
    const std::size_t length = strnlen(dir, TEMP_DIR_MAX + 1);
    if (length > std::size_t(TEMP_DIR_MAX))
        return fail("temporary directory longer than %d characters", TEMP_DIR_MAX);
    std::memcpy(dataset().temp_dir, dir, length + 1);
    return 0;
}

int is_initialised() noexcept {
    return dataset().data_path[0] != '\0' ? 1 : -1;
}

int free_base_map() noexcept {
    DataSet& d = dataset();
    if (d.base_map != nullptr) {
        DeleteEnhMetaFile(d.base_map);
        d.base_map = nullptr;
    }
    return 0;
}

}  // namespace kestrel::data
