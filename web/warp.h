// warp.h: coordinate systems and the reprojection of native renders (GDAL and PROJ).
#ifndef KSERVE_WARP_H
#define KSERVE_WARP_H

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "image.h"
#include "params.h"

namespace kserve {

// A coordinate system named as in requests ("EPSG:3857", "CRS:84"), x east and y north. It
// owns its spatial reference: it can be moved, not copied.
class Crs {
  public:
    static std::shared_ptr<Crs> make(const std::string& name);
    const std::string& name() const { return name_; }
    // True when WMS 1.3.0 writes this system's coordinates north first (EPSG:4326).
    bool north_first() const { return north_first_; }
    bool geographic() const;
    // The spatial reference (an OGRSpatialReference), never null for a made system.
    void* handle() const { return srs_.get(); }
    std::string wkt() const;
    // The system as a PROJ string ("+proj=tmerc ..."), for clients such as proj4js.
    std::string proj4() const;

  private:
    struct Release {
        void operator()(void* srs) const;
    };
    std::string name_;
    bool north_first_ = false;
    std::unique_ptr<void, Release> srs_;
};

// Point and box transforms between two systems; nothing when PROJ cannot do it.
std::optional<Box> transform_box(const Crs& from, const Crs& to, const Box& box);
std::optional<std::pair<double, double>> transform_point(const Crs& from, const Crs& to, double x,
                                                         double y);
// Transforms the points in place with one transformation; false when PROJ cannot do it.
bool transform_points(const Crs& from, const Crs& to, std::vector<std::pair<double, double>>& pts);

// Warps `source` (the native render whose north-west corner is (left, top) at `scale` in
// `native`) onto `box` of `target` at width x height, nearest neighbour so colours stay exact;
// pixels without a source are transparent.
std::optional<Image> warp(const Image& source, const Crs& native, double left, double top,
                          double scale, const Crs& target, const Box& box, int width, int height);

void init_gdal();

}  // namespace kserve

#endif
