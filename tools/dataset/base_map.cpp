// base_map.cpp: writes the base-map metafile (dist.emf) with libuemf.
//
// The metafile's frame is the world rectangle x 140000..360000, y 2420000..2800000, which the
// engine stretches over the same rectangle of a small-scale view. Its reference device has one
// pixel per 10 world metres (22000 x 38000 pixels on 2200 x 3800 mm), so a frame unit of
// 0.01 mm is exactly one world metre from the north-west corner; records use device pixels,
// y growing southward.
#include <uemf.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "bytes.h"
#include "data/format.h"
#include "writer.h"

namespace kdataset {

namespace {

namespace fmt = kestrel::data::format;

constexpr int32_t kMetresPerDevicePixel = 10;
constexpr int32_t kDeviceWidth = fmt::kBaseMapWidth / kMetresPerDevicePixel;    // pixels
constexpr int32_t kDeviceHeight = fmt::kBaseMapHeight / kMetresPerDevicePixel;  // pixels
constexpr int32_t kDevicePixelsPerMm = 10;
constexpr uint32_t kInitialBytes = 1 << 16;
constexpr uint32_t kChunkBytes = 1 << 16;
constexpr uint32_t kHandleTableSize = 16;
constexpr std::size_t kMinPolygonPoints = 3;
constexpr std::size_t kMinPolylinePoints = 2;

// The device pixel of a world point, rounded to the nearest.
U_POINTL device_point(const WorldPoint& p) {
    const double x = double(p.x - fmt::kBaseMapWest) / kMetresPerDevicePixel;
    const double y = double(fmt::kBaseMapNorth - p.y) / kMetresPerDevicePixel;
    return point32_set(int32_t(std::lround(x)), int32_t(std::lround(y)));
}

U_COLORREF to_colorref(uint32_t bgr) {
    return colorref3_set(uint8_t(bgr), uint8_t(bgr >> 8), uint8_t(bgr >> 16));
}

// Appends one record made by a libuemf *_set function; false when it could not be made.
bool append(char* record, EMFTRACK* et) {
    if (!record) return false;
    return emf_append(reinterpret_cast<PU_ENHMETARECORD>(record), et, 1) == 0;
}

// The bounding rectangle of device points, as the polyline records want it.
U_RECTL bounds_of(const std::vector<U_POINTL>& pts) {
    U_POINTL lo = pts[0], hi = pts[0];
    for (const U_POINTL& p : pts) {
        lo.x = std::min(lo.x, p.x);
        lo.y = std::min(lo.y, p.y);
        hi.x = std::max(hi.x, p.x);
        hi.y = std::max(hi.y, p.y);
    }
    return rectl_set(lo, hi);
}

// Writes every record of the metafile into `et`. Returns why it failed, or an empty string.
std::string write_records(const std::vector<BaseMapShape>& shapes, EMFTRACK* et, EMFHANDLES* eht) {
    const U_RECTL bounds = rectl_set(point32_set(0, 0), point32_set(kDeviceWidth, kDeviceHeight));
    const U_RECTL frame =
        rectl_set(point32_set(0, 0), point32_set(fmt::kBaseMapWidth, fmt::kBaseMapHeight));
    if (!append(
            U_EMRHEADER_set(
                bounds, frame, nullptr, 0, nullptr, sizel_set(kDeviceWidth, kDeviceHeight),
                sizel_set(kDeviceWidth / kDevicePixelsPerMm, kDeviceHeight / kDevicePixelsPerMm),
                0),
            et))
        return "cannot make the metafile header";
    if (!append(U_EMRSETMAPMODE_set(U_MM_TEXT), et) ||
        !append(U_EMRSETPOLYFILLMODE_set(U_ALTERNATE), et))
        return "cannot make the metafile's mapping records";

    std::vector<U_POINTL> pts;
    for (std::size_t i = 0; i < shapes.size(); ++i) {
        const BaseMapShape& s = shapes[i];
        if (s.points.size() < (s.filled ? kMinPolygonPoints : kMinPolylinePoints))
            return "base map shape " + std::to_string(i) + ": too few points";
        pts.clear();
        for (const WorldPoint& p : s.points) pts.push_back(device_point(p));

        uint32_t pen = 0, brush = 0;
        const U_LOGPEN lp =
            logpen_set(U_PS_SOLID, point_set(std::max(s.width, 0), 0), to_colorref(s.colour));
        bool ok =
            append(createpen_set(&pen, eht, lp), et) && append(selectobject_set(pen, eht), et);
        if (ok && s.filled) {
            const U_LOGBRUSH lb = logbrush_set(U_BS_SOLID, to_colorref(s.fill), 0);
            ok = append(createbrushindirect_set(&brush, eht, lb), et) &&
                 append(selectobject_set(brush, eht), et);
        }
        const U_RECTL box = bounds_of(pts);
        if (ok)
            ok = s.filled ? append(U_EMRPOLYGON_set(box, uint32_t(pts.size()), pts.data()), et)
                          : append(U_EMRPOLYLINE_set(box, uint32_t(pts.size()), pts.data()), et);
        // Put the stock objects back before deleting this shape's own.
        if (ok) ok = append(selectobject_set(U_BLACK_PEN, eht), et);
        if (ok && s.filled) ok = append(selectobject_set(U_WHITE_BRUSH, eht), et);
        if (ok) ok = append(deleteobject_set(&pen, eht), et);
        if (ok && s.filled) ok = append(deleteobject_set(&brush, eht), et);
        if (!ok) return "base map shape " + std::to_string(i) + ": cannot make its records";
    }
    if (!append(U_EMREOF_set(0, nullptr, et), et)) return "cannot make the end-of-file record";
    return {};
}

}  // namespace

std::string write_base_map(const std::vector<BaseMapShape>& shapes, const std::string& path) {
    const std::string part = path + ".part";
    EMFTRACK* et = nullptr;
    EMFHANDLES* eht = nullptr;
    if (emf_start(part.c_str(), kInitialBytes, kChunkBytes, &et) != 0)
        return "cannot create " + part + ": " + std::strerror(errno);
    if (emf_htable_create(kHandleTableSize, kHandleTableSize, &eht) != 0) {
        emf_free(&et);
        std::remove(part.c_str());
        return "cannot make the metafile's handle table";
    }
    std::string why = write_records(shapes, et, eht);
    if (why.empty() && emf_finish(et, eht) != 0) why = "cannot write " + part;
    emf_free(&et);
    emf_htable_free(&eht);
    if (why.empty() && std::rename(part.c_str(), path.c_str()) != 0)
        why = "cannot rename " + part + ": " + std::strerror(errno);
    if (!why.empty()) std::remove(part.c_str());
    return why;
}

}  // namespace kdataset
