// world.cpp: the geography of the sample city (see world.h).
#include "world.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>

#include "names.h"

namespace ksample {
namespace {

constexpr double kPi = std::numbers::pi;
// Cell of the raster from which district borders are traced, metres.
constexpr int32_t kBorderCell = 100;
// Cell of the river-segment buckets; distances beyond one cell are reported as "far".
constexpr double kWaterCell = 600;
constexpr double kFar = 1e9;
// The city grid beyond the ring road: how far it reaches, and over how many metres past the
// ring its density falls to nothing.
constexpr double kSuburbRadius = 10500;
constexpr double kRingRadius = 6800;
constexpr double kSuburbBand = 3800;

// Island outline, clockwise from the north-west. The first twelve points are the city's coast.
const P kIslandControls[] = {
    {250000, 2756000}, {262000, 2765000}, {271500, 2772000}, {278000, 2777500}, {281500, 2781000},
    {286000, 2786000}, {293000, 2790500}, {302000, 2794000}, {312000, 2796500}, {322000, 2797500},
    {331000, 2794000}, {338000, 2786000}, {344000, 2775000}, {340000, 2760000}, {334000, 2735000},
    {330000, 2705000}, {322000, 2670000}, {312000, 2630000}, {300000, 2590000}, {285000, 2545000},
    {268000, 2500000}, {252000, 2460000}, {244000, 2428000}, {232000, 2440000}, {222000, 2480000},
    {200000, 2520000}, {182000, 2560000}, {170000, 2600000}, {168000, 2640000}, {180000, 2680000},
    {196000, 2710000}, {215000, 2735000}, {235000, 2748000},
};
constexpr size_t kCityCoastControls = 12;

P add_noise(P p, uint64_t seed, double amp_large, double amp_small) {
    return {p.x + amp_large * value_noise(p.x, p.y, 6000, seed) +
                amp_small * value_noise(p.x, p.y, 1700, seed + 1),
            p.y + amp_large * value_noise(p.x, p.y, 6000, seed + 2) +
                amp_small * value_noise(p.x, p.y, 1700, seed + 3)};
}

Poly noisy(const Poly& line, uint64_t seed, double amp_large, double amp_small) {
    Poly out;
    for (const P& p : line) out.push_back(add_noise(p, seed, amp_large, amp_small));
    return out;
}

// A closed, noisy ellipse sampled every `step` metres of angle-equivalent arc.
Poly noisy_ellipse(P c, double rx, double ry, double amp, uint64_t seed, int samples) {
    Poly out;
    for (int i = 0; i <= samples; ++i) {
        const double a = 2 * kPi * (i % samples) / samples;
        const double n = amp * value_noise(std::cos(a) * 3000, std::sin(a) * 3000, 2500, seed);
        out.push_back({c.x + (rx + n) * std::cos(a), c.y + (ry + n) * std::sin(a)});
    }
    return out;
}

struct BBox {
    double x0, y0, x1, y1;
    bool has(P p) const { return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1; }
};

BBox bbox(const Poly& poly, double margin) {
    BBox b{1e18, 1e18, -1e18, -1e18};
    for (const P& p : poly)
        b = {std::min(b.x0, p.x), std::min(b.y0, p.y), std::max(b.x1, p.x), std::max(b.y1, p.y)};
    return {b.x0 - margin, b.y0 - margin, b.x1 + margin, b.y1 + margin};
}

}  // namespace

World::World(uint64_t seed) : seed_(seed) {
    Rng rng(seed);
    Rng island = rng.fork(1), rivers = rng.fork(2), ring = rng.fork(3), zones = rng.fork(4);
    Rng parks = rng.fork(5), rail = rng.fork(6);
    make_island(island);
    make_rivers(rivers);
    make_districts();
    make_ring(ring);
    make_zones(zones);
    make_parks(parks);
    make_rail(rail);
}

void World::make_island(Rng& rng) {
    const uint64_t s = rng.next();
    Poly north(kIslandControls, kIslandControls + kCityCoastControls);
    coast_ = noisy(spline(north, 300), s, 700, 220);
    Poly rest(kIslandControls + kCityCoastControls - 1, std::end(kIslandControls));
    rest.push_back(kIslandControls[0]);
    Poly south = noisy(spline(rest, 1500), s + 7, 2500, 700);
    island_ = coast_;
    island_.insert(island_.end(), south.begin() + 1, south.end() - 1);
    sea_ = coast_;
    for (P p : {P{352000, 2790000}, P{352000, 2815000}, P{235000, 2815000}, P{235000, 2750000}})
        sea_.push_back(p);
}

void World::make_rivers(Rng& rng) {
    const uint64_t s = rng.next();
    auto river = [&](const char* name, const Poly& controls, double half, double meander) {
        River r{name,
                noisy(spline(controls, 120), s + rivers_.size() * 11, meander, meander * 0.35),
                half};
        rivers_.push_back(std::move(r));
    };
    river("北河",
          {{321000, 2722000},
           {316000, 2736000},
           {313500, 2744000},
           {306000, 2750500},
           {298500, 2755500},
           {294500, 2762000},
           {293400, 2767500},
           {294200, 2772500},
           {295200, 2775800},
           {291500, 2777600},
           {287500, 2778300},
           {284300, 2779400},
           {281600, 2781300},
           {279000, 2784000}},
          190, 260);
    river("東溪",
          {{336000, 2777000},
           {327000, 2779800},
           {319000, 2778600},
           {311000, 2779200},
           {304000, 2778900},
           {298800, 2777600},
           {295400, 2776000}},
          95, 200);
    river("景溪",
          {{331000, 2752000},
           {324000, 2755500},
           {318500, 2752800},
           {312500, 2753800},
           {307500, 2751500},
           {305500, 2750600}},
          28, 160);
    // Bucket the banks' segments for distance queries.
    for (const River& r : rivers_) {
        for (size_t i = 1; i < r.centre.size(); ++i) {
            const P a = r.centre[i - 1], b = r.centre[i];
            const int cx = static_cast<int>(std::floor((a.x + b.x) / 2 / kWaterCell));
            const int cy = static_cast<int>(std::floor((a.y + b.y) / 2 / kWaterCell));
            water_cells_[{cx, cy}].push_back({a, b, r.half_width});
        }
    }
}

double World::water_distance(P p) const {
    const int cx = static_cast<int>(std::floor(p.x / kWaterCell)),
              cy = static_cast<int>(std::floor(p.y / kWaterCell));
    double best = kFar;
    for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx) {
            auto it = water_cells_.find({cx + dx, cy + dy});
            if (it == water_cells_.end()) continue;
            for (const auto& seg : it->second)
                best = std::min(best, distance_to({seg.a, seg.b}, p) - seg.half);
        }
    }
    return best;
}

