// service.cpp: WMS 1.3.0/1.1.1, WMTS 1.0.0, XYZ tiles, the JSON queries, health and metrics.
#include "service.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "files.h"
#include "kcommon/etag.h"
#include "kcommon/hash.h"

namespace kserve {

namespace {

constexpr int kTile = 256;
constexpr int kMeta = 4;  // metatiles of 4 x 4 tiles
constexpr size_t kTileCacheEntries = 4096;
constexpr double kPixelSize = 0.00028;  // metres, for scale denominators
constexpr double kWebMercatorHalf = 20037508.3427892;
constexpr double kNativeResolutions[] = {128, 64, 32, 16, 8, 4, 2, 1};
constexpr int kNativeLevels = 8;
constexpr int kGoogleLevels = 19;  // 0 to 18
constexpr unsigned kWhite = 0xFFFFFF;

std::string fmt(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.10g", v);
    return b;
}

Response text(int status, std::string body, const char* type = "text/plain; charset=utf-8") {
    Response r;
    r.status = status;
    r.content_type = type;
    r.body = std::move(body);
    return r;
}

Response json(int status, std::string body) {
    return text(status, std::move(body), "application/json; charset=utf-8");
}

Response json_error(int status, const std::string& message) {
    return json(status, "{\"error\":\"" + json_escape(message) + "\"}\n");
}

// A WMS service exception report in the version's form.
Response wms_error(bool v130, const std::string& code, const std::string& message,
                   int status = 400) {
    std::string b = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (v130) {
        b += "<ServiceExceptionReport version=\"1.3.0\" xmlns=\"http://www.opengis.net/ogc\" "
             "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
             "xsi:schemaLocation=\"http://www.opengis.net/ogc "
             "http://schemas.opengis.net/wms/1.3.0/exceptions_1_3_0.xsd\">\n";
    } else {
        b += "<!DOCTYPE ServiceExceptionReport SYSTEM "
             "\"http://schemas.opengis.net/wms/1.1.1/exception_1_1_1.dtd\">\n"
             "<ServiceExceptionReport version=\"1.1.1\">\n";
    }
    b += "  <ServiceException";
    if (!code.empty()) b += " code=\"" + code + "\"";
    b += ">" + xml_escape(message) + "</ServiceException>\n</ServiceExceptionReport>\n";
    return text(status, b,
                v130 ? "text/xml; charset=utf-8" : "application/vnd.ogc.se_xml; charset=utf-8");
}

// An OWS exception report (WMTS), with the HTTP status the standard gives the code.
Response ows_error(const std::string& code, const std::string& locator,
                   const std::string& message) {
    int status = 400;
    if (code == "TileOutOfRange") status = 400;
    if (code == "OperationNotSupported") status = 501;
    if (code == "NoApplicableCode") status = 500;
    std::string b =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<ExceptionReport xmlns=\"http://www.opengis.net/ows/1.1\" version=\"1.1.0\" "
        "xml:lang=\"en\">\n"
        "  <Exception exceptionCode=\"" +
        code + "\"";
    if (!locator.empty()) b += " locator=\"" + xml_escape(locator) + "\"";
    b += ">\n    <ExceptionText>" + xml_escape(message) +
         "</ExceptionText>\n  </Exception>\n</ExceptionReport>\n";
    return text(status, b, "text/xml; charset=utf-8");
}

std::string base_url(const Request& r) {
    std::string host = r.host.empty() ? "127.0.0.1" : r.host;
    // Only a host name and port belong here; anything else would be written into XML.
    for (char c : host)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == ':' || c == '-' ||
              c == '[' || c == ']'))
            return "http://127.0.0.1";
    return "http://" + host;
}

// The scale that makes `box` fill width x height, or nothing when x and y differ by more
// than a thousandth.
bool same_scale(double sx, double sy) {
    return std::fabs(sx - sy) <= 1e-3 * std::max(sx, sy);
}

// The engine's own view of a box in the data set's grid: equal x and y scales of at least
// 1 m a pixel, drawn from its north-west corner. Such a view gives the same pixels as any other
// client of the engine drawing that window.
struct EngineView {
    int left;
    int top;
    double scale;
};
std::optional<EngineView> engine_view(const Box& box, int width, int height) {
    const double sx = (box.maxx - box.minx) / width;
    const double sy = (box.maxy - box.miny) / height;
    if (!same_scale(sx, sy) || !(sx >= 1.0)) return std::nullopt;
    return EngineView{static_cast<int>(std::lround(box.minx)),
                      static_cast<int>(std::lround(box.maxy)), sx};
}

bool intersect(const Box& a, const Box& b, Box& out) {
    out = {std::max(a.minx, b.minx), std::max(a.miny, b.miny), std::min(a.maxx, b.maxx),
           std::min(a.maxy, b.maxy)};
    return out.minx < out.maxx && out.miny < out.maxy;
}

void flatten(Image& im, unsigned background) {
    for (uint32_t& p : im.pixels)
        if ((p >> 24) == 0) p = 0xFF000000u | background;
}

struct TileMatrix {
    double resolution;
    double left, top;
    long cols, rows;
};

}  // namespace

std::string xml_escape(const std::string& s) {
    std::string o;
    for (char c : s) {
        switch (c) {
            case '&':
                o += "&amp;";
                break;
            case '<':
                o += "&lt;";
                break;
            case '>':
                o += "&gt;";
                break;
            case '"':
                o += "&quot;";
                break;
            case '\'':
                o += "&apos;";
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t')
                    o += ' ';
                else
                    o += c;
        }
    }
    return o;
}

std::string json_escape(const std::string& s) {
    std::string o;
    for (char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            o += '\\';
            o += c;
        } else if (u < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", u);
            o += b;
        } else {
            o += c;
        }
    }
    return o;
}

bool Service::start(const Config& config, Metrics* metrics, std::string& error) {
    config_ = config;
    metrics_ = metrics;
    init_gdal();
    native_ = Crs::make(config.crs);
    mercator_ = Crs::make("EPSG:3857");
    wgs84_ = Crs::make("CRS:84");
    systems_ = {native_, mercator_, Crs::make("EPSG:4326"), wgs84_};
    if (!native_ || native_->geographic()) {
        error = "unknown or unprojected coordinate system " + config.crs;
        return false;
    }
    if (!engine_.load(config.data)) {
        error = "the engine could not load the data set in " + config.data;
        return false;
    }
    const Extent& e = engine_.extent();
    extent_ = {e.minx, e.miny, e.maxx, e.maxy};
    const auto ll = transform_box(*native_, *wgs84_, extent_);
    const auto wm = transform_box(*native_, *mercator_, extent_);
    if (!ll || !wm) {
        error = "the data set's extent cannot be expressed in longitude and latitude";
        return false;
    }
    extent_ll_ = *ll;
    extent_3857_ = *wm;
    if (!config.viewer.empty()) {
        viewer_ = std::make_shared<StaticFiles>();
        if (!viewer_->open(config.viewer, error)) return false;
    }
    return true;
}

