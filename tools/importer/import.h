// import.h: the whole import. Reads the sources, classifies and reprojects their features,
// assigns districts, joins road pieces, cuts everything at tile borders within the engine's
// capacities, converts names to Big5, derives the place catalogue and the base map, and
// writes the data set through the data-set writer into a temporary folder that replaces the
// output folder only when everything has been written.
#ifndef KESTREL_TOOLS_IMPORTER_IMPORT_H
#define KESTREL_TOOLS_IMPORTER_IMPORT_H

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "data/limits.h"
#include "names.h"
#include "writer.h"

namespace kimport {

class Progress;

// Capacities of one tile and of the small-scale tables, as the engine holds them.
constexpr int kTileRecords = kestrel::data::MAX_RECORDS;
constexpr int kTileVertices = kestrel::data::MAX_VERTICES;
constexpr int kTileNames = kestrel::data::MAX_NAMES;
constexpr int kPoiTiles = 500;
constexpr int kTileIndexLines = kestrel::data::TILE_INDEX_CAPACITY;  // lines of d4.txt
constexpr int kCatalogueEntries = kestrel::data::PLACE_CAPACITY;
constexpr int kCatalogueFirstPointLimit = 32768;  // first-point indexes are int16
constexpr int kCataloguePoints = 80000;

struct Options {
    std::vector<std::string> inputs;
    std::string output;               // the data-set folder to write
    std::string crs = "EPSG:3826";    // the grid of the data set
    std::string source_crs;           // CRS of sources that carry none
    bool force_source_crs = false;    // use source_crs even where a source has a CRS
    std::vector<std::string> layers;  // read only these layers of every input
    std::string mapping_file;         // empty: the built-in mapping
    std::string districts_file;       // polygon layer of districts
    std::string district_field;       // name field of that layer
    std::string district_attribute;   // or: attribute of the features naming the district
    std::string name_field = "name";
    std::string code_field = "ref";
    bool join_roads = true;  // join road pieces that continue each other
    bool replace = false;    // replace an existing, non-empty output folder
    // Empty tiles are written over the area the data set covers, so that views show missing
    // tiles only where data is really missing: the box of the tiles that hold data and of the
    // base map (district polygons, water, coast), or `extent` when it is given.
    bool empty_tiles = true;
    std::optional<std::array<double, 4>> extent;  // west, south, east, north in grid metres
};

struct DistrictLine {
    int code = 0;
    std::string name;  // UTF-8, as in the source
    long roads = 0;
    long pois = 0;
};

// What an import did; every dropped item is counted under its reason.
struct Summary {
    long features_read = 0;
    long source_roads = 0;  // road lines classified (parts of multi-lines counted)
    long joined_roads = 0;  // roads after joining pieces
    long road_records = 0;  // road records written (after cutting and splitting)
    long line_records = 0;  // other lines
    long area_records = 0;
    long place_records = 0;
    long pois = 0;
    long poi_tiles = 0;
    long inserted_vertices = 0;  // points added so that deltas fit a signed byte
    long split_features = 0;     // extra records made by splitting long lines
    long simplified_areas = 0;   // area pieces simplified to fit the vertex limit
    int tiles = 0;
    int empty_tiles = 0;  // of `tiles`: empty tiles written over the covered area
    int catalogue_entries = 0;
    int catalogue_polylines = 0;
    int base_shapes = 0;
    std::vector<DistrictLine> districts;
    std::map<std::string, long> dropped;  // reason -> count
    NameStats names;
    kdataset::WriteReport written;  // the writer's own report
};

// Reads and converts everything up to the writer: `content` receives the complete data set.
// Returns false with a message on bad input (unreadable file, unknown CRS, bad mapping, a
// source without features, nothing to import).
bool build_content(const Options& options, kdataset::DataSetContent* content, Summary* summary,
                   Progress* progress, std::string* error);

// build_content, then writes the data set into a temporary folder beside the output and puts
// it in the output's place. On failure no output is left behind and an existing output is
// unchanged.
bool run_import(const Options& options, Summary* summary, Progress* progress, std::string* error);

// The summary as printed at the end of an import.
std::string format_summary(const Options& options, const Summary& summary);

}  // namespace kimport

#endif  // KESTREL_TOOLS_IMPORTER_IMPORT_H
