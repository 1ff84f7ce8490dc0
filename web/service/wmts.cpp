// wmts.cpp: WMTS and XYZ requests, checked, answered from the tiles.
#include "service/wmts.h"

#include "service/errors.h"
#include "service/json.h"
#include "service/xml.h"

namespace kserve {

using kmaps::TileFormat;
using kmaps::TileMatrixSet;

namespace {

// True when the last segment of a tile's address ends in ".png" or ".jpg" after something.
bool has_tile_extension(std::string_view segment) {
    return segment.size() > 4 && (segment.substr(segment.size() - 4) == ".png" ||
                                  segment.substr(segment.size() - 4) == ".jpg");
}

}  // namespace

Response Wmts::capabilities(const Request& r) {
    Response res = answer(200, capabilities_.wmts(base_url(r)), "text/xml; charset=utf-8");
    res.cache_control = kCapabilitiesCacheControl;
    return res;
}

Response Wmts::kvp(const Request& r, const Params& p) {
    if (p.has("SERVICE") && upper(p.get("SERVICE")) != "WMTS")
        return ows_exception("InvalidParameterValue", "service", "SERVICE must be WMTS");
    const std::string req = p.get("REQUEST");
    if (req.empty()) return ows_exception("MissingParameterValue", "request", "REQUEST is missing");
    if (req == "GetCapabilities") return capabilities(r);
    if (req != "GetTile")
        return ows_exception("OperationNotSupported", "request", "unknown REQUEST " + req);
    if (p.has("VERSION") && p.get("VERSION") != "1.0.0")
        return ows_exception("InvalidParameterValue", "version", "VERSION must be 1.0.0");
    for (const char* k :
         {"LAYER", "STYLE", "FORMAT", "TILEMATRIXSET", "TILEMATRIX", "TILEROW", "TILECOL"})
        if (!p.has(k))
            return ows_exception("MissingParameterValue", lower(k), std::string(k) + " is missing");
    if (p.get("LAYER") != "map")
        return ows_exception("InvalidParameterValue", "layer", "unknown LAYER");
    if (p.get("STYLE") != "default" && !p.get("STYLE").empty())
        return ows_exception("InvalidParameterValue", "style", "unknown STYLE");
    const std::string& format = p.get("FORMAT");
    if (format != "image/png" && format != "image/jpeg")
        return ows_exception("InvalidParameterValue", "format",
                             "FORMAT must be image/png or image/jpeg");
    const auto row = parse_int(p.get("TILEROW"), 0, 1L << 30);
    const auto col = parse_int(p.get("TILECOL"), 0, 1L << 30);
    if (!row)
        return ows_exception("InvalidParameterValue", "tilerow", "TILEROW must be a whole number");
    if (!col)
        return ows_exception("InvalidParameterValue", "tilecol", "TILECOL must be a whole number");
    const TileAddress at{p.get("TILEMATRIXSET"),
                         p.get("TILEMATRIX"),
                         static_cast<long>(*row),
                         static_cast<long>(*col),
                         1,
                         format == "image/jpeg" ? TileFormat::jpeg : TileFormat::png};
    return tile_answer(site_, tiles_, r, at, TileErrors::ows);
}

Response Wmts::rest(const Request& r, const std::string& rest) {
    // {layer}/{style}/{set}/{matrix}/{row}/{col}.png, or {col}@2x.png, or .jpg
    const auto parts = split(rest, '/');
    if (parts.size() != 6 || !has_tile_extension(parts[5]))
        return ows_exception("InvalidParameterValue", "path",
                             "unknown resource /wmts/1.0.0/" + rest);
    if (parts[0] != "map") return ows_exception("InvalidParameterValue", "layer", "unknown layer");
    if (parts[1] != "default")
        return ows_exception("InvalidParameterValue", "style", "unknown style");
    const auto row = tile_index(parts[4], "");
    const auto col = parse_tile_name(parts[5]);
    if (!row || !col)
        return ows_exception("InvalidParameterValue", "TileRow", "bad tile row or column");
    const TileAddress at{parts[2], parts[3], *row, col->number, col->factor, col->format};
    return tile_answer(site_, tiles_, r, at, TileErrors::ows);
}

Response Wmts::xyz(const Request& r, const std::string& rest) {
    // {native|google}/{z}/{x}/{y}.png, or {y}@2x.png, or .jpg
    const auto parts = split(rest, '/');
    if (parts.size() != 4 || !has_tile_extension(parts[3]))
        return answer(404, "no such tile address\n");
    const auto x = tile_index(parts[2], "");
    const auto y = parse_tile_name(parts[3]);
    if (!x || !y || parse_int(parts[1], 0, 30) == std::nullopt)
        return answer(404, "no such tile\n");
    const std::string set = parts[0] == "google"   ? "GoogleMapsCompatible"
                            : parts[0] == "native" ? "native"
                                                   : "";
    if (set.empty()) return answer(404, "unknown tile set\n");
    const TileAddress at{set, parts[1], y->number, *x, y->factor, y->format};
    return tile_answer(site_, tiles_, r, at, TileErrors::plain);
}

std::optional<Response> Wmts::tilejson(const Request& r, const std::string& name) {
    const bool google = name == "google";
    if (!google && name != "native") return std::nullopt;
    const TileMatrixSet* s = tiles_.set(google ? "GoogleMapsCompatible" : "native");
    if (!s || s->matrices().empty()) return std::nullopt;
    const Box& ll = data_.extent_lonlat();
    const std::string base = base_url(r);
    const int maxzoom = s->matrices().back().level;
    // The centre at a level that shows a good part of the data set: the middle one.
    const int centre_zoom = google ? 14 : maxzoom / 2;
    Json doc = {
        {"tilejson", "3.0.0"},
        {"name", "kestrel map (" + name + ")"},
        {"description", google ? "The data set's map in 256-pixel Web Mercator tiles "
                                 "(GoogleMapsCompatible, EPSG:3857)"
                               : "The data set's map in 256-pixel tiles of its own grid (" +
                                     data_.native().name() + "), levels 128 to 1 m a pixel"},
        {"version", KSERVE_VERSION},
        {"attribution", "Map data: the kestrel data set"},
        {"scheme", "xyz"},
        {"tiles", {base + "/tiles/" + name + "/{z}/{x}/{y}.png"}},
        {"minzoom", 0},
        {"maxzoom", maxzoom},
        {"bounds",
         {json_number(ll.minx), json_number(ll.miny), json_number(ll.maxx), json_number(ll.maxy)}},
        {"center",
         {json_number((ll.minx + ll.maxx) / 2), json_number((ll.miny + ll.maxy) / 2),
          centre_zoom}}};
    if (!google) {
        // Not TileJSON's own keys: clients need the grid and its matrices to use these tiles.
        doc["crs"] = data_.native().name();
        doc["tile_matrix_set"] = base + "/ogcapi/tileMatrixSets/native";
    }
    Response res = json_answer(200, doc);
    res.cache_control = "public, max-age=300";
    return res;
}

}  // namespace kserve
