// tile_answer.h: the answer every tile address gives (WMTS KVP and REST, XYZ, OGC API Tiles):
// the numbers of a tile's address read one way, and the tile from the cache or drawn, with its
// validator, or the refusal in the address scheme's form.
#ifndef KSERVE_TILE_ANSWER_H
#define KSERVE_TILE_ANSWER_H

#include <optional>
#include <string>
#include <string_view>

#include "kmaps/tiles.h"
#include "service/request.h"
#include "service/site.h"

namespace kserve {

// A tile row or column of an address: a whole number from 0, followed by `suffix` (".png",
// or "" where the address has no extension). Every tile address scheme reads its numbers here,
// but for the last segment of an address that may carry a scale factor ("{col}@2x.png"), which
// parse_tile_name reads.
std::optional<long> tile_index(std::string_view text, std::string_view suffix);

// The last part of a tile's address: "{n}.png" for a tile of factor 1, "{n}@{F}x.png" for
// F = 2 to kmaps::kMaxFactor, and the same with ".jpg" for the JPEG file. Every address scheme
// of tiles (WMTS REST, XYZ) reads its last segment here, so that all of them know the same
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

// A tile's place: the set (an id of tiles.h), the level's text as the address gives it, the
// row and column, the scale factor and the file's format.
struct TileAddress {
    std::string set;
    std::string matrix;
    long row = 0;
    long col = 0;
    int factor = 1;
    kmaps::TileFormat format = kmaps::TileFormat::png;
};

// The tile at `at` as a file, from the cache or drawn with its metatile, with its validator
// (a matching If-None-Match of `r` gives 304); an unknown set or level, or a row or column
// outside the matrix, is refused in the form `errors`.
Response tile_answer(const Site& site, kmaps::Tiles& tiles, const Request& r, const TileAddress& at,
                     TileErrors errors);

}  // namespace kserve

#endif
