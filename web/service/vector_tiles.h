// vector_tiles.h: the vector tiles over HTTP: /tiles/{google|native}/{z}/{x}/{y}.mvt, their
// TileJSON (/tiles/google.mvt.json, /tiles/native.mvt.json), the MapLibre style
// (/styles/kestrel.json), the labels' glyph ranges (/fonts/{fontstack}/{range}.pbf) and the
// OGC API's vector tile sets of the collection `map` (/ogcapi/collections/map/tiles/...).
// The tiles come from kmaps/vector_tiles.h, as kseed's vector archives do.
#ifndef KSERVE_VECTOR_TILES_H
#define KSERVE_VECTOR_TILES_H

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kmaps/tiles.h"
#include "kmaps/vector_tiles.h"
#include "service/params.h"
#include "service/request.h"
#include "service/site.h"

namespace kserve {

// The folder of the glyph ranges: $KESTREL_FONTS_DIR, else <bin>/../share/kestrel/fonts beside
// the running program (the build tree and an installation alike).
std::string default_fonts_dir();

// True when an Accept-Encoding field value (every field line joined by commas) accepts gzip:
// "gzip", "x-gzip" or "*" without a weight of 0 (RFC 9110, 12.5.3).
bool accepts_gzip(std::string_view accept_encoding);

class VectorTileService {
  public:
    VectorTileService(Site& site, kmaps::Tiles& tiles) : site_(site), tiles_(tiles) {}

    // Opens the data set's files for the tiles and finds the glyphs in `fonts_dir`. False, with
    // `error` set, when the data set's folder cannot be read.
    bool open(const std::string& fonts_dir, std::string& error);

    // The answer to the decoded path `path` when it is one of the addresses above; nothing for
    // any other path.
    std::optional<Response> route(const Request& r, const std::string& path, const Params& p);

  private:
    // The tile (row, col) of `level` of `set`, from the cache or built (204 when empty); errors
    // as plain text, or as problem details when `problems`.
    Response tile(const Request& r, const kmaps::TileMatrixSet& set, std::string_view level,
                  long row, long col, bool problems);
    // /tiles/{set}/{z}/{x}/{y}.mvt, `rest` the part after "/tiles/".
    Response xyz(const Request& r, const std::string& rest);
    // The TileJSON of the set named "google" or "native".
    Response tilejson(const Request& r, const std::string& name);
    // The MapLibre style, its centre and zoom from the data set's extent.
    Response style(const Request& r);
    // A glyph range, `rest` the part after "/fonts/".
    Response font(const Request& r, const std::string& rest);
    // /ogcapi/collections/map/tiles[/{set}[/{matrix}/{row}/{col}]], `parts` its segments from
    // "collections".
    Response ogc_tiles(const Request& r, const std::vector<std::string>& parts, const Params& p);
    // `res` with its body `body`, gzipped when the client accepts it and it pays, its
    // validator made from `key` (the gzipped form has its own), or a 304.
    Response deliver(const Request& r, Response res, const std::string& body,
                     const std::string& key);

    Site& site_;
    kmaps::Tiles& tiles_;
    kmaps::VectorTiles vector_;
    // The last tiles and glyph ranges made, each with its gzip form as a second entry: 512
    // entries hold a few megabytes of common tiles, and at most about 180 MB of tiles at the
    // byte limit.
    kmaps::TileCache cache_{512};
    std::string fonts_dir_;
};

}  // namespace kserve

#endif
