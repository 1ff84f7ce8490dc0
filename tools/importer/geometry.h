// geometry.h: the geometry work of the importer on integer world metres: cutting lines at
// tile borders, clipping area rings to tiles, inserting points so that every step of a
// delta-coded road fits a signed byte, splitting long lines, simplifying, and the
// point-in-polygon and along-the-line helpers of district assignment.
#ifndef KESTREL_TOOLS_IMPORTER_GEOMETRY_H
#define KESTREL_TOOLS_IMPORTER_GEOMETRY_H

#include <cstdint>
#include <vector>

#include "data/limits.h"
#include "writer.h"

namespace kimport {

using kdataset::WorldPoint;
using Polyline = std::vector<WorldPoint>;

constexpr int32_t kTileSize = kestrel::data::TILE_SIZE_M;        // metres per tile side
constexpr int32_t kTileColumns = kestrel::data::kTileRowFactor;  // row * 1000 + column
constexpr int32_t kMaxTileRow = kestrel::data::kTileRowMax;      // keeps the number in int32
constexpr int kMaxDeltaStep = 127;          // largest step of the delta stream (signed byte)
constexpr int kMaxFeatureVertices = 10000;  // vertices of one feature the engine can draw

// True when two points are the same.
inline bool same_point(const WorldPoint& a, const WorldPoint& b) {
    return a.x == b.x && a.y == b.y;
}

// The tile that holds (x, y), or -1 when the point is off the tile grid (negative, or a
// column beyond 999).
int32_t tile_of(double x, double y);

// A run of a line inside one tile. Its points lie in the tile's closed square.
struct TilePiece {
    int32_t tile = -1;  // -1: the run lies off the tile grid
    Polyline points;
};

// Cuts a line at every tile border it crosses. The cut points lie exactly on the border (the
// other coordinate rounded to the metre) and end one piece and start the next. Runs that
// shrink to a single point (touching a corner) are left out.
std::vector<TilePiece> cut_at_tiles(const Polyline& line);

// Clips a ring (implicitly closed, at least 3 points) to the square of `tile`. Returns the
// clipped ring, empty when nothing of it lies in the tile.
Polyline clip_ring_to_tile(const Polyline& ring, int32_t tile);

// Inserts points on segments whose x or y step exceeds kMaxDeltaStep, evenly and rounded, so
// that every step fits; returns how many were inserted.
int densify(Polyline* line);

// Splits a line into lines of at most `max_vertices` points; consecutive parts share their
// joining point.
std::vector<Polyline> split_by_vertices(const Polyline& line, int max_vertices);

// Removes consecutive repeated points.
void drop_repeats(Polyline* line);

// Length of a line in metres.
double line_length(const Polyline& line);

// The point halfway along a line (by length); the first point for a line of one point.
void point_halfway(const Polyline& line, double* x, double* y);

// Douglas-Peucker simplification with `tolerance` metres; keeps both end points.
Polyline simplify(const Polyline& line, double tolerance);

// Even-odd test of (x, y) against a ring held as doubles (x0, y0, x1, y1, ...).
bool ring_contains(const std::vector<double>& ring_xy, double x, double y);

}  // namespace kimport

#endif  // KESTREL_TOOLS_IMPORTER_GEOMETRY_H
