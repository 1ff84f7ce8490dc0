// tile_source.cpp: the data set and kserve's tile matrix sets for kseed.
#include "tile_source.h"

namespace kseed {

bool Tiles::start(const std::string& data, const std::string& crs, std::string& error) {
    kserve::Config config;
    config.data = data;
    config.crs = crs;
    if (!data_.open(config, nullptr, error)) return false;
    wgs84_ = data_.system("CRS:84");
    if (!wgs84_) {
        error = "longitude and latitude are not offered";
        return false;
    }
    native_ = kserve::TileMatrixSet::native(data_.native(), data_.extent());
    google_ = kserve::TileMatrixSet::google_maps_compatible();
    return true;
}

}  // namespace kseed
