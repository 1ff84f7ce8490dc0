// dataset.h: what every interface of a worker shares: the data set in the worker's engine, the
// coordinate systems it is offered in, its extent in each, and the shared counters.
#ifndef KSERVE_DATASET_H
#define KSERVE_DATASET_H

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine.h"
#include "metrics.h"
#include "params.h"
#include "warp.h"

namespace kserve {

// A map's budget, in pixels the engine draws (map_cost() in render.h): 128 million, so that
// every map of up to kMaxSide x kMaxSide pixels is drawn in every system, at any box (such a
// map costs at most about 101 million: worst_map_cost()).
constexpr double kDefaultMapBudget = 128e6;

struct Config {
    std::string data;
    std::string crs = "EPSG:3826";
    std::string viewer;  // the built viewer's folder, served at /; empty: none
    // The service's public address, the base of the addresses answers give (public_url()'s
    // form); empty: "http://127.0.0.1".
    std::string public_url;
    // The most a map may cost (map_cost() in render.h), in pixels.
    double map_budget = kDefaultMapBudget;
};

class DataSet {
  public:
    // Loads the data set of `config` into the engine and makes its coordinate systems. False,
    // with `error` set, when the data set does not load or the system is unknown or not
    // projected. `metrics` may be null.
    bool open(const Config& config, Metrics* metrics, std::string& error);

    Engine& engine() { return engine_; }
    const Engine& engine() const { return engine_; }
    Metrics* metrics() const { return metrics_; }
    double map_budget() const { return map_budget_; }

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

    // The quoted validator of an answer described by `key` (every parameter that changes it),
    // for this data set: "<data set digest>-<digest of key>".
    std::string etag(std::string_view key) const;

  private:
    Engine engine_;
    Metrics* metrics_ = nullptr;
    double map_budget_ = kDefaultMapBudget;
    std::shared_ptr<Crs> native_;
    std::shared_ptr<Crs> mercator_;
    std::vector<std::shared_ptr<Crs>> systems_;
    Box extent_{};
    Box extent_ll_{};
    Box extent_3857_{};
};

// A number as the service writes it in text: at most 10 significant digits ("%.10g").
std::string fmt(double v);

}  // namespace kserve

#endif
