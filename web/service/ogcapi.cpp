// ogcapi.cpp: OGC API Common, Maps, Tiles and Features over the service's maps, tiles and the
// data set's features.
#include "service/ogcapi.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "kcommon/etag.h"
#include "kmaps/render.h"
#include "service/json.h"
#include "service/xml.h"

namespace kserve {

using kmaps::draw_map_file;
using kmaps::Feature;
using kmaps::FeatureCursor;
using kmaps::FeaturePage;
using kmaps::FeatureQuery;
using kmaps::kMaxScale;
using kmaps::kMaxSide;
using kmaps::kMinScale;
using kmaps::kTileSize;
using kmaps::kWhite;
using kmaps::Layers;
using kmaps::map_cost;
using kmaps::MapFile;
using kmaps::TileFormat;
using kmaps::TileMatrixSet;
using kmaps::transform_box;
using kmaps::transform_points;

namespace {

constexpr const char* kRel = "http://www.opengis.net/def/rel/ogc/1.0/";
constexpr const char* kOpenApiType = "application/vnd.oai.openapi+json;version=3.0";
constexpr const char* kWebMercatorQuad = "WebMercatorQuad";

const char* const kConformance[] = {
    "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/core",
    "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/landing-page",
    "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/json",
    "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/html",
    "http://www.opengis.net/spec/ogcapi-common-1/1.0/conf/oas30",
    "http://www.opengis.net/spec/ogcapi-common-2/1.0/conf/collections",
    "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/core",
    "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/crs",
    "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/spatial-subsetting",
    "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/scaling",
    "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/background",
    "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/png",
    "http://www.opengis.net/spec/ogcapi-maps-1/1.0/conf/jpeg",
    "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/core",
    "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/tileset",
    "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/tilesets-list",
    "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/geodata-tilesets",
    "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/png",
    "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/jpeg",
    "http://www.opengis.net/spec/ogcapi-tiles-1/1.0/conf/oas30",
    "http://www.opengis.net/spec/tms/2.0/conf/tilematrixset",
    "http://www.opengis.net/spec/tms/2.0/conf/json-tilematrixset",
    "http://www.opengis.net/spec/ogcapi-features-1/1.0/conf/core",
    "http://www.opengis.net/spec/ogcapi-features-1/1.0/conf/geojson",
    "http://www.opengis.net/spec/ogcapi-features-1/1.0/conf/oas30",
    "http://www.opengis.net/spec/ogcapi-features-2/1.0/conf/crs",
};

// ---- coordinate systems -------------------------------------------------------------------

// The URI of an offered system: CRS84, or the EPSG register's.
std::string crs_uri(const Crs& crs) {
    return kmaps::crs_uri(crs.name());
}

// The system a `crs` or `bbox-crs` value names: CRS84, the grid or EPSG:3857, by URI (or as
// a safe CURIE "[EPSG:3857]"); null for anything else.
std::shared_ptr<Crs> crs_named(const DataSet& data, const std::string& v) {
    const auto name = kmaps::crs_name_of(v);
    if (!name) return nullptr;
    if (*name != kmaps::kCrs84 && *name != data.native().name() && *name != kmaps::kWebMercator)
        return nullptr;
    return data.system(*name);
}

// A point in a system's axis order (northing first where the system says so), with 10
// significant digits (a centimetre), or every digit when `exact`.
Json point_json(const Crs& crs, double x, double y, bool exact = false) {
    if (crs.north_first()) std::swap(x, y);
    if (exact) return Json::array({x, y});
    return Json::array({json_number(x), json_number(y)});
}

// ---- links and pages ----------------------------------------------------------------------

Json link(const std::string& href, const char* rel, const char* type, const std::string& title) {
    Json l = {{"href", href}, {"rel", rel}, {"type", type}};
    if (!title.empty()) l["title"] = title;
    return l;
}

// A query string value, percent-encoded.
std::string escape(const std::string& s) {
    static const char* hex = "0123456789ABCDEF";
    std::string o;
    for (unsigned char c : s) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~' || c == ',' ||
            c == ':' || c == '/') {
            o += static_cast<char>(c);
        } else {
            o += '%';
            o += hex[c >> 4];
            o += hex[c & 15];
        }
    }
    return o;
}

// True when the answer is to be HTML: f=html, or no f and a browser's Accept.
bool wants_html(const Request& r, const Params& p) {
    if (p.has("F")) return lower(p.get("F")) == "html";
    const std::string accept = lower(r.accept);
    const size_t html = accept.find("text/html");
    const size_t json = accept.find("json");
    return html != std::string::npos && (json == std::string::npos || html < json);
}

