// ogcapi_openapi.cpp: the OpenAPI 3.0 description of /ogcapi: one entry per path that
// ogcapi.cpp serves, its parameters and its answers.
#include "kmaps/crs.h"
#include "kmaps/render.h"
#include "service/ogcapi.h"

namespace kserve {

namespace {

Json parameter(const char* name, const char* in, const char* description, Json schema,
               bool required = false) {
    return {{"name", name},
            {"in", in},
            {"description", description},
            {"required", required || std::string(in) == "path"},
            {"schema", std::move(schema)}};
}

Json ref(const char* name) {
    return {{"$ref", std::string("#/components/parameters/") + name}};
}

// An operation answering `types` (media type -> description of the answer).
Json get(const char* summary, Json parameters, std::initializer_list<const char*> types) {
    Json content = Json::object();
    for (const char* t : types) content[t] = {{"schema", {{"type", "object"}}}};
    Json problem = {
        {"description", "the request or the service failed (problem details)"},
        {"content", {{"application/problem+json", {{"schema", {{"type", "object"}}}}}}}};
    return {{"get",
             {{"summary", summary},
              {"parameters", std::move(parameters)},
              {"responses",
               {{"200", {{"description", summary}, {"content", std::move(content)}}},
                {"304", {{"description", "not modified (If-None-Match names the ETag)"}}},
                {"400", problem},
                {"404", problem},
                {"500", problem}}}}}};
}

// The parameters that several paths share, under #/components/parameters.
Json shared_parameters(const DataSet& data) {
    const std::string crs84 = kmaps::crs_uri(kmaps::kCrs84);
    const Json crs_enum = {
        {"type", "string"},
        {"enum",
         {crs84, kmaps::crs_uri(data.native().name()), kmaps::crs_uri(data.mercator().name())}},
        {"default", crs84}};
    const Json f_json = {{"type", "string"}, {"enum", {"json", "html"}}};
    return {
        {"f", parameter("f", "query", "the answer's format", f_json)},
        {"bbox",
         parameter("bbox", "query", "minx,miny,maxx,maxy in bbox-crs (longitude first in CRS84)",
                   {{"type", "array"},
                    {"minItems", 4},
                    {"maxItems", 4},
                    {"items", {{"type", "number"}}}})},
        {"bbox-crs", parameter("bbox-crs", "query", "the system of bbox", crs_enum)},
        {"crs", parameter("crs", "query", "the system of the answer", crs_enum)},
        {"collectionId", parameter("collectionId", "path", "a collection",
                                   {{"type", "string"}, {"enum", {"map", "roads", "pois"}}})},
        {"featureCollectionId",
         parameter("collectionId", "path", "a collection of features (the map's holds none)",
                   {{"type", "string"}, {"enum", {"map", "roads", "pois"}}})},
        {"tileMatrixSetId",
         parameter("tileMatrixSetId", "path", "a tile matrix set",
                   {{"type", "string"}, {"enum", {"WebMercatorQuad", "native"}}})},
    };
}

// The parameters of a tile's address, and its format `f` among `formats` (the first the
// default).
Json tile_parameters(std::initializer_list<const char*> formats) {
    const Json string = {{"type", "string"}};
    return {
        ref("tileMatrixSetId"), parameter("tileMatrix", "path", "the level", string),
        parameter("tileRow", "path", "the row from the top", {{"type", "integer"}, {"minimum", 0}}),
        parameter("tileCol", "path", "the column from the left",
                  {{"type", "integer"}, {"minimum", 0}}),
        parameter("f", "query", "the tile's format",
                  {{"type", "string"}, {"enum", Json(formats)}, {"default", *formats.begin()}})};
}

}  // namespace

Json openapi_document(const std::string& base, const Site& site) {
    const Json string = {{"type", "string"}};
    const Json f = ref("f");
    // The largest map drawn in every system at any box within the budget (render.h).
    const int side = kmaps::served_side(site.map_budget());
    const std::string limit_text = "features a page (more than " +
                                   std::to_string(OgcApi::kMaxLimit) + " count as " +
                                   std::to_string(OgcApi::kMaxLimit) + ")";
    auto side_text = [&](const char* way) {
        return "pixels " + std::string(way) + ", 1 to " + std::to_string(side) +
               " (every map within " + std::to_string(side) + " x " + std::to_string(side) +
               " is drawn in every system)";
    };
    Json paths = {
        {"/", get("the landing page", {f}, {"application/json", "text/html"})},
        {"/conformance", get("the conformance classes", {f}, {"application/json", "text/html"})},
        {"/api", get("this document", {f}, {"application/vnd.oai.openapi+json;version=3.0"})},
        {"/collections", get("the collections", {f}, {"application/json", "text/html"})},
        {"/collections/{collectionId}",
         get("a collection", {ref("collectionId"), f}, {"application/json", "text/html"})},
        {"/collections/map/map",
         get("the map of a box",
             {ref("bbox"), ref("bbox-crs"), ref("crs"),
              parameter("width", "query", side_text("across").c_str(),
                        {{"type", "integer"}, {"minimum", 1}, {"maximum", side}}),
              parameter("height", "query", side_text("down").c_str(),
                        {{"type", "integer"}, {"minimum", 1}, {"maximum", side}}),
              parameter("f", "query", "the picture's format",
                        {{"type", "string"},
                         {"enum", {"png", "jpeg", "gif", "bmp"}},
                         {"default", "png"}}),
              parameter("transparent", "query",
                        "a transparent background (not in JPEG, which is drawn on bgcolor)",
                        {{"type", "boolean"}, {"default", false}}),
              parameter("bgcolor", "query", "the background colour, 0xRRGGBB", string)},
             {"image/png", "image/jpeg", "image/gif", "image/bmp"})},
        {"/collections/map/map/tiles",
         get("the map's tile sets", {f}, {"application/json", "text/html"})},
        {"/collections/map/map/tiles/{tileMatrixSetId}",
         get("a tile set", {ref("tileMatrixSetId"), f}, {"application/json", "text/html"})},
        {"/collections/map/map/tiles/{tileMatrixSetId}/{tileMatrix}/{tileRow}/{tileCol}",
         get("a tile", tile_parameters({"png", "jpeg"}), {"image/png", "image/jpeg"})},
        {"/collections/map/tiles",
         get("the data set's vector tile sets", {f}, {"application/json"})},
        {"/collections/map/tiles/{tileMatrixSetId}",
         get("a vector tile set", {ref("tileMatrixSetId"), f}, {"application/json"})},
        {"/collections/map/tiles/{tileMatrixSetId}/{tileMatrix}/{tileRow}/{tileCol}",
         get("a vector tile (204 when nothing lies in it)", tile_parameters({"mvt"}),
             {"application/vnd.mapbox-vector-tile"})},
        {"/collections/{collectionId}/items",
         get("features in a box, a page at a time",
             {ref("featureCollectionId"), ref("bbox"), ref("bbox-crs"), ref("crs"),
              parameter("limit", "query", limit_text.c_str(),
                        {{"type", "integer"}, {"minimum", 1}, {"default", OgcApi::kDefaultLimit}}),
              parameter("cursor", "query", "where the page starts, as a next link gives it",
                        string),
              parameter("f", "query", "the answer's format",
                        {{"type", "string"}, {"enum", {"json", "geojson"}}})},
             {"application/geo+json"})},
        {"/collections/{collectionId}/items/{featureId}",
         get("a feature",
             {ref("featureCollectionId"),
              parameter("featureId", "path", "the feature's id",
                        {{"type", "integer"}, {"minimum", 1}}),
              ref("crs"),
              parameter("f", "query", "the answer's format",
                        {{"type", "string"}, {"enum", {"json", "geojson"}}})},
             {"application/geo+json"})},
        {"/tileMatrixSets", get("the tile matrix sets", {f}, {"application/json", "text/html"})},
        {"/tileMatrixSets/{tileMatrixSetId}",
         get("a tile matrix set", {ref("tileMatrixSetId"), f}, {"application/json", "text/html"})},
    };
    return {{"openapi", "3.0.3"},
            {"info",
             {{"title", "kestrel map service"},
              {"version", KSERVE_VERSION},
              {"description",
               "OGC API Maps, Tiles and Features over the data set's map, tiles, "
               "roads and points of interest"}}},
            {"servers", {{{"url", base}}}},
            {"paths", std::move(paths)},
            {"components", {{"parameters", shared_parameters(site.data())}}}};
}

}  // namespace kserve
