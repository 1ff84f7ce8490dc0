// bench_render.cpp: how long drawing a map view takes.
//
// Views of 356 x 276 pixels (the server's picture box) and 1024 x 768 pixels at 5, 20 and 100
// metres per pixel, centred on the data set's city, drawn with the server's layer string:
//   - warm: the view's tiles are in the cache from the draw before;
//   - cold: the cache is emptied before every draw, so each tile file is read and decoded
//     again (the files themselves stay in the operating system's page cache).
// Also the same 5 m/px views without road names, the road labeller export on its own (which,
// unlike the labeller called by the view drawing, scans every road of the tiles), and a
// metatile of the map service (1024 x 1024) drawn at scale factors 1, 2 and 3: the same window
// at 2048 x 2048 and 3072 x 3072 pixels; the same metatile drawn in the exports' cache slot
// order and in the map service's tile order, side by side, and the ordering step alone; and
// views drawn into a 32-bit bitmap and into an 8-bit DIB section with the map's palette, side
// by side.
//
// The data set is the sample one in <build>/appdir/kgrid/ when it has been generated;
// otherwise a synthetic city of 4 x 4 tiles (a road grid every 100 m, blocks, lines, place
// labels, a catalogue and a base map) is written with the data-set writer into a temporary
// directory first.
#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "data/store.h"
#include "kgdi.h"
#include "kmaps/drawing.h"
#include "render/palette.h"
#include "render/pinned_slots.h"
#include "render/view.h"
#include "writer.h"