// A JSON document, or for a browser a page with its title, description and links, and the
// document itself.
Response document(const Request& r, const Params& p, const Json& doc,
                  const char* type = "application/json") {
    if (p.has("F")) {
        const std::string f = lower(p.get("F"));
        if (f != "json" && f != "html") return json_problem(400, "f must be json or html");
    }
    if (!wants_html(r, p)) {
        Response res = json_answer(200, doc);
        res.content_type = type;
        return res;
    }
    std::ostringstream o;
    const std::string title = doc.contains("title") && doc["title"].is_string()
                                  ? doc["title"].get<std::string>()
                                  : std::string("kestrel OGC API");
    o << "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
         "<meta name=\"viewport\" content=\"width=device-width\"><title>"
      << html_escape(title) << "</title></head><body>\n<h1>" << html_escape(title) << "</h1>\n";
    if (doc.contains("description") && doc["description"].is_string())
        o << "<p>" << html_escape(doc["description"].get<std::string>()) << "</p>\n";
    auto links = [&](const Json& list) {
        if (!list.is_array()) return;
        o << "<ul>\n";
        for (const auto& l : list) {
            if (!l.contains("href")) continue;
            const std::string href = l["href"].get<std::string>();
            std::string shown = l.contains("title") ? l["title"].get<std::string>() : href;
            o << "<li><a href=\"" << html_escape(href) << "\">" << html_escape(shown) << "</a> ("
              << html_escape(l.value("rel", "")) << ", " << html_escape(l.value("type", ""))
              << ")</li>\n";
        }
        o << "</ul>\n";
    };
    if (doc.contains("links")) links(doc["links"]);
    if (doc.contains("collections"))
        for (const auto& c : doc["collections"]) {
            o << "<h2>" << html_escape(c.value("title", c.value("id", ""))) << "</h2>\n";
            if (c.contains("links")) links(c["links"]);
        }
    o << "<pre>" << html_escape(doc.dump(2, ' ', false, Json::error_handler_t::replace))
      << "</pre>\n</body></html>\n";
    return answer(200, o.str(), "text/html; charset=utf-8");
}

// Refuses parameters that the resource does not define (OGC API answers them with 400).
std::optional<Response> unknown_parameters(const Params& p,
                                           std::initializer_list<const char*> known) {
    for (const auto& [key, value] : p.all()) {
        bool ok = false;
        for (const char* k : known) ok = ok || key == k;
        if (!ok) return json_problem(400, "unknown parameter " + lower(key));
    }
    return std::nullopt;
}

}  // namespace

// ---- the resources ------------------------------------------------------------------------

Json OgcApi::collection(const std::string& base, const std::string& id) const {
    const std::string self = base + "/collections/" + id;
    Json c = {{"id", id}};
    Json links = {link(self, "self", "application/json", "this collection"),
                  link(self + "?f=html", "alternate", "text/html", "this collection as HTML")};
    if (id == "map") {
        c["title"] = "Map";
        c["description"] =
            "The data set's map: roads, areas and place names, drawn by the engine. As "
            "features it is empty: the roads and points of interest are collections of "
            "their own";
        c["dataType"] = "map";
        for (const char* type : {"image/png", "image/jpeg", "image/gif", "image/bmp"})
            links.push_back(link(self + "/map", (std::string(kRel) + "map").c_str(), type,
                                 std::string("the map as ") + type));
        links.push_back(link(self + "/map/tiles", (std::string(kRel) + "tilesets-map").c_str(),
                             "application/json", "the map's tile sets"));
        links.push_back(link(self + "/tiles", (std::string(kRel) + "tilesets-vector").c_str(),
                             "application/json", "the data set's vector tile sets"));
        // Features clients read every collection as one of features (OGC API Features:
        // a collection without itemType holds features; GDAL's and QGIS's clients list
        // them all): the map's holds none, and says so.
        c["itemType"] = "feature";
        links.push_back(link(self + "/items", "items", "application/geo+json",
                             "no features: the map is a picture"));
    } else {
        c["title"] = id == "roads" ? "Roads" : "Points of interest";
        c["description"] = id == "roads" ? "Roads of the tile files: name, district, type "
                                           "and code, as lines"
                                         : "Points of interest: name, category, district "
                                           "and note";
        c["itemType"] = "feature";
        links.push_back(link(self + "/items", "items", "application/geo+json", "the features"));
    }
    const Box& ll = data_.extent_lonlat();
    const Json bbox84 = {json_number(ll.minx), json_number(ll.miny), json_number(ll.maxx),
                         json_number(ll.maxy)};
    const std::string native_uri = crs_uri(data_.native());
    c["extent"] = {
        {"spatial", {{"bbox", Json::array({bbox84})}, {"crs", kmaps::crs_uri(kmaps::kCrs84)}}}};
    c["crs"] = {kmaps::crs_uri(kmaps::kCrs84), native_uri, crs_uri(data_.mercator())};
    c["storageCrs"] = native_uri;
    c["links"] = std::move(links);
    return c;
}

