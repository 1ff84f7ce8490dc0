// roads.h: the road network of the sample city as whole roads ("logical" roads, before they are
// noded, cut at tile borders and split into features), with the rule that names each part.
#ifndef KESTREL_TOOLS_SAMPLE_ROADS_H
#define KESTREL_TOOLS_SAMPLE_ROADS_H

#include <string>
#include <vector>

#include "geometry.h"
#include "world.h"

namespace ksample {

// How a road is named along its length. Long roads change name by direction from the city
// centre (東/西, 北/南) and by section (一段, 二段, ...), as the streets of a real city do.
struct RoadName {
    enum Mode {
        Fixed,       // `fixed` everywhere (empty: unnamed)
        EastWest,    // stem + 東/西 + suffix + section, by x relative to origin
        NorthSouth,  // stem + 北/南 + suffix + section, by y relative to origin
        Sections,    // stem + suffix + section, by distance from origin
        Compass,     // stem + 東/西/南/北 + suffix, by the dominant direction from origin
    };
    Mode mode = Fixed;
    std::string fixed;   // UTF-8
    std::string stem;    // UTF-8
    std::string suffix;  // 路, 街, 大道
    P origin;
    double section = 0;  // section length, metres; 0: no sections

    // The name (UTF-8) of the road at world point p; empty when unnamed.
    std::string at(P p) const;
    // Distance of p into its current section along the naming axis, metres (house numbering).
    double offset_in_section(P p) const;
};

// Road types of the data set, from the widest to the narrowest.
enum RoadType : int16_t {
    kFreeway = 1,
    kExpressway = 2,
    kRamp = 3,
    kBoulevard = 4,
    kArterial = 5,
    kSecondary = 6,
    kStreet = 7,
    kMinorStreet = 8,
    kLane = 9,
};

struct LogicalRoad {
    int16_t type = kStreet;
    Poly line;
    RoadName name;
    bool trunk = false;  // a main road, also drawn in the small-scale catalogue
};

// Lays out every road of the city over the world: street grids with lanes, the ring road,
// radial and connecting roads, river roads, freeway and expressways with their ramps, rural
// and hill roads.
std::vector<LogicalRoad> lay_roads(const World& world, uint64_t seed);

// Whether two roads of these types may share a junction (freeways and expressways only meet
// their ramps and each other).
bool may_meet(int16_t a, int16_t b);

}  // namespace ksample

#endif  // KESTREL_TOOLS_SAMPLE_ROADS_H