namespace {

namespace data = kestrel::data;
namespace render = kestrel::render;

constexpr const char* kServerLayers = kmaps::kMapLayers;
constexpr int32_t kCityX = 300000;  // centre of the synthetic city
constexpr int32_t kCityY = 2770000;
constexpr int kCityTiles = 4;    // tiles on a side
constexpr int kBlock = 100;      // metres between roads
constexpr int kVertexStep = 50;  // metres between road vertices

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

// Writes the synthetic city into a new temporary directory and returns it ('/'-terminated).
std::string write_synthetic_city() {
    char templ[] = "/tmp/kestrel-bench-render-XXXXXX";
    if (mkdtemp(templ) == nullptr) return "";
    const std::string dir = std::string(templ) + "/";
    kdataset::DataSetContent content;
    const int32_t west = kCityX - kCityTiles / 2 * data::TILE_SIZE_M;
    const int32_t south = kCityY - kCityTiles / 2 * data::TILE_SIZE_M;
    int serial = 0;
    for (int ty = 0; ty < kCityTiles; ++ty) {
        for (int tx = 0; tx < kCityTiles; ++tx) {
            const int32_t x0 = west + tx * data::TILE_SIZE_M;
            const int32_t y0 = south + ty * data::TILE_SIZE_M;
            kdataset::Tile tile;
            tile.number = data::tile_number_of(x0, y0);
            // Blocks: every other block of the grid is a filled area.
            for (int by = 0; by < data::TILE_SIZE_M / kBlock; by += 2)
                for (int bx = 0; bx < data::TILE_SIZE_M / kBlock; bx += 2) {
                    const int32_t ax = x0 + bx * kBlock + 10;
                    const int32_t ay = y0 + by * kBlock + 10;
                    tile.lines.push_back(
                        {11,
                         {{ax, ay}, {ax + 80, ay}, {ax + 80, ay + 80}, {ax, ay + 80}, {ax, ay}}});
                }
            // The road grid, east-west and north-south, of mixed types.
            for (int i = 0; i < data::TILE_SIZE_M / kBlock; ++i) {
                const int32_t offset = i * kBlock + kBlock / 2;
                kdataset::Road ew;
                kdataset::Road ns;
                ew.type = static_cast<int16_t>(1 + i % 9);
                ns.type = static_cast<int16_t>(1 + (i + 4) % 9);
                ew.district = ns.district = static_cast<int16_t>(100 + tx + ty * kCityTiles);
                ew.name = "East " + std::to_string(++serial);
                ns.name = "North " + std::to_string(++serial);
                for (int d = 0; d <= data::TILE_SIZE_M; d += kVertexStep) {
                    const int32_t along = std::min(d, data::TILE_SIZE_M - 1);
                    ew.points.push_back({x0 + along, y0 + offset});
                    ns.points.push_back({x0 + offset, y0 + along});
                }
                tile.roads.push_back(ew);
                tile.roads.push_back(ns);
            }
            // A river line and place labels of every kind.
            kdataset::LineFeature river{10, {}};
            for (int d = 0; d < data::TILE_SIZE_M; d += 200)
                river.points.push_back({x0 + d, y0 + 5000 + (d / 200 % 2) * 60});
            tile.lines.push_back(river);
            for (int k = 0; k < 40; ++k)
                tile.places.push_back({static_cast<int16_t>(21 + k % 4),
                                       {x0 + 250 * k + 30, y0 + 9000 - 200 * (k % 40)},
                                       "Place " + std::to_string(k)});
            content.tiles[tile.number] = tile;
        }
    }
    content.tile_index = kdataset::derive_tile_index(content.tiles);
    kdataset::CatalogueEntry city;
    city.name = "City";
    city.points = {{kCityX, kCityY}};
    content.catalogue.push_back(city);
    kdataset::CatalogueEntry coast;
    coast.kind = kdataset::CatalogueEntry::Polyline;
    for (int d = 0; d < 40; ++d) coast.points.push_back({west + d * 1000, south - (d % 3) * 500});
    content.catalogue.push_back(coast);
    kdataset::BaseMapShape land;
    land.filled = true;
    land.colour = RGB(0, 128, 0);
    land.fill = RGB(200, 230, 200);
    land.points = {{150000, 2430000}, {350000, 2430000}, {350000, 2790000}, {150000, 2790000}};
    content.base_map.push_back(land);
    kdataset::WriteReport report;
    const std::string error = kdataset::write_dataset(content, dir, &report);
    if (!error.empty()) {
        std::fprintf(stderr, "bench_render: could not write the synthetic city: %s\n",
                     error.c_str());
        return "";
    }
    return dir;
}

// Loads the data set once per process: the sample one if present, else the synthetic city.
bool load_data_set() {
    static int loaded = 0;
    if (loaded != 0) return loaded > 0;
    std::string dir = KESTREL_SAMPLE_DIR;
    if (!file_exists(dir + "d4.txt")) dir = write_synthetic_city();
    loaded = !dir.empty() && data::set_path(dir.c_str(), true) == 1 ? 1 : -1;
    if (loaded < 0) std::fprintf(stderr, "bench_render: no data set could be loaded\n");
    return loaded > 0;
}

// A memory device context with a bitmap of the view's size.
struct Surface {
    Surface(int w, int h) : dc(CreateCompatibleDC(nullptr)) {
        bitmap = CreateCompatibleBitmap(dc, w, h);
        old = SelectObject(dc, bitmap);
        SetBkMode(dc, TRANSPARENT);
    }
    ~Surface() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
};

int draw_centred(const Surface& s, int w, int h, double scale, const char* layers) {
    const int32_t left = kCityX - static_cast<int32_t>(w * scale / 2);
    const int32_t top = kCityY + static_cast<int32_t>(h * scale / 2);
    return render::draw_view(s.dc, left, top, w, h, scale, layers);
}

void empty_cache() {
    for (int s = 0; s < data::SLOT_COUNT; ++s) data::slot(s).header.tile_number = 0;
}

int draw_at_factor(const Surface& s, int w, int h, double scale, int factor) {
    const int32_t left = kCityX - static_cast<int32_t>(w * scale / 2);
    const int32_t top = kCityY + static_cast<int32_t>(h * scale / 2);
    return render::draw_view(s.dc, left, top, w * factor, h * factor, scale, kServerLayers,
                             render::ViewOptions{factor});
}

// Arguments: width, height, scale, cold (1) or warm (0).
void BM_View(benchmark::State& state) {
    if (!load_data_set()) {
        state.SkipWithError("no data set");
        return;
    }
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const double scale = static_cast<double>(state.range(2));
    const bool cold = state.range(3) != 0;
    Surface surface(w, h);
    draw_centred(surface, w, h, scale, kServerLayers);
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            empty_cache();
            state.ResumeTiming();
        }
        benchmark::DoNotOptimize(draw_centred(surface, w, h, scale, kServerLayers));
    }
    state.SetLabel(std::string(cold ? "cold" : "warm") + " " + std::to_string(w) + "x" +
                   std::to_string(h) + " @" + std::to_string(static_cast<int>(scale)) + "m/px");
}

void view_arguments(benchmark::internal::Benchmark* b) {
    for (int cold : {0, 1})
        for (int scale : {5, 20, 100}) {
            b->Args({356, 276, scale, cold});
            b->Args({1024, 768, scale, cold});
        }
}
BENCHMARK(BM_View)->Apply(view_arguments)->Unit(benchmark::kMicrosecond);