std::string Service::etag(const std::string& key) const {
    char b[64];
    std::snprintf(b, sizeof b, "\"%s-%016llx\"", engine_.fingerprint().c_str(),
                  static_cast<unsigned long long>(kcommon::fnv1a(key)));
    return b;
}

Response Service::handle(const Request& r) {
    if (r.method != "GET" && r.method != "HEAD") return text(405, "only GET and HEAD are served\n");
    const size_t q = r.target.find('?');
    const std::string raw_path = r.target.substr(0, q);
    std::string path;
    if (!percent_decode(raw_path, path) || path.empty() || path[0] != '/')
        return text(400, "malformed path\n");
    Params p;
    std::string error;
    if (q != std::string::npos && !p.parse(std::string_view(r.target).substr(q + 1), error)) {
        if (path == "/wms") return wms_error(true, "", error);
        if (path.rfind("/wmts", 0) == 0) return ows_error("InvalidParameterValue", "", error);
        if (path.rfind("/api/", 0) == 0) return json_error(400, error);
        return text(400, error + "\n");
    }

    if (path == "/healthz") return text(200, "ok\n");
    if (path == "/metrics")
        return text(200, metrics_ ? metrics_->text() : "",
                    "text/plain; version=0.0.4; charset=utf-8");
    if (path == "/wms") return wms(r, p);
    if (path == "/wmts" || path == "/wmts/") return wmts(r, p);
    if (path == "/wmts/1.0.0/WMTSCapabilities.xml") return wmts_capabilities(r);
    if (path.rfind("/wmts/1.0.0/", 0) == 0) {
        // /wmts/1.0.0/{layer}/{style}/{set}/{matrix}/{row}/{col}.png
        const auto parts = split(path.substr(12), '/');
        if (parts.size() != 6 || parts[5].size() < 5 ||
            parts[5].substr(parts[5].size() - 4) != ".png")
            return ows_error("InvalidParameterValue", "path", "unknown resource " + path);
        if (parts[0] != "map") return ows_error("InvalidParameterValue", "layer", "unknown layer");
        if (parts[1] != "default")
            return ows_error("InvalidParameterValue", "style", "unknown style");
        const auto row = parse_int(parts[4], 0, 1L << 30);
        const auto col = parse_int(parts[5].substr(0, parts[5].size() - 4), 0, 1L << 30);
        if (!row || !col)
            return ows_error("InvalidParameterValue", "TileRow", "bad tile row or column");
        return tile(r, parts[2], parts[3], *row, *col, true);
    }
    if (path.rfind("/tiles/", 0) == 0) {
        // /tiles/{native|google}/{z}/{x}/{y}.png
        const auto parts = split(path.substr(7), '/');
        if (parts.size() != 4 || parts[3].size() < 5 ||
            parts[3].substr(parts[3].size() - 4) != ".png")
            return text(404, "no such tile address\n");
        const auto x = parse_int(parts[2], 0, 1L << 30);
        const auto y = parse_int(parts[3].substr(0, parts[3].size() - 4), 0, 1L << 30);
        if (!x || !y || parse_int(parts[1], 0, 30) == std::nullopt)
            return text(404, "no such tile\n");
        const std::string set = parts[0] == "google"   ? "GoogleMapsCompatible"
                                : parts[0] == "native" ? "native"
                                                       : "";
        if (set.empty()) return text(404, "unknown tile set\n");
        return tile(r, set, parts[1], *y, *x, false);
    }
    if (path.rfind("/api/", 0) == 0) return api(path.substr(5), p);
    if (viewer_)
        if (auto file = viewer_->get(path, r.if_none_match)) return std::move(*file);
    if (path == "/" || path == "/index.html")
        return text(200, "kserve " KSERVE_VERSION
                         "\n"
                         "  /wms?SERVICE=WMS&REQUEST=GetCapabilities\n"
                         "  /wmts/1.0.0/WMTSCapabilities.xml\n"
                         "  /tiles/{native|google}/{z}/{x}/{y}.png\n"
                         "  /api/road?x=X&y=Y  /api/roads?district=N  /api/pois?name=TEXT\n"
                         "  /healthz  /metrics\n");
    return text(404, "not found\n");
}

// ---- WMS ---------------------------------------------------------------------------------

Response Service::wms(const Request& r, const Params& p) {
    const std::string request = p.get("REQUEST");
    std::string version = p.has("VERSION") ? p.get("VERSION") : p.get("WMTVER");
    bool v130 = true;
    if (version.rfind("1.1", 0) == 0) v130 = false;
    if (p.has("SERVICE") && upper(p.get("SERVICE")) != "WMS")
        return wms_error(v130, "InvalidParameterValue", "SERVICE must be WMS");
    if (request.empty()) return wms_error(v130, "MissingParameterValue", "REQUEST is missing");
    const std::string req = lower(request);
    if (req == "getcapabilities" || req == "capabilities") {
        // Version negotiation: a version we do not speak gets the nearest lower one.
        if (!version.empty() && version < "1.3.0" && version >= "1.1")
            v130 = false;
        else if (!version.empty() && version < "1.1")
            v130 = false;
        return wms_capabilities(r, v130);
    }
    if (version.empty()) return wms_error(v130, "MissingParameterValue", "VERSION is missing");
    if (version != "1.3.0" && version != "1.1.1" && version != "1.1.0")
        return wms_error(v130, "InvalidParameterValue", "VERSION must be 1.3.0 or 1.1.1");
    if (req == "getmap" || req == "map") return wms_map(r, p, v130);
    if (req == "getfeatureinfo" || req == "feature_info") return wms_info(p, v130);
    return wms_error(v130, "OperationNotSupported", "unknown REQUEST " + request);
}

