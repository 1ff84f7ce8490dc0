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
// dllhisdraw draws the parts of the track inside a world window as green 2-pixel polylines into
// the last view's device context; a point outside the window (or on its edge) breaks the line,
// and a run of a single point draws nothing. Runs longer than the shared point buffer are drawn
// in consecutive pieces that share their end points, so no gap appears.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "kestrel.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

constexpr int kTrackCapacity = 20000;
constexpr int kLineRoom = 499;  // 498 characters per read and the NUL
constexpr int32_t kMinX = 110000;  // exclusive bounds of an accepted point
constexpr int32_t kMaxX = 360000;
constexpr int32_t kMinY = 2410000;
constexpr int32_t kMaxY = 2810000;
constexpr int32_t kKeyUnit = 1000;  // the key counts kilometres
constexpr int kTrackPenPlace = 20;
constexpr int kTrackPenWidth = 2;
constexpr COLORREF kTrackColour = RGB(0, 128, 0);

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

// Draws the run of `count` points of the point buffer when it holds at least two.
void draw_run(HDC dc, int count) noexcept {
    if (count >= 2) Polyline(dc, point_buffer(), count);
}

}  // namespace
}  // namespace kestrel::render

// Replaces the track with the points of the file at `path`. Returns the key of the first point,
// (Y div 1000) x 1000 + (X div 1000); -1, with the track left empty, for a null path, a file
// that does not open, or a file without any accepted point.
extern "C" KESTREL_API int dllhisload(const char* path) {
    using namespace kestrel::render;
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

// Draws the track inside the window west < X < east, south < Y < north into the last view's
// device context, the window's north-west corner at pixel (0, 0) and the view's scale. Always
// 0; nothing is drawn when the track is empty or no view has been drawn.
extern "C" KESTREL_API int dllhisdraw(int west, int south, int east, int north) {
    using namespace kestrel::render;
    const ViewState& view = view_state();
    const Track& t = track();
    if (t.last < 0 || view.dc == nullptr || !(view.scale > 0)) return 0;

    HPEN& pen = pen_table()[kTrackPenPlace];
    pen = CreatePen(PS_SOLID, kTrackPenWidth, kTrackColour);
    const HGDIOBJ previous = SelectObject(view.dc, pen);

    POINT* run = point_buffer();
    int count = 0;
    for (int i = 0; i <= t.last; ++i) {
        const TrackPoint& p = t.points[i];
        if (!(west < p.x && p.x < east && south < p.y && p.y < north)) {
            draw_run(view.dc, count);
            count = 0;
            continue;
        }
        if (count == POINT_BUFFER_SIZE) {
            // The buffer is full: draw this piece and start the next one at its last point.
            draw_run(view.dc, count);
            run[0] = run[count - 1];
            count = 1;
        }
        run[count++] = POINT{
            truncate_to_int32(static_cast<double>(int64_t{p.x} - west) / view.scale),
            truncate_to_int32(static_cast<double>(int64_t{north} - p.y) / view.scale)};
    }
    draw_run(view.dc, count);

    if (previous != nullptr && previous != HGDI_ERROR) SelectObject(view.dc, previous);
    DeleteObject(pen);
    pen = nullptr;
    return 0;
}

// Empties the track; always 0.
extern "C" KESTREL_API int dllhisfree(void) {
    kestrel::render::track().last = -1;
    return 0;
}
