// warp.cpp: GDAL's warper, nearest neighbour, for pictures of the grid in other systems.
#include "kmaps/warp.h"

#include <cpl_conv.h>
#include <gdal_alg.h>
#include <gdal_priv.h>
#include <gdalwarper.h>
#include <ogr_spatialref.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace kmaps {

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

}  // namespace kmaps
