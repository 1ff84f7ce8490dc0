// json.cpp: JSON answers.
#include "service/json.h"

#include <cmath>
#include <cstdint>

#include "kcommon/numbers.h"
#include "kmaps/geometry.h"

namespace kserve {

Json json_number(double v) {
    if (!std::isfinite(v)) return nullptr;
    const double shown = kcommon::parse_decimal(kmaps::fmt(v)).value_or(v);
    if (shown == std::trunc(shown) && std::fabs(shown) < 9e15)
        return static_cast<std::int64_t>(shown);
    return shown;
}

Json road_json(const std::optional<kmaps::Road>& road) {
    if (!road) return nullptr;
    return {{"name", road->name},
            {"district", road->district},
            {"type", road->type},
            {"code", road->code},
            {"slope", json_number(road->slope)}};
}

Response json_answer(int status, const Json& document) {
    return answer(status, document.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n",
                  "application/json; charset=utf-8");
}

Response json_error(int status, const std::string& message) {
    return json_answer(status, Json{{"error", message}});
}

}  // namespace kserve

namespace kserve {

Response json_problem(int status, const std::string& detail) {
    const char* title = status == 400   ? "Bad Request"
                        : status == 404 ? "Not Found"
                        : status == 406 ? "Not Acceptable"
                        : status == 503 ? "Service Unavailable"
                                        : "Internal Server Error";
    Response r = json_answer(
        status,
        Json{{"type", "about:blank"}, {"title", title}, {"status", status}, {"detail", detail}});
    r.content_type = "application/problem+json; charset=utf-8";
    return r;
}

}  // namespace kserve
