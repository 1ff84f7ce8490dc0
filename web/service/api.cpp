// api.cpp: the JSON queries.
#include "service/api.h"

#include <cmath>
#include <cstdint>
#include <limits>

#include "kmaps/render.h"
#include "service/json.h"

namespace kserve {

namespace {

// A district code of the query addresses: any the district index may hold (a decimal int32,
// /api/info lists those of the data set).
constexpr long kDistrictMax = std::numeric_limits<std::int32_t>::max();
constexpr const char* kBadDistrict = "district must be a district code, 0 to 2147483647";

Json places_json(const std::vector<Place>& places, bool notes) {
    Json list = Json::array();
    for (const auto& p : places) {
        Json item = {{"name", p.name}, {"x", p.x}, {"y", p.y}};
        if (notes) item["note"] = p.note;
        list.push_back(std::move(item));
    }
    return list;
}

}  // namespace

Response Api::handle(const Request& r, const std::string& path, const Params& p) {
    Engine& engine = data_.engine();
    auto integer = [&](const char* key, long lo, long hi) { return parse_int(p.get(key), lo, hi); };
    auto result = [&](const std::optional<std::vector<Place>>& places, bool notes) {
        if (!places) return json_error(503, "the report could not be made");
        return json_answer(200,
                           Json{{"count", places->size()}, {"items", places_json(*places, notes)}});
    };
    if (path == "road") {
        const auto x = integer("x", -1000000000, 1000000000);
        const auto y = integer("y", -1000000000, 1000000000);
        const auto scale =
            p.has("scale") ? parse_decimal(p.get("SCALE")) : std::optional<double>(10.0);
        if (!x || !y) return json_error(400, "x and y must be whole metres");
        if (!scale || *scale < 0.5 || *scale > kmaps::kMaxScale)
            return json_error(400, "scale must be 0.5 to 100000 metres per pixel");
        const auto road = engine.road_at(static_cast<int>(*x), static_cast<int>(*y), *scale);
        return json_answer(200, Json{{"road", road_json(road)}});
    }
    if (path == "roads" && p.has("NAME")) {
        const std::string& name = p.get("NAME");
        if (name.empty() || name.size() > 80) return json_error(400, "name must be 1 to 80 bytes");
        if (!kmaps::utf8_to_big5(name))
            return json_error(400, "the name has characters the data set cannot hold");
        return roads_named(name);
    }
    if (path == "info") {
        const Box& e = data_.extent();
        const Box& ll = data_.extent_lonlat();
        return json_answer(200, Json{{"crs", data_.native().name()},
                                     {"proj4", data_.native().proj4()},
                                     {"extent",
                                      {json_number(e.minx), json_number(e.miny),
                                       json_number(e.maxx), json_number(e.maxy)}},
                                     {"lonlat",
                                      {json_number(ll.minx), json_number(ll.miny),
                                       json_number(ll.maxx), json_number(ll.maxy)}},
                                     {"categories", engine.categories()},
                                     {"districts", engine.districts()},
                                     {"version", KSERVE_VERSION},
                                     {"tilejson",
                                      {{"google", base_url(r) + "/tiles/google.json"},
                                       {"native", base_url(r) + "/tiles/native.json"}}},
                                     {"vector_tilejson",
                                      {{"google", base_url(r) + "/tiles/google.mvt.json"},
                                       {"native", base_url(r) + "/tiles/native.mvt.json"}}},
                                     {"style", base_url(r) + "/styles/kestrel.json"},
                                     {"ogcapi", base_url(r) + "/ogcapi"}});
    }
    if (path == "roads") {
        const auto district = integer("DISTRICT", 0, kDistrictMax);
        if (!district) return json_error(400, kBadDistrict);
        if (p.has("MEETING")) {
            const std::string& name = p.get("MEETING");
            if (name.empty() || name.size() > 80)
                return json_error(400, "meeting must name a road");
            if (!kmaps::utf8_to_big5(name))
                return json_error(400, "the road name has characters the data set cannot hold");
            return result(engine.meeting_roads(static_cast<int>(*district), name), false);
        }
        return result(engine.district_roads(static_cast<int>(*district)), false);
    }
    if (path == "pois") {
        const long long category =
            p.has("CATEGORY") ? integer("CATEGORY", -32768, 32767).value_or(-99999) : 0;
        if (category == -99999) return json_error(400, "category must be a whole number");
        if (p.has("NAME")) {
            const std::string& name = p.get("NAME");
            // An empty name would match every point (tens of thousands): refused, as for roads.
            if (name.empty() || name.size() > 112)
                return json_error(400, "name must be 1 to 112 bytes");
            if (!kmaps::utf8_to_big5(name))
                return json_error(400, "the name has characters the data set cannot hold");
            return result(engine.pois_named(name), true);
        }
        if (p.has("DISTRICT")) {
            const auto district = integer("DISTRICT", 0, kDistrictMax);
            if (!district) return json_error(400, kBadDistrict);
            return result(
                engine.pois_of_district(static_cast<int>(*district), static_cast<int>(category)),
                true);
        }
        if (p.has("X") || p.has("Y")) {
            const auto x = integer("X", -1000000000, 1000000000);
            const auto y = integer("Y", -1000000000, 1000000000);
            const auto r = p.has("R") ? integer("R", 1, 100000) : std::optional<long long>(500);
            if (!x || !y) return json_error(400, "x and y must be whole metres");
            if (!r) return json_error(400, "r must be 1 to 100000 metres");
            return result(engine.pois_near(static_cast<int>(*x), static_cast<int>(*y),
                                           static_cast<int>(*r), static_cast<int>(category)),
                          true);
        }
        return json_error(400, "pois wants name, district, or x and y");
    }
    return json_error(404, "unknown query " + path);
}

// Roads whose name contains `name` (ASCII letters in any case), from every district's road
// report, each name once per district, at most kMaxNamed of them.
Response Api::roads_named(const std::string& name) {
    constexpr size_t kMaxNamed = 200;
    Engine& engine = data_.engine();
    if (!road_names_) {
        std::vector<NamedRoad> all;
        for (int d : engine.districts()) {
            const auto roads = engine.district_roads(d);
            if (!roads) return json_error(503, "the report could not be made");
            for (const auto& r : *roads)
                if (!r.name.empty()) all.push_back({r, d});
        }
        road_names_ = std::move(all);
    }
    const std::string wanted = lower(name);
    Json items = Json::array();
    for (const auto& r : *road_names_) {
        if (lower(r.place.name).find(wanted) == std::string::npos) continue;
        if (items.size() == kMaxNamed) break;
        items.push_back(
            {{"name", r.place.name}, {"district", r.district}, {"x", r.place.x}, {"y", r.place.y}});
    }
    return json_answer(200, Json{{"count", items.size()}, {"items", std::move(items)}});
}

}  // namespace kserve
