// tile_answer.cpp: tile addresses' numbers and the answer of a tile.
#include "service/tile_answer.h"

#include "kcommon/etag.h"
#include "kmaps/drawing.h"
#include "service/errors.h"
#include "service/json.h"
#include "service/params.h"

namespace kserve {

using kmaps::TileFormat;
using kmaps::TileKey;
using kmaps::TileMatrix;
using kmaps::TileMatrixSet;
using kmaps::Tiles;

std::optional<TileName> parse_tile_name(std::string_view segment) {
    constexpr std::string_view kPng = ".png";
    constexpr std::string_view kJpeg = ".jpg";
    TileName name;
    auto ends = [&](std::string_view end) {
        return segment.size() > end.size() && segment.substr(segment.size() - end.size()) == end;
    };
    if (ends(kJpeg))
        name.format = TileFormat::jpeg;
    else if (!ends(kPng))
        return std::nullopt;
    segment.remove_suffix(kPng.size());
    const size_t at = segment.find('@');
    if (at != std::string_view::npos) {
        // "@{F}x" with F a single digit from 2 to kmaps::kMaxFactor.
        const std::string_view suffix = segment.substr(at);
        if (suffix.size() != 3 || suffix[2] != 'x' || suffix[1] < '2' ||
            suffix[1] > '0' + kmaps::kMaxFactor)
            return std::nullopt;
        name.factor = suffix[1] - '0';
        segment = segment.substr(0, at);
    }
    const auto number = parse_int(segment, 0, 1L << 30);
    if (!number) return std::nullopt;
    name.number = static_cast<long>(*number);
    return name;
}

std::optional<long> tile_index(std::string_view text, std::string_view suffix) {
    if (text.size() <= suffix.size() || text.substr(text.size() - suffix.size()) != suffix)
        return std::nullopt;
    const auto n = parse_int(text.substr(0, text.size() - suffix.size()), 0, 1L << 30);
    if (!n) return std::nullopt;
    return static_cast<long>(*n);
}

Response tile_answer(const Site& site, Tiles& tiles, const Request& r, const TileAddress& at,
                     TileErrors errors) {
    auto fail = [&](const std::string& code, const std::string& locator, const std::string& msg) {
        switch (errors) {
            case TileErrors::ows:
                return ows_exception(code, locator, msg);
            case TileErrors::problem:
                return json_problem(code == "NoApplicableCode" ? 500 : 404, msg);
            case TileErrors::plain:
                break;
        }
        return answer(404, msg + "\n");
    };
    const TileMatrixSet* s = tiles.set(at.set);
    if (!s)
        return fail("InvalidParameterValue", "tilematrixset", "unknown tile matrix set " + at.set);
    const auto level = parse_int(at.matrix, 0, 30);
    const TileMatrix* m = level ? s->matrix(static_cast<long>(*level)) : nullptr;
    if (!m) return fail("InvalidParameterValue", "tilematrix", "unknown tile matrix " + at.matrix);
    if (at.row >= m->rows)
        return fail("TileOutOfRange", "tilerow", "TILEROW is outside the matrix");
    if (at.col >= m->cols)
        return fail("TileOutOfRange", "tilecol", "TILECOL is outside the matrix");

    const TileKey key{at.set, m->level, at.row, at.col, at.factor, at.format};
    Response res;
    // A JPEG tile's key ends in ".jpg": its validator is not its PNG's.
    res.etag = site.etag("tile|" + key.text());
    res.cache_control = "public, max-age=86400";
    res.content_type = kmaps::media_type(at.format);
    Metrics* metrics = site.metrics();
    if (kcommon::if_none_match(r.if_none_match, res.etag)) {
        res.status = 304;
        if (metrics) metrics->not_modified.fetch_add(1);
        return res;
    }
    const Tiles::Result found = tiles.get(key);
    if (metrics) (found.cached ? metrics->tile_hits : metrics->tile_misses).fetch_add(1);
    if (!found.file) return fail("NoApplicableCode", "", found.error);
    res.body = *found.file;
    return res;
}

}  // namespace kserve
