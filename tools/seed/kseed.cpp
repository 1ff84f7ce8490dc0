// kseed.cpp: renders a zoom range of the web service's tiles into a tile archive, MBTiles or
// PMTiles, for static hosting and offline use.
//
// The tiles are kserve's (the maps library's tile module, kmaps/tiles.h, through tile_source.h):
// the same tile matrix sets, the same metatiles of 4 x 4 tiles drawn as one engine view, the same
// PNG encoder, so an archive's tile equals the tile kserve serves at that address. The engine keeps
// process-global state, so the work is spread over processes as kserve does: the parent loads the
// data set, plans the metatiles and forks the workers (each inheriting the loaded engine); it hands
// each worker a metatile at a time over a pipe, reads back the PNG tiles over another, and alone
// writes the archive. The archive is written into a temporary file beside the output and renamed
// over it once complete, so an interrupted or failed run leaves the output as it was.
#include <fcntl.h>
#include <malloc.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kcommon/cli.h"
#include "kcommon/numbers.h"
#include "kmaps/crs.h"
#include "kmaps/drawing.h"
#include "kmaps/geometry.h"
#include "kmaps/vector_tiles.h"
#include "mbtiles.h"
#include "pmtiles.h"
#include "tile_source.h"

namespace {

using kmaps::Box;
using kseed::TileSet;

constexpr int kMaxWorkers = 64;
constexpr uint64_t kMaxTiles = 100'000'000;  // the PMTiles writer keeps 16 bytes a tile
constexpr int kJobsInFlight = 2;             // per worker, so that none waits for the next

const char* const kUsage =
    "Usage: kseed --data DIR --zoom A-B --output FILE [options]\n"
    "\n"
    "Renders the map tiles that kserve serves for the data set in DIR, zoom levels A to B,\n"
    "into one archive: FILE.mbtiles (MBTiles 1.3, for GDAL, QGIS and offline map apps) or\n"
    "FILE.pmtiles (PMTiles 3, for any static web server, read with HTTP range requests).\n"
    "Tiles are drawn as kserve draws them, in metatiles of 4 x 4 tiles, so each tile equals\n"
    "kserve's in pixels. Tiles outside the data set are left out; a tile repeated (such as a\n"
    "blank one) is stored once. The archive is written beside FILE and renamed to FILE when\n"
    "complete: an interrupted run (Ctrl-C) leaves FILE as it was. With --tiles mvt it writes\n"
    "kserve's vector tiles (.mvt) instead of the pictures.\n";

const char* const kNotes =
    "Progress (tiles done, rate, time left) goes to standard error when it is a terminal; a\n"
    "summary goes to standard output at the end.\n"
    "\n"
    "Exit status: 0 when the archive was written, 1 when the data set, the drawing or the\n"
    "file failed, 2 on a usage error (bad option or value, zoom out of range, box outside the\n"
    "data set, unwritable or existing output), 130 after Ctrl-C, 143 after SIGTERM.\n";

enum class Format { kMbtiles, kPmtiles };

struct Options {
    std::string data, crs = kmaps::kDefaultGrid, output, name, attribution, description;
    TileSet set = TileSet::kGoogle;
    std::string set_name = "google";
    int zmin = -1, zmax = -1;
    bool has_bbox = false, has_extent = false;
    Box area{};
    int scale = 1;
    int workers = 0;
    bool resume = false, overwrite = false, quiet = false, list = false;
    bool vector = false;  // --tiles mvt
    Format format = Format::kMbtiles;
};

// A metatile to draw and which of its 16 tiles to keep (bit row * 4 + col).
struct Job {
    int level;
    long mrow, mcol;
    uint32_t mask;
};

volatile sig_atomic_t g_signal = 0;

void on_signal(int sig) {
    g_signal = sig;
}

bool ends_with(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

int usage(const std::string& message) {
    std::fprintf(stderr, "kseed: %s\n", message.c_str());
    return 2;
}

// --zoom A-B or --zoom A.
kcli::Handler zoom(Options& o) {
    return [&o](const std::string& value) -> std::string {
        const size_t dash = value.find('-');
        const std::string first = value.substr(0, dash);
        const std::string last = dash == std::string::npos ? value : value.substr(dash + 1);
        const auto a = kcommon::parse_int(first, 0, 99);
        const auto b = kcommon::parse_int(last, 0, 99);
        if (!a || !b || *a > *b)
            return "wants A-B with A <= B (or one level A), not '" + value + "'";
        o.zmin = static_cast<int>(*a);
        o.zmax = static_cast<int>(*b);
        return {};
    };
}

// --bbox (degrees) or --extent (grid metres): W,S,E,N.
kcli::Handler box(Options& o, bool degrees) {
    return [&o, degrees](const std::string& value) -> std::string {
        double v[4];
        if (!kcommon::parse_decimals(value, ',', v) || !(v[0] < v[2]) || !(v[1] < v[3]))
            return "wants WEST,SOUTH,EAST,NORTH with west < east and south < north, not '" + value +
                   "'";
        if (degrees && (v[0] < -180 || v[2] > 180 || v[1] < -90 || v[3] > 90))
            return "wants degrees of longitude (-180 to 180) and latitude (-90 to 90), not '" +
                   value + "'";
        o.area = {v[0], v[1], v[2], v[3]};
        (degrees ? o.has_bbox : o.has_extent) = true;
        return {};
    };
}

kcli::Handler tile_set(Options& o) {
    return [&o](const std::string& value) -> std::string {
        if (value != "google" && value != "native")
            return "wants google or native, not '" + value + "'";
        o.set = value == "google" ? TileSet::kGoogle : TileSet::kNative;
        o.set_name = value;
        return {};
    };
}

// --tiles png or mvt.
kcli::Handler tile_kind(Options& o) {
    return [&o](const std::string& value) -> std::string {
        if (value != "png" && value != "mvt") return "wants png or mvt, not '" + value + "'";
        o.vector = value == "mvt";
        return {};
    };
}

// kseed's command line, its values kept in `o`.
kcli::Program command_line(Options& o) {
    std::vector<kcli::Option> options = {
        {.name = "--data",
         .value = "DIR",
         .help = "data set directory",
         .handle = kcli::store(&o.data)},
        {.name = "--crs",
         .value = "CRS",
         .help = "the data set's grid (default EPSG:3826)",
         .handle = kcli::store(&o.crs)},
        {.name = "--set",
         .value = "SET",
         .help = "google: the GoogleMapsCompatible set (EPSG:3857, zoom 0 to 18; the default); "
                 "native: the data set's grid (levels 0 to 7, 128 to 1 m a pixel; PMTiles only, "
                 "its zoom z holds level z - N where N fits the grid into the numbering, see "
                 "the metadata)",
         .handle = tile_set(o)},
        {.name = "--zoom",
         .value = "A-B",
         .help = "zoom levels A to B of the set, or the one level A",
         .handle = zoom(o)},
        {.name = "--bbox",
         .value = "W,S,E,N",
         .help = "only tiles meeting this box of longitude and latitude (WGS 84)",
         .handle = box(o, true)},
        {.name = "--extent",
         .value = "W,S,E,N",
         .help = "only tiles meeting this box of the data set's grid, in metres (default: the "
                 "data set's whole extent)",
         .handle = box(o, false)},
        {.name = "--scale",
         .value = "N",
         .help = "drawing scale factor: 1 (256-pixel tiles, the default), 2 (512-pixel tiles, "
                 "kserve's @2x) or 3 (768 pixels, @3x)",
         .handle = kcli::whole(1, kmaps::kMaxFactor, &o.scale)},
        {.name = "--tiles",
         .value = "KIND",
         .help = "png: the map's pictures (the default); mvt: the data set as vector tiles "
                 "(kserve's .mvt tiles, gzip-compressed, with their layers in the metadata; "
                 "empty tiles are left out)",
         .handle = tile_kind(o)},
        {.name = "--output",
         .value = "FILE",
         .help = "the archive: .mbtiles or .pmtiles",
         .handle = kcli::store(&o.output)},
        {.name = "--resume",
         .help = "FILE is an MBTiles archive written by kseed: keep its tiles and render only "
                 "those missing (a missing FILE is started anew)",
         .handle = kcli::set(&o.resume)},
        {.name = "--overwrite",
         .help = "replace FILE when it exists (otherwise an existing FILE is refused)",
         .handle = kcli::set(&o.overwrite)},
        {.name = "--workers",
         .value = "N",
         .help = "processes drawing tiles, 1 to 64 (default: the number of cores)",
         .handle = kcli::whole(1, kMaxWorkers, &o.workers)},
        {.name = "--name",
         .value = "TEXT",
         .help = "the tile set's name in the metadata (default: DIR's name)",
         .handle = kcli::store(&o.name)},
        {.name = "--attribution",
         .value = "TEXT",
         .help = "the attribution in the metadata (e.g. the data's source)",
         .handle = kcli::store(&o.attribution)},
        {.name = "--description",
         .value = "TEXT",
         .help = "the description in the metadata",
         .handle = kcli::store(&o.description)},
        {.name = "--quiet",
         .help = "no progress line (it is shown only on a terminal anyway)",
         .handle = kcli::set(&o.quiet)},
        {.name = "--list",
         .help = "print the tiles that would be drawn, one LEVEL/COLUMN/ROW a line in drawing "
                 "order (kserve's XYZ addresses), and write nothing",
         .handle = kcli::set(&o.list)},
    };
    return {.name = "kseed", .usage = kUsage, .options = std::move(options), .notes = kNotes};
}

// The checks between options, and the defaults that follow from others. Returns nothing to go
// on, or the exit status (reported).
std::optional<int> check(const kcli::Program& program, Options& o) {
    if (o.data.empty() || (o.output.empty() && !o.list) || o.zmin < 0)
        return kcli::refuse(program, "--data, --zoom and --output are needed");
    if (o.has_bbox && o.has_extent) return usage("give --bbox or --extent, not both");
    if (o.list && o.resume) return usage("give --list or --resume, not both");
    if (o.list && o.output.empty()) o.output = "list.pmtiles";  // only its format matters
    if (ends_with(o.output, ".mbtiles")) {
        o.format = Format::kMbtiles;
    } else if (ends_with(o.output, ".pmtiles")) {
        o.format = Format::kPmtiles;
    } else {
        return usage("cannot tell the archive format of '" + o.output +
                     "': name it .mbtiles or .pmtiles");
    }
    if (o.format == Format::kMbtiles && o.set == TileSet::kNative)
        return usage(
            "MBTiles holds Web Mercator tiles only (--set google); write the native "
            "grid's tiles into a .pmtiles archive");
    if (o.vector && o.scale != 1)
        return usage("--scale draws pictures: vector tiles have none (clients draw them sharp)");
    if (o.resume && o.format != Format::kMbtiles)
        return usage("--resume works on MBTiles archives only: a PMTiles archive is written whole");
    if (o.resume && o.overwrite) return usage("give --resume or --overwrite, not both");
    if (o.workers == 0)
        o.workers = static_cast<int>(std::clamp<long>(sysconf(_SC_NPROCESSORS_ONLN), 1, 64));
    if (o.name.empty()) {
        std::string d = o.data;
        while (d.size() > 1 && d.back() == '/') d.pop_back();
        o.name = std::filesystem::path(d).filename().string();
    }
    return std::nullopt;
}

// Reads the command line into `o`. Returns nothing to go on, or the exit status.
std::optional<int> parse(int argc, char** argv, Options& o) {
    const kcli::Program program = command_line(o);
    if (const auto end = kcli::parse(program, argc, argv)) return end;
    return check(program, o);
}

// ---- the plan ---------------------------------------------------------------------------

// The smallest k with 2^k >= n.
int bits_for(long n) {
    int k = 0;
    while ((1L << k) < n) ++k;
    return k;
}

// The archive's zoom of each level: the level itself for the google set; for the native set,
// the level plus the offset that fits every level's matrix into the 2^z x 2^z numbering of
// tile addresses (the same for every level, as the matrices double from one to the next).
int zoom_offset(const kseed::Tiles& tiles, TileSet set) {
    if (set == TileSet::kGoogle) return 0;
    int offset = 0;
    const auto& m = tiles.matrices(set);
    for (size_t level = 0; level < m.size(); ++level)
        offset = std::max(
            offset, bits_for(std::max(m[level].cols, m[level].rows)) - static_cast<int>(level));
    return offset;
}

// The tiles of `level` that meet `area`: columns c0..c1, rows r0..r1 (empty when c0 > c1).
struct Range {
    long c0, c1, r0, r1;
};
Range range_of(const kmaps::TileMatrix& m, const Box& area) {
    const double span = kseed::kTileSize * m.resolution;
    Range r;
    r.c0 = std::max(0L, static_cast<long>(std::floor((area.minx - m.left) / span)));
    r.c1 = std::min(m.cols - 1, static_cast<long>(std::ceil((area.maxx - m.left) / span)) - 1);
    r.r0 = std::max(0L, static_cast<long>(std::floor((m.top - area.maxy) / span)));
    r.r1 = std::min(m.rows - 1, static_cast<long>(std::ceil((m.top - area.miny) / span)) - 1);
    return r;
}

std::string numbers(const Box& b) {
    return "[" + kmaps::fmt(b.minx) + "," + kmaps::fmt(b.miny) + "," + kmaps::fmt(b.maxx) + "," +
           kmaps::fmt(b.maxy) + "]";
}

// What a client needs to place the tiles, for the PMTiles metadata (the member "kestrel"): the
// set, its system (EPSG code and PROJ string), the data set's extent in the set's system and in
// degrees, the top-left corner of the tile matrices, the tile size, the resolution of each
// archive zoom from 0 to the highest (units of the system a pixel), and the offset between the
// archive's zooms and the set's levels (archive zoom = level + offset).
std::string grid_json(const kseed::Tiles& tiles, TileSet set, int offset, int zmax, int scale) {
    const bool google = set == TileSet::kGoogle;
    const auto& m = tiles.matrices(set);
    std::string resolutions;
    for (int z = 0; z <= zmax + offset; ++z) {
        const int level = z - offset;
        const double r = level >= 0 ? m[static_cast<size_t>(level)].resolution
                                    : m[0].resolution * std::ldexp(1.0, -level);
        resolutions += (z ? "," : "") + kmaps::fmt(r / scale);
    }
    const kmaps::Crs& crs = google ? tiles.mercator() : tiles.native();
    return "\"kestrel\":{\"set\":" + kseed::json_string(tiles.set(set).id()) +
           ",\"crs\":" + kseed::json_string(crs.name()) +
           ",\"proj4\":" + kseed::json_string(crs.proj4()) +
           ",\"extent\":" + numbers(tiles.extent(set)) +
           ",\"lonlat\":" + numbers(tiles.extent_lonlat()) + ",\"origin\":[" +
           kmaps::fmt(m[0].left) + "," + kmaps::fmt(m[0].top) +
           "],\"tile_size\":" + std::to_string(kseed::kTileSize * scale) + ",\"resolutions\":[" +
           resolutions + "],\"zoom_offset\":" + std::to_string(offset) + "}";
}

// ---- the workers ------------------------------------------------------------------------

// What a worker sends back: a tile (its bytes follow), the end of a job, or an error (its
// text follows).
struct Message {
    int32_t kind;  // kTile, kDone, kError
    int32_t level;
    int64_t row, col;
    uint32_t length;
    uint32_t pad;
};
constexpr int32_t kTile = 0, kDone = 1, kError = 2;

using kseed::write_all;

bool read_all(int fd, void* data, size_t n) {
    char* p = static_cast<char*>(data);
    while (n > 0) {
        const ssize_t r = ::read(fd, p, n);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
    }
    return true;
}

void append(std::string& out, const Message& m, const std::string& bytes) {
    out.append(reinterpret_cast<const char*>(&m), sizeof m);
    out += bytes;
}

// The tiles of `job` that it keeps, as the messages of their PNG files: drawn as one metatile.
bool picture_job(kseed::Tiles& tiles, const Options& o, const Job& job, std::string& out,
                 std::string& error) {
    const auto meta = tiles.metatile(o.set, job.level, job.mrow / kseed::kMetatile,
                                     job.mcol / kseed::kMetatile, o.scale, error);
    if (!meta) return false;
    for (int k = 0; k < kseed::kMetatile * kseed::kMetatile; ++k) {
        if (!(job.mask & (1u << k))) continue;
        const long row = job.mrow + k / kseed::kMetatile;
        const long col = job.mcol + k % kseed::kMetatile;
        const std::string& png = meta->tile(row, col);
        append(out, {kTile, job.level, row, col, static_cast<uint32_t>(png.size()), 0}, png);
    }
    return true;
}

// The same as vector tiles, each gzip-compressed (an empty tile is a message without bytes).
bool vector_job(kseed::Tiles& tiles, kmaps::VectorTiles& vector, const Options& o, const Job& job,
                std::string& out, std::string& error) {
    const kmaps::TileMatrix& m = tiles.matrices(o.set)[static_cast<size_t>(job.level)];
    std::string mvt, packed;
    for (int k = 0; k < kseed::kMetatile * kseed::kMetatile; ++k) {
        if (!(job.mask & (1u << k))) continue;
        const long row = job.mrow + k / kseed::kMetatile;
        const long col = job.mcol + k % kseed::kMetatile;
        if (!vector.build(tiles.set(o.set), m, row, col, mvt, error)) return false;
        packed.clear();
        if (!mvt.empty() && !kmaps::gzip(mvt, packed, 9)) {
            error = "cannot compress a vector tile";
            return false;
        }
        append(out, {kTile, job.level, row, col, static_cast<uint32_t>(packed.size()), 0}, packed);
    }
    return true;
}

// A worker: makes the tiles of the jobs it is given until its job pipe closes, and sends back
// the tiles of each that the job keeps.
[[noreturn]] void work(kseed::Tiles& tiles, const Options& o, int jobs, int results) {
    ::signal(SIGINT, SIG_IGN);  // Ctrl-C reaches the parent, which stops the workers
    ::signal(SIGTERM, SIG_DFL);
    ::signal(SIGPIPE, SIG_DFL);
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() == 1) _exit(1);
    // A metatile allocates some megabytes (drawing surface, warped picture, encodings) and
    // frees them again; keep freed memory for the next one rather than taking its page faults
    // again, as kserve's workers do.
    ::mallopt(M_TRIM_THRESHOLD, 64 << 20);
    ::mallopt(M_MMAP_THRESHOLD, 32 << 20);
    Job job{};
    std::string out, error;
    // Each worker its own builder, which keeps the tile files it read for its next jobs.
    kmaps::VectorTiles vector;
    const bool opened = !o.vector || vector.open(o.data, o.crs, error);
    while (read_all(jobs, &job, sizeof job)) {
        out.clear();
        if (!opened || !(o.vector ? vector_job(tiles, vector, o, job, out, error)
                                  : picture_job(tiles, o, job, out, error))) {
            out.clear();
            append(out,
                   {kError, job.level, job.mrow, job.mcol, static_cast<uint32_t>(error.size()), 0},
                   error);
            write_all(results, out.data(), out.size());
            _exit(1);
        }
        append(out, {kDone, job.level, job.mrow, job.mcol, 0, 0}, "");
        if (!write_all(results, out.data(), out.size())) _exit(1);
    }
    _exit(0);
}

struct Worker {
    pid_t pid = -1;
    int jobs = -1;     // parent writes
    int results = -1;  // parent reads
    std::string buffer;
    int in_flight = 0;
    Job last{};
};

void stop_workers(std::vector<Worker>& workers) {
    for (Worker& w : workers) {
        if (w.jobs >= 0) ::close(w.jobs);
        w.jobs = -1;
        if (w.pid > 0) ::kill(w.pid, SIGTERM);
    }
    for (Worker& w : workers) {
        if (w.pid > 0) ::waitpid(w.pid, nullptr, 0);
        w.pid = -1;
        if (w.results >= 0) ::close(w.results);
        w.results = -1;
    }
}

// ---- progress ---------------------------------------------------------------------------

std::string duration(double seconds) {
    const long s = std::lround(std::max(0.0, seconds));
    char b[32];
    if (s >= 3600)
        std::snprintf(b, sizeof b, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(b, sizeof b, "%ld:%02ld", s / 60, s % 60);
    return b;
}

std::string megabytes(uint64_t bytes) {
    char b[32];
    std::snprintf(b, sizeof b, "%.1f MB", bytes / 1e6);
    return b;
}

// ---- the run ----------------------------------------------------------------------------

// The temporary file beside `output`: made here, so that an unwritable place is found before
// any drawing, and removed on every way out but success.
struct TempFile {
    std::string path;
    bool keep = false;
    ~TempFile() {
        if (!path.empty() && !keep) ::unlink(path.c_str());
    }
};

// One run: the data set, the plan of jobs, the archive and the workers that fill it.
class Seed {
  public:
    explicit Seed(const Options& o) : o_(o) {}
    int run();

  private:
    std::optional<int> load();
    void plan(const kseed::TileArchive* archive);
    int list() const;
    std::optional<int> open_archive();
    bool start_workers();
    bool feed(Worker& w);
    void show(bool last);
    std::string collect();
    bool take(Worker& w, std::string& failure);
    kseed::ArchiveInfo archive_info() const;
    int finish();

    double elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    }

    const Options& o_;
    kseed::Tiles tiles_;
    Box area_{};                  // in the set's system, within the data set
    std::optional<Box> area_ll_;  // the same in degrees
    int offset_ = 0;
    std::vector<Job> jobs_;
    size_t next_ = 0;  // the next job to hand out
    int busy_ = 0;     // jobs handed out and not done
    uint64_t total_ = 0, kept_ = 0, done_ = 0, empty_ = 0;
    TempFile temp_;
    std::unique_ptr<kseed::TileArchive> archive_;
    std::vector<Worker> workers_;
    bool progress_ = false;
    double shown_ = -1;
    std::chrono::steady_clock::time_point started_;
};

// Loads the data set and checks the levels and the area against it. Nothing to go on, or the
// exit status (reported).
std::optional<int> Seed::load() {
    std::string error;
    if (!tiles_.start(o_.data, o_.crs, error)) {
        std::fprintf(stderr, "kseed: %s\n", error.c_str());
        return 1;
    }
    const int levels = static_cast<int>(tiles_.matrices(o_.set).size());
    if (o_.zmax >= levels)
        return usage("--zoom " + std::to_string(o_.zmin) + "-" + std::to_string(o_.zmax) +
                     " is outside the levels of --set " + o_.set_name + ", 0 to " +
                     std::to_string(levels - 1));
    offset_ = zoom_offset(tiles_, o_.set);
    if (o_.zmax + offset_ > kseed::kMaxZoom)
        return usage("the data set's grid needs more zoom levels than an archive holds");
    const kmaps::Crs& set_crs = o_.set == TileSet::kGoogle ? tiles_.mercator() : tiles_.native();
    area_ = tiles_.extent(o_.set);
    if (o_.has_bbox || o_.has_extent) {
        const auto box =
            kmaps::transform_box(o_.has_bbox ? tiles_.wgs84() : tiles_.native(), set_crs, o_.area);
        const Box& e = tiles_.extent_lonlat();
        char where[160];
        std::snprintf(where, sizeof where, "%.6f,%.6f,%.6f,%.6f", e.minx, e.miny, e.maxx, e.maxy);
        if (!box || !kmaps::intersect(*box, tiles_.extent(o_.set), area_))
            return usage(std::string(o_.has_bbox ? "--bbox" : "--extent") +
                         " does not meet the data set, which covers " + where +
                         " (longitude, latitude)");
    }
    area_ll_ = kmaps::transform_box(set_crs, tiles_.wgs84(), area_);
    uint64_t wanted = 0;
    for (int level = o_.zmin; level <= o_.zmax; ++level) {
        const Range r = range_of(tiles_.matrices(o_.set)[level], area_);
        wanted += static_cast<uint64_t>(std::max(0L, r.c1 - r.c0 + 1)) *
                  static_cast<uint64_t>(std::max(0L, r.r1 - r.r0 + 1));
    }
    if (wanted > kMaxTiles)
        return usage("more than " + std::to_string(kMaxTiles) +
                     " tiles: seed fewer levels or a smaller box");
    return std::nullopt;
}

// The metatiles, level by level, and the tiles of each to make: those meeting the area that
// `archive` (when given) does not hold yet.
void Seed::plan(const kseed::TileArchive* archive) {
    constexpr int kSide = kseed::kMetatile;
    for (int level = o_.zmin; level <= o_.zmax; ++level) {
        const Range r = range_of(tiles_.matrices(o_.set)[level], area_);
        for (long mrow = r.r0 / kSide * kSide; mrow <= r.r1; mrow += kSide)
            for (long mcol = r.c0 / kSide * kSide; mcol <= r.c1; mcol += kSide) {
                uint32_t mask = 0;
                for (int k = 0; k < kSide * kSide; ++k) {
                    const long row = mrow + k / kSide;
                    const long col = mcol + k % kSide;
                    if (row < r.r0 || row > r.r1 || col < r.c0 || col > r.c1) continue;
                    if (archive && archive->has(level + offset_, col, row)) {
                        ++kept_;
                        continue;
                    }
                    mask |= 1u << k;
                    ++total_;
                }
                if (mask) jobs_.push_back({level, mrow, mcol, mask});
            }
    }
}

// --list: the planned tiles, one LEVEL/COLUMN/ROW a line.
int Seed::list() const {
    for (const Job& j : jobs_)
        for (int k = 0; k < kseed::kMetatile * kseed::kMetatile; ++k)
            if (j.mask & (1u << k))
                std::printf("%d/%ld/%ld\n", j.level, j.mcol + k % kseed::kMetatile,
                            j.mrow + k / kseed::kMetatile);
    return std::fflush(stdout) == 0 ? 0 : 1;
}

// The output: refused when it exists (unless added to or replaced); the archive is written
// into a temporary file beside it. Nothing to go on, or the exit status (reported).
std::optional<int> Seed::open_archive() {
    struct stat st {};
    const bool exists = ::stat(o_.output.c_str(), &st) == 0;
    if (exists && !o_.resume && !o_.overwrite)
        return usage(o_.output + " exists: --resume adds to it (MBTiles), --overwrite replaces it");
    if (exists && !S_ISREG(st.st_mode)) return usage(o_.output + " is not a file");
    temp_.path = o_.output + ".kseed-XXXXXX";
    const int fd = ::mkstemp(temp_.path.data());
    if (fd < 0) {
        const int e = errno;
        temp_.path.clear();
        return usage("cannot write " + o_.output + ": " + std::strerror(e));
    }
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, exists ? (st.st_mode & 07777) : (0666 & ~mask));
    ::close(fd);
    std::string error;
    if (o_.format == Format::kPmtiles) {
        archive_ = kseed::PmtilesWriter::create(temp_.path, error);
    } else if (o_.resume && exists) {
        std::error_code ec;
        std::filesystem::copy_file(o_.output, temp_.path,
                                   std::filesystem::copy_options::overwrite_existing, ec);
        if (ec) {
            std::fprintf(stderr, "kseed: cannot copy %s: %s\n", o_.output.c_str(),
                         ec.message().c_str());
            return 1;
        }
        auto mbtiles = kseed::MbtilesWriter::open(temp_.path, error);
        if (!mbtiles) return usage("--resume: " + o_.output + ": " + error);
        const std::string format = o_.vector ? "pbf" : "png";
        if (mbtiles->existing_format() != format)
            return usage("--resume: " + o_.output + " holds tiles of format " +
                         mbtiles->existing_format() + ", not " + format);
        if (const int was = mbtiles->existing_scale(); was != o_.scale)
            return usage("--resume: " + o_.output + " holds tiles of scale " + std::to_string(was) +
                         ", not " + std::to_string(o_.scale));
        archive_ = std::move(mbtiles);
    } else {
        archive_ = kseed::MbtilesWriter::create(temp_.path, error);
    }
    if (!archive_) {
        std::fprintf(stderr, "kseed: %s\n", error.c_str());
        return 1;
    }
    return std::nullopt;
}

