// service.cpp: the routing of requests to the interfaces.
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
    ogcapi_ = std::make_unique<OgcApi>(site_, *tiles_, *wmts_, features_);
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
    Response res = answer(200, "");
    res.content_type.clear();
    res.headers = {{"Allow", kAllowMethods},
                   {"Access-Control-Allow-Methods", kAllowMethods},
                   {"Access-Control-Allow-Headers", kAllowHeaders},
                   {"Access-Control-Max-Age", "86400"}};
    return res;
}

}  // namespace

Response Service::handle(const Request& request) {
    Request r = request;
    r.public_url = public_url_;
    Response res = r.method == "OPTIONS" ? preflight() : checked_route(r);
    if (res.status == 405) res.headers.emplace_back("Allow", kAllowMethods);
    res.headers.emplace_back("Access-Control-Expose-Headers", kExposeHeaders);
    return res;
}

Response Service::checked_route(const Request& r) {
    Engine& engine = site_.data().engine();
    engine.clear_tile_fault();
    Response res = route(r);
    if (engine.tile_fault().empty()) return res;
    // The engine would have drawn the damaged tile blank: a picture that looks right and is
    // not, which caches would keep. The map is refused in its interface's form instead.
    const std::string why = "a tile file of the data set is damaged or unreadable (" +
                            engine.tile_fault() + "); the map cannot be drawn";
    engine.clear_tile_fault();
    const size_t q = r.target.find('?');
    const std::string path = r.target.substr(0, q);
    if (path == "/wms") {
        Params p;
        std::string ignored;
        if (q != std::string::npos) p.parse(std::string_view(r.target).substr(q + 1), ignored);
        const std::string version = p.has("VERSION") ? p.get("VERSION") : p.get("WMTVER");
        res = wms_exception(version.rfind("1.1", 0) != 0, "", why, 500);
    } else if (path.rfind("/wmts", 0) == 0) {
        res = ows_exception("NoApplicableCode", "", why);
    } else if (path.rfind("/api/", 0) == 0) {
        res = json_error(500, why);
    } else {
        res = answer(500, why + "\n");
    }
    res.status = 500;
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
Response Service::health() const {
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
    Response res =
        problem.empty() ? answer(200, "ok\n") : answer(503, "degraded: " + problem + "\n");
    res.cache_control = "no-store";
    return res;
}

double Service::cost(const Request& r) const {
    const size_t q = r.target.find('?');
    if (q == std::string::npos) return 0;
    const std::string_view path = std::string_view(r.target).substr(0, q);
    const bool wms = path == "/wms", ogc = path == "/ogcapi/collections/map/map";
    if (!wms && !ogc) return 0;
    Params p;
    std::string error;
    if (!p.parse(std::string_view(r.target).substr(q + 1), error)) return 0;
    return wms ? wms_->cost(p) : ogcapi_->cost(p);
}

Response Service::route(const Request& r) {
    if (r.method != "GET" && r.method != "HEAD")
        return answer(405, "only GET, HEAD and OPTIONS are served\n");
    const size_t q = r.target.find('?');
    const std::string raw_path = r.target.substr(0, q);
    std::string path;
    if (!percent_decode(raw_path, path) || path.empty() || path[0] != '/')
        return answer(400, "malformed path\n");
    Params p;
    std::string error;
    if (q != std::string::npos && !p.parse(std::string_view(r.target).substr(q + 1), error)) {
        if (path == "/wms") return wms_exception(true, "", error);
        if (path.rfind("/wmts", 0) == 0) return ows_exception("InvalidParameterValue", "", error);
        if (path.rfind("/api/", 0) == 0) return json_error(400, error);
        if (path == "/ogcapi" || path.rfind("/ogcapi/", 0) == 0) return json_problem(400, error);
        return answer(400, error + "\n");
    }

    if (path == "/healthz") return health();
    if (path == "/metrics") {
        Metrics* metrics = site_.metrics();
        return answer(200, metrics ? metrics->text() : "",
                      "text/plain; version=0.0.4; charset=utf-8");
    }
    if (auto res = vector_->route(r, path, p)) return std::move(*res);
    if (path == "/wms") return wms_->handle(r, p);
    if (path == "/wmts" || path == "/wmts/") return wmts_->kvp(r, p);
    if (path == "/wmts/1.0.0/WMTSCapabilities.xml") return wmts_->capabilities(r);
    if (path.rfind("/wmts/1.0.0/", 0) == 0) return wmts_->rest(r, path.substr(12));
    if (path == "/tiles/google.json" || path == "/tiles/native.json")
        return *wmts_->tilejson(r, path.substr(7, path.size() - 12));
    if (path.rfind("/tiles/", 0) == 0) return wmts_->xyz(r, path.substr(7));
    if (path == "/ogcapi" || path.rfind("/ogcapi/", 0) == 0)
        return ogcapi_->handle(r, path.substr(7), p);
    if (path.rfind("/api/", 0) == 0) return api_->handle(r, path.substr(5), p);
    if (viewer_)
        if (auto file = viewer_->get(path, r.if_none_match)) return std::move(*file);
    if (path == "/" || path == "/index.html")
        return answer(200, "kserve " KSERVE_VERSION
                           "\n"
                           "  /wms?SERVICE=WMS&REQUEST=GetCapabilities\n"
                           "  /wmts/1.0.0/WMTSCapabilities.xml\n"
                           "  /tiles/{native|google}/{z}/{x}/{y}.png  /tiles/google.json\n"
                           "  /tiles/{native|google}/{z}/{x}/{y}.mvt  /tiles/google.mvt.json\n"
                           "  /styles/kestrel.json  /fonts/{fontstack}/{range}.pbf\n"
                           "  /ogcapi (OGC API Maps, Tiles, Features)\n"
                           "  /api/road?x=X&y=Y  /api/roads?district=N  /api/pois?name=TEXT\n"
                           "  /healthz  /metrics\n");
    return answer(404, "not found\n");
}

}  // namespace kserve
