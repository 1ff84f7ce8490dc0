/*
 * gdi_bench.cpp: throughput of the drawing layer on a 356 x 276 view, the size of the
 * server's picture box:
 *  - Polyline: 10,000 polylines of four segments of up to 6 pixels (a city view's road
 *    pieces) per iteration, for 1-, 2- and 4-pixel pens;
 *  - Polygon: 1,000 filled and outlined quadrilaterals of up to 24 pixels;
 *  - TextOutA: a ten-character Big5 label, glyphs from the cache (items are glyphs);
 *  - GetDIBits: BI_RLE8 of a map-like 356 x 276 image (roads, areas, labels), and 32-bit
 *    BI_RGB for comparison.
 * The polylines and polygons also on an 8-bit DIB section (BM_Polyline8Bit, BM_PolygonFill8Bit).
 */
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "kgdi.h"

namespace {

constexpr int kWidth = 356;
constexpr int kHeight = 276;
constexpr int kPolylines = 10000;
constexpr int kSegments = 4;
constexpr int kMaxStep = 6;

/* The colours of the benchmarks, the colour table of their 8-bit surfaces. */
const COLORREF kColours[] = {RGB(255, 255, 255), RGB(250, 200, 60), RGB(180, 220, 160)};

struct Info256 {
    BITMAPINFOHEADER h;
    RGBQUAD colors[256];
};

/* A memory context with a view-sized bitmap: 32-bit, or an 8-bit DIB section. */
class View {
  public:
    explicit View(int bits = 32) {
        dc_ = CreateCompatibleDC(nullptr);
        if (bits == 8) {
            Info256 info{};
            info.h = BITMAPINFOHEADER{40, kWidth, -kHeight, 1, 8, BI_RGB, 0, 0, 0, 3, 0};
            for (int i = 0; i < 3; ++i)
                info.colors[i] = RGBQUAD{GetBValue(kColours[i]), GetGValue(kColours[i]),
                                         GetRValue(kColours[i]), 0};
            void* pixels = nullptr;
            bitmap_ = CreateDIBSection(dc_, reinterpret_cast<const BITMAPINFO*>(&info),
                                       DIB_RGB_COLORS, &pixels, nullptr, 0);
        } else {
            bitmap_ = CreateCompatibleBitmap(dc_, kWidth, kHeight);
        }
        old_ = SelectObject(dc_, bitmap_);
        RECT r{0, 0, kWidth, kHeight};
        FillRect(dc_, &r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    }
    ~View() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }

  private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
};

/* Road pieces: polylines of kSegments steps of up to kMaxStep pixels, some reaching out. */
std::vector<POINT> RoadPieces() {
    std::mt19937 rng(42);
    std::uniform_int_distribution<int> x0(-10, kWidth + 10), y0(-10, kHeight + 10),
        step(-kMaxStep, kMaxStep);
    std::vector<POINT> pts;
    pts.reserve(kPolylines * (kSegments + 1));
    for (int i = 0; i < kPolylines; ++i) {
        POINT p{x0(rng), y0(rng)};
        pts.push_back(p);
        for (int s = 0; s < kSegments; ++s) {
            p.x += step(rng);
            p.y += step(rng);
            pts.push_back(p);
        }
    }
    return pts;
}

/* The polylines of BM_Polyline into a surface of `bits` bits. */
void RunPolylines(benchmark::State& state, int bits) {
    View view(bits);
    const std::vector<POINT> pts = RoadPieces();
    HPEN pen = CreatePen(PS_SOLID, static_cast<int>(state.range(0)), kColours[1]);
    HGDIOBJ old = SelectObject(view.dc(), pen);
    for (auto _ : state) {
        for (int i = 0; i < kPolylines; ++i)
            Polyline(view.dc(), &pts[static_cast<size_t>(i) * (kSegments + 1)], kSegments + 1);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kPolylines);
    SelectObject(view.dc(), old);
    DeleteObject(pen);
}
void BM_Polyline(benchmark::State& state) {
    RunPolylines(state, 32);
}
BENCHMARK(BM_Polyline)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);
void BM_Polyline8Bit(benchmark::State& state) {
    RunPolylines(state, 8);
}
BENCHMARK(BM_Polyline8Bit)->Arg(1)->Arg(2)->Arg(4)->Unit(benchmark::kMillisecond);

/* The polygons of BM_PolygonFill into a surface of `bits` bits. */
void RunPolygons(benchmark::State& state, int bits) {
    View view(bits);
    std::mt19937 rng(7);
    std::uniform_int_distribution<int> x0(0, kWidth), y0(0, kHeight), d(-24, 24);
    std::vector<POINT> pts;
    for (int i = 0; i < 1000; ++i) {
        const POINT c{x0(rng), y0(rng)};
        for (int k = 0; k < 4; ++k) pts.push_back({c.x + d(rng), c.y + d(rng)});
    }
    HBRUSH brush = CreateSolidBrush(kColours[2]);
    HGDIOBJ old = SelectObject(view.dc(), brush);
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) Polygon(view.dc(), &pts[static_cast<size_t>(i) * 4], 4);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
    SelectObject(view.dc(), old);
    DeleteObject(brush);
}
void BM_PolygonFill(benchmark::State& state) {
    RunPolygons(state, 32);
}
BENCHMARK(BM_PolygonFill)->Unit(benchmark::kMicrosecond);
void BM_PolygonFill8Bit(benchmark::State& state) {
    RunPolygons(state, 8);
}
BENCHMARK(BM_PolygonFill8Bit)->Unit(benchmark::kMicrosecond);

