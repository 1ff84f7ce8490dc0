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

std::optional<EngineView> engine_view(const Box& box, int width, int height, int factor) {
    const double sx = (box.maxx - box.minx) / width;
    const double sy = (box.maxy - box.miny) / height;
    if (!same_scale(sx, sy) || !(sx * factor >= 1.0)) return std::nullopt;
    return EngineView{static_cast<int>(std::lround(box.minx)),
                      static_cast<int>(std::lround(box.maxy)), sx * factor};
}

std::optional<Image> render_map(DataSet& data, const Crs& crs, const Box& box, int width,
                                int height, const Layers& layers, bool transparent,
                                unsigned background, std::string& error, bool fill_outside,
                                int factor) {
    Engine& engine = data.engine();
    const Crs& native_crs = data.native();
    const bool native = crs.name() == native_crs.name();
    // The engine's limit is a 1x scale of 1 m a pixel: pictures of 1 / factor m a pixel.
    const double finest = 1.0 / factor;
    if (native) {
        if (const auto view = engine_view(box, width, height, factor)) {
            auto im = engine.draw(view->left, view->top, width, height, view->scale, layers.map,
                                  layers.pois, transparent, background, factor);
            if (!im) error = "the engine refused the view";
            return im;
        }
        const double sx = (box.maxx - box.minx) / width;
        const double sy = (box.maxy - box.miny) / height;
        // Different x and y scales, or finer than the engine draws: draw at the finer scale
        // (at least `finest` m a pixel) and stretch the picture to the size asked for.
        double s = std::max(finest, std::min(sx, sy));
        const double rw = std::ceil((box.maxx - box.minx) / s);
        const double rh = std::ceil((box.maxy - box.miny) / s);
        if (rw > kMaxRenderSide || rh > kMaxRenderSide) {
            error = "the x and y scales of BBOX, WIDTH and HEIGHT differ too much";
            return std::nullopt;
        }
        const int left = static_cast<int>(std::floor(box.minx));
        const int top = static_cast<int>(std::ceil(box.maxy));
        auto src =
            engine.draw(left, top, static_cast<int>(rw) + 1, static_cast<int>(rh) + 1, s * factor,
                        layers.map, layers.pois, transparent, background, factor);
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
    double s = std::max(finest, std::min((nat->maxx - nat->minx) / std::max(cols, 1.0),
                                         (nat->maxy - nat->miny) / std::max(rows, 1.0)));
    const double span = std::max(nat->maxx - nat->minx, nat->maxy - nat->miny);
    if (span / s > kMaxRenderSide) s = span / kMaxRenderSide;
    const int left = static_cast<int>(std::floor(nat->minx - 2 * s));
    const int top = static_cast<int>(std::ceil(nat->maxy + 2 * s));
    const int rw = static_cast<int>(std::ceil((nat->maxx - left) / s)) + 2;
    const int rh = static_cast<int>(std::ceil((top - nat->miny) / s)) + 2;
    auto src = engine.draw(left, top, rw, rh, s * factor, layers.map, layers.pois, transparent,
                           background, factor);
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

MapFile draw_map_file(DataSet& data, const Crs& crs, const Box& box, int width, int height,
                      const Layers& layers, const std::string& format, bool transparent,
                      unsigned background, int factor) {
    MapFile out;
    auto fail = [](int status, std::string why) { return MapFile{{}, status, std::move(why)}; };
    Engine& engine = data.engine();
    const bool native = crs.name() == data.native().name();
    // The engine's own view, when it can draw the box (left, top and scale are only read then).
    EngineView view{0, 0, 0};
    bool direct = false;
    if (native)
        if (const auto v = engine_view(box, width, height, factor)) {
            view = *v;
            direct = true;
        }
    if (format == "image/bmp") {
        if (!direct || transparent)
            return fail(400, "image/bmp is the engine's own export: it needs the native " +
                                 data.native().name() +
                                 ", equal x and y scales of at least 1 m a pixel (1 / F at "
                                 "the factor F of DPI), and no transparency");
        out.body = engine.draw_bmp(view.left, view.top, width, height, view.scale, layers.map,
                                   layers.pois, background, factor);
        if (out.body.empty())
            return fail(500, "the engine's RLE8 export cannot hold this view; ask for image/png");
        return out;
    }
    if (direct && format == "image/png") {
        // The commonest request: the engine's view straight to PNG.
        auto png = engine.draw_png(view.left, view.top, width, height, view.scale, layers.map,
                                   layers.pois, transparent, background, factor);
        if (!png) return fail(400, "the engine refused the view");
        if (png->empty()) return fail(500, "the picture could not be encoded");
        out.body = std::move(*png);
        return out;
    }
    std::string why;
    auto im = render_map(data, crs, box, width, height, layers, transparent, background, why, true,
                         factor);
    if (!im) return fail(400, why);
    out.body = format == "image/gif" ? encode_gif(*im) : encode_png(*im);
    if (out.body.empty()) return fail(500, "the picture could not be encoded");
    return out;
}

}  // namespace kserve
