// geometry.h: plane geometry for the sample generator: polylines in double precision while the
// city is laid out, integer polylines once it is fixed, and the operations that turn one into
// the other: smoothing, offsetting, noding (shared vertices where roads cross), cutting at tile
// borders and clipping areas to tiles.
#ifndef KESTREL_TOOLS_SAMPLE_GEOMETRY_H
#define KESTREL_TOOLS_SAMPLE_GEOMETRY_H

#include <cstdint>
#include <functional>
#include <vector>

#include "writer.h"

namespace ksample {

struct P {
    double x = 0;
    double y = 0;
};
using Poly = std::vector<P>;
using IPoint = kdataset::WorldPoint;
using IPoly = std::vector<IPoint>;

inline P operator+(P a, P b) {
    return {a.x + b.x, a.y + b.y};
}
inline P operator-(P a, P b) {
    return {a.x - b.x, a.y - b.y};
}
inline P operator*(P a, double k) {
    return {a.x * k, a.y * k};
}
inline bool operator==(IPoint a, IPoint b) {
    return a.x == b.x && a.y == b.y;
}
// Orders integer points by x, then y (for sets and sorted vectors of points).
struct PointLess {
    bool operator()(IPoint a, IPoint b) const { return a.x != b.x ? a.x < b.x : a.y < b.y; }
};

double dist(P a, P b);
double length(const Poly& line);

// Points every `step` metres along `line` (the first and last points kept exactly).
Poly resample(const Poly& line, double step);

// Catmull-Rom curve through `controls`, sampled about every `step` metres.
Poly spline(const Poly& controls, double step);

// `rounds` rounds of Chaikin corner cutting; the end points stay in place.
Poly chaikin(const Poly& line, int rounds);

// The line shifted sideways by `offset` metres (positive: to the left of the direction of
// travel), using the averaged normal at inner vertices.
Poly offset_line(const Poly& line, double offset);

// Even-odd point-in-polygon test; the polygon is implicitly closed.
bool inside(const Poly& polygon, P p);

// Distance from p to the nearest point of the polyline.
double distance_to(const Poly& line, P p);

// Douglas-Peucker simplification of an integer polyline within `tolerance` metres.
IPoly simplify(const IPoly& line, double tolerance);

// Rounds to whole metres, dropping consecutive duplicates.
IPoly round_line(const Poly& line);

// Splits `line` into the runs of consecutive points for which `keep` holds; a run keeps the
// boundary point on each side of it cut at the exact transition found by bisection, so roads
// end at the water's edge rather than one sample before it. Runs shorter than `min_length`
// are dropped.
std::vector<Poly> keep_runs(const Poly& line, const std::function<bool(P)>& keep,
                            double min_length);

// Result of noding: the lines with every crossing inserted as a vertex of both lines.
struct Noded {
    std::vector<IPoly> lines;
};

// Inserts a shared vertex wherever two lines cross or touch, for every pair of lines for which
// `may_join(a, b)` holds (grade-separated pairs, such as a freeway over a street, are left
// without a shared vertex). Crossings are rounded once, so both lines get the identical point.
Noded node_lines(const std::vector<IPoly>& lines,
                 const std::function<bool(size_t, size_t)>& may_join);

// For every vertex of every line, how many distinct lines pass through that exact point.
std::vector<std::vector<int>> vertex_degrees(const std::vector<IPoly>& lines);

// Cuts a line at the borders of the `cell`-metre grid: a vertex is inserted where the line
// crosses a border (exactly on it), and the line is split there. Each piece lies within one
// cell, borders included, and carries that cell's key (row * 1000 + column).
struct CellPiece {
    int32_t cell;
    IPoly points;
};
std::vector<CellPiece> cut_at_cells(const IPoly& line, int32_t cell);

// The part of a closed polygon inside the axis-aligned rectangle (Sutherland-Hodgman).
Poly clip_polygon(const Poly& polygon, double x0, double y0, double x1, double y1);

// Cell key (row * 1000 + column) of a world point for the given cell size.
int32_t cell_of(double x, double y, int32_t cell);

}  // namespace ksample

#endif  // KESTREL_TOOLS_SAMPLE_GEOMETRY_H
