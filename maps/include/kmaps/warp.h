// kmaps/warp.h: pictures of the data set's grid reprojected into another system (GDAL's warper).
#ifndef KMAPS_WARP_H
#define KMAPS_WARP_H

#include <optional>

#include "kmaps/crs.h"
#include "kmaps/geometry.h"
#include "kmaps/image.h"

namespace kmaps {

// Warps `source` (the native render whose north-west corner is (left, top) at `scale` in
// `native`) onto `box` of `target` at width x height, nearest neighbour so colours stay exact;
// pixels without a source are transparent.
std::optional<Image> warp(const Image& source, const Crs& native, double left, double top,
                          double scale, const Crs& target, const Box& box, int width, int height);

}  // namespace kmaps

#endif
