// source.cpp: GDAL/OGR reading of vector sources, reprojection to the grid and the label
// point of polygons.
#include "source.h"

#include <gdal_priv.h>
#include <ogr_spatialref.h>
#include <ogrsf_frmts.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>

#include "progress.h"

namespace kimport {
namespace {

constexpr double kMaxCoordinate = 2.0e9;  // keeps rounded metres within int32
constexpr const char* kOsmOtherTags = "other_tags";
constexpr long kProgressEvery = 512;

// Registers the drivers once and keeps GDAL's own messages off standard error: errors are
// taken from CPLGetLastErrorMsg and reported by the importer in its own words.
void init_gdal() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALAllRegister();
        CPLSetErrorHandler(CPLQuietErrorHandler);
    });
}

std::string last_gdal_error() {
    std::string msg = CPLGetLastErrorMsg();
    return msg.empty() ? "no reason given" : msg;
}

bool to_metre(double v, int32_t* out) {
    if (!std::isfinite(v) || std::fabs(v) > kMaxCoordinate) return false;
    *out = static_cast<int32_t>(std::floor(v + 0.5));
    return true;
}

// Rounds the points of a curve to whole metres; false when a coordinate is out of range.
bool read_curve(const OGRSimpleCurve* c, Polyline* out) {
    out->clear();
    out->reserve(c->getNumPoints());
    for (int i = 0; i < c->getNumPoints(); ++i) {
        WorldPoint p;
        if (!to_metre(c->getX(i), &p.x) || !to_metre(c->getY(i), &p.y)) return false;
        out->push_back(p);
    }
    drop_repeats(out);
    return true;
}

// Adds the parts of a (reprojected, linear) geometry to `f`; false on a coordinate out of
// range.
bool collect(const OGRGeometry* g, SourceFeature* f) {
    if (g == nullptr || g->IsEmpty()) return true;
    switch (wkbFlatten(g->getGeometryType())) {
        case wkbPoint: {
            auto* p = g->toPoint();
            WorldPoint w;
            if (!to_metre(p->getX(), &w.x) || !to_metre(p->getY(), &w.y)) return false;
            f->points.push_back(w);
            return true;
        }
        case wkbLineString:
        case wkbLinearRing: {
            Polyline line;
            if (!read_curve(g->toSimpleCurve(), &line)) return false;
            if (line.size() >= 2) f->lines.push_back(std::move(line));
            return true;
        }
        case wkbPolygon: {
            Rings rings;
            for (const OGRLinearRing* r : *g->toPolygon()) {
                Polyline ring;
                if (!read_curve(r, &ring)) return false;
                while (ring.size() > 1 && same_point(ring.front(), ring.back())) ring.pop_back();
                if (ring.size() >= 3)
                    rings.push_back(std::move(ring));
                else if (rings.empty())
                    return true;  // a degenerate exterior: no polygon
            }
            if (!rings.empty()) f->polygons.push_back(std::move(rings));
            return true;
        }
        case wkbMultiPoint:
        case wkbMultiLineString:
        case wkbMultiPolygon:
        case wkbGeometryCollection: {
            for (const OGRGeometry* part : *g->toGeometryCollection()) {
                if (!collect(part, f)) return false;
            }
            return true;
        }
        default:
            return true;
    }
}

// What the reader keeps per layer: the transformation and the attribute fields by name.
struct LayerContext {
    std::unique_ptr<OGRCoordinateTransformation> transform;
    std::map<std::string, int, std::less<>> fields;  // -1: not a field of the layer
    int other_tags = -1;
    std::string name;
    bool skip = false;
};

}  // namespace

Grid::Grid() {
    init_gdal();
}
Grid::~Grid() = default;

bool Grid::set(const std::string& text, std::string* error) {
    auto srs = std::make_unique<OGRSpatialReference>();
    CPLErrorReset();
    if (text.empty() || srs->SetFromUserInput(text.c_str()) != OGRERR_NONE) {
        *error = "unknown CRS \"" + text + "\": " + last_gdal_error();
        return false;
    }
    if (!srs->IsProjected()) {
        *error =
            "CRS \"" + text + "\" is not a projected grid; the data set needs x and y in metres";
        return false;
    }
    if (std::fabs(srs->GetLinearUnits() - 1.0) > 1e-9) {
        *error = "CRS \"" + text + "\" does not measure in metres";
        return false;
    }
    srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    srs_ = std::move(srs);
    return true;
}

