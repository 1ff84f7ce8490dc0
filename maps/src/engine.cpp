// engine.cpp: the engine's views, exports, queries and reports, as maps need them.
#include "kmaps/engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <string_view>
#include <unordered_map>

#include "data/format.h"
#include "data/limits.h"
#include "data/reader.h"
#include "data/store.h"
#include "kcommon/big5.h"
#include "kcommon/hash.h"
#include "kcommon/numbers.h"
#include "kestrel.h"
#include "kgdi.h"
#include "kmaps/drawing.h"
#include "query/query.h"
#include "render/palette.h"
#include "render/view.h"
#include "surface.h"

namespace kmaps {

namespace data = kestrel::data;
namespace format = kestrel::data::format;
namespace query = kestrel::query;
namespace render = kestrel::render;

namespace {

std::string rtrim(std::string s) {
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return s;
}

// The whole number after the blanks at the start of `rest`, up to the next blank or the end,
// which `rest` then starts at; nothing when there is none.
std::optional<long> next_number(std::string_view& rest) {
    const size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos) return std::nullopt;
    rest.remove_prefix(start);
    const size_t end = std::min(rest.find(' '), rest.size());
    const auto n = kcommon::parse_int(rest.substr(0, end), std::numeric_limits<long>::min(),
                                      std::numeric_limits<long>::max());
    rest.remove_prefix(end);
    if (!n) return std::nullopt;
    return static_cast<long>(*n);
}

// Reads the points of a report file: each line is a name of `width` bytes, blanks, X, a
// blank, Y and (for points of interest) two blanks and a note.
std::vector<Place> read_report(const std::string& path, size_t width) {
    std::vector<Place> out;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.size() < width) continue;
        Place p;
        p.name = big5_to_utf8(rtrim(line.substr(0, width)));
        std::string_view rest = std::string_view(line).substr(width);
        const auto x = next_number(rest);
        const auto y = x ? next_number(rest) : std::nullopt;
        if (!y) continue;
        p.x = *x;
        p.y = *y;
        const size_t start = rest.find_first_not_of(' ');
        if (start != std::string_view::npos)
            p.note = big5_to_utf8(rtrim(std::string(rest.substr(start))));
        out.push_back(std::move(p));
    }
    return out;
}

// The engine writes its reports into fixed files of the user's folder; every process of the
// user that makes reports takes this lock across the call and the read of the file, so two
// workers never read each other's report.
class ReportLock {
  public:
    ReportLock() {
        dir_ = std::string(query::kReportBase) + "/" + query::kReportFolderPrefix +
               std::to_string(geteuid()) + "/";
        ::mkdir(dir_.c_str(), 0700);  // the engine checks the folder's owner and mode itself
        fd_ = ::open((dir_ + ".kserve-reports.lock").c_str(),
                     O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }
    ~ReportLock() {
        if (fd_ >= 0) ::close(fd_);  // closing releases the lock
    }
    bool held() const { return fd_ >= 0; }
    std::string file(const char* name) const { return dir_ + name; }

  private:
    std::string dir_;
    int fd_ = -1;
};

template <typename Call>
std::optional<std::vector<Place>> report(const char* file, int width, Call call) {
    ReportLock lock;
    if (!lock.held()) return std::nullopt;
    const std::string path = lock.file(file);
    ::unlink(path.c_str());
    const int last = call();
    if (last < 0) {
        // Empty report or no report at all: the file tells them apart.
        if (::access(path.c_str(), R_OK) != 0) return std::nullopt;
        return std::vector<Place>{};
    }
    return read_report(path, static_cast<size_t>(width));
}

// The categories of the points of interest, ascending: those of the records of every tile's
// block, read as the engine reads them (data/reader.h).
std::vector<int> read_categories(const std::string& dir) {
    std::set<int> cats;
    data::PoiIndex index;
    std::FILE* head = std::fopen((dir + format::kPoiFile).c_str(), "rb");
    if (head == nullptr) return {};
    data::read_poi_index(head, index);
    std::fclose(head);
    data::DataFile points;
    if (!points.open_path((dir + format::kPoiFile).c_str())) return {};
    std::vector<uint8_t> block;
    for (int e = 0; e < data::POI_INDEX_ENTRIES; ++e) {
        if (!data::is_tile_block(index, e)) continue;
        block.resize(static_cast<size_t>(data::poi_block_count(index[e])) * data::POI_RECORD_BYTES);
        const int count = data::read_poi_records(points, index[e], block);
        for (int i = 0; i < count; ++i) cats.insert(data::poi_record_at(block.data(), i).category);
    }
    return {cats.begin(), cats.end()};
}

// The district codes of the district index, ascending, as the engine keeps them.
std::vector<int> read_districts(const std::string& dir) {
    std::set<int> codes;
    if (std::FILE* d4 = std::fopen((dir + format::kTileIndexFile).c_str(), "r")) {
        data::TileIndexReader in(d4);
        data::TileIndexLine line{};
        while (in.next(&line)) codes.insert(line.district);
        std::fclose(d4);
    }
    return {codes.begin(), codes.end()};
}

}  // namespace

