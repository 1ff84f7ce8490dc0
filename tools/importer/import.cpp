// import.cpp: the stages of an import, from the sources to the written data set.
#include "import.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <tuple>
#include <unordered_map>

#include "districts.h"
#include "geometry.h"
#include "mapping.h"
#include "progress.h"
#include "source.h"

namespace kimport {
namespace {

namespace fs = std::filesystem;

constexpr const char* kAllDistrict = "all";
// The tile cache marks empty slots with tile number 0, so tile 0 (x and y below 10000 m)
// cannot be stored; it counts as off the grid.
constexpr int32_t kUnusableTile = 0;
// Empty tiles are written over at most this many tile squares (100 x 100 tiles, 1000 km).
constexpr long kMaxEmptyTileArea = 10000;
constexpr double kCatalogueTolerance = 40.0;   // metres; catalogue lines are seen at >51 m/px
constexpr double kCatalogueMinLength = 500.0;  // shorter main-road pieces stay out of it
// Catalogue labels as the engine draws them: text at (x - 10, y - 5) pixels, about 6 pixels a
// byte and 16 high; cities at every small scale, points up to 200 m/px, minor points to 100.
constexpr double kLabelLeftPx = 10, kLabelUpPx = 5, kLabelHeightPx = 16;
constexpr double kLabelPxPerByte = 6, kLabelPadPx = 4;
constexpr double kCityLabelMaxScale = 400, kPointLabelMaxScale = 200, kMinorLabelMaxScale = 100;
// Labels are kept apart at this scale at most: at smaller scales still (up to 200 m/px) a
// city's labels crowd anyway, and keeping them apart there would leave out most of them.
constexpr double kLabelTestScale = 100;
constexpr double kBaseMapTolerance = 15.0;  // metres
constexpr int kPolylineMaxPoints = kMaxFeatureVertices;
constexpr double kAreaFirstTolerance = 1.0;  // metres, doubled until an area piece fits
constexpr double kAreaLastTolerance = 1024.0;

// Base-map colours (COLORREF 0x00BBGGRR) and pen widths.
constexpr uint32_t rgb(unsigned r, unsigned g, unsigned b) {
    return r | (g << 8) | (b << 16);
}
constexpr uint32_t kLandFill = rgb(238, 236, 222);
constexpr uint32_t kBorderColour = rgb(150, 140, 150);
constexpr uint32_t kWaterColour = rgb(120, 170, 230);
constexpr uint32_t kCoastColour = rgb(40, 90, 180);

// Keeps vectors of one kind of item each; everything is in grid metres, names still UTF-8.
struct RoadItem {
    int type = 0;
    unsigned roles = 0;
    std::string name, code;
    int district = -1;
    Polyline points;
};
struct LineItem {
    int type = 0;
    unsigned roles = 0;
    Polyline points;
};
struct AreaItem {
    unsigned roles = 0;
    Rings rings;
};
struct PlaceItem {
    int type = 0;
    std::string name;
    WorldPoint at;
};
struct PoiItem {
    int category = 0;
    std::string name, note;
    int district = -1;
    WorldPoint at;
};
struct Collected {
    std::vector<RoadItem> roads;
    std::vector<LineItem> lines;
    std::vector<AreaItem> areas;
    std::vector<PlaceItem> places;
    std::vector<PoiItem> pois;
};

// How much a feature is worth keeping when a tile is full (higher: kept first).
int priority(bool road, bool point, int type) {
    if (road) {
        static constexpr int kRoad[10] = {0, 95, 90, 20, 100, 85, 80, 75, 60, 40};
        return kRoad[std::clamp(type, 0, 9)];
    }
    if (point) {
        static constexpr int kPlace[4] = {98, 88, 55, 30};
        return kPlace[std::clamp(type - kMinPlaceType, 0, 3)];
    }
    switch (type) {
        case 10:
            return 70;
        case 13:
            return 72;
        case 14:
            return 68;
        case 15:
            return 66;
        case 12:
            return 65;
        case kAreaType:
            return 50;
        default:
            return 45;
    }
}

// The order roads are drawn in within a tile: minor ones first, so major ones lie on top.
int drawing_rank(int type) {
    static constexpr int kRank[10] = {0, 7, 6, 0, 8, 5, 4, 3, 2, 1};
    return kRank[std::clamp(type, 0, 9)];
}

// A feature waiting for its place in a tile.
struct Candidate {
    enum What { Road, Line, Place } what;
    int priority;
    double length;
    int vertices;
    std::size_t index;  // into the tile's vector of that kind
};

struct TileWork {
    std::vector<kdataset::Road> roads;
    std::vector<kdataset::LineFeature> lines;
    std::vector<kdataset::NamedPoint> places;
    std::vector<double> road_length, line_length;
};

class Builder {
  public:
    Builder(const Options& o, Summary* s, Progress* p) : opt_(o), sum_(s), progress_(p) {}

    bool run(kdataset::DataSetContent* content, std::string* error);

  private:
    bool read_all(std::string* error);
    void assign_districts();
    void list_districts();
    void join_roads();
    void cut_roads();
    void cut_lines();
    void cut_areas();
    void place_points();
    void fit_tiles(kdataset::DataSetContent* content);
    void build_pois(kdataset::DataSetContent* content);
    void build_catalogue(kdataset::DataSetContent* content);
    void build_base_map(kdataset::DataSetContent* content);
    void fill_empty_tiles(kdataset::DataSetContent* content);
    void drop(const std::string& why, long n = 1) {
        if (n > 0) sum_->dropped[why] += n;
    }

