// builder.cpp: a vector tile from the data set: the tile files that meet it, read once and
// kept projected for the next tiles; their features cut at the tile's buffer, rounded to the
// tile's units, simplified for its pixel size, lines of the same attributes joined; the layers
// written in order, within the byte limit.
#include <algorithm>
#include <cmath>
#include <list>
#include <unordered_map>

#include "data/limits.h"
#include "geometry.h"
#include "kmaps/vector/tile_builder.h"
#include "mvt_writer.h"
#include "rules.h"
#include "source.h"

namespace kmaps::vector {

namespace data = kestrel::data;
using geometry::IPoint;
using geometry::Parts;
using geometry::Point;

const std::vector<LayerInfo>& vector_layers() {
    static const std::vector<LayerInfo> layers = {
        {"areas", "Filled areas (parks, water)", {{"type", "Number", "area type (11)"}}},
        {"lines",
         "Lines other than roads: rail (10), rivers (12), borders (13, 14), coast (15)",
         {{"type", "Number", "line type, 10 to 20"}}},
        {"roads",
         "Roads, the pieces of one road with the same fields joined",
         {{"type", "Number", "road type, 1 to 9"},
          {"district", "Number", "district code"},
          {"code", "String", "road code"},
          {"name", "String", "road name, where the map writes road names"}}},
        {"overview", "The main roads of the place catalogue, drawn above the tiles' scale", {}},
        {"places",
         "Place names: labels of the tile files and entries of the place catalogue",
         {{"name", "String", "the name"},
          {"kind", "String", "label, city, point or minor"},
          {"type", "Number", "place label type, 21 to 24 (labels only)"}}},
        {"pois",
         "Points of interest",
         {{"category", "Number", "category"},
          {"name", "String", "name"},
          {"note", "String", "note"},
          {"district", "Number", "district code"}}},
    };
    return layers;
}

namespace {

constexpr int kLayerCount = static_cast<int>(Layer::count);
constexpr int kSquareSamples = 8;  // points a side of a tile square when it is projected

// A tile file's square as projected: where its features can lie, and the set's units a grid
// metre there.
struct TileBounds {
    std::int32_t tile;
    double minx, miny, maxx, maxy;
    double scale;
};

bool meets(double minx, double miny, double maxx, double maxy, const Box& b) {
    return minx <= b.maxx && maxx >= b.minx && miny <= b.maxy && maxy >= b.miny;
}

// One feature of the tile being written: its attributes are those of `src` in `tile` (or of
// the catalogue place), its geometry commands `count` from `first` in the commands array.
struct OutFeature {
    Layer layer;
    int rank;
    std::uint64_t id;
    GeomType type;
    const SourceFeature* src;
    const SourceTile* tile;
    const CataloguePlace* place;
    std::uint32_t first, count;
};

// Lines of one layer and the same attributes, to be joined and written as one feature.
struct LineGroup {
    Layer layer;
    int rank;
    std::uint64_t id;  // the least id of its pieces
    const SourceFeature* src;
    const SourceTile* tile;
    std::vector<std::uint32_t> pieces;
};

// The place of a piece's end in the joining of a group: the group, the end point, the piece
// and which end.
struct PieceEnd {
    std::uint32_t group;
    std::uint64_t point;
    std::uint32_t piece;
    std::uint8_t end;
    // NOLINTNEXTLINE(modernize-use-nullptr): clang-tidy takes the defaulted <=> for a 0 pointer
    auto operator<=>(const PieceEnd&) const = default;
};

std::uint64_t point_key(const IPoint& p) {
    return (std::uint64_t{static_cast<std::uint32_t>(p.x)} << 32) | static_cast<std::uint32_t>(p.y);
}

}  // namespace

struct TileBuilder::Impl {
    Impl(const DataSource& s, const Projection& p, BuildOptions o)
        : source(s.state()), projection(p), options(o) {}

    const DataSource::State& source;
    const Projection& projection;
    BuildOptions options;