Response OgcApi::handle(const Request& r, const std::string& path, const Params& p,
                        const CheckedMap* checked) {
    const auto parts = split(path.empty() ? std::string() : path.substr(1), '/');
    if (parts.empty() || (parts.size() == 1 && parts[0].empty())) return landing(r, p);
    const std::string& top = parts[0];
    if (top == "conformance" && parts.size() == 1) {
        if (auto bad = unknown_parameters(p, {"F"})) return *bad;
        Json list = Json::array();
        for (const char* c : kConformance) list.push_back(c);
        return document(r, p, Json{{"title", "Conformance"}, {"conformsTo", std::move(list)}});
    }
    if (top == "api" && parts.size() == 1) {
        if (auto bad = unknown_parameters(p, {"F"})) return *bad;
        return document(r, p, openapi_document(base_url(r) + "/ogcapi", site_), kOpenApiType);
    }
    if (top == "collections") return collections(r, path, parts, p, checked);
    if (top == "tileMatrixSets") return tile_matrix_sets(r, path, parts, p);
    return json_problem(404, "no resource /ogcapi" + path);
}

Response OgcApi::landing(const Request& r, const Params& p) const {
    if (auto bad = unknown_parameters(p, {"F"})) return *bad;
    const std::string base = base_url(r) + "/ogcapi";
    Json doc = {
        {"title", "kestrel map service"},
        {"description",
         "The map, its tiles, and its roads and points of interest as "
         "features, by OGC API Maps, Tiles and Features"},
        {"links",
         {link(base, "self", "application/json", "this document"),
          link(base + "?f=html", "alternate", "text/html", "this document as HTML"),
          link(base + "/api", "service-desc", kOpenApiType, "the API definition"),
          link(base + "/conformance", "conformance", "application/json", "the conformance classes"),
          link(base + "/collections", "data", "application/json", "the collections"),
          link(base + "/tileMatrixSets", (std::string(kRel) + "tiling-schemes").c_str(),
               "application/json", "the tile matrix sets")}}};
    return document(r, p, doc);
}

Response OgcApi::collections(const Request& r, const std::string& path,
                             const std::vector<std::string>& parts, const Params& p,
                             const CheckedMap* checked) {
    const std::string base = base_url(r) + "/ogcapi";
    if (parts.size() == 1) {
        if (auto bad = unknown_parameters(p, {"F"})) return *bad;
        return document(
            r, p,
            Json{{"title", "Collections"},
                 {"links",
                  {link(base + "/collections", "self", "application/json", "this document"),
                   link(base + "/collections?f=html", "alternate", "text/html",
                        "this document as HTML")}},
                 {"collections",
                  {collection(base, "map"), collection(base, "roads"), collection(base, "pois")}}});
    }
    const std::string& id = parts[1];
    if (id != "map" && id != "roads" && id != "pois")
        return json_problem(404, "no collection " + id);
    if (parts.size() == 2) {
        if (auto bad = unknown_parameters(p, {"F"})) return *bad;
        return document(r, p, collection(base, id));
    }
    if (id == "map" && parts[2] == "map") {
        if (parts.size() == 3) {
            if (checked) return map(r, *checked);
            return map(r, check_map(p));
        }
        if (parts[3] == "tiles") return tiles(r, parts, p);
    }
    if (parts[2] == "items") {
        if (parts.size() == 3) return items(r, id, p);
        if (parts.size() == 4) return item(r, id, parts[3], p);
    }
    return json_problem(404, "no resource " + path);
}

