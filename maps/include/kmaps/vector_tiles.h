// kmaps/vector_tiles.h: the data set's vector tiles (kmaps_vector's builder) on the tile matrix
// sets of tiles.h, apart from any address or protocol: the tile (level, row, col) of a set is
// its box in the set's system drawn at 512 pixels a side, projected from the grid to EPSG:3857
// by PROJ for the google set and taken as it is for the native one. kserve answers its vector
// tile addresses from here and kseed writes its vector archives from here, so both have the
// same bytes.
#ifndef KMAPS_VECTOR_TILES_H
#define KMAPS_VECTOR_TILES_H

#include <memory>
#include <string>
#include <string_view>

#include "kmaps/tiles.h"

namespace kmaps {

// The media type of a vector tile.
inline constexpr const char* kMvtType = "application/vnd.mapbox-vector-tile";
// The highest google level whose tiles add detail: above it clients draw the tiles of this
// level enlarged (a quarter pixel of it is 0.3 m).
inline constexpr int kVectorMaxZoom = 16;

class VectorTiles {
  public:
    VectorTiles();
    ~VectorTiles();
    VectorTiles(const VectorTiles&) = delete;
    VectorTiles& operator=(const VectorTiles&) = delete;

    // Opens the data set in the folder `dir`, whose grid is the system `grid` ("EPSG:3826").
    // False, with `error` set, when the folder cannot be read or PROJ cannot transform the grid
    // to EPSG:3857.
    bool open(const std::string& dir, const std::string& grid, std::string& error);

    // The vector tile (row, col) of `matrix` of `set` (one of tiles.h's sets): empty when
    // nothing lies in it. False, with `error` set, for a tile outside the matrix or when the
    // builder fails.
    bool build(const TileMatrixSet& set, const TileMatrix& matrix, long row, long col,
               std::string& out, std::string& error);

    // The grid's metres an EPSG:3857 unit in the middle of the data set's extent `grid_box`
    // (the style's line widths are metres of the grid).
    double grid_metres_per_unit(const Box& grid_box) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

// The layers of the tiles and their fields as TileJSON's `vector_layers` (a JSON array as
// text), with the zoom levels `minzoom` to `maxzoom` of the tiles that hold them.
std::string vector_layers_json(int minzoom, int maxzoom);

// `data` as a gzip member (RFC 1952), at zlib's level `level`. False when zlib fails.
bool gzip(std::string_view data, std::string& out, int level = 6);

}  // namespace kmaps

#endif  // KMAPS_VECTOR_TILES_H
