// kmaps/tiles.h: the map as tiles, apart from any address or protocol: the tile matrix sets, the
// drawing of metatiles of 4 x 4 tiles as one engine view each (so that names are placed once
// across a metatile's tiles and never cut at their inner borders), the files of each tile in
// its formats, and a least-recently-used cache of tile files. kserve's WMTS, XYZ and OGC API
// addresses answer from here, and kseed writes its archives from here: every way to the same
// tiles gets the same bytes by calling the same functions.
#ifndef KMAPS_TILES_H
#define KMAPS_TILES_H

#include <cstddef>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "kmaps/crs.h"
#include "kmaps/dataset.h"
#include "kmaps/geometry.h"

namespace kmaps {

constexpr int kTileSize = 256;          // pixels a side at drawing scale factor 1
constexpr int kMetatileTiles = 4;       // tiles a side of a metatile
constexpr double kPixelSize = 0.00028;  // metres: the pixel of OGC scale denominators

// One level of a tile matrix set.
struct TileMatrix {
    int level = 0;
    double resolution = 0;  // units of the set's system (metres) a pixel
    double left = 0;        // the top-left corner of tile (row 0, column 0), x east
    double top = 0;         //   and y north
    long cols = 0;          // tiles across
    long rows = 0;          // tiles down
    double scale_denominator() const { return resolution / kPixelSize; }
    // The box of `nrows` x `ncols` tiles from tile (row, col), in the set's system.
    Box box(long row, long col, long nrows = 1, long ncols = 1) const;
};

class TileMatrixSet {
  public:
    // "native": the data set's grid `grid`, the top-left corner at the north-west corner of
    // `extent`, levels 0 to 7 at 128, 64, 32, 16, 8, 4, 2 and 1 m a pixel, as many tiles as
    // cover the extent.
    static TileMatrixSet native(const Crs& grid, const Box& extent);
    // "GoogleMapsCompatible": EPSG:3857, levels 0 to 18 of the well-known scale set, 2^level
    // tiles a side over the whole square. Tiles outside the data set are transparent.
    static TileMatrixSet google_maps_compatible();

    // The set's name in WMTS and kserve's own addresses ("native", "GoogleMapsCompatible"), and
    // in OGC APIs, which name the registered set "WebMercatorQuad".
    const std::string& id() const { return id_; }
    const std::string& ogc_id() const { return ogc_id_; }
    // The URI of the registered set's definition, or "" for the data set's own.
    std::string uri() const;
    // The system as requests name it ("EPSG:3826"), and as capabilities do
    // ("urn:ogc:def:crs:EPSG::3826").
    const std::string& crs() const { return crs_; }
    std::string crs_urn() const;
    // The well-known scale set the levels follow, as a URN (WMTS) and as a URI (OGC APIs); ""
    // for none.
    const std::string& well_known_scale_set() const { return scale_set_; }
    std::string well_known_scale_set_uri() const;
    // True when the system's own axis order is northing first (TopLeftCorner is written so).
    bool north_first() const { return north_first_; }
    // True for the data set's grid, where the engine draws tiles directly.
    bool native_grid() const { return native_grid_; }
    // The box with data, in the set's system: the data set's extent for "native", the whole
    // square for "GoogleMapsCompatible".
    const Box& bounds() const { return bounds_; }
    const std::vector<TileMatrix>& matrices() const { return matrices_; }
    // The level, or null when the set has none such.
    const TileMatrix* matrix(long level) const;

  private:
    std::string id_;
    std::string ogc_id_;
    std::string crs_;
    std::string scale_set_;
    bool north_first_ = false;
    bool native_grid_ = false;
    Box bounds_{};
    std::vector<TileMatrix> matrices_;
};

// The tiles of one metatile as PNG files: the tiles of rows [row, row + rows) and columns
// [col, col + cols), row by row. At the right and bottom edges of a matrix a metatile has
// fewer than 4 x 4 tiles.
struct Metatile {
    int level = 0;
    long row = 0;
    long col = 0;
    int rows = 0;
    int cols = 0;
    int factor = 1;
    std::vector<std::string> png;
    const std::string& tile(long r, long c) const {
        return png[static_cast<size_t>((r - row) * cols + (c - col))];
    }
};

// Draws the metatile (metarow, metacol) of level `level` of `set` (its first tile is at row
// metarow * 4, column metacol * 4) as one view of the engine, and encodes each of its tiles.
// `factor` is the drawing scale factor of the tiles, 1 to kMaxFactor (kmaps/drawing.h): tiles of
// 256 x factor pixels over the same ground as the 1x tile, with the features and names of the 1x
// tile drawn with factor times the pixels (pens, text, symbols), placed once across the
// metatile as at 1x. Nothing, with `error` set, for a place outside the matrix, a factor
// outside 1 to kMaxFactor, or when the engine refuses the view.
std::optional<Metatile> render_metatile(DataSet& data, const TileMatrixSet& set, int level,
                                        long metarow, long metacol, int factor, std::string& error);

// A tile's file: PNG (the tile as drawn) or JPEG (the same picture, opaque: what is transparent
// in the PNG, outside the data set, is white).
enum class TileFormat { png, jpeg };
// "image/png" or "image/jpeg".
const char* media_type(TileFormat format);

// A tile's place, drawing scale factor and format, and its key in caches and validators:
// "SET/LEVEL/ROW/COL", with "@FACTORx" appended for factors other than 1 and ".jpg" for JPEG.
struct TileKey {
    std::string set;
    int level = 0;
    long row = 0;
    long col = 0;
    int factor = 1;
    TileFormat format = TileFormat::png;
    std::string text() const;
};

// Tile files, at most `capacity`, the least recently used dropped first.
class TileCache {
  public:
    explicit TileCache(size_t capacity) : capacity_(capacity) {}
    // The file, now the most recently used; null when it is not held.
    std::shared_ptr<const std::string> find(const std::string& key);
    // Keeps the file unless it is held already.
    void add(const std::string& key, std::shared_ptr<const std::string> png);
    size_t size() const { return lru_.size(); }

  private:
    using Entry = std::pair<std::string, std::shared_ptr<const std::string>>;
    size_t capacity_;
    std::list<Entry> lru_;  // most recently used first
    std::unordered_map<std::string, std::list<Entry>::iterator> index_;
};

// The tiles of a worker: its matrix sets, the cache, and metatiles drawn on a miss.
class Tiles {
  public:
    static constexpr size_t kCacheTiles = 4096;

    // The sets of `data`: native and GoogleMapsCompatible.
    explicit Tiles(DataSet& data, size_t cache_tiles = kCacheTiles);
    const std::vector<TileMatrixSet>& sets() const { return sets_; }
    const TileMatrixSet* set(std::string_view id) const;
    // The set of that OGC API name ("WebMercatorQuad", "native"), or null.
    const TileMatrixSet* set_by_ogc_id(std::string_view id) const;

    struct Result {
        std::shared_ptr<const std::string> file;  // null on failure
        bool cached = false;                      // from the cache, not drawn or encoded
        std::string error;
    };
    // The file of the tile `key`: from the cache; or, for a PNG, drawn with the rest of its
    // metatile, whose other tiles are then kept; for a JPEG, the tile's PNG (from the cache or
    // drawn) decoded and encoded again, so both are the same picture. Each file is kept under
    // its own key. A failure (a tile outside its matrix, a view the engine refuses) says why
    // in `error`.
    Result get(const TileKey& key);

  private:
    DataSet& data_;
    std::vector<TileMatrixSet> sets_;
    TileCache cache_;
};

}  // namespace kmaps

#endif
