// site.cpp: the data set served, its validators and the refusal of maps over the budget.
#include "service/site.h"

#include "kmaps/render.h"

namespace kserve {

bool Site::open(const Config& config, Metrics* metrics, std::string& error) {
    metrics_ = metrics;
    map_budget_ = config.map_budget;
    return data_.open(config.data, config.crs, error);
}

std::string Site::etag(std::string_view key) const {
    std::string tag = data_.digest(key);
    tag.insert(tag.begin(), '"');
    tag.push_back('"');
    return tag;
}

std::string Site::over_budget(double cost) const {
    const std::string side = std::to_string(kmaps::served_side(map_budget_));
    return "the map would cost " + fmt(cost / 1e6) +
           " million pixels, over this service's budget of " + fmt(map_budget_ / 1e6) +
           " million (a pixel the engine draws costs 1, a warped pixel " + fmt(kmaps::kWarpFactor) +
           " more); every map of at most " + side + " x " + side +
           " pixels is drawn: ask for fewer pixels";
}

}  // namespace kserve
