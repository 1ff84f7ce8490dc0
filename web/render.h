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

// The engine's own view of a box in the data set's grid: equal x and y scales of at least
// 1 m a pixel, drawn from its north-west corner. Such a view gives the same pixels as any other
// client of the engine drawing that window.
struct EngineView {
    int left;
    int top;
    double scale;
};
std::optional<EngineView> engine_view(const Box& box, int width, int height);

// The map of `box` in `crs` at width x height. Outside the data set the picture is transparent,
// or the background unless `fill_outside` is false. Nothing, with `error` set, when the engine
// refuses the view or the box cannot be drawn.
std::optional<Image> render_map(DataSet& data, const Crs& crs, const Box& box, int width,
                                int height, const Layers& layers, bool transparent,
                                unsigned background, std::string& error, bool fill_outside = true);

}  // namespace kserve

#endif
