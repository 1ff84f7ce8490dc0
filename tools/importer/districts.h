// districts.h: districts of an import and their codes. Districts come from a polygon layer
// (a feature belongs to the district whose polygon holds its reference point) or from an
// attribute of the features themselves. Codes 100, 101, ... are assigned in the byte order of
// the district names, so the same sources always give the same codes.
#ifndef KESTREL_TOOLS_IMPORTER_DISTRICTS_H
#define KESTREL_TOOLS_IMPORTER_DISTRICTS_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "source.h"

namespace kimport {

constexpr int kFirstDistrictCode = 100;
constexpr int kMaxDistrictCode = 32767;  // district codes are int16 in tiles and POIs

// Name of the district that takes the features outside every polygon.
constexpr const char* kOutsideDistrict = "(outside)";

class Districts {
  public:
    // Reads the polygons of `path`, named by the attribute `field`, reprojected to `grid`.
    // Polygons that share a name form one district. Returns false with a message when the
    // file cannot be read, the field is missing, or no polygon has a name.
    bool load_polygons(const std::string& path, const std::string& field, const Grid& grid,
                       const ReadOptions& options, std::string* error);

    // The index of the district whose polygon holds (x, y), or -1.
    int locate(double x, double y) const;

    // The index of the district called `name`, added when new (attribute districts).
    int add(const std::string& name);

    // Sorts the districts by name and assigns their codes. Indexes returned before stay
    // valid through code(). Returns false when there are more districts than codes.
    bool assign_codes(std::string* error);

    int size() const { return static_cast<int>(names_.size()); }
    const std::string& name(int index) const { return names_[index]; }
    int code(int index) const { return codes_[index]; }
    // Places for the label of a polygon district, inside its largest polygon, best first;
    // empty for attribute districts.
    const std::vector<std::pair<double, double>>& label_points(int index) const {
        return shapes_[index].labels;
    }
    // The outlines of a district's polygons, exterior rings and holes.
    const std::vector<Rings>& polygons(int index) const { return shapes_[index].polygons; }

  private:
    struct Shape {
        std::vector<Rings> polygons;
        std::vector<std::vector<double>> rings_xy;  // all rings as doubles, for even-odd tests
        std::vector<double> box;                    // per ring: min x, min y, max x, max y
        std::vector<std::pair<double, double>> labels;
    };
    std::vector<std::string> names_;
    std::map<std::string, int> index_;
    std::vector<int> codes_;
    std::vector<Shape> shapes_;
};

}  // namespace kimport

#endif  // KESTREL_TOOLS_IMPORTER_DISTRICTS_H