namespace {

// The colour of the text the caller writes (the engine's labels and names).
constexpr COLORREF kTextColour = RGB(0, 0, 0);

COLORREF colorref(unsigned rgb) {
    return RGB((rgb >> 16) & 255, (rgb >> 8) & 255, rgb & 255);
}

void fill(HDC dc, int w, int h, COLORREF c) {
    const RECT all{0, 0, w, h};
    HBRUSH brush = CreateSolidBrush(c);
    FillRect(dc, &all, brush);
    DeleteObject(brush);
}

// Draws a view into a surface of its size; the whole surface is painted first, so a surface
// kept from an earlier view shows nothing of it.
// At factor 1 the render area's view is dlldraw's; above it the same map is drawn with that
// many times the pixels, and the points of interest drawn after it follow its factor. The
// tiles are drawn in the view's tile order (render::DrawingOrder::kTileList), not in cache
// slot order, so the picture depends on the request alone: never on the maps, tiles and
// queries that the worker answered before.
bool draw_into(HDC dc, int left, int top, int width, int height, double scale, bool map,
               const std::vector<int>& pois, COLORREF background, int factor) {
    fill(dc, width, height, background);
    SetTextColor(dc, kTextColour);
    SetBkMode(dc, TRANSPARENT);
    if (render::draw_view(dc, left, top, width, height, scale, kMapLayers, view_options(factor)) !=
        0)
        return false;
    if (!map) fill(dc, width, height, background);
    for (int category : pois) dlldraw44(category, map ? 2 : 3);
    return true;
}

}  // namespace

std::string big5_to_utf8(const std::string& big5) {
    return *kcommon::big5_to_utf8(big5, kcommon::BadBig5::replace);
}

std::optional<std::string> utf8_to_big5(const std::string& utf8) {
    return kcommon::utf8_to_big5(utf8, kcommon::NoBig5::fail);
}

bool Engine::load(const std::string& dir) {
    dir_ = dir;
    palettes_.reset();  // a palette holds the base map's colours
    if (dir_.empty() || dir_.back() != '/') dir_ += '/';
    if (dllsetpath(dir_.c_str()) != 1) return false;

    // Extent and fingerprint from the folder's files.
    std::vector<std::pair<std::string, struct stat>> files;
    if (DIR* d = ::opendir(dir_.c_str())) {
        while (dirent* e = ::readdir(d)) {
            if (e->d_name[0] == '.') continue;
            struct stat st {};
            if (::stat((dir_ + e->d_name).c_str(), &st) == 0 && S_ISREG(st.st_mode))
                files.emplace_back(e->d_name, st);
        }
        ::closedir(d);
    }
    std::sort(files.begin(), files.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    uint64_t h = kcommon::kFnvOffsetBasis;
    long mincol = 1000000, maxcol = -1, minrow = 1000000, maxrow = -1;
    for (const auto& [name, st] : files) {
        h = kcommon::fnv1a(name.data(), name.size() + 1, h);
        const long long meta[3] = {static_cast<long long>(st.st_size),
                                   static_cast<long long>(st.st_mtim.tv_sec),
                                   static_cast<long long>(st.st_mtim.tv_nsec)};
        h = kcommon::fnv1a(meta, sizeof meta, h);
        // Tile files of tiles above 0, named as the engine reads them ("<number>.dat").
        if (int32_t number = 0; data::tile_file_number(name, &number) && number > 0) {
            mincol = std::min<long>(mincol, data::tile_column(number));
            maxcol = std::max<long>(maxcol, data::tile_column(number));
            minrow = std::min<long>(minrow, data::tile_row(number));
            maxrow = std::max<long>(maxrow, data::tile_row(number));
        }
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h));
    fingerprint_ = hex;
    if (maxcol >= 0)
        extent_ = {mincol * double{data::TILE_SIZE_M}, minrow * double{data::TILE_SIZE_M},
                   (maxcol + 1) * double{data::TILE_SIZE_M},
                   (maxrow + 1) * double{data::TILE_SIZE_M}};
    else
        extent_ = {150000, 2420000, 350000, 2800000};

    categories_ = read_categories(dir_);
    districts_ = read_districts(dir_);
    return true;
}