    const Options& opt_;
    Summary* sum_;
    Progress* progress_;
    Grid grid_;
    Mapping mapping_;
    Districts districts_;
    bool polygon_districts_ = false;
    NameConverter names_;
    Collected col_;
    std::map<int32_t, TileWork> work_;
    std::vector<double> district_x_, district_y_;  // sums of road midpoints per district
    std::vector<long> district_n_;
};

bool Builder::read_all(std::string* error) {
    ReadOptions ro;
    ro.source_crs = opt_.source_crs;
    ro.force_crs = opt_.force_source_crs;
    ro.layers = opt_.layers;
    const bool attr_districts = !opt_.district_attribute.empty();
    auto district_of_attr = [&](const SourceFeature& f) {
        std::string d(f.tags(opt_.district_attribute));
        return districts_.add(d.empty() ? std::string(kOutsideDistrict) : d);
    };
    auto visit = [&](const SourceFeature& f) {
        const Rule* rule = mapping_.classify(f.shape, f.tags);
        if (rule == nullptr) {
            drop("features that matched no rule");
            return;
        }
        if (rule->kind == Kind::Skip) {
            drop("features left out by a skip rule");
            return;
        }
        std::string name(f.tags(opt_.name_field));
        // Points of a point feature, or one inside each polygon.
        auto anchors = [&] {
            std::vector<WorldPoint> at = f.points;
            for (const Rings& poly : f.polygons) {
                double x = 0, y = 0;
                polygon_label_point(poly, &x, &y);
                at.push_back(
                    {static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y))});
            }
            return at;
        };
        switch (rule->kind) {
            case Kind::Road: {
                std::string code(f.tags(opt_.code_field));
                int district = attr_districts ? district_of_attr(f) : -1;
                for (const Polyline& line : f.lines) {
                    col_.roads.push_back({rule->value, rule->roles, name, code, district, line});
                    ++sum_->source_roads;
                }
                break;
            }
            case Kind::Line:
                for (const Polyline& line : f.lines) {
                    col_.lines.push_back({rule->value, rule->roles, line});
                }
                for (const Rings& poly : f.polygons) {
                    for (Polyline ring : poly) {
                        ring.push_back(ring.front());
                        col_.lines.push_back({rule->value, rule->roles, std::move(ring)});
                    }
                }
                break;
            case Kind::Area:
                for (const Rings& poly : f.polygons) col_.areas.push_back({rule->roles, poly});
                break;
            case Kind::Place:
                if (name.empty()) {
                    drop("place labels without a name");
                    break;
                }
                for (const WorldPoint& at : anchors())
                    col_.places.push_back({rule->value, name, at});
                break;
            case Kind::Poi: {
                if (name.empty()) {
                    drop("points of interest without a name");
                    break;
                }
                std::string note;
                for (auto c = rule->conditions.rbegin(); c != rule->conditions.rend(); ++c) {
                    if (c->op == Condition::Op::Equal) {
                        note = std::string(f.tags(c->key));
                        break;
                    }
                }
                int district = attr_districts ? district_of_attr(f) : -1;
                for (const WorldPoint& at : anchors()) {
                    col_.pois.push_back({rule->value, name, note, district, at});
                }
                break;
            }
            case Kind::Skip:
                break;
        }
    };
    for (const std::string& input : opt_.inputs) {
        ReadStats rs;
        if (!read_source(input, grid_, ro, visit, &rs, progress_, error)) return false;
        sum_->features_read += rs.features;
        drop("features without geometry", rs.no_geometry);
        drop("features that could not be reprojected to the grid", rs.not_reprojected);
    }
    if (col_.roads.empty() && col_.lines.empty() && col_.areas.empty() && col_.places.empty() &&
        col_.pois.empty()) {
        *error = "nothing to import: no feature of the input matched the mapping";
        return false;
    }
    return true;
}

void Builder::assign_districts() {
    auto outside = [&] {
        return districts_.add(polygon_districts_ ? kOutsideDistrict : kAllDistrict);
    };
    const bool attr = !opt_.district_attribute.empty();
    for (RoadItem& r : col_.roads) {
        if (attr) continue;
        if (polygon_districts_) {
            double x = 0, y = 0;
            point_halfway(r.points, &x, &y);
            r.district = districts_.locate(x, y);
        }
        if (r.district < 0) r.district = outside();
    }
    for (PoiItem& p : col_.pois) {
        if (attr) continue;
        if (polygon_districts_) p.district = districts_.locate(p.at.x, p.at.y);
        if (p.district < 0) p.district = outside();
    }
}

