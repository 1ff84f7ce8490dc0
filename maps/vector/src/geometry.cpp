// geometry.cpp: cutting, rounding, simplifying and checking the geometry of a vector tile.
#include "geometry.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace kmaps::vector::geometry {

namespace {

// One step of the Liang-Barsky clipper: the edge p * t <= q narrows [t0, t1]; false when the
// segment misses it.
bool narrow(double p, double q, double& t0, double& t1) {
    if (p == 0) return q >= 0;
    const double t = q / p;
    if (p < 0) {
        if (t > t1) return false;
        if (t > t0) t0 = t;
    } else {
        if (t < t0) return false;
        if (t < t1) t1 = t;
    }
    return true;
}

// The part [t0, t1] of the segment a-b inside `r`; false when it misses the rectangle. The end
// points are pinned into the rectangle, so that cuts lie exactly on its edges.
bool clip_segment(const Point& a, const Point& b, const Rect& r, Point& p0, Point& p1, double& t0,
                  double& t1) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    t0 = 0;
    t1 = 1;
    if (!narrow(-dx, a.x - r.x0, t0, t1) || !narrow(dx, r.x1 - a.x, t0, t1) ||
        !narrow(-dy, a.y - r.y0, t0, t1) || !narrow(dy, r.y1 - a.y, t0, t1))
        return false;
    auto at = [&](double t) {
        if (t == 0) return a;
        if (t == 1) return b;
        return Point{std::clamp(a.x + t * dx, r.x0, r.x1), std::clamp(a.y + t * dy, r.y0, r.y1)};
    };
    p0 = at(t0);
    p1 = at(t1);
    return true;
}

bool inside(const Point& p, const Rect& r) {
    return p.x >= r.x0 && p.x <= r.x1 && p.y >= r.y0 && p.y <= r.y1;
}

// The place of a point of the rectangle's edge along its boundary, 0 to 4, in the direction that
// keeps the rectangle on the left of a ring of positive area: (x0, y0) 0, (x1, y0) 1,
// (x1, y1) 2, (x0, y1) 3. The nearest edge is taken for a point not exactly on one.
double boundary_place(const Point& p, const Rect& r) {
    const double w = r.x1 - r.x0, h = r.y1 - r.y0;
    const double d[4] = {std::fabs(p.y - r.y0), std::fabs(p.x - r.x1), std::fabs(p.y - r.y1),
                         std::fabs(p.x - r.x0)};
    const int edge = static_cast<int>(std::min_element(d, d + 4) - d);
    double s = 0;
    switch (edge) {
        case 0:
            s = (p.x - r.x0) / w;
            break;
        case 1:
            s = 1 + (p.y - r.y0) / h;
            break;
        case 2:
            s = 2 + (r.x1 - p.x) / w;
            break;
        default:
            s = 3 + (r.y1 - p.y) / h;
            break;
    }
    s = std::clamp(s, 0.0, 4.0);
    return s >= 4 ? 0 : s;
}

Point corner(int k, const Rect& r) {
    switch (k & 3) {
        case 0:
            return {r.x0, r.y0};
        case 1:
            return {r.x1, r.y0};
        case 2:
            return {r.x1, r.y1};
        default:
            return {r.x0, r.y1};
    }
}

// A piece of a ring inside the rectangle: it enters on the boundary at `in` and leaves at
// `out` (boundary places).
struct Chain {
    std::uint32_t first, count;  // its points in the chains' point array
    double in, out;
};

// Cuts one ring of at least 3 points into the chains it has inside the rectangle; the ring must
// have a point outside it. Appends to `chains` and their points to `points`.
void ring_chains(std::span<const Point> ring, const Rect& r, std::vector<Chain>& chains,
                 std::vector<Point>& points) {
    const std::size_t n = ring.size();
    std::size_t start = 0;
    while (inside(ring[start], r)) ++start;
    bool open = false;
    Chain c{};
    auto finish = [&](const Point& exit) {
        c.count = static_cast<std::uint32_t>(points.size()) - c.first;
        c.out = boundary_place(exit, r);
        // A chain that only touches the rectangle at one point adds nothing.
        bool one_point = true;
        for (std::uint32_t k = c.first + 1; k < c.first + c.count && one_point; ++k)
            one_point = points[k].x == points[c.first].x && points[k].y == points[c.first].y;
        if (one_point)
            points.resize(c.first);
        else
            chains.push_back(c);
        open = false;
    };
    for (std::size_t k = 0; k < n; ++k) {
        const Point& a = ring[(start + k) % n];
        const Point& b = ring[(start + k + 1) % n];
        Point p0, p1;
        double t0, t1;
        if (!clip_segment(a, b, r, p0, p1, t0, t1)) continue;
        if (!open) {
            c = Chain{static_cast<std::uint32_t>(points.size()), 0, boundary_place(p0, r), 0};
            points.push_back(p0);
            open = true;
        }
        points.push_back(p1);
        if (t1 < 1) finish(p1);
    }
    // The walk starts and ends at a point outside, so every chain has left again; a chain left
    // open by rounding in the cut is closed where it stopped.
    if (open) finish(points.back());
}

