// render.cpp: maps drawn by the engine, stretched to unequal scales or warped to other systems.
#include "kmaps/render.h"

#include <algorithm>
#include <cmath>

#include "kmaps/warp.h"

namespace kmaps {

namespace {

// True when the x and y scales differ by at most a thousandth.
bool same_scale(double sx, double sy) {
    return std::fabs(sx - sy) <= 1e-3 * std::max(sx, sy);
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

std::optional<MapPlan> plan_map(const DataSet& data, const Crs& crs, const Box& box, int width,
                                int height, int factor, std::string& error) {
    MapPlan plan;
    // The engine's limit is a 1x scale of 1 m a pixel: pictures of 1 / factor m a pixel.
    const double finest = 1.0 / factor;
    if (crs.name() == data.native().name()) {
        if (const auto view = engine_view(box, width, height, factor)) {
            const double sx = (box.maxx - box.minx) / width;
            plan = {MapPlan::Kind::view, view->left, view->top, sx, view->scale, width, height};
            return plan;
        }
        // Different x and y scales, or finer than the engine draws: draw at the finer scale
        // (at least `finest` m a pixel) and stretch the picture to the size asked for. Scales
        // that differ more than kMaxRenderSide allows (a map of 4096 pixels over a box more
        // than twice as tall as wide) draw the picture coarser, as a warped map's is.
        const double sx = (box.maxx - box.minx) / width;
        const double sy = (box.maxy - box.miny) / height;
        const double span = std::max(box.maxx - box.minx, box.maxy - box.miny);
        const double s = std::max({finest, std::min(sx, sy), span / kMaxRenderSide});
        const double rw = std::ceil((box.maxx - box.minx) / s);
        const double rh = std::ceil((box.maxy - box.miny) / s);
        plan = {MapPlan::Kind::stretch,
                static_cast<int>(std::floor(box.minx)),
                static_cast<int>(std::ceil(box.maxy)),
                s,
                s * factor,
                static_cast<int>(rw) + 1,
                static_cast<int>(rh) + 1};
        return plan;
    }
    // Another system: the native window around the part of the box over the data set.
    const Box& covered = crs.name() == "EPSG:3857" ? data.extent_mercator() : data.extent_lonlat();
    Box clip{};
    if (!intersect(box, covered, clip)) {
        plan.kind = MapPlan::Kind::blank;
        return plan;
    }
    const auto nat = transform_box(crs, data.native(), clip);
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
    plan.kind = MapPlan::Kind::warp;
    plan.left = static_cast<int>(std::floor(nat->minx - 2 * s));
    plan.top = static_cast<int>(std::ceil(nat->maxy + 2 * s));
    plan.scale = s;
    plan.engine_scale = s * factor;
    plan.width = static_cast<int>(std::ceil((nat->maxx - plan.left) / s)) + 2;
    plan.height = static_cast<int>(std::ceil((plan.top - nat->miny) / s)) + 2;
    return plan;
}

double map_cost(const DataSet& data, const Crs& crs, const Box& box, int width, int height,
                int factor) {
    std::string ignored;
    const auto plan = plan_map(data, crs, box, width, height, factor, ignored);
    if (!plan) return 0;
    const double pixels = double{1} * width * height;
    const double native = double{1} * plan->width * plan->height;
    switch (plan->kind) {
        case MapPlan::Kind::view:
            return pixels;
        case MapPlan::Kind::stretch:
            return native + pixels * kStretchFactor;
        case MapPlan::Kind::warp:
            return native + pixels * kWarpFactor;
        case MapPlan::Kind::blank:
            break;
    }
    return pixels;
}

double map_cost(const DataSet& data, const MapRequest& map) {
    return map_cost(data, *map.crs, map.box, map.width, map.height, map.factor);
}

double worst_map_cost(int width, int height) {
    // plan_map's native picture: along the axis whose scale it follows, at most the map's
    // pixels; along the other, at most kMaxRenderSide; each with a margin of 8 pixels (the
    // rounding of its size and corner, at most 3 pixels of 1 / 3 m at the finest factor, and
    // the 2 pixels a warped picture has around its window each way).
    constexpr double kMargin = 8;
    const double native = (std::max(width, height) + kMargin) * (kMaxRenderSide + kMargin);
    return native + std::max(kWarpFactor, kStretchFactor) * width * height;
}

int served_side(double budget) {
    int lo = 0;
    int hi = kMaxSide;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (worst_map_cost(mid, mid) <= budget)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

std::optional<Image> render_map(DataSet& data, const Crs& crs, const Box& box, int width,
                                int height, const Layers& layers, bool transparent,
                                unsigned background, std::string& error, bool fill_outside,
                                int factor) {
    Engine& engine = data.engine();
    const auto plan = plan_map(data, crs, box, width, height, factor, error);
    if (!plan) return std::nullopt;
    if (plan->kind == MapPlan::Kind::blank) {
        Image blank(width, height, 0);
        if (!transparent && fill_outside) flatten(blank, background);
        return blank;
    }
    auto src = engine.draw(plan->left, plan->top, plan->width, plan->height, plan->engine_scale,
                           layers.map, layers.pois, transparent, background, factor);
    if (!src) {
        error = "the engine refused the view";
        return std::nullopt;
    }
    if (plan->kind == MapPlan::Kind::view) return src;
    if (plan->kind == MapPlan::Kind::stretch) {
        const double s = plan->scale;
        const double sx = (box.maxx - box.minx) / width;
        const double sy = (box.maxy - box.miny) / height;
        Image out(width, height);
        for (int j = 0; j < height; ++j) {
            const double y = box.maxy - (j + 0.5) * sy;
            const int row = std::clamp(static_cast<int>((plan->top - y) / s), 0, src->height - 1);
            for (int i = 0; i < width; ++i) {
                const double x = box.minx + (i + 0.5) * sx;
                const int col =
                    std::clamp(static_cast<int>((x - plan->left) / s), 0, src->width - 1);
                out.at(i, j) = src->at(col, row);
            }
        }
        return out;
    }
    auto out =
        warp(*src, data.native(), plan->left, plan->top, plan->scale, crs, box, width, height);
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
    if (direct && (format == "image/png" || format == "image/gif")) {
        // The commonest requests: the engine's view straight to a palette file.
        auto file = format == "image/png"
                        ? engine.draw_png(view.left, view.top, width, height, view.scale,
                                          layers.map, layers.pois, transparent, background, factor)
                        : engine.draw_gif(view.left, view.top, width, height, view.scale,
                                          layers.map, layers.pois, transparent, background, factor);
        if (!file) return fail(400, "the engine refused the view");
        if (file->empty()) return fail(500, "the picture could not be encoded");
        out.body = std::move(*file);
        return out;
    }
    std::string why;
    auto im = render_map(data, crs, box, width, height, layers, transparent, background, why, true,
                         factor);
    if (!im) return fail(400, why);
    if (format == "image/gif")
        out.body = encode_gif(*im);
    else if (format == "image/jpeg")
        out.body = encode_jpeg(*im, background);
    else
        out.body = encode_png(*im);
    if (out.body.empty()) return fail(500, "the picture could not be encoded");
    return out;
}

MapFile draw_map_file(DataSet& data, const MapRequest& map) {
    return draw_map_file(data, *map.crs, map.box, map.width, map.height, map.layers, map.format,
                         map.transparent, map.background, map.factor);
}

}  // namespace kmaps