// What the last check of each tile file found: the file as it was then (inode, size, time)
// and why it cannot be used ("" when sound).
struct Engine::TileChecks {
    struct Seen {
        ino_t ino = 0;
        off_t size = 0;
        int64_t mtime_ns = 0;
        std::string why;
    };
    std::unordered_map<int32_t, Seen> seen;
    std::unique_ptr<data::TileSlot> slot;  // the decoder's target (1.5 MB), made once
    std::unique_ptr<uint8_t[]> bytes;      // room for a whole file, touched as far as one reaches

    // Why the tile file at `path` cannot be used, "" when sound: it is opened without waiting
    // (a FIFO put in its place would block), then read whole and decoded as the engine reads it
    // (data::read_tile_file).
    std::string check(const std::string& path) {
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) return std::string("cannot be read: ") + std::strerror(errno);
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            return "is not a regular file";
        }
        std::FILE* file = ::fdopen(fd, "rb");
        if (file == nullptr) {
            const int error = errno;
            ::close(fd);
            return std::string("cannot be read: ") + std::strerror(error);
        }
        if (!slot) slot = std::make_unique<data::TileSlot>();
        if (!bytes) bytes = std::make_unique_for_overwrite<uint8_t[]>(data::WORK_BUFFER_SIZE);
        const char* refusal = data::read_tile_file(
            file, data::TileFileBuffer(bytes.get(), data::WORK_BUFFER_SIZE), *slot);
        std::fclose(file);
        return refusal ? std::string("is damaged: ") + refusal : std::string();
    }
};

namespace {
// The 1x pixels of a side drawn at `factor`, rounded up: the world window to check covers the
// whole picture.
int ceil_div(int pixels, int factor) {
    return (pixels + factor - 1) / factor;
}
}  // namespace

bool Engine::fault(const std::string& name, const std::string& why) {
    tile_fault_ = name;
    tile_fault_.append(": ").append(why);
    return false;
}

