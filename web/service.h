// service.h: the service's answers to requests, independent of the HTTP transport: WMS,
// WMTS, XYZ tiles, the JSON queries, /healthz and /metrics.
#ifndef KSERVE_SERVICE_H
#define KSERVE_SERVICE_H

#include <list>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "engine.h"
#include "metrics.h"
#include "params.h"
#include "warp.h"

namespace kserve {

constexpr int kMaxSide = 4096;        // WIDTH and HEIGHT of a map
constexpr int kMaxRenderSide = 8192;  // a native render behind a warped or stretched map
constexpr double kMinScale = 0.01;    // metres per pixel
constexpr double kMaxScale = 100000.0;

struct Request {
    std::string method;         // GET or HEAD
    std::string target;         // path and query as sent
    std::string host;           // Host header, for the addresses in capabilities
    std::string if_none_match;  // every If-None-Match field line, joined by commas
};

struct Response {
    int status = 200;
    std::string content_type = "text/plain; charset=utf-8";
    std::string body;
    std::string etag;           // quoted; empty: none
    std::string cache_control;  // empty: none
};

struct Config {
    std::string data;
    std::string crs = "EPSG:3826";
    std::string viewer;  // the built viewer's folder, served at /; empty: none
};

class StaticFiles;

class Service {
  public:
    // False when the data set does not load or the coordinate system is unknown.
    bool start(const Config& config, Metrics* metrics, std::string& error);
    Response handle(const Request& request);

  private:
    struct Layers {
        bool map = false;
        std::vector<int> pois;
    };
    struct Tile {
        std::string png;
    };

    Response wms(const Request& r, const Params& p);
    Response wms_capabilities(const Request& r, bool v130);
    Response wms_map(const Request& r, const Params& p, bool v130);
    Response wms_info(const Params& p, bool v130);
    Response wmts(const Request& r, const Params& p);
    Response wmts_capabilities(const Request& r);
    Response tile(const Request& r, const std::string& set, const std::string& matrix, long row,
                  long col, bool wmts_errors);
    Response api(const std::string& path, const Params& p);
    Response roads_named(const std::string& name);

    std::optional<Image> render(const Crs& crs, const Box& box, int width, int height,
                                const Layers& layers, bool transparent, unsigned background,
                                std::string& error, bool fill_outside = true);
    std::string etag(const std::string& key) const;

    Config config_;
    Metrics* metrics_ = nullptr;
    Engine engine_;
    std::shared_ptr<Crs> native_;
    std::shared_ptr<Crs> mercator_;
    std::shared_ptr<Crs> wgs84_;
    std::vector<std::shared_ptr<Crs>> systems_;  // native first, then those offered
    Box extent_{};                               // native
    Box extent_ll_{};                            // lon/lat
    Box extent_3857_{};

    // Tiles cut from metatiles, most recently used first.
    std::list<std::pair<std::string, std::shared_ptr<Tile>>> lru_;
    std::unordered_map<std::string, decltype(lru_)::iterator> tiles_;

    std::shared_ptr<StaticFiles> viewer_;
    // Every district's roads, read once on the first search by road name.
    struct NamedRoad {
        Place place;
        int district;
    };
    std::optional<std::vector<NamedRoad>> road_names_;
};

// Escapes text for XML attributes and content, and for JSON strings.
std::string xml_escape(const std::string& s);
std::string json_escape(const std::string& s);

}  // namespace kserve

#endif
