// wms.cpp: WMS requests, their checks, the maps and the feature information.
#include "service/wms.h"

#include <algorithm>
#include <cmath>
#include <sstream>

#include "kcommon/etag.h"
#include "kmaps/drawing.h"
#include "kmaps/render.h"
#include "service/errors.h"
#include "service/json.h"
#include "service/xml.h"

namespace kserve {

using kmaps::draw_map_file;
using kmaps::kMaxFactor;
using kmaps::kMaxScale;
using kmaps::kMaxSide;
using kmaps::kMinScale;
using kmaps::kWhite;
using kmaps::Layers;
using kmaps::map_cost;
using kmaps::MapFile;
using kmaps::transform_box;
using kmaps::transform_point;

namespace {

// The resolution of a map's client, 90.7 dots an inch at factor 1: the pixel of 0.28 mm that
// OGC scale denominators assume.
constexpr double kStandardDpi = 25.4 / 0.28;

// The drawing scale factor of DPI=N, MAP_RESOLUTION=N or FORMAT_OPTIONS=dpi:N (the first of
// them that is given; FORMAT_OPTIONS is a list "key:value;key:value" whose other keys are
// left alone): N / 90.7 rounded to the nearest whole number and kept within 1 to kMaxFactor,
// so below 1.5 x 90.7 (about 136 dpi) draws the classic map, from there to 2.5 x 90.7 (about
// 227 dpi) factor 2, above it factor 3.
// N is a decimal number above 0 and at most 10000. The map keeps WIDTH x HEIGHT and BBOX: a
// client with a high resolution asks for more pixels over the same box and gets the map of
// WIDTH / F x HEIGHT / F pixels drawn with F times the pixels, so features look the same size
// on its paper or screen. Nothing for a bad value.
std::optional<int> read_factor(const Params& p, std::string& which) {
    std::string text;
    for (const char* key : {"DPI", "MAP_RESOLUTION"})
        if (p.has(key)) {
            which = key;
            text = p.get(key);
            break;
        }
    if (which.empty() && p.has("FORMAT_OPTIONS")) {
        for (const auto& option : split(p.get("FORMAT_OPTIONS"), ';')) {
            const size_t colon = option.find(':');
            if (colon == std::string::npos || lower(option.substr(0, colon)) != "dpi") continue;
            which = "FORMAT_OPTIONS";
            text = option.substr(colon + 1);
            break;
        }
    }
    if (which.empty()) return 1;
    const auto dpi = parse_decimal(text);
    if (!dpi || !(*dpi > 0) || *dpi > 10000) return std::nullopt;
    return static_cast<int>(std::clamp(std::lround(*dpi / kStandardDpi), 1L, long{kMaxFactor}));
}

// Reads and checks the parameters of a map; on failure fills `error` with the exception.
bool read_map(const Params& p, bool v130, const DataSet& data, MapRequest& m, Response& error,
              bool need_format) {
    const std::vector<int>& categories = data.engine().categories();
    auto fail = [&](const std::string& code, const std::string& msg) {
        error = wms_exception(v130, code, msg);
        return false;
    };
    if (!p.has("LAYERS") || p.get("LAYERS").empty())
        return fail("MissingParameterValue", "LAYERS is missing");
    m.layer_names = split(p.get("LAYERS"), ',');
    for (const auto& name : m.layer_names) {
        bool known = name == "map" || name == "poi";
        if (!known && name.rfind("poi.", 0) == 0) {
            const auto c = parse_int(std::string_view(name).substr(4), -32768, 32767);
            known = c && std::find(categories.begin(), categories.end(), *c) != categories.end();
        }
        if (!known) return fail("LayerNotDefined", "unknown layer " + name);
    }
    if (p.has("STYLES") && !p.get("STYLES").empty()) {
        const auto styles = split(p.get("STYLES"), ',');
        if (styles.size() != m.layer_names.size())
            return fail("StyleNotDefined", "STYLES must name one style per layer");
        for (const auto& s : styles)
            if (!s.empty() && s != "default") return fail("StyleNotDefined", "unknown style " + s);
    }
    const char* crs_key = v130 ? "CRS" : "SRS";
    const char* crs_code = v130 ? "InvalidCRS" : "InvalidSRS";
    const std::string crs_name = upper(p.get(crs_key));
    if (crs_name.empty())
        return fail("MissingParameterValue", std::string(crs_key) + " is missing");
    if (crs_name != data.native().name() && crs_name != "EPSG:3857" && crs_name != "EPSG:4326" &&
        !(v130 && crs_name == "CRS:84"))
        return fail(crs_code, "unsupported " + std::string(crs_key) + " " + crs_name);
    m.crs = data.system(crs_name);
    if (!m.crs) return fail(crs_code, "unsupported " + std::string(crs_key) + " " + crs_name);
    if (!p.has("BBOX")) return fail("MissingParameterValue", "BBOX is missing");
    const auto box = parse_box(p.get("BBOX"));
    if (!box)
        return fail("InvalidParameterValue", "BBOX must be minx,miny,maxx,maxy with min < max");
    m.box = *box;
    if (v130 && m.crs->north_first()) m.box = {box->miny, box->minx, box->maxy, box->maxx};
    const double limit = m.crs->geographic() ? 360.0 : 1e8;
    if (std::fabs(m.box.minx) > limit || std::fabs(m.box.maxx) > limit ||
        std::fabs(m.box.miny) > limit || std::fabs(m.box.maxy) > limit)
        return fail("InvalidParameterValue", "BBOX lies outside the coordinate system");
    if (!p.has("WIDTH") || !p.has("HEIGHT"))
        return fail("MissingParameterValue", "WIDTH or HEIGHT is missing");
    const auto w = parse_int(p.get("WIDTH"), 1, kMaxSide);
    const auto h = parse_int(p.get("HEIGHT"), 1, kMaxSide);
    if (!w || !h)
        return fail("InvalidParameterValue",
                    "WIDTH and HEIGHT must be whole numbers from 1 to " + std::to_string(kMaxSide));
    m.width = static_cast<int>(*w);
    m.height = static_cast<int>(*h);
    if (!m.crs->geographic()) {
        const double sx = (m.box.maxx - m.box.minx) / m.width;
        const double sy = (m.box.maxy - m.box.miny) / m.height;
        if (sx < kMinScale || sy < kMinScale || sx > kMaxScale || sy > kMaxScale)
            return fail("InvalidParameterValue", "the map's scale must lie between " +
                                                     fmt(kMinScale) + " and " + fmt(kMaxScale) +
                                                     " metres per pixel");
    }
    if (need_format) {
        if (!p.has("FORMAT")) return fail("MissingParameterValue", "FORMAT is missing");
        m.format = lower(p.get("FORMAT"));
        if (m.format == "png") m.format = "image/png";
        if (m.format == "jpeg") m.format = "image/jpeg";
        if (m.format != "image/png" && m.format != "image/gif" && m.format != "image/jpeg" &&
            m.format != "image/bmp")
            return fail("InvalidFormat", "unsupported FORMAT " + p.get("FORMAT"));
    }
    const auto t = parse_flag(p.get("TRANSPARENT"), false);
    if (!t) return fail("InvalidParameterValue", "TRANSPARENT must be TRUE or FALSE");
    // A format without transparency ignores it, as WMS has it: the map is drawn on BGCOLOR.
    m.transparent = *t && m.format != "image/jpeg";
    if (p.has("BGCOLOR")) {
        const auto c = parse_colour(p.get("BGCOLOR"));
        if (!c) return fail("InvalidParameterValue", "BGCOLOR must be 0xRRGGBB");
        m.background = *c;
    }
    std::string factor_key;
    const auto factor = read_factor(p, factor_key);
    if (!factor)
        return fail(
            "InvalidParameterValue",
            factor_key + " must give a resolution in dots an inch above 0 and at most 10000");
    m.factor = *factor;
    if (p.has("EXCEPTIONS")) {
        const std::string e = lower(p.get("EXCEPTIONS"));
        if (e != "xml" && e != "application/vnd.ogc.se_xml" && e != "text/xml")
            return fail("InvalidParameterValue", "EXCEPTIONS must be XML");
    }
    return true;
}

// The category of a layer "poi.N" that read_map has checked.
int category_of(const std::string& layer) {
    return static_cast<int>(
        parse_int(std::string_view(layer).substr(4), -32768, 32767).value_or(0));
}

// The layers named: the map, and the categories of points of interest (0 alone for all).
Layers layers_of(const std::vector<std::string>& names) {
    Layers layers;
    for (const auto& n : names) {
        if (n == "map")
            layers.map = true;
        else if (n == "poi")
            layers.pois.push_back(0);
        else
            layers.pois.push_back(category_of(n));
    }
    std::vector<int>& cats = layers.pois;
    if (std::find(cats.begin(), cats.end(), 0) != cats.end()) cats = {0};
    std::sort(cats.begin(), cats.end());
    cats.erase(std::unique(cats.begin(), cats.end()), cats.end());
    return layers;
}

}  // namespace

std::optional<CheckedMap> Wms::check_map(const Params& p) const {
    if (lower(p.get("REQUEST")) != "getmap" && lower(p.get("REQUEST")) != "map")
        return std::nullopt;
    const std::string version = p.has("VERSION") ? p.get("VERSION") : p.get("WMTVER");
    CheckedMap checked;
    MapRequest m;
    if (!read_map(p, version.rfind("1.1", 0) != 0, data_, m, checked.refusal, true)) return checked;
    checked.cost = map_cost(data_, *m.crs, m.box, m.width, m.height, m.factor);
    checked.map = std::move(m);
    return checked;
}

Response Wms::handle(const Request& r, const Params& p, const CheckedMap* checked) {
    const std::string request = p.get("REQUEST");
    std::string version = p.has("VERSION") ? p.get("VERSION") : p.get("WMTVER");
    bool v130 = true;
    if (version.rfind("1.1", 0) == 0) v130 = false;
    if (p.has("SERVICE") && upper(p.get("SERVICE")) != "WMS")
        return wms_exception(v130, "InvalidParameterValue", "SERVICE must be WMS");
    if (request.empty()) return wms_exception(v130, "MissingParameterValue", "REQUEST is missing");
    const std::string req = lower(request);
    if (req == "getcapabilities" || req == "capabilities") {
        // Version negotiation: a version below 1.3.0 gets the nearest lower one we speak.
        if (!version.empty() && version < "1.3.0") v130 = false;
        Response res = answer(200, capabilities_.wms(v130, base_url(r)),
                              v130 ? "text/xml; charset=utf-8" : "application/vnd.ogc.wms_xml");
        res.cache_control = kCapabilitiesCacheControl;
        return res;
    }
    if (version.empty()) return wms_exception(v130, "MissingParameterValue", "VERSION is missing");
    if (version != "1.3.0" && version != "1.1.1" && version != "1.1.0")
        return wms_exception(v130, "InvalidParameterValue", "VERSION must be 1.3.0 or 1.1.1");
    if (req == "getmap" || req == "map") {
        if (checked) return map(r, v130, *checked);
        const auto own = check_map(p);
        return map(r, v130, *own);
    }
    if (req == "getfeatureinfo" || req == "feature_info") return feature_info(p, v130);
    return wms_exception(v130, "OperationNotSupported", "unknown REQUEST " + request);
}

Response Wms::map(const Request& r, bool v130, const CheckedMap& checked) {
    if (!checked.map) return checked.refusal;
    const MapRequest& m = *checked.map;
    const Layers layers = layers_of(m.layer_names);
    if (checked.cost > site_.map_budget()) {
        if (Metrics* metrics = site_.metrics()) metrics->maps_over_budget.fetch_add(1);
        return wms_exception(v130, "InvalidParameterValue", site_.over_budget(checked.cost));
    }

    // The validator: the data set and every parameter that changes the picture.
    std::ostringstream key;
    key << "wms|" << m.crs->name() << '|' << fmt(m.box.minx) << ',' << fmt(m.box.miny) << ','
        << fmt(m.box.maxx) << ',' << fmt(m.box.maxy) << '|' << m.width << 'x' << m.height << '|'
        << m.format << '|' << m.transparent << '|' << m.background << '|' << layers.map;
    for (int c : layers.pois) key << ',' << c;
    if (m.factor != 1) key << "|@" << m.factor << 'x';
    Response res;
    res.etag = site_.etag(key.str());
    res.cache_control = "public, max-age=300";
    if (kcommon::if_none_match(r.if_none_match, res.etag)) {
        res.status = 304;
        if (site_.metrics()) site_.metrics()->not_modified.fetch_add(1);
        return res;
    }

    MapFile file = draw_map_file(data_, *m.crs, m.box, m.width, m.height, layers, m.format,
                                 m.transparent, m.background, m.factor);
    if (file.body.empty())
        return wms_exception(v130, file.status == 400 ? "InvalidParameterValue" : "", file.error,
                             file.status);
    res.body = std::move(file.body);
    res.content_type = m.format;
    return res;
}

Response Wms::feature_info(const Params& p, bool v130) {
    MapRequest m;
    Response error;
    if (!read_map(p, v130, data_, m, error, false)) return error;
    if (!p.has("QUERY_LAYERS") || p.get("QUERY_LAYERS").empty())
        return wms_exception(v130, "MissingParameterValue", "QUERY_LAYERS is missing");
    const auto queried = split(p.get("QUERY_LAYERS"), ',');
    for (const auto& q : queried)
        if (std::find(m.layer_names.begin(), m.layer_names.end(), q) == m.layer_names.end())
            return wms_exception(v130, "LayerNotDefined",
                                 "QUERY_LAYERS names " + q + ", which is not in LAYERS");
    std::string format = p.has("INFO_FORMAT") ? lower(p.get("INFO_FORMAT")) : "text/plain";
    if (format != "text/plain" && format != "application/json" && format != "text/html")
        return wms_exception(v130, "InvalidFormat",
                             "unsupported INFO_FORMAT " + p.get("INFO_FORMAT"));
    const char* ik = v130 ? "I" : "X";
    const char* jk = v130 ? "J" : "Y";
    if (!p.has(ik) || !p.has(jk))
        return wms_exception(v130, "MissingParameterValue",
                             std::string(ik) + " or " + jk + " is missing");
    const auto i = parse_int(p.get(ik), 0, m.width - 1);
    const auto j = parse_int(p.get(jk), 0, m.height - 1);
    if (!i || !j) return wms_exception(v130, "InvalidPoint", "the point lies outside the map");
    long count = 10;
    if (p.has("FEATURE_COUNT")) {
        const auto c = parse_int(p.get("FEATURE_COUNT"), 1, 1000);
        if (!c)
            return wms_exception(v130, "InvalidParameterValue", "FEATURE_COUNT must be 1 to 1000");
        count = static_cast<long>(*c);
    }
    const Crs& native = data_.native();
    const double sx = (m.box.maxx - m.box.minx) / m.width;
    const double sy = (m.box.maxy - m.box.miny) / m.height;
    double x = m.box.minx + (static_cast<double>(*i) + 0.5) * sx;
    double y = m.box.maxy - (static_cast<double>(*j) + 0.5) * sy;
    double scale = sx;
    if (m.crs->name() != native.name()) {
        const auto pt = transform_point(*m.crs, native, x, y);
        const auto nb = transform_box(*m.crs, native, m.box);
        if (!pt || !nb)
            return wms_exception(v130, "InvalidPoint",
                                 "the point cannot be expressed in the data set's grid");
        x = pt->first;
        y = pt->second;
        scale = (nb->maxx - nb->minx) / m.width;
    }
    // A map drawn at a factor shows the 1x map of that many times the scale: the tolerances
    // below are pixels of it.
    scale *= m.factor;
    if (std::fabs(x) > 1e9 || std::fabs(y) > 1e9)
        return wms_exception(v130, "InvalidPoint", "the point lies outside the grid");
    const int wx = static_cast<int>(std::lround(x));
    const int wy = static_cast<int>(std::lround(y));
    bool want_road = false;
    int category = -1;
    for (const auto& q : queried) {
        if (q == "map")
            want_road = true;
        else if (q == "poi")
            category = 0;
        else if (category != 0)
            category = category_of(q);
    }
    Engine& engine = data_.engine();
    std::optional<Road> road;
    if (want_road) road = engine.road_at(wx, wy, std::max(scale, 0.5));
    std::vector<Place> pois;
    if (category >= 0 || want_road) {
        const int radius = static_cast<int>(std::clamp(10.0 * scale, 1.0, 5000.0));
        if (auto found = engine.pois_near(wx, wy, radius, category < 0 ? 0 : category))
            pois = *found;
        std::sort(pois.begin(), pois.end(), [&](const Place& a, const Place& b) {
            return std::hypot(a.x - wx, a.y - wy) < std::hypot(b.x - wx, b.y - wy);
        });
        if (static_cast<long>(pois.size()) > count) pois.resize(static_cast<size_t>(count));
    }
    if (format == "application/json") {
        Json o = {{"x", wx}, {"y", wy}, {"crs", native.name()}, {"road", road_json(road)}};
        Json list = Json::array();
        for (const auto& q : pois)
            list.push_back({{"name", q.name}, {"x", q.x}, {"y", q.y}, {"note", q.note}});
        o["pois"] = std::move(list);
        return json_answer(200, o);
    }
    std::ostringstream o;
    if (format == "text/html") {
        o << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Feature "
             "info</title></head><body>\n";
        o << "<p>Position " << wx << ", " << wy << " (" << html_escape(native.name()) << ")</p>\n";
        if (road)
            o << "<table><tr><th>Road</th><th>District</th><th>Type</th><th>Code</th></tr><tr><td>"
              << html_escape(road->name) << "</td><td>" << road->district << "</td><td>"
              << road->type << "</td><td>" << html_escape(road->code) << "</td></tr></table>\n";
        else if (want_road)
            o << "<p>No road here.</p>\n";
        if (!pois.empty()) {
            o << "<table><tr><th>Point of interest</th><th>X</th><th>Y</th><th>Note</th></tr>\n";
            for (const auto& q : pois)
                o << "<tr><td>" << html_escape(q.name) << "</td><td>" << q.x << "</td><td>" << q.y
                  << "</td><td>" << html_escape(q.note) << "</td></tr>\n";
            o << "</table>\n";
        }
        o << "</body></html>\n";
        return answer(200, o.str(), "text/html; charset=utf-8");
    }
    o << "position: " << wx << " " << wy << " " << native.name() << "\n";
    if (road)
        o << "road: " << road->name << "\ndistrict: " << road->district << "\ntype: " << road->type
          << "\ncode: " << road->code << "\n";
    else if (want_road)
        o << "road: none\n";
    for (const auto& q : pois)
        o << "poi: " << q.name << " " << q.x << " " << q.y << (q.note.empty() ? "" : " ") << q.note
          << "\n";
    return answer(200, o.str());
}

}  // namespace kserve
