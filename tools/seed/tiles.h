// tiles.h: kserve's tiles for kseed: the two tile matrix sets and the metatile rendering, taken
// from the web service's own code so that an archive's tiles are kserve's tiles, pixel for
// pixel (the same metatiles of 4 x 4 tiles, the same PNG encoder).
#ifndef KSEED_TILES_H
#define KSEED_TILES_H

#include <memory>
#include <string>
#include <vector>

#include "params.h"
#include "service.h"
#include "warp.h"

namespace kseed {

enum class TileSet { kGoogle, kNative };

// One level of a tile matrix set: 256-pixel tiles from the top-left corner (left, top) at
// `resolution` units of the set's system a pixel.
struct Matrix {
    double resolution = 0;
    double left = 0, top = 0;
    long cols = 0, rows = 0;
};

constexpr int kTileSize = 256;
constexpr int kMetatile = 4;  // the web service draws 4 x 4 tiles as one view

class Tiles {
  public:
    // Loads the data set in `data` (grid `crs`) into this process's engine. False, with the
    // reason, when it does not load.
    bool start(const std::string& data, const std::string& crs, std::string& error);

    // The levels of a set, and each one's matrix.
    const std::vector<Matrix>& matrices(TileSet set) const {
        return set == TileSet::kGoogle ? google_ : native_;
    }
    // The data set's extent in the set's system (the grid, or EPSG:3857), and in degrees.
    const kserve::Box& extent(TileSet set) const {
        return set == TileSet::kGoogle ? extent_3857_ : extent_;
    }
    const kserve::Box& extent_lonlat() const { return extent_ll_; }
    const kserve::Crs& native() const { return *native_crs_; }
    const kserve::Crs& mercator() const { return *mercator_crs_; }
    const kserve::Crs& wgs84() const { return *wgs84_crs_; }

    // The PNG of the tile at `level`, `row`, `col` (from the top-left), as kserve answers it.
    // The tiles of one metatile are drawn together, once: ask for them one after the other.
    bool tile(TileSet set, int level, long row, long col, std::string& png, std::string& error);

  private:
    kserve::Service service_;
    std::vector<Matrix> google_, native_;
    kserve::Box extent_{}, extent_3857_{}, extent_ll_{};
    std::shared_ptr<kserve::Crs> native_crs_, mercator_crs_, wgs84_crs_;
};

}  // namespace kseed

#endif  // KSEED_TILES_H
