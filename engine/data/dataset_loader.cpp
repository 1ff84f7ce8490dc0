// dataset_loader.cpp: loading the five fixed files of a data set into the process-global
// tables: d4.txt (district index), dat44_1.bin (point-of-interest index), dat44_2.bin (only
// checked), alldist.txt (place catalogue) and dist.emf (base-map metafile).
//
// The files are read by the readers of reader.h, which hold the rules of their lines and bytes;
// this file stores what they read. Every table checks its capacity: an overflow stops the load
// of that file with -1, and what was loaded before stays in place.
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "data/format.h"
#include "data/reader.h"
#include "data/store.h"
#include "data/store_detail.h"

namespace kestrel::data {

namespace {

namespace fmt = format;

constexpr int kPathBytes = DATA_PATH_MAX + 16;  // the data path and a fixed file name

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

}  // namespace

// Reads d4.txt: every line that the district index keeps (TileIndexReader) appends one
// TileIndex entry.
int detail::load_tile_index(std::FILE* f) noexcept {
    DataSet& d = dataset();
    TileIndexReader in(f);
    TileIndexLine line{};
    while (in.next(&line)) {
        if (d.tile_index_last + 1 >= TILE_INDEX_CAPACITY)
            return fail("d4.txt line %d: more than %d index lines", line.line, TILE_INDEX_CAPACITY);
        ++d.tile_index_last;
        d.tile_index_district[d.tile_index_last] = line.district;
        d.tile_index_tile[d.tile_index_last] = line.tile;
    }
    return 1;
}

namespace {

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

// Appends a city, point or minor point entry with its point; no entry without its point.
int add_place_with_point(const CatalogueItem& item) noexcept {
    PlaceEntry* e = nullptr;
    if (add_place(item.line, item.kind, &e) < 0) return -1;
    std::memcpy(e->name, item.name, sizeof e->name);
    if (add_point(item.line, item.x, item.y) < 0) {
        --dataset().place_last;
        return -1;
    }
    return 1;
}

}  // namespace

// Reads alldist.txt (CatalogueReader) into the place catalogue and its points. A polyline's
// entry keeps the points that were actually read.
int detail::load_catalogue(std::FILE* f) noexcept {
    CatalogueReader in(f);
    CatalogueItem item{};
    PlaceEntry* polyline = nullptr;
    while (in.next(&item)) {
        if (item.is_point) {
            if (add_point(item.line, item.x, item.y) < 0) return -1;
            ++polyline->point_count;
        } else if (item.kind == PLACE_POLYLINE) {
            if (item.count > INT16_MAX)
                return fail("alldist.txt line %d: polyline of %d points, over %d", item.line,
                            item.count, INT16_MAX);
            if (add_place(item.line, PLACE_POLYLINE, &polyline) < 0) return -1;
        } else if (add_place_with_point(item) < 0) {
            return -1;
        }
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
    read_poi_index(f, d.poi_index);
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
