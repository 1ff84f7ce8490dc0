// errors.h: the forms in which the interfaces refuse a request: WMS service exception reports,
// OWS exception reports (WMTS), and the form each route of the service answers its errors in.
#ifndef KSERVE_ERRORS_H
#define KSERVE_ERRORS_H

#include <string>

#include "service/request.h"

namespace kserve {

// A service exception report of the WMS version's form, with the HTTP status `status` (400:
// the request's fault, 500: the service's). An empty `code` gives none.
Response wms_exception(bool v130, const std::string& code, const std::string& message,
                       int status = 400);

// An OWS exception report with the HTTP status its code has: 501 for OperationNotSupported,
// 500 for NoApplicableCode, else 400. An empty `locator` gives none.
Response ows_exception(const std::string& code, const std::string& locator,
                       const std::string& message);

// The form of a route's errors: a WMS exception report, an OWS exception report, problem
// details (OGC API), the JSON queries' error object, or plain text.
enum class ErrorForm { wms, ows, problem, json, plain };

// A refusal of `status` (400: the request's fault, 500: the service's) in the form `form`;
// `v130` picks the WMS report's version.
Response error_answer(ErrorForm form, int status, const std::string& message, bool v130 = true);

}  // namespace kserve

#endif
