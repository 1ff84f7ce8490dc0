// source.cpp: opening a data set and reading a tile file's features, by the engine's readers.
#include "source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numeric>
#include <system_error>
#include <unordered_map>

#include "data/format.h"
#include "data/limits.h"
#include "geometry.h"
#include "kcommon/big5.h"

namespace kmaps::vector {

namespace data = kestrel::data;

namespace {

// Place label types of the tile files (the engine draws types 21 to 24 as labels).
constexpr int kFirstPlaceType = 21;
constexpr int kLastPlaceType = 24;
constexpr int kAreaType = 11;
constexpr int kLastLineType = 20;

// Lists the tile files of `dir`: the names that tile_file_number accepts.
bool list_tiles(const std::string& dir, std::vector<std::int32_t>& tiles, std::string& error) {
    std::error_code ec;
    std::filesystem::directory_iterator it(dir, ec);
    if (ec) {
        error = "cannot list the data set's folder " + dir + ": " + ec.message();
        return false;
    }
    for (const auto& entry : it) {
        std::int32_t tile = 0;
        if (data::tile_file_number(entry.path().filename().string(), &tile) && tile > 0)
            tiles.push_back(tile);
    }
    std::sort(tiles.begin(), tiles.end());
    return true;
}

// Reads alldist.txt: its labelled entries and its polylines. A data set without one has none.
void read_catalogue(const std::string& dir, DataSource::State& s) {
    std::FILE* file = std::fopen((dir + data::format::kCatalogueFile).c_str(), "rb");
    if (file == nullptr) return;
    data::CatalogueReader reader(file);
    data::CatalogueItem item{};
    CatalogueLine* line = nullptr;
    while (reader.next(&item)) {
        if (item.is_point) {
            if (line != nullptr) {
                line->xy.push_back(item.x);
                line->xy.push_back(item.y);
            }
            continue;
        }
        line = nullptr;
        if (item.kind == data::PLACE_POLYLINE) {
            s.lines.push_back(CatalogueLine{item.line, {}});
            line = &s.lines.back();
        } else {
            s.places.push_back(CataloguePlace{
                item.line, item.kind, utf8_text(item.name, sizeof item.name), item.x, item.y});
        }
    }
    std::fclose(file);
}

// The key of a grid point in a map.
std::uint64_t point_key(std::int32_t x, std::int32_t y) {
    return (std::uint64_t{static_cast<std::uint32_t>(x)} << 32) | static_cast<std::uint32_t>(y);
}

// Splits an area record, one ring in which holes hang on bridges that an even-odd fill cancels
// (and pieces may touch themselves), into simple loops at every point it comes back to. Loops
// without area are dropped.
void split_loops(const data::Vertex* v, int n, std::int64_t ox, std::int64_t oy,
                 geometry::Parts<geometry::Point>& loops) {
    loops.clear();
    thread_local std::vector<data::Vertex> stack;
    thread_local std::unordered_map<std::uint64_t, std::uint32_t> seen;
    stack.clear();
    seen.clear();
    for (int k = 0; k <= n; ++k) {
        const data::Vertex& p = v[k == n ? 0 : k];
        const auto found = seen.find(point_key(p.x, p.y));
        if (found == seen.end()) {
            seen.emplace(point_key(p.x, p.y), static_cast<std::uint32_t>(stack.size()));
            stack.push_back(p);
            continue;
        }
        // Back at an earlier point: the points since then are a loop.
        const std::uint32_t at = found->second;
        if (stack.size() - at >= 3) {
            for (std::size_t q = at; q < stack.size(); ++q)
                loops.points.push_back(
                    {static_cast<double>(ox + stack[q].x), static_cast<double>(oy + stack[q].y)});
            loops.close_part();
            if (geometry::ring_area2(loops.part(loops.size() - 1)) == 0) {
                loops.starts.pop_back();
                loops.drop_open();
            }
        }
        for (std::size_t q = at + 1; q < stack.size(); ++q)
            seen.erase(point_key(stack[q].x, stack[q].y));
        stack.resize(at + 1);
    }
}

// Adds an area's loops to the tile as one polygon: a loop inside an odd number of the others
// is a hole. Exteriors are wound clockwise in the grid (y north), holes the other way, which
// the tile's y-down units turn into the format's positive exteriors.
void add_polygon(const geometry::Parts<geometry::Point>& loops, SourceFeature& f, SourceTile& out) {
    f.first = static_cast<std::uint32_t>(out.xy.size() / 2);
    f.first_ring = static_cast<std::uint32_t>(out.ring_at.size() - 1);
    for (std::size_t i = 0; i < loops.size(); ++i) {
        const auto loop = loops.part(i);
        int depth = 0;
        for (std::size_t j = 0; j < loops.size(); ++j) {
            if (j == i) continue;
            const auto other = loops.part(j);
            bool in = false;
            const geometry::Point& p = loop[0];
            for (std::size_t a = 0, b = other.size() - 1; a < other.size(); b = a++)
                if ((other[a].y > p.y) != (other[b].y > p.y) &&
                    p.x <
                        (other[b].x - other[a].x) * (p.y - other[a].y) / (other[b].y - other[a].y) +
                            other[a].x)
                    in = !in;
            depth += in;
        }
        const bool hole = depth % 2 == 1;
        const bool clockwise = geometry::ring_area2(loop) < 0;
        const bool reverse = hole == clockwise;
        for (std::size_t k = 0; k < loop.size(); ++k) {
            const geometry::Point& p = loop[reverse ? loop.size() - 1 - k : k];
            out.xy.push_back(p.x);
            out.xy.push_back(p.y);
        }
        out.ring_at.push_back(static_cast<std::uint32_t>(out.xy.size() / 2));
        ++f.rings;
    }
    f.count = static_cast<std::uint32_t>(out.xy.size() / 2) - f.first;
}

// Appends the points of a line or of a point feature.
void add_points(const data::Vertex* v, int n, std::int64_t ox, std::int64_t oy, SourceFeature& f,
                SourceTile& out) {
    f.first = static_cast<std::uint32_t>(out.xy.size() / 2);
    f.count = static_cast<std::uint32_t>(n);
    for (int k = 0; k < n; ++k) {
        out.xy.push_back(static_cast<double>(ox + v[k].x));
        out.xy.push_back(static_cast<double>(oy + v[k].y));
    }
}

// The records of a decoded tile file: lines, roads and areas, and the place labels.
void add_records(const data::TileSlot& s, std::int32_t tile, SourceTile& out) {
    const std::int64_t ox = s.header.origin_x, oy = s.header.origin_y;
    thread_local geometry::Parts<geometry::Point> loops;
    const int last = data::last_record(s);
    // Room for every record and vertex at once (areas may take a few points more).
    out.features.reserve(out.features.size() + static_cast<std::size_t>(last + 1));
    out.xy.reserve(out.xy.size() + 2 * static_cast<std::size_t>(std::clamp(s.header.vertex_last + 1,
                                                                           0, data::MAX_VERTICES)));
    for (int r = 0; r <= last; ++r) {
        const data::FeatureRecord& rec = s.records[r];
        SourceFeature f{};
        f.type = rec.type;
        f.id = std::int64_t{tile} * kIdFactor + r;
        if (rec.type >= kFirstPlaceType && rec.type <= kLastPlaceType) {
            const data::Vertex* anchor = data::record_anchor(s, rec);
            const char* name = data::record_name(s, rec);
            if (anchor == nullptr || name == nullptr || name[0] == ' ') continue;
            f.layer = Layer::places;
            f.name = out.text(utf8_text(name, data::NAME_BYTES));
            f.kind = out.text(kKindLabel);
            add_points(anchor, 1, ox, oy, f, out);
            out.features.push_back(f);
            continue;
        }
        if (rec.type < 1 || rec.type > kLastLineType) continue;  // other points: not drawn
        int n = 0;
        const data::Vertex* v = data::record_vertices(s, rec, &n);
        if (v == nullptr || n < 2) continue;
        if (rec.type == kAreaType) {
            if (n < 3) continue;
            split_loops(v, n, ox, oy, loops);
            if (loops.size() == 0) continue;
            f.layer = Layer::areas;
            add_polygon(loops, f, out);
        } else {
            f.layer = data::is_road_type(rec.type) ? Layer::roads : Layer::lines;
            if (f.layer == Layer::roads) {
                if (const char* name = data::record_name(s, rec); name && name[0] != ' ')
                    f.name = out.text(utf8_text(name, data::NAME_BYTES));
                f.code = out.text(utf8_text(rec.code, sizeof rec.code));
                f.district = rec.district;
            }
            add_points(v, n, ox, oy, f, out);
        }
        out.features.push_back(f);
    }
}

// The notes of a block of points of interest, read in one piece: the notes from the least to
// the greatest index the block names (those that lie wholly inside the file), when the piece
// is no larger than a work buffer; otherwise each note is read on its own.
struct NoteRange {
    std::int64_t first = 0, count = 0;  // notes in buffers.notes

