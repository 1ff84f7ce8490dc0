// districts.cpp: district polygons, point location and the stable assignment of codes.
#include "districts.h"

#include <algorithm>
#include <numeric>

namespace kimport {
namespace {

// Where labels of a district may go: the centroid's scan line, then lines at these fractions
// of the district's height.
constexpr double kLabelHeightFractions[] = {-1, 0.4, 0.6, 0.25, 0.75};

}  // namespace

bool Districts::load_polygons(const std::string& path, const std::string& field, const Grid& grid,
                              const ReadOptions& options, std::string* error) {
    bool field_seen = false;
    long unnamed = 0;
    auto visit = [&](const SourceFeature& f) {
        if (f.shape != kimport::Shape::Polygon) return;
        std::string name(f.tags(field));
        if (!name.empty()) field_seen = true;
        if (name.empty()) {
            ++unnamed;
            return;
        }
        int index = add(name);
        Shape& s = shapes_[index];
        for (const Rings& polygon : f.polygons) {
            s.polygons.push_back(polygon);
            for (const Polyline& ring : polygon) {
                std::vector<double> xy;
                double box[4] = {1e300, 1e300, -1e300, -1e300};
                for (const WorldPoint& p : ring) {
                    xy.push_back(p.x);
                    xy.push_back(p.y);
                    box[0] = std::min<double>(box[0], p.x);
                    box[1] = std::min<double>(box[1], p.y);
                    box[2] = std::max<double>(box[2], p.x);
                    box[3] = std::max<double>(box[3], p.y);
                }
                s.rings_xy.push_back(std::move(xy));
                s.box.insert(s.box.end(), box, box + 4);
            }
        }
    };
    ReadStats stats;
    if (!read_source(path, grid, options, visit, &stats, nullptr, error)) return false;
    if (!field_seen) {
        *error = "no polygon of " + path + " has a value in the field \"" + field + "\"";
        return false;
    }
    // Label each district inside its largest polygon (by the extent of its exterior ring).
    for (Shape& s : shapes_) {
        if (s.polygons.empty()) continue;
        auto extent = [](const Rings& p) {
            int64_t lo_x = INT64_MAX, lo_y = INT64_MAX, hi_x = INT64_MIN, hi_y = INT64_MIN;
            for (const WorldPoint& q : p.front()) {
                lo_x = std::min<int64_t>(lo_x, q.x);
                lo_y = std::min<int64_t>(lo_y, q.y);
                hi_x = std::max<int64_t>(hi_x, q.x);
                hi_y = std::max<int64_t>(hi_y, q.y);
            }
            return (hi_x - lo_x) * (hi_y - lo_y);
        };
        const Rings* largest = &s.polygons.front();
        for (const Rings& p : s.polygons) {
            if (extent(p) > extent(*largest)) largest = &p;
        }
        for (double fraction : kLabelHeightFractions) {
            double x = 0, y = 0;
            polygon_label_point(*largest, &x, &y, fraction);
            s.labels.emplace_back(x, y);
        }
    }
    return true;
}

int Districts::locate(double x, double y) const {
    for (std::size_t d = 0; d < shapes_.size(); ++d) {
        const Shape& s = shapes_[d];
        bool in = false;
        for (std::size_t r = 0; r < s.rings_xy.size(); ++r) {
            const double* b = &s.box[4 * r];
            if (x < b[0] || y < b[1] || x > b[2] || y > b[3]) continue;
            if (ring_contains(s.rings_xy[r], x, y)) in = !in;
        }
        if (in) return static_cast<int>(d);
    }
    return -1;
}

int Districts::add(const std::string& name) {
    auto [it, fresh] = index_.try_emplace(name, static_cast<int>(names_.size()));
    if (!fresh) return it->second;
    names_.push_back(name);
    shapes_.emplace_back();
    codes_.push_back(0);
    return static_cast<int>(names_.size()) - 1;
}

bool Districts::assign_codes(std::string* error) {
    if (static_cast<long>(names_.size()) > kMaxDistrictCode - kFirstDistrictCode + 1) {
        *error = "too many districts (" + std::to_string(names_.size()) + "); codes end at " +
                 std::to_string(kMaxDistrictCode);
        return false;
    }
    std::vector<int> order(names_.size());
    std::iota(order.begin(), order.end(), 0);
    // The outside district, when present, takes the last code.
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        bool oa = names_[a] == kOutsideDistrict, ob = names_[b] == kOutsideDistrict;
        if (oa != ob) return ob;
        return names_[a] < names_[b];
    });
    for (std::size_t rank = 0; rank < order.size(); ++rank) {
        codes_[order[rank]] = kFirstDistrictCode + static_cast<int>(rank);
    }
    return true;
}

}  // namespace kimport