bool World::on_land(P p) const {
    return !inside(sea_, p);
}

void World::make_districts() {
    struct Seed {
        int16_t code;
        const char* name;
        double dx, dy, weight;
        bool urban;
    };
    const Seed seeds[] = {
        {100, "中正區", 0, -400, 1.0, true},        {101, "大同區", -4200, 2600, 1.0, true},
        {102, "中山區", 2300, 4300, 1.0, true},     {103, "松林區", 7600, 3400, 1.0, true},
        {104, "大安區", 2600, -4300, 1.0, true},    {105, "萬華區", -5200, -2000, 1.0, true},
        {106, "信義區", 8400, -2600, 1.0, true},    {107, "北港區", 1500, 12500, 0.75, false},
        {108, "西濱區", -15500, 3500, 0.7, false},  {109, "東湖區", 19000, 9000, 0.7, false},
        {110, "南山區", 17500, -13000, 0.7, false}, {111, "文德區", 1500, -16000, 0.7, false},
        {112, "河西區", -13500, -7000, 0.7, false}, {113, "仁和區", -25000, -26000, 0.65, false},
        {114, "永興區", 5000, -34000, 0.65, false}, {115, "福安區", 23000, -30000, 0.65, false},
    };
    for (const Seed& s : seeds)
        districts_.push_back(
            {s.code, s.name, {kCentreX + s.dx, kCentreY + s.dy}, s.weight, s.urban});
}

