// bench_export.cpp: the bitmap export of a map view of the server's size (356 x 276).
//
// The view is a picture like a detailed map view: a background, areas, roads of several widths
// and colours, and labels, drawn with the drawing layer and made the last view. Measured:
// sdllgetbmp into a caller's buffer (the server's path; target below 0.5 ms) and
// sdllgetimgfile (the same plus one file write).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "data/store.h"
#include "kestrel.h"
#include "render/view.h"

namespace {

constexpr int kWidth = 356;
constexpr int kHeight = 276;
constexpr int kHeaderBytes = 1078;

// A memory context holding a map-like picture, made the last view for the whole run.
class MapLikeView {
  public:
    MapLikeView() {
        dc_ = CreateCompatibleDC(nullptr);
        bitmap_ = CreateCompatibleBitmap(dc_, kWidth, kHeight);
        previous_ = SelectObject(dc_, bitmap_);
        HBRUSH background = CreateSolidBrush(RGB(0, 255, 255));
        RECT all{0, 0, kWidth, kHeight};
        FillRect(dc_, &all, background);
        DeleteObject(background);
        HBRUSH area = CreateSolidBrush(RGB(190, 230, 160));
        for (int i = 0; i < 6; ++i) {
            RECT r{20 + 55 * i, 30 + 20 * (i % 3), 60 + 55 * i, 90 + 20 * (i % 3)};
            FillRect(dc_, &r, area);
        }
        DeleteObject(area);
        const COLORREF colours[] = {RGB(128, 64, 64), RGB(190, 0, 0), RGB(255, 100, 100),
                                    RGB(0, 0, 0)};
        for (int i = 0; i < 60; ++i) {
            HPEN pen = CreatePen(PS_SOLID, 1 + i % 4, colours[i % 4]);
            HGDIOBJ old = SelectObject(dc_, pen);
            POINT line[3] = {{(i * 37) % kWidth, 0},
                             {(i * 53) % kWidth, kHeight / 2},
                             {(i * 71) % kWidth, kHeight}};
            Polyline(dc_, line, 3);
            SelectObject(dc_, old);
            DeleteObject(pen);
        }
        SetBkMode(dc_, TRANSPARENT);
        for (int i = 0; i < 20; ++i) TextOutA(dc_, (i * 61) % 300, (i * 29) % 260, "ROAD", 4);
        kestrel::render::view_state() =
            kestrel::render::ViewState{dc_, 300000, 2770000, kWidth, kHeight, 10.0};
    }
    ~MapLikeView() {
        SelectObject(dc_, previous_);
        DeleteDC(dc_);
        DeleteObject(bitmap_);
    }

  private:
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ previous_;
};

void BM_ExportToBuffer(benchmark::State& state) {
    MapLikeView view;
    std::vector<unsigned char> buffer(kHeaderBytes + kWidth * kHeight);
    int n = 0;
    for (auto _ : state) {
        n = sdllgetbmp(buffer.data());
        benchmark::DoNotOptimize(n);
    }
    if (n <= 0) state.SkipWithError("the export refused the view");
    state.counters["compressed_bytes"] = n;
}
BENCHMARK(BM_ExportToBuffer)->Unit(benchmark::kMicrosecond);

void BM_ExportToFile(benchmark::State& state) {
    MapLikeView view;
    char dir[] = "/tmp/kestrel-bench-XXXXXX";
    if (mkdtemp(dir) == nullptr) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const std::string slash = std::string(dir) + "/";
    std::snprintf(kestrel::data::dataset().temp_dir, kestrel::data::TEMP_DIR_MAX + 1, "%s",
                  slash.c_str());
    char name[260];
    for (auto _ : state) {
        const int n = sdllgetimgfile(name);
        benchmark::DoNotOptimize(n);
        state.PauseTiming();
        std::remove(name);
        state.ResumeTiming();
    }
    std::remove(dir);
}
BENCHMARK(BM_ExportToFile)->Unit(benchmark::kMicrosecond);

}  // namespace
