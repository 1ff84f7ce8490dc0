// tile_source.cpp: the data set and kserve's tile matrix sets for kseed.
#include "tile_source.h"

namespace kseed {

bool Tiles::start(const std::string& data, const std::string& crs, std::string& error) {
    if (!data_.open(data, crs, error)) return false;
    wgs84_ = data_.system(kmaps::kCrs84);
    native_ = kmaps::TileMatrixSet::native(data_.native(), data_.extent());
    google_ = kmaps::TileMatrixSet::google_maps_compatible();
    return true;
}

}  // namespace kseed
