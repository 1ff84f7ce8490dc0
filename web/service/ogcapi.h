// ogcapi.h: OGC API at /ogcapi: the landing page, conformance, the OpenAPI description, the
// collections `map` (Maps and Tiles) and `roads` and `pois` (Features), and the tile matrix
// sets. Answers are JSON (HTML for a browser), errors problem details.
#ifndef KSERVE_OGCAPI_H
#define KSERVE_OGCAPI_H

#include <memory>
#include <optional>
#include <string>

#include "kmaps/feature_store.h"
#include "kmaps/tiles.h"
#include "service/json.h"
#include "service/params.h"
#include "service/prepared.h"
#include "service/request.h"
#include "service/site.h"
#include "service/tile_answer.h"

namespace kserve {

// The OpenAPI 3.0 description of every path under /ogcapi (`base` its address), with the
// parameters each takes (ogcapi_openapi.cpp).
Json openapi_document(const std::string& base, const Site& site);

class OgcApi {
  public:
    // Features default to this many a page, and at most kMaxLimit (a larger limit is taken as
    // kMaxLimit, as OGC API Features asks).
    static constexpr int kDefaultLimit = 100;
    static constexpr int kMaxLimit = 1000;

    OgcApi(Site& site, kmaps::Tiles& tiles, kmaps::FeatureStore& features)
        : site_(site), data_(site.data()), tiles_(tiles), features_(features) {}
    // The answer to /ogcapi<path>, `path` "" or starting with '/'; `checked` is check_map(p)
    // when the request was prepared for /ogcapi/collections/map/map (null: read here).
    Response handle(const Request& r, const std::string& path, const Params& p,
                    const CheckedMap* checked);

    // The map of /ogcapi/collections/map/map with these parameters, read and checked, with
    // its cost (kmaps::map_cost; the transport weighs it as the WMS's maps) or the problem
    // details that refuse it.
    CheckedMap check_map(const Params& p) const;

  private:
    // Nothing when `p` asks for a map that can be drawn (`m` then holds it), else the answer
    // that says what is wrong.
    std::optional<Response> read_map(const Params& p, MapRequest& m) const;
    Response map(const Request& r, const CheckedMap& checked);
    // The landing page, /ogcapi.
    Response landing(const Request& r, const Params& p) const;
    // /ogcapi/collections and everything under it, `parts` the path's segments.
    Response collections(const Request& r, const std::string& path,
                         const std::vector<std::string>& parts, const Params& p,
                         const CheckedMap* checked);
    // The description of the collection `id` (map, roads or pois), `base` the API's address.
    Json collection(const std::string& base, const std::string& id) const;
    Response items(const Request& r, const std::string& collection, const Params& p);
    Response item(const Request& r, const std::string& collection, const std::string& id,
                  const Params& p);
    Response tiles(const Request& r, const std::vector<std::string>& parts, const Params& p);
    // /ogcapi/tileMatrixSets[/{set}], `parts` the path's segments from "tileMatrixSets" on.
    Response tile_matrix_sets(const Request& r, const std::string& path,
                              const std::vector<std::string>& parts, const Params& p);

    Site& site_;
    DataSet& data_;
    kmaps::Tiles& tiles_;
    kmaps::FeatureStore& features_;
};

}  // namespace kserve

#endif
