// tile_builder.h: the data set as vector tiles (the Mapbox Vector Tile format, version 2.1),
// apart from any address or protocol.
//
// A DataSource is a data set's folder opened for reading: which tile files it has, its
// point-of-interest index and notes, and its place catalogue, all read by the engine's own
// readers (data/reader.h). A TileBuilder turns a tile's box in a tile set's system into the
// bytes of one vector tile: it reads the data set's tile files through the caller's Projection
// (the grid to the set's system, on arrays of points), keeps the projected tiles it read for
// the next tiles of a batch, clips, simplifies and merges the features for the tile's pixel
// size, and encodes them with protozero. The layers and their fields are listed by
// vector_layers(); docs/web.md describes them and the rules of what each resolution shows.
//
// The bytes of a tile depend on the data set, the box, the resolution and the options alone:
// never on the tiles built before.
#ifndef KMAPS_VECTOR_TILE_BUILDER_H
#define KMAPS_VECTOR_TILE_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kmaps::vector {

// A box in a tile set's system, x east and y north.
struct Box {
    double minx = 0, miny = 0, maxx = 0, maxy = 0;
};

// The transformation from the data set's grid to a tile set's system, on many points at once.
// The caller owns it: kserve passes one over its coordinate systems (EPSG:3857 for the google
// set), the native set the identity.
class Projection {
  public:
    virtual ~Projection() = default;
    // Transforms the points in place: x at xy[2i], y at xy[2i + 1], grid metres in, the set's
    // units out. False when any point cannot be transformed.
    virtual bool forward(std::span<double> xy) const = 0;
};

// The grid itself (the native tile set).
class IdentityProjection final : public Projection {
  public:
    bool forward(std::span<double>) const override { return true; }
};

// The pixels a side that clients draw a vector tile with: a tile's resolution is its box's
// width divided by this.
inline constexpr int kTilePixels = 512;

// A data set's folder, open for reading. Reading it never changes it; one source may serve
// many builders.
class DataSource {
  public:
    // Opens the data set in `dir` (with or without its trailing '/'): lists its tile files,
    // reads the point-of-interest index and the place catalogue. Null, with `error` saying
    // why, when the folder cannot be listed or the index cannot be read.
    static std::unique_ptr<DataSource> open(const std::string& dir, std::string& error);

    // The tile numbers that have a file (NUMBER.dat), ascending.
    const std::vector<std::int32_t>& tiles() const;
    const std::string& dir() const;

    ~DataSource();
    DataSource(const DataSource&) = delete;
    DataSource& operator=(const DataSource&) = delete;

    struct State;
    const State& state() const { return *state_; }

  private:
    explicit DataSource(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};

// One field of a layer, as TileJSON's vector_layers lists it.
struct LayerField {
    const char* name;
    const char* type;  // "String" or "Number"
    const char* description;
};

// One layer of the tiles and its fields.
struct LayerInfo {
    const char* id;
    const char* description;
    std::vector<LayerField> fields;
};

// The layers of every tile, in the order they are written.
const std::vector<LayerInfo>& vector_layers();

struct BuildOptions {
    std::uint32_t extent = 4096;  // tile units a side
    std::uint32_t buffer = 64;    // units beyond each edge where geometry is cut
    std::size_t max_bytes = std::size_t{500} * 1024;  // the largest tile, before compression
    double simplify_pixels = 0.25;  // tolerance of simplification, pixels of the tile
    std::size_t cache_tiles = 64;   // projected tile files kept for the next tiles
};

// What a build did, for logs, metrics and the tests.
struct BuildStats {
    int data_tiles = 0;        // tile files the tile took features from
    int files_read = 0;        // of them, read from disk for this tile (not kept from before)
    int features = 0;          // features written
    int dropped_features = 0;  // left out by the byte limit
    int dropped_classes = 0;   // classes of the drop order left out by the byte limit
    int bad_rings = 0;         // rings left out: no area, or crossing themselves once rounded
    bool catalogue = false;    // drawn from the place catalogue (above the tiles' scale)
};

// Builds vector tiles of one tile set. Not thread-safe: one builder per thread.
class TileBuilder {
  public:
    TileBuilder(const DataSource& source, const Projection& projection, BuildOptions options = {});
    ~TileBuilder();
    TileBuilder(const TileBuilder&) = delete;
    TileBuilder& operator=(const TileBuilder&) = delete;

    // The vector tile of `box` (in the set's system) at `resolution` (the set's units a pixel
    // of the tile as drawn, normally the box's width / kTilePixels). Returns false, with
    // `error` saying why, for a box or resolution that is not finite and positive, or when the
    // projection fails; `out` is then empty. A tile with nothing in it is valid and empty.
    bool build(const Box& box, double resolution, std::string& out, std::string& error,
               BuildStats* stats = nullptr);

    // Reads and projects ahead the tile files that meet `box` (at most cache_tiles of them are
    // kept) and the place catalogue, so that the builds after it pay for none of that. False,
    // with `error` saying why, when a file is refused or cannot be projected. The tiles built
    // after it are the same bytes as without it.
    bool preload(const Box& box, std::string& error);

    // The data set's grid metres a pixel of a tile: what the rules of what is shown go by.
    double grid_resolution(const Box& box, double resolution) const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kmaps::vector

#endif  // KMAPS_VECTOR_TILE_BUILDER_H
