// world.h: the geography of the sample city: the island and its coast, the rivers, the
// districts, the parks and the urban zones whose street grids make up the city. Everything here
// is a pure function of the seed; roads.cpp lays the roads over it.
#ifndef KESTREL_TOOLS_SAMPLE_WORLD_H
#define KESTREL_TOOLS_SAMPLE_WORLD_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "data/limits.h"
#include "geometry.h"
#include "rng.h"

namespace ksample {

// Tile size of the data set, metres.
constexpr int32_t kTileSize = kestrel::data::TILE_SIZE_M;
// The part of the world the detailed map covers: tile columns 26..32, rows 273..278.
constexpr int32_t kExtentX0 = 260000, kExtentX1 = 330000;
constexpr int32_t kExtentY0 = 2730000, kExtentY1 = 2790000;
// The city centre: the server's default view centre.
constexpr double kCentreX = 301234, kCentreY = 2771234;
// The world rectangle of the base map.
constexpr int32_t kWorldX0 = 140000, kWorldX1 = 360000, kWorldY0 = 2420000, kWorldY1 = 2800000;

struct District {
    int16_t code;
    std::string name;  // UTF-8, e.g. 中正區
    P seed;            // where its label stands
    double weight;     // smaller weights make larger districts
    bool urban;        // inside the city limit
};

struct River {
    std::string name;  // UTF-8
    Poly centre;       // from upstream to the mouth
    double half_width;
};

struct Park {
    std::string name;  // UTF-8
    Poly outline;
    double x0 = 0, y0 = 0, x1 = 0, y1 = 0;  // the outline's bounding box
};

// A street grid: a rotated, gently warped lattice of arterials, secondary roads, streets and
// lanes, filling the region that `contains` accepts.
struct Zone {
    int id = 0;
    P centre;
    double radius = 0;               // nominal radius; the outline is noisy
    double angle = 0;                // grid rotation, radians
    double street = 200;             // street spacing, metres
    int secondary_every = 2;         // every n-th street is a secondary road
    int arterial_every = 4;          // every n-th street is an arterial
    double lane = 70;                // lane spacing inside blocks
    double lane_density = 0.8;       // share of blocks with lanes near the centre
    bool core = false;               // part of the city inside the ring road
    std::vector<std::string> stems;  // road name stems of this zone (UTF-8)
};

class World {
  public:
    explicit World(uint64_t seed);

    // Geography tests.
    bool on_land(P p) const;           // not in the sea
    double water_distance(P p) const;  // metres from the nearest river bank (negative inside)
    bool in_park(P p) const;
    int district_index(P p) const;  // index into districts()
    bool inside_ring(P p) const;    // inside the ring road
    int zone_at(P p) const;         // index of the zone that owns p, or -1
    // How built-up zone `zone` is at p, 0 to 1: full inside the ring, thinning with noise
    // towards the edges of the suburbs and the towns.
    double density(P p, int zone) const;

    const std::vector<District>& districts() const { return districts_; }
    const std::vector<River>& rivers() const { return rivers_; }
    const std::vector<Park>& parks() const { return parks_; }
    const std::vector<Zone>& zones() const { return zones_; }
    const Poly& island() const { return island_; }
    const Poly& sea() const { return sea_; }      // sea polygon around the city's coast
    const Poly& coast() const { return coast_; }  // the city's coastline, west to east
    const Poly& ring() const { return ring_; }    // closed ring road line
    const Poly& railway() const { return railway_; }
    const std::vector<Poly>& metro_lines() const { return metro_; }
    P station() const { return station_; }

    // Map-grid warp applied to street grids: a smooth displacement of a few tens of metres.
    P warp(P p) const;

    // District borders as polylines, split into the city limit (between urban and outer
    // districts) and the inner borders.
    void district_borders(std::vector<Poly>* city_limit, std::vector<Poly>* inner) const;

  private:
    void make_island(Rng& rng);
    void make_rivers(Rng& rng);
    void make_districts();
    void make_ring(Rng& rng);
    void make_zones(Rng& rng);
    void make_parks(Rng& rng);
    void make_rail(Rng& rng);

    // A river segment with its half width, bucketed by cell for distance queries.
    struct WaterSeg {
        P a, b;
        double half;
    };

    uint64_t seed_;
    std::map<std::pair<int, int>, std::vector<WaterSeg>> water_cells_;
    Poly island_, sea_, coast_, ring_, railway_;
    std::vector<Poly> metro_;
    P station_;
    std::vector<River> rivers_;
    std::vector<District> districts_;
    std::vector<Park> parks_;
    std::vector<Zone> zones_;
};

}  // namespace ksample

#endif  // KESTREL_TOOLS_SAMPLE_WORLD_H