bool Engine::tiles_sound(int left, int top, int width, int height, double scale) {
    if (extent_.maxx <= extent_.minx) return true;
    if (!checks_) checks_ = std::make_unique<TileChecks>();
    // The tiles the engine lists for the view (rows south to north, columns west to east),
    // kept to those of the data set's extent.
    const double T = data::TILE_SIZE_M;
    const auto clamp_to = [](double v, double lo, double hi) {
        return static_cast<long>(std::clamp(std::trunc(v), lo, hi));
    };
    const double lo_col = extent_.minx / T, hi_col = extent_.maxx / T - 1;
    const double lo_row = extent_.miny / T, hi_row = extent_.maxy / T - 1;
    const long west = clamp_to(left / T, lo_col, hi_col + 1);
    const long east = clamp_to((left + width * scale) / T, lo_col - 1, hi_col);
    const long north = clamp_to(top / T, lo_row - 1, hi_row);
    const long south = clamp_to((top - height * scale) / T, lo_row, hi_row + 1);
    for (long row = south; row <= north; ++row)
        for (long col = west; col <= east; ++col) {
            const auto tile =
                data::tile_number(static_cast<int32_t>(row), static_cast<int32_t>(col));
            char name_bytes[data::kTileFileNameBytes];
            data::tile_file_name("", tile, name_bytes, sizeof name_bytes);
            const std::string name = name_bytes;
            const std::string path = dir_ + name;
            auto& seen = checks_->seen[tile];
            std::string why;
            struct stat st {};
            if (::stat(path.c_str(), &st) != 0) {
                if (errno == ENOENT || errno == ENOTDIR) {
                    seen = {};
                    continue;  // no data there
                }
                why = std::string("cannot be read: ") + std::strerror(errno);
                seen.ino = 0;
            } else if (!S_ISREG(st.st_mode)) {
                why = "is not a regular file";
                seen.ino = 0;
            } else {
                const int64_t mtime = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
                if (seen.ino == st.st_ino && seen.size == st.st_size && seen.mtime_ns == mtime) {
                    if (seen.why.empty()) continue;
                    return fault(name, seen.why);
                }
                seen.ino = st.st_ino;
                seen.size = st.st_size;
                seen.mtime_ns = mtime;
                why = checks_->check(path);
            }
            if (why != seen.why && tile_news_) tile_news_(path, why);
            seen.why = why;
            if (!why.empty()) return fault(name, why);
        }
    return true;
}

Engine::Engine() = default;
Engine::~Engine() = default;

// The palettes of the surfaces' clear colours met so far (a handful: white, the transparent
// key, the backgrounds asked for), each with the colour table it was made with.
struct Engine::Palettes {
    struct Kept {
        COLORREF clear;
        std::array<COLORREF, render::COLOUR_ENTRIES> table;
        render::MapPalette palette;
    };
    static constexpr size_t kKept = 8;
    std::vector<Kept> kept;
};

const render::MapPalette* Engine::palette(unsigned clear) {
    if (!eight_bit_) return nullptr;
    if (!palettes_) palettes_ = std::make_unique<Palettes>();
    std::array<COLORREF, render::COLOUR_ENTRIES> table{};
    const render::ColourEntry* entries = render::colour_table();
    for (int i = 0; i < render::COLOUR_ENTRIES; ++i) table[i] = render::colour_of(entries[i]);
    const COLORREF clear_colour = colorref(clear);
    auto& kept = palettes_->kept;
    auto found = std::find_if(kept.begin(), kept.end(), [&](const Palettes::Kept& k) {
        return k.clear == clear_colour && k.table == table;
    });
    if (found == kept.end()) {
        if (kept.size() == Palettes::kKept) kept.erase(kept.begin());
        // The caller's colours: the clear colour first (entry 0), then the text's.
        const COLORREF own[] = {clear_colour, kTextColour};
        kept.push_back({clear_colour, table, render::map_palette(own, 2)});
        found = kept.end() - 1;
    }
    return found->palette.complete ? &found->palette : nullptr;
}

Engine::Surface& Engine::surface(int width, int height, const render::MapPalette* palette,
                                 std::unique_ptr<Surface>& once) {
    // A map or tile is drawn on a surface of the same size request after request: keeping it
    // saves making, clearing and freeing its pixels each time. One surface of up to 1024 x 1024
    // pixels is kept (maps, 1x metatiles) and one larger (2x metatiles, and 3x ones in 8 bits)
    // of up to 16 MB; larger ones (warped views, 3x metatiles in 32 bits) are made for the
    // request alone, so that a worker does not hold their memory.
    constexpr int64_t kKeptPixels = int64_t{1024} * 1024;
    constexpr int64_t kKeptLargeBytes = int64_t{16} << 20;
    const int64_t pixels = int64_t{width} * height;
    const int64_t bytes = pixels * (palette ? 1 : 4);
    std::unique_ptr<Surface>& kept = pixels > kKeptPixels ? kept_large_ : kept_;
    if (kept && kept->width == width && kept->height == height && kept->draws(palette))
        return *kept;
    auto fresh = palette ? std::make_unique<Surface>(width, height, *palette)
                         : std::make_unique<Surface>(width, height);
    if (bytes > kKeptLargeBytes || !fresh->ok()) {
        once = std::move(fresh);
        return *once;
    }
    kept = std::move(fresh);
    return *kept;
}

