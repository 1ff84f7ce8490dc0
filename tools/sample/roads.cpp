// roads.cpp: the road network of the sample city (see roads.h).
#include "roads.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "names.h"
#include "rng.h"

namespace ksample {
namespace {

constexpr double kPi = std::numbers::pi;
// Roads that end on another road run this far past it, so that noding finds the junction; the
// stub beyond the junction is trimmed afterwards.
constexpr double kOvershoot = 8;
// Sample spacing of grid lines before warping, metres.
constexpr double kGridStep = 100;
// Streets keep this far from a river bank (the river roads run there).
constexpr double kBankMargin = 64;

P unit(P d) {
    const double l = std::hypot(d.x, d.y);
    return l > 0 ? d * (1.0 / l) : P{1, 0};
}

// Extends both ends of a line by `by` metres along its end segments.
Poly extend(Poly line, double by) {
    if (line.size() < 2) return line;
    line.front() = line.front() + unit(line[0] - line[1]) * by;
    const size_t n = line.size();
    line.back() = line.back() + unit(line[n - 1] - line[n - 2]) * by;
    return line;
}

// Section word of the n-th section (1-based).
std::string section_word(int n) {
    const auto& words = section_words();
    return words[static_cast<size_t>(std::clamp(n, 1, static_cast<int>(words.size()))) - 1];
}

class Builder {
  public:
    Builder(const World& world, uint64_t seed) : world_(world), rng_(seed) {}

    std::vector<LogicalRoad> build();

  private:
    struct Grid;
    // A zone's street grid: its lines of both families, then lanes and alleys in its blocks.
    void grid(const Zone& zone);
    // The world point at grid coordinates (u, v), warped as every street grid is.
    P grid_point(const Grid& g, double u, double v) const;
    // The name and type of line k of a family (0: lines of constant u, 1: of constant v).
    RoadName grid_line_name(Grid& g, int family, int k, int16_t* type);
    void grid_lines(Grid& g);
    void grid_lanes(Grid& g);
    // A lane's name: its parent line's name at `start` with a house number (odd on one side,
    // even on the other), or none; `parent` indexes `parents`.
    RoadName lane_name(const std::vector<RoadName>& parents, size_t parent, P start, bool from_low,
                       Rng& rng);
    void perimeter(const Zone& zone, int16_t type, const std::string& stem);
    void ring();
    void river_roads();
    void radials();
    void connectors();
    void freeway_and_expressways();
    void ramps(size_t highway);
    void rural();

    // Adds a lane (or alley) from its parent road, in the parts that `keep` accepts.
    void add_lane(const Poly& lane, const RoadName& name, bool through,
                  const std::function<bool(P)>& keep);
    // Adds the parts of `line` that `keep` accepts, each extended past its cut ends.
    void add(int16_t type, const Poly& line, const RoadName& name,
             const std::function<bool(P)>& keep, double min_length, bool extend_ends = true,
             bool trunk = false);
    bool land_ok(P p, int16_t type) const {
        if (!world_.on_land(p)) return false;
        if (p.x < kExtentX0 || p.x > kExtentX1 || p.y < kExtentY0 || p.y > kExtentY1) return false;
        if (type > kArterial && world_.water_distance(p) < kBankMargin) return false;
        if (type >= kStreet && world_.in_park(p)) return false;
        return true;
    }

