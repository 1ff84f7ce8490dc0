// service.h: the service's answers to requests, independent of the HTTP transport: a request
// read once (prepare), routed by one table to its interface (WMS, WMTS and XYZ tiles, OGC API,
// the JSON queries, the viewer's files), /healthz, /livez and /metrics, and the cross-origin
// rules every answer follows.
#ifndef KSERVE_SERVICE_H
#define KSERVE_SERVICE_H

#include <memory>
#include <string>
#include <string_view>

#include "kmaps/feature_store.h"
#include "kmaps/tiles.h"
#include "service/api.h"
#include "service/capabilities.h"
#include "service/errors.h"
#include "service/metrics.h"
#include "service/ogcapi.h"
#include "service/prepared.h"
#include "service/request.h"
#include "service/site.h"
#include "service/vector_tiles.h"
#include "service/wms.h"
#include "service/wmts.h"

namespace kserve {

class StaticFiles;

// Seconds /healthz says "degraded" after a map met a damaged or unreadable tile file.
constexpr int kTileFaultMemory = 300;

class Service;

// A row of the routing table: the requests whose decoded path is `pattern` (or starts with it,
// for a prefix), the interface that answers them, the form of their errors, and for the routes
// that draw maps the reader of a map request, which gives the request its cost.
struct Route {
    const char* pattern;
    bool prefix;
    const char* interface;  // its name, for the log and the tests
    ErrorForm errors;
    Response (Service::*answer)(const PreparedRequest& q);
    std::optional<CheckedMap> (Service::*check_map)(const Params& p) const;
};

class Service {
  public:
    // False, with `error` set, when the data set does not load, the coordinate system is
    // unknown or the viewer's folder holds no page. `metrics` may be null.
    bool start(const Config& config, Metrics* metrics, std::string& error);
    // `request` read once: its path decoded, its query parsed, its route found, and for a map
    // its map request checked and costed. A request that cannot be read (a bad method, path
    // or query) or a preflight is answered here already (`decided`).
    PreparedRequest prepare(const Request& request) const;
    // What answering a prepared request costs: a map's cost (kmaps::map_cost), 0 for anything
    // else. The transport lets at most a few expensive maps be drawn at once over the workers.
    static double cost(const PreparedRequest& q) { return q.cost(); }
    // The answer to a prepared request, with the cross-origin fields (CORS) every answer
    // carries; an OPTIONS request (a browser's preflight) gets 200 and what may be asked. A map
    // that needs a damaged or unreadable tile file is answered with a 500 in its route's error
    // form that no cache keeps, counted in /metrics, and /healthz says "degraded" for
    // kTileFaultMemory after the last one.
    Response answer(const PreparedRequest& q);
    // prepare() and answer() in one step.
    Response handle(const Request& request) { return answer(prepare(request)); }
    double map_budget() const { return site_.map_budget(); }

    // The route of a decoded path: the first row of the table that matches; null for none.
    static const Route* route_of(std::string_view path);

  private:
    static const Route kRoutes[];

    // The route's answer, with a map that met a damaged tile file turned into a 500.
    Response checked_answer(const PreparedRequest& q);
    // The answers of the routes, and what answers a path no route takes (the viewer's files,
    // the index, 404).
    Response health(const PreparedRequest& q);
    Response live(const PreparedRequest& q);
    Response metrics(const PreparedRequest& q);
    Response wms(const PreparedRequest& q);
    Response wmts_kvp(const PreparedRequest& q);
    Response wmts_capabilities(const PreparedRequest& q);
    Response wmts_rest(const PreparedRequest& q);
    Response tilejson(const PreparedRequest& q);
    Response xyz(const PreparedRequest& q);
    Response vector(const PreparedRequest& q);
    Response ogcapi(const PreparedRequest& q);
    Response api(const PreparedRequest& q);
    Response files(const PreparedRequest& q);
    // The map requests of the routes that draw maps.
    std::optional<CheckedMap> wms_map(const Params& p) const;
    std::optional<CheckedMap> ogcapi_map(const Params& p) const;

    Site site_;
    std::unique_ptr<kmaps::Tiles> tiles_;
    Capabilities capabilities_;  // made once, in start()
    std::unique_ptr<Wms> wms_;
    std::unique_ptr<Wmts> wmts_;
    std::unique_ptr<Api> api_;
    kmaps::FeatureStore features_;
    std::unique_ptr<OgcApi> ogcapi_;
    std::unique_ptr<VectorTileService> vector_;
    std::shared_ptr<StaticFiles> viewer_;
    std::string public_url_;
    std::string data_dir_;
};

}  // namespace kserve

#endif
