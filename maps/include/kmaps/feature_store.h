// feature_store.h: the data set's roads and points of interest as features, read from its files
// apart from any address or protocol, by the data area's readers (the ones the engine reads
// with, which check every field before it is used): the roads from the tile files, the points
// of interest from dat44_1.bin (a tile's block as the engine finds it: the first entry of the
// tile that is not empty) and their notes from dat44_2.bin. Every request reads a bounded
// number of files; a feature's id names the file block and record it comes from, so it stays
// the same for as long as the data set does.
#ifndef KMAPS_FEATURE_STORE_H
#define KMAPS_FEATURE_STORE_H

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kmaps/geometry.h"

namespace kmaps {

// One road (a polyline of the tile files' road section) or one point of interest, in the data
// set's grid.
struct Feature {
    std::int64_t id = 0;  // block * kFeatureIdFactor + record index
    std::string name;     // UTF-8; empty when the record has none
    int district = 0;
    int type = 0;      // road type 1 to 9; for a point of interest its category
    std::string code;  // road code; for a point of interest its note (UTF-8)
    std::vector<std::pair<double, double>> points;  // one for a point of interest
};

// The block (tile number) and record index of an id.
inline constexpr std::int64_t kFeatureIdFactor = 100000;

// Where a page of features starts: the block (tile number) and the record index in it.
struct FeatureCursor {
    std::int64_t block = 0;
    std::int64_t index = 0;
};

struct FeaturePage {
    std::vector<Feature> features;
    std::optional<FeatureCursor> next;  // where the next page starts; none after the last
};

// Which features a page holds: those that meet `box`, a box in some coordinate system. `grid`
// is a box of the grid that holds every point of the grid inside `box` (the features outside
// it are passed over unread), and `to_box` turns points of the grid into the box's system in
// place (false when it cannot); empty when `box` is in the grid. A road meets the box when one
// of its segments, straight in the box's system, does; a point of interest when it lies in
// the box; edges included.
struct FeatureQuery {
    Box grid{};
    Box box{};
    std::function<bool(std::vector<std::pair<double, double>>&)> to_box;
    // Every feature: the whole grid, no system to turn to.
    static FeatureQuery everything();
};

class FeatureStore {
  public:
    // Blocks (tile files or point-of-interest blocks) read for one page at most (a tile
    // number without a file is not counted): a page may hold fewer features than asked for,
    // and then names where the next one starts.
    static constexpr int kMaxBlocksPerPage = 8;

    // Reads the point-of-interest index of the data set in `dir` (with its trailing '/') and
    // notes which tiles lie in `extent` (the grid's box of the tile files). False, with
    // `error` set, when the index cannot be read.
    bool open(const std::string& dir, const Box& extent, std::string& error);

    // At most `limit` roads that meet the query's box, from `from` on, in the order of tile
    // number and record.
    FeaturePage roads(const FeatureQuery& query, const FeatureCursor& from, int limit);
    // At most `limit` points of interest inside the query's box, from `from` on.
    FeaturePage pois(const FeatureQuery& query, const FeatureCursor& from, int limit);
    // The road or point of interest of that id, or nothing.
    std::optional<Feature> road(std::int64_t id);
    std::optional<Feature> poi(std::int64_t id);

    FeatureStore();
    ~FeatureStore();
    FeatureStore(const FeatureStore&) = delete;
    FeatureStore& operator=(const FeatureStore&) = delete;

  private:
    struct Slot;
    struct PoiBlock {
        std::int32_t tile;
        std::int32_t last;
        std::int32_t offset;
    };
    // Decodes tile file `tile` into the slot (kept while the next calls ask for the same).
    enum class TileLoad { loaded, missing, refused };
    TileLoad load_tile(std::int32_t tile);
    // Appends the roads of the loaded tile from record `first` on that meet the query's box,
    // up to `limit` features in the page; returns the record index where it stopped (-1: the
    // tile's end).
    std::int64_t tile_roads(const FeatureQuery& query, std::int64_t first, int limit,
                            FeaturePage& page);
    // The road of record `index` of the loaded tile (which must hold a line).
    Feature road_feature(std::int64_t index) const;
    // Reads the records of a point-of-interest block; empty when it cannot be read or is not
    // whole in the file.
    std::vector<std::uint8_t> read_block(const PoiBlock& b) const;
    Feature poi_feature(const PoiBlock& b, const std::uint8_t* record, std::int64_t index) const;

    std::string dir_;
    std::vector<std::int32_t> tiles_;  // the tile numbers of the grid's extent, ascending
    std::vector<PoiBlock> blocks_;     // non-empty blocks, by tile number
    std::unique_ptr<Slot> slot_;
    std::int32_t loaded_ = 0;  // the tile in the slot; 0: none
};

}  // namespace kmaps

#endif