void BM_TextOutBig5Label(benchmark::State& state) {
    View view;
    // Ten Big5 characters (twenty bytes).
    const char label[] =
        "\xA4\xA4\xA5\xC1\xB8\xF4\xA4\x40\xAC\x71\xAB\xC8\xB9\x42\xAA\xE1\xA5\x78\xA5\x5F";
    SetBkMode(view.dc(), TRANSPARENT);
    TextOutA(view.dc(), 0, 0, label, 20);  // fill the glyph cache
    int x = 0;
    for (auto _ : state) {
        TextOutA(view.dc(), x, 100, label, 20);
        x = (x + 7) % 200;
    }
    state.SetItemsProcessed(state.iterations() * 10);
}
BENCHMARK(BM_TextOutBig5Label);

/* Draws a map-like view: a background, areas, roads of three widths and labels. */
void DrawMap(const View& view) {
    HDC dc = view.dc();
    std::mt19937 rng(3);
    std::uniform_int_distribution<int> x(0, kWidth), y(0, kHeight), d(-40, 40);
    HBRUSH park = CreateSolidBrush(RGB(200, 230, 190));
    HBRUSH water = CreateSolidBrush(RGB(170, 200, 240));
    HGDIOBJ old_brush = SelectObject(dc, park);
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(NULL_PEN));
    for (int i = 0; i < 25; ++i) {
        SelectObject(dc, i % 3 ? park : water);
        const POINT c{x(rng), y(rng)};
        POINT poly[5];
        for (auto& p : poly) p = {c.x + d(rng), c.y + d(rng)};
        Polygon(dc, poly, 5);
    }
    const COLORREF colours[3] = {RGB(255, 255, 255), RGB(250, 200, 60), RGB(230, 120, 40)};
    for (int i = 0; i < 300; ++i) {
        HPEN pen = CreatePen(PS_SOLID, 1 + i % 3, colours[i % 3]);
        SelectObject(dc, pen);
        POINT line[4];
        line[0] = {x(rng), y(rng)};
        for (int k = 1; k < 4; ++k)
            line[k] = {line[k - 1].x + d(rng) / 2, line[k - 1].y + d(rng) / 2};
        Polyline(dc, line, 4);
        SelectObject(dc, GetStockObject(NULL_PEN));
        DeleteObject(pen);
    }
    SetBkMode(dc, TRANSPARENT);
    for (int i = 0; i < 12; ++i) TextOutA(dc, x(rng), y(rng), "\xA4\xA4\xA5\xC1\xB8\xF4 Rd", 9);
    SelectObject(dc, old_pen);
    SelectObject(dc, old_brush);
    DeleteObject(park);
    DeleteObject(water);
}

void BM_GetDIBitsRle8(benchmark::State& state) {
    View view;
    RECT r{0, 0, kWidth, kHeight};
    HBRUSH bg = CreateSolidBrush(RGB(242, 239, 233));
    FillRect(view.dc(), &r, bg);
    DeleteObject(bg);
    DrawMap(view);
    std::vector<uint8_t> out(static_cast<size_t>(kWidth) * kHeight);
    Info256 info{};
    for (auto _ : state) {
        info.h = BITMAPINFOHEADER{
            40, kWidth, kHeight, 1, 8, BI_RLE8, static_cast<DWORD>(out.size()), 0, 0, 0, 0};
        if (GetDIBits(view.dc(), view.bitmap(), 0, kHeight, out.data(),
                      reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS) != kHeight)
            state.SkipWithError("GetDIBits failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["bytes"] = info.h.biSizeImage;
}
BENCHMARK(BM_GetDIBitsRle8)->Unit(benchmark::kMicrosecond);

void BM_GetDIBitsRgb32(benchmark::State& state) {
    View view;
    DrawMap(view);
    std::vector<uint32_t> out(static_cast<size_t>(kWidth) * kHeight);
    BITMAPINFO info{};
    for (auto _ : state) {
        info.bmiHeader = BITMAPINFOHEADER{40, kWidth, kHeight, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
        GetDIBits(view.dc(), view.bitmap(), 0, kHeight, out.data(), &info, DIB_RGB_COLORS);
        benchmark::DoNotOptimize(out.data());
    }
}
BENCHMARK(BM_GetDIBitsRgb32)->Unit(benchmark::kMicrosecond);

}  // namespace