Response OgcApi::tile_matrix_sets(const Request& r, const std::string& path,
                                  const std::vector<std::string>& parts, const Params& p) {
    const std::string base = base_url(r) + "/ogcapi";
    if (auto bad = unknown_parameters(p, {"F"})) return *bad;
    auto ogc_id = [](const TileMatrixSet& s) {
        return s.id() == "GoogleMapsCompatible" ? std::string(kWebMercatorQuad) : s.id();
    };
    if (parts.size() == 1) {
        Json list = Json::array();
        for (const auto& s : tiles_.sets()) {
            const std::string id = ogc_id(s);
            Json item = {{"id", id},
                         {"title", id == kWebMercatorQuad ? "Google Maps Compatible for the "
                                                            "World"
                                                          : "The data set's grid"}};
            if (id == kWebMercatorQuad)
                item["uri"] = "http://www.opengis.net/def/tilematrixset/OGC/1.0/" + id;
            std::string self = base;
            self.append("/tileMatrixSets/").append(id);
            item["links"] = {link(self, "self", "application/json", "the tile matrix set")};
            list.push_back(std::move(item));
        }
        return document(
            r, p,
            Json{{"title", "Tile matrix sets"},
                 {"links",
                  {link(base + "/tileMatrixSets", "self", "application/json", "this document")}},
                 {"tileMatrixSets", std::move(list)}});
    }
    if (parts.size() == 2) {
        for (const auto& s : tiles_.sets()) {
            if (ogc_id(s) != parts[1]) continue;
            const auto crs = data_.system(s.crs());
            const bool mercator = ogc_id(s) == kWebMercatorQuad;
            // "type" as the 1.0 encoding had it: GDAL 3.6 takes a document without it
            // for the name of a file.
            Json doc = {{"type", "TileMatrixSetType"},
                        {"id", ogc_id(s)},
                        {"title", mercator ? "Google Maps Compatible for the World"
                                           : "The data set's grid, 128 to 1 m a pixel"}};
            if (mercator) {
                doc["uri"] = "http://www.opengis.net/def/tilematrixset/OGC/1.0/" + ogc_id(s);
                doc["wellKnownScaleSet"] =
                    "http://www.opengis.net/def/wkss/OGC/1.0/GoogleMapsCompatible";
            }
            doc["crs"] = crs_uri(*crs);
            doc["orderedAxes"] = mercator          ? Json{"X", "Y"}
                                 : s.north_first() ? Json{"N", "E"}
                                                   : Json{"E", "N"};
            // The matrices as the 2.0 encoding has them ("tileMatrices"), and again as the
            // 1.0 one did ("tileMatrix", "supportedCRS"), which GDAL 3.6 reads. Clients of
            // either take their keys and leave the others.
            Json matrices = Json::array();
            Json matrices10 = Json::array();
            for (const auto& m : s.matrices()) {
                const Json origin = point_json(*crs, m.left, m.top, true);
                matrices.push_back({{"id", std::to_string(m.level)},
                                    {"scaleDenominator", m.scale_denominator()},
                                    {"cellSize", m.resolution},
                                    {"cornerOfOrigin", "topLeft"},
                                    {"pointOfOrigin", origin},
                                    {"tileWidth", kTileSize},
                                    {"tileHeight", kTileSize},
                                    {"matrixWidth", m.cols},
                                    {"matrixHeight", m.rows}});
                matrices10.push_back({{"identifier", std::to_string(m.level)},
                                      {"scaleDenominator", m.scale_denominator()},
                                      {"topLeftCorner", origin},
                                      {"tileWidth", kTileSize},
                                      {"tileHeight", kTileSize},
                                      {"matrixWidth", m.cols},
                                      {"matrixHeight", m.rows}});
            }
            doc["identifier"] = ogc_id(s);
            doc["supportedCRS"] = crs_uri(*crs);
            doc["tileMatrix"] = std::move(matrices10);
            doc["tileMatrices"] = std::move(matrices);
            return document(r, p, doc);
        }
        return json_problem(404, "no tile matrix set " + parts[1]);
    }
    return json_problem(404, "no resource /ogcapi" + path);
}

// ---- Maps ---------------------------------------------------------------------------------

