// geometry.cpp: boxes, and numbers in text.
#include "kmaps/geometry.h"

#include <algorithm>
#include <cstdio>

namespace kmaps {

bool intersect(const Box& a, const Box& b, Box& out) {
    out = {std::max(a.minx, b.minx), std::max(a.miny, b.miny), std::min(a.maxx, b.maxx),
           std::min(a.maxy, b.maxy)};
    return out.minx < out.maxx && out.miny < out.maxy;
}

std::string fmt(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}

}  // namespace kmaps
