// tiles.cpp: kserve's tiles for kseed, through the web service's own answers: the tile matrix
// sets as its WMTS capabilities describe them, the data set's extent as /api/info gives it, and
// each tile as its XYZ address answers it (drawn from the metatile, which the service keeps).
#include "tiles.h"

#include <cpl_minixml.h>

#include <cstdlib>
#include <cstring>

namespace kseed {

namespace {

constexpr double kPixelSize = 0.00028;  // metres: WMTS scale denominators are per this pixel

kserve::Response get(kserve::Service& service, const std::string& target) {
    kserve::Request r;
    r.method = "GET";
    r.target = target;
    r.host = "127.0.0.1";
    return service.handle(r);
}

// The numbers after `"key":[` in a JSON text.
bool json_numbers(const std::string& json, const char* key, double* out, int n) {
    const std::string k = std::string("\"") + key + "\":[";
    const size_t at = json.find(k);
    if (at == std::string::npos) return false;
    const char* p = json.c_str() + at + k.size();
    for (int i = 0; i < n; ++i) {
        char* end = nullptr;
        out[i] = std::strtod(p, &end);
        if (end == p) return false;
        p = end + 1;
    }
    return true;
}

// The levels of the tile matrix set `id` in WMTS capabilities.
std::vector<Matrix> matrices_of(CPLXMLNode* contents, const char* id, bool north_first) {
    std::vector<Matrix> out;
    for (CPLXMLNode* set = contents ? contents->psChild : nullptr; set; set = set->psNext) {
        if (set->eType != CXT_Element || std::strcmp(set->pszValue, "TileMatrixSet") != 0 ||
            std::strcmp(CPLGetXMLValue(set, "ows:Identifier", ""), id) != 0)
            continue;
        for (CPLXMLNode* m = set->psChild; m; m = m->psNext) {
            if (m->eType != CXT_Element || std::strcmp(m->pszValue, "TileMatrix") != 0) continue;
            Matrix x;
            x.resolution = std::atof(CPLGetXMLValue(m, "ScaleDenominator", "0")) * kPixelSize;
            double a = 0, b = 0;
            std::sscanf(CPLGetXMLValue(m, "TopLeftCorner", ""), "%lf %lf", &a, &b);
            x.left = north_first ? b : a;
            x.top = north_first ? a : b;
            x.cols = std::atol(CPLGetXMLValue(m, "MatrixWidth", "0"));
            x.rows = std::atol(CPLGetXMLValue(m, "MatrixHeight", "0"));
            out.push_back(x);
        }
    }
    return out;
}

}  // namespace

bool Tiles::start(const std::string& data, const std::string& crs, std::string& error) {
    kserve::Config config;
    config.data = data;
    config.crs = crs;
    if (!service_.start(config, nullptr, error)) return false;
    native_crs_ = kserve::Crs::make(crs);
    mercator_crs_ = kserve::Crs::make("EPSG:3857");
    wgs84_crs_ = kserve::Crs::make("CRS:84");

    const kserve::Response info = get(service_, "/api/info");
    double e[4], ll[4];
    if (info.status != 200 || !json_numbers(info.body, "extent", e, 4) ||
        !json_numbers(info.body, "lonlat", ll, 4)) {
        error = "the data set's extent is unknown";
        return false;
    }
    extent_ = {e[0], e[1], e[2], e[3]};
    extent_ll_ = {ll[0], ll[1], ll[2], ll[3]};
    const auto wm = kserve::transform_box(*native_crs_, *mercator_crs_, extent_);
    if (!wm) {
        error = "the data set's extent cannot be expressed in EPSG:3857";
        return false;
    }
    extent_3857_ = *wm;

    const kserve::Response caps = get(service_, "/wmts/1.0.0/WMTSCapabilities.xml");
    CPLXMLNode* root = CPLParseXMLString(caps.body.c_str());
    CPLXMLNode* contents = root ? CPLGetXMLNode(root, "=Capabilities.Contents") : nullptr;
    google_ = matrices_of(contents, "GoogleMapsCompatible", false);
    native_ = matrices_of(contents, "native", native_crs_->north_first());
    CPLDestroyXMLNode(root);
    if (google_.empty() || native_.empty()) {
        error = "the web service offers no tile matrix sets";
        return false;
    }
    return true;
}

bool Tiles::tile(TileSet set, int level, long row, long col, std::string& png, std::string& error) {
    const std::string target =
        std::string("/tiles/") + (set == TileSet::kGoogle ? "google/" : "native/") +
        std::to_string(level) + "/" + std::to_string(col) + "/" + std::to_string(row) + ".png";
    kserve::Response r = get(service_, target);
    if (r.status != 200 || r.content_type != "image/png") {
        error = target + ": " + r.body;
        while (!error.empty() && error.back() == '\n') error.pop_back();
        return false;
    }
    png = std::move(r.body);
    return true;
}

}  // namespace kseed
