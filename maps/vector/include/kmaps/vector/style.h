// style.h: the style of the vector tiles for clients that draw them (MapLibre's style format),
// made from the engine's colour table so that the map looks like the engine's pictures: the
// layers in the pictures' drawing order, line widths in metres that follow the zoom as the
// pictures' pens follow the scale, place names, and road names along the roads.
#ifndef KMAPS_VECTOR_STYLE_H
#define KMAPS_VECTOR_STYLE_H

#include <span>
#include <string>

#include "render/view.h"

namespace kmaps::vector {

// The font stack of the labels: the glyph ranges made at build time from the drawing layer's
// font (kglyphs) are served under this name.
inline constexpr const char* kFontStack = "WenQuanYi Zen Hei Sharp Regular";

struct StyleOptions {
    std::string name = "kestrel";
    // The vector tiles: either a TileJSON address, or the address template of the tiles
    // ("https://host/tiles/google/{z}/{x}/{y}.mvt") with the zoom levels they exist at.
    std::string tilejson;
    std::string tiles;
    int minzoom = 0;
    int maxzoom = 16;
    // The glyphs: "https://host/fonts/{fontstack}/{range}.pbf".
    std::string glyphs;
    // The data set's grid metres a unit of the tiles' system (EPSG:3857 metres) where the data
    // set lies: line widths in metres are drawn at their width there.
    double grid_metres_per_unit = 1.0;
};

// The style as JSON text, from the colour table `colours` (render::COLOUR_ENTRIES entries).
std::string style_json(const StyleOptions& options,
                       std::span<const kestrel::render::ColourEntry> colours);
// The same from the engine's colour table as it stands (dllsetcolor changes it).
std::string style_json(const StyleOptions& options);

}  // namespace kmaps::vector

#endif  // KMAPS_VECTOR_STYLE_H
