// vector_tiles.cpp: the vector tiles of the tile matrix sets, through kmaps_vector's builder.
#include "kmaps/vector_tiles.h"

#include <proj.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <nlohmann/json.hpp>
#include <span>
#include <vector>

#include "kmaps/vector/tile_builder.h"

namespace kmaps {

namespace {

namespace vec = kmaps::vector;

// The grid to EPSG:3857 through PROJ, many points a call, x east and y north.
class GridToMercator final : public vec::Projection {
  public:
    explicit GridToMercator(const std::string& grid) : ctx_(proj_context_create()) {
        PJ* p = proj_create_crs_to_crs(ctx_, grid.c_str(), "EPSG:3857", nullptr);
        if (p != nullptr) {
            pj_ = proj_normalize_for_visualization(ctx_, p);
            proj_destroy(p);
        }
    }
    ~GridToMercator() override {
        if (pj_ != nullptr) proj_destroy(pj_);
        proj_context_destroy(ctx_);
    }
    GridToMercator(const GridToMercator&) = delete;
    GridToMercator& operator=(const GridToMercator&) = delete;

    bool ok() const { return pj_ != nullptr; }
    bool forward(std::span<double> xy) const override {
        const size_t n = xy.size() / 2;
        if (n == 0) return true;
        const size_t stride = 2 * sizeof(double);
        if (proj_trans_generic(pj_, PJ_FWD, xy.data(), stride, n, xy.data() + 1, stride, n, nullptr,
                               0, 0, nullptr, 0, 0) != n)
            return false;
        return std::all_of(xy.begin(), xy.end(), [](double v) { return std::isfinite(v); });
    }

  private:
    PJ_CONTEXT* ctx_;
    PJ* pj_ = nullptr;
};

}  // namespace

struct VectorTiles::Impl {
    std::unique_ptr<vec::DataSource> source;
    std::unique_ptr<GridToMercator> mercator;
    vec::IdentityProjection identity;
    // One builder a set, made at its first tile: each keeps the tile files it projected.
    std::unique_ptr<vec::TileBuilder> google, native;
};

VectorTiles::VectorTiles() : impl_(std::make_unique<Impl>()) {}
VectorTiles::~VectorTiles() = default;

bool VectorTiles::open(const std::string& dir, const std::string& grid, std::string& error) {
    impl_ = std::make_unique<Impl>();
    impl_->source = vec::DataSource::open(dir, error);
    if (!impl_->source) return false;
    impl_->mercator = std::make_unique<GridToMercator>(grid);
    if (!impl_->mercator->ok()) {
        error = "PROJ cannot transform " + grid + " to EPSG:3857";
        return false;
    }
    return true;
}

bool VectorTiles::build(const TileMatrixSet& set, const TileMatrix& matrix, long row, long col,
                        std::string& out, std::string& error) {
    out.clear();
    if (!impl_->source) {
        error = "no data set is open";
        return false;
    }
    if (row < 0 || col < 0 || row >= matrix.rows || col >= matrix.cols) {
        error = "the tile is outside its matrix";
        return false;
    }
    const bool native = set.native_grid();
    std::unique_ptr<vec::TileBuilder>& builder = native ? impl_->native : impl_->google;
    if (!builder) {
        const vec::Projection& projection =
            native ? static_cast<const vec::Projection&>(impl_->identity) : *impl_->mercator;
        builder = std::make_unique<vec::TileBuilder>(*impl_->source, projection);
    }
    const Box b = matrix.box(row, col);
    return builder->build(vec::Box{b.minx, b.miny, b.maxx, b.maxy},
                          (b.maxx - b.minx) / vec::kTilePixels, out, error);
}

double VectorTiles::grid_metres_per_unit(const Box& grid_box) const {
    const double x = (grid_box.minx + grid_box.maxx) / 2, y = (grid_box.miny + grid_box.maxy) / 2;
    constexpr double kStep = 1000;  // metres of the grid
    std::vector<double> xy = {x, y, x + kStep, y};
    if (!impl_->mercator || !impl_->mercator->forward(xy)) return 1.0;
    const double units = std::hypot(xy[2] - xy[0], xy[3] - xy[1]);
    return units > 0 ? kStep / units : 1.0;
}

std::string vector_layers_json(int minzoom, int maxzoom) {
    nlohmann::ordered_json layers = nlohmann::ordered_json::array();
    for (const vec::LayerInfo& l : vec::vector_layers()) {
        nlohmann::ordered_json fields = nlohmann::ordered_json::object();
        for (const vec::LayerField& f : l.fields) fields[f.name] = f.type;
        layers.push_back({{"id", l.id},
                          {"description", l.description},
                          {"minzoom", minzoom},
                          {"maxzoom", maxzoom},
                          {"fields", std::move(fields)}});
    }
    return layers.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

bool gzip(std::string_view data, std::string& out, int level) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK) return false;
    out.resize(deflateBound(&z, static_cast<uLong>(data.size())) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

}  // namespace kmaps