Response Service::wms_capabilities(const Request& r, bool v130) {
    const std::string url = base_url(r) + "/wms?";
    const std::string href = "xlink:type=\"simple\" xlink:href=\"" + xml_escape(url) + "\"";
    const char* crs_tag = v130 ? "CRS" : "SRS";
    std::ostringstream o;
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    if (v130) {
        o << "<WMS_Capabilities version=\"1.3.0\" xmlns=\"http://www.opengis.net/wms\" "
             "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
             "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
             "xsi:schemaLocation=\"http://www.opengis.net/wms "
             "http://schemas.opengis.net/wms/1.3.0/capabilities_1_3_0.xsd\">\n";
    } else {
        o << "<!DOCTYPE WMT_MS_Capabilities SYSTEM "
             "\"http://schemas.opengis.net/wms/1.1.1/WMS_MS_Capabilities.dtd\">\n"
             "<WMT_MS_Capabilities version=\"1.1.1\" "
             "xmlns:xlink=\"http://www.w3.org/1999/xlink\">\n";
    }
    o << "<Service>\n  <Name>" << (v130 ? "WMS" : "OGC:WMS") << "</Name>\n"
      << "  <Title>Road map</Title>\n"
      << "  <Abstract>Road maps drawn by the kestrel engine from one data set.</Abstract>\n"
      << "  <OnlineResource " << href << "/>\n"
      << "  <Fees>none</Fees>\n  <AccessConstraints>none</AccessConstraints>\n";
    if (v130)
        o << "  <LayerLimit>" << 2 + engine_.categories().size() << "</LayerLimit>\n  <MaxWidth>"
          << kMaxSide << "</MaxWidth>\n  <MaxHeight>" << kMaxSide << "</MaxHeight>\n";
    o << "</Service>\n<Capability>\n  <Request>\n";
    auto op = [&](const char* name, std::initializer_list<const char*> formats) {
        o << "    <" << name << ">\n";
        for (const char* f : formats) o << "      <Format>" << f << "</Format>\n";
        o << "      <DCPType><HTTP><Get><OnlineResource " << href
          << "/></Get></HTTP></DCPType>\n    </" << name << ">\n";
    };
    op("GetCapabilities", {v130 ? "text/xml" : "application/vnd.ogc.wms_xml"});
    op("GetMap", {"image/png", "image/gif", "image/bmp"});
    op("GetFeatureInfo", {"text/plain", "application/json", "text/html"});
    o << "  </Request>\n  <Exception>\n    <Format>"
      << (v130 ? "XML" : "application/vnd.ogc.se_xml") << "</Format>\n  </Exception>\n";

    auto bboxes = [&]() {
        const Box& l = extent_ll_;
        if (v130) {
            o << "    <EX_GeographicBoundingBox><westBoundLongitude>" << fmt(l.minx)
              << "</westBoundLongitude><eastBoundLongitude>" << fmt(l.maxx)
              << "</eastBoundLongitude><southBoundLatitude>" << fmt(l.miny)
              << "</southBoundLatitude><northBoundLatitude>" << fmt(l.maxy)
              << "</northBoundLatitude></EX_GeographicBoundingBox>\n";
        } else {
            o << "    <LatLonBoundingBox minx=\"" << fmt(l.minx) << "\" miny=\"" << fmt(l.miny)
              << "\" maxx=\"" << fmt(l.maxx) << "\" maxy=\"" << fmt(l.maxy) << "\"/>\n";
        }
        auto bbox = [&](const std::string& name, const Box& b, bool swap) {
            o << "    <BoundingBox " << crs_tag << "=\"" << name << "\" minx=\""
              << fmt(swap ? b.miny : b.minx) << "\" miny=\"" << fmt(swap ? b.minx : b.miny)
              << "\" maxx=\"" << fmt(swap ? b.maxy : b.maxx) << "\" maxy=\""
              << fmt(swap ? b.maxx : b.maxy) << "\"/>\n";
        };
        bbox(native_->name(), extent_, v130 && native_->north_first());
        bbox("EPSG:3857", extent_3857_, false);
        bbox("EPSG:4326", extent_ll_, v130);
    };
    o << "  <Layer>\n    <Title>Road map</Title>\n";
    for (const char* c : {native_->name().c_str(), "EPSG:3857", "EPSG:4326", "CRS:84"}) {
        if (!v130 && std::string(c) == "CRS:84") continue;
        o << "    <" << crs_tag << ">" << c << "</" << crs_tag << ">\n";
    }
    bboxes();
    auto style = [&]() {
        o << "      <Style><Name>default</Name><Title>The engine's colours</Title></Style>\n";
    };
    o << "    <Layer queryable=\"1\" opaque=\"1\">\n      <Name>map</Name>\n      <Title>Roads, "
         "areas "
         "and place names</Title>\n";
    style();
    o << "    </Layer>\n    <Layer queryable=\"1\">\n      <Name>poi</Name>\n      <Title>Points "
         "of interest</Title>\n";
    style();
    for (int c : engine_.categories()) {
        o << "      <Layer queryable=\"1\">\n        <Name>poi." << c
          << "</Name>\n        <Title>Points of interest of category " << c
          << "</Title>\n      </Layer>\n";
    }
    o << "    </Layer>\n  </Layer>\n</Capability>\n"
      << (v130 ? "</WMS_Capabilities>\n" : "</WMT_MS_Capabilities>\n");
    Response res =
        text(200, o.str(), v130 ? "text/xml; charset=utf-8" : "application/vnd.ogc.wms_xml");
    return res;
}

namespace {
// The map parameters common to GetMap and GetFeatureInfo, checked.
struct MapParams {
    std::shared_ptr<Crs> crs;
    Box box{};
    int width = 0, height = 0;
    std::string format;
    bool transparent = false;
    unsigned background = kWhite;
    std::vector<std::string> layer_names;
};
}  // namespace

