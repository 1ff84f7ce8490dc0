// wms.h: OGC WMS 1.3.0 and 1.1.1 at /wms: GetCapabilities, GetMap and GetFeatureInfo,
// refused with the service exception reports of both versions (errors.h).
#ifndef KSERVE_WMS_H
#define KSERVE_WMS_H

#include <optional>
#include <string>

#include "service/capabilities.h"
#include "service/errors.h"
#include "service/params.h"
#include "service/prepared.h"
#include "service/request.h"
#include "service/site.h"

namespace kserve {

class Wms {
  public:
    Wms(Site& site, const Capabilities& capabilities)
        : site_(site), data_(site.data()), capabilities_(capabilities) {}
    // The answer to /wms with the parameters `p`; `checked` is check_map(p) when the request
    // was prepared (null: read here).
    Response handle(const Request& r, const Params& p, const CheckedMap* checked);
    // A GetMap's map request, read and checked, with its cost (kmaps::map_cost) or the
    // exception that refuses it; nothing for another request.
    std::optional<CheckedMap> check_map(const Params& p) const;

  private:
    Response map(const Request& r, bool v130, const CheckedMap& checked);
    Response feature_info(const Params& p, bool v130);

    Site& site_;
    DataSet& data_;
    const Capabilities& capabilities_;
};

}  // namespace kserve

#endif
