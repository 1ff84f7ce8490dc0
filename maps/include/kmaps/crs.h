// kmaps/crs.h: coordinate systems (GDAL and PROJ) and their names: the one place that spells
// them, as requests give them ("EPSG:3857", "CRS:84"), as URNs (WMTS capabilities) and as the
// URIs of OGC APIs.
#ifndef KMAPS_CRS_H
#define KMAPS_CRS_H

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kmaps/geometry.h"

namespace kmaps {

// The names of the systems maps are offered in, as requests give them: the data sets' grid
// unless a data set is said to have another, Web Mercator, WGS 84 latitude first (as WMS 1.3.0
// writes it) and WGS 84 longitude first.
inline constexpr const char* kDefaultGrid = "EPSG:3826";
inline constexpr const char* kWebMercator = "EPSG:3857";
inline constexpr const char* kLonLat = "EPSG:4326";
inline constexpr const char* kCrs84 = "CRS:84";

// The system named `name` ("EPSG:3826", "CRS:84") as a URN: "urn:ogc:def:crs:EPSG::3826",
// "urn:ogc:def:crs:CRS::84".
std::string crs_urn(std::string_view name);
// ... and as an OGC URI: "http://www.opengis.net/def/crs/EPSG/0/3826", or for CRS:84
// "http://www.opengis.net/def/crs/OGC/1.3/CRS84".
std::string crs_uri(std::string_view name);
// The name ("CRS:84", "EPSG:N") of the system a URI or name of an OGC API's `crs` parameters
// gives: CRS84 by its URI, "OGC:CRS84" or "CRS:84"; an EPSG system by its URI or as "EPSG:N"
// in any case; either in the brackets of a safe CURIE ("[EPSG:3857]"). Nothing for anything
// else; N is not checked (no system of the data set has a name that is not one).
std::optional<std::string> crs_name_of(std::string_view text);

// A coordinate system named as in requests ("EPSG:3857", "CRS:84"), x east and y north. It
// owns its spatial reference: it can be moved, not copied.
class Crs {
  public:
    // The system of that name (any case), or null when it is unknown.
    static std::shared_ptr<Crs> make(const std::string& name);
    // The name in upper case.
    const std::string& name() const { return name_; }
    // True when WMS 1.3.0 writes this system's coordinates north first (EPSG:4326).
    bool north_first() const { return north_first_; }
    bool geographic() const;
    // The spatial reference (an OGRSpatialReference), never null for a made system.
    void* handle() const { return srs_.get(); }
    std::string wkt() const;
    // The system as a PROJ string ("+proj=tmerc ..."), for clients such as proj4js.
    std::string proj4() const;

  private:
    struct Release {
        void operator()(void* srs) const;
    };
    std::string name_;
    bool north_first_ = false;
    std::unique_ptr<void, Release> srs_;
};

// Point and box transforms between two systems; nothing when PROJ cannot do it.
std::optional<Box> transform_box(const Crs& from, const Crs& to, const Box& box);
std::optional<std::pair<double, double>> transform_point(const Crs& from, const Crs& to, double x,
                                                         double y);
// Transforms the points in place with one transformation; false when PROJ cannot do it.
bool transform_points(const Crs& from, const Crs& to, std::vector<std::pair<double, double>>& pts);

// Registers GDAL's in-memory driver (the warp's) and keeps GDAL's messages off standard error.
void init_gdal();

}  // namespace kmaps

#endif
