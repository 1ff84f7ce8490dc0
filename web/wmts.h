// wmts.h: OGC WMTS 1.0.0 (KVP at /wmts, REST under /wmts/1.0.0/) and XYZ tile addresses
// (/tiles/{native|google}/{z}/{x}/{y}.png), over the tiles of tiles.h, and OWS exception
// reports.
#ifndef KSERVE_WMTS_H
#define KSERVE_WMTS_H

#include <string>

#include "capabilities.h"
#include "dataset.h"
#include "params.h"
#include "request.h"
#include "tiles.h"

namespace kserve {

// An OWS exception report with the HTTP status its code has: 501 for OperationNotSupported,
// 500 for NoApplicableCode, else 400. An empty `locator` gives none.
Response ows_exception(const std::string& code, const std::string& locator,
                       const std::string& message);

class Wmts {
  public:
    Wmts(DataSet& data, const Capabilities& capabilities, Tiles& tiles)
        : data_(data), capabilities_(capabilities), tiles_(tiles) {}

    // /wmts?SERVICE=WMTS&REQUEST=...
    Response kvp(const Request& r, const Params& p);
    // /wmts/1.0.0/WMTSCapabilities.xml
    Response capabilities(const Request& r);
    // /wmts/1.0.0/{layer}/{style}/{set}/{matrix}/{row}/{col}.png, `rest` the part after
    // "/wmts/1.0.0/".
    Response rest(const Request& r, const std::string& rest);
    // /tiles/{native|google}/{z}/{x}/{y}.png, `rest` the part after "/tiles/": errors are
    // plain 404s.
    Response xyz(const Request& r, const std::string& rest);

  private:
    Response tile(const Request& r, const std::string& set, const std::string& matrix, long row,
                  long col, bool ows_errors);

    DataSet& data_;
    const Capabilities& capabilities_;
    Tiles& tiles_;
};

}  // namespace kserve

#endif
