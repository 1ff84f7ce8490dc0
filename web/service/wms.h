// wms.h: OGC WMS 1.3.0 and 1.1.1 at /wms: GetCapabilities, GetMap, GetFeatureInfo, and the
// service exception reports of both versions.
#ifndef KSERVE_WMS_H
#define KSERVE_WMS_H

#include <string>

#include "service/capabilities.h"
#include "service/params.h"
#include "service/request.h"
#include "service/site.h"

namespace kserve {

// A service exception report of the version's form, with the HTTP status `status` (400: the
// request's fault, 500: the service's). An empty `code` gives none.
Response wms_exception(bool v130, const std::string& code, const std::string& message,
                       int status = 400);

class Wms {
  public:
    Wms(Site& site, const Capabilities& capabilities)
        : site_(site), data_(site.data()), capabilities_(capabilities) {}
    Response handle(const Request& r, const Params& p);
    // What a GetMap of these parameters costs (map_cost() of render.h); 0 for anything else or
    // parameters that the map would refuse.
    double cost(const Params& p) const;

  private:
    Response map(const Request& r, const Params& p, bool v130);
    Response feature_info(const Params& p, bool v130);

    Site& site_;
    DataSet& data_;
    const Capabilities& capabilities_;
};

}  // namespace kserve

#endif
