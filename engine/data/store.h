// store.h: the map data store of the engine, as seen from inside the library.
//
// The engine keeps one data set per process in fixed-capacity, process-global tables: the
// district index (d4.txt), the point-of-interest index (head of dat44_1.bin), the place
// catalogue and its points (alldist.txt), the base-map metafile (dist.emf), and the tile cache
// of 80 slots into which numbered tile files are decoded. Nothing here is allocated per call;
// the tables live in zero-initialised static storage, so pages of slots that are never filled
// cost no resident memory.
//
// The rendering, overlay, query and report code of the engine reads these tables through this
// header; the flat C exports (dllsetpath, sdllinit, sdllisinit, dllfree) are thin wrappers in
// exports/data.cpp. Tests include this header to look at the tables directly.
//
// Conventions: every table keeps the index of its last used entry (-1 when empty), and loops
// run from 0 to that index inclusive. The capacities and the tile numbering are in limits.h.
#ifndef KESTREL_DATA_STORE_H
#define KESTREL_DATA_STORE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "data/limits.h"
#include "gdi_api.h"  // the base map's metafile handle

namespace kestrel::data {

// ---- the in-memory form of a tile ---------------------------------------------------------

// Feature types: roads 1 to 9, other lines and areas up to 20, point features from 21 on. A
// slot stores its lines and areas before its point features.
inline constexpr int ROAD_TYPE_FIRST = 1;
inline constexpr int ROAD_TYPE_LAST = 9;
inline constexpr int POINT_TYPE_FIRST = 21;

constexpr bool is_road_type(int type) noexcept {
    return type >= ROAD_TYPE_FIRST && type <= ROAD_TYPE_LAST;
}

struct Vertex {
    int16_t x;  // metres east of the slot's origin
    int16_t y;  // metres north of the slot's origin
};
static_assert(sizeof(Vertex) == 4);

// One map feature of a slot. Only the fields that the feature's file section supplies are
// meaningful; loading clears the others.
struct FeatureRecord {
    int16_t type;          // 1..9 roads, up to 20 lines (11 areas), above 20 point features
    int16_t vertex_count;  // vertices of a line or area
    int32_t first_vertex;  // index of the first vertex, or of the anchor of a point feature
    char code[4];          // road code (section B) or 2-byte point code (section D)
    int16_t name_index;    // NameRecord index in the slot
    int16_t district;      // district code of a road (section B)
};

struct NameRecord {
    char bytes[NAME_BYTES];  // blank-padded, no terminator
};
static_assert(sizeof(NameRecord) == 20);

// The first 128 bytes of a tile file, kept in the slot with two fields replaced: offset 80
// holds the slot's last record index and offset 92 its in-view flag. The vertex last index is
// raised while section B vertices are decoded.
struct TileHeader {
    int32_t reserved0;      // 0
    int32_t reserved4;      // 4
    int32_t record_size;    // 8: stride of sections A, C and D
    int32_t a_last;         // 12
    int32_t anchor_base;    // 16
    int32_t a_offset;       // 20
    int32_t b_last;         // 24
    int32_t b_record_size;  // 28
    int32_t b_offset;       // 32
    int32_t c_last;         // 36
    int32_t c_offset;       // 40
    int32_t d_last;         // 44
    int32_t d_offset;       // 48
    int32_t vertex_last;    // 52
    int32_t vertex_offset;  // 56
    int32_t reserved60;     // 60
    int32_t delta_offset;   // 64
    int32_t name_last;      // 68
    int32_t reserved72;     // 72
    int32_t name_offset;    // 76
    int32_t last_record;    // 80: in a slot, the last record index
    int32_t origin_x;       // 84
    int32_t origin_y;       // 88
    int32_t in_view;        // 92: in a slot, the in-view flag
    int32_t tile_number;    // 96
    uint8_t reserved100[28];
};
static_assert(sizeof(TileHeader) == TILE_HEADER_BYTES);

struct TileSlot {
    TileHeader header;
    FeatureRecord records[MAX_RECORDS];
    Vertex vertices[MAX_VERTICES];
    NameRecord names[MAX_NAMES];
};

struct TileCache {
    TileSlot slots[SLOT_COUNT];
    int32_t ring;  // where the search for a slot to fill starts
};

// ---- access to a slot's records with every index checked ---------------------------------
// Every layer reads a slot's records through these, so that a record with indexes outside the
// slot's arrays is treated the same way everywhere: as a feature without that part.

// The last record index of a slot, limited to the record capacity (-1: no records).
inline int last_record(const TileSlot& s) noexcept {
    const int last = s.header.last_record;
    return last < -1 ? -1 : last > MAX_RECORDS - 1 ? MAX_RECORDS - 1 : last;
}

// The vertices of record `r` of a slot: a pointer to the first and the count. A record whose
// vertices do not lie wholly inside the vertex array (or with a negative count) gives nullptr
// and count 0, so callers treat it as a feature without vertices.
inline const Vertex* record_vertices(const TileSlot& s, const FeatureRecord& r,
                                     int* count) noexcept {
    const int64_t first = r.first_vertex;
    const int64_t n = r.vertex_count;
    if (first < 0 || n < 0 || first + n > MAX_VERTICES) {
        *count = 0;
        return nullptr;
    }
    *count = static_cast<int>(n);
    return s.vertices + first;
}

// The anchor vertex of a point feature (its first vertex), or nullptr when the index lies
// outside the vertex array.
inline const Vertex* record_anchor(const TileSlot& s, const FeatureRecord& r) noexcept {
    if (r.first_vertex < 0 || r.first_vertex >= MAX_VERTICES) return nullptr;
    return s.vertices + r.first_vertex;
}

// The 20-byte name entry of a record, or nullptr when its name index lies outside the names.
inline const char* record_name(const TileSlot& s, const FeatureRecord& r) noexcept {
    if (r.name_index < 0 || r.name_index >= MAX_NAMES) return nullptr;
    return s.names[r.name_index].bytes;
}

// ---- the data set's fixed tables ---------------------------------------------------------

struct PoiIndexEntry {
    int32_t tile;
    int32_t last;    // last record index of the tile's block; -1: no records
    int32_t offset;  // byte offset of the block in dat44_1.bin
};
static_assert(sizeof(PoiIndexEntry) == 12);

// A PoiRecord exactly as stored in dat44_1.bin (40 bytes, little-endian).
struct PoiRecord {
    int16_t x;  // metres east of the tile's west edge
    int16_t y;  // metres north of the tile's south edge
    int16_t district;
    int16_t category;
    int32_t note;               // PoiNote index in dat44_2.bin, -1: none
    char name[POI_NAME_BYTES];  // blank-padded, no terminator
};
static_assert(sizeof(PoiRecord) == POI_RECORD_BYTES);

enum PlaceKind : int8_t { PLACE_POLYLINE = 1, PLACE_CITY = 2, PLACE_POINT = 3, PLACE_MINOR = 4 };

struct PlaceEntry {
    int16_t first_point;            // index into the catalogue points
    int16_t point_count;            // polyline points; 0 for the other kinds
    int8_t kind;                    // PlaceKind
    char name[PLACE_NAME_MAX + 1];  // NUL-terminated; empty for polylines
};

struct CataloguePoint {
    int32_t x;
    int32_t y;
};

struct DataSet {
    char data_path[DATA_PATH_MAX + 1];
    char temp_dir[TEMP_DIR_MAX + 1];
    int32_t tile_index_district[TILE_INDEX_CAPACITY];
    int32_t tile_index_tile[TILE_INDEX_CAPACITY];
    int32_t tile_index_last;
    PoiIndexEntry poi_index[POI_INDEX_ENTRIES];
    PlaceEntry places[PLACE_CAPACITY];
    int32_t place_last;
    CataloguePoint points[CATALOGUE_POINTS];
    int32_t point_last;
    HENHMETAFILE base_map;
};

// ---- access to the process-global state ------------------------------------------------

DataSet& dataset() noexcept;
TileCache& tile_cache() noexcept;
inline TileSlot& slot(int s) noexcept {
    return tile_cache().slots[s];
}

// The shared 2,000,000-byte work buffer: holds a whole tile file while it is decoded, and is
// reused by the bitmap export and the point-of-interest readers.
uint8_t* work_buffer() noexcept;

// Puts every table, the cache and the paths back to their state at library load (used by
// tests; the base-map metafile is deleted).
void reset_all() noexcept;

// Empties every slot of the tile cache (tile number 0, not in view) and puts the ring back at
// slot 0. Slots never filled are not touched, so they still cost no memory.
void empty_tile_cache() noexcept;

// A sentence saying why the last set_path, set_temp_dir or load_tile call failed; empty when
// nothing failed since the last successful set_path.
const char* last_error() noexcept;

// ---- loading the data set ----------------------------------------------------------------

// Loads the five fixed files of the data set at `path` (which ends with a separator). Returns 1
// when all five loaded, -1 as soon as one cannot be opened or a table overflows. The path is
// stored first; tables of the steps before a failure stay filled. A path over DATA_PATH_MAX
// characters is refused with -1 and nothing stored. A second load empties the district index,
// the catalogue and its points first, releases the earlier metafile, and empties the tile
// cache when the path differs from the one loaded before. With `with_base_map` false (the
// server-only build) dist.emf is not part of the data set.
int set_path(const char* path, bool with_base_map) noexcept;

// Stores the temporary directory (refused, -1, when over TEMP_DIR_MAX characters); 0 on
// success.
int set_temp_dir(const char* dir) noexcept;

// 1 when a data path is stored, else -1.
int is_initialised() noexcept;

// Deletes the base-map metafile; returns 0.
int free_base_map() noexcept;

// ---- the tile cache ----------------------------------------------------------------------

// The first slot (0..79) whose tile number equals `tile`, or -1.
int find_slot(int32_t tile) noexcept;

// Decodes the open tile file `file` into a slot chosen round the ring (a slot never filled or
// not in view), closes the file and returns the slot number. Returns -1 when no slot may be
// reused, or when the file does not fit the format or the slot's capacities; the chosen slot
// is then left empty (tile number 0) and the ring position is unchanged.
int load_tile(std::FILE* file) noexcept;

// The slot of `tile`: the cached one, or the tile file (data path + number + ".dat") loaded
// through load_tile. -1 when the file does not exist, is refused, or no slot is free.
int find_or_load_tile(int32_t tile) noexcept;

// Writes the file name of `tile` ("%s%d.dat" with the data path) into `out`; false when it
// would not fit.
bool tile_file_name(int32_t tile, char* out, std::size_t out_size) noexcept;

}  // namespace kestrel::data

#endif  // KESTREL_DATA_STORE_H
