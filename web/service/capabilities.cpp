// capabilities.cpp: the capabilities documents, written with the XML writer in the layout
// (line breaks and indentation) that clients have always been sent.
#include "service/capabilities.h"

#include <utility>

#include "kmaps/render.h"
#include "service/xml.h"

namespace kserve {

namespace {

// Stands for the service's address while a document is made; no part of a document made
// from a data set can hold it (numbers, system names, fixed texts).
constexpr std::string_view kBase = "@KSERVE-BASE-URL@";

std::string wms_document(const Site& site, bool v130) {
    const DataSet& data = site.data();
    const std::string url = std::string(kBase) + "/wms?";
    const char* crs_tag = v130 ? "CRS" : "SRS";
    XmlWriter w;
    if (v130) {
        w.open("WMS_Capabilities")
            .attribute("version", "1.3.0")
            .attribute("xmlns", "http://www.opengis.net/wms")
            .attribute("xmlns:xlink", "http://www.w3.org/1999/xlink")
            .attribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance")
            .attribute("xsi:schemaLocation",
                       "http://www.opengis.net/wms "
                       "http://schemas.opengis.net/wms/1.3.0/capabilities_1_3_0.xsd");
    } else {
        w.doctype("WMT_MS_Capabilities",
                  "http://schemas.opengis.net/wms/1.1.1/WMS_MS_Capabilities.dtd");
        w.open("WMT_MS_Capabilities")
            .attribute("version", "1.1.1")
            .attribute("xmlns:xlink", "http://www.w3.org/1999/xlink");
    }
    const auto online_resource = [&] {
        w.open("OnlineResource")
            .attribute("xlink:type", "simple")
            .attribute("xlink:href", url)
            .close();
    };
    w.layout("\n").open("Service").layout("\n  ").element("Name", v130 ? "WMS" : "OGC:WMS");
    w.layout("\n  ").element("Title", "Road map");
    w.layout("\n  ").element("Abstract",
                             "Road maps drawn by the kestrel engine from one data set.");
    w.layout("\n  ");
    online_resource();
    w.layout("\n  ").element("Fees", "none");
    w.layout("\n  ").element("AccessConstraints", "none");
    if (v130) {
        w.layout("\n  ").element("LayerLimit",
                                 std::to_string(2 + data.engine().categories().size()));
        // The largest map that is drawn in every system listed, at any box, within the
        // budget: a client that keeps to it (QGIS cuts its prints by it) is never refused.
        const std::string side = std::to_string(kmaps::served_side(site.map_budget()));
        w.layout("\n  ").element("MaxWidth", side);
        w.layout("\n  ").element("MaxHeight", side);
    }
    w.layout("\n").close_full().layout("\n").open("Capability").layout("\n  ").open("Request");
    const auto operation = [&](const char* name, std::initializer_list<const char*> formats) {
        w.layout("\n    ").open(name);
        for (const char* f : formats) w.layout("\n      ").element("Format", f);
        w.layout("\n      ").open("DCPType").open("HTTP").open("Get");
        online_resource();
        w.close_full().close_full().close_full().layout("\n    ").close_full();
    };
    operation("GetCapabilities", {v130 ? "text/xml" : "application/vnd.ogc.wms_xml"});
    operation("GetMap", {"image/png", "image/gif", "image/jpeg", "image/bmp"});
    operation("GetFeatureInfo", {"text/plain", "application/json", "text/html"});
    w.layout("\n  ").close_full().layout("\n  ").open("Exception").layout("\n    ");
    w.element("Format", v130 ? "XML" : "application/vnd.ogc.se_xml").layout("\n  ").close_full();

    w.layout("\n  ").open("Layer").layout("\n    ").element("Title", "Road map");
    for (const auto& system : data.systems()) {
        if (!v130 && system->name() == kmaps::kCrs84) continue;  // WMS 1.3.0's
        w.layout("\n    ").element(crs_tag, system->name());
    }
    const Box& ll = data.extent_lonlat();
    w.layout("\n    ");
    if (v130) {
        w.open("EX_GeographicBoundingBox")
            .element("westBoundLongitude", fmt(ll.minx))
            .element("eastBoundLongitude", fmt(ll.maxx))
            .element("southBoundLatitude", fmt(ll.miny))
            .element("northBoundLatitude", fmt(ll.maxy))
            .close_full();
    } else {
        w.open("LatLonBoundingBox")
            .attribute("minx", fmt(ll.minx))
            .attribute("miny", fmt(ll.miny))
            .attribute("maxx", fmt(ll.maxx))
            .attribute("maxy", fmt(ll.maxy))
            .close();
    }
    const auto bbox = [&](const std::string& name, const Box& b, bool swap) {
        w.layout("\n    ")
            .open("BoundingBox")
            .attribute(crs_tag, name)
            .attribute("minx", fmt(swap ? b.miny : b.minx))
            .attribute("miny", fmt(swap ? b.minx : b.miny))
            .attribute("maxx", fmt(swap ? b.maxy : b.maxx))
            .attribute("maxy", fmt(swap ? b.maxx : b.maxy))
            .close();
    };
    bbox(data.native().name(), data.extent(), v130 && data.native().north_first());
    bbox(kmaps::kWebMercator, data.extent_mercator(), false);
    bbox(kmaps::kLonLat, ll, v130);
    const auto style = [&] {
        w.layout("\n      ")
            .open("Style")
            .element("Name", "default")
            .element("Title", "The engine's colours")
            .close_full();
    };
    w.layout("\n    ").open("Layer").attribute("queryable", "1").attribute("opaque", "1");
    w.layout("\n      ").element("Name", "map");
    w.layout("\n      ").element("Title", "Roads, areas and place names");
    style();
    w.layout("\n    ").close_full();
    w.layout("\n    ").open("Layer").attribute("queryable", "1");
    w.layout("\n      ").element("Name", "poi");
    w.layout("\n      ").element("Title", "Points of interest");
    style();
    for (int c : data.engine().categories()) {
        w.layout("\n      ").open("Layer").attribute("queryable", "1");
        w.layout("\n        ").element("Name", "poi." + std::to_string(c));
        w.layout("\n        ")
            .element("Title", "Points of interest of category " + std::to_string(c));
        w.layout("\n      ").close_full();
    }
    w.layout("\n    ").close_full().layout("\n  ").close_full().layout("\n").close_full();
    w.layout("\n").close_full();
    return w.finish();
}

std::string wmts_document(const DataSet& data, const std::vector<kmaps::TileMatrixSet>& sets) {
    const std::string base(kBase);
    XmlWriter w;
    w.open("Capabilities")
        .attribute("xmlns", "http://www.opengis.net/wmts/1.0")
        .attribute("xmlns:ows", "http://www.opengis.net/ows/1.1")
        .attribute("xmlns:xlink", "http://www.w3.org/1999/xlink")
        .attribute("xmlns:xsi", "http://www.w3.org/2001/XMLSchema-instance")
        .attribute("xmlns:gml", "http://www.opengis.net/gml")
        .attribute("xsi:schemaLocation",
                   "http://www.opengis.net/wmts/1.0 "
                   "http://schemas.opengis.net/wmts/1.0/wmtsGetCapabilities_response.xsd")
        .attribute("version", "1.0.0");
    w.layout("\n  ").open("ows:ServiceIdentification");
    w.layout("\n    ").element("ows:Title", "Road map tiles");
    w.layout("\n    ").element("ows:ServiceType", "OGC WMTS");
    w.layout("\n    ").element("ows:ServiceTypeVersion", "1.0.0");
    w.layout("\n  ").close_full().layout("\n  ").open("ows:OperationsMetadata");
    for (const char* name : {"GetCapabilities", "GetTile"}) {
        w.layout("\n    ").open("ows:Operation").attribute("name", name);
        w.open("ows:DCP").open("ows:HTTP").open("ows:Get").attribute("xlink:href", base + "/wmts?");
        w.open("ows:Constraint").attribute("name", "GetEncoding").open("ows:AllowedValues");
        w.element("ows:Value", "KVP");
        for (int k = 0; k < 6; ++k) w.close_full();
    }
    w.layout("\n  ").close_full().layout("\n  ").open("Contents").layout("\n    ").open("Layer");
    w.layout("\n      ").element("ows:Title", "Roads, areas and place names");
    const Box& ll = data.extent_lonlat();
    w.layout("\n      ")
        .open("ows:WGS84BoundingBox")
        .element("ows:LowerCorner", fmt(ll.minx) + ' ' + fmt(ll.miny))
        .element("ows:UpperCorner", fmt(ll.maxx) + ' ' + fmt(ll.maxy))
        .close_full();
    w.layout("\n      ").element("ows:Identifier", "map");
    w.layout("\n      ").open("Style").attribute("isDefault", "true");
    w.element("ows:Identifier", "default").close_full();
    // PNG first: clients that take the first format get the exact colours and transparency.
    w.layout("\n      ").element("Format", "image/png");
    w.layout("\n      ").element("Format", "image/jpeg");
    for (const auto& set : sets) {
        w.layout("\n      ").open("TileMatrixSetLink");
        w.element("TileMatrixSet", set.id()).close_full();
    }
    for (const auto& [format, extension] : {std::pair{"image/png", ".png"}, {"image/jpeg", ".jpg"}})
        w.layout("\n      ")
            .open("ResourceURL")
            .attribute("format", format)
            .attribute("resourceType", "tile")
            .attribute("template", base +
                                       "/wmts/1.0.0/map/default/{TileMatrixSet}/{TileMatrix}/"
                                       "{TileRow}/{TileCol}" +
                                       extension)
            .close();
    w.layout("\n    ").close_full();
    for (const auto& set : sets) {
        w.layout("\n    ").open("TileMatrixSet");
        w.layout("\n      ").element("ows:Identifier", set.id());
        w.layout("\n      ").element("ows:SupportedCRS", set.crs_urn());
        if (!set.well_known_scale_set().empty())
            w.layout("\n      ").element("WellKnownScaleSet", set.well_known_scale_set());
        for (const kmaps::TileMatrix& m : set.matrices()) {
            const double a = set.north_first() ? m.top : m.left;
            const double b = set.north_first() ? m.left : m.top;
            w.layout("\n      ").open("TileMatrix");
            w.element("ows:Identifier", std::to_string(m.level));
            w.element("ScaleDenominator", fmt(m.scale_denominator()));
            w.element("TopLeftCorner", fmt(a) + ' ' + fmt(b));
            w.element("TileWidth", std::to_string(kmaps::kTileSize));
            w.element("TileHeight", std::to_string(kmaps::kTileSize));
            w.element("MatrixWidth", std::to_string(m.cols));
            w.element("MatrixHeight", std::to_string(m.rows));
            w.close_full();
        }
        w.layout("\n    ").close_full();
    }
    w.layout("\n  ").close_full().layout("\n  ");
    w.open("ServiceMetadataURL")
        .attribute("xlink:href", base + "/wmts/1.0.0/WMTSCapabilities.xml")
        .close();
    w.layout("\n").close_full();
    return w.finish();
}

}  // namespace

void Capabilities::Document::take(const std::string& xml) {
    pieces.clear();
    size_t start = 0;
    for (size_t at; (at = xml.find(kBase, start)) != std::string::npos; start = at + kBase.size())
        pieces.push_back(xml.substr(start, at - start));
    pieces.push_back(xml.substr(start));
}

std::string Capabilities::Document::with(std::string_view base) const {
    std::string out;
    size_t n = 0;
    for (const auto& p : pieces) n += p.size() + base.size();
    out.reserve(n);
    for (size_t k = 0; k < pieces.size(); ++k) {
        if (k) out += base;
        out += pieces[k];
    }
    return out;
}

void Capabilities::build(const Site& site, const std::vector<kmaps::TileMatrixSet>& sets) {
    wms130_.take(wms_document(site, true));
    wms111_.take(wms_document(site, false));
    wmts_.take(wmts_document(site.data(), sets));
}

std::string Capabilities::wms(bool v130, std::string_view base) const {
    return (v130 ? wms130_ : wms111_).with(base);
}

std::string Capabilities::wmts(std::string_view base) const {
    return wmts_.with(base);
}

}  // namespace kserve
