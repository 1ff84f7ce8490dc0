// tile_source.h: kserve's tiles for kseed, from the maps library's tile module (kmaps/tiles.h):
// the same tile matrix sets, the same metatiles of 4 x 4 tiles drawn as one engine view in the
// view's tile order (whatever a worker drew before), the same PNG encoder, so that an archive's
// tiles are kserve's tiles, byte for byte.
#ifndef KSEED_TILE_SOURCE_H
#define KSEED_TILE_SOURCE_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kmaps/crs.h"
#include "kmaps/dataset.h"
#include "kmaps/geometry.h"
#include "kmaps/tiles.h"

namespace kseed {

enum class TileSet { kGoogle, kNative };

constexpr int kTileSize = kmaps::kTileSize;       // pixels a side at scale factor 1
constexpr int kMetatile = kmaps::kMetatileTiles;  // tiles a side of a metatile

class Tiles {
  public:
    // Loads the data set in `data` (grid `crs`) into this process's engine. False, with the
    // reason, when it does not load.
    bool start(const std::string& data, const std::string& crs, std::string& error);

    const kmaps::TileMatrixSet& set(TileSet s) const {
        return s == TileSet::kGoogle ? *google_ : *native_;
    }
    // The levels of a set, and each one's matrix.
    const std::vector<kmaps::TileMatrix>& matrices(TileSet s) const { return set(s).matrices(); }
    // The data set's extent in the set's system (the grid, or EPSG:3857), and in degrees.
    const kmaps::Box& extent(TileSet s) const {
        return s == TileSet::kGoogle ? data_.extent_mercator() : data_.extent();
    }
    const kmaps::Box& extent_lonlat() const { return data_.extent_lonlat(); }
    const kmaps::Crs& native() const { return data_.native(); }
    const kmaps::Crs& mercator() const { return data_.mercator(); }
    const kmaps::Crs& wgs84() const { return *wgs84_; }

    // The PNG tiles of metatile (metarow, metacol) at `level`, drawn at scale factor `scale`,
    // as kserve draws them. Nothing, with the reason, when the engine refuses the view.
    std::optional<kmaps::Metatile> metatile(TileSet s, int level, long metarow, long metacol,
                                            int scale, std::string& error) {
        return kmaps::render_metatile(data_, set(s), level, metarow, metacol, scale, error);
    }

  private:
    kmaps::DataSet data_;
    std::optional<kmaps::TileMatrixSet> google_, native_;
    std::shared_ptr<kmaps::Crs> wgs84_;
};

}  // namespace kseed

#endif  // KSEED_TILE_SOURCE_H
