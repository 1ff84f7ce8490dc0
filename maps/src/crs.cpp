// crs.cpp: coordinate systems, their names and PROJ's transforms between them.
#include "kmaps/crs.h"

#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include "kcommon/numbers.h"

namespace kmaps {

namespace {

constexpr std::string_view kUrnPrefix = "urn:ogc:def:crs:";
constexpr std::string_view kCrs84Uri = "http://www.opengis.net/def/crs/OGC/1.3/CRS84";
constexpr std::string_view kEpsgUri = "http://www.opengis.net/def/crs/EPSG/0/";
constexpr std::string_view kEpsg = "EPSG:";

std::string upper(std::string_view s) {
    std::string r(s);
    for (char& c : r)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return r;
}

}  // namespace

std::string crs_urn(std::string_view name) {
    // "EPSG:3826" -> "urn:ogc:def:crs:EPSG::3826"
    const size_t colon = name.find(':');
    std::string urn(kUrnPrefix);
    urn.append(name.substr(0, colon));
    urn += "::";
    if (colon != std::string_view::npos) urn.append(name.substr(colon + 1));
    return urn;
}

std::string crs_uri(std::string_view name) {
    if (name == kCrs84) return std::string(kCrs84Uri);
    return std::string(kEpsgUri).append(name.substr(name.find(':') + 1));
}

std::optional<std::string> crs_name_of(std::string_view v) {
    if (v.size() > 2 && v.front() == '[' && v.back() == ']') v = v.substr(1, v.size() - 2);
    if (v == kCrs84Uri || v == "OGC:CRS84" || v == kCrs84) return std::string(kCrs84);
    if (v.rfind(kEpsgUri, 0) == 0) return std::string(kEpsg).append(v.substr(kEpsgUri.size()));
    if (upper(v).rfind(kEpsg, 0) == 0) return std::string(kEpsg).append(v.substr(kEpsg.size()));
    return std::nullopt;
}

void init_gdal() {
    GDALRegister_MEM();
    CPLSetErrorHandler(CPLQuietErrorHandler);
}

// The system of that name with x east and y north; null when it is unknown.
std::shared_ptr<Crs> Crs::make(const std::string& name) {
    auto crs = std::make_shared<Crs>();
    auto* srs = new OGRSpatialReference();
    crs->srs_.reset(srs);
    const std::string u = upper(name);
    OGRErr err = OGRERR_FAILURE;
    if (u == kCrs84) {
        err = srs->SetWellKnownGeogCS("WGS84");
    } else if (u.rfind(kEpsg, 0) == 0) {
        const auto code = kcommon::parse_int(std::string_view(u).substr(kEpsg.size()), 1, 999999);
        if (code) err = srs->importFromEPSG(static_cast<int>(*code));
        if (err == OGRERR_NONE)
            crs->north_first_ = srs->EPSGTreatsAsLatLong() || srs->EPSGTreatsAsNorthingEasting();
    }
    if (err != OGRERR_NONE) return nullptr;
    srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    crs->name_ = u;
    return crs;
}

void Crs::Release::operator()(void* srs) const {
    delete static_cast<OGRSpatialReference*>(srs);
}

bool Crs::geographic() const {
    return static_cast<OGRSpatialReference*>(srs_.get())->IsGeographic();
}

std::string Crs::wkt() const {
    char* w = nullptr;
    static_cast<OGRSpatialReference*>(srs_.get())->exportToWkt(&w);
    std::string r = w ? w : "";
    CPLFree(w);
    return r;
}

std::string Crs::proj4() const {
    char* w = nullptr;
    static_cast<OGRSpatialReference*>(srs_.get())->exportToProj4(&w);
    std::string r = w ? w : "";
    CPLFree(w);
    return r;
}

namespace {
struct Transform {
    OGRCoordinateTransformation* ct;
    Transform(const Crs& a, const Crs& b)
        : ct(OGRCreateCoordinateTransformation(static_cast<OGRSpatialReference*>(a.handle()),
                                               static_cast<OGRSpatialReference*>(b.handle()))) {}
    ~Transform() { OGRCoordinateTransformation::DestroyCT(ct); }
};
}  // namespace

std::optional<Box> transform_box(const Crs& from, const Crs& to, const Box& box) {
    Transform t(from, to);
    if (!t.ct) return std::nullopt;
    Box out{};
    if (!t.ct->TransformBounds(box.minx, box.miny, box.maxx, box.maxy, &out.minx, &out.miny,
                               &out.maxx, &out.maxy, 21))
        return std::nullopt;
    if (!(out.minx < out.maxx) || !(out.miny < out.maxy)) return std::nullopt;
    return out;
}

std::optional<std::pair<double, double>> transform_point(const Crs& from, const Crs& to, double x,
                                                         double y) {
    Transform t(from, to);
    if (!t.ct || !t.ct->Transform(1, &x, &y)) return std::nullopt;
    return std::make_pair(x, y);
}

bool transform_points(const Crs& from, const Crs& to, std::vector<std::pair<double, double>>& pts) {
    if (pts.empty()) return true;
    Transform t(from, to);
    if (!t.ct) return false;
    std::vector<double> x(pts.size()), y(pts.size());
    for (size_t i = 0; i < pts.size(); ++i) {
        x[i] = pts[i].first;
        y[i] = pts[i].second;
    }
    if (!t.ct->Transform(pts.size(), x.data(), y.data())) return false;
    for (size_t i = 0; i < pts.size(); ++i) pts[i] = {x[i], y[i]};
    return true;
}

}  // namespace kmaps
