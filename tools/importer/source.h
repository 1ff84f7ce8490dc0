// source.h: reading vector sources through GDAL/OGR. Opens a file, walks the features of all
// its layers, reprojects their geometry to the data set's grid, rounds it to whole metres and
// hands each feature with its attributes to a callback.
#ifndef KESTREL_TOOLS_IMPORTER_SOURCE_H
#define KESTREL_TOOLS_IMPORTER_SOURCE_H

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "geometry.h"
#include "mapping.h"

class OGRSpatialReference;

namespace kimport {

class Progress;

// The data set's grid: a projected CRS in metres.
class Grid {
  public:
    Grid();
    ~Grid();
    Grid(const Grid&) = delete;
    Grid& operator=(const Grid&) = delete;

    // Sets the grid from a user's CRS text (EPSG:3826, a PROJ string, WKT...). Returns false
    // with a message when the text names no CRS, or a CRS that is not projected in metres.
    bool set(const std::string& text, std::string* error);
    const OGRSpatialReference* srs() const { return srs_.get(); }

  private:
    std::unique_ptr<OGRSpatialReference> srs_;
};

// One polygon: its exterior ring first, then its holes (rings implicitly closed).
using Rings = std::vector<Polyline>;

// A feature as read: its attributes (through `tags`), its geometry in grid metres.
struct SourceFeature {
    Shape shape = Shape::Point;
    std::vector<WorldPoint> points;  // Shape::Point: each point of a (multi)point
    std::vector<Polyline> lines;     // Shape::Line: each line string, repeats dropped
    std::vector<Rings> polygons;     // Shape::Polygon: each polygon
    TagLookup tags;                  // attribute values; valid during the callback only
};

// Counts of a read.
struct ReadStats {
    long features = 0;         // features read
    long no_geometry = 0;      // features without (usable) geometry
    long not_reprojected = 0;  // features whose geometry could not be reprojected
};

struct ReadOptions {
    std::string source_crs;  // assigned to layers without a CRS, or forced with `force_crs`
    bool force_crs = false;
    std::vector<std::string> layers;  // only these layers (empty: all)
};

// Reads every feature of `path`. `grid` is the target; `visit` is called for every feature
// with geometry. Returns false with a message when the file cannot be opened as a vector
// source, a layer has no CRS and none was given, a CRS cannot be transformed to the grid, a
// named layer does not exist, or the source holds no feature at all.
bool read_source(const std::string& path, const Grid& grid, const ReadOptions& options,
                 const std::function<void(const SourceFeature&)>& visit, ReadStats* stats,
                 Progress* progress, std::string* error);

// A point inside a polygon, for labels of areas: the middle of the widest inside run of a
// horizontal line, the one through the exterior ring's centroid when `height_fraction` is
// negative, else the one at that fraction of the exterior ring's height from its south.
void polygon_label_point(const Rings& polygon, double* x, double* y, double height_fraction = -1);

}  // namespace kimport

#endif  // KESTREL_TOOLS_IMPORTER_SOURCE_H
