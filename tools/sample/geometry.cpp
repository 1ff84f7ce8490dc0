// geometry.cpp: the plane geometry of the sample generator (see geometry.h).
#include "geometry.h"

#include <algorithm>
#include <cmath>
#include <tuple>

#include "data/limits.h"

namespace ksample {
namespace {

// Bisection steps when locating where a line leaves the kept region: 2^-14 of a sample step.
constexpr int kBisectSteps = 14;
// Grid cell used to find candidate crossings while noding, metres.
constexpr int32_t kNodeCell = 256;

double cross(P a, P b) {
    return a.x * b.y - a.y * b.x;
}

IPoint round_point(P p) {
    return {static_cast<int32_t>(std::lround(p.x)), static_cast<int32_t>(std::lround(p.y))};
}

P to_p(IPoint p) {
    return {static_cast<double>(p.x), static_cast<double>(p.y)};
}

// Floor division for possibly negative numerators.
int32_t floor_div(int32_t a, int32_t b) {
    int32_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
    return q;
}

}  // namespace

double dist(P a, P b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

double length(const Poly& line) {
    double sum = 0;
    for (size_t i = 1; i < line.size(); ++i) sum += dist(line[i - 1], line[i]);
    return sum;
}

Poly resample(const Poly& line, double step) {
    Poly out;
    if (line.empty()) return out;
    out.push_back(line.front());
    for (size_t i = 1; i < line.size(); ++i) {
        const double len = dist(line[i - 1], line[i]);
        const int n = std::max(1, static_cast<int>(std::ceil(len / step)));
        for (int k = 1; k <= n; ++k)
            out.push_back(line[i - 1] + (line[i] - line[i - 1]) * (double(k) / n));
    }
    return out;
}

Poly spline(const Poly& controls, double step) {
    if (controls.size() < 3) return resample(controls, step);
    Poly out{controls.front()};
    for (size_t i = 0; i + 1 < controls.size(); ++i) {
        const P p0 = controls[i == 0 ? 0 : i - 1], p1 = controls[i], p2 = controls[i + 1];
        const P p3 = controls[std::min(i + 2, controls.size() - 1)];
        const int n = std::max(1, static_cast<int>(std::ceil(dist(p1, p2) / step)));
        for (int k = 1; k <= n; ++k) {
            const double t = double(k) / n, t2 = t * t, t3 = t2 * t;
            const P q = (p1 * 2.0 + (p2 - p0) * t + (p0 * 2.0 - p1 * 5.0 + p2 * 4.0 - p3) * t2 +
                         (p1 * 3.0 - p0 - p2 * 3.0 + p3) * t3) *
                        0.5;
            out.push_back(q);
        }
    }
    return out;
}

Poly chaikin(const Poly& line, int rounds) {
    Poly cur = line;
    for (int r = 0; r < rounds && cur.size() > 2; ++r) {
        Poly next{cur.front()};
        for (size_t i = 0; i + 1 < cur.size(); ++i) {
            next.push_back(cur[i] * 0.75 + cur[i + 1] * 0.25);
            next.push_back(cur[i] * 0.25 + cur[i + 1] * 0.75);
        }
        next.push_back(cur.back());
        cur = std::move(next);
    }
    return cur;
}

Poly offset_line(const Poly& line, double offset) {
    Poly out;
    const size_t n = line.size();
    for (size_t i = 0; i < n; ++i) {
        P nsum{0, 0};
        for (size_t j : {i == 0 ? i : i - 1, i}) {
            if (j + 1 >= n) continue;
            const P d = line[j + 1] - line[j];
            const double len = std::hypot(d.x, d.y);
            if (len > 0) nsum = nsum + P{-d.y / len, d.x / len};
        }
        const double nl = std::hypot(nsum.x, nsum.y);
        if (nl == 0) {
            out.push_back(line[i]);
            continue;
        }
        // Scale the averaged normal so the offset holds across a bend, within a miter limit.
        P unit = nsum * (1.0 / nl);
        double cosHalf = nl / ((i == 0 || i == n - 1) ? 1.0 : 2.0);
        cosHalf = std::max(cosHalf, 0.5);
        out.push_back(line[i] + unit * (offset / cosHalf));
    }
    return out;
}

bool inside(const Poly& polygon, P p) {
    bool in = false;
    for (size_t i = 0, j = polygon.size() - 1; i < polygon.size(); j = i++) {
        const P a = polygon[i], b = polygon[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
            in = !in;
    }
    return in;
}

double distance_to(const Poly& line, P p) {
    double best = line.empty() ? 1e18 : dist(line.front(), p);
    for (size_t i = 1; i < line.size(); ++i) {
        const P a = line[i - 1], d = line[i] - a;
        const double len2 = d.x * d.x + d.y * d.y;
        double t = len2 > 0 ? ((p.x - a.x) * d.x + (p.y - a.y) * d.y) / len2 : 0;
        t = std::clamp(t, 0.0, 1.0);
        best = std::min(best, dist(a + d * t, p));
    }
    return best;
}

IPoly simplify(const IPoly& line, double tolerance) {
    if (line.size() < 3) return line;
    std::vector<char> keep(line.size(), 0);
    keep.front() = keep.back() = 1;
    std::vector<std::pair<size_t, size_t>> stack{{0, line.size() - 1}};
    while (!stack.empty()) {
        auto [a, b] = stack.back();
        stack.pop_back();
        const Poly seg{to_p(line[a]), to_p(line[b])};
        double worst = 0;
        size_t at = a;
        for (size_t i = a + 1; i < b; ++i) {
            const double d = distance_to(seg, to_p(line[i]));
            if (d > worst) worst = d, at = i;
        }
        if (worst > tolerance) {
            keep[at] = 1;
            stack.push_back({a, at});
            stack.push_back({at, b});
        }
    }
    IPoly out;
    for (size_t i = 0; i < line.size(); ++i)
        if (keep[i]) out.push_back(line[i]);
    return out;
}

IPoly round_line(const Poly& line) {
    IPoly out;
    for (const P& p : line) {
        const IPoint q = round_point(p);
        if (out.empty() || !(out.back() == q)) out.push_back(q);
    }
    return out;
}

std::vector<Poly> keep_runs(const Poly& line, const std::function<bool(P)>& keep,
                            double min_length) {
    std::vector<Poly> runs;
    Poly cur;
    auto edge = [&](P in, P out) {  // the last kept point between a kept and a dropped one
        for (int k = 0; k < kBisectSteps; ++k) {
            const P mid = (in + out) * 0.5;
            (keep(mid) ? in : out) = mid;
        }
        return in;
    };
    auto flush = [&] {
        if (cur.size() >= 2 && length(cur) >= min_length) runs.push_back(cur);
        cur.clear();
    };
    for (size_t i = 0; i < line.size(); ++i) {
        const bool k = keep(line[i]);
        if (k) {
            if (cur.empty() && i > 0) cur.push_back(edge(line[i], line[i - 1]));
            cur.push_back(line[i]);
        } else if (!cur.empty()) {
            cur.push_back(edge(line[i - 1], line[i]));
            flush();
        }
    }
    flush();
    return runs;
}

Noded node_lines(const std::vector<IPoly>& lines,
                 const std::function<bool(size_t, size_t)>& may_join) {
    struct Seg {
        uint32_t line, index;
    };
    struct Hit {
        uint32_t index;
        double t;
        IPoint q;
    };
    std::vector<Seg> segs;
    for (uint32_t l = 0; l < lines.size(); ++l)
        for (uint32_t i = 0; i + 1 < lines[l].size(); ++i) segs.push_back({l, i});

    // Bucket the segments by grid cell: (cell key, segment id) pairs, sorted.
    std::vector<std::pair<int64_t, uint32_t>> buckets;
    for (uint32_t s = 0; s < segs.size(); ++s) {
        const IPoint a = lines[segs[s].line][segs[s].index],
                     b = lines[segs[s].line][segs[s].index + 1];
        const int32_t cx0 = floor_div(std::min(a.x, b.x), kNodeCell),
                      cx1 = floor_div(std::max(a.x, b.x), kNodeCell);
        const int32_t cy0 = floor_div(std::min(a.y, b.y), kNodeCell),
                      cy1 = floor_div(std::max(a.y, b.y), kNodeCell);
        for (int32_t cy = cy0; cy <= cy1; ++cy)
            for (int32_t cx = cx0; cx <= cx1; ++cx)
                buckets.push_back(
                    {(static_cast<int64_t>(cy) << 32) + static_cast<uint32_t>(cx), s});
    }
    std::sort(buckets.begin(), buckets.end());

    std::vector<std::vector<Hit>> hits(lines.size());
    for (size_t lo = 0; lo < buckets.size();) {
        size_t hi = lo;
        while (hi < buckets.size() && buckets[hi].first == buckets[lo].first) ++hi;
        for (size_t i = lo; i < hi; ++i) {
            for (size_t j = i + 1; j < hi; ++j) {
                const Seg sa = segs[buckets[i].second], sb = segs[buckets[j].second];
                if (sa.line == sb.line || !may_join(sa.line, sb.line)) continue;
                const P a = to_p(lines[sa.line][sa.index]), b = to_p(lines[sa.line][sa.index + 1]);
                const P c = to_p(lines[sb.line][sb.index]), d = to_p(lines[sb.line][sb.index + 1]);
                const P r = b - a, s = d - c;
                const double den = cross(r, s);
                const double lr = std::hypot(r.x, r.y), ls = std::hypot(s.x, s.y);
                if (std::fabs(den) < 1e-6 * lr * ls) continue;  // parallel: no single crossing
                const double t = cross(c - a, s) / den, u = cross(c - a, r) / den;
                const double et = 0.5 / lr, eu = 0.5 / ls;
                if (t < -et || t > 1 + et || u < -eu || u > 1 + eu) continue;
                const IPoint q = round_point(a + r * std::clamp(t, 0.0, 1.0));
                hits[sa.line].push_back({sa.index, t, q});
                hits[sb.line].push_back({sb.index, u, q});
            }
        }
        lo = hi;
    }

    Noded out;
    out.lines.resize(lines.size());
    for (size_t l = 0; l < lines.size(); ++l) {
        auto& h = hits[l];
        std::sort(h.begin(), h.end(), [](const Hit& x, const Hit& y) {
            return std::tie(x.index, x.t, x.q.x, x.q.y) < std::tie(y.index, y.t, y.q.x, y.q.y);
        });
        IPoly& res = out.lines[l];
        size_t k = 0;
        for (size_t i = 0; i < lines[l].size(); ++i) {
            if (res.empty() || !(res.back() == lines[l][i])) res.push_back(lines[l][i]);
            for (; k < h.size() && h[k].index == i; ++k)
                if (!(res.back() == h[k].q) &&
                    !(i + 1 < lines[l].size() && lines[l][i + 1] == h[k].q))
                    res.push_back(h[k].q);
        }
    }
    return out;
}

std::vector<std::vector<int>> vertex_degrees(const std::vector<IPoly>& lines) {
    std::vector<std::tuple<int32_t, int32_t, uint32_t>> all;
    for (uint32_t l = 0; l < lines.size(); ++l)
        for (const IPoint& p : lines[l]) all.emplace_back(p.x, p.y, l);
    std::sort(all.begin(), all.end());
    all.erase(std::unique(all.begin(), all.end()), all.end());
    std::vector<std::vector<int>> deg(lines.size());
    for (uint32_t l = 0; l < lines.size(); ++l) {
        for (const IPoint& p : lines[l]) {
            auto lo = std::lower_bound(all.begin(), all.end(), std::make_tuple(p.x, p.y, 0u));
            auto hi =
                std::upper_bound(all.begin(), all.end(), std::make_tuple(p.x, p.y, UINT32_MAX));
            deg[l].push_back(static_cast<int>(hi - lo));
        }
    }
    return deg;
}

int32_t cell_of(double x, double y, int32_t cell) {
    const auto col = static_cast<int32_t>(std::floor(x / cell));
    const auto row = static_cast<int32_t>(std::floor(y / cell));
    return kestrel::data::tile_number(row, col);
}

std::vector<CellPiece> cut_at_cells(const IPoly& line, int32_t cell) {
    // First insert a vertex wherever a segment crosses a border line strictly inside it.
    IPoly pts;
    for (size_t i = 0; i < line.size(); ++i) {
        if (i > 0) {
            const IPoint a = line[i - 1], b = line[i];
            std::vector<std::pair<double, IPoint>> cuts;
            const int32_t xlo = std::min(a.x, b.x), xhi = std::max(a.x, b.x);
            for (int32_t k = floor_div(xlo, cell) + 1; k * cell < xhi; ++k) {
                const double t = double(k * cell - a.x) / (b.x - a.x);
                cuts.push_back(
                    {t, {k * cell, static_cast<int32_t>(std::lround(a.y + t * (b.y - a.y)))}});
            }
            const int32_t ylo = std::min(a.y, b.y), yhi = std::max(a.y, b.y);
            for (int32_t k = floor_div(ylo, cell) + 1; k * cell < yhi; ++k) {
                const double t = double(k * cell - a.y) / (b.y - a.y);
                cuts.push_back(
                    {t, {static_cast<int32_t>(std::lround(a.x + t * (b.x - a.x))), k * cell}});
            }
            std::sort(cuts.begin(), cuts.end(), [](const auto& u, const auto& v) {
                return std::tie(u.first, u.second.x, u.second.y) <
                       std::tie(v.first, v.second.x, v.second.y);
            });
            for (const auto& c : cuts)
                if (!(pts.back() == c.second)) pts.push_back(c.second);
        }
        if (pts.empty() || !(pts.back() == line[i])) pts.push_back(line[i]);
    }
    // Then split where the cell of a segment's midpoint changes.
    std::vector<CellPiece> pieces;
    for (size_t i = 1; i < pts.size(); ++i) {
        const int32_t c =
            cell_of((pts[i - 1].x + pts[i].x) / 2.0, (pts[i - 1].y + pts[i].y) / 2.0, cell);
        if (pieces.empty() || pieces.back().cell != c) pieces.push_back({c, {pts[i - 1]}});
        pieces.back().points.push_back(pts[i]);
    }
    // Rounding near a corner can leave a point a metre outside its cell: pull it back in.
    for (CellPiece& piece : pieces) {
        const int32_t x0 = kestrel::data::tile_column(piece.cell) * cell;
        const int32_t y0 = kestrel::data::tile_row(piece.cell) * cell;
        for (IPoint& p : piece.points) {
            p.x = std::clamp(p.x, x0, x0 + cell);
            p.y = std::clamp(p.y, y0, y0 + cell);
        }
    }
    return pieces;
}

Poly clip_polygon(const Poly& polygon, double x0, double y0, double x1, double y1) {
    Poly cur = polygon;
    // One pass per rectangle edge: keep(p) says whether p is on the inner side, cut(a, b)
    // gives the crossing of segment ab with the edge.
    auto pass = [&](auto keep, auto cut) {
        Poly next;
        for (size_t i = 0; i < cur.size(); ++i) {
            const P a = cur[(i + cur.size() - 1) % cur.size()], b = cur[i];
            if (keep(b)) {
                if (!keep(a)) next.push_back(cut(a, b));
                next.push_back(b);
            } else if (keep(a)) {
                next.push_back(cut(a, b));
            }
        }
        cur = std::move(next);
    };
    auto atx = [](P a, P b, double x) { return P{x, a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x)}; };
    auto aty = [](P a, P b, double y) { return P{a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y), y}; };
    pass([&](P p) { return p.x >= x0; }, [&](P a, P b) { return atx(a, b, x0); });
    if (cur.empty()) return cur;
    pass([&](P p) { return p.x <= x1; }, [&](P a, P b) { return atx(a, b, x1); });
    if (cur.empty()) return cur;
    pass([&](P p) { return p.y >= y0; }, [&](P a, P b) { return aty(a, b, y0); });
    if (cur.empty()) return cur;
    pass([&](P p) { return p.y <= y1; }, [&](P a, P b) { return aty(a, b, y1); });
    return cur;
}

}  // namespace ksample