void Builder::list_districts() {
    district_x_.assign(districts_.size(), 0);
    district_y_.assign(districts_.size(), 0);
    district_n_.assign(districts_.size(), 0);
    std::vector<long> pois(districts_.size(), 0);
    for (const RoadItem& r : col_.roads) {
        double x = 0, y = 0;
        point_halfway(r.points, &x, &y);
        district_x_[r.district] += x;
        district_y_[r.district] += y;
        ++district_n_[r.district];
    }
    for (const PoiItem& p : col_.pois) ++pois[p.district];
    for (int d = 0; d < districts_.size(); ++d) {
        sum_->districts.push_back(
            {districts_.code(d), districts_.name(d), district_n_[d], pois[d]});
    }
    std::sort(sum_->districts.begin(), sum_->districts.end(),
              [](const DistrictLine& a, const DistrictLine& b) { return a.code < b.code; });
}

void Builder::join_roads() {
    if (!opt_.join_roads) {
        sum_->joined_roads = static_cast<long>(col_.roads.size());
        return;
    }
    // Roads continue each other when they share type, name, code and district, and meet at an
    // end point that no third road of the same kind touches.
    std::map<std::tuple<int, std::string, std::string, int>, std::vector<std::size_t>> groups;
    for (std::size_t i = 0; i < col_.roads.size(); ++i) {
        const RoadItem& r = col_.roads[i];
        groups[{r.type, r.name, r.code, r.district}].push_back(i);
    }
    std::vector<RoadItem> joined;
    std::vector<char> used(col_.roads.size(), 0);
    for (auto& [key, members] : groups) {
        std::unordered_map<int64_t, std::vector<std::size_t>> ends;
        auto key_of = [](const WorldPoint& p) { return (int64_t(p.x) << 32) ^ uint32_t(p.y); };
        for (std::size_t i : members) {
            ends[key_of(col_.roads[i].points.front())].push_back(i);
            ends[key_of(col_.roads[i].points.back())].push_back(i);
        }
        // The one other unused road ending at p, when exactly two road ends meet there.
        auto next_at = [&](const WorldPoint& p, std::size_t self) -> long {
            const auto& list = ends[key_of(p)];
            if (list.size() != 2) return -1;
            std::size_t other = list[0] == self ? list[1] : list[0];
            if (other == self || used[other]) return -1;
            return static_cast<long>(other);
        };
        for (std::size_t i : members) {
            if (used[i]) continue;
            used[i] = 1;
            RoadItem chain = col_.roads[i];
            std::size_t tail = i, head = i;
            for (long n; (n = next_at(chain.points.back(), tail)) >= 0;) {
                used[n] = 1;
                Polyline more = col_.roads[n].points;
                if (!same_point(more.front(), chain.points.back()))
                    std::reverse(more.begin(), more.end());
                chain.points.insert(chain.points.end(), more.begin() + 1, more.end());
                tail = static_cast<std::size_t>(n);
            }
            for (long n; (n = next_at(chain.points.front(), head)) >= 0;) {
                used[n] = 1;
                Polyline more = col_.roads[n].points;
                if (!same_point(more.back(), chain.points.front()))
                    std::reverse(more.begin(), more.end());
                chain.points.insert(chain.points.begin(), more.begin(), more.end() - 1);
                head = static_cast<std::size_t>(n);
            }
            joined.push_back(std::move(chain));
        }
    }
    col_.roads.swap(joined);
    sum_->joined_roads = static_cast<long>(col_.roads.size());
}

void Builder::cut_roads() {
    long done = 0;
    for (const RoadItem& r : col_.roads) {
        if (progress_ != nullptr && ++done % 1024 == 0) {
            progress_->update("cutting roads", done, static_cast<long>(col_.roads.size()));
        }
        std::string name = names_.to_big5(r.name, kRoadNameBytes);
        std::string code = names_.to_big5(r.code, kRoadCodeBytes);
        for (TilePiece& piece : cut_at_tiles(r.points)) {
            if (piece.tile <= kUnusableTile) {
                drop("road pieces off the tile grid");
                continue;
            }
            sum_->inserted_vertices += densify(&piece.points);
            std::vector<Polyline> parts = split_by_vertices(piece.points, kMaxFeatureVertices);
            sum_->split_features += static_cast<long>(parts.size()) - 1;
            TileWork& w = work_[piece.tile];
            for (Polyline& part : parts) {
                kdataset::Road road;
                road.type = static_cast<int16_t>(r.type);
                road.name = name;
                road.code = code;
                road.district = static_cast<int16_t>(districts_.code(r.district));
                w.road_length.push_back(line_length(part));
                road.points = std::move(part);
                w.roads.push_back(std::move(road));
            }
        }
    }
    if (progress_ != nullptr) progress_->finish();
}

void Builder::cut_lines() {
    for (const LineItem& l : col_.lines) {
        for (TilePiece& piece : cut_at_tiles(l.points)) {
            if (piece.tile <= kUnusableTile) {
                drop("line pieces off the tile grid");
                continue;
            }
            std::vector<Polyline> parts = split_by_vertices(piece.points, kMaxFeatureVertices);
            sum_->split_features += static_cast<long>(parts.size()) - 1;
            TileWork& w = work_[piece.tile];
            for (Polyline& part : parts) {
                w.line_length.push_back(line_length(part));
                w.lines.push_back({static_cast<int16_t>(l.type), std::move(part)});
            }
        }
    }
}

