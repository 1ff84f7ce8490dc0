// geometry.h: the geometry steps of a vector tile, in tile units (x east, y down): lines and
// polygons cut at a rectangle, rounding to whole units, simplification, and the checks that keep
// every written ring simple and wound as the format wants (exterior rings of positive area by
// the surveyor's formula in tile units, holes negative).
#ifndef KMAPS_VECTOR_GEOMETRY_H
#define KMAPS_VECTOR_GEOMETRY_H

#include <cstdint>
#include <span>
#include <vector>

namespace kmaps::vector::geometry {

struct Point {
    double x, y;
};

struct IPoint {
    std::int32_t x, y;
    bool operator==(const IPoint&) const = default;
};

struct Rect {
    double x0, y0, x1, y1;  // x0 < x1, y0 < y1
};

// A list of rings or lines in one array: part i is points [starts[i], starts[i + 1]).
template <class P>
struct Parts {
    std::vector<P> points;
    std::vector<std::uint32_t> starts;  // one more than parts; starts[0] == 0

    void clear() {
        points.clear();
        starts.assign(1, 0);
    }
    std::size_t size() const { return starts.empty() ? 0 : starts.size() - 1; }
    std::span<const P> part(std::size_t i) const {
        return {points.data() + starts[i], points.data() + starts[i + 1]};
    }
    void close_part() { starts.push_back(static_cast<std::uint32_t>(points.size())); }
    // Drops the points after the last closed part.
    void drop_open() { points.resize(starts.back()); }
};

// The line `line` cut at `r`: appends each piece inside the rectangle (edges included) to `out`
// as a part of at least two points.
void clip_line(std::span<const Point> line, const Rect& r, Parts<Point>& out);

// Twice the signed area of a ring by the surveyor's formula (the closing edge included):
// positive for exterior rings in tile units.
double ring_area2(std::span<const Point> ring);
std::int64_t ring_area2(std::span<const IPoint> ring);

// The polygon of `rings` cut at `r`: every ring wound as the format wants (exteriors positive,
// holes negative, each hole inside an exterior), without its closing point. The pieces of rings
// inside the rectangle are joined along its edges; a rectangle wholly inside the polygon becomes
// a ring of its own. Appends the result to `out` (its rings in any order).
void clip_polygon(const Parts<Point>& rings, const Rect& r, Parts<Point>& out);

// Rounds the points to whole units and drops repeated points; lines (closed false) keep parts
// of at least 2 points, rings (closed true) of at least 3 (spikes that go out and straight back
// removed). Rings are open: the closing edge is implicit.
void round_parts(const Parts<Point>& in, bool closed, Parts<IPoint>& out);

// One ring rounded as round_parts does, appended to `out`; false when less than 3 points
// remain.
bool round_ring(std::span<const Point> ring, std::vector<IPoint>& out);

// Douglas-Peucker simplification of a line (its end points kept) or of an open ring (its first
// point and the point farthest from it kept) with tolerance `tolerance` units: every dropped
// point lies within the tolerance of the kept line. Appends the kept points to `out`.
void simplify(std::span<const IPoint> in, double tolerance, bool ring, std::vector<IPoint>& out);

// True when no two edges of the open ring `ring` meet other than the neighbours at their shared
// point, and the ring has at least 3 points.
bool ring_is_simple(std::span<const IPoint> ring);

// True when `p` lies inside the open ring (even-odd rule; points on an edge count either way).
bool point_in_ring(const Point& p, std::span<const IPoint> ring);

}  // namespace kmaps::vector::geometry

#endif  // KMAPS_VECTOR_GEOMETRY_H