// Reads and checks the parameters of a map; on failure fills `error` with the exception.
static bool read_map(const Params& p, bool v130, const std::vector<int>& categories,
                     const std::vector<std::shared_ptr<Crs>>& systems, MapParams& m,
                     Response& error, bool need_format) {
    const Crs& native = *systems.front();
    auto fail = [&](const std::string& code, const std::string& msg) {
        error = wms_error(v130, code, msg);
        return false;
    };
    if (!p.has("LAYERS") || p.get("LAYERS").empty())
        return fail("MissingParameterValue", "LAYERS is missing");
    m.layer_names = split(p.get("LAYERS"), ',');
    for (const auto& name : m.layer_names) {
        bool known = name == "map" || name == "poi";
        if (!known && name.rfind("poi.", 0) == 0) {
            const auto c = parse_int(name.substr(4), -32768, 32767);
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
    if (crs_name != native.name() && crs_name != "EPSG:3857" && crs_name != "EPSG:4326" &&
        !(v130 && crs_name == "CRS:84"))
        return fail(crs_code, "unsupported " + std::string(crs_key) + " " + crs_name);
    // The systems are made once at start: making one reads PROJ's database.
    for (const auto& c : systems)
        if (c->name() == crs_name) m.crs = c;
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
        if (m.format != "image/png" && m.format != "image/gif" && m.format != "image/bmp")
            return fail("InvalidFormat", "unsupported FORMAT " + p.get("FORMAT"));
    }
    const auto t = parse_flag(p.get("TRANSPARENT"), false);
    if (!t) return fail("InvalidParameterValue", "TRANSPARENT must be TRUE or FALSE");
    m.transparent = *t;
    if (p.has("BGCOLOR")) {
        const auto c = parse_colour(p.get("BGCOLOR"));
        if (!c) return fail("InvalidParameterValue", "BGCOLOR must be 0xRRGGBB");
        m.background = *c;
    }
    if (p.has("EXCEPTIONS")) {
        const std::string e = lower(p.get("EXCEPTIONS"));
        if (e != "xml" && e != "application/vnd.ogc.se_xml" && e != "text/xml")
            return fail("InvalidParameterValue", "EXCEPTIONS must be XML");
    }
    return true;
}

static std::vector<int> poi_categories(const std::vector<std::string>& names, bool& map) {
    std::vector<int> cats;
    map = false;
    for (const auto& n : names) {
        if (n == "map")
            map = true;
        else if (n == "poi")
            cats.push_back(0);
        else
            cats.push_back(std::atoi(n.c_str() + 4));
    }
    if (std::find(cats.begin(), cats.end(), 0) != cats.end()) cats = {0};
    std::sort(cats.begin(), cats.end());
    cats.erase(std::unique(cats.begin(), cats.end()), cats.end());
    return cats;
}

std::optional<Image> Service::render(const Crs& crs, const Box& box, int width, int height,
                                     const Layers& layers, bool transparent, unsigned background,
                                     std::string& error, bool fill_outside) {
    const bool native = crs.name() == native_->name();
    if (native) {
        if (const auto view = engine_view(box, width, height)) {
            auto im = engine_.draw(view->left, view->top, width, height, view->scale, layers.map,
                                   layers.pois, transparent, background);
            if (!im) error = "the engine refused the view";
            return im;
        }
        const double sx = (box.maxx - box.minx) / width;
        const double sy = (box.maxy - box.miny) / height;
        // Different x and y scales, or finer than 1 m a pixel: draw at the finer scale (at
        // least 1 m a pixel) and stretch the picture to the size asked for.
        double s = std::max(1.0, std::min(sx, sy));
        const double rw = std::ceil((box.maxx - box.minx) / s);
        const double rh = std::ceil((box.maxy - box.miny) / s);
        if (rw > kMaxRenderSide || rh > kMaxRenderSide) {
            error = "the x and y scales of BBOX, WIDTH and HEIGHT differ too much";
            return std::nullopt;
        }
        const int left = static_cast<int>(std::floor(box.minx));
        const int top = static_cast<int>(std::ceil(box.maxy));
        auto src = engine_.draw(left, top, static_cast<int>(rw) + 1, static_cast<int>(rh) + 1, s,
                                layers.map, layers.pois, transparent, background);
        if (!src) {
            error = "the engine refused the view";
            return std::nullopt;
        }
        Image out(width, height);
        for (int j = 0; j < height; ++j) {
            const double y = box.maxy - (j + 0.5) * sy;
            const int row = std::clamp(static_cast<int>((top - y) / s), 0, src->height - 1);
            for (int i = 0; i < width; ++i) {
                const double x = box.minx + (i + 0.5) * sx;
                const int col = std::clamp(static_cast<int>((x - left) / s), 0, src->width - 1);
                out.at(i, j) = src->at(col, row);
            }
        }
        return out;
    }
    // Another system: draw the native window around the box and warp it.
    const Box& covered = crs.name() == "EPSG:3857" ? extent_3857_ : extent_ll_;
    Image blank(width, height, 0);
    Box clip{};
    if (!intersect(box, covered, clip)) {
        if (!transparent && fill_outside) flatten(blank, background);
        return blank;
    }
    const auto nat = transform_box(crs, *native_, clip);
    if (!nat) {
        error = "BBOX cannot be expressed in the data set's grid";
        return std::nullopt;
    }
    // The native resolution that matches the one asked for, from the part of the map that
    // the data set covers (the whole BBOX may reach where the grid is meaningless).
    const double cols = width * (clip.maxx - clip.minx) / (box.maxx - box.minx);
    const double rows = height * (clip.maxy - clip.miny) / (box.maxy - box.miny);
    double s = std::max(1.0, std::min((nat->maxx - nat->minx) / std::max(cols, 1.0),
                                      (nat->maxy - nat->miny) / std::max(rows, 1.0)));
    const double span = std::max(nat->maxx - nat->minx, nat->maxy - nat->miny);
    if (span / s > kMaxRenderSide) s = span / kMaxRenderSide;
    const int left = static_cast<int>(std::floor(nat->minx - 2 * s));
    const int top = static_cast<int>(std::ceil(nat->maxy + 2 * s));
    const int rw = static_cast<int>(std::ceil((nat->maxx - left) / s)) + 2;
    const int rh = static_cast<int>(std::ceil((top - nat->miny) / s)) + 2;
    auto src = engine_.draw(left, top, rw, rh, s, layers.map, layers.pois, transparent, background);
    if (!src) {
        error = "the engine refused the view";
        return std::nullopt;
    }
    auto out = warp(*src, *native_, left, top, s, crs, box, width, height);
    if (!out) {
        error = "the view could not be reprojected";
        return std::nullopt;
    }
    if (!transparent && fill_outside) flatten(*out, background);
    return out;
}

Response Service::wms_map(const Request& r, const Params& p, bool v130) {
    MapParams m;
    Response error;
    if (!read_map(p, v130, engine_.categories(), systems_, m, error, true)) return error;
    Layers layers;
    layers.pois = poi_categories(m.layer_names, layers.map);

    // The validator: the data set and every parameter that changes the picture.
    std::ostringstream key;
    key << "wms|" << m.crs->name() << '|' << fmt(m.box.minx) << ',' << fmt(m.box.miny) << ','
        << fmt(m.box.maxx) << ',' << fmt(m.box.maxy) << '|' << m.width << 'x' << m.height << '|'
        << m.format << '|' << m.transparent << '|' << m.background << '|' << layers.map;
    for (int c : layers.pois) key << ',' << c;
    const std::string tag = etag(key.str());
    if (kcommon::if_none_match(r.if_none_match, tag)) {
        Response res;
        res.status = 304;
        res.etag = tag;
        res.cache_control = "public, max-age=300";
        if (metrics_) metrics_->not_modified.fetch_add(1);
        return res;
    }

    Response res;
    res.etag = tag;
    res.cache_control = "public, max-age=300";
    const bool native = m.crs->name() == native_->name();
    const auto view = native ? engine_view(m.box, m.width, m.height) : std::nullopt;
    if (m.format == "image/bmp") {
        if (!view || m.transparent)
            return wms_error(v130, "InvalidParameterValue",
                             "image/bmp is the engine's own export: it needs the native " +
                                 native_->name() +
                                 ", equal x and y scales of at least 1 m a pixel, and no "
                                 "transparency");
        res.body = engine_.draw_bmp(view->left, view->top, m.width, m.height, view->scale,
                                    layers.map, layers.pois, m.background);
        if (res.body.empty())
            return wms_error(
                v130, "", "the engine's RLE8 export cannot hold this view; ask for image/png", 500);
        res.content_type = "image/bmp";
        return res;
    }
    if (view && m.format == "image/png") {
        // The commonest request: the engine's view straight to PNG.
        auto png = engine_.draw_png(view->left, view->top, m.width, m.height, view->scale,
                                    layers.map, layers.pois, m.transparent, m.background);
        if (!png) return wms_error(v130, "InvalidParameterValue", "the engine refused the view");
        res.body = std::move(*png);
        if (res.body.empty()) return wms_error(v130, "", "the picture could not be encoded", 500);
        res.content_type = m.format;
        return res;
    }
    std::string why;
    auto im = render(*m.crs, m.box, m.width, m.height, layers, m.transparent, m.background, why);
    if (!im) return wms_error(v130, "InvalidParameterValue", why);
    res.body = m.format == "image/gif" ? encode_gif(*im) : encode_png(*im);
    if (res.body.empty()) return wms_error(v130, "", "the picture could not be encoded", 500);
    res.content_type = m.format;
    return res;
}

Response Service::wms_info(const Params& p, bool v130) {
    MapParams m;
    Response error;
    if (!read_map(p, v130, engine_.categories(), systems_, m, error, false)) return error;
    if (!p.has("QUERY_LAYERS") || p.get("QUERY_LAYERS").empty())
        return wms_error(v130, "MissingParameterValue", "QUERY_LAYERS is missing");
    const auto queried = split(p.get("QUERY_LAYERS"), ',');
    for (const auto& q : queried)
        if (std::find(m.layer_names.begin(), m.layer_names.end(), q) == m.layer_names.end())
            return wms_error(v130, "LayerNotDefined",
                             "QUERY_LAYERS names " + q + ", which is not in LAYERS");
    std::string format = p.has("INFO_FORMAT") ? lower(p.get("INFO_FORMAT")) : "text/plain";
    if (format != "text/plain" && format != "application/json" && format != "text/html")
        return wms_error(v130, "InvalidFormat", "unsupported INFO_FORMAT " + p.get("INFO_FORMAT"));
    const char* ik = v130 ? "I" : "X";
    const char* jk = v130 ? "J" : "Y";
    if (!p.has(ik) || !p.has(jk))
        return wms_error(v130, "MissingParameterValue",
                         std::string(ik) + " or " + jk + " is missing");
    const auto i = parse_int(p.get(ik), 0, m.width - 1);
    const auto j = parse_int(p.get(jk), 0, m.height - 1);
    if (!i || !j) return wms_error(v130, "InvalidPoint", "the point lies outside the map");
    long count = 10;
    if (p.has("FEATURE_COUNT")) {
        const auto c = parse_int(p.get("FEATURE_COUNT"), 1, 1000);
        if (!c) return wms_error(v130, "InvalidParameterValue", "FEATURE_COUNT must be 1 to 1000");
        count = *c;
    }
    const double sx = (m.box.maxx - m.box.minx) / m.width;
    const double sy = (m.box.maxy - m.box.miny) / m.height;
    double x = m.box.minx + (*i + 0.5) * sx;
    double y = m.box.maxy - (*j + 0.5) * sy;
    double scale = sx;
    if (m.crs->name() != native_->name()) {
        const auto pt = transform_point(*m.crs, *native_, x, y);
        const auto nb = transform_box(*m.crs, *native_, m.box);
        if (!pt || !nb)
            return wms_error(v130, "InvalidPoint",
                             "the point cannot be expressed in the data set's grid");
        x = pt->first;
        y = pt->second;
        scale = (nb->maxx - nb->minx) / m.width;
    }
    if (std::fabs(x) > 1e9 || std::fabs(y) > 1e9)
        return wms_error(v130, "InvalidPoint", "the point lies outside the grid");
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
            category = std::atoi(q.c_str() + 4);
    }
    std::optional<Road> road;
    if (want_road) road = engine_.road_at(wx, wy, std::max(scale, 0.5));
    std::vector<Place> pois;
    if (category >= 0 || want_road) {
        const int radius = static_cast<int>(std::clamp(10.0 * scale, 1.0, 5000.0));
        if (auto found = engine_.pois_near(wx, wy, radius, category < 0 ? 0 : category))
            pois = *found;
        std::sort(pois.begin(), pois.end(), [&](const Place& a, const Place& b) {
            return std::hypot(a.x - wx, a.y - wy) < std::hypot(b.x - wx, b.y - wy);
        });
        if (static_cast<long>(pois.size()) > count) pois.resize(count);
    }
    std::ostringstream o;
    if (format == "application/json") {
        o << "{\"x\":" << wx << ",\"y\":" << wy << ",\"crs\":\"" << native_->name()
          << "\",\"road\":";
        if (road)
            o << "{\"name\":\"" << json_escape(road->name) << "\",\"district\":" << road->district
              << ",\"type\":" << road->type << ",\"code\":\"" << json_escape(road->code)
              << "\",\"slope\":" << (std::isfinite(road->slope) ? fmt(road->slope) : "null") << "}";
        else
            o << "null";
        o << ",\"pois\":[";
        for (size_t k = 0; k < pois.size(); ++k)
            o << (k ? "," : "") << "{\"name\":\"" << json_escape(pois[k].name)
              << "\",\"x\":" << pois[k].x << ",\"y\":" << pois[k].y << ",\"note\":\""
              << json_escape(pois[k].note) << "\"}";
        o << "]}\n";
        return json(200, o.str());
    }
    if (format == "text/html") {
        o << "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Feature "
             "info</title></head><body>\n";
        o << "<p>Position " << wx << ", " << wy << " (" << xml_escape(native_->name()) << ")</p>\n";
        if (road)
            o << "<table><tr><th>Road</th><th>District</th><th>Type</th><th>Code</th></tr><tr><td>"
              << xml_escape(road->name) << "</td><td>" << road->district << "</td><td>"
              << road->type << "</td><td>" << xml_escape(road->code) << "</td></tr></table>\n";
        else if (want_road)
            o << "<p>No road here.</p>\n";
        if (!pois.empty()) {
            o << "<table><tr><th>Point of interest</th><th>X</th><th>Y</th><th>Note</th></tr>\n";
            for (const auto& q : pois)
                o << "<tr><td>" << xml_escape(q.name) << "</td><td>" << q.x << "</td><td>" << q.y
                  << "</td><td>" << xml_escape(q.note) << "</td></tr>\n";
            o << "</table>\n";
        }
        o << "</body></html>\n";
        return text(200, o.str(), "text/html; charset=utf-8");
    }
    o << "position: " << wx << " " << wy << " " << native_->name() << "\n";
    if (road)
        o << "road: " << road->name << "\ndistrict: " << road->district << "\ntype: " << road->type
          << "\ncode: " << road->code << "\n";
    else if (want_road)
        o << "road: none\n";
    for (const auto& q : pois)
        o << "poi: " << q.name << " " << q.x << " " << q.y << (q.note.empty() ? "" : " ") << q.note
          << "\n";
    return text(200, o.str());
}

