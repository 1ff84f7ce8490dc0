// track.cpp: the track history overlay (dllhisload, dllhisdraw, dllhisfree).
//
// A track is a sequence of world positions read from a text file, one point per line:
//
//   xy 302500 2765400
//
// Only lines whose first two characters are the lower-case letters "xy" carry a point: a first
// word (skipped whatever follows the two letters), then the integers X and Y. Lines are read in
// pieces of at most 498 characters; the rest of a longer line is read as a line of its own. A
// point is kept when 110000 < X < 360000 and 2410000 < Y < 2810000; at most 20000 points are
// kept, later ones are ignored.
//
// dllhisdraw draws the parts of the track inside a world window as green 2-pixel polylines (2
// pixels at 1x: F times that for a view drawn at scale factor F) into the last view's device
// context; a point outside the window (or on its edge) breaks the line,
// and a run of a single point draws nothing. Runs longer than the shared point buffer are drawn
// in consecutive pieces that share their end points, so no gap appears.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "render/palette.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

constexpr int kTrackCapacity = 20000;
constexpr int kLineRoom = 499;     // 498 characters per read and the NUL
constexpr int32_t kMinX = 110000;  // exclusive bounds of an accepted point
constexpr int32_t kMaxX = 360000;
constexpr int32_t kMinY = 2410000;
constexpr int32_t kMaxY = 2810000;
constexpr int32_t kKeyUnit = 1000;  // the key counts kilometres
constexpr int kTrackPenPlace = 20;
constexpr int kTrackPenWidth = 2;

struct TrackPoint {
    int32_t x;
    int32_t y;
};

struct Track {
    TrackPoint points[kTrackCapacity];
    int32_t last = -1;  // -1: empty
};

Track& track() noexcept {
    static Track t;
    return t;
}

// Reads one decimal integer after optional white space at `*text`, advancing `*text` past it.
// False when there is no number or it does not fit an int32.
bool read_int(const char** text, int32_t* value) noexcept {
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(*text, &end, 10);
    if (end == *text || errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *text = end;
    *value = static_cast<int32_t>(v);
    return true;
}

// Parses a point line: "xy" at the very start, the rest of the first word skipped, then X and
// Y. False for any other line and for a line that lacks one of the integers.
bool parse_point_line(const char* line, TrackPoint* point) noexcept {
    if (line[0] != 'x' || line[1] != 'y') return false;
    const char* p = line + 2;
    while (*p != '\0' && *p != ' ' && *p != '\t' && *p != '\n' && *p != '\r' && *p != '\v' &&
           *p != '\f')
        ++p;
    return read_int(&p, &point->x) && read_int(&p, &point->y);
}

bool is_accepted(const TrackPoint& p) noexcept {
    return kMinX < p.x && p.x < kMaxX && kMinY < p.y && p.y < kMaxY;
}

// Draws points first .. first + count - 1 of the track, mapped with the window's north-west
// corner at pixel (0, 0) at the view's scale and scale factor.
void draw_run(const ViewState& view, const Track& t, int first, int count, int32_t west,
              int32_t north) noexcept {
    const PixelMap map(west, north, view.scale, view.factor);
    draw_polyline(view.dc, count, [&](int k) {
        const TrackPoint& p = t.points[first + k];
        return map(p.x, p.y);
    });
}

}  // namespace

int load_track(const char* path) noexcept {
    Track& t = track();
    t.last = -1;
    if (path == nullptr) return -1;
    std::FILE* file = std::fopen(path, "r");
    if (file == nullptr) return -1;
    char line[kLineRoom];
    while (std::fgets(line, sizeof line, file) != nullptr) {
        TrackPoint point;
        if (!parse_point_line(line, &point) || !is_accepted(point)) continue;
        if (t.last + 1 >= kTrackCapacity) break;  // the table is full: the rest is ignored
        t.points[++t.last] = point;
    }
    std::fclose(file);
    if (t.last < 0) return -1;
    const TrackPoint& first = t.points[0];
    return (first.y / kKeyUnit) * kKeyUnit + first.x / kKeyUnit;
}

int draw_track(int32_t west, int32_t south, int32_t east, int32_t north) noexcept {
    const ViewState& view = view_state();
    const Track& t = track();
    if (t.last < 0 || view.dc == nullptr || !(view.scale > 0)) return 0;

    HPEN& pen = pen_table()[kTrackPenPlace];
    pen = CreatePen(PS_SOLID, scaled_pen_width(kTrackPenWidth, view.factor), kTrackColour);
    const HGDIOBJ previous = SelectObject(view.dc, pen);

    // A run is a stretch of consecutive points inside the window; a point outside ends it.
    int first = 0;
    for (int i = 0; i <= t.last; ++i) {
        const TrackPoint& p = t.points[i];
        if (west < p.x && p.x < east && south < p.y && p.y < north) continue;
        draw_run(view, t, first, i - first, west, north);
        first = i + 1;
    }
    draw_run(view, t, first, t.last + 1 - first, west, north);

    if (previous != nullptr && previous != HGDI_ERROR) SelectObject(view.dc, previous);
    DeleteObject(pen);
    pen = nullptr;
    return 0;
}

int free_track() noexcept {
    track().last = -1;
    return 0;
}

}  // namespace kestrel::render