    // The projected squares of the tile files, made on first use.
    bool bounds_ready = false;
    std::vector<TileBounds> bounds;
    double mean_scale = 1;
    // The catalogue, projected on first use.
    bool catalogue_ready = false;
    std::vector<double> place_xy;
    std::vector<std::vector<double>> line_xy;

    // Projected tile files, the most recently used first.
    std::list<std::shared_ptr<const SourceTile>> lru;
    ReadBuffers buffers;

    // The tile being built.
    Box box{};
    Box reach{};            // the box with the buffer
    double ux = 1, uy = 1;  // the set's units a tile unit
    geometry::Rect rect{};
    double tolerance = 0;
    double grid_res = 0;
    bool names = false;
    std::vector<std::shared_ptr<const SourceTile>> pinned;
    std::vector<OutFeature> features;
    std::vector<std::uint32_t> commands;
    Parts<IPoint> pieces;
    std::vector<LineGroup> groups;
    std::unordered_map<std::string, std::uint32_t> group_index;
    std::string key;
    BuildStats stats;

    // Scratch, reused.
    std::vector<Point> points;
    Parts<Point> in_rings, clipped;
    Parts<IPoint> rounded;
    std::vector<IPoint> simple;
    std::vector<PieceEnd> ends;
    std::vector<std::uint32_t> candidates;
    std::vector<std::int32_t> link;
    std::vector<char> used;
    std::vector<bool> holes;
    std::vector<int> owner;
    std::vector<IPoint> whole;
    std::vector<std::uint32_t> tags;
    LayerWriter writer;

    bool prepare_bounds(std::string& error);
    std::shared_ptr<const SourceTile> tile(std::int32_t number, std::string& error);
    bool project_catalogue(std::string& error);
    double scale_at(const Box& b);