// Even-odd containment of a point in an open ring of real coordinates.
bool point_in_real_ring(const Point& p, std::span<const Point> ring) {
    bool in = false;
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const Point& a = ring[i];
        const Point& b = ring[j];
        if ((a.y > p.y) != (b.y > p.y) && p.x < (b.x - a.x) * (p.y - a.y) / (b.y - a.y) + a.x)
            in = !in;
    }
    return in;
}

// Joins the chains into closed rings along the rectangle's boundary: from where a chain leaves,
// the boundary is followed (with its corners) to the next place where a chain enters.
void stitch(const std::vector<Chain>& chains, const std::vector<Point>& points, const Rect& r,
            Parts<Point>& out) {
    std::vector<std::pair<double, std::uint32_t>> entries;
    entries.reserve(chains.size());
    for (std::uint32_t i = 0; i < chains.size(); ++i) entries.emplace_back(chains[i].in, i);
    std::sort(entries.begin(), entries.end());
    std::vector<char> used(chains.size(), 0);
    for (std::uint32_t first = 0; first < chains.size(); ++first) {
        if (used[first]) continue;
        std::uint32_t cur = first;
        for (;;) {
            used[cur] = 1;
            const Chain& c = chains[cur];
            out.points.insert(out.points.end(), points.begin() + c.first,
                              points.begin() + c.first + c.count);
            // The first entry at or after the place where this chain leaves, round the boundary.
            auto next = std::lower_bound(entries.begin(), entries.end(),
                                         std::make_pair(c.out, std::uint32_t{0}));
            if (next == entries.end()) next = entries.begin();
            const double in = next->first;
            const double end = in >= c.out ? in : in + 4;
            for (double k = std::floor(c.out) + 1; k < end; ++k)
                out.points.push_back(corner(static_cast<int>(k), r));
            cur = next->second;
            if (cur == first || used[cur]) break;  // closed (or a ring that crosses another)
        }
        out.close_part();
    }
}

}  // namespace

void clip_line(std::span<const Point> line, const Rect& r, Parts<Point>& out) {
    if (out.starts.empty()) out.starts.push_back(static_cast<std::uint32_t>(out.points.size()));
    bool open = false;
    auto close = [&]() {
        if (out.points.size() - out.starts.back() >= 2)
            out.close_part();
        else
            out.drop_open();
        open = false;
    };
    for (std::size_t i = 1; i < line.size(); ++i) {
        Point p0, p1;
        double t0, t1;
        if (!clip_segment(line[i - 1], line[i], r, p0, p1, t0, t1)) {
            if (open) close();
            continue;
        }
        if (open && t0 > 0) close();
        if (!open) {
            out.points.push_back(p0);
            open = true;
        }
        out.points.push_back(p1);
        if (t1 < 1) close();
    }
    if (open) close();
}

double ring_area2(std::span<const Point> ring) {
    double a = 0;
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++)
        a += ring[j].x * ring[i].y - ring[i].x * ring[j].y;
    return a;
}

std::int64_t ring_area2(std::span<const IPoint> ring) {
    std::int64_t a = 0;
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++)
        a += std::int64_t{ring[j].x} * ring[i].y - std::int64_t{ring[i].x} * ring[j].y;
    return a;
}

void clip_polygon(const Parts<Point>& rings, const Rect& r, Parts<Point>& out) {
    if (out.starts.empty()) out.starts.push_back(static_cast<std::uint32_t>(out.points.size()));
    std::vector<Chain> chains;
    std::vector<Point> points;
    std::vector<std::size_t> outside;  // rings that never enter the rectangle
    for (std::size_t i = 0; i < rings.size(); ++i) {
        const auto ring = rings.part(i);
        if (ring.size() < 3) continue;
        if (std::all_of(ring.begin(), ring.end(), [&](const Point& p) { return inside(p, r); })) {
            out.points.insert(out.points.end(), ring.begin(), ring.end());
            out.close_part();
            continue;
        }
        const std::size_t before = chains.size();
        ring_chains(ring, r, chains, points);
        if (chains.size() == before) outside.push_back(i);
    }
    if (!chains.empty()) {
        stitch(chains, points, r, out);
        return;
    }
    // No ring crosses the rectangle: it lies wholly inside the polygon or wholly outside.
    const Point c = corner(0, r);
    bool in = false;
    for (std::size_t i : outside)
        if (point_in_real_ring(c, rings.part(i))) in = !in;
    if (in) {
        for (int k = 0; k < 4; ++k) out.points.push_back(corner(k, r));
        out.close_part();
    }
}