// ---- WMTS --------------------------------------------------------------------------------

namespace {
bool native_matrix(const Box& extent, long level, TileMatrix& m) {
    if (level < 0 || level >= kNativeLevels) return false;
    m.resolution = kNativeResolutions[level];
    m.left = extent.minx;
    m.top = extent.maxy;
    const double span = kTile * m.resolution;
    m.cols = static_cast<long>(std::ceil((extent.maxx - extent.minx) / span));
    m.rows = static_cast<long>(std::ceil((extent.maxy - extent.miny) / span));
    return true;
}
bool google_matrix(long level, TileMatrix& m) {
    if (level < 0 || level >= kGoogleLevels) return false;
    m.cols = m.rows = 1L << level;
    m.resolution = 2 * kWebMercatorHalf / (kTile * static_cast<double>(m.cols));
    m.left = -kWebMercatorHalf;
    m.top = kWebMercatorHalf;
    return true;
}
}  // namespace

Response Service::wmts(const Request& r, const Params& p) {
    if (p.has("SERVICE") && upper(p.get("SERVICE")) != "WMTS")
        return ows_error("InvalidParameterValue", "service", "SERVICE must be WMTS");
    const std::string req = p.get("REQUEST");
    if (req.empty()) return ows_error("MissingParameterValue", "request", "REQUEST is missing");
    if (req == "GetCapabilities") return wmts_capabilities(r);
    if (req != "GetTile")
        return ows_error("OperationNotSupported", "request", "unknown REQUEST " + req);
    if (p.has("VERSION") && p.get("VERSION") != "1.0.0")
        return ows_error("InvalidParameterValue", "version", "VERSION must be 1.0.0");
    for (const char* k :
         {"LAYER", "STYLE", "FORMAT", "TILEMATRIXSET", "TILEMATRIX", "TILEROW", "TILECOL"})
        if (!p.has(k))
            return ows_error("MissingParameterValue", lower(k), std::string(k) + " is missing");
    if (p.get("LAYER") != "map")
        return ows_error("InvalidParameterValue", "layer", "unknown LAYER");
    if (p.get("STYLE") != "default" && !p.get("STYLE").empty())
        return ows_error("InvalidParameterValue", "style", "unknown STYLE");
    if (p.get("FORMAT") != "image/png")
        return ows_error("InvalidParameterValue", "format", "FORMAT must be image/png");
    const auto row = parse_int(p.get("TILEROW"), 0, 1L << 30);
    const auto col = parse_int(p.get("TILECOL"), 0, 1L << 30);
    if (!row)
        return ows_error("InvalidParameterValue", "tilerow", "TILEROW must be a whole number");
    if (!col)
        return ows_error("InvalidParameterValue", "tilecol", "TILECOL must be a whole number");
    return tile(r, p.get("TILEMATRIXSET"), p.get("TILEMATRIX"), *row, *col, true);
}