void Builder::cut_areas() {
    for (const AreaItem& a : col_.areas) {
        int64_t lo_x = INT64_MAX, lo_y = INT64_MAX, hi_x = INT64_MIN, hi_y = INT64_MIN;
        for (const WorldPoint& p : a.rings.front()) {
            lo_x = std::min<int64_t>(lo_x, p.x);
            lo_y = std::min<int64_t>(lo_y, p.y);
            hi_x = std::max<int64_t>(hi_x, p.x);
            hi_y = std::max<int64_t>(hi_y, p.y);
        }
        if (lo_x < 0 || lo_y < 0 || tile_of(double(hi_x), double(hi_y)) < 0) {
            drop("areas off the tile grid");
            continue;
        }
        for (int64_t row = lo_y / kTileSize; row <= hi_y / kTileSize; ++row) {
            for (int64_t col = lo_x / kTileSize; col <= hi_x / kTileSize; ++col) {
                int32_t tile = static_cast<int32_t>(row * kTileColumns + col);
                Polyline outer = clip_ring_to_tile(a.rings.front(), tile);
                if (outer.empty()) continue;
                if (tile == kUnusableTile) {
                    drop("areas off the tile grid");
                    continue;
                }
                // Holes join the outline through a bridge that the even-odd fill cancels:
                // outline, back to its start, the hole, back to the hole's start.
                Polyline shape = outer;
                for (std::size_t h = 1; h < a.rings.size(); ++h) {
                    Polyline hole = clip_ring_to_tile(a.rings[h], tile);
                    if (hole.empty()) continue;
                    shape.push_back(outer.front());
                    shape.insert(shape.end(), hole.begin(), hole.end());
                    shape.push_back(hole.front());
                }
                if (static_cast<int>(shape.size()) > kMaxFeatureVertices) {
                    Polyline smaller;
                    for (double tol = kAreaFirstTolerance; tol <= kAreaLastTolerance; tol *= 2) {
                        smaller = simplify(shape, tol);
                        if (static_cast<int>(smaller.size()) <= kMaxFeatureVertices) break;
                    }
                    if (static_cast<int>(smaller.size()) > kMaxFeatureVertices) {
                        drop("area pieces over " + std::to_string(kMaxFeatureVertices) +
                             " vertices even when simplified");
                        continue;
                    }
                    ++sum_->simplified_areas;
                    shape.swap(smaller);
                }
                TileWork& w = work_[tile];
                w.line_length.push_back(line_length(shape));
                w.lines.push_back({static_cast<int16_t>(kAreaType), std::move(shape)});
            }
        }
    }
}

void Builder::place_points() {
    for (const PlaceItem& p : col_.places) {
        int32_t tile = tile_of(p.at.x, p.at.y);
        if (tile <= kUnusableTile) {
            drop("place labels off the tile grid");
            continue;
        }
        kdataset::NamedPoint np;
        np.type = static_cast<int16_t>(p.type);
        np.at = p.at;
        np.name = names_.to_big5(p.name, kRoadNameBytes);
        work_[tile].places.push_back(std::move(np));
    }
}

void Builder::fit_tiles(kdataset::DataSetContent* content) {
    for (auto& [number, w] : work_) {
        std::vector<Candidate> cands;
        for (std::size_t i = 0; i < w.roads.size(); ++i) {
            cands.push_back({Candidate::Road, priority(true, false, w.roads[i].type),
                             w.road_length[i], static_cast<int>(w.roads[i].points.size()), i});
        }
        for (std::size_t i = 0; i < w.lines.size(); ++i) {
            cands.push_back({Candidate::Line, priority(false, false, w.lines[i].type),
                             w.line_length[i], static_cast<int>(w.lines[i].points.size()), i});
        }
        for (std::size_t i = 0; i < w.places.size(); ++i) {
            cands.push_back({Candidate::Place, priority(false, true, w.places[i].type), 0, 1, i});
        }
        std::stable_sort(cands.begin(), cands.end(), [](const Candidate& a, const Candidate& b) {
            if (a.priority != b.priority) return a.priority > b.priority;
            return a.length > b.length;
        });
        // Keep the most important features while records and vertices last; then names,
        // in the same order, while the tile's name table lasts.
        long records = 0, vertices = 0;
        std::set<std::string> names;
        std::vector<Candidate> kept;
        for (const Candidate& c : cands) {
            if (records + 1 > kTileRecords) {
                drop("features left out: tile record table full (" + std::to_string(kTileRecords) +
                     ")");
                continue;
            }
            if (vertices + c.vertices > kTileVertices) {
                drop("features left out: tile vertex table full (" + std::to_string(kTileVertices) +
                     ")");
                continue;
            }
            ++records;
            vertices += c.vertices;
            kept.push_back(c);
        }
        for (const Candidate& c : kept) {
            std::string* name = c.what == Candidate::Road    ? &w.roads[c.index].name
                                : c.what == Candidate::Place ? &w.places[c.index].name
                                                             : nullptr;
            if (name == nullptr || name->empty() || names.count(*name) != 0) continue;
            // One entry of the table stays for the blank name of unnamed features.
            if (static_cast<int>(names.size()) >= kTileNames - 1) {
                if (c.what == Candidate::Place) {
                    drop("place labels left out: tile name table full (" +
                         std::to_string(kTileNames) + ")");
                } else {
                    drop("road names left out: tile name table full (" +
                         std::to_string(kTileNames) + ")");
                }
                name->clear();
                continue;
            }
            names.insert(*name);
        }
        kdataset::Tile tile;
        tile.number = number;
        for (const Candidate& c : kept) {
            switch (c.what) {
                case Candidate::Road:
                    tile.roads.push_back(std::move(w.roads[c.index]));
                    break;
                case Candidate::Line:
                    tile.lines.push_back(std::move(w.lines[c.index]));
                    break;
                case Candidate::Place:
                    if (!w.places[c.index].name.empty()) {
                        tile.places.push_back(std::move(w.places[c.index]));
                    }
                    break;
            }
        }
        // Drawing order: areas under lines, minor roads under major ones.
        std::stable_sort(
            tile.lines.begin(), tile.lines.end(),
            [](const kdataset::LineFeature& a, const kdataset::LineFeature& b) {
                return (a.type == kAreaType) > (b.type == kAreaType) ||
                       ((a.type == kAreaType) == (b.type == kAreaType) && a.type < b.type);
            });
        std::stable_sort(tile.roads.begin(), tile.roads.end(),
                         [](const kdataset::Road& a, const kdataset::Road& b) {
                             return drawing_rank(a.type) < drawing_rank(b.type);
                         });
        for (const auto& l : tile.lines) {
            (l.type == kAreaType ? sum_->area_records : sum_->line_records) += 1;
        }
        sum_->road_records += static_cast<long>(tile.roads.size());
        sum_->place_records += static_cast<long>(tile.places.size());
        if (tile.roads.empty() && tile.lines.empty() && tile.places.empty()) continue;
        content->tiles.emplace(number, std::move(tile));
    }
    sum_->tiles = static_cast<int>(content->tiles.size());
    work_.clear();
}

