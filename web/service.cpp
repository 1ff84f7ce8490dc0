// service.cpp: the routing of requests to the interfaces.
#include "service.h"

#include "files.h"
#include "json.h"

namespace kserve {

bool Service::start(const Config& config, Metrics* metrics, std::string& error) {
    if (!data_.open(config, metrics, error)) return false;
    tiles_ = std::make_unique<Tiles>(data_);
    capabilities_.build(data_, tiles_->sets());
    wms_ = std::make_unique<Wms>(data_, capabilities_);
    wmts_ = std::make_unique<Wmts>(data_, capabilities_, *tiles_);
    api_ = std::make_unique<Api>(data_);
    if (!config.viewer.empty()) {
        viewer_ = std::make_shared<StaticFiles>();
        if (!viewer_->open(config.viewer, error)) return false;
    }
    return true;
}

Response Service::handle(const Request& r) {
    if (r.method != "GET" && r.method != "HEAD")
        return answer(405, "only GET and HEAD are served\n");
    const size_t q = r.target.find('?');
    const std::string raw_path = r.target.substr(0, q);
    std::string path;
    if (!percent_decode(raw_path, path) || path.empty() || path[0] != '/')
        return answer(400, "malformed path\n");
    Params p;
    std::string error;
    if (q != std::string::npos && !p.parse(std::string_view(r.target).substr(q + 1), error)) {
        if (path == "/wms") return wms_exception(true, "", error);
        if (path.rfind("/wmts", 0) == 0) return ows_exception("InvalidParameterValue", "", error);
        if (path.rfind("/api/", 0) == 0) return json_error(400, error);
        return answer(400, error + "\n");
    }

    if (path == "/healthz") return answer(200, "ok\n");
    if (path == "/metrics") {
        Metrics* metrics = data_.metrics();
        return answer(200, metrics ? metrics->text() : "",
                      "text/plain; version=0.0.4; charset=utf-8");
    }
    if (path == "/wms") return wms_->handle(r, p);
    if (path == "/wmts" || path == "/wmts/") return wmts_->kvp(r, p);
    if (path == "/wmts/1.0.0/WMTSCapabilities.xml") return wmts_->capabilities(r);
    if (path.rfind("/wmts/1.0.0/", 0) == 0) return wmts_->rest(r, path.substr(12));
    if (path.rfind("/tiles/", 0) == 0) return wmts_->xyz(r, path.substr(7));
    if (path.rfind("/api/", 0) == 0) return api_->handle(path.substr(5), p);
    if (viewer_)
        if (auto file = viewer_->get(path, r.if_none_match)) return std::move(*file);
    if (path == "/" || path == "/index.html")
        return answer(200, "kserve " KSERVE_VERSION
                           "\n"
                           "  /wms?SERVICE=WMS&REQUEST=GetCapabilities\n"
                           "  /wmts/1.0.0/WMTSCapabilities.xml\n"
                           "  /tiles/{native|google}/{z}/{x}/{y}.png\n"
                           "  /api/road?x=X&y=Y  /api/roads?district=N  /api/pois?name=TEXT\n"
                           "  /healthz  /metrics\n");
    return answer(404, "not found\n");
}

}  // namespace kserve
