// service.h: the service's answers to requests, independent of the HTTP transport: the routing
// of a request to its interface (WMS, WMTS and XYZ tiles, the JSON queries, the viewer's
// files), /healthz and /metrics.
#ifndef KSERVE_SERVICE_H
#define KSERVE_SERVICE_H

#include <memory>
#include <string>

#include "api.h"
#include "capabilities.h"
#include "dataset.h"
#include "metrics.h"
#include "request.h"
#include "tiles.h"
#include "wms.h"
#include "wmts.h"

namespace kserve {

class StaticFiles;

class Service {
  public:
    // False, with `error` set, when the data set does not load, the coordinate system is
    // unknown or the viewer's folder holds no page. `metrics` may be null.
    bool start(const Config& config, Metrics* metrics, std::string& error);
    Response handle(const Request& request);

  private:
    DataSet data_;
    std::unique_ptr<Tiles> tiles_;
    Capabilities capabilities_;  // made once, in start()
    std::unique_ptr<Wms> wms_;
    std::unique_ptr<Wmts> wmts_;
    std::unique_ptr<Api> api_;
    std::shared_ptr<StaticFiles> viewer_;
};

}  // namespace kserve

#endif
