// wmts.cpp: WMTS and XYZ requests, checked, answered from the tiles.
#include "wmts.h"

#include "kcommon/etag.h"
#include "xml.h"

namespace kserve {

Response ows_exception(const std::string& code, const std::string& locator,
                       const std::string& message) {
    int status = 400;
    if (code == "OperationNotSupported") status = 501;
    if (code == "NoApplicableCode") status = 500;
    XmlWriter w;
    w.open("ExceptionReport")
        .attribute("xmlns", "http://www.opengis.net/ows/1.1")
        .attribute("version", "1.1.0")
        .attribute("xml:lang", "en");
    w.layout("\n  ").open("Exception").attribute("exceptionCode", code);
    if (!locator.empty()) w.attribute("locator", locator);
    w.layout("\n    ").element("ExceptionText", message).layout("\n  ").close_full();
    w.layout("\n").close_full();
    return answer(status, w.finish(), "text/xml; charset=utf-8");
}

Response Wmts::capabilities(const Request& r) {
    return answer(200, capabilities_.wmts(base_url(r)), "text/xml; charset=utf-8");
}

Response Wmts::kvp(const Request& r, const Params& p) {
    if (p.has("SERVICE") && upper(p.get("SERVICE")) != "WMTS")
        return ows_exception("InvalidParameterValue", "service", "SERVICE must be WMTS");
    const std::string req = p.get("REQUEST");
    if (req.empty()) return ows_exception("MissingParameterValue", "request", "REQUEST is missing");
    if (req == "GetCapabilities") return capabilities(r);
    if (req != "GetTile")
        return ows_exception("OperationNotSupported", "request", "unknown REQUEST " + req);
    if (p.has("VERSION") && p.get("VERSION") != "1.0.0")
        return ows_exception("InvalidParameterValue", "version", "VERSION must be 1.0.0");
    for (const char* k :
         {"LAYER", "STYLE", "FORMAT", "TILEMATRIXSET", "TILEMATRIX", "TILEROW", "TILECOL"})
        if (!p.has(k))
            return ows_exception("MissingParameterValue", lower(k), std::string(k) + " is missing");
    if (p.get("LAYER") != "map")
        return ows_exception("InvalidParameterValue", "layer", "unknown LAYER");
    if (p.get("STYLE") != "default" && !p.get("STYLE").empty())
        return ows_exception("InvalidParameterValue", "style", "unknown STYLE");
    if (p.get("FORMAT") != "image/png")
        return ows_exception("InvalidParameterValue", "format", "FORMAT must be image/png");
    const auto row = parse_int(p.get("TILEROW"), 0, 1L << 30);
    const auto col = parse_int(p.get("TILECOL"), 0, 1L << 30);
    if (!row)
        return ows_exception("InvalidParameterValue", "tilerow", "TILEROW must be a whole number");
    if (!col)
        return ows_exception("InvalidParameterValue", "tilecol", "TILECOL must be a whole number");
    return tile(r, p.get("TILEMATRIXSET"), p.get("TILEMATRIX"), static_cast<long>(*row),
                static_cast<long>(*col), true);
}

Response Wmts::rest(const Request& r, const std::string& rest) {
    // {layer}/{style}/{set}/{matrix}/{row}/{col}.png
    const auto parts = split(rest, '/');
    if (parts.size() != 6 || parts[5].size() < 5 || parts[5].substr(parts[5].size() - 4) != ".png")
        return ows_exception("InvalidParameterValue", "path",
                             "unknown resource /wmts/1.0.0/" + rest);
    if (parts[0] != "map") return ows_exception("InvalidParameterValue", "layer", "unknown layer");
    if (parts[1] != "default")
        return ows_exception("InvalidParameterValue", "style", "unknown style");
    const auto row = parse_int(parts[4], 0, 1L << 30);
    const auto col =
        parse_int(std::string_view(parts[5]).substr(0, parts[5].size() - 4), 0, 1L << 30);
    if (!row || !col)
        return ows_exception("InvalidParameterValue", "TileRow", "bad tile row or column");
    return tile(r, parts[2], parts[3], static_cast<long>(*row), static_cast<long>(*col), true);
}

Response Wmts::xyz(const Request& r, const std::string& rest) {
    // {native|google}/{z}/{x}/{y}.png
    const auto parts = split(rest, '/');
    if (parts.size() != 4 || parts[3].size() < 5 || parts[3].substr(parts[3].size() - 4) != ".png")
        return answer(404, "no such tile address\n");
    const auto x = parse_int(parts[2], 0, 1L << 30);
    const auto y =
        parse_int(std::string_view(parts[3]).substr(0, parts[3].size() - 4), 0, 1L << 30);
    if (!x || !y || parse_int(parts[1], 0, 30) == std::nullopt)
        return answer(404, "no such tile\n");
    const std::string set = parts[0] == "google"   ? "GoogleMapsCompatible"
                            : parts[0] == "native" ? "native"
                                                   : "";
    if (set.empty()) return answer(404, "unknown tile set\n");
    return tile(r, set, parts[1], static_cast<long>(*y), static_cast<long>(*x), false);
}

Response Wmts::tile(const Request& r, const std::string& set, const std::string& matrix, long row,
                    long col, bool ows_errors) {
    auto fail = [&](const std::string& code, const std::string& locator, const std::string& msg) {
        return ows_errors ? ows_exception(code, locator, msg) : answer(404, msg + "\n");
    };
    const TileMatrixSet* s = tiles_.set(set);
    if (!s) return fail("InvalidParameterValue", "tilematrixset", "unknown tile matrix set " + set);
    const auto level = parse_int(matrix, 0, 30);
    const TileMatrix* m = level ? s->matrix(static_cast<long>(*level)) : nullptr;
    if (!m) return fail("InvalidParameterValue", "tilematrix", "unknown tile matrix " + matrix);
    if (row >= m->rows) return fail("TileOutOfRange", "tilerow", "TILEROW is outside the matrix");
    if (col >= m->cols) return fail("TileOutOfRange", "tilecol", "TILECOL is outside the matrix");

    const TileKey key{set, m->level, row, col, 1};
    Response res;
    res.etag = data_.etag("tile|" + key.text());
    res.cache_control = "public, max-age=86400";
    res.content_type = "image/png";
    Metrics* metrics = data_.metrics();
    if (kcommon::if_none_match(r.if_none_match, res.etag)) {
        res.status = 304;
        if (metrics) metrics->not_modified.fetch_add(1);
        return res;
    }
    const Tiles::Result found = tiles_.get(key);
    if (metrics) (found.cached ? metrics->tile_hits : metrics->tile_misses).fetch_add(1);
    if (!found.png) return fail("NoApplicableCode", "", found.error);
    res.body = *found.png;
    return res;
}

}  // namespace kserve