std::optional<Response> OgcApi::read_map(const Params& p, MapRequest& m) const {
    if (auto bad = unknown_parameters(
            p, {"BBOX", "BBOX-CRS", "CRS", "WIDTH", "HEIGHT", "F", "TRANSPARENT", "BGCOLOR"}))
        return bad;
    std::shared_ptr<Crs> bbox_crs = data_.system(kmaps::kCrs84);
    if (p.has("BBOX-CRS") && !(bbox_crs = crs_named(data_, p.get("BBOX-CRS"))))
        return json_problem(400, "bbox-crs must be " + kmaps::crs_uri(kmaps::kCrs84) + ", " +
                                     crs_uri(data_.native()) + " or " + crs_uri(data_.mercator()));
    std::shared_ptr<Crs> crs = bbox_crs;
    if (p.has("CRS") && !(crs = crs_named(data_, p.get("CRS"))))
        return json_problem(400, "crs must be " + kmaps::crs_uri(kmaps::kCrs84) + ", " +
                                     crs_uri(data_.native()) + " or " + crs_uri(data_.mercator()));
    Box box{};
    if (p.has("BBOX")) {
        const auto b = parse_box(p.get("BBOX"));
        if (!b) return json_problem(400, "bbox must be minx,miny,maxx,maxy with min < max");
        box = *b;
        if (bbox_crs->north_first()) box = {b->miny, b->minx, b->maxy, b->maxx};
        const double limit = bbox_crs->geographic() ? 360.0 : 1e8;
        if (std::fabs(box.minx) > limit || std::fabs(box.maxx) > limit ||
            std::fabs(box.miny) > limit || std::fabs(box.maxy) > limit)
            return json_problem(400, "bbox lies outside its coordinate system");
        if (bbox_crs->name() != crs->name()) {
            const auto t = transform_box(*bbox_crs, *crs, box);
            if (!t) return json_problem(400, "bbox cannot be expressed in the map's crs");
            box = *t;
        }
    } else {
        const auto t = crs->name() == data_.native().name()
                           ? std::optional<Box>(data_.extent())
                           : transform_box(data_.native(), *crs, data_.extent());
        if (!t)
            return json_problem(500,
                                "the data set's extent cannot be expressed in " + crs_uri(*crs));
        box = *t;
    }
    // Width and height: as given; one of them missing follows the box's aspect; both missing,
    // the longer side is 1024 pixels.
    std::optional<long long> w, h;
    if (p.has("WIDTH") && !(w = parse_int(p.get("WIDTH"), 1, kMaxSide)))
        return json_problem(400, "width must be 1 to " + std::to_string(kMaxSide));
    if (p.has("HEIGHT") && !(h = parse_int(p.get("HEIGHT"), 1, kMaxSide)))
        return json_problem(400, "height must be 1 to " + std::to_string(kMaxSide));
    const double aspect = (box.maxx - box.minx) / (box.maxy - box.miny);
    auto side = [](double v) {
        return static_cast<long long>(std::clamp(std::lround(v), 1L, long{kMaxSide}));
    };
    if (!w && !h) {
        if (aspect >= 1) {
            w = 1024;
        } else {
            h = 1024;
        }
    }
    if (!w) w = side(static_cast<double>(*h) * aspect);
    if (!h) h = side(static_cast<double>(*w) / aspect);
    if (!crs->geographic()) {
        const double sx = (box.maxx - box.minx) / static_cast<double>(*w);
        const double sy = (box.maxy - box.miny) / static_cast<double>(*h);
        if (sx < kMinScale || sy < kMinScale || sx > kMaxScale || sy > kMaxScale)
            return json_problem(400, "the map's scale must lie between " + fmt(kMinScale) +
                                         " and " + fmt(kMaxScale) + " metres per pixel");
    }
    std::string format = p.has("F") ? lower(p.get("F")) : "png";
    if (format.rfind("image/", 0) == 0) format = format.substr(6);
    if (format != "png" && format != "jpeg" && format != "gif" && format != "bmp")
        return json_problem(400, "f must be png, jpeg, gif or bmp");
    format = "image/" + format;
    auto transparent = parse_flag(p.get("TRANSPARENT"), false);
    if (!transparent) return json_problem(400, "transparent must be true or false");
    // JPEG has no transparency: its map is drawn on bgcolor, as a WMS does.
    if (format == "image/jpeg") transparent = false;
    unsigned background = kWhite;
    if (p.has("BGCOLOR")) {
        const auto c = parse_colour(p.get("BGCOLOR"));
        if (!c) return json_problem(400, "bgcolor must be 0xRRGGBB");
        background = *c;
    }

    m.crs = std::move(crs);
    m.box = box;
    m.width = static_cast<int>(*w);
    m.height = static_cast<int>(*h);
    m.format = std::move(format);
    m.transparent = *transparent;
    m.background = background;
    return std::nullopt;
}

CheckedMap OgcApi::check_map(const Params& p) const {
    CheckedMap checked;
    MapRequest m;
    if (auto bad = read_map(p, m)) {
        checked.refusal = std::move(*bad);
        return checked;
    }
    checked.cost = map_cost(data_, *m.crs, m.box, m.width, m.height);
    checked.map = std::move(m);
    return checked;
}

Response OgcApi::map(const Request& r, const CheckedMap& checked) {
    if (!checked.map) return checked.refusal;
    const MapRequest& m = *checked.map;
    if (checked.cost > site_.map_budget()) {
        if (Metrics* metrics = site_.metrics()) metrics->maps_over_budget.fetch_add(1);
        return json_problem(400, site_.over_budget(checked.cost));
    }
    const Crs& crs = *m.crs;
    const Box& box = m.box;
    Response res;
    std::ostringstream key;
    key << "ogcmap|" << crs.name() << '|' << fmt(box.minx) << ',' << fmt(box.miny) << ','
        << fmt(box.maxx) << ',' << fmt(box.maxy) << '|' << m.width << 'x' << m.height << '|'
        << m.format << '|' << m.transparent << '|' << m.background;
    res.etag = site_.etag(key.str());
    res.cache_control = "public, max-age=300";
    const Json shown = {
        point_json(crs, box.minx, box.miny)[0], point_json(crs, box.minx, box.miny)[1],
        point_json(crs, box.maxx, box.maxy)[0], point_json(crs, box.maxx, box.maxy)[1]};
    std::string bbox_text;
    for (const auto& v : shown) bbox_text += (bbox_text.empty() ? "" : ",") + v.dump();
    res.headers = {{"Content-Crs", "<" + crs_uri(crs) + ">"}, {"Content-Bbox", bbox_text}};
    if (kcommon::if_none_match(r.if_none_match, res.etag)) {
        res.status = 304;
        if (site_.metrics()) site_.metrics()->not_modified.fetch_add(1);
        return res;
    }
    Layers layers;
    layers.map = true;
    MapFile file = draw_map_file(data_, crs, box, m.width, m.height, layers, m.format,
                                 m.transparent, m.background);
    if (file.body.empty()) {
        Response e = json_problem(file.status, file.error);
        e.headers = std::move(res.headers);
        return e;
    }
    res.body = std::move(file.body);
    res.content_type = m.format;
    return res;
}

