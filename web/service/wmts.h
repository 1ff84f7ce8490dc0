// wmts.h: OGC WMTS 1.0.0 (KVP at /wmts, REST under /wmts/1.0.0/) and XYZ tile addresses
// (/tiles/{native|google}/{z}/{x}/{y}.png), over the tiles of tiles.h. The REST and XYZ
// addresses also name tiles drawn at a scale factor, "{y}@2x.png" and "{y}@3x.png", and JPEG
// files, "{y}.jpg" (parse_tile_name of tile_answer.h).
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
#include "service/tile_answer.h"

namespace kserve {

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

  private:
    Site& site_;
    DataSet& data_;
    const Capabilities& capabilities_;
    kmaps::Tiles& tiles_;
};

}  // namespace kserve

#endif
