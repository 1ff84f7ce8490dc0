// dataset.cpp: the data set, its systems and extents, and the digests of its pictures.
#include "kmaps/dataset.h"

#include <cstdio>

#include "kcommon/hash.h"

namespace kmaps {

bool DataSet::open(const std::string& dir, const std::string& grid, std::string& error) {
    init_gdal();
    native_ = Crs::make(grid);
    mercator_ = Crs::make(kWebMercator);
    const auto wgs84 = Crs::make(kCrs84);
    systems_ = {native_, mercator_, Crs::make(kLonLat), wgs84};
    if (!native_ || native_->geographic()) {
        error = "unknown or unprojected coordinate system " + grid;
        return false;
    }
    for (const auto& system : systems_)
        if (!system) {
            error = "the coordinate systems cannot be made (is PROJ's database installed?)";
            return false;
        }
    if (!engine_.load(dir)) {
        error = "the engine could not load the data set in " + dir;
        return false;
    }
    const Extent& e = engine_.extent();
    extent_ = {e.minx, e.miny, e.maxx, e.maxy};
    const auto ll = transform_box(*native_, *wgs84, extent_);
    const auto wm = transform_box(*native_, *mercator_, extent_);
    if (!ll || !wm) {
        error = "the data set's extent cannot be expressed in longitude and latitude";
        return false;
    }
    extent_ll_ = *ll;
    extent_3857_ = *wm;
    return true;
}

std::shared_ptr<Crs> DataSet::system(std::string_view name) const {
    for (const auto& c : systems_)
        if (c && c->name() == name) return c;
    return nullptr;
}

std::string DataSet::digest(std::string_view key) const {
    // The revision of the pictures: raised whenever a change of the drawing or warping code
    // changes the picture of the same data set and request, so that what a cache keeps from
    // an earlier version no longer validates. 2: warping approximates the projection to an
    // eighth of a pixel. 3: the engine draws the tiles of a view in the view's tile order, not
    // in the order of its cache slots (which depended on the requests answered before).
    constexpr std::string_view kPictureRevision = "3|";
    char b[64];
    std::snprintf(
        b, sizeof b, "%s-%016llx", engine_.fingerprint().c_str(),
        static_cast<unsigned long long>(kcommon::fnv1a(key, kcommon::fnv1a(kPictureRevision))));
    return b;
}

}  // namespace kmaps