// ---- Tiles --------------------------------------------------------------------------------

Response OgcApi::tiles(const Request& r, const std::vector<std::string>& parts, const Params& p) {
    // parts: collections map map tiles [{set} [{matrix} {row} {col}]]
    const std::string base = base_url(r) + "/ogcapi/collections/map/map/tiles";
    auto set_of = [&](const std::string& ogc_id) -> const TileMatrixSet* {
        if (ogc_id == kWebMercatorQuad) return tiles_.set("GoogleMapsCompatible");
        if (ogc_id == "GoogleMapsCompatible") return nullptr;
        return tiles_.set(ogc_id);
    };
    auto tileset = [&](const TileMatrixSet& s, const std::string& id, bool full) {
        const auto crs = data_.system(s.crs());
        Json t = {
            {"title", "The map in tiles of " + id}, {"dataType", "map"}, {"crs", crs_uri(*crs)}};
        // The registered set by its register's URI; the grid's own by its definition here.
        t["tileMatrixSetURI"] = id == kWebMercatorQuad
                                    ? "http://www.opengis.net/def/tilematrixset/OGC/1.0/" + id
                                    : base_url(r) + "/ogcapi/tileMatrixSets/" + id;
        Json links = {link(base + "/" + id, "self", "application/json", "this tile set"),
                      link(base_url(r) + "/ogcapi/tileMatrixSets/" + id,
                           (std::string(kRel) + "tiling-scheme").c_str(), "application/json",
                           "the tile matrix set")};
        if (full) {
            // PNG last: OpenLayers' OGCMapTile, asked for no type, takes the last template of
            // a type it knows, and PNG is the exact picture, transparent outside the data set.
            for (const char* f : {"jpeg", "png"}) {
                const std::string type = std::string("image/") + f;
                std::string href = base;
                href.append("/").append(id).append("/{tileMatrix}/{tileRow}/{tileCol}");
                if (type == "image/jpeg") href += "?f=jpeg";
                Json item = link(href, "item", type.c_str(), "a tile as " + type);
                item["templated"] = true;
                links.push_back(std::move(item));
            }
            // The tiles that hold the data set: its extent in the set's system, at the levels
            // where it covers at least two pixels each way (at the others the data set is a
            // speck: clients such as GDAL cannot cut a window of it).
            const auto box = s.native_grid() ? std::optional<Box>(data_.extent())
                                             : std::optional<Box>(data_.extent_mercator());
            Json limits = Json::array();
            for (const auto& m : s.matrices()) {
                if (box->maxx - box->minx < 2 * m.resolution ||
                    box->maxy - box->miny < 2 * m.resolution)
                    continue;
                const double span = kTileSize * m.resolution;
                auto clampl = [](double v, long hi) {
                    return std::clamp(static_cast<long>(std::floor(v)), 0L, hi);
                };
                limits.push_back(
                    {{"tileMatrix", std::to_string(m.level)},
                     {"minTileRow", clampl((m.top - box->maxy) / span, m.rows - 1)},
                     {"maxTileRow", clampl((m.top - box->miny) / span - 1e-9, m.rows - 1)},
                     {"minTileCol", clampl((box->minx - m.left) / span, m.cols - 1)},
                     {"maxTileCol", clampl((box->maxx - m.left) / span - 1e-9, m.cols - 1)}});
            }
            t["tileMatrixSetLimits"] = std::move(limits);
            t["boundingBox"] = {{"lowerLeft", point_json(*crs, box->minx, box->miny)},
                                {"upperRight", point_json(*crs, box->maxx, box->maxy)},
                                {"crs", crs_uri(*crs)}};
        }
        t["links"] = std::move(links);
        return t;
    };
    if (parts.size() == 4) {
        if (auto bad = unknown_parameters(p, {"F"})) return *bad;
        Json list = Json::array();
        list.push_back(tileset(*set_of(kWebMercatorQuad), kWebMercatorQuad, false));
        list.push_back(tileset(*set_of("native"), "native", false));
        return document(r, p,
                        Json{{"title", "The map's tile sets"},
                             {"links", {link(base, "self", "application/json", "this document")}},
                             {"tilesets", std::move(list)}});
    }
    const TileMatrixSet* s = set_of(parts[4]);
    if (!s) return json_problem(404, "no tile matrix set " + parts[4]);
    if (parts.size() == 5) {
        if (auto bad = unknown_parameters(p, {"F"})) return *bad;
        return document(r, p, tileset(*s, parts[4], true));
    }
    if (parts.size() != 8)
        return json_problem(404, "a tile is .../{tileMatrix}/{tileRow}/{tileCol}");
    if (auto bad = unknown_parameters(p, {"F"})) return *bad;
    const std::string f = p.has("F") ? lower(p.get("F")) : "png";
    if (f != "png" && f != "jpeg") return json_problem(400, "f must be png or jpeg");
    const auto row = tile_index(parts[6], "");
    const auto col = tile_index(parts[7], "");
    if (!row || !col) return json_problem(400, "tileRow and tileCol must be whole numbers");
    const TileAddress at{s->id(), parts[5], *row,
                         *col,    1,        f == "jpeg" ? TileFormat::jpeg : TileFormat::png};
    return tile_answer(site_, tiles_, r, at, TileErrors::problem);
}

