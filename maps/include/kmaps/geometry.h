// kmaps/geometry.h: boxes in a coordinate system, and numbers as maps write them in text.
#ifndef KMAPS_GEOMETRY_H
#define KMAPS_GEOMETRY_H

#include <string>

namespace kmaps {

// A box in some coordinate system, x east and y north.
struct Box {
    double minx, miny, maxx, maxy;
};

// The part of `a` inside `b` into `out`; false when they do not overlap (boxes that only
// touch do not).
bool intersect(const Box& a, const Box& b, Box& out);

// A number as maps write it in text (documents, metadata, messages): at most 10 significant
// digits ("%.10g"), a centimetre of a grid's coordinates.
std::string fmt(double v);

}  // namespace kmaps

#endif
