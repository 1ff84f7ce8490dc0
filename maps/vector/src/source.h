// source.h: the data set as the tile builder reads it: the state of an open DataSource, and the
// features of one tile file (with its points of interest) in the grid, ready to be projected.
#ifndef KMAPS_VECTOR_SOURCE_H
#define KMAPS_VECTOR_SOURCE_H

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "data/reader.h"
#include "kmaps/vector/tile_builder.h"

namespace kmaps::vector {

// The layers of the tiles, in the order they are written (vector_layers() describes them).
enum class Layer : std::uint8_t { areas, lines, roads, overview, places, pois, count };

// A feature's id: the tile file (or block) and the record, as the OGC API numbers them.
inline constexpr std::int64_t kIdFactor = 100000;

// One feature of a tile file or of the catalogue, its points in its tile's point array. A
// polygon's points are its rings: `rings` rings from `first_ring` in the ring array.
struct SourceFeature {
    Layer layer;
    std::int16_t type = 0;  // road or line type, place label type, category of a point
    std::int32_t district = 0;
    std::int64_t id = 0;
    std::uint32_t name = 0, code = 0, note = 0, kind = 0;  // texts: indexes, 0 the empty text
    std::uint32_t first = 0, count = 0;                    // points
    std::uint32_t first_ring = 0, rings = 0;               // rings of a polygon
    double minx = 0, miny = 0, maxx = 0, maxy = 0;         // of the projected points
};

// A tile file's features, projected into a tile set's system.
struct SourceTile {
    std::int32_t number = 0;
    std::vector<SourceFeature> features;
    std::vector<double> xy;              // points, x and y interleaved
    std::vector<std::uint32_t> ring_at;  // rings: first point of each, then one past the last
    std::vector<std::string> texts;      // texts[0] is empty
    // The features by where they lie: a grid of kGridCells x kGridCells cells over the
    // features' box, cell c holding cell_items[cell_at[c] .. cell_at[c + 1]); features that
    // would take many cells are in `wide`.
    static constexpr int kGridCells = 32;
    double grid_x = 0, grid_y = 0, grid_cell = 1;
    std::vector<std::uint32_t> cell_at, cell_items, wide;

    void clear();
    // Sets the features' boxes from their projected points and makes the grid.
    void index();
    // The features whose box may meet the box (minx, miny, maxx, maxy), in storage order.
    void candidates(double minx, double miny, double maxx, double maxy,
                    std::vector<std::uint32_t>& out) const;

  private:
    void cells_of(double minx, double miny, double maxx, double maxy, int& cx0, int& cy0, int& cx1,
                  int& cy1) const;

  public:
    std::uint32_t text(std::string s);
};

// The kinds of places, as the places layer's `kind` field names them.
inline constexpr const char* kKindCity = "city";
inline constexpr const char* kKindPoint = "point";
inline constexpr const char* kKindMinor = "minor";
inline constexpr const char* kKindLabel = "label";

struct CataloguePlace {
    std::int64_t id;  // the entry's line in alldist.txt
    kestrel::data::PlaceKind kind;
    std::string name;  // UTF-8
    std::int32_t x, y;
};

struct CatalogueLine {
    std::int64_t id;  // the entry's line in alldist.txt
    std::vector<std::int32_t> xy;
};

struct DataSource::State {
    std::string dir;  // with its trailing '/'
    std::vector<std::int32_t> tiles;
    kestrel::data::PoiIndex poi_index{};
    kestrel::data::DataFile points;  // dat44_1.bin
    kestrel::data::DataFile notes;   // dat44_2.bin
    std::vector<CataloguePlace> places;
    std::vector<CatalogueLine> lines;
};

// Room to read tile files into, reused from one file to the next.
struct ReadBuffers {
    std::unique_ptr<kestrel::data::TileSlot> slot = std::make_unique<kestrel::data::TileSlot>();
    std::unique_ptr<std::uint8_t[]> file =
        std::make_unique_for_overwrite<std::uint8_t[]>(kestrel::data::WORK_BUFFER_SIZE);
    std::vector<std::uint8_t> poi_block;
    std::vector<std::uint8_t> notes;  // the notes of a block, read in one piece
    std::array<char, kestrel::data::POI_NOTE_BYTES> note{};
};

// Reads tile file `tile` and the tile's points of interest into `out`, the points in grid
// metres. A file that is missing or refused gives a tile without lines; false only when the
// file exists but was refused (the reason in `error`).
bool read_source_tile(const DataSource::State& source, std::int32_t tile, ReadBuffers& buffers,
                      SourceTile& out, std::string& error);

// Blank-padded Big5 text as UTF-8 (bytes from a NUL on dropped, trailing blanks removed).
std::string utf8_text(const char* bytes, std::size_t n);

}  // namespace kmaps::vector

#endif  // KMAPS_VECTOR_SOURCE_H