int World::district_index(P p) const {
    int best = 0;
    double bestScore = 1e18;
    for (size_t i = 0; i < districts_.size(); ++i) {
        const double score = dist(p, districts_[i].seed) * districts_[i].weight +
                             1400 * value_noise(p.x, p.y, 2600, seed_ + 100 + i);
        if (score < bestScore) bestScore = score, best = static_cast<int>(i);
    }
    return best;
}

void World::make_ring(Rng& rng) {
    ring_ = noisy_ellipse({kCentreX + 300, kCentreY - 200}, 7300, 6200, 650, rng.next(), 240);
}

bool World::inside_ring(P p) const {
    return inside(ring_, p);
}

void World::make_zones(Rng& rng) {
    std::vector<std::string> stems = road_stems();
    // Deterministic shuffle of the stems (Fisher-Yates with the project's generator).
    for (size_t i = stems.size() - 1; i > 0; --i)
        std::swap(stems[i], stems[static_cast<size_t>(rng.irange(0, static_cast<int>(i)))]);
    size_t next = 0;
    auto take = [&](size_t n) {
        std::vector<std::string> out;
        for (size_t i = 0; i < n; ++i) out.push_back(stems[(next + i) % stems.size()]);
        next += n;
        return out;
    };
    auto zone = [&](P c, double radius, double angle_deg, double street, int sec, int art,
                    double lane, double density, bool core, size_t nstems) {
        Zone z;
        z.id = static_cast<int>(zones_.size());
        z.centre = c;
        z.radius = radius;
        z.angle = angle_deg * kPi / 180;
        z.street = street;
        z.secondary_every = sec;
        z.arterial_every = art;
        z.lane = lane;
        z.lane_density = density;
        z.core = core;
        z.stems = take(nstems);
        zones_.push_back(std::move(z));
    };
    // The city inside the ring road, the old town by the river and the new east side.
    zone({kCentreX, kCentreY}, 8000, 0, 200, 2, 4, 45, 0.95, true, 70);
    zone({kCentreX - 5000, kCentreY - 1100}, 2700, 34, 150, 2, 4, 36, 1.0, true, 30);
    zone({kCentreX + 5300, kCentreY - 2300}, 1500, 0, 300, 1, 2, 100, 0.55, true, 16);
    // Towns around the city.
    const struct {
        double x, y, r, angle;
    } towns[] = {
        {302500, 2784600, 3000, 10},  {286300, 2771800, 2000, -22}, {286500, 2764500, 2800, 25},
        {277000, 2745000, 2500, -15}, {302500, 2755800, 2700, 6},   {306500, 2738800, 2000, 40},
        {318500, 2782600, 2400, -8},  {318000, 2765000, 2200, 15},  {322000, 2749500, 1500, 30},
        {270500, 2758500, 2000, 2},   {291500, 2751500, 2000, -30}, {324500, 2787000, 1700, 20},
        {265500, 2740000, 1500, 12},  {290000, 2740500, 1600, -5},
    };
    for (const auto& t : towns) zone({t.x, t.y}, t.r, t.angle, 180, 2, 4, 50, 0.85, false, 14);
}

int World::zone_at(P p) const {
    if (inside_ring(p)) {
        for (int z : {1, 2}) {
            const Zone& zone = zones_[z];
            const double r =
                zone.radius * (1 + 0.18 * value_noise(p.x, p.y, 1500, seed_ + 300 + z));
            if (dist(p, zone.centre) < r) return z;
        }
        return 0;
    }
    for (size_t z = 3; z < zones_.size(); ++z) {
        const Zone& zone = zones_[z];
        const double r = zone.radius * (1.25 + 0.45 * value_noise(p.x, p.y, 900, seed_ + 300 + z));
        if (dist(p, zone.centre) < r) return static_cast<int>(z);
    }
    // The city's grid runs on past the ring road into the suburbs.
    const double r = kSuburbRadius * (1 + 0.25 * value_noise(p.x, p.y, 2500, seed_ + 299));
    return dist(p, {kCentreX, kCentreY}) < r ? 0 : -1;
}

