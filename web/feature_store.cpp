// feature_store.cpp: roads from the tile files and points of interest from their files, a bounded
// number of blocks a page. The files are read by the data area's readers (data/reader.h), so
// that a feature is what the engine reads.
#include "feature_store.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "data/format.h"
#include "data/limits.h"
#include "data/reader.h"
#include "data/store.h"
#include "engine.h"

namespace kserve {

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

}  // namespace

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

std::int64_t FeatureStore::tile_roads(const Box& box, std::int64_t first, int limit,
                                      FeaturePage& page) {
    const data::TileSlot& s = slot_->tile;
    const int last = data::last_record(s);
    const double ox = s.header.origin_x;
    const double oy = s.header.origin_y;
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
        if (!meets(box, minx, miny, maxx, maxy)) continue;
        if (static_cast<int>(page.features.size()) >= limit) return i;
        Feature f;
        f.id = static_cast<std::int64_t>(loaded_) * kFeatureIdFactor + i;
        if (const char* name = data::record_name(s, r); name && name[0] != ' ')
            f.name = text(name, data::NAME_BYTES);
        f.district = r.district;
        f.type = r.type;
        f.code = text(r.code, sizeof r.code);
        f.points.reserve(static_cast<size_t>(n));
        for (int k = 0; k < n; ++k) f.points.emplace_back(ox + v[k].x, oy + v[k].y);
        page.features.push_back(std::move(f));
    }
    return -1;
}

FeaturePage FeatureStore::roads(const Box& box, const FeatureCursor& from, int limit) {
    FeaturePage page;
    int read = 0;
    for (std::int32_t tile : tiles_) {
        if (tile < from.block || !tile_meets(tile, box)) continue;
        if (read == kMaxBlocksPerPage || static_cast<int>(page.features.size()) >= limit) {
            page.next = FeatureCursor{tile, 0};
            return page;
        }
        // A tile without a file costs nothing and is not counted; a refused file is.
        const TileLoad loaded = load_tile(tile);
        if (loaded == TileLoad::missing) continue;
        ++read;
        if (loaded == TileLoad::refused) continue;
        const std::int64_t stop = tile_roads(box, tile == from.block ? from.index : 0, limit, page);
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
    FeaturePage page;
    const Box all{-1e300, -1e300, 1e300, 1e300};
    tile_roads(all, index, 1, page);
    if (page.features.empty() || page.features[0].id != id) return std::nullopt;
    return std::move(page.features[0]);
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

FeaturePage FeatureStore::pois(const Box& box, const FeatureCursor& from, int limit) {
    FeaturePage page;
    int read = 0;
    for (const PoiBlock& b : blocks_) {
        if (b.tile < from.block || !tile_meets(b.tile, box)) continue;
        if (read == kMaxBlocksPerPage || static_cast<int>(page.features.size()) >= limit) {
            page.next = FeatureCursor{b.tile, 0};
            return page;
        }
        ++read;
        const std::vector<std::uint8_t> records = read_block(b);
        const std::int64_t count =
            static_cast<std::int64_t>(records.size() / data::POI_RECORD_BYTES);
        for (std::int64_t i = b.tile == from.block ? std::max<std::int64_t>(from.index, 0) : 0;
             i < count; ++i) {
            const std::uint8_t* rec = records.data() + i * data::POI_RECORD_BYTES;
            const auto [x, y] = poi_point(b.tile, rec);
            if (!meets(box, x, y, x, y)) continue;
            if (static_cast<int>(page.features.size()) >= limit) {
                page.next = FeatureCursor{b.tile, i};
                return page;
            }
            page.features.push_back(poi_feature(b, rec, i));
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

}  // namespace kserve