// The workers, each with the data set loaded (inherited). False (reported) when one cannot
// be started.
bool Seed::start_workers() {
    std::fflush(nullptr);
    workers_.resize(
        static_cast<size_t>(std::max<size_t>(1, std::min<size_t>(o_.workers, jobs_.size()))));
    if (jobs_.empty()) workers_.clear();
    for (Worker& w : workers_) {
        int job_pipe[2], result_pipe[2];
        if (::pipe2(job_pipe, O_CLOEXEC) != 0 || ::pipe2(result_pipe, O_CLOEXEC) != 0) {
            std::perror("kseed: pipe");
            return false;
        }
        w.pid = ::fork();
        if (w.pid == 0) {
            ::close(job_pipe[1]);
            ::close(result_pipe[0]);
            for (Worker& other : workers_) {
                if (&other == &w) break;
                ::close(other.jobs);
                ::close(other.results);
            }
            work(tiles_, o_, job_pipe[0], result_pipe[1]);
        }
        ::close(job_pipe[0]);
        ::close(result_pipe[1]);
        w.jobs = job_pipe[1];
        w.results = result_pipe[0];
        if (w.pid < 0) {
            std::perror("kseed: fork");
            return false;
        }
    }
    return true;
}

// Hands `w` jobs until it has kJobsInFlight. False when it stopped.
bool Seed::feed(Worker& w) {
    while (w.in_flight < kJobsInFlight && next_ < jobs_.size()) {
        if (!write_all(w.jobs, &jobs_[next_], sizeof(Job))) return false;
        w.last = jobs_[next_++];
        ++w.in_flight;
        ++busy_;
    }
    return true;
}

