// sample.cpp: assembles the sample data set from the world and its roads (see sample.h).
//
// Steps: lay the roads; round them to whole metres; node them (a shared vertex wherever two
// roads meet); trim the stubs that ran past a junction; cut every road at tile borders, at
// name changes and at junctions about every kilometre into features; then add the areas,
// lines, place labels and coded points of each tile, the points of interest, the place
// catalogue, the base map and the track.
#include "sample.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <queue>
#include <set>
#include <stdexcept>

#include "geometry.h"
#include "names.h"
#include "rng.h"
#include "roads.h"
#include "world.h"

namespace ksample {
namespace {

// Budgets per tile, kept below the engine's capacities (10000 records, 100000 vertices, 5000
// names) so that every tile loads with room to spare.
constexpr int kRecordBudget = 9500;
constexpr int kVertexBudget = 95000;
constexpr int kNameBudget = 4800;
// A stub shorter than this beyond a road's last junction is an overshoot and is removed.
constexpr double kStubLength = 12;
// Largest signed-byte step of the delta coding, for vertex estimates.
constexpr int kDeltaReach = 127;
// Track sampling: one point every this many metres, with this much positional noise.
constexpr double kTrackStep = 15;
constexpr double kTrackNoise = 3;

P to_p(IPoint p) {
    return {double(p.x), double(p.y)};
}

bool absent(int32_t tile) {
    return std::find(std::begin(kAbsentTiles), std::end(kAbsentTiles), tile) !=
           std::end(kAbsentTiles);
}

bool in_extent(P p) {
    return p.x >= kExtentX0 && p.x < kExtentX1 && p.y >= kExtentY0 && p.y < kExtentY1;
}

// Whether a tile number lies in the covered area and is not one of the absent tiles.
bool present(int32_t tile) {
    const int32_t col = kestrel::data::tile_column(tile), row = kestrel::data::tile_row(tile);
    return col >= kExtentX0 / kTileSize && col < kExtentX1 / kTileSize &&
           row >= kExtentY0 / kTileSize && row < kExtentY1 / kTileSize && !absent(tile);
}

// Tiles of the covered area that get a file.
std::vector<int32_t> present_tiles() {
    std::vector<int32_t> tiles;
    for (int32_t row = kExtentY0 / kTileSize; row < kExtentY1 / kTileSize; ++row)
        for (int32_t col = kExtentX0 / kTileSize; col < kExtentX1 / kTileSize; ++col)
            if (!absent(kestrel::data::tile_number(row, col)))
                tiles.push_back(kestrel::data::tile_number(row, col));
    return tiles;
}

double length(const IPoly& line) {
    double sum = 0;
    for (size_t i = 1; i < line.size(); ++i) sum += dist(to_p(line[i - 1]), to_p(line[i]));
    return sum;
}

// Vertices a road will occupy once the writer has joined steps longer than a signed byte.
int stored_vertices(const IPoly& line) {
    int n = 1;
    for (size_t i = 1; i < line.size(); ++i) {
        const int reach =
            std::max(std::abs(line[i].x - line[i - 1].x), std::abs(line[i].y - line[i - 1].y));
        n += std::max(1, (reach + kDeltaReach - 1) / kDeltaReach);
    }
    return n;
}

// A road feature before conversion: its world points, type, UTF-8 name and district.
struct Piece {
    int32_t tile;
    int16_t type;
    IPoly points;
    std::string name;
    int16_t district;
};

// The Big5 form of a name, which must fit `limit` bytes; a name that does not fit is an error
// of the word lists, reported at once.
std::string big5(const std::string& utf8, size_t limit) {
    std::string b = to_big5(utf8);
    if (b.size() > limit)
        throw std::runtime_error("name longer than " + std::to_string(limit) + " bytes: " + utf8);
    return b;
}

class Assembler {
  public:
    explicit Assembler(uint64_t seed) : seed_(seed), world_(seed), rng_(seed ^ 0xA55A) {}

    Sample run();