namespace {

// Rounds one part to whole units onto the end of `out` (repeated points dropped; for a ring
// also spikes, out to a point and straight back, and a last point equal to the first); returns
// how many points it kept.
// `v` rounded to the nearest whole unit, halves away from zero (as std::lround, without the
// library call): v minus its truncation is exact for the tile's coordinates (|v| < 2^31).
std::int32_t round_unit(double v) {
    auto i = static_cast<std::int32_t>(v);
    const double rest = v - static_cast<double>(i);
    if (rest >= 0.5)
        ++i;
    else if (rest <= -0.5)
        --i;
    return i;
}

std::size_t round_part(std::span<const Point> in, bool closed, std::vector<IPoint>& out) {
    const std::size_t base = out.size();
    for (const Point& p : in) {
        const IPoint q{round_unit(p.x), round_unit(p.y)};
        const std::size_t n = out.size() - base;
        if (n >= 1 && out.back() == q) continue;
        if (closed && n >= 2 && out[out.size() - 2] == q) {
            out.pop_back();
            continue;
        }
        out.push_back(q);
    }
    for (bool changed = closed; changed && out.size() - base >= 3;) {
        const std::size_t n = out.size() - base;
        const IPoint* p = out.data() + base;
        changed = true;
        if (p[n - 1] == p[0] || p[n - 2] == p[0])
            out.pop_back();
        else if (p[1] == p[n - 1])
            out.erase(out.begin() + static_cast<std::ptrdiff_t>(base));
        else
            changed = false;
    }
    return out.size() - base;
}

}  // namespace

void round_parts(const Parts<Point>& in, bool closed, Parts<IPoint>& out) {
    if (out.starts.empty()) out.starts.push_back(static_cast<std::uint32_t>(out.points.size()));
    const std::size_t min_points = closed ? 3 : 2;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (round_part(in.part(i), closed, out.points) >= min_points)
            out.close_part();
        else
            out.drop_open();
    }
}

bool round_ring(std::span<const Point> ring, std::vector<IPoint>& out) {
    return round_part(ring, true, out) >= 3;
}

namespace {

// Squared distance of p from the segment a-b.
double distance2(const IPoint& p, const IPoint& a, const IPoint& b) {
    const double dx = static_cast<double>(b.x) - a.x, dy = static_cast<double>(b.y) - a.y;
    double px = static_cast<double>(p.x) - a.x, py = static_cast<double>(p.y) - a.y;
    const double len2 = dx * dx + dy * dy;
    if (len2 > 0) {
        const double t = std::clamp((px * dx + py * dy) / len2, 0.0, 1.0);
        px -= t * dx;
        py -= t * dy;
    }
    return px * px + py * py;
}

// Douglas-Peucker over in[first..last] (both kept), marking the kept points.
void mark(std::span<const IPoint> in, std::size_t first, std::size_t last, double tol2,
          std::vector<char>& keep, std::vector<std::pair<std::size_t, std::size_t>>& stack) {
    stack.clear();
    stack.emplace_back(first, last);
    while (!stack.empty()) {
        const auto [a, b] = stack.back();
        stack.pop_back();
        double worst = tol2;
        std::size_t at = 0;
        for (std::size_t k = a + 1; k < b; ++k) {
            const double d = distance2(in[k], in[a], in[b]);
            if (d > worst) {
                worst = d;
                at = k;
            }
        }
        if (at == 0) continue;
        keep[at] = 1;
        stack.emplace_back(a, at);
        stack.emplace_back(at, b);
    }
}

std::int64_t cross(const IPoint& o, const IPoint& a, const IPoint& b) {
    return (std::int64_t{a.x} - o.x) * (std::int64_t{b.y} - o.y) -
           (std::int64_t{a.y} - o.y) * (std::int64_t{b.x} - o.x);
}

int sign(std::int64_t v) {
    return (v > 0) - (v < 0);
}

// q on the segment p-r, given that the three are collinear.
bool on_segment(const IPoint& p, const IPoint& q, const IPoint& r) {
    return std::min(p.x, r.x) <= q.x && q.x <= std::max(p.x, r.x) && std::min(p.y, r.y) <= q.y &&
           q.y <= std::max(p.y, r.y);
}

// True when the closed segments a-b and c-d have a point in common.
bool segments_meet(const IPoint& a, const IPoint& b, const IPoint& c, const IPoint& d) {
    const int d1 = sign(cross(c, d, a)), d2 = sign(cross(c, d, b));
    const int d3 = sign(cross(a, b, c)), d4 = sign(cross(a, b, d));
    if (d1 * d2 < 0 && d3 * d4 < 0) return true;
    return (d1 == 0 && on_segment(c, a, d)) || (d2 == 0 && on_segment(c, b, d)) ||
           (d3 == 0 && on_segment(a, c, b)) || (d4 == 0 && on_segment(a, d, b));
}

}  // namespace