// The progress line, at most four times a second (and the `last` one).
void Seed::show(bool last) {
    const double t = elapsed();
    if (!progress_ || (!last && t - shown_ < 0.25)) return;
    shown_ = t;
    const double rate = t > 0 ? done_ / t : 0;
    std::fprintf(stderr, "\rkseed: %llu of %llu tiles (%d%%), %.0f tiles/s, %s left   ",
                 static_cast<unsigned long long>(done_), static_cast<unsigned long long>(total_),
                 total_ ? static_cast<int>(100 * done_ / total_) : 100, rate,
                 rate > 0 ? duration((total_ - done_) / rate).c_str() : "?");
    if (last) std::fputc('\n', stderr);
}

// Reads what `w` sent and adds its tiles to the archive (an empty vector tile is left out).
// False, with `failure` set, when the worker stopped or failed or the archive refused a tile.
bool Seed::take(Worker& w, std::string& failure) {
    std::vector<char> chunk(1 << 16);
    const ssize_t n = ::read(w.results, chunk.data(), chunk.size());
    if (n < 0 && errno == EINTR) return true;
    if (n <= 0) {
        char what[160];
        std::snprintf(what, sizeof what,
                      "a worker stopped while making level %d, metatile at row %ld, column %ld",
                      w.last.level, w.last.mrow, w.last.mcol);
        failure = what;
        return false;
    }
    w.buffer.append(chunk.data(), static_cast<size_t>(n));
    size_t at = 0;
    std::string error;
    while (failure.empty() && w.buffer.size() - at >= sizeof(Message)) {
        Message m;
        std::memcpy(&m, w.buffer.data() + at, sizeof m);
        if (w.buffer.size() - at - sizeof m < m.length) break;
        const std::string_view body(w.buffer.data() + at + sizeof m, m.length);
        at += sizeof m + m.length;
        if (m.kind == kError) {
            failure = std::string(body);
        } else if (m.kind == kDone) {
            --w.in_flight;
            --busy_;
            if (!feed(w)) failure = "a worker stopped";
        } else if (body.empty()) {
            ++done_;
            ++empty_;
        } else if (!archive_->add(m.level + offset_, static_cast<long>(m.col),
                                  static_cast<long>(m.row), body, error)) {
            failure = error;
        } else {
            ++done_;
        }
    }
    w.buffer.erase(0, at);
    return failure.empty();
}

