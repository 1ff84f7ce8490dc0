// render.cpp: maps drawn by the engine, stretched to unequal scales or warped to other systems.
#include "render.h"

#include <algorithm>
#include <cmath>

namespace kserve {

namespace {

// True when the x and y scales differ by at most a thousandth.
bool same_scale(double sx, double sy) {
    return std::fabs(sx - sy) <= 1e-3 * std::max(sx, sy);
}

bool intersect(const Box& a, const Box& b, Box& out) {
    out = {std::max(a.minx, b.minx), std::max(a.miny, b.miny), std::min(a.maxx, b.maxx),
           std::min(a.maxy, b.maxy)};
    return out.minx < out.maxx && out.miny < out.maxy;
}

void flatten(Image& im, unsigned background) {
    for (uint32_t& p : im.pixels)
        if ((p >> 24) == 0) p = 0xFF000000u | background;
}

}  // namespace

std::optional<EngineView> engine_view(const Box& box, int width, int height) {
    const double sx = (box.maxx - box.minx) / width;
    const double sy = (box.maxy - box.miny) / height;
    if (!same_scale(sx, sy) || !(sx >= 1.0)) return std::nullopt;
    return EngineView{static_cast<int>(std::lround(box.minx)),
                      static_cast<int>(std::lround(box.maxy)), sx};
}

std::optional<Image> render_map(DataSet& data, const Crs& crs, const Box& box, int width,
                                int height, const Layers& layers, bool transparent,
                                unsigned background, std::string& error, bool fill_outside) {
    Engine& engine = data.engine();
    const Crs& native_crs = data.native();
    const bool native = crs.name() == native_crs.name();
    if (native) {
        if (const auto view = engine_view(box, width, height)) {
            auto im = engine.draw(view->left, view->top, width, height, view->scale, layers.map,
                                  layers.pois, transparent, background);
            if (!im) error = "the engine refused the view";
            return im;
        }
        const double sx = (box.maxx - box.minx) / width;
        const double sy = (box.maxy - box.miny) / height;
        // Different x and y scales, or finer than 1 m a pixel: draw at the finer scale (at
        // least 1 m a pixel) and stretch the picture to the size asked for.
        double s = std::max(1.0, std::min(sx, sy));
        const double rw = std::ceil((box.maxx - box.minx) / s);
        const double rh = std::ceil((box.maxy - box.miny) / s);
        if (rw > kMaxRenderSide || rh > kMaxRenderSide) {
            error = "the x and y scales of BBOX, WIDTH and HEIGHT differ too much";
            return std::nullopt;
        }
        const int left = static_cast<int>(std::floor(box.minx));
        const int top = static_cast<int>(std::ceil(box.maxy));
        auto src = engine.draw(left, top, static_cast<int>(rw) + 1, static_cast<int>(rh) + 1, s,
                               layers.map, layers.pois, transparent, background);
        if (!src) {
            error = "the engine refused the view";
            return std::nullopt;
        }
        Image out(width, height);
        for (int j = 0; j < height; ++j) {
            const double y = box.maxy - (j + 0.5) * sy;
            const int row = std::clamp(static_cast<int>((top - y) / s), 0, src->height - 1);
            for (int i = 0; i < width; ++i) {
                const double x = box.minx + (i + 0.5) * sx;
                const int col = std::clamp(static_cast<int>((x - left) / s), 0, src->width - 1);
                out.at(i, j) = src->at(col, row);
            }
        }
        return out;
    }
    // Another system: draw the native window around the box and warp it.
    const Box& covered = crs.name() == "EPSG:3857" ? data.extent_mercator() : data.extent_lonlat();
    Image blank(width, height, 0);
    Box clip{};
    if (!intersect(box, covered, clip)) {
        if (!transparent && fill_outside) flatten(blank, background);
        return blank;
    }
    const auto nat = transform_box(crs, native_crs, clip);
    if (!nat) {
        error = "BBOX cannot be expressed in the data set's grid";
        return std::nullopt;
    }
    // The native resolution that matches the one asked for, from the part of the map that
    // the data set covers (the whole BBOX may reach where the grid is meaningless).
    const double cols = width * (clip.maxx - clip.minx) / (box.maxx - box.minx);
    const double rows = height * (clip.maxy - clip.miny) / (box.maxy - box.miny);
    double s = std::max(1.0, std::min((nat->maxx - nat->minx) / std::max(cols, 1.0),
                                      (nat->maxy - nat->miny) / std::max(rows, 1.0)));
    const double span = std::max(nat->maxx - nat->minx, nat->maxy - nat->miny);
    if (span / s > kMaxRenderSide) s = span / kMaxRenderSide;
    const int left = static_cast<int>(std::floor(nat->minx - 2 * s));
    const int top = static_cast<int>(std::ceil(nat->maxy + 2 * s));
    const int rw = static_cast<int>(std::ceil((nat->maxx - left) / s)) + 2;
    const int rh = static_cast<int>(std::ceil((top - nat->miny) / s)) + 2;
    auto src = engine.draw(left, top, rw, rh, s, layers.map, layers.pois, transparent, background);
    if (!src) {
        error = "the engine refused the view";
        return std::nullopt;
    }
    auto out = warp(*src, native_crs, left, top, s, crs, box, width, height);
    if (!out) {
        error = "the view could not be reprojected";
        return std::nullopt;
    }
    if (!transparent && fill_outside) flatten(*out, background);
    return out;
}

}  // namespace kserve