  private:
    void make_roads();
    void make_pieces(const std::vector<IPoly>& lines, const std::vector<LogicalRoad>& roads);
    void fit_budgets();
    void make_areas_and_lines();
    void make_places();
    void make_coded_points();
    void make_pois();
    void make_catalogue(const std::vector<IPoly>& lines, const std::vector<LogicalRoad>& roads);
    void make_base_map();
    void make_track(const std::vector<IPoly>& lines, const std::vector<LogicalRoad>& roads);

    kdataset::Tile& tile(int32_t number) {
        kdataset::Tile& t = content_.tiles[number];
        t.number = number;
        return t;
    }
    void add_line(int16_t type, const Poly& line);
    void add_area(const Poly& polygon);
    void add_place(int16_t type, P at, const std::string& utf8);

    uint64_t seed_;
    World world_;
    Rng rng_;
    std::set<IPoint, PointLess> junctions_;
    std::vector<Poly> city_limit_, inner_borders_;  // district borders, traced once
    std::vector<Piece> pieces_;
    kdataset::DataSetContent content_;
    std::vector<IPoint> track_;
};

void Assembler::make_roads() {
    const std::vector<LogicalRoad> roads = lay_roads(world_, seed_ ^ 0x5EED);
    std::vector<IPoly> rounded;
    rounded.reserve(roads.size());
    for (const LogicalRoad& r : roads) rounded.push_back(round_line(r.line));
    Noded noded = node_lines(
        rounded, [&](size_t a, size_t b) { return may_meet(roads[a].type, roads[b].type); });

    // Trim the overshoots: a short stub beyond the first or last junction.
    std::vector<std::vector<int>> degree = vertex_degrees(noded.lines);
    for (size_t l = 0; l < noded.lines.size(); ++l) {
        IPoly& line = noded.lines[l];
        const std::vector<int>& deg = degree[l];
        size_t first = 0, last = line.size() - 1;
        for (size_t i = 0; i < line.size(); ++i)
            if (deg[i] >= 2) {
                if (i > 0 && length(IPoly(line.begin(), line.begin() + i + 1)) <= kStubLength)
                    first = i;
                break;
            }
        for (size_t i = line.size(); i-- > 0;)
            if (deg[i] >= 2) {
                if (i + 1 < line.size() &&
                    length(IPoly(line.begin() + i, line.end())) <= kStubLength)
                    last = i;
                break;
            }
        line = last > first ? IPoly(line.begin() + first, line.begin() + last + 1) : IPoly{};
    }
    degree = vertex_degrees(noded.lines);
    for (size_t l = 0; l < noded.lines.size(); ++l)
        for (size_t i = 0; i < noded.lines[l].size(); ++i)
            if (degree[l][i] >= 2) junctions_.insert(noded.lines[l][i]);
    make_pieces(noded.lines, roads);
    make_catalogue(noded.lines, roads);
    make_track(noded.lines, roads);
}

void Assembler::make_pieces(const std::vector<IPoly>& lines,
                            const std::vector<LogicalRoad>& roads) {
    for (size_t l = 0; l < lines.size(); ++l) {
        if (lines[l].size() < 2) continue;
        const LogicalRoad& road = roads[l];
        // Roads are cut into features of about this length, at a junction.
        const double target = road.type <= kExpressway    ? 2500
                              : road.type <= kSecondary   ? 1100
                              : road.type <= kMinorStreet ? 900
                                                          : 1e9;
        for (const CellPiece& cp : cut_at_cells(lines[l], kTileSize)) {
            if (!present(cp.cell)) continue;
            IPoly cur{cp.points[0]};
            std::string cur_name;
            double run = 0;
            auto flush = [&] {
                if (cur.size() >= 2) {
                    const P mid = cur.size() == 2 ? (to_p(cur[0]) + to_p(cur[1])) * 0.5
                                                  : to_p(cur[cur.size() / 2]);
                    const int16_t district =
                        world_.districts()[static_cast<size_t>(world_.district_index(mid))].code;
                    pieces_.push_back({cp.cell, road.type, cur, cur_name, district});
                }
            };
            for (size_t i = 1; i < cp.points.size(); ++i) {
                const P a = to_p(cp.points[i - 1]), b = to_p(cp.points[i]);
                const std::string name = road.name.at((a + b) * 0.5);
                if (cur.size() == 1) cur_name = name;
                if (name != cur_name && cur.size() >= 2) {
                    flush();
                    cur = {cp.points[i - 1]};
                    cur_name = name;
                    run = 0;
                }
                cur.push_back(cp.points[i]);
                run += dist(a, b);
                if (run >= target && i + 1 < cp.points.size() && junctions_.count(cp.points[i])) {
                    flush();
                    cur = {cp.points[i]};
                    run = 0;
                }
            }
            flush();
        }
    }
}

void Assembler::fit_budgets() {
    // Count what each tile will hold; drop lanes of over-full tiles (every other one, then
    // more) until the tile fits.
    std::map<int32_t, std::vector<size_t>> by_tile;
    for (size_t i = 0; i < pieces_.size(); ++i) by_tile[pieces_[i].tile].push_back(i);
    std::vector<char> dropped(pieces_.size(), 0);
    for (auto& [number, idx] : by_tile) {
        for (int round = 0; round < 8; ++round) {
            int records = 0, vertices = 0;
            std::set<std::string> names;
            for (size_t i : idx) {
                if (dropped[i]) continue;
                ++records;
                vertices += stored_vertices(pieces_[i].points);
                names.insert(pieces_[i].name);
            }
            const kdataset::Tile& t = content_.tiles[number];
            records += static_cast<int>(t.lines.size() + t.places.size() + t.coded.size());
            for (const auto& line : t.lines) vertices += static_cast<int>(line.points.size());
            if (records <= kRecordBudget && vertices <= kVertexBudget &&
                static_cast<int>(names.size()) <= kNameBudget)
                break;
            int k = 0;
            for (size_t i : idx)
                if (!dropped[i] && pieces_[i].type == kLane && (k++ % 2 == 0)) dropped[i] = 1;
        }
    }
    for (size_t i = 0; i < pieces_.size(); ++i) {
        if (dropped[i]) continue;
        const Piece& pc = pieces_[i];
        kdataset::Road road;
        road.type = pc.type;
        road.points = pc.points;
        road.name = pc.name.empty() ? std::string(" ") : big5(pc.name, kRoadNameBytes);
        road.district = pc.district;
        if (pc.type == kFreeway) road.code = "N1";
        if (pc.type == kExpressway) road.code = "X1";
        tile(pc.tile).roads.push_back(std::move(road));
    }
}

void Assembler::add_line(int16_t type, const Poly& line) {
    for (const CellPiece& cp : cut_at_cells(round_line(line), kTileSize)) {
        if (!present(cp.cell) || cp.points.size() < 2) continue;
        kdataset::LineFeature f;
        f.type = type;
        f.points = cp.points;
        tile(cp.cell).lines.push_back(std::move(f));
    }
}

void Assembler::add_area(const Poly& polygon) {
    for (int32_t number : present_tiles()) {
        const double x0 = kestrel::data::tile_west(number), y0 = kestrel::data::tile_south(number);
        const Poly part = clip_polygon(polygon, x0, y0, x0 + kTileSize, y0 + kTileSize);
        IPoly pts = round_line(part);
        while (pts.size() > 1 && pts.front() == pts.back()) pts.pop_back();
        if (pts.size() < 3) continue;
        kdataset::LineFeature f;
        f.type = 11;
        f.points = pts;
        tile(number).lines.push_back(std::move(f));
    }
}

void Assembler::add_place(int16_t type, P at, const std::string& utf8) {
    const int32_t number = cell_of(at.x, at.y, kTileSize);
    if (!present(number)) return;
    kdataset::NamedPoint p;
    p.type = type;
    p.at = {static_cast<int32_t>(std::lround(at.x)), static_cast<int32_t>(std::lround(at.y))};
    p.name = big5(utf8, kRoadNameBytes);
    tile(number).places.push_back(std::move(p));
}

void Assembler::make_areas_and_lines() {
    // Areas first: the sea, the rivers, the parks.
    add_area(world_.sea());
    for (const River& r : world_.rivers()) {
        Poly poly = offset_line(r.centre, r.half_width);
        Poly right = offset_line(r.centre, -r.half_width);
        poly.insert(poly.end(), right.rbegin(), right.rend());
        add_area(poly);
    }
    for (const Park& park : world_.parks()) add_area(park.outline);
    // Lines: coast and banks, city limit, district borders, railway, metro.
    add_line(12, world_.coast());
    for (const River& r : world_.rivers()) {
        if (r.half_width < 50) continue;
        add_line(12, offset_line(r.centre, r.half_width));
        add_line(12, offset_line(r.centre, -r.half_width));
    }
    for (const Poly& l : city_limit_) add_line(13, l);
    for (const Poly& l : inner_borders_) add_line(14, l);
    add_line(10, world_.railway());
    for (const Poly& m : world_.metro_lines()) add_line(15, m);
}

void Assembler::make_places() {
    Rng rng = rng_.fork(7);
    // District names, and neighbourhoods scattered over each district's land.
    for (size_t d = 0; d < world_.districts().size(); ++d) {
        const District& district = world_.districts()[d];
        add_place(21, district.seed, district.name);
        int placed = 0;
        for (int tries = 0; tries < 400 && placed < (district.urban ? 7 : 5); ++tries) {
            const P p = district.seed + P{rng.range(-6000, 6000), rng.range(-6000, 6000)};
            if (!in_extent(p) || !world_.on_land(p) ||
                world_.district_index(p) != static_cast<int>(d) || world_.water_distance(p) < 80)
                continue;
            add_place(22, p, neighbourhood_name(rng));
            ++placed;
        }
    }
    // Landmarks.
    const P c{kCentreX, kCentreY};
    add_place(23, world_.station() + P{40, 60}, "北河車站");
    add_place(23, c + P{5300, -2300}, "市政府");
    add_place(23, c + P{2400, -2500}, "中央公園");
    add_place(23, c + P{-1500, -1300}, "總統府");
    add_place(23, c + P{3600, -6900}, "北河大學");
    add_place(23, c + P{-900, 2900}, "市立美術館");
    add_place(23, c + P{5400, 900}, "市立體育館");
    add_place(23, c + P{-3900, -800}, "龍山寺");
    add_place(23, c + P{-1000, 14000}, "北港老街");
    add_place(23, c + P{15800, -11200}, "南山動物園");
    add_place(23, c + P{-4100, 4200}, "大稻埕碼頭");
    add_place(23, c + P{11200, 9700}, "科學園區");
    for (const Park& park : world_.parks())
        if (!park.name.empty() && park.name != "中央公園") {
            P sum{0, 0};
            for (const P& q : park.outline) sum = sum + q;
            add_place(23, sum * (1.0 / park.outline.size()), park.name);
        }
    // Minor places: schools, temples, markets and small parks, denser in the city.
    const char* const kinds[] = {"國小", "國中", "宮", "市場", "公園", "高中", "廟", "圖書館"};
    const auto& stems = place_stems();
    int placed = 0;
    for (int tries = 0; tries < 20000 && placed < 420; ++tries) {
        const P p{rng.range(kExtentX0, kExtentX1), rng.range(kExtentY0, kExtentY1)};
        const int zone = world_.zone_at(p);
        if (zone < 0 || !world_.on_land(p) || world_.water_distance(p) < 60) continue;
        if (!world_.zones()[static_cast<size_t>(zone)].core && !rng.chance(0.35)) continue;
        const std::string name =
            stems[static_cast<size_t>(rng.irange(0, static_cast<int>(stems.size()) - 1))] +
            kinds[rng.irange(0, static_cast<int>(std::size(kinds)) - 1)];
        add_place(24, p, name);
        ++placed;
    }
}

void Assembler::make_coded_points() {
    // Traffic signals where boulevards and arterials meet, bus stops along them.
    std::set<IPoint, PointLess> signals;
    for (const Piece& pc : pieces_) {
        if (pc.type != kBoulevard && pc.type != kArterial && pc.type != kSecondary) continue;
        double run = 0;
        for (size_t i = 1; i + 1 < pc.points.size(); ++i) {
            run += dist(to_p(pc.points[i - 1]), to_p(pc.points[i]));
            if (junctions_.count(pc.points[i]) && pc.type != kSecondary)
                signals.insert(pc.points[i]);
            if (run > 400) {
                run = 0;
                const int32_t number = cell_of(pc.points[i].x, pc.points[i].y, kTileSize);
                if (!present(number)) continue;
                kdataset::CodedPoint stop;
                stop.type = 32;
                stop.at = pc.points[i];
                stop.code = "BS";
                tile(number).coded.push_back(stop);
            }
        }
    }
    int k = 0;
    for (const IPoint& p : signals) {
        const int32_t number = cell_of(p.x, p.y, kTileSize);
        if (!present(number) || k++ % 3 != 0) continue;
        kdataset::CodedPoint sig;
        sig.type = 31;
        sig.at = p;
        sig.code = "TS";
        tile(number).coded.push_back(sig);
    }
}

void Assembler::make_pois() {
    Rng rng = rng_.fork(9);
    struct Category {
        int16_t code;
        double weight;
        std::vector<std::string> forms;  // "@" stands for a stem
    };
    const std::vector<Category> categories = {
        {1, 30, {"@小吃店", "@牛肉麵", "@餐廳", "@海鮮樓", "@便當", "Pasta @", "@火鍋", "@豆漿店"}},
        {2, 14, {"好鄰居超商@店", "OK Mart @店", "全日便利店@門市"}},
        {3, 8, {"長興銀行@分行", "第一信用合作社@", "北河銀行@分行"}},
        {4, 4, {"市立@國小", "私立@高中", "@幼兒園"}},
        {5, 6, {"@診所", "@牙醫診所", "@醫院", "@中醫診所"}},
        {6, 3, {"大眾加油站@站", "中油@站"}},
        {7, 5, {"@大飯店", "Hotel @", "@商務旅館"}},
        {8, 2, {"@派出所", "@消防分隊"}},
        {9, 3, {"@郵局", "北河@郵局"}},
        {10, 8, {"@停車場", "P1 @停車場"}},
        {11, 10, {"@咖啡", "Cafe 21 @", "@茶坊"}},
        {12, 7, {"@書局", "@藥局", "@眼鏡行", "@五金行"}},
    };
    double total = 0;
    for (const auto& c : categories) total += c.weight;
    const auto& stems = place_stems();
    int phone = 0;
    for (const Piece& pc : pieces_) {
        if (pc.type < kArterial || pc.points.size() < 2) continue;
        const P mid = to_p(pc.points[pc.points.size() / 2]);
        const int zone = world_.zone_at(mid);
        if (zone < 0) continue;
        const bool core = world_.zones()[static_cast<size_t>(zone)].core;
        const double density = (core ? 0.55 : 0.25) * (pc.type == kLane ? 0.35 : 1.0);
        double run = 0;
        for (size_t i = 1; i < pc.points.size(); ++i) {
            const P a = to_p(pc.points[i - 1]), b = to_p(pc.points[i]);
            run += dist(a, b);
            if (run < 90) continue;
            run = 0;
            if (!rng.chance(density)) continue;
            const P d = (b - a) * (1.0 / std::max(1.0, dist(a, b)));
            const double side = rng.chance(0.5) ? 1 : -1;
            const P at = b + P{-d.y, d.x} * (side * rng.range(14, 24));
            if (!present(cell_of(at.x, at.y, kTileSize)) || !world_.on_land(at) ||
                world_.water_distance(at) < 10)
                continue;
            double roll = rng.range(0, total);
            size_t ci = 0;
            while (ci + 1 < categories.size() && roll >= categories[ci].weight)
                roll -= categories[ci++].weight;
            const Category& cat = categories[ci];
            std::string form = cat.forms[static_cast<size_t>(
                rng.irange(0, static_cast<int>(cat.forms.size()) - 1))];
            const std::string& stem =
                stems[static_cast<size_t>(rng.irange(0, static_cast<int>(stems.size()) - 1))];
            form.replace(form.find('@'), 1, stem);
            kdataset::Poi poi;
            poi.at = {static_cast<int32_t>(std::lround(at.x)),
                      static_cast<int32_t>(std::lround(at.y))};
            poi.district = world_.districts()[static_cast<size_t>(world_.district_index(at))].code;
            poi.category = cat.code;
            poi.name = big5(form, kPoiNameBytes);
            if (!pc.name.empty() && rng.chance(0.6)) {
                // The address on the road it faces, and a telephone number.
                const std::string note =
                    pc.name + (pc.type == kLane ? "" : std::to_string(rng.irange(1, 360)) + "號") +
                    " (02)2" + std::to_string(100 + (phone * 37) % 900) + "-" +
                    std::to_string(1000 + (phone * 7919) % 9000);
                ++phone;
                if (big5_length(note) <= kPoiNoteBytes) poi.note = big5(note, kPoiNoteBytes);
            }
            content_.pois.push_back(std::move(poi));
        }
    }
}

void Assembler::make_catalogue(const std::vector<IPoly>& lines,
                               const std::vector<LogicalRoad>& roads) {
    using Kind = kdataset::CatalogueEntry::Kind;
    // Polylines: the freeway, the expressways, the ring road and the long main roads.
    for (size_t l = 0; l < lines.size(); ++l) {
        const int16_t t = roads[l].type;
        const bool main = t == kFreeway || t == kExpressway || roads[l].trunk;
        if (!main || lines[l].size() < 2) continue;
        kdataset::CatalogueEntry e;
        e.kind = Kind::Polyline;
        e.points = simplify(lines[l], 40);
        content_.catalogue.push_back(std::move(e));
    }
    auto label = [&](Kind kind, const std::string& utf8, P at) {
        kdataset::CatalogueEntry e;
        e.kind = kind;
        e.name = big5(utf8, kCatalogueNameBytes);
        e.points = {
            {static_cast<int32_t>(std::lround(at.x)), static_cast<int32_t>(std::lround(at.y))}};
        content_.catalogue.push_back(std::move(e));
    };
    // Cities of the island, then the districts and landmarks of the sample city.
    label(Kind::City, "北河市", {kCentreX, kCentreY + 1500});
    const struct {
        const char* name;
        double x, y;
    } cities[] = {{"竹城市", 251000, 2740000}, {"中原市", 220000, 2668000},
                  {"嘉禾市", 200000, 2598000}, {"南灣市", 212000, 2518000},
                  {"東岸市", 305000, 2650000}, {"宜海市", 326000, 2728000},
                  {"港口市", 327500, 2779500}};
    for (const auto& city : cities) label(Kind::City, city.name, {city.x, city.y});
    for (const District& d : world_.districts()) label(Kind::Point, d.name, d.seed);
    const P c{kCentreX, kCentreY};
    label(Kind::MinorPoint, "中央公園", c + P{2400, -2500});
    label(Kind::MinorPoint, "北河大學", c + P{3600, -6900});
    label(Kind::MinorPoint, "北港老街", c + P{-1000, 14000});
    label(Kind::MinorPoint, "南山動物園", c + P{15800, -11200});
    label(Kind::MinorPoint, "科學園區", c + P{11200, 9700});
}

void Assembler::make_base_map() {
    auto shape = [&](bool filled, uint32_t colour, uint32_t fill, int width, const Poly& pts) {
        kdataset::BaseMapShape s;
        s.filled = filled;
        s.colour = colour;
        s.fill = fill;
        s.width = width;
        s.points = simplify(round_line(pts), 60);
        content_.base_map.push_back(std::move(s));
    };
    constexpr uint32_t kSea = 0x00F0D8B0, kLand = 0x00DCF0F5, kCoast = 0x00A08060;
    constexpr uint32_t kUrban = 0x00D0DCF8, kRiver = 0x00E0A060, kBorder = 0x00909090,
                       kLimit = 0x00606060;
    constexpr uint32_t kHills = 0x00C0E0D0;
    shape(true, kSea, kSea, 1,
          {{kWorldX0, kWorldY0}, {kWorldX1, kWorldY0}, {kWorldX1, kWorldY1}, {kWorldX0, kWorldY1}});
    shape(true, kCoast, kLand, 1, world_.island());
    // The mountain spine of the island, as a shaded band inside the coast.
    Poly spine = spline({{330000, 2760000},
                         {318000, 2700000},
                         {300000, 2640000},
                         {282000, 2580000},
                         {262000, 2500000},
                         {250000, 2450000},
                         {238000, 2470000},
                         {250000, 2540000},
                         {262000, 2610000},
                         {285000, 2690000},
                         {305000, 2745000},
                         {330000, 2760000}},
                        2000);
    shape(true, kHills, kHills, 0, spine);
    Poly urban;
    for (const P& p : world_.ring())
        urban.push_back(P{kCentreX, kCentreY} + (p - P{kCentreX, kCentreY}) * 1.25);
    shape(true, kUrban, kUrban, 0, urban);
    for (const River& r : world_.rivers())
        shape(false, kRiver, 0, r.half_width > 150 ? 3 : r.half_width > 50 ? 2 : 1, r.centre);
    // Rivers elsewhere on the island, from the mountains to the west coast.
    Rng rng = rng_.fork(11);
    for (int i = 0; i < 9; ++i) {
        const double y = 2470000 + i * 32000;
        const double xs = 300000 - (2760000 - y) * 0.22;
        Poly controls{{xs, y}};
        for (int k = 1; k <= 5; ++k)
            controls.push_back({xs - k * 14000, y + rng.range(-5000, 5000) - k * 2500});
        Poly river;
        for (const P& p : spline(controls, 800)) {
            if (!inside(world_.island(), p)) break;
            river.push_back(p);
        }
        if (river.size() >= 2) shape(false, kRiver, 0, 2, river);
    }
    for (const Poly& l : inner_borders_) shape(false, kBorder, 0, 1, l);
    for (const Poly& l : city_limit_) shape(false, kLimit, 0, 2, l);
}

void Assembler::make_track(const std::vector<IPoly>& lines, const std::vector<LogicalRoad>& roads) {
    // Graph of the road network: nodes are distinct vertices, edges consecutive vertices,
    // weighted by travel time at a speed that suits the road type.
    static const double kSpeed[] = {0, 30, 22, 12, 16, 14, 12, 9, 8, 5};
    std::vector<IPoint> nodes;
    for (const IPoly& l : lines) nodes.insert(nodes.end(), l.begin(), l.end());
    std::sort(nodes.begin(), nodes.end(), PointLess());
    nodes.erase(std::unique(nodes.begin(), nodes.end(), [](IPoint a, IPoint b) { return a == b; }),
                nodes.end());
    auto id = [&](IPoint p) {
        return static_cast<int>(std::lower_bound(nodes.begin(), nodes.end(), p, PointLess()) -
                                nodes.begin());
    };
    std::vector<std::vector<std::pair<int, double>>> adj(nodes.size());
    for (size_t l = 0; l < lines.size(); ++l) {
        for (size_t i = 1; i < lines[l].size(); ++i) {
            const int a = id(lines[l][i - 1]), b = id(lines[l][i]);
            const double w = dist(to_p(lines[l][i - 1]), to_p(lines[l][i])) / kSpeed[roads[l].type];
            adj[static_cast<size_t>(a)].push_back({b, w});
            adj[static_cast<size_t>(b)].push_back({a, w});
        }
    }
    // Waypoints snap to the nearest vertex of a street-level road.
    auto snap = [&](P target) {
        int best = -1;
        double bd = 1e18;
        for (size_t l = 0; l < lines.size(); ++l) {
            if (roads[l].type < kBoulevard || roads[l].type > kMinorStreet) continue;
            for (const IPoint& p : lines[l]) {
                const double d = dist(to_p(p), target);
                if (d < bd) bd = d, best = id(p);
            }
        }
        return best;
    };
    auto route = [&](int from, int to) {
        std::vector<double> cost(nodes.size(), 1e300);
        std::vector<int> prev(nodes.size(), -1);
        std::priority_queue<std::pair<double, int>, std::vector<std::pair<double, int>>,
                            std::greater<>>
            q;
        cost[static_cast<size_t>(from)] = 0;
        q.push({0, from});
        while (!q.empty()) {
            auto [c, n] = q.top();
            q.pop();
            if (c > cost[static_cast<size_t>(n)]) continue;
            if (n == to) break;
            for (auto [m, w] : adj[static_cast<size_t>(n)])
                if (c + w < cost[static_cast<size_t>(m)]) {
                    cost[static_cast<size_t>(m)] = c + w;
                    prev[static_cast<size_t>(m)] = n;
                    q.push({c + w, m});
                }
        }
        std::vector<IPoint> path;
        for (int n = to; n >= 0; n = prev[static_cast<size_t>(n)]) {
            path.push_back(nodes[static_cast<size_t>(n)]);
            if (n == from) break;
        }
        std::reverse(path.begin(), path.end());
        return path;
    };
    const P waypoints[] = {{284300, 2757400},
                           {kCentreX - 2600, kCentreY - 900},
                           {kCentreX, kCentreY},
                           {kCentreX + 2300, kCentreY + 1600},
                           {kCentreX + 8200, kCentreY - 2800},
                           {318200, 2781700}};
    std::vector<IPoint> path;
    for (size_t w = 1; w < std::size(waypoints); ++w) {
        const int from = snap(waypoints[w - 1]), to = snap(waypoints[w]);
        if (from < 0 || to < 0) continue;  // no street-level road at all: nothing to drive on
        std::vector<IPoint> leg = route(from, to);
        if (!path.empty() && !leg.empty()) leg.erase(leg.begin());
        path.insert(path.end(), leg.begin(), leg.end());
    }
    // Positions about every 15 m along the route, each off by up to 3 m as a receiver's are.
    Rng rng = rng_.fork(13);
    double carry = 0;
    for (size_t i = 1; i < path.size(); ++i) {
        const P a = to_p(path[i - 1]), b = to_p(path[i]);
        const double len = dist(a, b);
        double s = carry;
        for (; s < len; s += kTrackStep) {
            const P p = a + (b - a) * (s / len);
            track_.push_back(
                {static_cast<int32_t>(std::lround(p.x + rng.range(-kTrackNoise, kTrackNoise))),
                 static_cast<int32_t>(std::lround(p.y + rng.range(-kTrackNoise, kTrackNoise)))});
        }
        carry = s - len;
    }
}

Sample Assembler::run() {
    // Every present tile gets a file, even one with nothing in it.
    for (int32_t number : present_tiles()) tile(number);
    world_.district_borders(&city_limit_, &inner_borders_);
    make_areas_and_lines();
    make_places();
    make_roads();
    make_coded_points();
    fit_budgets();
    make_pois();
    make_base_map();
    content_.tile_index = kdataset::derive_tile_index(content_.tiles);
    Sample sample;
    sample.content = std::move(content_);
    sample.track = std::move(track_);
    return sample;
}

}  // namespace

Sample build_sample(uint64_t seed) {
    return Assembler(seed).run();
}

std::string track_text(const std::vector<kdataset::WorldPoint>& track) {
    std::string out =
        "# Sample track: a drive from the south-western towns through the centre of the sample\n"
        "# city to the north-east. One point per line: xy, then world x and y in metres.\n";
    for (const auto& p : track)
        out += "xy " + std::to_string(p.x) + " " + std::to_string(p.y) + "\n";
    return out;
}

}  // namespace ksample
