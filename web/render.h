// render.h: maps of the data set in any offered coordinate system, as pictures: the engine's
// own view where it can draw the box directly, else a native view stretched or warped onto the
// box. WMS maps and metatiles are drawn here.
#ifndef KSERVE_RENDER_H
#define KSERVE_RENDER_H

#include <optional>
#include <string>
#include <vector>

#include "dataset.h"
#include "image.h"

namespace kserve {

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

// A map as a file of `format` (image/png, image/gif or image/bmp, the engine's own RLE8
// export): the engine's view straight to PNG or BMP where it can draw the box itself, else
// render_map encoded. On failure `body` is empty, `status` is 400 (the request asks for what
// cannot be drawn) or 500 (the service's fault) and `error` says why.
struct MapFile {
    std::string body;
    int status = 200;
    std::string error;
};
MapFile draw_map_file(DataSet& data, const Crs& crs, const Box& box, int width, int height,
                      const Layers& layers, const std::string& format, bool transparent,
                      unsigned background, int factor = 1);

}  // namespace kserve

#endif