bool Engine::draw_surface(int left, int top, int width, int height, double scale, bool map,
                          const std::vector<int>& pois, bool transparent, unsigned background,
                          int factor, std::unique_ptr<Surface>& once, Drawn& drawn) {
    if (map && !tiles_sound(left, top, ceil_div(width, factor), ceil_div(height, factor), scale))
        return false;
    const COLORREF back = transparent ? kTransparentKey : colorref(background);
    const Surface& s = surface(width, height, palette(word_of(back)), once);
    if (!s.ok()) return false;
    if (!draw_into(s.dc, left, top, width, height, scale, map, pois, back, factor)) return false;
    drawn.width = width;
    drawn.height = height;
    drawn.depth = s.depth;
    last_bits_ = s.depth;
    if (s.depth == 8) {
        BITMAP bm{};
        if (GetObjectA(s.bitmap, sizeof bm, &bm) == 0 || bm.bmBits == nullptr ||
            bm.bmWidth != width || bm.bmHeight != height || bm.bmBitsPixel != 8 ||
            bm.bmWidthBytes < width)
            return false;
        drawn.bits = static_cast<const unsigned char*>(bm.bmBits);
        drawn.stride = static_cast<size_t>(bm.bmWidthBytes);
        drawn.table = s.table.data();
    } else {
        KgdiSurface px{};
        if (!KgdiGetSurface(s.dc, &px) || px.width != width || px.height != height ||
            px.stride < int64_t{width} * 4 || px.stride % 4 != 0)
            return false;
        drawn.bits = reinterpret_cast<const unsigned char*>(px.pixels);
        drawn.stride = static_cast<size_t>(px.stride);
    }
    if (transparent) drawn.key = word_of(kTransparentKey);
    return true;
}

std::optional<Image> Engine::draw(int left, int top, int width, int height, double scale, bool map,
                                  const std::vector<int>& pois, bool transparent,
                                  unsigned background, int factor) {
    std::unique_ptr<Surface> once;
    Drawn d;
    if (!draw_surface(left, top, width, height, scale, map, pois, transparent, background, factor,
                      once, d))
        return std::nullopt;
    return d.picture();
}

std::optional<std::string> Engine::draw_file(int left, int top, int width, int height, double scale,
                                             bool map, const std::vector<int>& pois,
                                             bool transparent, unsigned background, int factor,
                                             bool gif) {
    std::unique_ptr<Surface> once;
    Drawn d;
    if (!draw_surface(left, top, width, height, scale, map, pois, transparent, background, factor,
                      once, d))
        return std::nullopt;
    // A map has a few dozen colours: the palette picture comes from the surface in one pass,
    // with no 32-bit copy of the picture in between.
    Paletted p;
    if (!d.paletted(0, 0, width, height, p)) {
        const Image im = d.picture();
        return gif ? encode_gif(im) : encode_png(im);
    }
    return gif ? encode_gif(p) : encode_png(p);
}

std::optional<std::string> Engine::draw_png(int left, int top, int width, int height, double scale,
                                            bool map, const std::vector<int>& pois,
                                            bool transparent, unsigned background, int factor) {
    return draw_file(left, top, width, height, scale, map, pois, transparent, background, factor,
                     false);
}

std::optional<std::string> Engine::draw_gif(int left, int top, int width, int height, double scale,
                                            bool map, const std::vector<int>& pois,
                                            bool transparent, unsigned background, int factor) {
    return draw_file(left, top, width, height, scale, map, pois, transparent, background, factor,
                     true);
}

std::optional<std::vector<std::string>> Engine::draw_tiles_png(int left, int top, int cols,
                                                               int rows, int side, double scale,
                                                               int factor) {
    std::unique_ptr<Surface> once;
    Drawn d;
    constexpr unsigned kWhite = 0xFFFFFF;
    if (!draw_surface(left, top, cols * side, rows * side, scale, true, {}, false, kWhite, factor,
                      once, d))
        return std::nullopt;
    std::vector<std::string> files;
    if (d.depth == 8) {
        std::vector<Paletted> row;
        for (int r = 0; r < rows; ++r) {
            d.paletted_tiles(r * side, side, row);
            for (const Paletted& tile : row) files.push_back(encode_png(tile));
        }
        return files;
    }
    Paletted p;
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            if (d.paletted(c * side, r * side, side, side, p))
                files.push_back(encode_png(p));
            else
                files.push_back(encode_png(d.picture(c * side, r * side, side, side)));
        }
    return files;
}

