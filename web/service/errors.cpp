// errors.cpp: the exception reports and the routes' error forms.
#include "service/errors.h"

#include "service/json.h"
#include "service/xml.h"

namespace kserve {

Response wms_exception(bool v130, const std::string& code, const std::string& message, int status) {
    XmlWriter w;
    if (v130) {
        w.open("ServiceExceptionReport")
            .attribute("version", "1.3.0")
            .attribute("xmlns", "http://www.opengis.net/ogc")
            .attribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance")
            .attribute("xsi:schemaLocation",
                       "http://www.opengis.net/ogc "
                       "http://schemas.opengis.net/wms/1.3.0/exceptions_1_3_0.xsd");
    } else {
        w.doctype("ServiceExceptionReport",
                  "http://schemas.opengis.net/wms/1.1.1/exception_1_1_1.dtd");
        w.open("ServiceExceptionReport").attribute("version", "1.1.1");
    }
    w.layout("\n  ").open("ServiceException");
    if (!code.empty()) w.attribute("code", code);
    w.text(message).close_full().layout("\n").close_full();
    return answer(status, w.finish(),
                  v130 ? "text/xml; charset=utf-8" : "application/vnd.ogc.se_xml; charset=utf-8");
}

Response ows_exception(const std::string& code, const std::string& locator,
                       const std::string& message) {
    int status = 400;
    if (code == "OperationNotSupported") status = 501;
    if (code == "NoApplicableCode") status = 500;
    XmlWriter w;
    w.open("ExceptionReport")
        .attribute("xmlns", "http://www.opengis.net/ows/1.1")
        .attribute("version", "1.1.0")
        .attribute("xml:lang", "en");
    w.layout("\n  ").open("Exception").attribute("exceptionCode", code);
    if (!locator.empty()) w.attribute("locator", locator);
    w.layout("\n    ").element("ExceptionText", message).layout("\n  ").close_full();
    w.layout("\n").close_full();
    return answer(status, w.finish(), "text/xml; charset=utf-8");
}

Response error_answer(ErrorForm form, int status, const std::string& message, bool v130) {
    switch (form) {
        case ErrorForm::wms:
            return wms_exception(v130, "", message, status);
        case ErrorForm::ows:
            return ows_exception(status >= 500 ? "NoApplicableCode" : "InvalidParameterValue", "",
                                 message);
        case ErrorForm::problem:
            return json_problem(status, message);
        case ErrorForm::json:
            return json_error(status, message);
        case ErrorForm::plain:
            break;
    }
    return answer(status, message + "\n");
}

}  // namespace kserve
