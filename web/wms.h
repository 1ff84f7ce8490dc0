// wms.h: OGC WMS 1.3.0 and 1.1.1 at /wms: GetCapabilities, GetMap, GetFeatureInfo, and the
// service exception reports of both versions.
#ifndef KSERVE_WMS_H
#define KSERVE_WMS_H

#include <string>

#include "capabilities.h"
#include "dataset.h"
#include "params.h"
#include "request.h"

namespace kserve {

// A service exception report of the version's form, with the HTTP status `status` (400: the
// request's fault, 500: the service's). An empty `code` gives none.
Response wms_exception(bool v130, const std::string& code, const std::string& message,
                       int status = 400);

// The cost of a map: the pixels the engine draws for it, weighted by how much a pixel costs.
// A view the engine draws directly costs its pixels; a native map at unequal x and y scales
// (or finer than 1 m a pixel) costs the native picture drawn behind it plus its own pixels; a
// map in another system costs its pixels times kWarpFactor (the native picture, the
// reprojection of every pixel; a 4096 x 4096 map in EPSG:3857 took about 3.3 s of a worker,
// 15 to 40 times the native one).
constexpr double kWarpFactor = 16;
double map_cost(const DataSet& data, const Crs& crs, const Box& box, int width, int height);

class Wms {
  public:
    Wms(DataSet& data, const Capabilities& capabilities)
        : data_(data), capabilities_(capabilities) {}
    Response handle(const Request& r, const Params& p);
    // What a GetMap of these parameters costs (map_cost()); 0 for anything else or parameters
    // that the map would refuse.
    double cost(const Params& p) const;

  private:
    Response map(const Request& r, const Params& p, bool v130);
    Response feature_info(const Params& p, bool v130);

    DataSet& data_;
    const Capabilities& capabilities_;
};

}  // namespace kserve

#endif