std::string Engine::draw_bmp(int left, int top, int width, int height, double scale, bool map,
                             const std::vector<int>& pois, unsigned background, int factor) {
    if (map && !tiles_sound(left, top, ceil_div(width, factor), ceil_div(height, factor), scale))
        return {};
    // A 32-bit surface: the export reads the engine's own view of it.
    std::unique_ptr<Surface> once;
    const Surface& s = surface(width, height, nullptr, once);
    if (!s.ok() ||
        !draw_into(s.dc, left, top, width, height, scale, map, pois, colorref(background), factor))
        return {};
    // The export writes at most the uncompressed size; the answer keeps only what it wrote,
    // not the room it was given (16 MB for a 4096 x 4096 map).
    // It is not cleared first: only the bytes the export writes are read.
    const std::unique_ptr<unsigned char[]> room(
        new unsigned char[1078 + static_cast<size_t>(width) * height]);
    const int n = sdllgetbmp(room.get());
    if (n < 0 || static_cast<size_t>(n) > static_cast<size_t>(width) * height) return {};
    return std::string(reinterpret_cast<const char*>(room.get()), 1078 + static_cast<size_t>(n));
}

std::optional<Road> Engine::road_at(int x, int y, double scale) {
    char text[query::ROAD_TEXT_BYTES] = {};
    double slope = 0;
    if (dllquroad2(x, y, scale, text, &slope) < 0) return std::nullopt;
    // Read the fixed fields, not a C string: a short road code leaves NUL bytes before the name.
    Road r;
    // District (3 digits) and type (1 digit), code, name.
    const char* code = text + query::ROAD_TEXT_CODE;
    const char* name = text + query::ROAD_TEXT_NAME;
    std::string_view district(text, 3);  // "%3d": blanks before the digits
    district.remove_prefix(std::min(district.find_first_not_of(' '), district.size()));
    r.district = static_cast<int>(kcommon::parse_int(district, -99, 999).value_or(0));
    r.type = text[3] - '0';
    r.code = std::string(code, strnlen(code, query::ROAD_CODE_BYTES));
    r.name = big5_to_utf8(rtrim(std::string(name, strnlen(name, data::NAME_BYTES))));
    r.slope = slope;
    return r;
}

std::optional<std::vector<Place>> Engine::district_roads(int code) {
    return report(query::DISTROAD_FILE, query::kRoadReportNameBytes,
                  [&] { return dlldistroad(code); });
}

std::optional<std::vector<Place>> Engine::meeting_roads(int code, const std::string& name_utf8) {
    const auto big5 = utf8_to_big5(name_utf8);
    if (!big5) return std::nullopt;
    char name[32] = {};
    std::strncpy(name, big5->c_str(), query::kRoadReportNameBytes);
    return report(query::DISTCRRD_FILE, query::kRoadReportNameBytes,
                  [&] { return dlldistcrrd(code, name); });
}

std::optional<std::vector<Place>> Engine::pois_of_district(int code, int category) {
    return report(query::DIST44_FILE, query::kPoiReportNameBytes,
                  [&] { return dlldist44(code, category); });
}

std::optional<std::vector<Place>> Engine::pois_near(int x, int y, int r, int category) {
    return report(query::DIST44_FILE, query::kPoiReportNameBytes,
                  [&] { return dlldistxy(x, y, r, category); });
}

std::optional<std::vector<Place>> Engine::pois_named(const std::string& text_utf8) {
    const auto big5 = utf8_to_big5(text_utf8);
    if (!big5) return std::nullopt;
    return report(query::DIST44_FILE, query::kPoiReportNameBytes,
                  [&] { return dlldistsearch(big5->c_str()); });
}

}  // namespace kmaps