Response Service::wmts_capabilities(const Request& r) {
    const std::string base = base_url(r);
    std::ostringstream o;
    auto op = [&](const char* name, const std::string& href, const char* encoding) {
        o << "    <ows:Operation name=\"" << name << "\"><ows:DCP><ows:HTTP><ows:Get xlink:href=\""
          << xml_escape(href)
          << "\"><ows:Constraint name=\"GetEncoding\"><ows:AllowedValues><ows:Value>" << encoding
          << "</ows:Value></ows:AllowedValues></ows:Constraint></ows:Get></ows:HTTP></ows:DCP></"
             "ows:Operation>\n";
    };
    o << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<Capabilities xmlns=\"http://www.opengis.net/wmts/1.0\" "
         "xmlns:ows=\"http://www.opengis.net/ows/1.1\" "
         "xmlns:xlink=\"http://www.w3.org/1999/xlink\" "
         "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
         "xmlns:gml=\"http://www.opengis.net/gml\" "
         "xsi:schemaLocation=\"http://www.opengis.net/wmts/1.0 "
         "http://schemas.opengis.net/wmts/1.0/wmtsGetCapabilities_response.xsd\" "
         "version=\"1.0.0\">\n"
         "  <ows:ServiceIdentification>\n    <ows:Title>Road map tiles</ows:Title>\n"
         "    <ows:ServiceType>OGC WMTS</ows:ServiceType>\n    "
         "<ows:ServiceTypeVersion>1.0.0</ows:ServiceTypeVersion>\n"
         "  </ows:ServiceIdentification>\n  <ows:OperationsMetadata>\n";
    op("GetCapabilities", base + "/wmts?", "KVP");
    op("GetTile", base + "/wmts?", "KVP");
    o << "  </ows:OperationsMetadata>\n  <Contents>\n    <Layer>\n      <ows:Title>Roads, areas "
         "and place names</ows:Title>\n"
      << "      <ows:WGS84BoundingBox><ows:LowerCorner>" << fmt(extent_ll_.minx) << ' '
      << fmt(extent_ll_.miny) << "</ows:LowerCorner><ows:UpperCorner>" << fmt(extent_ll_.maxx)
      << ' ' << fmt(extent_ll_.maxy) << "</ows:UpperCorner></ows:WGS84BoundingBox>\n"
      << "      <ows:Identifier>map</ows:Identifier>\n"
      << "      <Style isDefault=\"true\"><ows:Identifier>default</ows:Identifier></Style>\n"
      << "      <Format>image/png</Format>\n"
      << "      <TileMatrixSetLink><TileMatrixSet>native</TileMatrixSet></TileMatrixSetLink>\n"
      << "      "
         "<TileMatrixSetLink><TileMatrixSet>GoogleMapsCompatible</TileMatrixSet></"
         "TileMatrixSetLink>\n"
      << "      <ResourceURL format=\"image/png\" resourceType=\"tile\" template=\""
      << xml_escape(base)
      << "/wmts/1.0.0/map/default/{TileMatrixSet}/{TileMatrix}/{TileRow}/{TileCol}.png\"/>\n"
      << "    </Layer>\n";
    const std::string code = native_->name().substr(5);
    o << "    <TileMatrixSet>\n      <ows:Identifier>native</ows:Identifier>\n"
      << "      <ows:SupportedCRS>urn:ogc:def:crs:EPSG::" << code << "</ows:SupportedCRS>\n";
    for (int l = 0; l < kNativeLevels; ++l) {
        TileMatrix m{};
        native_matrix(extent_, l, m);
        const double a = native_->north_first() ? m.top : m.left;
        const double b = native_->north_first() ? m.left : m.top;
        o << "      <TileMatrix><ows:Identifier>" << l << "</ows:Identifier><ScaleDenominator>"
          << fmt(m.resolution / kPixelSize) << "</ScaleDenominator><TopLeftCorner>" << fmt(a) << ' '
          << fmt(b) << "</TopLeftCorner><TileWidth>" << kTile << "</TileWidth><TileHeight>" << kTile
          << "</TileHeight><MatrixWidth>" << m.cols << "</MatrixWidth><MatrixHeight>" << m.rows
          << "</MatrixHeight></TileMatrix>\n";
    }
    o << "    </TileMatrixSet>\n    <TileMatrixSet>\n      "
         "<ows:Identifier>GoogleMapsCompatible</ows:Identifier>\n"
      << "      <ows:SupportedCRS>urn:ogc:def:crs:EPSG::3857</ows:SupportedCRS>\n"
      << "      "
         "<WellKnownScaleSet>urn:ogc:def:wkss:OGC:1.0:GoogleMapsCompatible</WellKnownScaleSet>\n";
    for (int l = 0; l < kGoogleLevels; ++l) {
        TileMatrix m{};
        google_matrix(l, m);
        o << "      <TileMatrix><ows:Identifier>" << l << "</ows:Identifier><ScaleDenominator>"
          << fmt(m.resolution / kPixelSize) << "</ScaleDenominator><TopLeftCorner>" << fmt(m.left)
          << ' ' << fmt(m.top) << "</TopLeftCorner><TileWidth>" << kTile
          << "</TileWidth><TileHeight>" << kTile << "</TileHeight><MatrixWidth>" << m.cols
          << "</MatrixWidth><MatrixHeight>" << m.rows << "</MatrixHeight></TileMatrix>\n";
    }
    o << "    </TileMatrixSet>\n  </Contents>\n  <ServiceMetadataURL xlink:href=\""
      << xml_escape(base) << "/wmts/1.0.0/WMTSCapabilities.xml\"/>\n</Capabilities>\n";
    return text(200, o.str(), "text/xml; charset=utf-8");
}

