// writer.h: writing a complete map data set from features held in memory.
//
// A data set is a directory with d4.txt, dat44_1.bin, dat44_2.bin, alldist.txt, dist.emf and
// one tile file per tile ("<tile number>.dat"). This library turns plain C++ values (features
// in world metres, names as Big5 bytes) into those files, with every capacity of the engine
// checked: a feature that cannot be stored is refused with a reason, never written half.
//
// Users: the sample data-set generator, the geodata importer, and tests that need fixtures.
#ifndef KESTREL_TOOLS_DATASET_WRITER_H
#define KESTREL_TOOLS_DATASET_WRITER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kdataset {

struct WorldPoint {
    int32_t x;  // metres east
    int32_t y;  // metres north
};

// A line or area of types 10 to 20 (11: filled area), stored in section A of its tile.
struct LineFeature {
    int16_t type = 10;
    std::vector<WorldPoint> points;
};

// A road (types 1 to 9), stored delta-coded in section B. Consecutive points further apart
// than a signed byte allows are joined by points the writer inserts on the straight segment.
struct Road {
    int16_t type = 5;
    std::vector<WorldPoint> points;  // at least 2
    std::string code;                // up to 4 bytes
    std::string name;                // Big5 bytes, up to 20; empty or leading blank: unnamed
    int16_t district = 0;            // 100 or more
};

// A place label (types 21 to 24) with a name, section C.
struct NamedPoint {
    int16_t type = 21;
    WorldPoint at;
    std::string name;  // Big5 bytes, up to 20
};

// A coded point (type above 20) with a 2-byte code, section D.
struct CodedPoint {
    int16_t type = 30;
    WorldPoint at;
    std::string code;  // up to 2 bytes
};

// The features of one tile. Every point of every feature must lie within the tile's reach:
// vertices are stored as int16 metres from the tile's south-west corner, so a feature may run
// at most 22767 m past the tile's edges (callers normally cut features at tile borders).
struct Tile {
    int32_t number = 0;
    std::vector<LineFeature> lines;
    std::vector<Road> roads;
    std::vector<NamedPoint> places;
    std::vector<CodedPoint> coded;
};

// A point of interest of dat44_1.bin / dat44_2.bin.
struct Poi {
    WorldPoint at;
    int16_t district = 0;
    int16_t category = 0;
    std::string name;  // Big5 bytes, up to 28 (blank-padded on disk)
    std::string note;  // up to 52 bytes; empty: no note
};

// An entry of the place catalogue (alldist.txt).
struct CatalogueEntry {
    enum Kind { Polyline = 1, City = 2, Point = 3, MinorPoint = 4 };
    Kind kind = City;
    std::string name;                // one token, up to 10 bytes; unused for polylines
    std::vector<WorldPoint> points;  // one point, or the polyline's points
};

// A shape of the base-map metafile, in world metres.
struct BaseMapShape {
    bool filled = false;  // polygon filled with `fill`, else a polyline
    uint32_t colour = 0;  // 0x00BBGGRR, as COLORREF
    uint32_t fill = 0;    // 0x00BBGGRR
    int width = 1;        // pen width in pixels of the reference device
    std::vector<WorldPoint> points;
};

struct DataSetContent {
    // d4.txt: (district code, tile number) lines, in this order. Use derive_tile_index to fill
    // it from the roads of the tiles.
    std::vector<std::pair<int32_t, int32_t>> tile_index;
    std::map<int32_t, Tile> tiles;
    std::vector<Poi> pois;
    std::vector<CatalogueEntry> catalogue;
    std::vector<BaseMapShape> base_map;
};

// What was written, and what was refused with why.
struct WriteReport {
    int tiles = 0;
    int roads = 0;
    int lines = 0;
    int points = 0;
    int pois = 0;
    int inserted_vertices = 0;         // added to keep deltas within a signed byte
    std::vector<std::string> refused;  // one line per feature or file not written, with why
};

// The tile index that lists, for every district, each tile its roads touch: sorted by
// district, then tile number, each pair once.
std::vector<std::pair<int32_t, int32_t>> derive_tile_index(const std::map<int32_t, Tile>& tiles);

// Writes one tile file. Returns an empty string on success, else why the tile was refused (in
// which case no file is left behind).
std::string write_tile_file(const Tile& tile, const std::string& path, WriteReport* report);

// Writes the base-map metafile: the frame covers the world rectangle x 140000..360000,
// y 2420000..2800000.
std::string write_base_map(const std::vector<BaseMapShape>& shapes, const std::string& path);

// Writes every file of a data set into `dir` (created when missing; it must end with '/').
// Returns an empty string on success, else the first error; files are written to temporary
// names and renamed into place, so a failure leaves no half-written data set.
std::string write_dataset(const DataSetContent& content, const std::string& dir,
                          WriteReport* report);

}  // namespace kdataset

#endif  // KESTREL_TOOLS_DATASET_WRITER_H
