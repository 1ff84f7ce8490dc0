// api.h: the JSON queries at /api/: the data set's description, the road at a point, roads and
// points of interest by district, name or place. Texts are UTF-8, converted from and to the
// data set's Big5.
#ifndef KSERVE_API_H
#define KSERVE_API_H

#include <optional>
#include <string>
#include <vector>

#include "service/params.h"
#include "service/request.h"
#include "service/site.h"

namespace kserve {

class Api {
  public:
    explicit Api(Site& site) : data_(site.data()) {}
    // The answer to /api/<path>.
    Response handle(const Request& r, const std::string& path, const Params& p);

  private:
    Response roads_named(const std::string& name);

    DataSet& data_;
    // Every district's roads, read once on the first search by road name.
    struct NamedRoad {
        Place place;
        int district;
    };
    std::optional<std::vector<NamedRoad>> road_names_;
};

}  // namespace kserve

#endif
