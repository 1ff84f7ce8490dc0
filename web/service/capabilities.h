// capabilities.h: the XML capabilities documents of WMS 1.3.0, WMS 1.1.1 and WMTS 1.0.0, made
// once per data set when a worker starts. The service's public address (base_url()) is put in
// when a document is sent.
#ifndef KSERVE_CAPABILITIES_H
#define KSERVE_CAPABILITIES_H

#include <string>
#include <string_view>
#include <vector>

#include "kmaps/tiles.h"
#include "service/site.h"

namespace kserve {

// How long a capabilities document may be kept by caches and clients: its addresses come from
// the configured public address only, so one copy serves everyone; a reload with new data is
// seen within the time.
constexpr const char* kCapabilitiesCacheControl = "public, max-age=300";

class Capabilities {
  public:
    // Writes the three documents for the data set and its tile matrix sets.
    void build(const Site& site, const std::vector<kmaps::TileMatrixSet>& sets);

    // The documents with the service at `base` ("http://host:port").
    std::string wms(bool v130, std::string_view base) const;
    std::string wmts(std::string_view base) const;

  private:
    // A document cut where the service's address goes.
    struct Document {
        std::vector<std::string> pieces;
        void take(const std::string& xml);
        std::string with(std::string_view base) const;
    };
    Document wms130_;
    Document wms111_;
    Document wmts_;
};

}  // namespace kserve

#endif
