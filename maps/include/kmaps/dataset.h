// kmaps/dataset.h: a data set as the source of maps: the data set loaded into the process's
// engine, the coordinate systems it is offered in, its extent in each, and the digest that
// tells its pictures apart from those of any other data set or drawing code.
#ifndef KMAPS_DATASET_H
#define KMAPS_DATASET_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kmaps/crs.h"
#include "kmaps/engine.h"
#include "kmaps/geometry.h"

namespace kmaps {

class DataSet {
  public:
    // Loads the data set in the folder `dir` into the engine, with `grid` the name of its
    // projected coordinate system, and makes the systems it is offered in. False, with `error`
    // set, when the data set does not load or the system is unknown or not projected.
    bool open(const std::string& dir, const std::string& grid, std::string& error);

    Engine& engine() { return engine_; }
    const Engine& engine() const { return engine_; }

    // The data set's grid, EPSG:3857 and CRS:84; every system offered, the grid first
    // (the grid, EPSG:3857, EPSG:4326, CRS:84). Made once: making one reads PROJ's database.
    const Crs& native() const { return *native_; }
    const Crs& mercator() const { return *mercator_; }
    const std::vector<std::shared_ptr<Crs>>& systems() const { return systems_; }
    // The offered system of that name (upper case), or null.
    std::shared_ptr<Crs> system(std::string_view name) const;

    // The extent in the grid, in longitude/latitude and in EPSG:3857.
    const Box& extent() const { return extent_; }
    const Box& extent_lonlat() const { return extent_ll_; }
    const Box& extent_mercator() const { return extent_3857_; }

    // A digest of a picture (or document) described by `key` (every parameter that changes
    // it), for this data set and this drawing code: "<data set digest>-<digest of key>", the
    // same for the same data set files, key and picture revision.
    std::string digest(std::string_view key) const;

  private:
    Engine engine_;
    std::shared_ptr<Crs> native_;
    std::shared_ptr<Crs> mercator_;
    std::vector<std::shared_ptr<Crs>> systems_;
    Box extent_{};
    Box extent_ll_{};
    Box extent_3857_{};
};

}  // namespace kmaps

#endif