double World::density(P p, int zone) const {
    const double wobble = 0.4 * value_noise(p.x, p.y, 1100, seed_ + 400);
    if (zone == 0) {
        if (inside_ring(p)) return 1;
        const double beyond = dist(p, {kCentreX, kCentreY}) - kRingRadius;
        return std::clamp(1 - beyond / kSuburbBand + wobble, 0.0, 1.0);
    }
    if (zone < 3) return 1;
    const Zone& z = zones_[static_cast<size_t>(zone)];
    const double f = dist(p, z.centre) / z.radius;
    return std::clamp(1.1 - f * f * 0.8 + wobble, 0.0, 1.0);
}

P World::warp(P p) const {
    const double tau = 2 * kPi;
    return {p.x + 150 * std::sin(tau * p.y / 9300 + 1.1) + 70 * std::sin(tau * p.x / 12000) +
                35 * std::sin(tau * (p.x + p.y) / 4100),
            p.y + 140 * std::sin(tau * p.x / 8100 + 0.4) + 60 * std::sin(tau * p.y / 11700 + 2.0) +
                30 * std::sin(tau * (p.x - p.y) / 3700)};
}

void World::make_parks(Rng& rng) {
    auto blob = [&](const char* name, P c, double rx, double ry, double amp) {
        parks_.push_back({name, noisy_ellipse(c, rx, ry, amp, rng.next(), 72)});
    };
    // The central park fills a rectangle of the core grid.
    const Zone& core = zones_[0];
    auto grid_rect = [&](const char* name, double u0, double v0, double u1, double v1) {
        Poly outline;
        const Poly corners{{u0, v0}, {u1, v0}, {u1, v1}, {u0, v1}, {u0, v0}};
        for (const P& q : resample(corners, 50))
            outline.push_back(warp({core.centre.x + q.x, core.centre.y + q.y}));
        outline.pop_back();
        parks_.push_back({name, outline});
    };
    grid_rect("中央公園", 2015, -2785, 2785, -2215);
    grid_rect("榮星花園", -1185, 3215, -815, 3585);
    grid_rect("青年公園", 4215, 1415, 4585, 1785);
    blob("南山森林公園", {318500, 2758500}, 1500, 1000, 300);
    blob("北港濕地公園", {297500, 2781000}, 900, 500, 150);
    blob("文德運動公園", {303800, 2752700}, 450, 350, 80);
    // Pocket parks: single blocks of the core grid, away from the ring.
    for (int i = 0; i < 26; ++i) {
        const int bu = rng.irange(-30, 29), bv = rng.irange(-26, 25);
        const double u0 = bu * core.street + 18, v0 = bv * core.street + 18;
        const P mid = warp({core.centre.x + u0 + 80, core.centre.y + v0 + 80});
        if (!inside_ring(mid) || zone_at(mid) != 0 || water_distance(mid) < 200) continue;
        grid_rect("", u0, v0, u0 + core.street - 36, v0 + core.street - 36);
    }
    // in_park asks for every point of every street: the boxes are taken once.
    for (Park& park : parks_) {
        const BBox b = bbox(park.outline, 0);
        park.x0 = b.x0, park.y0 = b.y0, park.x1 = b.x1, park.y1 = b.y1;
    }
}

bool World::in_park(P p) const {
    for (const Park& park : parks_) {
        if (BBox{park.x0, park.y0, park.x1, park.y1}.has(p) && inside(park.outline, p)) return true;
    }
    return false;
}