Response Service::tile(const Request& r, const std::string& set, const std::string& matrix,
                       long row, long col, bool wmts_errors) {
    auto fail = [&](const std::string& code, const std::string& locator, const std::string& msg) {
        return wmts_errors ? ows_error(code, locator, msg) : text(404, msg + "\n");
    };
    const auto level = parse_int(matrix, 0, 30);
    TileMatrix m{};
    const bool google = set == "GoogleMapsCompatible";
    if (!google && set != "native")
        return fail("InvalidParameterValue", "tilematrixset", "unknown tile matrix set " + set);
    if (!level || !(google ? google_matrix(*level, m) : native_matrix(extent_, *level, m)))
        return fail("InvalidParameterValue", "tilematrix", "unknown tile matrix " + matrix);
    if (row >= m.rows) return fail("TileOutOfRange", "tilerow", "TILEROW is outside the matrix");
    if (col >= m.cols) return fail("TileOutOfRange", "tilecol", "TILECOL is outside the matrix");

    const std::string key =
        set + "/" + std::to_string(*level) + "/" + std::to_string(row) + "/" + std::to_string(col);
    Response res;
    res.etag = etag("tile|" + key);
    res.cache_control = "public, max-age=86400";
    res.content_type = "image/png";
    if (kcommon::if_none_match(r.if_none_match, res.etag)) {
        res.status = 304;
        if (metrics_) metrics_->not_modified.fetch_add(1);
        return res;
    }
    if (const auto it = tiles_.find(key); it != tiles_.end()) {
        lru_.splice(lru_.begin(), lru_, it->second);
        if (metrics_) metrics_->tile_hits.fetch_add(1);
        res.body = it->second->second->png;
        return res;
    }
    if (metrics_) metrics_->tile_misses.fetch_add(1);

    // Draw the metatile holding the tile as one view, so that names are placed once across
    // its tiles, and keep all of its tiles.
    const long mrow = row / kMeta * kMeta;
    const long mcol = col / kMeta * kMeta;
    const int nrows = static_cast<int>(std::min<long>(kMeta, m.rows - mrow));
    const int ncols = static_cast<int>(std::min<long>(kMeta, m.cols - mcol));
    const double span = kTile * m.resolution;
    const Box box{m.left + mcol * span, m.top - (mrow + nrows) * span,
                  m.left + (mcol + ncols) * span, m.top - mrow * span};
    Layers layers;
    layers.map = true;
    std::string why;
    std::optional<Image> meta;
    if (google) {
        // Outside the data set the tiles stay transparent.
        meta = render(*mercator_, box, ncols * kTile, nrows * kTile, layers, false, kWhite, why,
                      false);
    } else {
        meta = render(*native_, box, ncols * kTile, nrows * kTile, layers, false, kWhite, why);
    }
    if (!meta) return fail("NoApplicableCode", "", why);
    std::string wanted;
    for (int tr = 0; tr < nrows; ++tr)
        for (int tc = 0; tc < ncols; ++tc) {
            auto t = std::make_shared<Tile>();
            t->png = encode_png(meta->crop(tc * kTile, tr * kTile, kTile, kTile));
            const std::string k = set + "/" + std::to_string(*level) + "/" +
                                  std::to_string(mrow + tr) + "/" + std::to_string(mcol + tc);
            if (mrow + tr == row && mcol + tc == col) wanted = t->png;
            if (tiles_.count(k)) continue;
            lru_.emplace_front(k, t);
            tiles_[k] = lru_.begin();
        }
    while (lru_.size() > kTileCacheEntries) {
        tiles_.erase(lru_.back().first);
        lru_.pop_back();
    }
    if (wanted.empty()) return fail("NoApplicableCode", "", "the tile could not be encoded");
    res.body = std::move(wanted);
    return res;
}

// ---- JSON --------------------------------------------------------------------------------

