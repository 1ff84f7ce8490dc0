// wmts.h: OGC WMTS 1.0.0 (KVP at /wmts, REST under /wmts/1.0.0/) and XYZ tile addresses
// (/tiles/{native|google}/{z}/{x}/{y}.png), over the tiles of tiles.h, and OWS exception
// reports. The REST and XYZ addresses also name tiles drawn at a scale factor, "{y}@2x.png"
// and "{y}@3x.png", and JPEG files, "{y}.jpg" (parse_tile_name).
#ifndef KSERVE_WMTS_H
#define KSERVE_WMTS_H

#include <optional>
#include <string>
#include <string_view>

#include "kmaps/tiles.h"
#include "service/capabilities.h"
#include "service/params.h"
#include "service/request.h"
#include "service/site.h"

namespace kserve {

// An OWS exception report with the HTTP status its code has: 501 for OperationNotSupported,
// 500 for NoApplicableCode, else 400. An empty `locator` gives none.
Response ows_exception(const std::string& code, const std::string& locator,
                       const std::string& message);

// A tile row or column of an address: a whole number from 0, followed by `suffix` (".png",
// or "" where the address has no extension). Every tile address scheme reads its numbers here,
// but for the last segment of an address that may carry a scale factor ("{col}@2x.png"), which
// parse_tile_name reads.
std::optional<long> tile_index(std::string_view text, std::string_view suffix);

// The last part of a tile's address: "{n}.png" for a tile of factor 1, "{n}@{F}x.png" for
// F = 2 to kmaps::kMaxFactor, and the same with ".jpg" for the JPEG file. Every address scheme of
// tiles (WMTS REST, XYZ) reads its last segment here, so that all of them know the same
// factors and formats.
struct TileName {
    long number = 0;  // the row or column the segment names, 0 to 2^30
    int factor = 1;
    kmaps::TileFormat format = kmaps::TileFormat::png;
};
// Nothing for anything else ("@1x", a number with signs or blanks, another extension).
std::optional<TileName> parse_tile_name(std::string_view segment);

// How a tile request that fails is answered: an OWS exception report (WMTS), a plain 404 (XYZ
// addresses), or problem details (OGC API: 404 for a tile outside its matrix).
enum class TileErrors { ows, plain, problem };

class Wmts {
  public:
    Wmts(Site& site, const Capabilities& capabilities, kmaps::Tiles& tiles)
        : site_(site), data_(site.data()), capabilities_(capabilities), tiles_(tiles) {}

    // /wmts?SERVICE=WMTS&REQUEST=...
    Response kvp(const Request& r, const Params& p);
    // /wmts/1.0.0/WMTSCapabilities.xml
    Response capabilities(const Request& r);
    // /wmts/1.0.0/{layer}/{style}/{set}/{matrix}/{row}/{col}.png (or {col}@2x.png, or .jpg for
    // the JPEG file), `rest` the part after "/wmts/1.0.0/".
    Response rest(const Request& r, const std::string& rest);
    // /tiles/{native|google}/{z}/{x}/{y}.png (or {y}@2x.png, or .jpg), `rest` the part after
    // "/tiles/": errors are plain 404s.
    Response xyz(const Request& r, const std::string& rest);
    // /tiles/google.json and /tiles/native.json: TileJSON 3.0.0 of the set named "google" or
    // "native" (nothing for another name).
    std::optional<Response> tilejson(const Request& r, const std::string& name);

    // The tile (row, col) of level `matrix` of the set `set` (an id of tiles.h) as a file of
    // `format`, from the cache or drawn with its metatile, with its validator (a matching
    // If-None-Match gives 304); every address of a tile answers through here.
    Response tile(const Request& r, const std::string& set, const std::string& matrix, long row,
                  long col, int factor, kmaps::TileFormat format, TileErrors errors);

  private:
    Site& site_;
    DataSet& data_;
    const Capabilities& capabilities_;
    kmaps::Tiles& tiles_;
};

}  // namespace kserve

#endif
