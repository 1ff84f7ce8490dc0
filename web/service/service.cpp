// service.cpp: the routing table, the reading of a request and its answer.
#include "service/service.h"

#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "service/files.h"
#include "service/json.h"

namespace kserve {

bool Service::start(const Config& config, Metrics* metrics, std::string& error) {
    if (!site_.open(config, metrics, error)) return false;
    site_.data().engine().on_tile_news([](const std::string& path, const std::string& why) {
        if (why.empty())
            std::fprintf(stderr, "kserve: worker %d: tile file %s is sound again\n", ::getpid(),
                         path.c_str());
        else
            std::fprintf(stderr,
                         "kserve: worker %d: tile file %s %s; maps that need it get a 500\n",
                         ::getpid(), path.c_str(), why.c_str());
    });
    public_url_ = config.public_url;
    data_dir_ = config.data;
    DataSet& data = site_.data();
    tiles_ = std::make_unique<kmaps::Tiles>(data);
    capabilities_.build(site_, tiles_->sets());
    wms_ = std::make_unique<Wms>(site_, capabilities_);
    wmts_ = std::make_unique<Wmts>(site_, capabilities_, *tiles_);
    api_ = std::make_unique<Api>(site_);
    if (!features_.open(data.engine().dir(), data.extent(), error)) return false;
    ogcapi_ = std::make_unique<OgcApi>(site_, *tiles_, features_);
    vector_ = std::make_unique<VectorTileService>(site_, *tiles_);
    if (!vector_->open(default_fonts_dir(), error)) return false;
    if (!config.viewer.empty()) {
        viewer_ = std::make_shared<StaticFiles>();
        if (!viewer_->open(config.viewer, error)) return false;
    }
    return true;
}

namespace {

// What scripts of other origins may do: every resource is read with GET (or HEAD); a request
// may carry validators and say what it accepts; scripts may read the validator and the OGC
// API's headers of an answer.
constexpr const char* kAllowMethods = "GET, HEAD, OPTIONS";
constexpr const char* kAllowHeaders =
    "Accept, Accept-Language, Content-Type, If-None-Match, "
    "If-Modified-Since, Cache-Control, Range";
constexpr const char* kExposeHeaders = "ETag, Content-Crs, Content-Bbox, Link";

Response preflight() {
    Response res = kserve::answer(200, "");
    res.content_type.clear();
    res.headers = {{"Allow", kAllowMethods},
                   {"Access-Control-Allow-Methods", kAllowMethods},
                   {"Access-Control-Allow-Headers", kAllowHeaders},
                   {"Access-Control-Max-Age", "86400"}};
    return res;
}

}  // namespace

// The routing table: the first row that matches a request's decoded path takes it. The rows
// of a prefix come after the exact paths under it.
const Route Service::kRoutes[] = {
    {"/healthz", false, "health", ErrorForm::plain, &Service::health, nullptr},
    {"/livez", false, "live", ErrorForm::plain, &Service::live, nullptr},
    {"/metrics", false, "metrics", ErrorForm::plain, &Service::metrics, nullptr},
    {"/wms", false, "wms", ErrorForm::wms, &Service::wms, &Service::wms_map},
    {"/wmts", false, "wmts", ErrorForm::ows, &Service::wmts_kvp, nullptr},
    {"/wmts/", false, "wmts", ErrorForm::ows, &Service::wmts_kvp, nullptr},
    {"/wmts/1.0.0/WMTSCapabilities.xml", false, "wmts", ErrorForm::ows, &Service::wmts_capabilities,
     nullptr},
    {"/wmts/1.0.0/", true, "wmts", ErrorForm::ows, &Service::wmts_rest, nullptr},
    // Other paths of the WMTS's prefix are the viewer's files (or 404), but a query that
    // cannot be read is refused as the WMTS refuses it.
    {"/wmts", true, "files", ErrorForm::ows, &Service::files, nullptr},
    {"/tiles/google.json", false, "tilejson", ErrorForm::plain, &Service::tilejson, nullptr},
    {"/tiles/native.json", false, "tilejson", ErrorForm::plain, &Service::tilejson, nullptr},
    {"/tiles/google.mvt.json", false, "vector", ErrorForm::plain, &Service::vector, nullptr},
    {"/tiles/native.mvt.json", false, "vector", ErrorForm::plain, &Service::vector, nullptr},
    {"/tiles/", true, "xyz", ErrorForm::plain, &Service::xyz, nullptr},
    {"/styles/kestrel.json", false, "vector", ErrorForm::plain, &Service::vector, nullptr},
    {"/fonts/", true, "vector", ErrorForm::plain, &Service::vector, nullptr},
    {"/ogcapi/collections/map/tiles", false, "vector", ErrorForm::problem, &Service::vector,
     nullptr},
    {"/ogcapi/collections/map/tiles/", true, "vector", ErrorForm::problem, &Service::vector,
     nullptr},
    {"/ogcapi/collections/map/map", false, "ogcapi", ErrorForm::problem, &Service::ogcapi,
     &Service::ogcapi_map},
    {"/ogcapi", false, "ogcapi", ErrorForm::problem, &Service::ogcapi, nullptr},
    {"/ogcapi/", true, "ogcapi", ErrorForm::problem, &Service::ogcapi, nullptr},
    {"/api/", true, "api", ErrorForm::json, &Service::api, nullptr},
};

const Route* Service::route_of(std::string_view path) {
    for (const Route& route : kRoutes)
        if (route.prefix ? path.rfind(route.pattern, 0) == 0 : path == route.pattern) return &route;
    return nullptr;
}

PreparedRequest Service::prepare(const Request& request) const {
    PreparedRequest q;
    q.request = request;
    q.request.public_url = public_url_;
    const Request& r = q.request;
    if (r.method == "OPTIONS") {
        q.decided = preflight();
        return q;
    }
    if (r.method != "GET" && r.method != "HEAD") {
        q.decided = kserve::answer(405, "only GET, HEAD and OPTIONS are served\n");
        return q;
    }
    const size_t mark = r.target.find('?');
    if (!percent_decode(std::string_view(r.target).substr(0, mark), q.path) || q.path.empty() ||
        q.path[0] != '/') {
        q.decided = kserve::answer(400, "malformed path\n");
        return q;
    }
    q.route = route_of(q.path);
    std::string error;
    if (mark != std::string::npos &&
        !q.params.parse(std::string_view(r.target).substr(mark + 1), error)) {
        q.decided = error_answer(q.route ? q.route->errors : ErrorForm::plain, 400, error);
        return q;
    }
    if (q.route && q.route->check_map) q.map = (this->*q.route->check_map)(q.params);
    return q;
}

Response Service::answer(const PreparedRequest& q) {
    Response res = q.decided ? *q.decided : checked_answer(q);
    if (res.status == 405) res.headers.emplace_back("Allow", kAllowMethods);
    res.headers.emplace_back("Access-Control-Expose-Headers", kExposeHeaders);
    return res;
}

Response Service::checked_answer(const PreparedRequest& q) {
    Engine& engine = site_.data().engine();
    engine.clear_tile_fault();
    Response res = q.route ? (this->*q.route->answer)(q) : files(q);
    if (engine.tile_fault().empty()) return res;
    // The engine would have drawn the damaged tile blank: a picture that looks right and is
    // not, which caches would keep. The map is refused in its interface's form instead.
    const std::string why = "a tile file of the data set is damaged or unreadable (" +
                            engine.tile_fault() + "); the map cannot be drawn";
    engine.clear_tile_fault();
    const std::string version =
        q.params.has("VERSION") ? q.params.get("VERSION") : q.params.get("WMTVER");
    res = error_answer(q.route ? q.route->errors : ErrorForm::plain, 500, why,
                       version.rfind("1.1", 0) != 0);
    res.etag.clear();
    res.cache_control = "no-store";
    if (Metrics* m = site_.metrics()) {
        m->tile_faults.fetch_add(1, std::memory_order_relaxed);
        m->last_tile_fault_ms.store(monotonic_ms(), std::memory_order_relaxed);
    }
    return res;
}

// "ok", or a 503 "degraded: ..." while the data set's folder cannot be read or a map met a
// damaged or unreadable tile file less than kTileFaultMemory ago (in any worker).
Response Service::health(const PreparedRequest&) {
    std::string problem;
    if (DIR* d = ::opendir(data_dir_.c_str()))
        ::closedir(d);
    else
        problem = "the data set's folder cannot be read: " + std::string(std::strerror(errno));
    if (const Metrics* m = site_.metrics(); m && problem.empty()) {
        const int64_t last = m->last_tile_fault_ms.load(std::memory_order_relaxed);
        const int64_t ago = monotonic_ms() - last;
        if (last != 0 && ago < int64_t{kTileFaultMemory} * 1000)
            problem = std::to_string(m->tile_faults.load()) +
                      " maps refused since the start for damaged or unreadable tile files, the "
                      "last " +
                      std::to_string(ago / 1000) + " s ago (see the log)";
    }
    Response res = problem.empty() ? kserve::answer(200, "ok\n")
                                   : kserve::answer(503, "degraded: " + problem + "\n");
    res.cache_control = "no-store";
    return res;
}

// "ok" while the process answers, whatever the data set's state: for liveness probes, which
// restart a process that stopped answering (readiness is /healthz's).
Response Service::live(const PreparedRequest&) {
    Response res = kserve::answer(200, "ok\n");
    res.cache_control = "no-store";
    return res;
}

Response Service::metrics(const PreparedRequest&) {
    Metrics* metrics = site_.metrics();
    return kserve::answer(200, metrics ? metrics->text() : "",
                          "text/plain; version=0.0.4; charset=utf-8");
}

std::optional<CheckedMap> Service::wms_map(const Params& p) const {
    return wms_->check_map(p);
}

std::optional<CheckedMap> Service::ogcapi_map(const Params& p) const {
    return ogcapi_->check_map(p);
}

Response Service::wms(const PreparedRequest& q) {
    return wms_->handle(q.request, q.params, q.map ? &*q.map : nullptr);
}

Response Service::wmts_kvp(const PreparedRequest& q) {
    return wmts_->kvp(q.request, q.params);
}

Response Service::wmts_capabilities(const PreparedRequest& q) {
    return wmts_->capabilities(q.request);
}

Response Service::wmts_rest(const PreparedRequest& q) {
    return wmts_->rest(q.request, q.path.substr(std::strlen("/wmts/1.0.0/")));
}

Response Service::tilejson(const PreparedRequest& q) {
    // "/tiles/{name}.json"
    const std::string name = q.path.substr(7, q.path.size() - 12);
    return *wmts_->tilejson(q.request, name);
}

Response Service::xyz(const PreparedRequest& q) {
    if (auto res = vector_->route(q.request, q.path, q.params)) return std::move(*res);
    return wmts_->xyz(q.request, q.path.substr(std::strlen("/tiles/")));
}

Response Service::ogcapi(const PreparedRequest& q) {
    return ogcapi_->handle(q.request, q.path.substr(std::strlen("/ogcapi")), q.params,
                           q.map ? &*q.map : nullptr);
}

// The vector tiles' descriptions, their style and glyphs, and the OGC API's vector tile sets.
Response Service::vector(const PreparedRequest& q) {
    if (auto res = vector_->route(q.request, q.path, q.params)) return std::move(*res);
    return kserve::answer(404, "not found\n");
}

Response Service::api(const PreparedRequest& q) {
    return api_->handle(q.request, q.path.substr(std::strlen("/api/")), q.params);
}

Response Service::files(const PreparedRequest& q) {
    if (viewer_)
        if (auto file = viewer_->get(q.path, q.request.if_none_match)) return std::move(*file);
    if (q.path == "/" || q.path == "/index.html")
        return kserve::answer(200,
                              "kserve " KSERVE_VERSION
                              "\n"
                              "  /wms?SERVICE=WMS&REQUEST=GetCapabilities\n"
                              "  /wmts/1.0.0/WMTSCapabilities.xml\n"
                              "  /tiles/{native|google}/{z}/{x}/{y}.png  /tiles/google.json\n"
                              "  /tiles/{native|google}/{z}/{x}/{y}.mvt  /tiles/google.mvt.json\n"
                              "  /styles/kestrel.json  /fonts/{fontstack}/{range}.pbf\n"
                              "  /ogcapi (OGC API Maps, Tiles, Features)\n"
                              "  /api/road?x=X&y=Y  /api/roads?district=N  /api/pois?name=TEXT\n"
                              "  /healthz  /livez  /metrics\n");
    return kserve::answer(404, "not found\n");
}

}  // namespace kserve
