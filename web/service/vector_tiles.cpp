// vector_tiles.cpp: the vector tiles' addresses, their descriptions, the style and the glyphs.
#include "service/vector_tiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>

#include "kcommon/etag.h"
#include "kmaps/vector/style.h"
#include "service/json.h"
#include "service/wmts.h"

namespace kserve {

using kmaps::TileMatrix;
using kmaps::TileMatrixSet;

namespace {

constexpr const char* kTileCacheControl = "public, max-age=86400";
constexpr const char* kDocumentCacheControl = "public, max-age=300";
constexpr const char* kGlyphType = "application/x-protobuf";
constexpr off_t kMaxGlyphFile = 4 << 20;  // a range of 256 glyphs is some tens of kilobytes
constexpr double kHalfWorld = 20037508.342789244;  // EPSG:3857's square, half a side

// The tile set of an XYZ address's first segment ("google", "native"), or null.
const TileMatrixSet* named_set(const kmaps::Tiles& tiles, std::string_view name) {
    if (name == "google") return tiles.set("GoogleMapsCompatible");
    if (name == "native") return tiles.set("native");
    return nullptr;
}

// True for a font name that may be a folder of the glyphs' folder: not empty, no '/' or '\',
// no control character, not hidden (so neither "." nor "..").
bool plain_font_name(std::string_view name) {
    if (name.empty() || name.size() > 200 || name[0] == '.') return false;
    for (const char c : name)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

// The file at `path` when it is a regular file (not through a link) of at most
// kMaxGlyphFile bytes.
std::optional<std::string> read_small_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    struct stat st {};
    std::optional<std::string> out;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= kMaxGlyphFile) {
        std::string data(static_cast<size_t>(st.st_size), '\0');
        size_t got = 0;
        while (got < data.size()) {
            const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        if (got == data.size()) out = std::move(data);
    }
    ::close(fd);
    return out;
}

// The google level whose 512-pixel tiles show the whole box `mercator` in about 1024 pixels.
int fitting_zoom(const Box& mercator) {
    const double side = std::max(mercator.maxx - mercator.minx, mercator.maxy - mercator.miny);
    if (!(side > 0)) return kmaps::kVectorMaxZoom;
    const double z = std::floor(std::log2(2 * kHalfWorld * 2 / side));
    return static_cast<int>(std::clamp(z, 0.0, static_cast<double>(kmaps::kVectorMaxZoom)));
}

// `s` without blanks and tabs at either end.
std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// The tiles of each level of `set` that hold `box` (the data set's extent in the set's system),
// as OGC API Tiles' tileMatrixSetLimits: clients read one of them to learn the layers' fields.
Json tile_limits(const TileMatrixSet& set, const Box& box) {
    Json out = Json::array();
    for (const TileMatrix& m : set.matrices()) {
        const double span = kmaps::kTileSize * m.resolution;
        auto index = [](double v, long last) {
            return std::clamp(static_cast<long>(std::floor(v)), 0L, last);
        };
        out.push_back({{"tileMatrix", std::to_string(m.level)},
                       {"minTileRow", index((m.top - box.maxy) / span, m.rows - 1)},
                       {"maxTileRow", index((m.top - box.miny) / span - 1e-9, m.rows - 1)},
                       {"minTileCol", index((box.minx - m.left) / span, m.cols - 1)},
                       {"maxTileCol", index((box.maxx - m.left) / span - 1e-9, m.cols - 1)}});
    }
    return out;
}

}  // namespace

std::string default_fonts_dir() {
    if (const char* env = std::getenv("KESTREL_FONTS_DIR"); env && *env) return env;
    char exe[4096];
    const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
    if (n <= 0) return {};
    const std::string path(exe, static_cast<size_t>(n));
    return path.substr(0, path.rfind('/') + 1) + "../share/kestrel/fonts";
}

bool accepts_gzip(std::string_view field) {
    for (const std::string& item : split(field, ',')) {
        const size_t semi = item.find(';');
        const std::string coding = lower(trim(std::string_view(item).substr(0, semi)));
        if (coding != "gzip" && coding != "x-gzip" && coding != "*") continue;
        if (semi == std::string::npos) return true;
        // "q=0", "q=0.0", "q=0.000" refuse it; any other weight accepts it.
        const std::string weight = lower(trim(std::string_view(item).substr(semi + 1)));
        if (weight.rfind("q=", 0) != 0) return true;
        const auto q = parse_decimal(weight.substr(2));
        if (!q || *q > 0) return true;
    }
    return false;
}

bool VectorTileService::open(const std::string& fonts_dir, std::string& error) {
    fonts_dir_ = fonts_dir;
    DataSet& data = site_.data();
    return vector_.open(data.engine().dir(), data.native().name(), error);
}

std::optional<Response> VectorTileService::route(const Request& r, const std::string& path,
                                                 const Params& p) {
    constexpr std::string_view kTiles = "/tiles/", kOgcTiles = "/ogcapi/collections/map/tiles";
    auto ends = [&](std::string_view end) {
        return path.size() > end.size() &&
               path.compare(path.size() - end.size(), end.size(), end.data(), end.size()) == 0;
    };
    if (path.rfind(kTiles, 0) == 0) {
        const std::string rest = path.substr(kTiles.size());
        if (rest == "google.mvt.json" || rest == "native.mvt.json")
            return tilejson(r, rest.substr(0, rest.find('.')));
        if (ends(".mvt")) return xyz(r, rest);
        return std::nullopt;
    }
    if (path == "/styles/kestrel.json") return style(r);
    if (path.rfind("/fonts/", 0) == 0) return font(r, path.substr(7));
    if (path == kOgcTiles || path.rfind(std::string(kOgcTiles) + "/", 0) == 0)
        return ogc_tiles(r, split(path.substr(8), '/'), p);
    return std::nullopt;
}

Response VectorTileService::xyz(const Request& r, const std::string& rest) {
    // {google|native}/{z}/{x}/{y}.mvt
    const auto parts = split(rest, '/');
    if (parts.size() != 4)
        return answer(400, "malformed vector tile address: /tiles/{set}/{z}/{x}/{y}.mvt\n");
    const TileMatrixSet* set = named_set(tiles_, parts[0]);
    if (!set) return answer(404, "unknown tile set " + parts[0] + " (google or native)\n");
    const auto z = parse_int(parts[1], 0, 30);
    const auto x = tile_index(parts[2], "");
    const auto y = tile_index(parts[3], ".mvt");
    if (!z || !x || !y)
        return answer(400, "malformed vector tile address: z, x and y are whole numbers\n");
    return tile(r, *set, parts[1], *y, *x, false);
}

Response VectorTileService::tile(const Request& r, const TileMatrixSet& set, std::string_view level,
                                 long row, long col, bool problems) {
    auto fail = [&](int status, const std::string& why) {
        return problems ? json_problem(status, why) : answer(status, why + "\n");
    };
    const auto z = parse_int(level, 0, 30);
    const TileMatrix* m = z ? set.matrix(static_cast<long>(*z)) : nullptr;
    if (!m) return fail(404, "the tile set has no level " + std::string(level));
    if (row >= m->rows) return fail(404, "the tile's row is outside the level");
    if (col >= m->cols) return fail(404, "the tile's column is outside the level");
    const std::string key = "mvt|" + set.id() + "/" + std::to_string(m->level) + "/" +
                            std::to_string(row) + "/" + std::to_string(col);
    Metrics* metrics = site_.metrics();
    std::shared_ptr<const std::string> body = cache_.find(key);
    if (metrics) (body ? metrics->tile_hits : metrics->tile_misses).fetch_add(1);
    if (!body) {
        std::string mvt, error;
        if (!vector_.build(set, *m, row, col, mvt, error)) {
            Response res = fail(500, "the vector tile cannot be made: " + error);
            res.cache_control = "no-store";
            return res;
        }
        body = std::make_shared<const std::string>(std::move(mvt));
        cache_.add(key, body);
    }
    Response res = answer(200, "", kmaps::kMvtType);
    res.cache_control = kTileCacheControl;
    res.headers.emplace_back("Vary", "Accept-Encoding");
    return deliver(r, std::move(res), *body, key);
}

Response VectorTileService::deliver(const Request& r, Response res, const std::string& body,
                                    const std::string& key) {
    // An empty tile is 204 No Content: no body to decode, and still a validator and caching.
    if (body.empty()) {
        res.status = 204;
        res.content_type.clear();
    }
    const bool gz = !body.empty() && accepts_gzip(r.accept_encoding);
    res.etag = site_.etag(gz ? key + "|gzip" : key);
    if (kcommon::if_none_match(r.if_none_match, res.etag)) {
        res.status = 304;
        res.body.clear();
        if (Metrics* metrics = site_.metrics()) metrics->not_modified.fetch_add(1);
        return res;
    }
    if (!gz) {
        res.body = body;
        return res;
    }
    if (auto packed = cache_.find(key + ".gz")) {
        res.body = *packed;
    } else {
        std::string out;
        if (!kmaps::gzip(body, out)) {
            res.body = body;
            res.etag = site_.etag(key);
            return res;
        }
        res.body = out;
        cache_.add(key + ".gz", std::make_shared<const std::string>(std::move(out)));
    }
    res.headers.emplace_back("Content-Encoding", "gzip");
    return res;
}

Response VectorTileService::tilejson(const Request& r, const std::string& name) {
    const bool google = name == "google";
    const TileMatrixSet* s = named_set(tiles_, name);
    if (!s || s->matrices().empty()) return answer(404, "unknown tile set " + name + "\n");
    const DataSet& data = site_.data();
    const Box& ll = data.extent_lonlat();
    const std::string base = base_url(r);
    const int maxzoom = google ? kmaps::kVectorMaxZoom : s->matrices().back().level;
    Json doc = {
        {"tilejson", "3.0.0"},
        {"name", "kestrel vector tiles (" + name + ")"},
        {"description", google ? "The data set as vector tiles in Web Mercator "
                                 "(GoogleMapsCompatible, EPSG:3857), drawn at 512 pixels"
                               : "The data set as vector tiles of its own grid (" +
                                     data.native().name() + "), drawn at 512 pixels"},
        {"version", KSERVE_VERSION},
        {"attribution", "Map data: the kestrel data set"},
        {"scheme", "xyz"},
        {"format", "pbf"},
        {"tiles", {base + "/tiles/" + name + "/{z}/{x}/{y}.mvt"}},
        {"minzoom", 0},
        {"maxzoom", maxzoom},
        {"bounds",
         {json_number(ll.minx), json_number(ll.miny), json_number(ll.maxx), json_number(ll.maxy)}},
        {"center",
         {json_number((ll.minx + ll.maxx) / 2), json_number((ll.miny + ll.maxy) / 2),
          google ? fitting_zoom(data.extent_mercator()) : maxzoom / 2}},
        {"vector_layers", Json::parse(kmaps::vector_layers_json(0, maxzoom))}};
    if (!google) {
        doc["crs"] = data.native().name();
        doc["tile_matrix_set"] = base + "/ogcapi/tileMatrixSets/native";
    }
    Response res = json_answer(200, doc);
    res.cache_control = kDocumentCacheControl;
    return res;
}

Response VectorTileService::style(const Request& r) {
    const DataSet& data = site_.data();
    const std::string base = base_url(r);
    kmaps::vector::StyleOptions options;
    options.tilejson = base + "/tiles/google.mvt.json";
    options.glyphs = base + "/fonts/{fontstack}/{range}.pbf";
    options.maxzoom = kmaps::kVectorMaxZoom;
    options.grid_metres_per_unit = vector_.grid_metres_per_unit(data.extent());
    Json doc = Json::parse(kmaps::vector::style_json(options));
    const Box& ll = data.extent_lonlat();
    doc["center"] = {json_number((ll.minx + ll.maxx) / 2), json_number((ll.miny + ll.maxy) / 2)};
    doc["zoom"] = fitting_zoom(data.extent_mercator());
    Response res = json_answer(200, doc);
    // The colour table may change the style: its validator is its text.
    res.etag = site_.etag("style|" + res.body);
    res.cache_control = kDocumentCacheControl;
    if (kcommon::if_none_match(r.if_none_match, res.etag)) {
        res.status = 304;
        res.body.clear();
    }
    return res;
}

Response VectorTileService::font(const Request& r, const std::string& rest) {
    // {fontstack}/{start}-{end}.pbf, the stack one or more font names joined by commas
    const auto parts = split(rest, '/');
    if (parts.size() != 2) return answer(404, "no such font: /fonts/{fontstack}/{range}.pbf\n");
    const size_t dash = parts[1].find('-');
    const auto start = dash == std::string::npos
                           ? std::nullopt
                           : parse_int(std::string_view(parts[1]).substr(0, dash), 0, 65535);
    const auto end =
        dash == std::string::npos ? std::nullopt : tile_index(parts[1].substr(dash + 1), ".pbf");
    if (!start || !end || *start % 256 != 0 || *end != *start + 255)
        return answer(404,
                      "no such glyph range: /fonts/{fontstack}/{start}-{end}.pbf, "
                      "start a multiple of 256 and end start + 255\n");
    for (const std::string& name : split(parts[0], ',')) {
        if (!plain_font_name(name)) return answer(404, "no such font " + name + "\n");
        const auto data = read_small_file(fonts_dir_ + "/" + name + "/" + parts[1]);
        if (!data) continue;
        Response res = answer(200, "", kGlyphType);
        res.cache_control = kTileCacheControl;
        res.headers.emplace_back("Vary", "Accept-Encoding");
        // Keyed by the file's content, so that a new build of the glyphs is a new validator.
        const size_t digest = std::hash<std::string>{}(*data);
        return deliver(r, std::move(res), *data,
                       "glyphs|" + name + "/" + parts[1] + "|" + std::to_string(digest));
    }
    return answer(404, "no glyph range " + parts[1] + " of the fonts " + parts[0] + "\n");
}

Response VectorTileService::ogc_tiles(const Request& r, const std::vector<std::string>& parts,
                                      const Params& p) {
    // parts: collections map tiles [{set} [{matrix} {row} {col}]]
    const std::string root = base_url(r) + "/ogcapi";
    const std::string base = root + "/collections/map/tiles";
    for (const auto& [key, value] : p.all())
        if (key != "F") return json_problem(400, "unknown parameter " + lower(key));
    auto link = [](const std::string& href, const std::string& rel, const char* type,
                   const std::string& title) {
        return Json{{"href", href}, {"rel", rel}, {"type", type}, {"title", title}};
    };
    const std::string rel = "http://www.opengis.net/def/rel/ogc/1.0/";
    auto tileset = [&](const TileMatrixSet& s, bool full) {
        const std::string& id = s.ogc_id();
        Json t = {{"title", "The data set's vector tiles in " + id},
                  {"dataType", "vector"},
                  {"crs", kmaps::crs_uri(s.crs())}};
        t["tileMatrixSetURI"] = s.native_grid() ? root + "/tileMatrixSets/" + id : s.uri();
        Json links = {link(base + "/" + id, "self", "application/json", "this tile set"),
                      link(root + "/tileMatrixSets/" + id, rel + "tiling-scheme",
                           "application/json", "the tile matrix set")};
        if (full) {
            Json item = link(base + "/" + id + "/{tileMatrix}/{tileRow}/{tileCol}", "item",
                             kmaps::kMvtType, "a vector tile");
            item["templated"] = true;
            links.push_back(std::move(item));
            Json layers = Json::array();
            for (const Json& l : Json::parse(kmaps::vector_layers_json(0, 0)))
                layers.push_back(
                    {{"id", l["id"]},
                     {"description", l["description"]},
                     {"dataType", "vector"},
                     {"propertiesSchema", {{"type", "object"}, {"properties", l["fields"]}}}});
            t["layers"] = std::move(layers);
            t["tileMatrixSetLimits"] = tile_limits(
                s, s.native_grid() ? site_.data().extent() : site_.data().extent_mercator());
        }
        t["links"] = std::move(links);
        return t;
    };
    auto set_of = [&](const std::string& id) -> const TileMatrixSet* {
        return id == "GoogleMapsCompatible" ? nullptr : tiles_.set_by_ogc_id(id);
    };
    if (p.has("F") && lower(p.get("F")) != (parts.size() == 7 ? "mvt" : "json"))
        return json_problem(400, parts.size() == 7 ? "f must be mvt" : "f must be json");
    if (parts.size() == 3) {
        Json list = Json::array();
        for (const char* id : {"WebMercatorQuad", "native"})
            list.push_back(tileset(*set_of(id), false));
        return json_answer(
            200, Json{{"title", "The data set's vector tile sets"},
                      {"links", {link(base, "self", "application/json", "this document")}},
                      {"tilesets", std::move(list)}});
    }
    const TileMatrixSet* s = set_of(parts[3]);
    if (!s) return json_problem(404, "no tile matrix set " + parts[3]);
    if (parts.size() == 4) return json_answer(200, tileset(*s, true));
    if (parts.size() != 7)
        return json_problem(404, "a vector tile is .../{tileMatrix}/{tileRow}/{tileCol}");
    const auto row = tile_index(parts[5], "");
    const auto col = tile_index(parts[6], "");
    if (!row || !col) return json_problem(400, "tileRow and tileCol must be whole numbers");
    return tile(r, *s, parts[4], *row, *col, true);
}

}  // namespace kserve