// A metatile's window (1024 x 1024 pixels at 1x) drawn warm at a scale factor with the server's
// layers. Arguments: scale, factor.
void BM_ScaleFactor(benchmark::State& state) {
    if (!load_data_set()) {
        state.SkipWithError("no data set");
        return;
    }
    constexpr int kSide = 1024;
    const double scale = static_cast<double>(state.range(0));
    const int factor = static_cast<int>(state.range(1));
    Surface surface(kSide * factor, kSide * factor);
    draw_at_factor(surface, kSide, kSide, scale, factor);
    for (auto _ : state)
        benchmark::DoNotOptimize(draw_at_factor(surface, kSide, kSide, scale, factor));
    state.SetLabel(std::to_string(kSide * factor) + "x" + std::to_string(kSide * factor) + " @" +
                   std::to_string(static_cast<int>(scale)) + "m/px x" + std::to_string(factor));
    state.counters["pixels"] = static_cast<double>(kSide) * kSide * factor * factor;
}

void factor_arguments(benchmark::internal::Benchmark* b) {
    for (int scale : {2, 8, 32})
        for (int factor : {1, 2, 3}) b->Args({scale, factor});
}
BENCHMARK(BM_ScaleFactor)->Apply(factor_arguments)->Unit(benchmark::kMicrosecond);

// A warm 5 m/px view without labels (layer character 3 "0"): at 5 m/px no place label is drawn,
// so the difference to BM_View at the same size is the time of the road labeller within the
// view drawing.
void BM_ViewWithoutNames(benchmark::State& state) {
    if (!load_data_set()) {
        state.SkipWithError("no data set");
        return;
    }
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    Surface surface(w, h);
    draw_centred(surface, w, h, 5, "00200000");
    for (auto _ : state) benchmark::DoNotOptimize(draw_centred(surface, w, h, 5, "00200000"));
}
BENCHMARK(BM_ViewWithoutNames)->Args({356, 276})->Args({1024, 768})->Unit(benchmark::kMicrosecond);

// The cost of the drawing order: a metatile's window (1024 x 1024 pixels) centred on the corner
// of four data tiles, drawn warm in the cache slot order of the exports (0) and in the view's
// tile order of the map service (1). Run the two side by side, interleaved:
//   bench_render --benchmark_filter=DrawingOrder --benchmark_repetitions=10
//                --benchmark_enable_random_interleaving=true
// Arguments: scale, order.
void BM_DrawingOrder(benchmark::State& state) {
    if (!load_data_set()) {
        state.SkipWithError("no data set");
        return;
    }
    constexpr int kSide = 1024;
    const double scale = static_cast<double>(state.range(0));
    const render::ViewOptions options{1, state.range(1) == 0 ? render::DrawingOrder::kCacheSlots
                                                             : render::DrawingOrder::kTileList};
    const int32_t left = kCityX - static_cast<int32_t>(kSide * scale / 2);
    const int32_t top = kCityY + static_cast<int32_t>(kSide * scale / 2);
    Surface surface(kSide, kSide);
    const auto draw = [&] {
        return render::draw_view(surface.dc, left, top, kSide, kSide, scale, kServerLayers,
                                 options);
    };
    draw();
    for (auto _ : state) benchmark::DoNotOptimize(draw());
    state.SetLabel(std::string(state.range(1) == 0 ? "cache slots" : "tile list") + " @" +
                   std::to_string(static_cast<int>(scale)) + "m/px");
}
BENCHMARK(BM_DrawingOrder)->ArgsProduct({{2, 5, 20}, {0, 1}})->Unit(benchmark::kMicrosecond);

// The ordering step alone: the pinned slots of the 20 m/px metatile above (16 tiles, loaded
// after the four of the finer views, so the two orders differ) in either order. Argument: order.
void BM_PinnedSlots(benchmark::State& state) {
    if (!load_data_set()) {
        state.SkipWithError("no data set");
        return;
    }
    constexpr int kSide = 1024;
    constexpr double kScale = 20;
    Surface surface(kSide, kSide);
    const int32_t left = kCityX - static_cast<int32_t>(kSide * kScale / 2);
    const int32_t top = kCityY + static_cast<int32_t>(kSide * kScale / 2);
    render::draw_view(surface.dc, kCityX - kSide, kCityY + kSide, kSide, kSide, 2, kServerLayers);
    render::draw_view(surface.dc, left, top, kSide, kSide, kScale, kServerLayers);
    const auto order =
        state.range(0) == 0 ? render::DrawingOrder::kCacheSlots : render::DrawingOrder::kTileList;
    int slots[data::SLOT_COUNT];
    int pinned = 0;
    for (auto _ : state) {
        pinned = render::pinned_slots(order, slots);
        benchmark::DoNotOptimize(slots);
    }
    state.counters["tiles"] = pinned;
    state.SetLabel(state.range(0) == 0 ? "cache slots" : "tile list");
}
BENCHMARK(BM_PinnedSlots)->Arg(0)->Arg(1);

