// prepared.h: a request as the service reads it, once: its decoded path, its parameters, the
// route it takes (its interface and the form of its errors), and for a map its checked map
// request and what drawing it costs. The transport weighs the cost before it asks for the
// answer; the answer uses what was read and never reads the request again.
#ifndef KSERVE_PREPARED_H
#define KSERVE_PREPARED_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kmaps/render.h"
#include "service/params.h"
#include "service/request.h"
#include "service/site.h"

namespace kserve {

// A map's parameters, read and checked (WMS GetMap, OGC API Maps).
struct MapRequest {
    std::shared_ptr<Crs> crs;
    Box box{};
    int width = 0, height = 0;
    std::string format;  // image/png, image/jpeg, image/gif or image/bmp
    bool transparent = false;
    unsigned background = kmaps::kWhite;
    int factor = 1;                        // drawing scale factor (WMS: the client's resolution)
    std::vector<std::string> layer_names;  // WMS LAYERS; empty: the map alone
};

// A map request read once: the map to draw and its cost (kmaps::map_cost), or the answer in
// the interface's form that says what is wrong with it.
struct CheckedMap {
    std::optional<MapRequest> map;
    Response refusal;
    double cost = 0;
};

struct Route;

// A request read once, with what the service will answer it from.
struct PreparedRequest {
    Request request;   // as received, its public_url the service's
    std::string path;  // percent-decoded
    Params params;
    const Route* route = nullptr;     // null: the viewer's files, the index or 404
    std::optional<Response> decided;  // answered while reading: a preflight, 405, a bad query
    std::optional<CheckedMap> map;    // on a route that draws maps, when it asks for one

    // What answering costs: a map's cost, 0 for anything else.
    double cost() const { return map && map->map ? map->cost : 0; }
};

}  // namespace kserve

#endif