// Hands out the jobs and collects the tiles until all are done, a worker fails or a signal
// comes. The failure, or "".
std::string Seed::collect() {
    std::string failure;
    for (Worker& w : workers_)
        if (!feed(w)) failure = "a worker stopped";
    std::vector<pollfd> fds(workers_.size());
    while (failure.empty() && busy_ > 0 && !g_signal) {
        for (size_t i = 0; i < workers_.size(); ++i)
            fds[i] = {workers_[i].results, static_cast<short>(workers_[i].in_flight ? POLLIN : 0),
                      0};
        const int ready = ::poll(fds.data(), fds.size(), 250);
        show(false);
        if (ready <= 0) continue;
        for (size_t i = 0; i < workers_.size() && failure.empty(); ++i)
            if (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) take(workers_[i], failure);
    }
    return failure;
}

// What the archive's metadata says of its tiles.
kseed::ArchiveInfo Seed::archive_info() const {
    kseed::ArchiveInfo info;
    info.name = o_.name;
    info.attribution = o_.attribution;
    info.description = o_.description;
    info.version = o_.format == Format::kPmtiles ? "1.0.0" : "";
    info.minzoom = o_.zmin + offset_;
    info.maxzoom = o_.zmax + offset_;
    const Box ll = area_ll_ ? *area_ll_ : tiles_.extent_lonlat();
    info.bounds[0] = ll.minx;
    info.bounds[1] = ll.miny;
    info.bounds[2] = ll.maxx;
    info.bounds[3] = ll.maxy;
    info.center[0] = (ll.minx + ll.maxx) / 2;
    info.center[1] = (ll.miny + ll.maxy) / 2;
    // The first level at which the area is at least two tiles wide.
    info.center_zoom = o_.zmax + offset_;
    for (int level = o_.zmin; level <= o_.zmax; ++level) {
        const Range r = range_of(tiles_.matrices(o_.set)[level], area_);
        if (r.c1 - r.c0 >= 1) {
            info.center_zoom = level + offset_;
            break;
        }
    }
    info.scale = o_.scale;
    if (o_.vector) {
        info.format = "pbf";
        info.vector_layers = kmaps::vector_layers_json(info.minzoom, info.maxzoom);
    }
    // A vector tile is drawn at 512 pixels over the ground of a 256-pixel picture tile: its
    // grid is that of the pictures at scale 2.
    if (o_.format == Format::kPmtiles)
        info.json_members = grid_json(tiles_, o_.set, offset_, o_.zmax, o_.vector ? 2 : o_.scale);
    return info;
}

