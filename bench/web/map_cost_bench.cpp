// map_cost_bench.cpp: what warped and stretched maps cost against maps the engine draws
// directly, the figures behind kWarpFactor and kStretchFactor (render.h) and so behind the
// service's budget of a map.
//
//   bench_web_map_cost [DATA_DIR] [ROUNDS] [SIDE]
//
// For four squares of the data set (the largest one in its extent, centred, and the middle
// half, quarter and eighth of it) draws the map of SIDE x SIDE pixels (default 4096) as a map
// file (draw_map_file, PNG, as WMS and OGC API answer it): in the grid; in EPSG:3857 and in
// CRS:84 over the same ground, and the native picture each of these is drawn from alone (the
// engine's view of that window, encoded alike); and over a box twice as tall, stretched from a
// native picture of SIDE x 2 SIDE. Each figure is the process CPU time (user and system: the
// kernel's share is mostly the page faults of fresh pictures) of the fastest of ROUNDS
// (default 3) drawings. The slowest pixel of the engine's own pictures is the unit of a map's
// cost, so that a cost bounds a map's time; a warped (stretched) pixel's cost is the most a
// warped (stretched) map took beyond its native picture, a pixel, in that unit. DATA_DIR
// defaults to the build's sample data set.
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "kmaps/dataset.h"
#include "kmaps/render.h"

#ifndef KESTREL_SAMPLE_DIR
#define KESTREL_SAMPLE_DIR ""
#endif