// ---- Features -----------------------------------------------------------------------------

namespace {

// The features as GeoJSON features with their coordinates in `crs`; false when they cannot
// be expressed in it.
bool features_json(const std::vector<Feature>& features, bool pois, const DataSet& data,
                   const Crs& crs, Json& out) {
    std::vector<std::pair<double, double>> all;
    for (const auto& f : features) all.insert(all.end(), f.points.begin(), f.points.end());
    if (crs.name() != data.native().name() && !transform_points(data.native(), crs, all))
        return false;
    size_t at = 0;
    out = Json::array();
    for (const auto& f : features) {
        Json coords = Json::array();
        for (size_t k = 0; k < f.points.size(); ++k, ++at)
            coords.push_back(point_json(crs, all[at].first, all[at].second));
        auto text = [](const std::string& s) { return s.empty() ? Json(nullptr) : Json(s); };
        Json properties = pois ? Json{{"name", text(f.name)},
                                      {"category", f.type},
                                      {"district", f.district},
                                      {"note", text(f.code)}}
                               : Json{{"name", text(f.name)},
                                      {"district", f.district},
                                      {"type", f.type},
                                      {"code", text(f.code)}};
        out.push_back({{"type", "Feature"},
                       {"id", f.id},
                       {"geometry",
                        {{"type", pois ? "Point" : "LineString"},
                         {"coordinates", pois ? coords[0] : coords}}},
                       {"properties", std::move(properties)}});
    }
    return true;
}

}  // namespace

