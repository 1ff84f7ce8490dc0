// json.h: JSON answers, written with nlohmann::json (objects keep their keys in the order
// written). Strings that are no UTF-8 are written with U+FFFD, never as broken JSON.
#ifndef KSERVE_JSON_H
#define KSERVE_JSON_H

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "kmaps/engine.h"
#include "service/request.h"

namespace kserve {

using Json = nlohmann::ordered_json;

// A number as the service writes it: at most 10 significant digits, whole numbers without a
// fraction.
Json json_number(double v);
// {"name", "district", "type", "code", "slope"} of a road (slope null when not finite), or null.
Json road_json(const std::optional<kmaps::Road>& road);

// The document and a line break, as application/json.
Response json_answer(int status, const Json& document);
// {"error": message}
Response json_error(int status, const std::string& message);
// An error in the problem details form of RFC 9457, as OGC APIs answer them:
// {"type", "title", "status", "detail"}, as application/problem+json.
Response json_problem(int status, const std::string& detail);

}  // namespace kserve

#endif
