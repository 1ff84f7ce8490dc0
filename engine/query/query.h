// query.h: the road queries and report files of the engine, as seen from inside the library.
//
// - Road highlight (dllselroad): every road of the last view whose name begins with a text is
//   drawn over the view with the highlight pen.
// - Nearest road (dllquroad, dllquroad2, dllqudrroad): the road under a world position, within
//   a few pixels at the caller's scale, searched in the position's own tile.
// - District road reports (dlldistroad, dlldistcrrd) and point-of-interest reports (dlldist44,
//   dlldistxy, dlldistsearch): plain-text files in the user's private report folder
//   /tmp/kestrel-UID/, written through a temporary file and renamed into place.
//
// The flat C exports are thin wrappers over the functions declared here; tests call these
// directly and look at the tables of store.h and view.h.
#ifndef KESTREL_QUERY_QUERY_H
#define KESTREL_QUERY_QUERY_H

#include <cstddef>
#include <cstdint>

#include "data/store.h"
#include "gdi_api.h"
#include "render/highlight.h"

namespace kestrel::query {

// ---- shared limits and field sizes ------------------------------------------------------
using data::is_road_type;
using data::POINT_TYPE_FIRST;  // point features follow the lines in a slot
using data::ROAD_TYPE_FIRST;   // road types for queries, highlight and reports
using data::ROAD_TYPE_LAST;
using render::HIGHLIGHT_COLOUR;                 // colour entry and pen place of the highlight
inline constexpr int ROAD_REF_FACTOR = 100000;  // road reference = slot * 100000 + record
inline constexpr int ROAD_TEXT_BYTES = 29;      // road text with its NUL
inline constexpr int ROAD_TEXT_CODE = 4;        // byte offsets in the road text
inline constexpr int ROAD_TEXT_NAME = 8;
inline constexpr int ROAD_CODE_BYTES = 4;
inline constexpr int FIRST_TOLERANCE = 2;        // metres; passes grow by this step
inline constexpr double TOLERANCE_PIXELS = 4.0;  // largest tolerance, in pixels of the scale

// A slot's records with every index checked: the data store's accessors.
using data::last_record;
using data::record_name;
using data::record_vertices;

// Drawing the roads found or selected: the highlight of the drawing area.
using render::draw_world_polyline;
using render::release_highlight_pen;
using render::select_highlight_pen;

// ---- road highlight -------------------------------------------------------------------------

inline constexpr int HIGHLIGHT_NAME_MAX = data::NAME_BYTES;  // longer names are cut to this

// Draws every road feature (type 1 to 9) of the pinned slots whose name begins with `name`
// (compared over the name's length, at most 20 bytes) over the last view. Returns the number
// drawn minus one (-1: none), -2 for an empty or null name, and -1 without drawing when no view
// has been drawn yet.
int select_road(const char* name) noexcept;

// ---- nearest road ---------------------------------------------------------------------------

// The near test of a point against a segment at tolerance t: the segment's box widened by t,
// then the horizontal (steep segment) or vertical (shallow segment) offset from the segment's
// line, both bounds inclusive. On a pass, *slope receives the segment's slope (1.0 for a
// vertical segment).
bool near_segment(int64_t px, int64_t py, int64_t x1, int64_t y1, int64_t x2, int64_t y2, int64_t t,
                  double* slope) noexcept;

struct RoadHit {
    int slot;  // -1: nothing found
    int record;
    double slope;  // slope of the segment that decided
};

// Finds the road at world (x, y) for a view at `scale` metres per pixel, in the point's own
// tile (loaded through the cache when missing). The result is that of the passes with
// tolerance 2, 4, ... up to 4 x scale: the first road in storage order that passes at the
// smallest tolerance, and within it the first such segment.
RoadHit find_road(int32_t x, int32_t y, double scale) noexcept;

// Writes the 29-byte road text of record `record` of slot `slot` into `text`.
void format_road_text(int slot, int record, char* text) noexcept;

// The three queries. `text` (29 bytes or more) holds the road text on success and the empty
// string otherwise. A null text or slope pointer (or device context of draw_road) is refused
// with -1 and nothing touched.
int query_road(int32_t x, int32_t y, double scale, char* text) noexcept;
int query_road_slope(int32_t x, int32_t y, double scale, char* text, double* slope) noexcept;
int query_draw_road(int32_t x, int32_t y, double scale, char* text, HDC dc, int32_t left,
                    int32_t top) noexcept;

// ---- report files ---------------------------------------------------------------------------

inline constexpr const char* DISTROAD_FILE = "distroad.tmp";
inline constexpr const char* DISTCRRD_FILE = "distcrrd.tmp";
inline constexpr const char* DIST44_FILE = "dist44.tmp";
inline constexpr std::size_t REPORT_PATH_MAX = 256;

// The report folder is "<base>/<kReportFolderPrefix><effective uid>" under the base kReportBase
// (on Windows the base itself). A report line is a name field of fixed width
// (kRoadReportNameBytes in the two road reports, kPoiReportNameBytes in the point-of-interest
// report), blanks, X, one blank, Y, and for a point of interest two blanks and its note, then
// CR LF. Programs that read reports (kserve) take the folder, the file names and the widths
// from here.
#if defined(_WIN32)
inline constexpr const char* kReportBase = "c:\\";
#else
inline constexpr const char* kReportBase = "/tmp";
#endif
inline constexpr const char* kReportFolderPrefix = "kestrel-";
inline constexpr int kRoadReportNameBytes = data::NAME_BYTES;
inline constexpr int kPoiReportNameBytes = data::POI_NAME_BYTES;

// The folder in which the report folder "kestrel-UID" is made: "/tmp" unless a test sets
// another (null restores "/tmp"). The text is copied; a base that does not fit is refused.
bool set_report_base(const char* base) noexcept;

// Writes the report folder's path ("<base>/kestrel-<euid>") into `out`; false if it does not
// fit.
bool report_folder(char* out, std::size_t size) noexcept;

// A report being written. open() checks the report folder (made with mode 0700 when missing;
// refused when it is a symbolic link, not a folder, not owned by the user or open to group or
// others) and creates a fresh temporary file inside it. Lines are buffered and written to the
// temporary file; commit() renames it over the report's name, so the report appears whole or
// not at all. A report that is not committed is removed when the object ends.
class ReportFile {
  public:
    ReportFile() noexcept = default;
    ~ReportFile();
    ReportFile(const ReportFile&) = delete;
    ReportFile& operator=(const ReportFile&) = delete;

