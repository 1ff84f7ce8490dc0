// site.h: what every interface of a worker shares: the data set as a map (the maps library,
// kmaps), the service's configuration and the shared counters.
#ifndef KSERVE_SITE_H
#define KSERVE_SITE_H

#include <string>
#include <string_view>

#include "kmaps/crs.h"
#include "kmaps/dataset.h"
#include "kmaps/engine.h"
#include "kmaps/geometry.h"
#include "kmaps/image.h"
#include "service/metrics.h"

namespace kserve {

// The maps library's types, as every interface names them.
using kmaps::Box;
using kmaps::Crs;
using kmaps::DataSet;
using kmaps::Engine;
using kmaps::fmt;
using kmaps::Image;
using kmaps::Place;
using kmaps::Road;

// A map's budget, in pixels the engine draws (kmaps::map_cost): 128 million, so that every map
// of up to kMaxSide x kMaxSide pixels is drawn in every system, at any box (such a map costs at
// most about 101 million: kmaps::worst_map_cost).
constexpr double kDefaultMapBudget = 128e6;

struct Config {
    std::string data;
    std::string crs = kmaps::kDefaultGrid;
    std::string viewer;  // the built viewer's folder, served at /; empty: none
    // The service's public address, the base of the addresses answers give (public_url()'s
    // form); empty: "http://127.0.0.1".
    std::string public_url;
    // The most a map may cost (kmaps::map_cost), in pixels.
    double map_budget = kDefaultMapBudget;
};

class Site {
  public:
    // Loads the data set of `config`. False, with `error` set, when it does not load or the
    // system is unknown or not projected. `metrics` may be null.
    bool open(const Config& config, Metrics* metrics, std::string& error);

    DataSet& data() { return data_; }
    const DataSet& data() const { return data_; }
    Metrics* metrics() const { return metrics_; }
    double map_budget() const { return map_budget_; }

    // The quoted validator of an answer described by `key` (every parameter that changes it).
    std::string etag(std::string_view key) const;
    // Why a map of cost `cost` is refused under the budget, for its exception or problem
    // details: the cost, the budget and the side every map within which is drawn.
    std::string over_budget(double cost) const;

  private:
    DataSet data_;
    Metrics* metrics_ = nullptr;
    double map_budget_ = kDefaultMapBudget;
};

}  // namespace kserve

#endif