namespace {

// The process's CPU time so far, user and system.
struct Cpu {
    double user = 0;
    double system = 0;
    static Cpu now() {
        rusage u{};
        getrusage(RUSAGE_SELF, &u);
        return {static_cast<double>(u.ru_utime.tv_sec) + u.ru_utime.tv_usec * 1e-6,
                static_cast<double>(u.ru_stime.tv_sec) + u.ru_stime.tv_usec * 1e-6};
    }
    double total() const { return user + system; }
};

// The fastest of `rounds` drawings of the map file (user and system time); nothing when it is
// not drawn.
std::optional<Cpu> time_map(kmaps::DataSet& data, const kmaps::Crs& crs, const kmaps::Box& box,
                            int width, int height, int rounds) {
    kmaps::Layers layers;
    layers.map = true;
    std::optional<Cpu> best;
    for (int k = 0; k < rounds; ++k) {
        const Cpu t0 = Cpu::now();
        const kmaps::MapFile file = kmaps::draw_map_file(data, crs, box, width, height, layers,
                                                         "image/png", false, kmaps::kWhite);
        const Cpu t1 = Cpu::now();
        if (file.body.empty()) {
            std::fprintf(stderr, "bench_web_map_cost: %s\n", file.error.c_str());
            return std::nullopt;
        }
        const Cpu t{t1.user - t0.user, t1.system - t0.system};
        if (!best || t.total() < best->total()) best = t;
    }
    return best;
}

// "0.123 s (45 % system)"
std::string shown(const Cpu& t) {
    char b[64];
    std::snprintf(b, sizeof b, "%.3f s (%.0f %% system)", t.total(),
                  t.total() > 0 ? 100 * t.system / t.total() : 0.0);
    return b;
}

// The figures of one square, a pixel: the slowest engine pixel met and what warped and
// stretched pixels took beyond their native pictures (the most of both systems).
struct Square {
    double engine = 0;
    double warped = 0;
    double stretched = 0;
};

// The time of the native picture of `plan` alone: the engine's own view of its window.
std::optional<Cpu> native_time(kmaps::DataSet& data, const kmaps::MapPlan& plan, int rounds) {
    const kmaps::Box window{static_cast<double>(plan.left), plan.top - plan.scale * plan.height,
                            plan.left + plan.scale * plan.width, static_cast<double>(plan.top)};
    return time_map(data, data.native(), window, plan.width, plan.height, rounds);
}

// Draws the maps of the square `box` of the grid at side x side and prints their figures.
std::optional<Square> measure(kmaps::DataSet& data, const kmaps::Box& box, int side, int rounds) {
    Square q;
    const double pixels = double{1} * side * side;
    const auto grid = time_map(data, data.native(), box, side, side, rounds);
    if (!grid) return std::nullopt;
    // Below 1 m a pixel the map in the grid is itself stretched: no engine pixel alone.
    std::string error;
    const auto own = kmaps::plan_map(data, data.native(), box, side, side, 1, error);
    const bool view = own && own->kind == kmaps::MapPlan::Kind::view;
    if (view) q.engine = grid->total() / pixels;
    std::printf("%.0f,%.0f,%.0f,%.0f, %.2f m a pixel: grid %s, %.1f ns a pixel%s\n", box.minx,
                box.miny, box.maxx, box.maxy, (box.maxx - box.minx) / side, shown(*grid).c_str(),
                grid->total() / pixels * 1e9, view ? "" : " (stretched)");
    // A map of another system and of unequal scales, each against its native picture.
    auto against_native = [&](const char* what, const kmaps::Crs& crs, const kmaps::Box& b,
                              double& beyond) {
        const auto plan = kmaps::plan_map(data, crs, b, side, side, 1, error);
        if (!plan || plan->kind == kmaps::MapPlan::Kind::view) {
            std::fprintf(stderr, "bench_web_map_cost: %s: no native picture: %s\n", what,
                         error.c_str());
            return false;
        }
        const auto map = time_map(data, crs, b, side, side, rounds);
        const auto native = native_time(data, *plan, rounds);
        if (!map || !native) return false;
        const double native_pixels = double{1} * plan->width * plan->height;
        q.engine = std::max(q.engine, native->total() / native_pixels);
        beyond = std::max(beyond, (map->total() - native->total()) / pixels);
        std::printf(
            "  %-9s %s, %.2f x the grid; its native picture %d x %d %s; %.1f ns a pixel "
            "beyond it; cost %.1f million\n",
            what, shown(*map).c_str(), map->total() / grid->total(), plan->width, plan->height,
            shown(*native).c_str(), (map->total() - native->total()) / pixels * 1e9,
            kmaps::map_cost(data, crs, b, side, side) / 1e6);
        return true;
    };
    for (const char* name : {"EPSG:3857", "CRS:84"}) {
        const auto crs = data.system(name);
        const auto there = kmaps::transform_box(data.native(), *crs, box);
        if (!there || !against_native(name, *crs, *there, q.warped)) return std::nullopt;
    }
    const double cy = (box.miny + box.maxy) / 2, h = box.maxy - box.miny;
    if (!against_native("stretched", data.native(), {box.minx, cy - h, box.maxx, cy + h},
                        q.stretched))
        return std::nullopt;
    return q;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : KESTREL_SAMPLE_DIR;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const int side = argc > 3 ? std::clamp(std::atoi(argv[3]), 16, kmaps::kMaxSide) : 4096;
    // The allocator settings of kserve's workers (server.cpp), so that the figures are theirs.
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    kmaps::DataSet data;
    std::string error;
    if (!data.open(dir, kmaps::kDefaultGrid, error)) {
        std::fprintf(stderr, "bench_web_map_cost: %s\n", error.c_str());
        return 1;
    }
    const kmaps::Box& e = data.extent();
    const double half = std::min(e.maxx - e.minx, e.maxy - e.miny) / 2;
    const double cx = (e.minx + e.maxx) / 2, cy = (e.miny + e.maxy) / 2;
    std::printf("data set %s, %d x %d maps, CPU time of the fastest of %d rounds\n", dir.c_str(),
                side, side, rounds);
    Square worst;
    for (const double part : {1.0, 0.5, 0.25, 0.125}) {
        const auto q =
            measure(data, {cx - half * part, cy - half * part, cx + half * part, cy + half * part},
                    side, rounds);
        if (!q) return 1;
        worst = {std::max(worst.engine, q->engine), std::max(worst.warped, q->warped),
                 std::max(worst.stretched, q->stretched)};
    }
    std::printf(
        "slowest engine pixel %.1f ns; beyond its native picture a warped pixel took at "
        "most %.1f ns = %.2f engine pixels (kWarpFactor %g), a stretched pixel %.1f ns = "
        "%.2f (kStretchFactor %g)\n",
        worst.engine * 1e9, worst.warped * 1e9, worst.warped / worst.engine, kmaps::kWarpFactor,
        worst.stretched * 1e9, worst.stretched / worst.engine, kmaps::kStretchFactor);
    return 0;
}
