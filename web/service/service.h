// service.h: the service's answers to requests, independent of the HTTP transport: the routing
// of a request to its interface (WMS, WMTS and XYZ tiles, OGC API, the JSON queries, the
// viewer's files), /healthz and /metrics, and the cross-origin rules every answer follows.
#ifndef KSERVE_SERVICE_H
#define KSERVE_SERVICE_H

#include <memory>
#include <string>

#include "kmaps/feature_store.h"
#include "kmaps/tiles.h"
#include "service/api.h"
#include "service/capabilities.h"
#include "service/metrics.h"
#include "service/ogcapi.h"
#include "service/request.h"
#include "service/site.h"
#include "service/vector_tiles.h"
#include "service/wms.h"
#include "service/wmts.h"

namespace kserve {

class StaticFiles;

// Seconds /healthz says "degraded" after a map met a damaged or unreadable tile file.
constexpr int kTileFaultMemory = 300;

class Service {
  public:
    // False, with `error` set, when the data set does not load, the coordinate system is
    // unknown or the viewer's folder holds no page. `metrics` may be null.
    bool start(const Config& config, Metrics* metrics, std::string& error);
    // The answer to `request`, with the cross-origin fields (CORS) every answer carries; an
    // OPTIONS request (a browser's preflight) gets 200 and what may be asked. A map that needs
    // a damaged or unreadable tile file is answered with a 500 that no cache keeps, counted in
    // /metrics, and /healthz says "degraded" for kTileFaultMemory after the last one.
    Response handle(const Request& request);
    // What answering `request` costs: a map's cost (kmaps::map_cost), 0 for anything
    // else. The transport lets at most a few expensive maps be drawn at once over the workers.
    double cost(const Request& request) const;
    double map_budget() const { return site_.map_budget(); }

  private:
    // route() with a map that met a damaged tile file turned into a 500 (handle()).
    Response checked_route(const Request& r);
    Response route(const Request& r);
    Response health() const;

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