void Builder::build_pois(kdataset::DataSetContent* content) {
    std::set<int32_t> tiles;
    for (const PoiItem& p : col_.pois) {
        int32_t tile = tile_of(p.at.x, p.at.y);
        if (tile <= kUnusableTile) {
            drop("points of interest off the tile grid");
            continue;
        }
        if (tiles.count(tile) == 0 && static_cast<int>(tiles.size()) >= kPoiTiles) {
            drop("points of interest left out: more than 500 tiles hold points");
            continue;
        }
        tiles.insert(tile);
        kdataset::Poi poi;
        poi.at = p.at;
        poi.district = static_cast<int16_t>(districts_.code(p.district));
        poi.category = static_cast<int16_t>(p.category);
        poi.name = names_.to_big5(p.name, kPoiNameBytes);
        poi.note = names_.to_big5(p.note, kPoiNoteBytes);
        content->pois.push_back(std::move(poi));
    }
    sum_->pois = static_cast<long>(content->pois.size());
    sum_->poi_tiles = static_cast<long>(tiles.size());
}

void Builder::build_catalogue(kdataset::DataSetContent* content) {
    using Entry = kdataset::CatalogueEntry;
    // Labels in order of importance (cities, districts, minor places); one that would cover a
    // label kept before it where the catalogue is first drawn is left out.
    struct Label {
        Entry entry;
        double max_scale;
    };
    std::vector<Label> labels;
    auto overlaps = [](const Label& a, const Label& b) {
        double s = std::min({a.max_scale, b.max_scale, kLabelTestScale});
        auto box = [s](const Label& l, double* r) {
            const WorldPoint& p = l.entry.points.front();
            r[0] = p.x - kLabelLeftPx * s;
            r[1] = r[0] + (kLabelPadPx + kLabelPxPerByte * double(l.entry.name.size())) * s;
            r[3] = p.y + kLabelUpPx * s;
            r[2] = r[3] - kLabelHeightPx * s;
        };
        double ra[4], rb[4];
        box(a, ra);
        box(b, rb);
        return !(ra[1] < rb[0] || rb[1] < ra[0] || ra[3] < rb[2] || rb[3] < ra[2]);
    };
    std::set<std::string> label_names;
    // Adds a label at the first of `places` where it covers no label kept before it; a name
    // already labelled is not labelled again.
    auto label = [&](Entry::Kind kind, const std::string& name,
                     const std::vector<std::pair<double, double>>& places) {
        std::string token = names_.to_token(name, kCatalogueNameBytes);
        if (token.empty() || label_names.count(token) != 0) return;
        for (const auto& [x, y] : places) {
            Label l{
                {kind,
                 token,
                 {{static_cast<int32_t>(std::lround(x)), static_cast<int32_t>(std::lround(y))}}},
                kind == Entry::City    ? kCityLabelMaxScale
                : kind == Entry::Point ? kPointLabelMaxScale
                                       : kMinorLabelMaxScale};
            bool clear = std::none_of(labels.begin(), labels.end(),
                                      [&](const Label& kept) { return overlaps(kept, l); });
            if (clear) {
                label_names.insert(token);
                labels.push_back(std::move(l));
                return;
            }
        }
        drop("catalogue labels left out: they would cover a more important label");
    };
    for (const PlaceItem& p : col_.places) {
        if (p.type == kMinPlaceType) label(Entry::City, p.name, {{p.at.x, p.at.y}});
    }
    for (const DistrictLine& d : sum_->districts) {
        int index = -1;
        for (int i = 0; i < districts_.size(); ++i) {
            if (districts_.code(i) == d.code) index = i;
        }
        if (index < 0 || d.roads == 0) continue;
        if (districts_.name(index) == kOutsideDistrict || districts_.name(index) == kAllDistrict) {
            continue;
        }
        std::vector<std::pair<double, double>> places = districts_.label_points(index);
        if (places.empty()) {
            places.emplace_back(district_x_[index] / district_n_[index],
                                district_y_[index] / district_n_[index]);
        }
        label(Entry::Point, districts_.name(index), places);
    }
    for (const PlaceItem& p : col_.places) {
        if (p.type == kMinPlaceType + 1) label(Entry::MinorPoint, p.name, {{p.at.x, p.at.y}});
    }
    if (static_cast<int>(labels.size()) > kCatalogueEntries) {
        drop("catalogue labels left out: catalogue full (" + std::to_string(kCatalogueEntries) +
                 " entries)",
             static_cast<long>(labels.size()) - kCatalogueEntries);
        labels.resize(kCatalogueEntries);
    }
    // Main roads, most important and longest first, within what the labels leave: every
    // entry's first point must stay below 32768.
    struct Main {
        int prio;
        double length;
        Polyline points;
    };
    std::vector<Main> mains;
    for (const RoadItem& r : col_.roads) {
        if ((r.roles & kRoleMain) == 0) continue;
        double len = line_length(r.points);
        if (len < kCatalogueMinLength) continue;
        Polyline s = simplify(r.points, kCatalogueTolerance);
        for (Polyline& part : split_by_vertices(s, kPolylineMaxPoints)) {
            mains.push_back({priority(true, false, r.type), len, std::move(part)});
        }
    }
    std::stable_sort(mains.begin(), mains.end(), [](const Main& a, const Main& b) {
        return a.prio != b.prio ? a.prio > b.prio : a.length > b.length;
    });
    long point_budget = std::min<long>(kCatalogueFirstPointLimit - 1,
                                       kCataloguePoints - static_cast<long>(labels.size())) -
                        static_cast<long>(labels.size());
    long entry_budget = kCatalogueEntries - static_cast<long>(labels.size());
    long used = 0;
    std::vector<Entry> lines;
    for (Main& m : mains) {
        long n = static_cast<long>(m.points.size());
        if (static_cast<long>(lines.size()) >= entry_budget || used + n > point_budget) {
            drop("main roads left out of the catalogue: catalogue full");
            continue;
        }
        used += n;
        lines.push_back({Entry::Polyline, "", std::move(m.points)});
    }
    sum_->catalogue_polylines = static_cast<int>(lines.size());
    // Polylines first, so that the labels are drawn over them.
    content->catalogue = std::move(lines);
    for (Label& l : labels) content->catalogue.push_back(std::move(l.entry));
    sum_->catalogue_entries = static_cast<int>(content->catalogue.size());
}