// Finishes the archive, puts it in place of the output and prints the summary.
int Seed::finish() {
    const double w = elapsed();
    std::string error;
    if (!archive_->finish(archive_info(), error)) {
        std::fprintf(stderr, "kseed: %s\n", error.c_str());
        return 1;
    }
    const uint64_t stored = archive_->tiles(), distinct = archive_->contents();
    archive_.reset();
    if (g_signal) {
        std::fprintf(stderr, "kseed: stopped by a signal; %s was left as it was\n",
                     o_.output.c_str());
        return 128 + g_signal;
    }
    const int out = ::open(temp_.path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = out >= 0 && ::fsync(out) == 0;
    if (out >= 0) ::close(out);
    if (!synced || ::rename(temp_.path.c_str(), o_.output.c_str()) != 0) {
        std::fprintf(stderr, "kseed: cannot write %s: %s\n", o_.output.c_str(),
                     std::strerror(errno));
        return 1;
    }
    temp_.keep = true;
    struct stat written {};
    ::stat(o_.output.c_str(), &written);
    const std::string empty =
        empty_ ? ", " + std::to_string(empty_) + " empty ones left out" : std::string();
    std::printf(
        "kseed: %llu %s at levels %d-%d in %.1f s (%.0f tiles/s)%s%s; %s holds "
        "%llu tiles, %llu distinct, %s\n",
        static_cast<unsigned long long>(done_), o_.vector ? "vector tiles made" : "tiles drawn",
        o_.zmin, o_.zmax, w, w > 0 ? done_ / w : 0.0, empty.c_str(),
        kept_ ? (", " + std::to_string(kept_) + " already there").c_str() : "", o_.output.c_str(),
        static_cast<unsigned long long>(stored), static_cast<unsigned long long>(distinct),
        megabytes(static_cast<uint64_t>(written.st_size)).c_str());
    return 0;
}

int Seed::run() {
    // From here on a signal stops the run where it is checked (at the latest in the loop that
    // collects the tiles), so that the temporary file never outlives it.
    struct sigaction sa {};
    sa.sa_handler = on_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    if (const auto end = load()) return *end;
    if (o_.list) {
        plan(nullptr);
        return list();
    }
    if (const auto end = open_archive()) return *end;
    plan(archive_.get());
    if (!start_workers()) {
        stop_workers(workers_);
        return 1;
    }
    progress_ = !o_.quiet && ::isatty(2);
    started_ = std::chrono::steady_clock::now();
    const std::string failure = collect();
    stop_workers(workers_);
    if (g_signal) {
        if (progress_) std::fputc('\n', stderr);
        archive_.reset();
        std::fprintf(stderr, "kseed: stopped by a signal; %s was left as it was\n",
                     o_.output.c_str());
        return 128 + g_signal;
    }
    if (!failure.empty()) {
        if (progress_) std::fputc('\n', stderr);
        std::fprintf(stderr, "kseed: %s\n", failure.c_str());
        return 1;
    }
    show(true);
    return finish();
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const auto end = parse(argc, argv, o)) return *end;
    return Seed(o).run();
}