    const World& world_;
    Rng rng_;
    std::vector<LogicalRoad> roads_;
};

void Builder::add(int16_t type, const Poly& line, const RoadName& name,
                  const std::function<bool(P)>& keep, double min_length, bool extend_ends,
                  bool trunk) {
    for (Poly& run : keep_runs(line, keep, min_length)) {
        LogicalRoad road;
        road.type = type;
        road.line = extend_ends ? extend(std::move(run), kOvershoot) : std::move(run);
        road.name = name;
        road.trunk = trunk;
        roads_.push_back(std::move(road));
    }
}

// A zone's street grid while it is laid out: the zone, its axes, how far the grid reaches, the
// grid's own random stream (forked per zone, so zones never disturb each other's streets) and
// the names of its lines, which the lanes take their house numbers from.
struct Builder::Grid {
    const Zone& zone;
    Rng rng;
    P e1, e2;      // the grid's axes: lines of constant u run along e2, of constant v along e1
    double reach;  // metres from the centre to the grid's last lines
    int K;         // lines -K .. K of each family
    std::vector<RoadName> names[2];
};

void Builder::grid(const Zone& zone) {
    const double reach = zone.id == 0 ? 12500 : zone.radius * 1.9;
    Grid g{zone,
           rng_.fork(1000 + zone.id),
           P{std::cos(zone.angle), std::sin(zone.angle)},
           P{-std::sin(zone.angle), std::cos(zone.angle)},
           reach,
           static_cast<int>(std::ceil(reach / zone.street)),
           {}};
    grid_lines(g);
    grid_lanes(g);
}

P Builder::grid_point(const Grid& g, double u, double v) const {
    return world_.warp(g.zone.centre + g.e1 * u + g.e2 * v);
}

RoadName Builder::grid_line_name(Grid& g, int family, int k, int16_t* type) {
    const Zone& zone = g.zone;
    const size_t nstems = zone.stems.size();
    RoadName name;
    const int ak = ((k % zone.arterial_every) + zone.arterial_every) % zone.arterial_every;
    const int sk = ((k % zone.secondary_every) + zone.secondary_every) % zone.secondary_every;
    const int group = static_cast<int>(std::floor(double(k) / zone.arterial_every));
    const std::string& stem = zone.stems[static_cast<size_t>(
        ((group * 7 + family * 31) % static_cast<int>(nstems) + static_cast<int>(nstems)) %
        static_cast<int>(nstems))];
    if (ak == 0) {
        *type = (((group % 3) + 3) % 3 == 0) ? kBoulevard : kArterial;
        name.stem = stem;
        name.suffix = "路";
        if (zone.core) {
            name.mode = family == 0 ? RoadName::NorthSouth : RoadName::EastWest;
            name.origin = {kCentreX, kCentreY};
            name.section = zone.id == 1 ? 1200 : 1700;
        } else {
            // Every town has its own 中正路 and 中山路 on its main cross.
            if (group == 0) name.stem = family == 0 ? "中正" : "中山";
            name.mode = RoadName::Sections;
            name.origin = zone.centre;
            name.section = 1500;
        }
    } else if (sk == 0) {
        *type = kSecondary;
        const std::string& other = zone.stems[static_cast<size_t>(
            ((k * 13 + family * 5 + 3) % static_cast<int>(nstems) + static_cast<int>(nstems)) %
            static_cast<int>(nstems))];
        name.stem = other;
        name.suffix = "路";
        name.mode = RoadName::Sections;
        name.origin = zone.centre;
        name.section = 2000;
    } else {
        *type = g.rng.chance(0.55) ? kStreet : kMinorStreet;
        name.mode = RoadName::Fixed;
        // Streets between two arterials share the stem of the lower one and are numbered.
        name.fixed = stem + chinese_number(ak) + "街";
        if (g.rng.chance(0.06)) name.fixed.clear();
    }
    return name;
}

void Builder::grid_lines(Grid& g) {
    const Zone& zone = g.zone;
    const double s = zone.street;
    auto mine = [&](P p) { return world_.zone_at(p) == zone.id; };
    for (int family = 0; family < 2; ++family) {
        for (int k = -g.K; k <= g.K; ++k) {
            int16_t type = kStreet;
            RoadName name = grid_line_name(g, family, k, &type);
            g.names[family].push_back(name);
            Poly line;
            for (double t = -g.reach; t <= g.reach + 1e-9; t += kGridStep)
                line.push_back(family == 0 ? grid_point(g, k * s, t) : grid_point(g, t, k * s));
            // Minor roads thin out where the zone is less built up, so the grid frays at its edges.
            const double need = type <= kArterial    ? 0.03
                                : type == kSecondary ? 0.15
                                : type == kStreet    ? 0.3
                                                     : 0.4;
            add(
                type, line, name,
                [&](P p) {
                    return mine(p) && land_ok(p, type) && world_.density(p, zone.id) > need;
                },
                60);
        }
    }
}

void Builder::grid_lanes(Grid& g) {
    const Zone& zone = g.zone;
    const double s = zone.street;
    const int K = g.K;
    Rng& rng = g.rng;
    auto mine = [&](P p) { return world_.zone_at(p) == zone.id; };
    for (int i = -K; i < K; ++i) {
        for (int j = -K; j < K; ++j) {
            const P mid = grid_point(g, (i + 0.5) * s, (j + 0.5) * s);
            if (!mine(mid) || !land_ok(mid, kLane)) continue;
            const double p = zone.lane_density * world_.density(mid, zone.id);
            if (!rng.chance(p)) continue;
            const int dir = rng.irange(0, 1);  // 0: lanes run along v (from line u=i*s)
            const int n = std::max(1, static_cast<int>(std::floor(s / zone.lane)) - 1);
            for (int t = 0; t < n; ++t) {
                if (rng.chance(0.12)) continue;
                const double across = (t + 1) * s / (n + 1) + rng.range(-6, 6);
                const bool through = rng.chance(0.55);
                const bool from_low = rng.chance(0.5);
                const double len = through ? s : s * rng.range(0.4, 0.75);
                const double a0 = from_low ? 0 : s, a1 = from_low ? len : s - len;
                const double wobble = rng.range(-5, 5);
                // Lane in block-local coordinates (along, across), then to world.
                auto at = [&](double along, double off) {
                    const double base_a = (dir == 0 ? j : i) * s, base_c = (dir == 0 ? i : j) * s;
                    const double a = base_a + along, c = base_c + off;
                    return dir == 0 ? grid_point(g, c, a) : grid_point(g, a, c);
                };
                Poly lane{at(a0, across), at((a0 + a1) / 2, across + wobble), at(a1, across)};
                // Parent street: the grid line the lane starts from.
                const int pk = (dir == 0 ? j : i) + (from_low ? 0 : 1);
                const int pfamily = dir == 0 ? 1 : 0, parent = pk + K;
                const RoadName name = lane_name(g.names[pfamily], static_cast<size_t>(parent),
                                                lane.front(), from_low, rng);
                add_lane(lane, name, through, [&](P q) { return mine(q) && land_ok(q, kLane); });
                // Alleys off the lane, short dead ends between it and its neighbours.
                const double gap = s / (n + 1);
                for (int k = 0; k < 2; ++k) {
                    if (!rng.chance(zone.core ? 0.45 : 0.25)) continue;
                    const double f = a0 + (a1 - a0) * rng.range(0.25, 0.85);
                    const double side = rng.chance(0.5) ? 1 : -1;
                    const Poly alley{at(f, across),
                                     at(f, across + side * gap * rng.range(0.35, 0.75))};
                    RoadName aname;
                    if (!name.fixed.empty()) {
                        const std::string full =
                            name.fixed + std::to_string(k * 4 + rng.irange(1, 4)) + "弄";
                        if (big5_length(full) <= kRoadNameBytes) aname.fixed = full;
                    }
                    add_lane(alley, aname, false,
                             [&](P q) { return mine(q) && land_ok(q, kLane); });
                }
            }
        }
    }
}

RoadName Builder::lane_name(const std::vector<RoadName>& parents, size_t parent, P start,
                            bool from_low, Rng& rng) {
    RoadName name;
    if (parent < parents.size() && rng.chance(0.85)) {
        const std::string pname = parents[parent].at(start);
        if (!pname.empty()) {
            // House numbers every 8 m along the parent; odd on one side, even on the other.
            int number = static_cast<int>(parents[parent].offset_in_section(start) / 8) + 1;
            if ((number % 2 == 0) != from_low) ++number;
            const std::string full = pname + std::to_string(number) + "巷";
            if (big5_length(full) <= kRoadNameBytes) name.fixed = full;
        }
    }
    return name;
}

void Builder::add_lane(const Poly& lane, const RoadName& name, bool through,
                       const std::function<bool(P)>& keep) {
    LogicalRoad road;
    road.type = kLane;
    road.name = name;
    // The lane starts on its parent road; a through lane also reaches the far one.
    for (Poly& run : keep_runs(lane, keep, 20)) {
        run.front() = run.front() + unit(run[0] - run[1]) * kOvershoot;
        if (through) {
            const size_t m = run.size();
            run.back() = run.back() + unit(run[m - 1] - run[m - 2]) * kOvershoot;
        }
        road.line = std::move(run);
        roads_.push_back(road);
    }
}

// The closed boundary of a zone (as zone_at draws it) as a road with compass names.
void Builder::perimeter(const Zone& zone, int16_t type, const std::string& stem) {
    Poly line;
    for (int a = 0; a <= 180; ++a) {
        const double ang = 2 * kPi * (a % 180) / 180;
        const P dir{std::cos(ang), std::sin(ang)};
        double lo = 0, hi = zone.radius * 1.6;
        for (int it = 0; it < 30; ++it) {
            const double mid = (lo + hi) / 2;
            (world_.zone_at(zone.centre + dir * mid) == zone.id ? lo : hi) = mid;
        }
        line.push_back(zone.centre + dir * lo);
    }
    RoadName name;
    name.mode = RoadName::Compass;
    name.stem = stem;
    name.suffix = "路";
    name.origin = zone.centre;
    add(
        type, line, name, [&](P p) { return world_.inside_ring(p) && land_ok(p, type); }, 100);
}

void Builder::ring() {
    RoadName name;
    name.mode = RoadName::Compass;
    name.stem = "環城";
    name.suffix = "路";
    name.origin = {kCentreX, kCentreY};
    add(
        kBoulevard, world_.ring(), name, [&](P p) { return land_ok(p, kBoulevard); }, 100, false,
        true);
}

void Builder::river_roads() {
    const P centre{kCentreX, kCentreY};
    for (size_t r = 0; r < world_.rivers().size(); ++r) {
        const River& river = world_.rivers()[r];
        if (river.half_width < 50) continue;  // the creek has no bank roads
        const Poly left = offset_line(river.centre, river.half_width + 60);
        const Poly right = offset_line(river.centre, -(river.half_width + 60));
        // The bank nearer the centre carries the river road, the other bank the expressway.
        const bool left_near = distance_to(left, centre) < distance_to(right, centre);
        const Poly& near = left_near ? left : right;
        const Poly& far = left_near ? right : left;
        RoadName name;
        if (r == 0) {
            name.mode = RoadName::NorthSouth;
            name.stem = "環河";
            name.suffix = "路";
            name.origin = centre;
            name.section = 2200;
            add(
                kArterial, near, name,
                [&](P p) { return land_ok(p, kArterial) && dist(p, centre) < 19000; }, 200, true,
                true);
            RoadName xname;
            xname.fixed = "環河快速道路";
            add(
                kExpressway, far, xname,
                [&](P p) { return land_ok(p, kExpressway) && dist(p, centre) < 15000; }, 500,
                false);
        } else {
            name.mode = RoadName::Sections;
            name.stem = "濱江";
            name.suffix = "路";
            name.origin = river.centre.back();
            name.section = 2500;
            add(
                kSecondary, near, name, [&](P p) { return land_ok(p, kSecondary); }, 200);
            RoadName other;
            other.fixed = "東溪堤防路";
            add(
                kMinorStreet, far, other, [&](P p) { return land_ok(p, kMinorStreet); }, 200);
        }
    }
}

void Builder::radials() {
    Rng rng = rng_.fork(2000);
    const P centre{kCentreX, kCentreY};
    const char* const names[] = {"台1線", "承德",  "台3線", "羅斯福", "忠孝", "台5線", "中正",
                                 "民權",  "台9線", "松山",  "新生",   "文化", "成功",  "光明"};
    size_t n = 0;
    for (size_t z = 3; z < world_.zones().size(); ++z, ++n) {
        const Zone& town = world_.zones()[z];
        const P dir = unit(town.centre - centre);
        // From the ring road out through the town to the edge of the map.
        double lo = 0, hi = 12000;
        for (int it = 0; it < 30; ++it) {
            const double mid = (lo + hi) / 2;
            (world_.inside_ring(centre + dir * mid) ? lo : hi) = mid;
        }
        const P start = centre + dir * (lo - kOvershoot);
        Poly controls{start};
        const double total = dist(start, town.centre) + 9000;
        const P side{-dir.y, dir.x};
        for (double d = 2500; d < total; d += 2500) {
            P q = start + dir * d + side * rng.range(-450, 450);
            if (dist(start + dir * d, town.centre) < 1200) q = town.centre;
            controls.push_back(q);
        }
        const Poly line = spline(controls, 60);
        RoadName name;
        const std::string base = names[n % std::size(names)];
        if (base.rfind("台", 0) == 0) {
            name.fixed = base;
        } else {
            name.mode = RoadName::Sections;
            name.stem = base;
            name.suffix = "路";
            name.origin = centre;
            name.section = 2500;
        }
        const int16_t type = n % 3 == 2 ? kSecondary : kArterial;
        add(
            type, line, name, [&](P p) { return land_ok(p, type) && !world_.inside_ring(p); }, 300,
            true, true);
    }
}

void Builder::connectors() {
    Rng rng = rng_.fork(3000);
    const auto& zones = world_.zones();
    std::vector<std::pair<size_t, size_t>> pairs;
    for (size_t a = 3; a < zones.size(); ++a) {
        // Each town to its two nearest neighbours.
        std::vector<std::pair<double, size_t>> by;
        for (size_t b = 3; b < zones.size(); ++b)
            if (b != a) by.push_back({dist(zones[a].centre, zones[b].centre), b});
        std::sort(by.begin(), by.end());
        for (size_t k = 0; k < 2 && k < by.size(); ++k) {
            auto pr = std::make_pair(std::min(a, by[k].second), std::max(a, by[k].second));
            if (std::find(pairs.begin(), pairs.end(), pr) == pairs.end()) pairs.push_back(pr);
        }
    }
    const auto& stems = road_stems();
    for (const auto& [a, b] : pairs) {
        const P pa = zones[a].centre, pb = zones[b].centre;
        const double d = dist(pa, pb);
        const P dir = unit(pb - pa), side{-dir.y, dir.x};
        Poly controls{pa};
        for (double t = 1800; t < d - 1000; t += 1800)
            controls.push_back(pa + dir * t + side * rng.range(-500, 500));
        controls.push_back(pb);
        RoadName name;
        if (rng.chance(0.8)) {
            name.mode = RoadName::Sections;
            name.stem =
                stems[static_cast<size_t>(rng.irange(0, static_cast<int>(stems.size()) - 1))];
            name.suffix = "路";
            name.origin = pa;
            name.section = 3000;
        }
        const int16_t type = d > 9000 ? kSecondary : kStreet;
        add(
            type, spline(controls, 60), name,
            [&](P p) { return land_ok(p, type) && !world_.inside_ring(p); }, 300);
    }
}

void Builder::freeway_and_expressways() {
    RoadName fw;
    fw.fixed = "國道1號";
    const Poly freeway = spline({{258000, 2735500},
                                 {271500, 2748500},
                                 {283500, 2758200},
                                 {289300, 2766000},
                                 {292300, 2775500},
                                 {298000, 2781800},
                                 {306000, 2782900},
                                 {318000, 2784600},
                                 {331500, 2788800}},
                                70);
    const size_t first = roads_.size();
    add(
        kFreeway, freeway, fw, [&](P p) { return world_.on_land(p); }, 500, false);
    RoadName ex;
    ex.fixed = "市民快速道路";
    const Poly express = spline({{285000, 2773700},
                                 {292000, 2773900},
                                 {300000, 2773600},
                                 {308000, 2773400},
                                 {315500, 2772600},
                                 {323500, 2773800}},
                                70);
    add(
        kExpressway, express, ex, [&](P p) { return world_.on_land(p); }, 500, false);
    const size_t last = roads_.size();
    for (size_t h = first; h < last; ++h) ramps(h);
}

// Interchanges: where a highway passes over a boulevard or arterial, two curved ramps link
// them, one on each side.
void Builder::ramps(size_t highway) {
    const Poly hw = resample(roads_[highway].line, 50);
    double last_at = -1e9;
    double along = 0;
    const size_t count = roads_.size();
    // Looks for a boulevard or arterial passing under highway point i; lays the two ramps there.
    auto interchange = [&](size_t i) {
        for (size_t r = 0; r < count; ++r) {
            const LogicalRoad road = roads_[r];
            if (road.type != kBoulevard && road.type != kArterial) continue;
            const Poly& line = road.line;
            for (size_t j = 4; j + 4 < line.size(); ++j) {
                if (dist(line[j], hw[i]) > 40) continue;
                const P t = unit(hw[i + 1] - hw[i - 1]), n{t.y, -t.x};
                const P d = unit(line[j + 1] - line[j - 1]);
                const double sgn = (d.x * n.x + d.y * n.y) > 0 ? 1 : -1;
                // The point about 250 m along the crossing road from the bridge, either way.
                auto along_road = [&](double sign) {
                    double acc = 0;
                    size_t k = j;
                    while (acc < 250 && k > 0 && k + 1 < line.size()) {
                        const size_t nk = sign > 0 ? k + 1 : k - 1;
                        acc += dist(line[k], line[nk]);
                        k = nk;
                    }
                    return line[k];
                };
                const P x = hw[i];
                const Poly a = spline(
                    {hw[i - 7], hw[i - 3] + n * 45, x + n * 140 - t * 90, along_road(sgn)}, 30);
                const Poly b = spline(
                    {hw[i + 7], hw[i + 3] - n * 45, x - n * 140 + t * 90, along_road(-sgn)}, 30);
                RoadName name;
                const std::string stem =
                    road.name.mode == RoadName::Fixed ? road.name.fixed : road.name.stem;
                if (!stem.empty() && big5_length(stem + "交流道") <= kRoadNameBytes)
                    name.fixed = stem + "交流道";
                add(
                    kRamp, a, name, [&](P p) { return world_.on_land(p); }, 100);
                add(
                    kRamp, b, name, [&](P p) { return world_.on_land(p); }, 100);
                return true;
            }
        }
        return false;
    };
    for (size_t i = 8; i + 8 < hw.size(); ++i) {
        along += dist(hw[i - 1], hw[i]);
        if (along - last_at >= 3500 && interchange(i)) last_at = along;
    }
}

void Builder::rural() {
    Rng rng = rng_.fork(5000);
    // Branch points: vertices of the roads outside the ring laid so far.
    std::vector<P> anchors;
    for (const LogicalRoad& r : roads_)
        if (r.type >= kArterial && r.type <= kStreet)
            for (size_t i = 0; i < r.line.size(); i += 7)
                if (!world_.inside_ring(r.line[i]) && world_.zone_at(r.line[i]) < 0)
                    anchors.push_back(r.line[i]);
    if (anchors.empty()) return;
    const auto& stems = road_stems();
    for (int k = 0; k < 150; ++k) {
        const P start =
            anchors[static_cast<size_t>(rng.irange(0, static_cast<int>(anchors.size()) - 1))];
        const bool hills = start.x > 311000 && start.y < 2762000;
        double heading = rng.range(0, 2 * kPi);
        const double step = hills ? 220 : 400;
        const double len = rng.range(1500, hills ? 5000 : 4500);
        Poly controls{start};
        P p = start;
        for (double d = 0; d < len; d += step) {
            heading += rng.range(-1, 1) * (hills ? 0.9 : 0.45);
            p = p + P{std::cos(heading), std::sin(heading)} * step;
            controls.push_back(p);
        }
        const int16_t type = rng.chance(0.55) ? kMinorStreet : kLane;
        RoadName name;
        const double roll = rng.uniform();
        if (type == kMinorStreet && roll < 0.4) {
            name.fixed = "縣道" + std::to_string(101 + k % 97);
        } else if (hills && roll < 0.7) {
            name.fixed =
                stems[static_cast<size_t>(rng.irange(0, static_cast<int>(stems.size()) - 1))] +
                "山路";
        } else if (roll < 0.55) {
            name.fixed = "產業道路";
        }
        Poly line = spline(controls, hills ? 40 : 70);
        line.front() = line.front() + unit(line[0] - line[1]) * kOvershoot;
        add(
            type, line, name,
            [&](P q) {
                return land_ok(q, type) && world_.zone_at(q) < 0 && !world_.inside_ring(q);
            },
            300, false);
    }
}

std::vector<LogicalRoad> Builder::build() {
    for (const Zone& zone : world_.zones()) grid(zone);
    perimeter(world_.zones()[1], kSecondary, "中華");
    perimeter(world_.zones()[2], kArterial, "松仁");
    ring();
    river_roads();
    radials();
    connectors();
    freeway_and_expressways();
    rural();
    return std::move(roads_);
}

}  // namespace

std::string RoadName::at(P p) const {
    if (mode == Fixed) return fixed;
    std::string name = stem;
    double along = 0;
    switch (mode) {
        case EastWest:
            name += p.x >= origin.x ? "東" : "西";
            along = std::fabs(p.x - origin.x);
            break;
        case NorthSouth:
            name += p.y >= origin.y ? "北" : "南";
            along = std::fabs(p.y - origin.y);
            break;
        case Compass: {
            const double dx = p.x - origin.x, dy = p.y - origin.y;
            name += std::fabs(dx) > std::fabs(dy) ? (dx > 0 ? "東" : "西") : (dy > 0 ? "北" : "南");
            break;
        }
        default:
            along = dist(p, origin);
            break;
    }
    name += suffix;
    if (section > 0) {
        name += section_word(static_cast<int>(along / section) + 1);
    }
    return name;
}

double RoadName::offset_in_section(P p) const {
    double along = 0;
    switch (mode) {
        case EastWest:
            along = std::fabs(p.x - origin.x);
            break;
        case NorthSouth:
            along = std::fabs(p.y - origin.y);
            break;
        case Fixed:
            along = std::fabs(p.x - kExtentX0) + std::fabs(p.y - kExtentY0);
            break;
        default:
            along = dist(p, origin);
            break;
    }
    return section > 0 ? std::fmod(along, section) : std::fmod(along, 2000.0);
}

bool may_meet(int16_t a, int16_t b) {
    auto high = [](int16_t t) { return t == kFreeway || t == kExpressway; };
    if (high(a)) return high(b) || b == kRamp;
    if (high(b)) return a == kRamp;
    return true;
}

std::vector<LogicalRoad> lay_roads(const World& world, uint64_t seed) {
    return Builder(world, seed).build();
}

}  // namespace ksample
