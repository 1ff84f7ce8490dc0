// warp.cpp: GDAL's warper and PROJ's transforms behind the service's coordinate systems.
#include "warp.h"

#include <cpl_conv.h>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <gdalwarper.h>
#include <ogr_spatialref.h>

#include <cstring>

namespace kserve {

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
    if (u == "CRS:84") {
        err = srs->SetWellKnownGeogCS("WGS84");
    } else if (u.rfind("EPSG:", 0) == 0) {
        const auto code = parse_int(u.substr(5), 1, 999999);
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

namespace {
GDALDataset* mem_dataset(int w, int h, const Crs& crs, const double gt[6]) {
    GDALDriver* mem = GetGDALDriverManager()->GetDriverByName("MEM");
    if (!mem) return nullptr;
    GDALDataset* ds = mem->Create("", w, h, 4, GDT_Byte, nullptr);
    if (!ds) return nullptr;
    ds->SetSpatialRef(static_cast<OGRSpatialReference*>(crs.handle()));
    double g[6];
    std::memcpy(g, gt, sizeof g);
    ds->SetGeoTransform(g);
    ds->GetRasterBand(4)->SetColorInterpretation(GCI_AlphaBand);
    return ds;
}

// Band-interleaved RGBA bytes of an image, and back.
bool put(GDALDataset* ds, const Image& im) {
    std::vector<uint8_t> band(im.pixels.size());
    const int shifts[4] = {16, 8, 0, 24};
    for (int b = 0; b < 4; ++b) {
        for (size_t i = 0; i < im.pixels.size(); ++i)
            band[i] = static_cast<uint8_t>(im.pixels[i] >> shifts[b]);
        if (ds->GetRasterBand(b + 1)->RasterIO(GF_Write, 0, 0, im.width, im.height, band.data(),
                                               im.width, im.height, GDT_Byte, 0, 0) != CE_None)
            return false;
    }
    return true;
}

bool get(GDALDataset* ds, Image& im) {
    std::vector<uint8_t> band(im.pixels.size());
    const int shifts[4] = {16, 8, 0, 24};
    std::fill(im.pixels.begin(), im.pixels.end(), 0u);
    for (int b = 0; b < 4; ++b) {
        if (ds->GetRasterBand(b + 1)->RasterIO(GF_Read, 0, 0, im.width, im.height, band.data(),
                                               im.width, im.height, GDT_Byte, 0, 0) != CE_None)
            return false;
        for (size_t i = 0; i < im.pixels.size(); ++i)
            im.pixels[i] |= static_cast<uint32_t>(band[i]) << shifts[b];
    }
    for (uint32_t& p : im.pixels)
        if ((p >> 24) == 0) p = 0;
    return true;
}
}  // namespace

std::optional<Image> warp(const Image& source, const Crs& native, double left, double top,
                          double scale, const Crs& target, const Box& box, int width, int height) {
    const double sgt[6] = {left, scale, 0, top, 0, -scale};
    const double dgt[6] = {box.minx, (box.maxx - box.minx) / width,  0, box.maxy,
                           0,        -(box.maxy - box.miny) / height};
    GDALDataset* src = mem_dataset(source.width, source.height, native, sgt);
    GDALDataset* dst = mem_dataset(width, height, target, dgt);
    std::optional<Image> result;
    if (src && dst && put(src, source)) {
        // The exact transform projects every destination pixel through PROJ (trigonometry
        // for each of a tile's 65,536 pixels); the approximating one projects a few points per
        // row and interpolates between them wherever that stays within an eighth of a pixel,
        // as GDAL's own warp tool does by default.
        void* exact = GDALCreateGenImgProjTransformer2(src, dst, nullptr);
        void* transformer =
            exact ? GDALCreateApproxTransformer(GDALGenImgProjTransform, exact, 0.125) : nullptr;
        if (exact && !transformer) GDALDestroyGenImgProjTransformer(exact);
        if (transformer) {
            GDALApproxTransformerOwnsSubtransformer(transformer, TRUE);
            GDALWarpOptions* o = GDALCreateWarpOptions();
            o->hSrcDS = src;
            o->hDstDS = dst;
            o->eResampleAlg = GRA_NearestNeighbour;
            o->nBandCount = 3;
            o->panSrcBands = static_cast<int*>(CPLMalloc(sizeof(int) * 3));
            o->panDstBands = static_cast<int*>(CPLMalloc(sizeof(int) * 3));
            for (int b = 0; b < 3; ++b) o->panSrcBands[b] = o->panDstBands[b] = b + 1;
            o->nSrcAlphaBand = 4;
            o->nDstAlphaBand = 4;
            o->pfnTransformer = GDALApproxTransform;
            o->pTransformerArg = transformer;
            GDALWarpOperation op;
            if (op.Initialize(o) == CE_None &&
                op.ChunkAndWarpImage(0, 0, width, height) == CE_None) {
                Image out(width, height, 0);
                if (get(dst, out)) result = std::move(out);
            }
            GDALDestroyApproxTransformer(transformer);
            GDALDestroyWarpOptions(o);
        }
    }
    if (src) GDALClose(src);
    if (dst) GDALClose(dst);
    return result;
}

}  // namespace kserve
