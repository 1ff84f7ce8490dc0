// kmaps/render.h: maps of the data set in any offered coordinate system, as pictures and as
// files: the engine's own view where it can draw the box directly, else a native view stretched
// or warped onto the box; and what drawing a map costs. Maps of every interface (WMS, OGC API)
// and metatiles are drawn here.
#ifndef KMAPS_RENDER_H
#define KMAPS_RENDER_H

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kmaps/crs.h"
#include "kmaps/dataset.h"
#include "kmaps/geometry.h"
#include "kmaps/image.h"

namespace kmaps {

constexpr int kMaxSide = 4096;        // WIDTH and HEIGHT of a map
constexpr int kMaxRenderSide = 8192;  // a native render behind a warped or stretched map
constexpr double kMinScale = 0.01;    // metres per pixel
constexpr double kMaxScale = 100000.0;
constexpr unsigned kWhite = 0xFFFFFF;

// What a map shows: the map itself (roads, areas, names) and the categories of points of
// interest laid over it (0: all).
struct Layers {
    bool map = false;
    std::vector<int> pois;
};

// One map asked for, its parameters checked: the box in the system, the picture's size, what
// it shows, the file's media type (map_formats), its background, and the drawing scale factor
// (1 to kMaxFactor, kmaps/drawing.h).
struct MapRequest {
    std::shared_ptr<Crs> crs;
    Box box{};
    int width = 0;
    int height = 0;
    Layers layers;
    std::string format = "image/png";
    bool transparent = false;
    unsigned background = kWhite;
    int factor = 1;
};

// The media types of map files, as draw_map_file writes them.
inline constexpr const char* kMapFormats[] = {"image/png", "image/gif", "image/jpeg", "image/bmp"};

// The engine's own view of a box in the data set's grid: equal x and y scales, drawn from its
// north-west corner, at `factor` (1 to kMaxFactor) with a 1x scale `scale` (the picture's
// scale times the factor) of at least 1 m a pixel. Such a view gives the same pixels as any
// other client of the engine drawing that window.
struct EngineView {
    int left;
    int top;
    double scale;  // metres a pixel of the 1x map; the picture's pixels are scale / factor
};
std::optional<EngineView> engine_view(const Box& box, int width, int height, int factor = 1);

// How a map of `box` in `crs` at width x height is drawn: the engine's own view of the box
// (`view`), or a native picture of the engine that is stretched (the grid at unequal scales or
// finer than the engine draws) or warped (another system) onto the box, or nothing (`blank`:
// a box in another system that misses the data set). The engine's picture has its north-west
// corner at (left, top) in the grid, `scale` metres a pixel (the engine is given the 1x scale
// `engine_scale`, scale x factor) and `width` x `height` pixels; for `view` it is the map.
struct MapPlan {
    enum class Kind { view, stretch, warp, blank };
    Kind kind = Kind::view;
    int left = 0;
    int top = 0;
    double scale = 0;
    double engine_scale = 0;
    int width = 0;
    int height = 0;
};
// The native picture is at most kMaxRenderSide (and a few pixels) a side: beyond that it is
// drawn coarser. Nothing, with `error` set, for a box in another system that cannot be
// expressed in the grid.
std::optional<MapPlan> plan_map(const DataSet& data, const Crs& crs, const Box& box, int width,
                                int height, int factor, std::string& error);

// The cost of a map is counted in pixels the engine draws, each the time of the slowest such
// pixel measured (bench/web/map_cost_bench.cpp), so that a cost bounds a map's time. Beyond the
// native picture drawn for it, a pixel of a warped map costs kWarpFactor (the projection,
// GDAL's warper, the pictures copied for it and the picture's encoding: measured 2.8 to 3.6 on
// an import of real data, 3.5 to 3.9 on the sample city), a pixel of a stretched map
// kStretchFactor (the native picture copied, the stretch and the encoding: 1.8 to 2.0 and 1.7
// to 2.1). Both are the largest figure measured, rounded up; docs/web.md, "The cost of a
// map", has the figures.
constexpr double kWarpFactor = 4;
constexpr double kStretchFactor = 3;

// The cost of a map: the engine's pixels (the map itself, or the native picture behind a
// stretched or warped map), plus each pixel of a stretched map kStretchFactor times and each
// pixel of a warped map kWarpFactor times. 0 for a map that cannot be drawn.
double map_cost(const DataSet& data, const Crs& crs, const Box& box, int width, int height,
                int factor = 1);
double map_cost(const DataSet& data, const MapRequest& map);

// The most any map of at most width x height pixels can cost, in any offered system, at any
// box and factor: the native picture behind a stretched or warped map is at most
// kMaxRenderSide (and a few pixels of margin) by the map's longer side, plus kWarpFactor a pixel
// of the map.
double worst_map_cost(int width, int height);

// The largest side (1 to kMaxSide) such that every map of at most side x side pixels costs no
// more than `budget` in any offered system; 0 when not even a map of one pixel fits. The
// capabilities and the OpenAPI document advertise it as the most a map may measure.
int served_side(double budget);

// The map of `box` in `crs` at width x height. Outside the data set the picture is transparent,
// or the background unless `fill_outside` is false. At `factor` 2 or 3 the picture keeps its
// size and window, and shows the map drawn with that many times the pixels: the features,
// names and points of the 1x map of width / factor x height / factor pixels, with pens, text
// and symbols `factor` times as large (Engine::draw). Nothing, with `error` set, when the
// engine refuses the view or the box cannot be drawn.
std::optional<Image> render_map(DataSet& data, const Crs& crs, const Box& box, int width,
                                int height, const Layers& layers, bool transparent,
                                unsigned background, std::string& error, bool fill_outside = true,
                                int factor = 1);

// A map as a file of `format` (image/png, image/gif, image/jpeg or image/bmp, the engine's own
// RLE8 export): the engine's view straight to PNG or BMP where it can draw the box itself, else
// render_map encoded. A JPEG has no transparency: ask for it opaque (transparent false). On failure
// `body` is empty, `status` is 400 (the request asks for what cannot be drawn) or 500 (the
// service's fault) and `error` says why.
struct MapFile {
    std::string body;
    int status = 200;
    std::string error;
};
MapFile draw_map_file(DataSet& data, const Crs& crs, const Box& box, int width, int height,
                      const Layers& layers, const std::string& format, bool transparent,
                      unsigned background, int factor = 1);
MapFile draw_map_file(DataSet& data, const MapRequest& map);

}  // namespace kmaps

#endif