// The road labeller export (dlldrawrdtxt) alone on a warm 5 m/px view; compare with BM_View at the
// same size and scale. The label list is emptied before each run so that every run places the same
// names.
void BM_RoadNames(benchmark::State& state) {
    if (!load_data_set()) {
        state.SkipWithError("no data set");
        return;
    }
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    Surface surface(w, h);
    draw_centred(surface, w, h, 5, "00200000");  // no labels: the labeller runs alone below
    int boxes = 0;
    for (auto _ : state) {
        render::label_boxes().last = -1;
        render::draw_road_names();
        boxes = render::label_boxes().last + 1;
    }
    state.counters["characters"] = boxes;
}
BENCHMARK(BM_RoadNames)->Args({356, 276})->Args({1024, 768})->Unit(benchmark::kMicrosecond);

// A memory device context with an 8-bit DIB section of the view's size whose colour table is
// the map's palette (white and black for the caller's clear and text colours first).
struct PaletteSurface {
    PaletteSurface(int w, int h) : dc(CreateCompatibleDC(nullptr)) {
        const COLORREF own[] = {RGB(255, 255, 255), RGB(0, 0, 0)};
        const render::PaletteBitmapInfo info =
            render::palette_bitmap_info(render::map_palette(own, 2), w, h);
        void* bits = nullptr;
        bitmap = CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                  &bits, nullptr, 0);
        old = SelectObject(dc, bitmap);
        SetBkMode(dc, TRANSPARENT);
    }
    ~PaletteSurface() {
        SelectObject(dc, old);
        DeleteObject(bitmap);
        DeleteDC(dc);
    }
    HDC dc;
    HBITMAP bitmap;
    HGDIOBJ old;
};

// The same warm view drawn into a 32-bit bitmap and into an 8-bit DIB section with the map's
// palette, side by side: the 8-bit surface writes a byte a pixel. Arguments: width, height
// (of the 1x view), scale, factor, bits (32 or 8).
void BM_ViewDepth(benchmark::State& state) {
    if (!load_data_set()) {
        state.SkipWithError("no data set");
        return;
    }
    const int w = static_cast<int>(state.range(0));
    const int h = static_cast<int>(state.range(1));
    const double scale = static_cast<double>(state.range(2));
    const int factor = static_cast<int>(state.range(3));
    const bool narrow = state.range(4) == 8;
    const int32_t left = kCityX - static_cast<int32_t>(w * scale / 2);
    const int32_t top = kCityY + static_cast<int32_t>(h * scale / 2);
    const Surface wide(narrow ? 1 : w * factor, narrow ? 1 : h * factor);
    const PaletteSurface eight(narrow ? w * factor : 1, narrow ? h * factor : 1);
    const HDC dc = narrow ? eight.dc : wide.dc;
    const auto draw = [&] {
        return render::draw_view(dc, left, top, w * factor, h * factor, scale, kServerLayers,
                                 render::ViewOptions{factor});
    };
    draw();
    for (auto _ : state) benchmark::DoNotOptimize(draw());
    state.SetLabel(std::to_string(narrow ? 8 : 32) + "-bit " + std::to_string(w * factor) + "x" +
                   std::to_string(h * factor) + " @" + std::to_string(state.range(2)) + "m/px x" +
                   std::to_string(factor));
}

void depth_arguments(benchmark::internal::Benchmark* b) {
    const auto pair = [b](int w, int h, int scale, int factor) {
        for (int bits : {32, 8}) b->Args({w, h, scale, factor, bits});
    };
    for (int scale : {5, 20, 100}) pair(1024, 768, scale, 1);
    for (int scale : {2, 8, 32}) {
        pair(256, 256, scale, 1);    // a tile
        pair(1024, 1024, scale, 1);  // a metatile
        pair(1024, 1024, scale, 2);
    }
}
BENCHMARK(BM_ViewDepth)->Apply(depth_arguments)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
