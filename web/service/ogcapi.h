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
#include "service/request.h"
#include "service/site.h"
#include "service/wmts.h"

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

    OgcApi(Site& site, kmaps::Tiles& tiles, Wmts& wmts, kmaps::FeatureStore& features)
        : site_(site), data_(site.data()), tiles_(tiles), wmts_(wmts), features_(features) {}
    // The answer to /ogcapi<path>, `path` "" or starting with '/'.
    Response handle(const Request& r, const std::string& path, const Params& p);

    // What the map of /ogcapi/collections/map/map with these parameters costs (map_cost() of
    // render.h); 0 for bad parameters. The transport weighs it as the WMS's maps.
    double cost(const Params& p);

  private:
    // A map request's parameters, read and checked.
    struct MapRequest {
        std::shared_ptr<Crs> crs;
        Box box;
        int width = 0, height = 0;
        std::string format;  // image/png, image/jpeg, image/gif or image/bmp
        bool transparent = false;
        unsigned background = 0xFFFFFF;
    };
    // Nothing when `p` asks for a map that can be drawn (`m` then holds it), else the answer
    // that says what is wrong.
    std::optional<Response> read_map(const Params& p, MapRequest& m);
    Response map(const Request& r, const Params& p);
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
    Wmts& wmts_;
    kmaps::FeatureStore& features_;
};

}  // namespace kserve

#endif