Response OgcApi::items(const Request& r, const std::string& collection, const Params& p) {
    if (auto bad = unknown_parameters(p, {"BBOX", "BBOX-CRS", "CRS", "LIMIT", "CURSOR", "F"}))
        return *bad;
    if (p.has("F")) {
        const std::string f = lower(p.get("F"));
        if (f != "json" && f != "geojson") return json_problem(400, "f must be json or geojson");
    }
    std::shared_ptr<Crs> crs = data_.system(kmaps::kCrs84);
    if (p.has("CRS") && !(crs = crs_named(data_, p.get("CRS"))))
        return json_problem(400, "crs must be " + kmaps::crs_uri(kmaps::kCrs84) + ", " +
                                     crs_uri(data_.native()) + " or " + crs_uri(data_.mercator()));
    std::shared_ptr<Crs> bbox_crs = data_.system(kmaps::kCrs84);
    if (p.has("BBOX-CRS") && !(bbox_crs = crs_named(data_, p.get("BBOX-CRS"))))
        return json_problem(400, "bbox-crs must be " + kmaps::crs_uri(kmaps::kCrs84) + ", " +
                                     crs_uri(data_.native()) + " or " + crs_uri(data_.mercator()));
    if (p.has("BBOX-CRS") && !p.has("BBOX")) return json_problem(400, "bbox-crs without bbox");
    int limit = kDefaultLimit;
    if (p.has("LIMIT")) {
        // A limit above the most a page holds counts as that most, however many digits it has.
        const std::string& text = p.get("LIMIT");
        const bool digits =
            !text.empty() && text.size() <= 64 &&
            std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
        const auto l = parse_int(text, 1, 1000000000);
        if (!l && !(digits && text.find_first_not_of('0') != std::string::npos && text.size() > 9))
            return json_problem(400, "limit must be a whole number from 1");
        limit = l ? static_cast<int>(std::min<long long>(*l, kMaxLimit)) : kMaxLimit;
    }
    FeatureCursor from;
    if (p.has("CURSOR")) {
        const auto parts = split(p.get("CURSOR"), '.');
        const auto block = parts.size() == 2 ? parse_int(parts[0], 0, 1L << 31) : std::nullopt;
        const auto index = parts.size() == 2 ? parse_int(parts[1], 0, 1L << 31) : std::nullopt;
        if (!block || !index)
            return json_problem(400, "cursor must be as a next link gives it (BLOCK.INDEX)");
        from = {*block, *index};
    }
    // The features that meet the box in its own system; none when the box misses the data set.
    FeatureQuery selection = FeatureQuery::everything();
    bool none = false;
    if (p.has("BBOX")) {
        const auto b = parse_box(p.get("BBOX"));
        if (!b) return json_problem(400, "bbox must be minx,miny,maxx,maxy with min < max");
        Box box = *b;
        if (bbox_crs->north_first()) box = {b->miny, b->minx, b->maxy, b->maxx};
        const double lim = bbox_crs->geographic() ? 360.0 : 1e8;
        if (std::fabs(box.minx) > lim || std::fabs(box.maxx) > lim || std::fabs(box.miny) > lim ||
            std::fabs(box.maxy) > lim)
            return json_problem(400, "bbox lies outside its coordinate system");
        selection.box = selection.grid = box;
        if (bbox_crs->name() != data_.native().name()) {
            // The features are looked for in the envelope in the grid of the part over the
            // data set (outside it there are none), with room for the edges' curves between
            // the points transform_box follows; each is then tested in the box's system.
            const Box& e = bbox_crs->geographic() ? data_.extent_lonlat() : data_.extent_mercator();
            const Box over{std::max(box.minx, e.minx), std::max(box.miny, e.miny),
                           std::min(box.maxx, e.maxx), std::min(box.maxy, e.maxy)};
            const auto t = over.minx < over.maxx && over.miny < over.maxy
                               ? transform_box(*bbox_crs, data_.native(), over)
                               : std::nullopt;
            none = !t;
            if (t) {
                const double room = 1 + std::max(t->maxx - t->minx, t->maxy - t->miny) / 1000;
                selection.grid = {t->minx - room, t->miny - room, t->maxx + room, t->maxy + room};
            }
            selection.to_box = [this,
                                to = bbox_crs](std::vector<std::pair<double, double>>& points) {
                return transform_points(data_.native(), *to, points);
            };
        }
    }
    const bool pois = collection == "pois";
    FeaturePage page;
    // The map's collection holds no features: Features clients that list it read an empty page.
    if (!none && collection != "map")
        page =
            pois ? features_.pois(selection, from, limit) : features_.roads(selection, from, limit);
    Json list;
    if (!features_json(page.features, pois, data_, *crs, list))
        return json_problem(500, "the features cannot be expressed in " + crs_uri(*crs));

    // Links: this page, and the next one with the same parameters and the next cursor.
    std::string query;
    for (const auto& [key, value] : p.all())
        if (key != "CURSOR") query += "&" + lower(key) + "=" + escape(value);
    const std::string items_url = base_url(r) + "/ogcapi/collections/" + collection + "/items";
    auto page_url = [&](const std::string& cursor) {
        const std::string q = query + (cursor.empty() ? "" : "&cursor=" + escape(cursor));
        return q.empty() ? items_url : items_url + "?" + q.substr(1);
    };
    Json links = {link(page_url(p.get("CURSOR")), "self", "application/geo+json", "this page"),
                  link(base_url(r) + "/ogcapi/collections/" + collection, "collection",
                       "application/json", "the collection")};
    if (page.next)
        links.push_back(link(
            page_url(std::to_string(page.next->block) + "." + std::to_string(page.next->index)),
            "next", "application/geo+json", "the next page"));
    Json doc = {{"type", "FeatureCollection"},
                {"numberReturned", page.features.size()},
                {"features", std::move(list)},
                {"links", std::move(links)}};
    Response res = json_answer(200, doc);
    res.content_type = "application/geo+json";
    res.headers = {{"Content-Crs", "<" + crs_uri(*crs) + ">"}};
    return res;
}

Response OgcApi::item(const Request& r, const std::string& collection, const std::string& id,
                      const Params& p) {
    if (auto bad = unknown_parameters(p, {"CRS", "F"})) return *bad;
    if (p.has("F")) {
        const std::string f = lower(p.get("F"));
        if (f != "json" && f != "geojson") return json_problem(400, "f must be json or geojson");
    }
    std::shared_ptr<Crs> crs = data_.system(kmaps::kCrs84);
    if (p.has("CRS") && !(crs = crs_named(data_, p.get("CRS"))))
        return json_problem(400, "crs must be " + kmaps::crs_uri(kmaps::kCrs84) + ", " +
                                     crs_uri(data_.native()) + " or " + crs_uri(data_.mercator()));
    const auto n = collection == "map" ? std::nullopt : parse_int(id, 1, 1LL << 50);
    const bool pois = collection == "pois";
    const auto f = n ? (pois ? features_.poi(*n) : features_.road(*n)) : std::nullopt;
    if (!f) return json_problem(404, "no feature " + id + " in " + collection);
    Json list;
    if (!features_json({*f}, pois, data_, *crs, list))
        return json_problem(500, "the feature cannot be expressed in " + crs_uri(*crs));
    Json doc = std::move(list[0]);
    const std::string self = base_url(r) + "/ogcapi/collections/" + collection;
    doc["links"] = {link(self + "/items/" + id, "self", "application/geo+json", "this feature"),
                    link(self, "collection", "application/json", "the collection")};
    Response res = json_answer(200, doc);
    res.content_type = "application/geo+json";
    res.headers = {{"Content-Crs", "<" + crs_uri(*crs) + ">"}};
    return res;
}

}  // namespace kserve
