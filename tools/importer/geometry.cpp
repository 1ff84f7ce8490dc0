// geometry.cpp: tile cutting, ring clipping, delta-step densifying, splitting and
// simplification of lines in integer world metres.
#include "geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kimport {
namespace {

// floor(a / b) for b > 0.
int64_t floor_div(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && a < 0) ? q - 1 : q;
}

int32_t round_to_metre(double v) {
    return static_cast<int32_t>(std::floor(v + 0.5));
}

// A parameter along a segment and the point there, exact on a border when it is a crossing.
struct Cut {
    double t;
    WorldPoint p;
};

// Distance of p from the segment a-b.
double segment_distance(const WorldPoint& p, const WorldPoint& a, const WorldPoint& b) {
    double dx = double(b.x) - a.x, dy = double(b.y) - a.y;
    double px = double(p.x) - a.x, py = double(p.y) - a.y;
    double len2 = dx * dx + dy * dy;
    double t = len2 > 0 ? std::clamp((px * dx + py * dy) / len2, 0.0, 1.0) : 0.0;
    double ex = px - t * dx, ey = py - t * dy;
    return std::sqrt(ex * ex + ey * ey);
}

}  // namespace

int32_t tile_of(double x, double y) {
    double col = std::floor(x / kTileSize);
    double row = std::floor(y / kTileSize);
    if (col < 0 || col >= kTileColumns || row < 0 || row > kMaxTileRow) return -1;
    return static_cast<int32_t>(row) * kTileColumns + static_cast<int32_t>(col);
}

std::vector<TilePiece> cut_at_tiles(const Polyline& line) {
    std::vector<TilePiece> pieces;
    TilePiece current;
    bool open = false;
    auto flush = [&] {
        if (open && current.points.size() >= 2) pieces.push_back(std::move(current));
        current = TilePiece{};
        open = false;
    };
    std::vector<Cut> cuts;
    for (std::size_t i = 0; i + 1 < line.size(); ++i) {
        const WorldPoint a = line[i], b = line[i + 1];
        if (same_point(a, b)) continue;
        cuts.clear();
        cuts.push_back({0.0, a});
        cuts.push_back({1.0, b});
        // Borders x = k * size strictly between a.x and b.x, and likewise for y.
        for (int axis = 0; axis < 2; ++axis) {
            int64_t from = axis == 0 ? a.x : a.y, to = axis == 0 ? b.x : b.y;
            if (from == to) continue;
            int64_t lo = std::min(from, to), hi = std::max(from, to);
            for (int64_t k = floor_div(lo, kTileSize) + 1; k * kTileSize < hi; ++k) {
                int64_t border = k * kTileSize;
                double t = double(border - from) / double(to - from);
                WorldPoint p;
                if (axis == 0) {
                    p.x = static_cast<int32_t>(border);
                    p.y = round_to_metre(a.y + (double(b.y) - a.y) * t);
                } else {
                    p.y = static_cast<int32_t>(border);
                    p.x = round_to_metre(a.x + (double(b.x) - a.x) * t);
                }
                cuts.push_back({t, p});
            }
        }
        std::sort(cuts.begin(), cuts.end(), [](const Cut& l, const Cut& r) { return l.t < r.t; });
        for (std::size_t k = 0; k + 1 < cuts.size(); ++k) {
            const Cut& c0 = cuts[k];
            const Cut& c1 = cuts[k + 1];
            if (same_point(c0.p, c1.p)) continue;
            double tm = (c0.t + c1.t) / 2;
            int32_t tile = tile_of(a.x + (double(b.x) - a.x) * tm, a.y + (double(b.y) - a.y) * tm);
            if (!open || tile != current.tile) {
                flush();
                current.tile = tile;
                current.points.push_back(c0.p);
                open = true;
            } else if (!same_point(current.points.back(), c0.p)) {
                current.points.push_back(c0.p);
            }
            current.points.push_back(c1.p);
        }
    }
    flush();
    return pieces;
}

Polyline clip_ring_to_tile(const Polyline& ring, int32_t tile) {
    const int32_t x0 = (tile % kTileColumns) * kTileSize, y0 = (tile / kTileColumns) * kTileSize;
    const int32_t x1 = x0 + kTileSize, y1 = y0 + kTileSize;
    Polyline in = ring, out;
    // One pass of Sutherland-Hodgman per border: keep the inside, add crossings on the border.
    for (int edge = 0; edge < 4 && !in.empty(); ++edge) {
        auto inside = [&](const WorldPoint& p) {
            switch (edge) {
                case 0:
                    return p.x >= x0;
                case 1:
                    return p.x <= x1;
                case 2:
                    return p.y >= y0;
                default:
                    return p.y <= y1;
            }
        };
        auto cross = [&](const WorldPoint& a, const WorldPoint& b) {
            WorldPoint p;
            if (edge < 2) {
                int32_t bx = edge == 0 ? x0 : x1;
                double t = double(bx - a.x) / (double(b.x) - a.x);
                p = {bx, round_to_metre(a.y + (double(b.y) - a.y) * t)};
            } else {
                int32_t by = edge == 2 ? y0 : y1;
                double t = double(by - a.y) / (double(b.y) - a.y);
                p = {round_to_metre(a.x + (double(b.x) - a.x) * t), by};
            }
            return p;
        };
        out.clear();
        for (std::size_t i = 0; i < in.size(); ++i) {
            const WorldPoint& cur = in[i];
            const WorldPoint& prev = in[(i + in.size() - 1) % in.size()];
            bool cin = inside(cur), pin = inside(prev);
            if (cin) {
                if (!pin) out.push_back(cross(prev, cur));
                out.push_back(cur);
            } else if (pin) {
                out.push_back(cross(prev, cur));
            }
        }
        drop_repeats(&out);
        while (out.size() > 1 && same_point(out.front(), out.back())) out.pop_back();
        in.swap(out);
    }
    if (in.size() < 3) in.clear();
    return in;
}

