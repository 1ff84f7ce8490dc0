// feature_store.cpp: roads from the tile files and points of interest from their files, a bounded
// number of blocks a page. The files are read by the data area's readers (data/reader.h), so
// that a feature is what the engine reads.
#include "kmaps/feature_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "data/format.h"
#include "data/limits.h"
#include "data/reader.h"
#include "data/store.h"
#include "kmaps/engine.h"

namespace kmaps {

namespace data = kestrel::data;

struct FeatureStore::Slot {
    data::TileSlot tile;
    // Room for a whole tile file, made without filling it: only the pages a file uses are
    // touched.
    std::unique_ptr<std::uint8_t[]> bytes =
        std::make_unique_for_overwrite<std::uint8_t[]>(data::WORK_BUFFER_SIZE);
};

namespace {

// Blank-padded Big5 text as UTF-8, trailing blanks removed.
std::string text(const char* bytes, std::size_t n) {
    std::string s(bytes, n);
    const size_t nul = s.find('\0');
    if (nul != std::string::npos) s.resize(nul);
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return big5_to_utf8(s);
}

// A point of interest's place in the grid: its offsets from its tile's south-west corner.
std::pair<double, double> poi_point(std::int32_t tile, const std::uint8_t* rec) {
    const data::PoiRecord r = data::poi_record_at(rec, 0);
    return {static_cast<double>(data::tile_west(tile)) + r.x,
            static_cast<double>(data::tile_south_wide(tile)) + r.y};
}

// The data set's file `name` in `dir`, open for reading.
bool open_file(data::DataFile& file, const std::string& dir, const char* name) {
    return file.open_path((dir + name).c_str());
}

bool meets(const Box& a, double minx, double miny, double maxx, double maxy) {
    return minx <= a.maxx && maxx >= a.minx && miny <= a.maxy && maxy >= a.miny;
}

// The tile rows and columns that `box` touches, limited to the tile numbering's range.
bool tile_range(const Box& box, std::int32_t& c0, std::int32_t& c1, std::int32_t& r0,
                std::int32_t& r1) {
    const double t = data::TILE_SIZE_M;
    const double lo_c = std::max(std::floor(box.minx / t), 0.0);
    const double hi_c = std::min(std::floor(box.maxx / t), double{data::kTileRowFactor - 1});
    const double lo_r = std::max(std::floor(box.miny / t), 0.0);
    const double hi_r = std::min(std::floor(box.maxy / t), double{data::kTileRowMax});
    if (!(lo_c <= hi_c) || !(lo_r <= hi_r)) return false;
    c0 = static_cast<std::int32_t>(lo_c);
    c1 = static_cast<std::int32_t>(hi_c);
    r0 = static_cast<std::int32_t>(lo_r);
    r1 = static_cast<std::int32_t>(hi_r);
    return true;
}

// True when the square of `tile` meets `box`. Features are looked for in the tiles (and point
// blocks) whose square the box meets: the importer cuts features at tile borders, so a
// feature lies in its tile's square.
bool tile_meets(std::int32_t tile, const Box& box) {
    const double w = data::tile_west(tile);
    const double s = static_cast<double>(data::tile_south_wide(tile));
    return meets(box, w, s, w + data::TILE_SIZE_M, s + data::TILE_SIZE_M);
}

// True when the segment from `a` to `b` meets `box`, edges included: the segment's parameter
// clipped to each of the box's four half-planes (Liang and Barsky) leaves an interval.
bool segment_meets(std::pair<double, double> a, std::pair<double, double> b, const Box& box) {
    double t0 = 0, t1 = 1;
    // The part of the segment where p t <= q.
    auto clip = [&](double p, double q) {
        if (p == 0) return q >= 0;
        const double t = q / p;
        if (p < 0) {
            if (t > t1) return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return false;
            t1 = std::min(t1, t);
        }
        return true;
    };
    const double dx = b.first - a.first, dy = b.second - a.second;
    return clip(-dx, a.first - box.minx) && clip(dx, box.maxx - a.first) &&
           clip(-dy, a.second - box.miny) && clip(dy, box.maxy - a.second);
}

bool inside(std::pair<double, double> p, const Box& box) {
    return meets(box, p.first, p.second, p.first, p.second);
}

// Turns the candidates' points into the query's system; false when they cannot be (then no
// candidate is selected).
bool to_query_system(const FeatureQuery& query, std::vector<std::pair<double, double>>& points) {
    return points.empty() || !query.to_box || query.to_box(points);
}

}  // namespace

FeatureQuery FeatureQuery::everything() {
    constexpr double kAll = 1e300;
    FeatureQuery q;
    q.grid = q.box = {-kAll, -kAll, kAll, kAll};
    return q;
}

FeatureStore::FeatureStore() : slot_(std::make_unique<Slot>()) {}
FeatureStore::~FeatureStore() = default;

bool FeatureStore::open(const std::string& dir, const Box& extent, std::string& error) {
    dir_ = dir;
    if (!dir_.empty() && dir_.back() != '/') dir_ += '/';
    tiles_.clear();
    std::int32_t c0, c1, r0, r1;
    // The grid's extent is the union of the tile files; a box just inside it.
    const Box inner{extent.minx + 0.5, extent.miny + 0.5, extent.maxx - 0.5, extent.maxy - 0.5};
    if (tile_range(inner, c0, c1, r0, r1))
        for (std::int32_t r = r0; r <= r1; ++r)
            for (std::int32_t c = c0; c <= c1; ++c) tiles_.push_back(data::tile_number(r, c));
    std::sort(tiles_.begin(), tiles_.end());

    blocks_.clear();
    std::FILE* points = std::fopen((dir_ + data::format::kPoiFile).c_str(), "rb");
    if (points == nullptr) {
        error = std::string("cannot read ") + data::format::kPoiFile;
        return false;
    }
    data::PoiIndex index;
    data::read_poi_index(points, index);
    std::fclose(points);
    // The blocks of the tiles, as the engine finds them.
    for (int e = 0; e < data::POI_INDEX_ENTRIES; ++e)
        if (data::is_tile_block(index, e))
            blocks_.push_back(PoiBlock{index[e].tile, index[e].last, index[e].offset});
    std::sort(blocks_.begin(), blocks_.end(),
              [](const PoiBlock& a, const PoiBlock& b) { return a.tile < b.tile; });
    return true;
}

FeatureStore::TileLoad FeatureStore::load_tile(std::int32_t tile) {
    if (loaded_ == tile) return TileLoad::loaded;
    loaded_ = 0;
    char name[data::kTileFileNameBytes];
    data::tile_file_name("", tile, name, sizeof name);
    std::FILE* file = std::fopen((dir_ + name).c_str(), "rb");
    if (file == nullptr) return TileLoad::missing;
    // As the engine reads it: whole, then decoded.
    const char* refused = data::read_tile_file(
        file, data::TileFileBuffer(slot_->bytes.get(), data::WORK_BUFFER_SIZE), slot_->tile);
    std::fclose(file);
    if (refused != nullptr) return TileLoad::refused;
    loaded_ = tile;
    return TileLoad::loaded;
}

std::int64_t FeatureStore::tile_roads(const FeatureQuery& query, std::int64_t first, int limit,
                                      FeaturePage& page) {
    const data::TileSlot& s = slot_->tile;
    const int last = data::last_record(s);
    const double ox = s.header.origin_x;
    const double oy = s.header.origin_y;
    // The candidates: the roads whose vertices' envelope meets the query's box of the grid, with
    // their vertices, turned into the query's system at once (one transformation a tile).
    std::vector<std::int64_t> records;
    std::vector<size_t> starts;
    std::vector<std::pair<double, double>> points;
    for (std::int64_t i = std::max<std::int64_t>(first, 0); i <= last; ++i) {
        const data::FeatureRecord& r = s.records[i];
        if (!data::is_road_type(r.type)) continue;
        int n = 0;
        const data::Vertex* v = data::record_vertices(s, r, &n);
        if (!v || n < 2) continue;  // a line needs two vertices
        double minx = 1e300, miny = 1e300, maxx = -1e300, maxy = -1e300;
        for (int k = 0; k < n; ++k) {
            minx = std::min(minx, ox + v[k].x);
            maxx = std::max(maxx, ox + v[k].x);
            miny = std::min(miny, oy + v[k].y);
            maxy = std::max(maxy, oy + v[k].y);
        }
        if (!meets(query.grid, minx, miny, maxx, maxy)) continue;
        records.push_back(i);
        starts.push_back(points.size());
        for (int k = 0; k < n; ++k) points.emplace_back(ox + v[k].x, oy + v[k].y);
    }
    starts.push_back(points.size());
    if (!to_query_system(query, points)) return -1;
    for (size_t c = 0; c < records.size(); ++c) {
        bool hit = false;
        for (size_t k = starts[c]; !hit && k + 1 < starts[c + 1]; ++k)
            hit = segment_meets(points[k], points[k + 1], query.box);
        if (!hit) continue;
        if (static_cast<int>(page.features.size()) >= limit) return records[c];
        page.features.push_back(road_feature(records[c]));
    }
    return -1;
}

Feature FeatureStore::road_feature(std::int64_t index) const {
    const data::TileSlot& s = slot_->tile;
    const data::FeatureRecord& r = s.records[index];
    int n = 0;
    const data::Vertex* v = data::record_vertices(s, r, &n);
    Feature f;
    f.id = static_cast<std::int64_t>(loaded_) * kFeatureIdFactor + index;
    if (const char* name = data::record_name(s, r); name && name[0] != ' ')
        f.name = text(name, data::NAME_BYTES);
    f.district = r.district;
    f.type = r.type;
    f.code = text(r.code, sizeof r.code);
    f.points.reserve(static_cast<size_t>(n));
    for (int k = 0; k < n && v; ++k)
        f.points.emplace_back(s.header.origin_x + v[k].x, s.header.origin_y + v[k].y);
    return f;
}

FeaturePage FeatureStore::roads(const FeatureQuery& query, const FeatureCursor& from, int limit) {
    FeaturePage page;
    int read = 0;
    for (std::int32_t tile : tiles_) {
        if (tile < from.block || !tile_meets(tile, query.grid)) continue;
        if (read == kMaxBlocksPerPage || static_cast<int>(page.features.size()) >= limit) {
            page.next = FeatureCursor{tile, 0};
            return page;
        }
        // A tile without a file costs nothing and is not counted; a refused file is.
        const TileLoad loaded = load_tile(tile);
        if (loaded == TileLoad::missing) continue;
        ++read;
        if (loaded == TileLoad::refused) continue;
        const std::int64_t stop =
            tile_roads(query, tile == from.block ? from.index : 0, limit, page);
        if (stop >= 0) {
            page.next = FeatureCursor{tile, stop};
            return page;
        }
    }
    return page;
}

std::optional<Feature> FeatureStore::road(std::int64_t id) {
    if (id <= 0) return std::nullopt;
    const std::int64_t tile = id / kFeatureIdFactor;
    const std::int64_t index = id % kFeatureIdFactor;
    if (!std::binary_search(tiles_.begin(), tiles_.end(), tile)) return std::nullopt;
    if (load_tile(static_cast<std::int32_t>(tile)) != TileLoad::loaded) return std::nullopt;
    if (index > data::last_record(slot_->tile)) return std::nullopt;
    const data::FeatureRecord& r = slot_->tile.records[index];
    int n = 0;
    if (!data::is_road_type(r.type) || !data::record_vertices(slot_->tile, r, &n) || n < 2)
        return std::nullopt;
    return road_feature(index);
}

std::vector<std::uint8_t> FeatureStore::read_block(const PoiBlock& b) const {
    const data::PoiIndexEntry e{b.tile, b.last, b.offset};
    std::vector<std::uint8_t> out(static_cast<std::size_t>(data::poi_block_count(e)) *
                                  data::POI_RECORD_BYTES);
    data::DataFile points;
    if (!open_file(points, dir_, data::format::kPoiFile) ||
        data::read_poi_records(points, e, out) == 0)
        return {};
    return out;
}

Feature FeatureStore::poi_feature(const PoiBlock& b, const std::uint8_t* rec,
                                  std::int64_t index) const {
    const data::PoiRecord r = data::poi_record_at(rec, 0);
    Feature out;
    out.id = static_cast<std::int64_t>(b.tile) * kFeatureIdFactor + index;
    out.name = text(r.name, data::POI_NAME_BYTES);
    out.district = r.district;
    out.type = r.category;
    out.points.push_back(poi_point(b.tile, rec));
    if (r.note >= 0) {
        data::DataFile notes;
        char bytes[data::POI_NOTE_BYTES];
        if (open_file(notes, dir_, data::format::kPoiNoteFile) &&
            data::read_poi_note(notes, r.note, bytes))
            out.code = text(bytes, sizeof bytes);
    }
    return out;
}

FeaturePage FeatureStore::pois(const FeatureQuery& query, const FeatureCursor& from, int limit) {
    FeaturePage page;
    int read = 0;
    for (const PoiBlock& b : blocks_) {
        if (b.tile < from.block || !tile_meets(b.tile, query.grid)) continue;
        if (read == kMaxBlocksPerPage || static_cast<int>(page.features.size()) >= limit) {
            page.next = FeatureCursor{b.tile, 0};
            return page;
        }
        ++read;
        const std::vector<std::uint8_t> records = read_block(b);
        const std::int64_t count =
            static_cast<std::int64_t>(records.size() / data::POI_RECORD_BYTES);
        // The candidates in the query's box of the grid, turned into its system at once.
        std::vector<std::int64_t> candidates;
        std::vector<std::pair<double, double>> points;
        for (std::int64_t i = b.tile == from.block ? std::max<std::int64_t>(from.index, 0) : 0;
             i < count; ++i) {
            const auto point = poi_point(b.tile, records.data() + i * data::POI_RECORD_BYTES);
            if (!inside(point, query.grid)) continue;
            candidates.push_back(i);
            points.push_back(point);
        }
        if (!to_query_system(query, points)) continue;
        for (size_t c = 0; c < candidates.size(); ++c) {
            if (!inside(points[c], query.box)) continue;
            if (static_cast<int>(page.features.size()) >= limit) {
                page.next = FeatureCursor{b.tile, candidates[c]};
                return page;
            }
            page.features.push_back(poi_feature(
                b, records.data() + candidates[c] * data::POI_RECORD_BYTES, candidates[c]));
        }
    }
    return page;
}

std::optional<Feature> FeatureStore::poi(std::int64_t id) {
    if (id <= 0) return std::nullopt;
    const std::int64_t tile = id / kFeatureIdFactor;
    const std::int64_t index = id % kFeatureIdFactor;
    for (const PoiBlock& b : blocks_) {
        if (b.tile != tile) continue;
        // As a page reads it: a block that is not whole in the file has no records.
        const std::vector<std::uint8_t> records = read_block(b);
        if ((index + 1) * data::POI_RECORD_BYTES > static_cast<std::int64_t>(records.size()))
            return std::nullopt;
        return poi_feature(b, records.data() + index * data::POI_RECORD_BYTES, index);
    }
    return std::nullopt;
}

}  // namespace kmaps
