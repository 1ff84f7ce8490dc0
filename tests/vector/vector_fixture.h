// vector_fixture.h: a data set built for the vector tiles' checks, with the writer library, and
// the boxes of the tiles the checks read (native grid, identity projection).
//
// Tiles 276030 (x 300000..310000) and 276031 (x 310000..320000), y 2760000..2770000:
//   - an area with a hole, stored as the importer stores it (the hole hung on a bridge from the
//     outline's first point), which the west edge of box B cuts through outline and hole;
//   - an area shaped as an arch whose legs reach into box B from beyond its north edge: cut,
//     it is two rings;
//   - the road 中山路 (type 5, code A1, district 101) in two pieces that meet at the tiles'
//     border x = 310000, and a road of the same name and type 6 that starts where the first
//     piece ends (other fields: never joined to it);
//   - the place labels PORT (type 21) and HAMLET (type 24) in box B;
//   - kFixturePois points of interest in box B;
//   - the catalogue's city CAPITAL and one polyline.
#ifndef KESTREL_TESTS_VECTOR_FIXTURE_H
#define KESTREL_TESTS_VECTOR_FIXTURE_H

#include <string>

#include "kcommon/big5.h"
#include "kmaps/vector/tile_builder.h"
#include "writer.h"

namespace vector_fixture {

inline constexpr int kFixturePois = 3000;
// Box B: 5120 m a side at 10 m a pixel (road names shown), west edge x = 304000.
inline constexpr kmaps::vector::Box kBoxB{304000, 2764000, 309120, 2769120};
// Box C: astride the tiles' border x = 310000.
inline constexpr kmaps::vector::Box kBoxC{307440, 2764000, 312560, 2769120};
// Box K: 51200 m a side, 100 m a pixel: drawn from the catalogue.
inline constexpr kmaps::vector::Box kBoxK{280000, 2740000, 331200, 2791200};
inline constexpr double kPixels = 512;

inline kdataset::DataSetContent content() {
    using kdataset::WorldPoint;
    kdataset::DataSetContent c;
    kdataset::Tile& a = c.tiles[276030];
    a.number = 276030;
    kdataset::Tile& b = c.tiles[276031];
    b.number = 276031;
    const std::string name = *kcommon::utf8_to_big5("中山路", kcommon::NoBig5::fail);

    kdataset::LineFeature holed{11, {}};
    const std::vector<WorldPoint> outer = {
        {303000, 2765000}, {306000, 2765000}, {306000, 2768000}, {303000, 2768000}};
    const std::vector<WorldPoint> hole = {
        {303500, 2766000}, {303500, 2767000}, {304500, 2767000}, {304500, 2766000}};
    holed.points = outer;
    holed.points.push_back(outer[0]);
    holed.points.insert(holed.points.end(), hole.begin(), hole.end());
    holed.points.push_back(hole[0]);
    a.lines.push_back(holed);
    a.lines.push_back({11,
                       {{306500, 2768500},
                        {306500, 2769800},
                        {308500, 2769800},
                        {308500, 2768500},
                        {308000, 2768500},
                        {308000, 2769500},
                        {307000, 2769500},
                        {307000, 2768500}}});

    a.roads.push_back(
        {5, {{305000, 2767500}, {307500, 2767600}, {310000, 2767500}}, "A1", name, 101});
    b.roads.push_back(
        {5, {{310000, 2767500}, {312500, 2767400}, {315000, 2767500}}, "A1", name, 101});
    a.roads.push_back({6, {{310000, 2767500}, {310000, 2764500}}, "A1", name, 101});
    a.places.push_back({21, {305000, 2766500}, "PORT"});
    a.places.push_back({24, {305500, 2766500}, "HAMLET"});
    c.tile_index = kdataset::derive_tile_index(c.tiles);

    for (int i = 0; i < kFixturePois; ++i)
        c.pois.push_back({{304100 + (i % 60) * 80, 2764100 + (i / 60) * 90},
                          101,
                          5,
                          "P" + std::to_string(i),
                          i % 2 ? "NOTE" : ""});
    c.catalogue.push_back({kdataset::CatalogueEntry::City, "CAPITAL", {{305000, 2766000}}});
    c.catalogue.push_back({kdataset::CatalogueEntry::Polyline,
                           "",
                           {{290000, 2750000}, {305000, 2770000}, {320000, 2760000}}});
    return c;
}

// Writes the fixture data set into `dir` (ending with '/'); an empty string on success.
inline std::string write(const std::string& dir) {
    kdataset::WriteReport report;
    std::string error = kdataset::write_dataset(content(), dir, &report);
    if (error.empty() && !report.refused.empty()) error = report.refused.front();
    return error;
}

}  // namespace vector_fixture

#endif  // KESTREL_TESTS_VECTOR_FIXTURE_H
