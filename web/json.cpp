// json.cpp: JSON answers.
#include "json.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "dataset.h"

namespace kserve {

Json json_number(double v) {
    if (!std::isfinite(v)) return nullptr;
    const double shown = std::strtod(fmt(v).c_str(), nullptr);
    if (shown == std::trunc(shown) && std::fabs(shown) < 9e15)
        return static_cast<std::int64_t>(shown);
    return shown;
}

Json road_json(const std::optional<Road>& road) {
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