void simplify(std::span<const IPoint> in, double tolerance, bool ring, std::vector<IPoint>& out) {
    const std::size_t n = in.size();
    if (n <= (ring ? 4u : 2u) || tolerance <= 0) {
        out.insert(out.end(), in.begin(), in.end());
        return;
    }
    thread_local std::vector<char> keep;
    thread_local std::vector<std::pair<std::size_t, std::size_t>> stack;
    keep.assign(n + 1, 0);
    const double tol2 = tolerance * tolerance;
    if (!ring) {
        keep[0] = keep[n - 1] = 1;
        mark(in, 0, n - 1, tol2, keep, stack);
        for (std::size_t k = 0; k < n; ++k)
            if (keep[k]) out.push_back(in[k]);
        return;
    }
    // A ring: the first point and the point farthest from it split it into two lines.
    std::size_t far = 1;
    double best = -1;
    for (std::size_t k = 1; k < n; ++k) {
        const double dx = static_cast<double>(in[k].x) - in[0].x,
                     dy = static_cast<double>(in[k].y) - in[0].y;
        if (dx * dx + dy * dy > best) {
            best = dx * dx + dy * dy;
            far = k;
        }
    }
    thread_local std::vector<IPoint> closed;
    closed.assign(in.begin(), in.end());
    closed.push_back(in[0]);
    keep[0] = keep[far] = 1;
    mark(closed, 0, far, tol2, keep, stack);
    mark(closed, far, n, tol2, keep, stack);
    for (std::size_t k = 0; k < n; ++k)
        if (keep[k]) out.push_back(in[k]);
}

bool ring_is_simple(std::span<const IPoint> ring) {
    const std::size_t n = ring.size();
    if (n < 3) return false;
    auto edge_a = [&](std::size_t i) -> const IPoint& { return ring[i]; };
    auto edge_b = [&](std::size_t i) -> const IPoint& { return ring[i + 1 == n ? 0 : i + 1]; };
    // Neighbouring edges meet at their shared point only: never folding back over each other.
    for (std::size_t i = 0; i < n; ++i) {
        const IPoint& a = edge_a(i);
        const IPoint& b = edge_b(i);
        const IPoint& c = edge_b(i + 1 == n ? 0 : i + 1);
        if (cross(a, b, c) == 0 && (std::int64_t{b.x} - a.x) * (std::int64_t{c.x} - b.x) +
                                           (std::int64_t{b.y} - a.y) * (std::int64_t{c.y} - b.y) <
                                       0)
            return false;
    }
    // Other edges do not meet at all: a sweep over the edges ordered by their least x.
    thread_local std::vector<std::pair<std::int32_t, std::uint32_t>> order;
    order.clear();
    for (std::size_t i = 0; i < n; ++i)
        order.emplace_back(std::min(edge_a(i).x, edge_b(i).x), static_cast<std::uint32_t>(i));
    std::sort(order.begin(), order.end());
    for (std::size_t u = 0; u < n; ++u) {
        const std::size_t i = order[u].second;
        const std::int32_t right = std::max(edge_a(i).x, edge_b(i).x);
        const std::int32_t lo = std::min(edge_a(i).y, edge_b(i).y);
        const std::int32_t hi = std::max(edge_a(i).y, edge_b(i).y);
        for (std::size_t v = u + 1; v < n && order[v].first <= right; ++v) {
            const std::size_t j = order[v].second;
            const std::size_t gap = i > j ? i - j : j - i;
            if (gap == 1 || gap == n - 1) continue;  // neighbours, checked above
            if (std::max(edge_a(j).y, edge_b(j).y) < lo || std::min(edge_a(j).y, edge_b(j).y) > hi)
                continue;
            if (segments_meet(edge_a(i), edge_b(i), edge_a(j), edge_b(j))) return false;
        }
    }
    return true;
}

bool point_in_ring(const Point& p, std::span<const IPoint> ring) {
    bool in = false;
    const std::size_t n = ring.size();
    for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
        const double ax = ring[i].x, ay = ring[i].y, bx = ring[j].x, by = ring[j].y;
        if ((ay > p.y) != (by > p.y) && p.x < (bx - ax) * (p.y - ay) / (by - ay) + ax) in = !in;
    }
    return in;
}

}  // namespace kmaps::vector::geometry
