// fixture_dataset.h: a small map data set for the export, overlay and example tests, written
// with the data-set writer library (link kdataset).
//
// One tile, 276030 (x 300000..310000, y 2760000..2770000), district 101:
//   - "HARBOUR RD", a type 5 road running east along y = 2766000;
//   - "HILL ST", a type 6 road running north along x = 301500;
//   - a type 10 line and a type 11 area;
//   - the place label "PORT" (type 21) at (302000, 2767000);
//   - points of interest of categories 5 and 7 inside the standard view.
// The catalogue has the city "CAPITAL" and one polyline; the base map one filled polygon.
// The standard view: left 300000, top 2767760, 356 x 276 pixels at 10 m per pixel.
#ifndef KESTREL_TESTS_SUPPORT_FIXTURE_DATASET_H
#define KESTREL_TESTS_SUPPORT_FIXTURE_DATASET_H

#include <string>

#include "writer.h"

namespace kestrel_test {

inline constexpr int kFixtureTile = 276030;
inline constexpr int kFixtureDistrict = 101;
inline constexpr int kViewLeft = 300000;
inline constexpr int kViewTop = 2767760;
inline constexpr int kViewWidth = 356;
inline constexpr int kViewHeight = 276;
inline constexpr double kViewScale = 10.0;

inline kdataset::DataSetContent fixture_content() {
    kdataset::DataSetContent content;
    kdataset::Tile& tile = content.tiles[kFixtureTile];
    tile.number = kFixtureTile;

    kdataset::Road harbour;
    harbour.type = 5;
    harbour.points = {{300200, 2766000}, {301500, 2766000}, {302800, 2766000}, {304500, 2766000}};
    harbour.code = "H1";
    harbour.name = "HARBOUR RD";
    harbour.district = kFixtureDistrict;
    tile.roads.push_back(harbour);

    kdataset::Road hill;
    hill.type = 6;
    hill.points = {{301500, 2765100}, {301500, 2766000}, {301500, 2767000}, {301500, 2767700}};
    hill.code = "S2";
    hill.name = "HILL ST";
    hill.district = kFixtureDistrict;
    tile.roads.push_back(hill);

    kdataset::LineFeature area;
    area.type = 11;
    area.points = {{302600, 2766400},
                   {303200, 2766400},
                   {303200, 2766900},
                   {302600, 2766900},
                   {302600, 2766400}};
    tile.lines.push_back(area);
    kdataset::LineFeature line;
    line.type = 10;
    line.points = {{300100, 2765200}, {303400, 2767600}};
    tile.lines.push_back(line);

    kdataset::NamedPoint port;
    port.type = 21;
    port.at = {302000, 2767000};
    port.name = "PORT";
    tile.places.push_back(port);

    content.tile_index = kdataset::derive_tile_index(content.tiles);

    kdataset::Poi museum;
    museum.at = {300800, 2767300};
    museum.district = kFixtureDistrict;
    museum.category = 5;
    museum.name = "MUSEUM";
    content.pois.push_back(museum);
    kdataset::Poi school;
    school.at = {302300, 2765600};
    school.district = kFixtureDistrict;
    school.category = 7;
    school.name = "SCHOOL";
    school.note = "OPEN 8-16";
    content.pois.push_back(school);

    kdataset::CatalogueEntry city;
    city.kind = kdataset::CatalogueEntry::City;
    city.name = "CAPITAL";
    city.points = {{305000, 2766000}};
    content.catalogue.push_back(city);
    kdataset::CatalogueEntry border;
    border.kind = kdataset::CatalogueEntry::Polyline;
    border.points = {{290000, 2750000}, {305000, 2770000}, {320000, 2760000}};
    content.catalogue.push_back(border);

    kdataset::BaseMapShape land;
    land.filled = true;
    land.colour = 0x00408040;
    land.fill = 0x00C0E0C0;
    land.points = {{150000, 2500000}, {350000, 2500000}, {350000, 2790000}, {150000, 2790000}};
    content.base_map.push_back(land);
    return content;
}

// Writes the fixture data set into `dir` (ending with '/'); an empty string on success.
inline std::string write_fixture_dataset(const std::string& dir) {
    kdataset::WriteReport report;
    std::string error = kdataset::write_dataset(fixture_content(), dir, &report);
    if (error.empty() && !report.refused.empty()) error = report.refused.front();
    return error;
}

}  // namespace kestrel_test

#endif  // KESTREL_TESTS_SUPPORT_FIXTURE_DATASET_H
