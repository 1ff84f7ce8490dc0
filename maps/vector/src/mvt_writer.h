// mvt_writer.h: the messages of a vector tile (Tile, Layer, Feature, Value), written with
// protozero, and the command integers of a feature's geometry.
#ifndef KMAPS_VECTOR_MVT_WRITER_H
#define KMAPS_VECTOR_MVT_WRITER_H

#include <cstdint>
#include <protozero/pbf_writer.hpp>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "geometry.h"

namespace kmaps::vector {

// Empties a hash map in time proportional to what it holds. clear() also wipes every bucket,
// and the buckets that one large tile grew would be wiped again for each small tile after it.
template <class Map>
void empty_map(Map& map) {
    if (map.empty()) return;
    if (map.bucket_count() > 8 * map.size() + 64)
        map = Map();
    else
        map.clear();
}

// The geometry types of the format.
enum class GeomType : std::uint32_t { point = 1, linestring = 2, polygon = 3 };

// The command integers of a geometry, appended to a caller's array: the cursor starts at (0, 0)
// for every feature.
class GeometryCommands {
  public:
    explicit GeometryCommands(std::vector<std::uint32_t>& out) : out_(out) {}
    void point(const geometry::IPoint& p);
    // A line of at least 2 points (MoveTo, LineTo).
    void line(std::span<const geometry::IPoint> points);
    // An open ring of at least 3 points (MoveTo, LineTo, ClosePath).
    void ring(std::span<const geometry::IPoint> points);

  private:
    void move(const geometry::IPoint& p);
    std::vector<std::uint32_t>& out_;
    geometry::IPoint cursor_{0, 0};
};

// One layer being written into a tile's buffer: the features first, then the keys and values
// they refer to. Reused from layer to layer and tile to tile.
class LayerWriter {
  public:
    // Starts a layer named `name` in the tile message `tile`.
    void begin(protozero::pbf_writer& tile, std::string_view name, std::uint32_t extent);
    // The index of a key, of a text value and of an integer value, added on first use.
    std::uint32_t key(std::string_view k);
    std::uint32_t text(std::string_view v);
    std::uint32_t integer(std::int64_t v);
    // A feature with its tags (key and value index pairs) and geometry commands.
    void feature(std::uint64_t id, GeomType type, std::span<const std::uint32_t> tags,
                 std::span<const std::uint32_t> geometry);
    // Writes the keys, values, extent and version, and closes the layer.
    void end();

  private:
    protozero::pbf_writer layer_;
    std::string feature_;  // the message of a feature being written
    std::uint32_t extent_ = 0;
    std::vector<std::string_view> keys_;
    struct Value {
        bool is_text;
        std::string_view text;
        std::int64_t integer;
    };
    std::vector<Value> values_;
    std::unordered_map<std::string_view, std::uint32_t> text_index_;
    std::unordered_map<std::int64_t, std::uint32_t> integer_index_;
};

}  // namespace kmaps::vector

#endif  // KMAPS_VECTOR_MVT_WRITER_H