int densify(Polyline* line) {
    if (line->size() < 2) return 0;
    Polyline out;
    out.reserve(line->size());
    out.push_back((*line)[0]);
    int inserted = 0;
    for (std::size_t i = 1; i < line->size(); ++i) {
        const WorldPoint a = (*line)[i - 1], b = (*line)[i];
        int64_t dx = int64_t(b.x) - a.x, dy = int64_t(b.y) - a.y;
        int64_t step = std::max(std::llabs(dx), std::llabs(dy));
        int64_t n = (step + kMaxDeltaStep - 1) / kMaxDeltaStep;  // parts of at most 127
        // Point k of n is a + round(d * k / n); rounding with floor((2dk + n) / 2n) makes
        // every step floor or ceil of |d| / n, so none exceeds 127.
        for (int64_t k = 1; k < n; ++k) {
            out.push_back({static_cast<int32_t>(a.x + floor_div(2 * dx * k + n, 2 * n)),
                           static_cast<int32_t>(a.y + floor_div(2 * dy * k + n, 2 * n))});
            ++inserted;
        }
        out.push_back(b);
    }
    line->swap(out);
    return inserted;
}

std::vector<Polyline> split_by_vertices(const Polyline& line, int max_vertices) {
    std::vector<Polyline> parts;
    if (max_vertices < 2) return parts;
    if (static_cast<int>(line.size()) <= max_vertices) {
        parts.push_back(line);
        return parts;
    }
    std::size_t start = 0;
    while (start + 1 < line.size()) {
        std::size_t end = std::min(line.size(), start + max_vertices);
        parts.emplace_back(line.begin() + start, line.begin() + end);
        start = end - 1;
    }
    return parts;
}

void drop_repeats(Polyline* line) {
    line->erase(std::unique(line->begin(), line->end(), same_point), line->end());
}

double line_length(const Polyline& line) {
    double sum = 0;
    for (std::size_t i = 1; i < line.size(); ++i) {
        sum += std::hypot(double(line[i].x) - line[i - 1].x, double(line[i].y) - line[i - 1].y);
    }
    return sum;
}

void point_halfway(const Polyline& line, double* x, double* y) {
    *x = line.empty() ? 0 : line[0].x;
    *y = line.empty() ? 0 : line[0].y;
    double half = line_length(line) / 2, run = 0;
    for (std::size_t i = 1; i < line.size(); ++i) {
        double dx = double(line[i].x) - line[i - 1].x, dy = double(line[i].y) - line[i - 1].y;
        double len = std::hypot(dx, dy);
        if (len > 0 && run + len >= half) {
            double t = (half - run) / len;
            *x = line[i - 1].x + dx * t;
            *y = line[i - 1].y + dy * t;
            return;
        }
        run += len;
    }
}

Polyline simplify(const Polyline& line, double tolerance) {
    if (line.size() <= 2) return line;
    std::vector<char> keep(line.size(), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<std::size_t, std::size_t>> stack{{0, line.size() - 1}};
    while (!stack.empty()) {
        auto [lo, hi] = stack.back();
        stack.pop_back();
        double worst = -1;
        std::size_t at = lo;
        for (std::size_t i = lo + 1; i < hi; ++i) {
            double d = segment_distance(line[i], line[lo], line[hi]);
            if (d > worst) {
                worst = d;
                at = i;
            }
        }
        if (worst > tolerance) {
            keep[at] = 1;
            stack.push_back({lo, at});
            stack.push_back({at, hi});
        }
    }
    Polyline out;
    for (std::size_t i = 0; i < line.size(); ++i) {
        if (keep[i]) out.push_back(line[i]);
    }
    return out;
}

bool ring_contains(const std::vector<double>& r, double x, double y) {
    bool in = false;
    std::size_t n = r.size() / 2;
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        double xi = r[2 * i], yi = r[2 * i + 1], xj = r[2 * j], yj = r[2 * j + 1];
        if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi) in = !in;
    }
    return in;
}

}  // namespace kimport