void Builder::build_base_map(kdataset::DataSetContent* content) {
    auto& shapes = content->base_map;
    for (int d = 0; d < districts_.size() && polygon_districts_; ++d) {
        for (const Rings& poly : districts_.polygons(d)) {
            for (std::size_t r = 0; r < poly.size(); ++r) {
                Polyline ring = poly[r];
                ring.push_back(ring.front());
                Polyline s = simplify(ring, kBaseMapTolerance);
                if (s.size() < 4) continue;
                // Exterior rings are land; holes are outlined only.
                shapes.push_back({r == 0, kBorderColour, kLandFill, 1, std::move(s)});
            }
        }
    }
    for (const AreaItem& a : col_.areas) {
        if ((a.roles & kRoleWater) == 0) continue;
        Polyline ring = a.rings.front();
        ring.push_back(ring.front());
        Polyline s = simplify(ring, kBaseMapTolerance);
        if (s.size() >= 4) shapes.push_back({true, kWaterColour, kWaterColour, 1, std::move(s)});
    }
    for (const LineItem& l : col_.lines) {
        bool river = (l.roles & kRoleRiver) != 0, coast = (l.roles & kRoleCoast) != 0;
        bool border = !polygon_districts_ && (l.type == 13 || l.type == 14);
        if (!river && !coast && !border) continue;
        Polyline s = simplify(l.points, kBaseMapTolerance);
        if (s.size() < 2) continue;
        uint32_t colour = river ? kWaterColour : coast ? kCoastColour : kBorderColour;
        shapes.push_back({false, colour, 0, river ? 2 : 1, std::move(s)});
    }
    sum_->base_shapes = static_cast<int>(shapes.size());
}