    // Note `note`'s 52 bytes, or null when it has none (a negative index, or past the file).
    const char* at(const DataSource::State& source, std::int32_t note, ReadBuffers& buffers) const {
        if (note < 0) return nullptr;
        if (note >= first && note < first + count)
            return reinterpret_cast<const char*>(buffers.notes.data()) +
                   (note - first) * data::POI_NOTE_BYTES;
        if (count > 0 || !data::read_poi_note(source.notes, note, buffers.note)) return nullptr;
        return buffers.note.data();
    }
};

NoteRange read_notes(const DataSource::State& source, ReadBuffers& buffers, int records) {
    std::int64_t lo = -1, hi = -1;
    for (int i = 0; i < records; ++i) {
        const std::int32_t n = data::poi_record_at(buffers.poi_block.data(), i).note;
        if (n < 0) continue;
        lo = lo < 0 ? n : std::min<std::int64_t>(lo, n);
        hi = std::max<std::int64_t>(hi, n);
    }
    hi = std::min(hi, source.notes.size() / data::POI_NOTE_BYTES - 1);
    if (lo < 0 || hi < lo ||
        (hi - lo + 1) * data::POI_NOTE_BYTES > static_cast<std::int64_t>(data::WORK_BUFFER_SIZE))
        return {};
    const auto bytes = static_cast<std::size_t>(hi - lo + 1) * data::POI_NOTE_BYTES;
    buffers.notes.resize(bytes);
    if (!source.notes.read_at(lo * data::POI_NOTE_BYTES, buffers.notes.data(), bytes)) return {};
    return {lo, hi - lo + 1};
}

// The tile's points of interest, from its block as the engine finds it.
void add_pois(const DataSource::State& source, std::int32_t tile, ReadBuffers& buffers,
              SourceTile& out) {
    const int e = data::poi_block_entry(source.poi_index, tile);
    if (e < 0 || !data::is_tile_block(source.poi_index, e)) return;
    const data::PoiIndexEntry& entry = source.poi_index[e];
    buffers.poi_block.resize(static_cast<std::size_t>(data::poi_block_count(entry)) *
                             data::POI_RECORD_BYTES);
    const int count = data::read_poi_records(source.points, entry, buffers.poi_block);
    const double west = data::tile_west(tile);
    const double south = static_cast<double>(data::tile_south_wide(tile));
    const NoteRange notes = read_notes(source, buffers, count);
    out.features.reserve(out.features.size() + static_cast<std::size_t>(count));
    out.xy.reserve(out.xy.size() + 2 * static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        const data::PoiRecord r = data::poi_record_at(buffers.poi_block.data(), i);
        SourceFeature f{};
        f.layer = Layer::pois;
        f.type = r.category;
        f.district = r.district;
        f.id = std::int64_t{tile} * kIdFactor + i;
        f.name = out.text(utf8_text(r.name, data::POI_NAME_BYTES));
        if (const char* note = notes.at(source, r.note, buffers))
            f.note = out.text(utf8_text(note, data::POI_NOTE_BYTES));
        f.first = static_cast<std::uint32_t>(out.xy.size() / 2);
        f.count = 1;
        out.xy.push_back(west + r.x);
        out.xy.push_back(south + r.y);
        out.features.push_back(f);
    }
}

}  // namespace

std::string utf8_text(const char* bytes, std::size_t n) {
    std::string_view s(bytes, n);
    if (const std::size_t nul = s.find('\0'); nul != std::string_view::npos) s = s.substr(0, nul);
    while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
    return kcommon::big5_to_utf8(s, kcommon::BadBig5::replace).value_or(std::string());
}

void SourceTile::clear() {
    number = 0;
    features.clear();
    xy.clear();
    ring_at.assign(1, 0);
    texts.assign(1, std::string());
}

namespace {

constexpr int kWideCells = 16;  // a feature over more cells than this is kept aside

}  // namespace

void SourceTile::index() {
    double x0 = 1e300, y0 = 1e300, x1 = -1e300, y1 = -1e300;
    for (SourceFeature& f : features) {
        const double* p = xy.data() + 2 * std::size_t{f.first};
        f.minx = f.maxx = p[0];
        f.miny = f.maxy = p[1];
        for (std::uint32_t k = 1; k < f.count; ++k) {
            f.minx = std::min(f.minx, p[2 * static_cast<std::size_t>(k)]);
            f.maxx = std::max(f.maxx, p[2 * static_cast<std::size_t>(k)]);
            f.miny = std::min(f.miny, p[2 * k + 1]);
            f.maxy = std::max(f.maxy, p[2 * k + 1]);
        }
        x0 = std::min(x0, f.minx);
        y0 = std::min(y0, f.miny);
        x1 = std::max(x1, f.maxx);
        y1 = std::max(y1, f.maxy);
    }
    grid_x = x0;
    grid_y = y0;
    grid_cell = std::max({(x1 - x0) / kGridCells, (y1 - y0) / kGridCells, 1e-9});
    const std::size_t cells = std::size_t{kGridCells} * kGridCells;
    cell_at.assign(cells + 1, 0);
    wide.clear();
    // Two passes: count each cell's features, then place them.
    for (int pass = 0; pass < 2; ++pass) {
        if (pass == 1) {
            for (std::size_t c = 0; c < cells; ++c) cell_at[c + 1] += cell_at[c];
            cell_items.resize(cell_at[cells]);
        }
        std::vector<std::uint32_t> fill(cell_at.begin(), cell_at.end() - 1);
        for (std::uint32_t i = 0; i < features.size(); ++i) {
            const SourceFeature& f = features[i];
            int cx0, cy0, cx1, cy1;
            cells_of(f.minx, f.miny, f.maxx, f.maxy, cx0, cy0, cx1, cy1);
            if ((cx1 - cx0 + 1) * (cy1 - cy0 + 1) > kWideCells) {
                if (pass == 0) wide.push_back(i);
                continue;
            }
            for (int cy = cy0; cy <= cy1; ++cy)
                for (int cx = cx0; cx <= cx1; ++cx) {
                    const std::size_t c = static_cast<std::size_t>(cy) * kGridCells + cx;
                    if (pass == 0)
                        ++cell_at[c + 1];
                    else
                        cell_items[fill[c]++] = i;
                }
        }
    }
}

void SourceTile::cells_of(double minx, double miny, double maxx, double maxy, int& cx0, int& cy0,
                          int& cx1, int& cy1) const {
    const auto cell = [&](double v, double origin) {
        return static_cast<int>(
            std::clamp(std::floor((v - origin) / grid_cell), 0.0, double{kGridCells - 1}));
    };
    cx0 = cell(minx, grid_x);
    cx1 = cell(maxx, grid_x);
    cy0 = cell(miny, grid_y);
    cy1 = cell(maxy, grid_y);
}

void SourceTile::candidates(double minx, double miny, double maxx, double maxy,
                            std::vector<std::uint32_t>& out) const {
    int cx0, cy0, cx1, cy1;
    cells_of(minx, miny, maxx, maxy, cx0, cy0, cx1, cy1);
    if (cx0 == 0 && cy0 == 0 && cx1 == kGridCells - 1 && cy1 == kGridCells - 1) {
        // Every cell: every feature, without gathering and sorting them.
        out.resize(features.size());
        std::iota(out.begin(), out.end(), 0u);
        return;
    }
    out.assign(wide.begin(), wide.end());
    for (int cy = cy0; cy <= cy1; ++cy)
        for (int cx = cx0; cx <= cx1; ++cx) {
            const std::size_t c = static_cast<std::size_t>(cy) * kGridCells + cx;
            out.insert(out.end(), cell_items.begin() + cell_at[c],
                       cell_items.begin() + cell_at[c + 1]);
        }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

std::uint32_t SourceTile::text(std::string s) {
    if (s.empty()) return 0;
    texts.push_back(std::move(s));
    return static_cast<std::uint32_t>(texts.size() - 1);
}

bool read_source_tile(const DataSource::State& source, std::int32_t tile, ReadBuffers& buffers,
                      SourceTile& out, std::string& error) {
    out.clear();
    out.number = tile;
    char name[data::kTileFileNameBytes];
    bool refused = false;
    if (data::tile_file_name("", tile, name, sizeof name) &&
        std::binary_search(source.tiles.begin(), source.tiles.end(), tile)) {
        std::FILE* file = std::fopen((source.dir + name).c_str(), "rb");
        if (file != nullptr) {
            const char* why = data::read_tile_file(
                file, data::TileFileBuffer(buffers.file.get(), data::WORK_BUFFER_SIZE),
                *buffers.slot);
            std::fclose(file);
            if (why == nullptr) {
                add_records(*buffers.slot, tile, out);
            } else {
                error = std::string("tile file ") + name + ": " + why;
                refused = true;
            }
        }
    }
    add_pois(source, tile, buffers, out);
    return !refused;
}

DataSource::DataSource(std::unique_ptr<State> state) : state_(std::move(state)) {}
DataSource::~DataSource() = default;

const std::vector<std::int32_t>& DataSource::tiles() const {
    return state_->tiles;
}

const std::string& DataSource::dir() const {
    return state_->dir;
}

std::unique_ptr<DataSource> DataSource::open(const std::string& dir, std::string& error) {
    auto s = std::make_unique<State>();
    s->dir = dir;
    if (!s->dir.empty() && s->dir.back() != '/') s->dir += '/';
    if (!list_tiles(s->dir, s->tiles, error)) return nullptr;
    std::FILE* index = std::fopen((s->dir + data::format::kPoiFile).c_str(), "rb");
    if (index == nullptr) {
        error = std::string("cannot read ") + s->dir + data::format::kPoiFile;
        return nullptr;
    }
    data::read_poi_index(index, s->poi_index);
    std::fclose(index);
    // Without the files of records and notes, points of interest have no records or notes.
    s->points.open_path((s->dir + data::format::kPoiFile).c_str());
    s->notes.open_path((s->dir + data::format::kPoiNoteFile).c_str());
    read_catalogue(s->dir, *s);
    return std::unique_ptr<DataSource>(new DataSource(std::move(s)));
}

}  // namespace kmaps::vector