namespace {
std::string places_json(const std::vector<Place>& places, bool notes) {
    std::ostringstream o;
    o << "[";
    for (size_t k = 0; k < places.size(); ++k) {
        o << (k ? ",\n " : "\n ") << "{\"name\":\"" << json_escape(places[k].name)
          << "\",\"x\":" << places[k].x << ",\"y\":" << places[k].y;
        if (notes) o << ",\"note\":\"" << json_escape(places[k].note) << "\"";
        o << "}";
    }
    o << "]";
    return o.str();
}
}  // namespace

Response Service::api(const std::string& path, const Params& p) {
    auto integer = [&](const char* key, long lo, long hi) { return parse_int(p.get(key), lo, hi); };
    auto result = [&](const std::optional<std::vector<Place>>& places, bool notes) {
        if (!places) return json_error(503, "the report could not be made");
        return json(200, "{\"count\":" + std::to_string(places->size()) +
                             ",\"items\":" + places_json(*places, notes) + "}\n");
    };
    if (path == "road") {
        const auto x = integer("x", -1000000000, 1000000000);
        const auto y = integer("y", -1000000000, 1000000000);
        const auto scale =
            p.has("scale") ? parse_decimal(p.get("SCALE")) : std::optional<double>(10.0);
        if (!x || !y) return json_error(400, "x and y must be whole metres");
        if (!scale || *scale < 0.5 || *scale > kMaxScale)
            return json_error(400, "scale must be 0.5 to 100000 metres per pixel");
        const auto road = engine_.road_at(static_cast<int>(*x), static_cast<int>(*y), *scale);
        if (!road) return json(200, "{\"road\":null}\n");
        return json(200, "{\"road\":{\"name\":\"" + json_escape(road->name) +
                             "\",\"district\":" + std::to_string(road->district) +
                             ",\"type\":" + std::to_string(road->type) + ",\"code\":\"" +
                             json_escape(road->code) + "\",\"slope\":" +
                             (std::isfinite(road->slope) ? fmt(road->slope) : "null") + "}}\n");
    }
    if (path == "roads" && p.has("NAME")) {
        const std::string& name = p.get("NAME");
        if (name.empty() || name.size() > 80) return json_error(400, "name must be 1 to 80 bytes");
        if (!utf8_to_big5(name))
            return json_error(400, "the name has characters the data set cannot hold");
        return roads_named(name);
    }
    if (path == "info") {
        std::ostringstream o;
        o << "{\"crs\":\"" << json_escape(native_->name()) << "\",\"proj4\":\""
          << json_escape(native_->proj4()) << "\",\"extent\":[" << fmt(extent_.minx) << ','
          << fmt(extent_.miny) << ',' << fmt(extent_.maxx) << ',' << fmt(extent_.maxy)
          << "],\"lonlat\":[" << fmt(extent_ll_.minx) << ',' << fmt(extent_ll_.miny) << ','
          << fmt(extent_ll_.maxx) << ',' << fmt(extent_ll_.maxy) << "],\"categories\":[";
        for (size_t k = 0; k < engine_.categories().size(); ++k)
            o << (k ? "," : "") << engine_.categories()[k];
        o << "],\"districts\":[";
        for (size_t k = 0; k < engine_.districts().size(); ++k)
            o << (k ? "," : "") << engine_.districts()[k];
        o << "],\"version\":\"" KSERVE_VERSION "\"}\n";
        return json(200, o.str());
    }
    if (path == "roads") {
        const auto district = integer("DISTRICT", 0, 999);
        if (!district) return json_error(400, "district must be a district code, 0 to 999");
        if (p.has("MEETING")) {
            const std::string& name = p.get("MEETING");
            if (name.empty() || name.size() > 80)
                return json_error(400, "meeting must name a road");
            if (!utf8_to_big5(name))
                return json_error(400, "the road name has characters the data set cannot hold");
            return result(engine_.meeting_roads(static_cast<int>(*district), name), false);
        }
        return result(engine_.district_roads(static_cast<int>(*district)), false);
    }
    if (path == "pois") {
        const long category =
            p.has("CATEGORY") ? integer("CATEGORY", -32768, 32767).value_or(-99999) : 0;
        if (category == -99999) return json_error(400, "category must be a whole number");
        if (p.has("NAME")) {
            const std::string& name = p.get("NAME");
            if (name.size() > 112) return json_error(400, "name is too long");
            if (!utf8_to_big5(name))
                return json_error(400, "the name has characters the data set cannot hold");
            return result(engine_.pois_named(name), true);
        }
        if (p.has("DISTRICT")) {
            const auto district = integer("DISTRICT", 0, 999);
            if (!district) return json_error(400, "district must be a district code, 0 to 999");
            return result(
                engine_.pois_of_district(static_cast<int>(*district), static_cast<int>(category)),
                true);
        }
        if (p.has("X") || p.has("Y")) {
            const auto x = integer("X", -1000000000, 1000000000);
            const auto y = integer("Y", -1000000000, 1000000000);
            const auto r = p.has("R") ? integer("R", 1, 100000) : std::optional<long long>(500);
            if (!x || !y) return json_error(400, "x and y must be whole metres");
            if (!r) return json_error(400, "r must be 1 to 100000 metres");
            return result(engine_.pois_near(static_cast<int>(*x), static_cast<int>(*y),
                                            static_cast<int>(*r), static_cast<int>(category)),
                          true);
        }
        return json_error(400, "pois wants name, district, or x and y");
    }
    return json_error(404, "unknown query " + path);
}

// Roads whose name contains `name` (ASCII letters in any case), from every district's road
// report, each name once per district, at most kMaxNamed of them.
Response Service::roads_named(const std::string& name) {
    constexpr size_t kMaxNamed = 200;
    if (!road_names_) {
        std::vector<NamedRoad> all;
        for (int d : engine_.districts()) {
            const auto roads = engine_.district_roads(d);
            if (!roads) return json_error(503, "the report could not be made");
            for (const auto& r : *roads)
                if (!r.name.empty()) all.push_back({r, d});
        }
        road_names_ = std::move(all);
    }
    const std::string wanted = lower(name);
    std::ostringstream o;
    size_t count = 0;
    for (const auto& r : *road_names_) {
        if (lower(r.place.name).find(wanted) == std::string::npos) continue;
        if (count == kMaxNamed) break;
        o << (count ? ",\n " : "\n ") << "{\"name\":\"" << json_escape(r.place.name)
          << "\",\"district\":" << r.district << ",\"x\":" << r.place.x << ",\"y\":" << r.place.y
          << "}";
        ++count;
    }
    return json(200, "{\"count\":" + std::to_string(count) + ",\"items\":[" + o.str() + "]}\n");
}

}  // namespace kserve