bool Builder::run(kdataset::DataSetContent* content, std::string* error) {
    if (opt_.inputs.empty()) {
        *error = "no input given";
        return false;
    }
    if (!grid_.set(opt_.crs, error)) return false;
    if (opt_.mapping_file.empty()) {
        if (!mapping_.parse(default_mapping_text(), "built-in mapping", error)) return false;
    } else {
        std::ifstream in(opt_.mapping_file, std::ios::binary);
        if (!in) {
            *error = "cannot read the mapping file " + opt_.mapping_file;
            return false;
        }
        std::stringstream text;
        text << in.rdbuf();
        if (!mapping_.parse(text.str(), opt_.mapping_file, error)) return false;
    }
    if (!opt_.districts_file.empty()) {
        if (opt_.district_field.empty()) {
            *error = "--districts needs --district-field, the field that names each district";
            return false;
        }
        ReadOptions ro;
        ro.source_crs = opt_.source_crs;
        if (!districts_.load_polygons(opt_.districts_file, opt_.district_field, grid_, ro, error)) {
            return false;
        }
        polygon_districts_ = true;
    }
    if (!read_all(error)) return false;
    assign_districts();
    if (!districts_.assign_codes(error)) return false;
    list_districts();
    join_roads();
    cut_roads();
    cut_lines();
    cut_areas();
    place_points();
    fit_tiles(content);
    build_pois(content);
    build_catalogue(content);
    build_base_map(content);
    fill_empty_tiles(content);
    content->tile_index = kdataset::derive_tile_index(content->tiles);
    if (static_cast<long>(content->tile_index.size()) > kTileIndexLines) {
        drop("district index lines left out: the index holds " + std::to_string(kTileIndexLines) +
                 " lines",
             static_cast<long>(content->tile_index.size()) - kTileIndexLines);
        content->tile_index.resize(kTileIndexLines);
    }
    sum_->names = names_.stats();
    return true;
}

// Writes an empty tile into every tile square of the covered area that holds no data.
void Builder::fill_empty_tiles(kdataset::DataSetContent* content) {
    if (!opt_.empty_tiles) return;
    double west = 0, south = 0, east = 0, north = 0;
    bool any = false;
    auto cover = [&](double x, double y) {
        if (!any) {
            west = east = x;
            south = north = y;
            any = true;
        }
        west = std::min(west, x);
        east = std::max(east, x);
        south = std::min(south, y);
        north = std::max(north, y);
    };
    if (opt_.extent) {
        cover((*opt_.extent)[0], (*opt_.extent)[1]);
        cover((*opt_.extent)[2], (*opt_.extent)[3]);
    } else {
        for (const auto& [number, tile] : content->tiles) {
            const auto column = number % kTileColumns, row = number / kTileColumns;
            const double x = double(column) * kTileSize;
            const double y = double(row) * kTileSize;
            cover(x + 1, y + 1);
            cover(x + kTileSize - 1, y + kTileSize - 1);
        }
        for (const kdataset::BaseMapShape& shape : content->base_map)
            for (const WorldPoint& p : shape.points) cover(p.x, p.y);
    }
    if (!any) return;
    // Only the part on the tile grid; tile 0 cannot be stored.
    const long col0 = std::max(0L, long(std::floor(west / kTileSize)));
    const long col1 = std::min(long(kTileColumns) - 1, long(std::floor(east / kTileSize)));
    const long row0 = std::max(0L, long(std::floor(south / kTileSize)));
    const long row1 = std::min(long(kMaxTileRow), long(std::floor(north / kTileSize)));
    if (col0 > col1 || row0 > row1) return;
    const long squares = (col1 - col0 + 1) * (row1 - row0 + 1);
    if (squares > kMaxEmptyTileArea) {
        drop("empty tiles not written: the covered area spans more than " +
                 std::to_string(kMaxEmptyTileArea) + " tiles (give --extent)",
             squares - static_cast<long>(content->tiles.size()));
        return;
    }
    for (long row = row0; row <= row1; ++row) {
        for (long col = col0; col <= col1; ++col) {
            const int32_t number = static_cast<int32_t>(row * kTileColumns + col);
            if (number == kUnusableTile || content->tiles.count(number) != 0) continue;
            kdataset::Tile tile;
            tile.number = number;
            content->tiles.emplace(number, std::move(tile));
            ++sum_->empty_tiles;
        }
    }
    sum_->tiles = static_cast<int>(content->tiles.size());
}

// Removes a folder tree, ignoring errors (cleaning up after a failure).
void remove_tree(const fs::path& p) {
    std::error_code ec;
    fs::remove_all(p, ec);
}

// Why an import stored nothing, and what to try.
std::string no_tiles_message(const Options& options, const Summary& s) {
    std::string text = "nothing to write: no feature of the " + std::to_string(s.features_read) +
                       " read lies on the tile grid of " +
                       (options.crs.empty() ? std::string("EPSG:3826") : options.crs);
    long off_grid = 0;
    for (const auto& [why, n] : s.dropped)
        if (why.find("off the tile grid") != std::string::npos) off_grid += n;
    if (off_grid > 0) text += " (" + std::to_string(off_grid) + " pieces fell off the grid)";
    text +=
        ". Check --crs (the data set's grid: a projected CRS in metres that covers the "
        "data, like EPSG:3826 for Taiwan) and, for inputs without a CRS of their own, "
        "--source-crs";
    return text;
}

}  // namespace

bool build_content(const Options& options, kdataset::DataSetContent* content, Summary* summary,
                   Progress* progress, std::string* error) {
    Builder b(options, summary, progress);
    return b.run(content, error);
}