namespace {

// Opens `path` as a vector source whose layers include every one `options` names; null with
// `error` set otherwise.
std::unique_ptr<GDALDataset> open_source(const std::string& path, const ReadOptions& options,
                                         std::string* error) {
    // A plain file name that names nothing: say so (GDAL gives no reason for it). Virtual
    // files (/vsi...) and connection strings (PG:...) are left to GDAL.
    struct stat st;
    if (path.rfind("/vsi", 0) != 0 && path.find(':') == std::string::npos &&
        stat(path.c_str(), &st) != 0) {
        *error = "cannot read " + path + ": " + std::strerror(errno);
        return nullptr;
    }
    std::unique_ptr<GDALDataset> ds(GDALDataset::Open(
        path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds) {
        const std::string why = CPLGetLastErrorMsg();
        *error = "cannot read " + path + " as a vector source: " +
                 (why.empty() ? "no vector format that GDAL knows (OpenStreetMap, GeoJSON, "
                                "shapefile, GeoPackage...)"
                              : why);
        return nullptr;
    }
    for (const std::string& want : options.layers) {
        if (ds->GetLayerByName(want.c_str()) == nullptr) {
            *error = path;
            *error += " has no layer \"" + want + "\"";
            return nullptr;
        }
    }
    return ds;
}

// The source's CRS that `options` give (null when none); false with `error` set when it is
// unknown.
bool given_crs(const ReadOptions& options, std::unique_ptr<OGRSpatialReference>* given,
               std::string* error) {
    if (options.source_crs.empty()) return true;
    *given = std::make_unique<OGRSpatialReference>();
    if ((*given)->SetFromUserInput(options.source_crs.c_str()) != OGRERR_NONE) {
        *error = "unknown source CRS \"" + options.source_crs + "\": " + last_gdal_error();
        return false;
    }
    (*given)->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    return true;
}

// The features of every layer of `ds`, for the progress line; 0 when a layer cannot say
// without reading it all.
long feature_count(GDALDataset& ds) {
    long total = 0;
    for (OGRLayer* layer : ds.GetLayers()) {
        GIntBig n = layer->GetFeatureCount(FALSE);
        if (n < 0) return 0;
        total += static_cast<long>(n);
    }
    return total;
}

}  // namespace

bool read_source(const std::string& path, const Grid& grid, const ReadOptions& options,
                 const std::function<void(const SourceFeature&)>& visit, ReadStats* stats,
                 Progress* progress, std::string* error) {
    init_gdal();
    CPLErrorReset();
    std::unique_ptr<GDALDataset> ds = open_source(path, options, error);
    if (!ds) return false;
    std::unique_ptr<OGRSpatialReference> given;
    if (!given_crs(options, &given, error)) return false;
    const long total = feature_count(*ds);

    std::map<OGRLayer*, LayerContext> contexts;
    // Builds the context of a layer met for the first time; false with `error` set when its
    // CRS is missing or cannot be transformed to the grid.
    auto prepare = [&](OGRLayer* layer, LayerContext* ctx) {
        ctx->name = layer->GetName();
        if (!options.layers.empty() && std::find(options.layers.begin(), options.layers.end(),
                                                 ctx->name) == options.layers.end()) {
            ctx->skip = true;
            return true;
        }
        const OGRSpatialReference* layer_srs = layer->GetSpatialRef();
        const OGRSpatialReference* from = layer_srs;
        if (given && (options.force_crs || layer_srs == nullptr)) from = given.get();
        if (from == nullptr) {
            *error = "layer \"" + ctx->name + "\" of " + path +
                     " has no CRS; give the source's CRS with --source-crs";
            return false;
        }
        std::unique_ptr<OGRSpatialReference> src(from->Clone());
        src->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
        CPLErrorReset();
        ctx->transform.reset(OGRCreateCoordinateTransformation(src.get(), grid.srs()));
        if (!ctx->transform) {
            *error = "cannot transform layer \"" + ctx->name + "\" of " + path +
                     " to the grid: " + last_gdal_error();
            return false;
        }
        ctx->other_tags = layer->GetLayerDefn()->GetFieldIndex(kOsmOtherTags);
        return true;
    };

    std::string scratch;
    long read = 0;
    const std::string what = "reading " + path;
    ds->ResetReading();
    while (true) {
        OGRLayer* layer = nullptr;
        std::unique_ptr<OGRFeature> feature(ds->GetNextFeature(&layer, nullptr, nullptr, nullptr));
        if (!feature) break;
        auto [it, fresh] = contexts.try_emplace(layer);
        LayerContext& ctx = it->second;
        if (fresh && !prepare(layer, &ctx)) return false;
        if (ctx.skip) continue;
        ++read;
        ++stats->features;
        if (progress != nullptr && read % kProgressEvery == 0) progress->update(what, read, total);

        OGRGeometry* geom = feature->GetGeometryRef();
        if (geom == nullptr || geom->IsEmpty()) {
            ++stats->no_geometry;
            continue;
        }
        std::unique_ptr<OGRGeometry> linear;
        if (geom->hasCurveGeometry()) {
            linear.reset(geom->getLinearGeometry());
            geom = linear.get();
        }
        if (geom == nullptr || geom->transform(ctx.transform.get()) != OGRERR_NONE) {
            ++stats->not_reprojected;
            continue;
        }
        SourceFeature f;
        if (!collect(geom, &f)) {
            ++stats->not_reprojected;
            continue;
        }
        if (!f.polygons.empty())
            f.shape = Shape::Polygon;
        else if (!f.lines.empty())
            f.shape = Shape::Line;
        else if (!f.points.empty())
            f.shape = Shape::Point;
        else {
            ++stats->no_geometry;
            continue;
        }
        OGRFeature* raw = feature.get();
        f.tags = [&ctx, raw, &scratch](std::string_view key) -> std::string_view {
            auto field = ctx.fields.find(key);
            if (field == ctx.fields.end()) {
                int idx = raw->GetDefnRef()->GetFieldIndex(std::string(key).c_str());
                field = ctx.fields.emplace(std::string(key), idx).first;
            }
            if (field->second >= 0) {
                if (!raw->IsFieldSetAndNotNull(field->second)) return {};
                scratch = raw->GetFieldAsString(field->second);
                return scratch;
            }
            if (ctx.other_tags >= 0 && raw->IsFieldSetAndNotNull(ctx.other_tags)) {
                std::string_view h = raw->GetFieldAsString(ctx.other_tags);
                std::string value;
                hstore_value(h, key, &value);
                scratch = std::move(value);
                return scratch;
            }
            return {};
        };
        visit(f);
    }
    if (progress != nullptr) progress->finish();
    if (read == 0) {
        *error = path + " holds no feature" +
                 (options.layers.empty() ? std::string() : " in the chosen layers");
        return false;
    }
    return true;
}

void polygon_label_point(const Rings& polygon, double* x, double* y, double height_fraction) {
    const Polyline& outer = polygon.front();
    double a = 0, cx = 0, cy = 0;
    for (std::size_t i = 0, j = outer.size() - 1; i < outer.size(); j = i++) {
        double cross = double(outer[j].x) * outer[i].y - double(outer[i].x) * outer[j].y;
        a += cross;
        cx += (double(outer[j].x) + outer[i].x) * cross;
        cy += (double(outer[j].y) + outer[i].y) * cross;
    }
    if (std::fabs(a) < 1e-9) {
        *x = outer[0].x;
        *y = outer[0].y;
        return;
    }
    cx /= 3 * a;
    cy /= 3 * a;
    if (height_fraction >= 0) {
        auto [lo, hi] =
            std::minmax_element(outer.begin(), outer.end(),
                                [](const WorldPoint& p, const WorldPoint& q) { return p.y < q.y; });
        cy = lo->y + height_fraction * (double(hi->y) - lo->y) + 0.5;
    }
    // The widest inside run of the scan line y = cy, over all rings (even-odd).
    std::vector<double> xs;
    for (const Polyline& ring : polygon) {
        for (std::size_t i = 0, j = ring.size() - 1; i < ring.size(); j = i++) {
            double yi = ring[i].y, yj = ring[j].y;
            if ((yi > cy) != (yj > cy)) {
                xs.push_back(ring[i].x + (cy - yi) / (yj - yi) * (double(ring[j].x) - ring[i].x));
            }
        }
    }
    std::sort(xs.begin(), xs.end());
    double best = -1;
    *x = cx;
    *y = cy;
    for (std::size_t i = 0; i + 1 < xs.size(); i += 2) {
        if (xs[i + 1] - xs[i] > best) {
            best = xs[i + 1] - xs[i];
            *x = (xs[i] + xs[i + 1]) / 2;
        }
    }
}

}  // namespace kimport