    Point to_tile(double x, double y) const { return {(x - box.minx) / ux, (box.maxy - y) / uy}; }
    void add_tile_features(const SourceTile& t);
    void add_point(Layer layer, std::uint64_t id, int type, double x, double y,
                   const SourceFeature* src, const SourceTile* t, const CataloguePlace* place);
    void add_line(const double* xy, std::uint32_t count, Layer layer, int type, std::uint64_t id,
                  const SourceFeature* src, const SourceTile* t);
    void add_polygon(const SourceFeature& f, const SourceTile& t);
    void add_catalogue();
    void join_groups();
    void join_group(const LineGroup& g, std::vector<std::int32_t>& link, std::vector<char>& used);
    void write_tags(const OutFeature& f);
    void encode(int cutoff, std::string& out);
};

bool TileBuilder::Impl::prepare_bounds(std::string& error) {
    if (bounds_ready) return true;
    std::vector<double> xy;
    double sum = 0;
    for (std::int32_t t : source.tiles) {
        const double w = data::tile_west(t), s = static_cast<double>(data::tile_south_wide(t));
        const double side = data::TILE_SIZE_M;
        xy.clear();
        for (int k = 0; k <= kSquareSamples; ++k) {
            const double d = side * k / kSquareSamples;
            xy.insert(xy.end(),
                      {w + d, s, w + side, s + d, w + side - d, s + side, w, s + side - d});
        }
        if (!projection.forward(xy)) {
            error = "the tile files' squares cannot be projected into the tile set's system";
            return false;
        }
        TileBounds b{t, xy[0], xy[1], xy[0], xy[1], 1};
        for (std::size_t i = 0; i < xy.size(); i += 2) {
            b.minx = std::min(b.minx, xy[i]);
            b.maxx = std::max(b.maxx, xy[i]);
            b.miny = std::min(b.miny, xy[i + 1]);
            b.maxy = std::max(b.maxy, xy[i + 1]);
        }
        b.scale = ((b.maxx - b.minx) + (b.maxy - b.miny)) / (2 * side);
        sum += b.scale;
        bounds.push_back(b);
    }
    if (!bounds.empty()) mean_scale = sum / static_cast<double>(bounds.size());
    bounds_ready = true;
    return true;
}

double TileBuilder::Impl::scale_at(const Box& b) {
    double sum = 0;
    int n = 0;
    for (const TileBounds& t : bounds)
        if (meets(t.minx, t.miny, t.maxx, t.maxy, b)) {
            sum += t.scale;
            ++n;
        }
    return n > 0 ? sum / n : mean_scale;
}

std::shared_ptr<const SourceTile> TileBuilder::Impl::tile(std::int32_t number, std::string& error) {
    for (auto it = lru.begin(); it != lru.end(); ++it)
        if ((*it)->number == number) {
            lru.splice(lru.begin(), lru, it);
            return lru.front();
        }
    auto t = std::make_shared<SourceTile>();
    if (!read_source_tile(source, number, buffers, *t, error)) return nullptr;
    if (!projection.forward(t->xy)) {
        error = "tile file " + std::to_string(number) + " cannot be projected";
        return nullptr;
    }
    t->index();
    ++stats.files_read;
    lru.push_front(std::move(t));
    while (lru.size() > std::max<std::size_t>(options.cache_tiles, 1)) lru.pop_back();
    return lru.front();
}

bool TileBuilder::Impl::project_catalogue(std::string& error) {
    if (catalogue_ready) return true;
    place_xy.clear();
    for (const CataloguePlace& p : source.places) {
        place_xy.push_back(p.x);
        place_xy.push_back(p.y);
    }
    line_xy.clear();
    for (const CatalogueLine& l : source.lines) line_xy.emplace_back(l.xy.begin(), l.xy.end());
    bool ok = projection.forward(place_xy);
    for (auto& xy : line_xy) ok = ok && projection.forward(xy);
    if (!ok) {
        error = "the place catalogue cannot be projected into the tile set's system";
        return false;
    }
    catalogue_ready = true;
    return true;
}

void TileBuilder::Impl::add_point(Layer layer, std::uint64_t id, int type, double x, double y,
                                  const SourceFeature* src, const SourceTile* t,
                                  const CataloguePlace* place) {
    const Point p = to_tile(x, y);
    const IPoint q{static_cast<std::int32_t>(std::lround(std::clamp(p.x, -1.0, 1e6))),
                   static_cast<std::int32_t>(std::lround(std::clamp(p.y, -1.0, 1e6)))};
    // Points belong to the one tile that holds them: those in the buffer would be drawn twice.
    const auto extent = static_cast<std::int32_t>(options.extent);
    if (q.x < 0 || q.y < 0 || q.x >= extent || q.y >= extent) return;
    const auto first = static_cast<std::uint32_t>(commands.size());
    GeometryCommands(commands).point(q);
    features.push_back(OutFeature{layer, rules::drop_rank(layer, type), id, GeomType::point, src, t,
                                  place, first,
                                  static_cast<std::uint32_t>(commands.size()) - first});
}

void TileBuilder::Impl::add_line(const double* xy, std::uint32_t count, Layer layer, int type,
                                 std::uint64_t id, const SourceFeature* src, const SourceTile* t) {
    // Only the runs of segments that come near the tile are turned into tile units and cut: a
    // segment whose box lies a unit or more beyond the buffer on one side is one the cut drops,
    // and it ends the piece before it as the cut would.
    const double x0 = reach.minx - ux, x1 = reach.maxx + ux;
    const double y0 = reach.miny - uy, y1 = reach.maxy + uy;
    const auto near = [&](std::uint32_t k) {
        const double* a = xy + 2 * std::size_t{k};
        return std::max(a[0], a[2]) >= x0 && std::min(a[0], a[2]) <= x1 &&
               std::max(a[1], a[3]) >= y0 && std::min(a[1], a[3]) <= y1;
    };
    clipped.clear();
    for (std::uint32_t k = 0; k + 1 < count;) {
        if (!near(k)) {
            ++k;
            continue;
        }
        std::uint32_t end = k + 1;
        while (end + 1 < count && near(end)) ++end;
        points.clear();
        for (std::uint32_t j = k; j <= end; ++j)
            points.push_back(to_tile(xy[2 * static_cast<std::size_t>(j)],
                                     xy[2 * static_cast<std::size_t>(j) + 1]));
        geometry::clip_line(points, rect, clipped);
        k = end;
    }
    rounded.clear();
    geometry::round_parts(clipped, false, rounded);
    if (rounded.size() == 0) return;
    // The group of the same layer and attributes.
    key.assign(1, static_cast<char>(layer));
    key.append(reinterpret_cast<const char*>(&type), sizeof type);
    if (src != nullptr && layer == Layer::roads) {
        key.append(reinterpret_cast<const char*>(&src->district), sizeof src->district);
        key += t->texts[src->code];
        key += '\0';
        if (names) key += t->texts[src->name];
    }
    const auto [it, added] =
        group_index.try_emplace(key, static_cast<std::uint32_t>(groups.size()));
    if (added) groups.push_back(LineGroup{layer, rules::drop_rank(layer, type), id, src, t, {}});
    LineGroup& g = groups[it->second];
    g.id = std::min<std::uint64_t>(g.id, id);
    for (std::size_t i = 0; i < rounded.size(); ++i) {
        simple.clear();
        geometry::simplify(rounded.part(i), tolerance, false, simple);
        if (simple.size() < 2) continue;
        g.pieces.push_back(static_cast<std::uint32_t>(pieces.size()));
        pieces.points.insert(pieces.points.end(), simple.begin(), simple.end());
        pieces.close_part();
    }
}

void TileBuilder::Impl::add_polygon(const SourceFeature& f, const SourceTile& t) {
    in_rings.clear();
    for (std::uint32_t r = 0; r < f.rings; ++r) {
        for (std::uint32_t k = t.ring_at[f.first_ring + r]; k < t.ring_at[f.first_ring + r + 1];
             ++k)
            in_rings.points.push_back(to_tile(t.xy[2 * static_cast<std::size_t>(k)],
                                              t.xy[2 * static_cast<std::size_t>(k) + 1]));
        in_rings.close_part();
    }
    clipped.clear();
    geometry::clip_polygon(in_rings, rect, clipped);
    // Each ring rounded and simplified, kept only while it stays simple and wound as before.
    rounded.clear();
    holes.clear();
    for (std::size_t i = 0; i < clipped.size(); ++i) {
        const double area = geometry::ring_area2(clipped.part(i));
        if (area == 0) continue;
        whole.clear();
        if (!geometry::round_ring(clipped.part(i), whole)) continue;  // less than a unit
        simple.clear();
        geometry::simplify(whole, tolerance, true, simple);
        const auto good = [&](const std::vector<IPoint>& r) {
            const std::int64_t a = geometry::ring_area2(r);
            return (a > 0) == (area > 0) && a != 0 && geometry::ring_is_simple(r);
        };
        const std::vector<IPoint>* kept = good(simple) ? &simple : good(whole) ? &whole : nullptr;
        if (kept == nullptr) {
            ++stats.bad_rings;
            continue;
        }
        rounded.points.insert(rounded.points.end(), kept->begin(), kept->end());
        rounded.close_part();
        holes.push_back(area < 0);
    }
    // Each exterior followed by its holes: a hole goes to the smallest exterior holding it.
    owner.assign(rounded.size(), -1);
    for (std::size_t h = 0; h < rounded.size(); ++h) {
        if (!holes[h]) continue;
        const IPoint& p = rounded.part(h)[0];
        std::int64_t best = 0;
        for (std::size_t e = 0; e < rounded.size(); ++e) {
            if (holes[e]) continue;
            const std::int64_t a = geometry::ring_area2(rounded.part(e));
            if ((owner[h] < 0 || a < best) &&
                geometry::point_in_ring({p.x + 0.0, p.y + 0.0}, rounded.part(e))) {
                owner[h] = static_cast<int>(e);
                best = a;
            }
        }
        if (owner[h] < 0) ++stats.bad_rings;
    }
    const auto first = static_cast<std::uint32_t>(commands.size());
    GeometryCommands cmd(commands);
    for (std::size_t e = 0; e < rounded.size(); ++e) {
        if (holes[e]) continue;
        cmd.ring(rounded.part(e));
        for (std::size_t h = 0; h < rounded.size(); ++h)
            if (owner[h] == static_cast<int>(e)) cmd.ring(rounded.part(h));
    }
    if (commands.size() == first) return;
    features.push_back(OutFeature{Layer::areas, rules::drop_rank(Layer::areas, f.type),
                                  static_cast<std::uint64_t>(f.id), GeomType::polygon, &f, &t,
                                  nullptr, first,
                                  static_cast<std::uint32_t>(commands.size()) - first});
}

void TileBuilder::Impl::add_tile_features(const SourceTile& t) {
    t.candidates(reach.minx, reach.miny, reach.maxx, reach.maxy, candidates);
    for (std::uint32_t i : candidates) {
        const SourceFeature& f = t.features[i];
        if (!meets(f.minx, f.miny, f.maxx, f.maxy, reach)) continue;
        const double* xy = t.xy.data() + 2 * std::size_t{f.first};
        const auto id = static_cast<std::uint64_t>(f.id);
        switch (f.layer) {
            case Layer::places:
                if (rules::place_label_shown(f.type, grid_res))
                    add_point(Layer::places, id, f.type, xy[0], xy[1], &f, &t, nullptr);
                break;
            case Layer::pois:
                add_point(Layer::pois, id, f.type, xy[0], xy[1], &f, &t, nullptr);
                break;
            case Layer::areas:
                add_polygon(f, t);
                break;
            default:
                add_line(xy, f.count, f.layer, f.type, id, &f, &t);
                break;
        }
    }
}

void TileBuilder::Impl::add_catalogue() {
    for (std::size_t i = 0; i < line_xy.size(); ++i)
        if (line_xy[i].size() >= 4)
            add_line(line_xy[i].data(), static_cast<std::uint32_t>(line_xy[i].size() / 2),
                     Layer::overview, 0, static_cast<std::uint64_t>(source.lines[i].id), nullptr,
                     nullptr);
    for (std::size_t i = 0; i < source.places.size(); ++i) {
        const CataloguePlace& p = source.places[i];
        if (rules::catalogue_label_shown(p.kind, grid_res) && !p.name.empty())
            add_point(Layer::places, static_cast<std::uint64_t>(p.id), 0, place_xy[2 * i],
                      place_xy[2 * i + 1], nullptr, nullptr, &p);
    }
}

void TileBuilder::Impl::join_groups() {
    // Where exactly two pieces of a group end at the same point, they are joined there.
    ends.clear();
    for (std::uint32_t g = 0; g < groups.size(); ++g)
        for (std::uint32_t p : groups[g].pieces) {
            const auto part = pieces.part(p);
            ends.push_back(PieceEnd{g, point_key(part.front()), p, 0});
            ends.push_back(PieceEnd{g, point_key(part.back()), p, 1});
        }
    std::sort(ends.begin(), ends.end());
    link.assign(2 * pieces.size(), -1);  // 2 * piece + end: the end it meets
    for (std::size_t i = 0; i < ends.size();) {
        std::size_t j = i + 1;
        while (j < ends.size() && ends[j].group == ends[i].group && ends[j].point == ends[i].point)
            ++j;
        if (j - i == 2 && ends[i].piece != ends[i + 1].piece) {
            const auto a = static_cast<std::int32_t>(2 * ends[i].piece + ends[i].end);
            const auto b = static_cast<std::int32_t>(2 * ends[i + 1].piece + ends[i + 1].end);
            link[static_cast<std::size_t>(a)] = b;
            link[static_cast<std::size_t>(b)] = a;
        }
        i = j;
    }
    used.assign(pieces.size(), 0);
    for (const LineGroup& g : groups) join_group(g, link, used);
}

void TileBuilder::Impl::join_group(const LineGroup& g, std::vector<std::int32_t>& link,
                                   std::vector<char>& used) {
    const auto first = static_cast<std::uint32_t>(commands.size());
    GeometryCommands cmd(commands);
    // Chains that start at a free end first, then the closed ones.
    for (int pass = 0; pass < 2; ++pass)
        for (std::uint32_t start : g.pieces) {
            if (used[start]) continue;
            const bool free0 = link[2 * static_cast<std::size_t>(start)] < 0,
                       free1 = link[2 * static_cast<std::size_t>(start) + 1] < 0;
            if (pass == 0 && !free0 && !free1) continue;
            std::uint32_t p = start;
            int from = pass == 0 && !free0 ? 1 : 0;  // the end the walk enters the piece by
            simple.clear();
            for (;;) {
                used[p] = 1;
                const auto part = pieces.part(p);
                const std::size_t skip = simple.empty() ? 0 : 1;  // the joint is there already
                if (from == 0)
                    simple.insert(simple.end(), part.begin() + skip, part.end());
                else
                    simple.insert(simple.end(), part.rbegin() + skip, part.rend());
                const std::int32_t next = link[2 * p + (1 - from)];
                if (next < 0 || used[static_cast<std::uint32_t>(next) / 2]) break;
                p = static_cast<std::uint32_t>(next) / 2;
                from = next % 2;
            }
            cmd.line(simple);
        }
    if (commands.size() == first) return;
    features.push_back(OutFeature{g.layer, g.rank, g.id, GeomType::linestring, g.src, g.tile,
                                  nullptr, first,
                                  static_cast<std::uint32_t>(commands.size()) - first});
}

void TileBuilder::Impl::write_tags(const OutFeature& f) {
    tags.clear();
    auto text = [&](std::string_view k, std::string_view v) {
        if (v.empty()) return;
        tags.push_back(writer.key(k));
        tags.push_back(writer.text(v));
    };
    auto number = [&](std::string_view k, std::int64_t v) {
        tags.push_back(writer.key(k));
        tags.push_back(writer.integer(v));
    };
    if (f.place != nullptr) {  // an entry of the catalogue
        text("name", f.place->name);
        text("kind", f.place->kind == data::PLACE_CITY    ? kKindCity
                     : f.place->kind == data::PLACE_POINT ? kKindPoint
                                                          : kKindMinor);
        return;
    }
    if (f.src == nullptr) return;
    const SourceFeature& s = *f.src;
    const auto& texts = f.tile->texts;
    switch (f.layer) {
        case Layer::roads:
            number("type", s.type);
            number("district", s.district);
            text("code", texts[s.code]);
            if (names) text("name", texts[s.name]);
            break;
        case Layer::places:
            text("name", texts[s.name]);
            text("kind", texts[s.kind]);
            number("type", s.type);
            break;
        case Layer::pois:
            number("category", s.type);
            text("name", texts[s.name]);
            text("note", texts[s.note]);
            number("district", s.district);
            break;
        default:
            number("type", s.type);
            break;
    }
}

void TileBuilder::Impl::encode(int cutoff, std::string& out) {
    out.clear();
    stats.features = 0;
    stats.dropped_features = 0;
    protozero::pbf_writer tile(out);
    for (int layer = 0; layer < kLayerCount; ++layer) {
        bool open = false;
        for (const OutFeature& f : features) {
            if (static_cast<int>(f.layer) != layer) continue;
            if (f.rank < cutoff) {
                ++stats.dropped_features;
                continue;
            }
            if (!open) {
                writer.begin(tile, vector_layers()[static_cast<std::size_t>(layer)].id,
                             options.extent);
                open = true;
            }
            write_tags(f);
            writer.feature(f.id, f.type, tags,
                           std::span<const std::uint32_t>(commands.data() + f.first, f.count));
            ++stats.features;
        }
        if (open) writer.end();
    }
}

TileBuilder::TileBuilder(const DataSource& source, const Projection& projection,
                         BuildOptions options)
    : impl_(std::make_unique<Impl>(source, projection, options)) {}

TileBuilder::~TileBuilder() = default;

double TileBuilder::grid_resolution(const Box& box, double resolution) const {
    std::string error;
    if (!impl_->prepare_bounds(error)) return resolution;
    return resolution / impl_->scale_at(box);
}

bool TileBuilder::preload(const Box& box, std::string& error) {
    Impl& m = *impl_;
    if (!m.prepare_bounds(error) || !m.project_catalogue(error)) return false;
    std::size_t kept = 0;
    for (const TileBounds& b : m.bounds) {
        if (kept == m.options.cache_tiles) break;
        if (!meets(b.minx, b.miny, b.maxx, b.maxy, box)) continue;
        if (!m.tile(b.tile, error)) return false;
        ++kept;
    }
    return true;
}

bool TileBuilder::build(const Box& box, double resolution, std::string& out, std::string& error,
                        BuildStats* stats) {
    out.clear();
    Impl& m = *impl_;
    const double width = box.maxx - box.minx, height = box.maxy - box.miny;
    const double pixels = width / resolution;
    if (!std::isfinite(box.minx) || !std::isfinite(box.maxx) || !std::isfinite(box.miny) ||
        !std::isfinite(box.maxy) || !(width > 0) || !(height > 0) || !(resolution > 0) ||
        !(pixels >= 1 && pixels <= 65536)) {
        error =
            "a vector tile needs a box of positive size and a resolution of 1 to 65536 "
            "pixels a side";
        return false;
    }
    if (m.options.extent < 16 || m.options.extent > (1u << 20) ||
        m.options.buffer > m.options.extent) {
        error = "the tile's extent must be 16 to 2^20 units, its buffer at most the extent";
        return false;
    }
    m.stats = BuildStats{};
    if (!m.prepare_bounds(error)) return false;
    const double extent = m.options.extent, buffer = m.options.buffer;
    m.box = box;
    m.ux = width / extent;
    m.uy = height / extent;
    m.rect = {-buffer, -buffer, extent + buffer, extent + buffer};
    m.reach = {box.minx - buffer * m.ux, box.miny - buffer * m.uy, box.maxx + buffer * m.ux,
               box.maxy + buffer * m.uy};
    m.tolerance = m.options.simplify_pixels * extent / pixels;
    m.grid_res = resolution / m.scale_at(box);
    m.names = m.grid_res <= rules::kRoadNamesMax;
    m.features.clear();
    m.commands.clear();
    m.pieces.clear();
    m.groups.clear();
    empty_map(m.group_index);
    m.pinned.clear();
    if (m.grid_res > rules::kTileModeMax) {
        m.stats.catalogue = true;
        if (!m.project_catalogue(error)) return false;
        m.add_catalogue();
    } else {
        for (const TileBounds& b : m.bounds) {
            if (!meets(b.minx, b.miny, b.maxx, b.maxy, m.reach)) continue;
            auto t = m.tile(b.tile, error);
            if (!t) return false;
            ++m.stats.data_tiles;
            m.pinned.push_back(t);
            m.add_tile_features(*t);
        }
    }
    m.join_groups();
    int cutoff = 0;
    m.encode(cutoff, out);
    while (out.size() > m.options.max_bytes && cutoff < rules::kDropRanks) m.encode(++cutoff, out);
    m.stats.dropped_classes = cutoff;
    m.pinned.clear();
    if (stats != nullptr) *stats = m.stats;
    return true;
}

}  // namespace kmaps::vector