void World::make_rail(Rng& rng) {
    station_ = {kCentreX - 300, kCentreY + 900};
    const uint64_t s = rng.next();
    railway_ = noisy(spline({{258000, 2742500},
                             {272000, 2750200},
                             {285000, 2760500},
                             {292800, 2768300},
                             station_,
                             {309000, 2772800},
                             {318000, 2770500},
                             {331000, 2766000}},
                            100),
                     s, 60, 0);
    metro_.push_back(spline(
        {{300400, 2783600}, {301000, 2777200}, station_, {301600, 2765000}, {303000, 2755500}},
        100));
    metro_.push_back(spline({{287000, 2766000},
                             {295000, 2769000},
                             {kCentreX, 2769800},
                             {310000, 2768800},
                             {319000, 2767000}},
                            100));
}

void World::district_borders(std::vector<Poly>* city_limit, std::vector<Poly>* inner) const {
    const int nx = (kExtentX1 - kExtentX0) / kBorderCell,
              ny = (kExtentY1 - kExtentY0) / kBorderCell;
    std::vector<int> cell(static_cast<size_t>(nx) * ny, -1);
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const P c{kExtentX0 + (i + 0.5) * kBorderCell, kExtentY0 + (j + 0.5) * kBorderCell};
            if (on_land(c)) cell[static_cast<size_t>(j) * nx + i] = district_index(c);
        }
    }
    // Unit edges between cells of different districts, keyed by lattice corner.
    using Node = std::pair<int, int>;
    std::map<Node, std::vector<std::pair<Node, bool>>> adj;  // neighbour, is city limit
    auto add = [&](Node a, Node b, int d1, int d2) {
        const bool limit = districts_[d1].urban != districts_[d2].urban;
        adj[a].push_back({b, limit});
        adj[b].push_back({a, limit});
    };
    for (int j = 0; j < ny; ++j) {
        for (int i = 0; i < nx; ++i) {
            const int d = cell[static_cast<size_t>(j) * nx + i];
            if (d < 0) continue;
            if (i + 1 < nx) {
                const int e = cell[static_cast<size_t>(j) * nx + i + 1];
                if (e >= 0 && e != d) add({i + 1, j}, {i + 1, j + 1}, d, e);
            }
            if (j + 1 < ny) {
                const int e = cell[static_cast<size_t>(j + 1) * nx + i];
                if (e >= 0 && e != d) add({i, j + 1}, {i + 1, j + 1}, d, e);
            }
        }
    }
    // Chain the edges into polylines, breaking at junctions and where the border kind changes.
    std::map<std::pair<Node, Node>, bool> used;
    auto walk = [&](Node start, Node next, bool limit) {
        Poly line{{kExtentX0 + start.first * double(kBorderCell),
                   kExtentY0 + start.second * double(kBorderCell)}};
        Node prev = start, cur = next;
        used[{std::min(prev, cur), std::max(prev, cur)}] = true;
        for (;;) {
            line.push_back({kExtentX0 + cur.first * double(kBorderCell),
                            kExtentY0 + cur.second * double(kBorderCell)});
            const auto& nb = adj[cur];
            if (nb.size() != 2) break;
            const auto& step = nb[0].first == prev ? nb[1] : nb[0];
            if (step.second != limit ||
                used.count({std::min(cur, step.first), std::max(cur, step.first)}))
                break;
            used[{std::min(cur, step.first), std::max(cur, step.first)}] = true;
            prev = cur;
            cur = step.first;
        }
        Poly smooth = chaikin(line, 3);
        (limit ? city_limit : inner)->push_back(smooth);
    };
    for (int pass = 0; pass < 2; ++pass) {  // first from ends and junctions, then closed loops
        for (const auto& [node, nb] : adj) {
            if (pass == 0 && nb.size() == 2) continue;
            for (const auto& [other, limit] : nb)
                if (!used.count({std::min(node, other), std::max(node, other)}))
                    walk(node, other, limit);
        }
    }
}

}  // namespace ksample