bool run_import(const Options& options, Summary* summary, Progress* progress, std::string* error) {
    if (options.output.empty()) {
        *error = "no output folder given";
        return false;
    }
    fs::path out = fs::path(options.output).lexically_normal();
    if (out.has_filename() == false) out = out.parent_path();
    std::error_code ec;
    bool exists = fs::exists(out, ec);
    if (exists && !fs::is_directory(out, ec)) {
        *error = out.string() + " exists and is no folder";
        return false;
    }
    if (exists && !fs::is_empty(out, ec) && !options.replace) {
        *error = out.string() + " exists and is not empty; give --replace to replace it";
        return false;
    }
    // Missing parent folders are made, but only after the work: check first that the nearest
    // existing one can take them, so that a typing error fails at once.
    fs::path parent = out.has_parent_path() ? out.parent_path() : fs::path(".");
    fs::path existing = fs::absolute(parent, ec);
    while (!fs::exists(existing, ec) && existing.has_relative_path())
        existing = existing.parent_path();
    if (!fs::is_directory(existing, ec)) {
        *error = existing.string() + " is no folder: cannot make the output " + out.string();
        return false;
    }
    if (access(existing.c_str(), W_OK | X_OK) != 0) {
        *error = "cannot write into " + existing.string() + ": " + std::strerror(errno);
        return false;
    }
    kdataset::DataSetContent content;
    if (!build_content(options, &content, summary, progress, error)) return false;
    if (content.tiles.size() == static_cast<std::size_t>(summary->empty_tiles) &&
        content.pois.empty()) {
        *error = no_tiles_message(options, *summary);
        return false;
    }

    if (!fs::create_directories(parent, ec) && !fs::is_directory(parent)) {
        *error = "cannot make the folder " + parent.string() + ": " + ec.message();
        return false;
    }
    std::string tmpl = (parent / ("." + out.filename().string() + ".kimport-XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (mkdtemp(buf.data()) == nullptr) {
        *error = "cannot make a temporary folder beside " + out.string();
        return false;
    }
    fs::path tmp(buf.data());
    if (progress != nullptr) progress->update("writing the data set", 0, 0);
    std::string why = kdataset::write_dataset(content, tmp.string() + "/", &summary->written);
    if (progress != nullptr) progress->finish();
    if (!why.empty()) {
        remove_tree(tmp);
        *error = "writing the data set failed: " + why;
        return false;
    }
    // The temporary folder takes the output's place: swapped in one step when an output
    // exists, so that readers see either the old or the new data set.
    if (exists) {
        if (renameat2(AT_FDCWD, tmp.c_str(), AT_FDCWD, out.c_str(), RENAME_EXCHANGE) != 0) {
            remove_tree(tmp);
            *error = "cannot replace " + out.string() + ": " + std::strerror(errno);
            return false;
        }
        remove_tree(tmp);  // now the old data set
    } else if (std::rename(tmp.c_str(), out.c_str()) != 0) {
        remove_tree(tmp);
        *error = "cannot move the data set to " + out.string() + ": " + std::strerror(errno);
        return false;
    }
    fs::permissions(out,
                    fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                        fs::perms::others_read | fs::perms::others_exec,
                    ec);
    return true;
}

std::string format_summary(const Options& options, const Summary& s) {
    std::ostringstream o;
    auto row = [&o](const char* what) -> std::ostringstream& {
        o << "  " << what << std::string(20 - std::strlen(what), ' ');
        return o;
    };
    o << "kimport: wrote " << options.output << "\n";
    row("tiles") << s.tiles;
    if (s.empty_tiles > 0) o << " (" << s.empty_tiles << " of them empty, over the covered area)";
    o << "\n";
    row("roads") << s.road_records << " records (" << s.source_roads << " source lines, "
                 << s.joined_roads << " after joining pieces)\n";
    row("other lines") << s.line_records << "\n";
    row("areas") << s.area_records << "\n";
    row("place labels") << s.place_records << "\n";
    row("points of interest") << s.pois << " in " << s.poi_tiles << " tiles\n";
    row("catalogue") << s.catalogue_entries << " entries (" << s.catalogue_polylines
                     << " main-road polylines)\n";
    row("base map") << s.base_shapes << " shapes\n";
    row("points inserted") << s.inserted_vertices
                           << " (so that every road step fits a signed byte)";
    if (s.written.inserted_vertices > 0) {
        o << ", and " << s.written.inserted_vertices << " by the writer";
    }
    o << "\n";
    if (s.split_features > 0) row("long lines split") << s.split_features << " more records\n";
    if (s.simplified_areas > 0) row("areas simplified") << s.simplified_areas << "\n";
    row("Big5 texts") << s.names.converted << " converted, " << s.names.cut
                      << " shortened to their field, " << s.names.replaced_chars
                      << " characters without a Big5 form replaced by '?' (in "
                      << s.names.names_with_replacement << " texts)";
    if (s.names.folded_chars > 0) {
        o << ", " << s.names.folded_chars << " accented letters written without accent";
    }
    if (s.names.invalid_utf8 > 0) o << ", " << s.names.invalid_utf8 << " texts with bad UTF-8";
    o << "\n";
    o << "  districts (code, name, roads, points of interest):\n";
    for (const DistrictLine& d : s.districts) {
        o << "    " << d.code << "  " << d.name << "  " << d.roads << "  " << d.pois << "\n";
    }
    if (!s.dropped.empty() || !s.written.refused.empty()) {
        o << "  left out:\n";
        for (const auto& [why, n] : s.dropped) o << "    " << n << "  " << why << "\n";
        for (const std::string& r : s.written.refused)
            o << "    refused by the writer: " << r << "\n";
    }
    return o.str();
}

}  // namespace kimport
