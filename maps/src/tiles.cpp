// tiles.cpp: tile matrix sets, metatiles, the tile cache.
#include "kmaps/tiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "kmaps/drawing.h"
#include "kmaps/image.h"
#include "kmaps/render.h"

namespace kmaps {

namespace {

constexpr double kNativeResolutions[] = {128, 64, 32, 16, 8, 4, 2, 1};
constexpr int kGoogleLevels = 19;  // 0 to 18
constexpr double kWebMercatorHalf = 20037508.3427892;
constexpr const char* kNativeId = "native";
constexpr const char* kGoogleId = "GoogleMapsCompatible";
constexpr const char* kGoogleOgcId = "WebMercatorQuad";
constexpr const char* kRegisteredSets = "http://www.opengis.net/def/tilematrixset/OGC/1.0/";
constexpr const char* kGoogleScaleSetUrn = "urn:ogc:def:wkss:OGC:1.0:GoogleMapsCompatible";
constexpr const char* kGoogleScaleSetUri =
    "http://www.opengis.net/def/wkss/OGC/1.0/GoogleMapsCompatible";

}  // namespace

Box TileMatrix::box(long row, long col, long nrows, long ncols) const {
    const double span = kTileSize * resolution;
    return {left + col * span, top - (row + nrows) * span, left + (col + ncols) * span,
            top - row * span};
}

TileMatrixSet TileMatrixSet::native(const Crs& grid, const Box& extent) {
    TileMatrixSet s;
    s.id_ = s.ogc_id_ = kNativeId;
    s.crs_ = grid.name();
    s.north_first_ = grid.north_first();
    s.native_grid_ = true;
    s.bounds_ = extent;
    int level = 0;
    for (const double resolution : kNativeResolutions) {
        TileMatrix m;
        m.level = level++;
        m.resolution = resolution;
        m.left = extent.minx;
        m.top = extent.maxy;
        const double span = kTileSize * m.resolution;
        m.cols = static_cast<long>(std::ceil((extent.maxx - extent.minx) / span));
        m.rows = static_cast<long>(std::ceil((extent.maxy - extent.miny) / span));
        s.matrices_.push_back(m);
    }
    return s;
}

TileMatrixSet TileMatrixSet::google_maps_compatible() {
    TileMatrixSet s;
    s.id_ = kGoogleId;
    s.ogc_id_ = kGoogleOgcId;
    s.crs_ = kWebMercator;
    s.scale_set_ = kGoogleScaleSetUrn;
    s.bounds_ = {-kWebMercatorHalf, -kWebMercatorHalf, kWebMercatorHalf, kWebMercatorHalf};
    for (int level = 0; level < kGoogleLevels; ++level) {
        TileMatrix m;
        m.level = level;
        m.cols = m.rows = 1L << level;
        m.resolution = 2 * kWebMercatorHalf / (kTileSize * static_cast<double>(m.cols));
        m.left = -kWebMercatorHalf;
        m.top = kWebMercatorHalf;
        s.matrices_.push_back(m);
    }
    return s;
}

std::string TileMatrixSet::crs_urn() const {
    return kmaps::crs_urn(crs_);
}

std::string TileMatrixSet::uri() const {
    return native_grid_ ? std::string() : kRegisteredSets + ogc_id_;
}

std::string TileMatrixSet::well_known_scale_set_uri() const {
    return scale_set_.empty() ? std::string() : kGoogleScaleSetUri;
}

const TileMatrix* TileMatrixSet::matrix(long level) const {
    if (level < 0 || level >= static_cast<long>(matrices_.size())) return nullptr;
    return &matrices_[static_cast<size_t>(level)];
}

std::optional<Metatile> render_metatile(DataSet& data, const TileMatrixSet& set, int level,
                                        long metarow, long metacol, int factor,
                                        std::string& error) {
    const TileMatrix* m = set.matrix(level);
    const long row = metarow * kMetatileTiles;
    const long col = metacol * kMetatileTiles;
    if (!m || metarow < 0 || metacol < 0 || row >= m->rows || col >= m->cols) {
        error = "the metatile lies outside the tile matrix";
        return std::nullopt;
    }
    if (factor < 1 || factor > kMaxFactor) {
        error = "tiles are drawn at scale factors 1 to " + std::to_string(kMaxFactor);
        return std::nullopt;
    }
    const int side = kTileSize * factor;
    Metatile meta;
    meta.level = level;
    meta.row = row;
    meta.col = col;
    meta.rows = static_cast<int>(std::min<long>(kMetatileTiles, m->rows - row));
    meta.cols = static_cast<int>(std::min<long>(kMetatileTiles, m->cols - col));
    meta.factor = factor;
    const Box box = m->box(row, col, meta.rows, meta.cols);
    Layers layers;
    layers.map = true;
    const std::shared_ptr<Crs> crs = data.system(set.crs());
    if (!crs) {
        error = "the tile matrix set's system is not offered";
        return std::nullopt;
    }
    // In the data set's grid the metatile is the engine's own view: its tiles are encoded from
    // the drawing surface, with no copy of the picture (a 2x metatile has 4 M pixels).
    if (set.native_grid())
        if (const auto view = engine_view(box, meta.cols * side, meta.rows * side, factor)) {
            auto files = data.engine().draw_tiles_png(view->left, view->top, meta.cols, meta.rows,
                                                      side, view->scale, factor);
            if (!files) {
                error = "the engine refused the view";
                return std::nullopt;
            }
            meta.png = std::move(*files);
            for (const auto& png : meta.png)
                if (png.empty()) {
                    error = "the tile could not be encoded";
                    return std::nullopt;
                }
            return meta;
        }
    // Outside the data set the tiles of another system stay transparent.
    const auto picture = render_map(data, *crs, box, meta.cols * side, meta.rows * side, layers,
                                    false, kWhite, error, set.native_grid(), factor);
    if (!picture) return std::nullopt;
    for (int r = 0; r < meta.rows; ++r)
        for (int c = 0; c < meta.cols; ++c) {
            meta.png.push_back(encode_png(picture->crop(c * side, r * side, side, side)));
            if (meta.png.back().empty()) {
                error = "the tile could not be encoded";
                return std::nullopt;
            }
        }
    return meta;
}

const char* media_type(TileFormat format) {
    return format == TileFormat::jpeg ? "image/jpeg" : "image/png";
}

std::string TileKey::text() const {
    char numbers[96];
    if (factor == 1)
        std::snprintf(numbers, sizeof numbers, "/%d/%ld/%ld", level, row, col);
    else
        std::snprintf(numbers, sizeof numbers, "/%d/%ld/%ld@%dx", level, row, col, factor);
    return set + numbers + (format == TileFormat::jpeg ? ".jpg" : "");
}

std::shared_ptr<const std::string> TileCache::find(const std::string& key) {
    const auto it = index_.find(key);
    if (it == index_.end()) return nullptr;
    lru_.splice(lru_.begin(), lru_, it->second);
    return it->second->second;
}

void TileCache::add(const std::string& key, std::shared_ptr<const std::string> png) {
    if (index_.count(key)) return;
    lru_.emplace_front(key, std::move(png));
    index_[key] = lru_.begin();
    while (lru_.size() > capacity_) {
        index_.erase(lru_.back().first);
        lru_.pop_back();
    }
}

Tiles::Tiles(DataSet& data, size_t cache_tiles) : data_(data), cache_(cache_tiles) {
    sets_.push_back(TileMatrixSet::native(data.native(), data.extent()));
    sets_.push_back(TileMatrixSet::google_maps_compatible());
}

const TileMatrixSet* Tiles::set(std::string_view id) const {
    for (const auto& s : sets_)
        if (s.id() == id) return &s;
    return nullptr;
}

const TileMatrixSet* Tiles::set_by_ogc_id(std::string_view id) const {
    for (const auto& s : sets_)
        if (s.ogc_id() == id) return &s;
    return nullptr;
}

Tiles::Result Tiles::get(const TileKey& key) {
    Result result;
    const std::string text = key.text();
    if ((result.file = cache_.find(text))) {
        result.cached = true;
        return result;
    }
    if (key.format == TileFormat::jpeg) {
        TileKey png_key = key;
        png_key.format = TileFormat::png;
        result = get(png_key);
        if (!result.file) return result;
        const auto picture = decode_png(*result.file);
        auto jpeg = picture ? encode_jpeg(*picture, kWhite) : std::string();
        if (jpeg.empty()) {
            result.file = nullptr;
            result.error = "the tile could not be encoded as JPEG";
            return result;
        }
        result.file = std::make_shared<const std::string>(std::move(jpeg));
        result.cached = false;
        cache_.add(text, result.file);
        return result;
    }
    const TileMatrixSet* s = set(key.set);
    const TileMatrix* m = s ? s->matrix(key.level) : nullptr;
    if (!m || key.row < 0 || key.col < 0 || key.row >= m->rows || key.col >= m->cols) {
        result.error = "no tile " + text;
        return result;
    }
    auto meta = render_metatile(data_, *s, key.level, key.row / kMetatileTiles,
                                key.col / kMetatileTiles, key.factor, result.error);
    if (!meta) return result;
    // Keep every tile of the metatile, the one asked for last (the most recently used).
    for (int r = 0; r < meta->rows; ++r)
        for (int c = 0; c < meta->cols; ++c) {
            TileKey k = key;
            k.row = meta->row + r;
            k.col = meta->col + c;
            auto png = std::make_shared<const std::string>(
                std::move(meta->png[static_cast<size_t>(r) * meta->cols + c]));
            if (k.row == key.row && k.col == key.col)
                result.file = std::move(png);
            else
                cache_.add(k.text(), std::move(png));
        }
    cache_.add(text, result.file);
    return result;
}

}  // namespace kmaps
