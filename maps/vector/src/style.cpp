// style.cpp: the vector tiles' style from the engine's colour table.
#include "kmaps/vector/style.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

namespace kmaps::vector {

namespace {

using kestrel::render::ColourEntry;
using nlohmann::json;

constexpr const char* kSource = "kestrel";
// Metres of EPSG:3857 a pixel at zoom 0 for tiles of 512 pixels (MapLibre's zoom levels).
constexpr double kZoom0Resolution = 2 * 3.14159265358979323846 * 6378137.0 / 512;
constexpr int kMaxZoom = 24;
constexpr double kTextSize = 12;  // the pictures' text, pixels
// Road names: a character every 16 pixels along the road, as the pictures place them.
constexpr double kRoadNameSpacing = 16;
// Pens 1 to 5 are never thinner than 2 pixels, the others than 1 (draw.cpp's pen widths).
constexpr int kLastWidenedPen = 5;
constexpr int kLastScaledRoadPen = 9;
constexpr int kScaledPen15 = 15;
constexpr int kAreaEntry = 11;
constexpr int kCataloguePen = 13;
// The roads in the order a tile file stores them, which the pictures draw them in: minor roads
// first, so major ones lie on top.
constexpr int kRoadOrder[] = {3, 9, 8, 7, 6, 5, 2, 1, 4};
constexpr int kLineTypes[] = {10, 12, 13, 14, 15, 16, 17, 18, 19, 20};

std::string hex(const ColourEntry& e) {
    char s[8];
    std::snprintf(s, sizeof s, "#%02x%02x%02x", e.red & 0xFF, e.green & 0xFF, e.blue & 0xFF);
    return s;
}

// The width in pixels of a pen: a pen of metres follows the zoom exponentially, so that it is
// as wide as the picture's pen at each resolution, never thinner than the picture's least
// width; a pen of pixels is as wide at every zoom (0 draws one pixel).
json pen_width(int pen, const ColourEntry& e, double metres_per_unit) {
    const int least = pen <= kLastWidenedPen ? 2 : 1;
    const double width = std::max<int>(e.width, 0);
    if (!(pen <= kLastScaledRoadPen || pen == kScaledPen15)) return std::max(width, 1.0);
    if (width == 0) return least;
    // Pixels at zoom z: width / (kZoom0Resolution * metres_per_unit / 2^z).
    const double at0 = width / (kZoom0Resolution * metres_per_unit);
    const double from = std::clamp(std::log2(least / at0), 0.0, double{kMaxZoom - 1});
    return json::array({"interpolate",
                        {"exponential", 2},
                        {"zoom"},
                        from,
                        std::max<double>(least, at0 * std::exp2(from)),
                        kMaxZoom,
                        at0 * std::exp2(kMaxZoom)});
}

json line_layer(const std::string& id, const char* source_layer, int type, const ColourEntry& e,
                const json& width) {
    json layer = {{"id", id},
                  {"type", "line"},
                  {"source", kSource},
                  {"source-layer", source_layer},
                  {"layout", {{"line-cap", "round"}, {"line-join", "round"}}},
                  {"paint", {{"line-color", hex(e)}, {"line-width", width}}}};
    if (type > 0) layer["filter"] = json::array({"==", json::array({"get", "type"}), type});
    return layer;
}

// The label layers: place names at their point, road names along their roads.
void add_labels(json& layers) {
    const json font = json::array({kFontStack});
    layers.push_back({{"id", "place-names"},
                      {"type", "symbol"},
                      {"source", kSource},
                      {"source-layer", "places"},
                      {"layout",
                       {{"text-field", {"get", "name"}},
                        {"text-font", font},
                        {"text-size", kTextSize},
                        {"text-anchor", "top-left"},
                        // Labels of the tiles are written 2 pixels right of and below their point,
                        // those of the catalogue 10 pixels left of and 5 above it.
                        {"text-offset",
                         {"case",
                          {"==", {"get", "kind"}, "label"},
                          {"literal", {2 / kTextSize, 2 / kTextSize}},
                          {"literal", {-10 / kTextSize, -5 / kTextSize}}}}}},
                      {"paint", {{"text-color", "#000000"}}}});
    // Road names: one character every 16 pixels; characters of Chinese text stay upright on
    // roads that run up and down the screen, as the pictures write them.
    layers.push_back({{"id", "road-names"},
                      {"type", "symbol"},
                      {"source", kSource},
                      {"source-layer", "roads"},
                      {"filter", {"all", {"has", "name"}, {"!=", {"get", "type"}, 3}}},
                      {"layout",
                       {{"symbol-placement", "line"},
                        {"text-field", {"get", "name"}},
                        {"text-font", font},
                        {"text-size", kTextSize},
                        {"text-letter-spacing", (kRoadNameSpacing - kTextSize) / kTextSize},
                        {"text-rotation-alignment", "map"},
                        {"text-keep-upright", true},
                        {"text-max-angle", 60},
                        {"symbol-spacing", 400}}},
                      {"paint", {{"text-color", "#000000"}}}});
}

}  // namespace

std::string style_json(const StyleOptions& options, std::span<const ColourEntry> colours) {
    const auto entry = [&](int i) {
        return static_cast<std::size_t>(i) < colours.size() ? colours[static_cast<std::size_t>(i)]
                                                            : ColourEntry{0, 0, 0, 0};
    };
    const double k = options.grid_metres_per_unit > 0 ? options.grid_metres_per_unit : 1.0;
    json source = {{"type", "vector"}};
    if (!options.tilejson.empty()) {
        source["url"] = options.tilejson;
    } else {
        source["tiles"] = json::array({options.tiles});
        source["minzoom"] = options.minzoom;
        source["maxzoom"] = options.maxzoom;
    }
    json layers = json::array();
    // The web's pictures are drawn on white.
    layers.push_back({{"id", "background"},
                      {"type", "background"},
                      {"paint", {{"background-color", "#ffffff"}}}});
    layers.push_back({{"id", "areas"},
                      {"type", "fill"},
                      {"source", kSource},
                      {"source-layer", "areas"},
                      {"paint",
                       {{"fill-color", hex(entry(kAreaEntry))},
                        {"fill-outline-color", hex(entry(kAreaEntry))}}}});
    layers.push_back(line_layer("overview", "overview", 0, entry(kCataloguePen),
                                pen_width(kCataloguePen, entry(kCataloguePen), k)));
    for (int type : kLineTypes)
        layers.push_back(line_layer("lines-" + std::to_string(type), "lines", type, entry(type),
                                    pen_width(type, entry(type), k)));
    for (int type : kRoadOrder)
        layers.push_back(line_layer("roads-" + std::to_string(type), "roads", type, entry(type),
                                    pen_width(type, entry(type), k)));
    layers.push_back({{"id", "pois"},
                      {"type", "circle"},
                      {"source", kSource},
                      {"source-layer", "pois"},
                      {"layout", {{"visibility", "none"}}},
                      {"paint",
                       {{"circle-radius", 3},
                        {"circle-color", "#0000ff"},
                        {"circle-stroke-color", "#ffffff"},
                        {"circle-stroke-width", 1}}}});
    add_labels(layers);
    const json style = {{"version", 8},
                        {"name", options.name},
                        {"glyphs", options.glyphs},
                        {"sources", {{kSource, source}}},
                        {"layers", layers}};
    return style.dump();
}

std::string style_json(const StyleOptions& options) {
    return style_json(options, std::span<const ColourEntry>(kestrel::render::colour_table(),
                                                            kestrel::render::COLOUR_ENTRIES));
}

}  // namespace kmaps::vector