    bool open(const char* name) noexcept;
    void write(const char* bytes, std::size_t n) noexcept;
    void text(const char* s) noexcept;  // up to its NUL; CR and LF written as blanks
    void number(int64_t v) noexcept;    // signed decimal
    void blanks(int n) noexcept;
    void line_end() noexcept { write("\r\n", 2); }  // CR LF on disk
    bool commit() noexcept;  // false (and nothing left) when any write failed

  private:
    bool flush() noexcept;
    void discard() noexcept;

    static constexpr std::size_t BUFFER_BYTES = 16384;
    int dir_fd_ = -1;
    int fd_ = -1;
    bool failed_ = false;
    std::size_t used_ = 0;
    char name_[32] = {};
    char temp_name_[64] = {};
    char buffer_[BUFFER_BYTES];
};

// The names written to the current district report: up to 100000 entries of 20 bytes, each
// call starting empty. Names are equal when a bounded comparison of 20 bytes finds them equal.
inline constexpr int REPORT_NAME_CAPACITY = 100000;

class ReportNameList {
  public:
    void clear() noexcept;
    // True when `name` (20 bytes, compared up to a NUL) is in the list.
    bool contains(const char* name) const noexcept;
    // Appends `name` unless present or the list is full; true when it was appended.
    bool add(const char* name) noexcept;
    int last() const noexcept { return last_; }

  private:
    static constexpr int HASH_SLOTS = 262144;  // power of two, above twice the capacity
    static uint32_t hash(const char* name) noexcept;
    int find(const char* name, uint32_t* home) const noexcept;

    char names_[REPORT_NAME_CAPACITY][data::NAME_BYTES];
    int32_t table_[HASH_SLOTS];  // index + 1 into names_, 0: empty
    int last_ = -1;
};

ReportNameList& report_names() noexcept;

// The district road report (distroad.tmp) and the meeting-roads report (distcrrd.tmp); `name`
// is padded in place to 20 blank-padded bytes. Results are the number of lines minus one; -1
// also when the report folder is refused or the report cannot be written (then no report is
// written), and for a null name.
int district_roads(int32_t code) noexcept;
int meeting_roads(int32_t code, char* name) noexcept;

// The point-of-interest reports (dist44.tmp). Results as above; -1 and no report also when a
// data file does not open.
int poi_by_district(int32_t code, int32_t category) noexcept;
int poi_by_window(int32_t x, int32_t y, int32_t r, int32_t category) noexcept;
int poi_by_name(const char* text) noexcept;

}  // namespace kestrel::query

#endif  // KESTREL_QUERY_QUERY_H
