// kview.cpp: draws one map view of a data set into an image file.
//
// Loads the data set through the engine's public interface (dllsetpath), makes a memory
// device context of the drawing layer, clears it to white, sets the text to black on a
// transparent background (as the server's picture box does), draws the view (with the
// engine's view drawing, which dlldraw calls, so that --scale-factor can draw it at 2 or 3
// times the pixels, in the view's tile order as kserve draws it, not in cache slot order),
// optionally lays a track and the points of interest over it, and saves the
// image in the format its extension names: PNG, GIF, 24-bit BMP, the engine's 8-bit RLE8 BMP
// export, or GeoTIFF. The view is given in world metres of the data set's grid, or in longitude and
// latitude (WGS 84) turned into the grid of --crs; a world file can go with any image, so that
// GIS programs place it. Used to make pictures for the documentation and to look at data sets
// by hand.
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "kcommon/cli.h"
#include "kcommon/numbers.h"
#ifdef KVIEW_HAVE_GIF
#include "kbmp2gif.h"
#endif
#include "kestrel.h"
#include "kgdi.h"
#include "kmaps/drawing.h"
#include "render/view.h"

#ifdef KVIEW_HAVE_GDAL
#include <cpl_conv.h>
#include <gdal_priv.h>
#include <ogr_spatialref.h>
#endif

namespace {

constexpr int kDefaultWidth = 356;  // the server's picture box
constexpr int kDefaultHeight = 276;
constexpr double kDefaultScale = 10.0;
constexpr const char* kDefaultCrs = "EPSG:3826";
constexpr int kMaxSide = 16384;
constexpr int kBmpHeaderBytes = 1078;  // the engine's 8-bit export: headers and colour table

const char* const kUsage =
    "Usage: kview --data DIR --output FILE (--centre X,Y | --top-left X,Y | --bbox W,S,E,N) ...\n"
    "\n"
    "Draws one map view of the data set in DIR into FILE. The format follows FILE's\n"
    "extension: .png PNG, .gif GIF, .bmp 24-bit BMP, .rle.bmp the engine's 8-bit RLE8 BMP,\n"
    ".tif or .tiff GeoTIFF (placed in the grid of --crs); any other extension is refused.\n";

const char* const kNotes =
    "Exit status: 0 when the image was written, 1 when the data set, the view or the file\n"
    "failed, 2 on a usage error.\n";

enum class Format { kNone, kPng, kGif, kBmp, kBmp8, kTiff };

struct Options {
    std::string data;
    std::string output;
    std::string track;
    std::string layers = kmaps::kMapLayers;  // the web service's maps'
    std::string crs = kDefaultCrs;
    Format format = Format::kNone;
    bool has_centre = false;
    bool has_top_left = false;
    bool has_bbox = false;
    bool lonlat = false;
    bool world_file = false;
    double x = 0;  // centre or top-left, in the unit of the command line
    double y = 0;
    double box[4] = {0, 0, 0, 0};
    double scale = kDefaultScale;
    bool has_scale = false;
    bool has_size = false;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    int factor = 1;
    bool pois = false;
    int poi_category = 0;
    int poi_mode = 1;
};

// The view in the grid: top-left corner in metres, scale, size, and the scale factor it is
// drawn at: the picture has factor times the pixels, each scale / factor metres.
struct View {
    long left = 0;
    long top = 0;
    double scale = kDefaultScale;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    int factor = 1;

    int picture_width() const { return width * factor; }
    int picture_height() const { return height * factor; }
    double pixel_size() const { return scale / factor; }
};

bool fits_int(double v) {
    return v >= INT32_MIN && v <= INT32_MAX;
}

bool ends_with(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

Format format_of_name(const std::string& name) {
    if (name == "png") return Format::kPng;
    if (name == "gif") return Format::kGif;
    if (name == "bmp") return Format::kBmp;
    if (name == "bmp8") return Format::kBmp8;
    if (name == "tiff" || name == "tif" || name == "geotiff") return Format::kTiff;
    return Format::kNone;
}

Format format_of_file(const std::string& path) {
    if (ends_with(path, ".png")) return Format::kPng;
    if (ends_with(path, ".gif")) return Format::kGif;
    if (ends_with(path, ".rle.bmp")) return Format::kBmp8;
    if (ends_with(path, ".bmp")) return Format::kBmp;
    if (ends_with(path, ".tif") || ends_with(path, ".tiff")) return Format::kTiff;
    return Format::kNone;
}

// A handler that reads "X,Y" into o.x, o.y and sets `given`.
kcli::Handler position(Options& o, bool* given) {
    return [&o, given](const std::string& value) -> std::string {
        double xy[2];
        if (!kcommon::parse_decimals(value, ',', xy)) return "wants X,Y, not '" + value + "'";
        o.x = xy[0];
        o.y = xy[1];
        *given = true;
        return {};
    };
}

// The options whose values need more than a store: the box, the scale, the size, the points
// of interest and the format.
kcli::Handler bbox(Options& o) {
    return [&o](const std::string& value) -> std::string {
        if (!kcommon::parse_decimals(value, ',', o.box) || !(o.box[0] < o.box[2]) ||
            !(o.box[1] < o.box[3]))
            return "wants WEST,SOUTH,EAST,NORTH with west < east and south < north, not '" + value +
                   "'";
        o.has_bbox = true;
        return {};
    };
}

kcli::Handler scale(Options& o) {
    return [&o](const std::string& value) -> std::string {
        o.scale = kcommon::parse_decimal(value).value_or(0.0);
        if (!(o.scale >= 1.0)) return "wants metres per pixel, 1 or more, not '" + value + "'";
        o.has_scale = true;
        return {};
    };
}

kcli::Handler size(Options& o) {
    return [&o](const std::string& value) -> std::string {
        std::array<long long, 2> wh{};
        if (!kcommon::parse_ints(value, 'x', wh) || wh[0] < 1 || wh[1] < 1 || wh[0] > kMaxSide ||
            wh[1] > kMaxSide)
            return "wants WxH, each 1 to " + std::to_string(kMaxSide) + ", not '" + value + "'";
        o.width = static_cast<int>(wh[0]);
        o.height = static_cast<int>(wh[1]);
        o.has_size = true;
        return {};
    };
}

kcli::Handler pois(Options& o) {
    return [&o](const std::string& value) -> std::string {
        std::array<long long, 2> pair{};
        if (!kcommon::parse_ints(value, ':', pair) || !fits_int(pair[0]) || pair[1] < 1 ||
            pair[1] > 3)
            return "wants CATEGORY:MODE with mode 1 to 3, not '" + value + "'";
        o.pois = true;
        o.poi_category = static_cast<int>(pair[0]);
        o.poi_mode = static_cast<int>(pair[1]);
        return {};
    };
}

kcli::Handler format(Options& o) {
    return [&o](const std::string& value) -> std::string {
        o.format = format_of_name(value);
        if (o.format == Format::kNone)
            return "wants png, gif, bmp, bmp8 or tiff, not '" + value + "'";
        return {};
    };
}

// kview's command line, its values kept in `o`.
kcli::Program command_line(Options& o) {
    using kcli::Option;
    std::vector<Option> options = {
        {.name = "--data",
         .value = "DIR",
         .help = "data set directory (d4.txt, dat44_1.bin, dat44_2.bin, alldist.txt, dist.emf "
                 "and the tile files)",
         .handle = kcli::store(&o.data)},
        {.name = "--centre",
         .alias = "--center",
         .value = "X,Y",
         .help = "position of the view's centre",
         .handle = position(o, &o.has_centre)},
        {.name = "--top-left",
         .value = "X,Y",
         .help = "position of the view's top-left corner",
         .handle = position(o, &o.has_top_left)},
        {.name = "--bbox",
         .value = "W,S,E,N",
         .help = "the view covers this box (west, south, east, north): with --size the scale is "
                 "chosen so that the box fits, centred; otherwise the size follows from the "
                 "scale",
         .handle = bbox(o)},
        {.name = "--lonlat",
         .help = "the positions above are longitude,latitude in degrees (WGS 84) instead of "
                 "world metres of the data set's grid",
         .handle = kcli::set(&o.lonlat)},
        {.name = "--crs",
         .value = "CRS",
         .help = "the data set's grid: EPSG code, PROJ string or WKT (default EPSG:3826); used "
                 "by --lonlat, GeoTIFF and world files",
         .handle = kcli::store(&o.crs)},
        {.name = "--scale",
         .value = "M",
         .help = "metres per pixel, 1 or more (default 10)",
         .handle = scale(o)},
        {.name = "--size",
         .value = "WxH",
         .help = "view size in pixels (default 356x276)",
         .handle = size(o)},
        {.name = "--scale-factor",
         .value = "F",
         .help = "draw the view at F times the pixels (1 to 3, default 1): the same map and "
                 "labels, a picture of F*W x F*H pixels of M/F metres, with pens, text and "
                 "symbols F times as large",
         .handle = kcli::whole(kestrel::render::kMinScaleFactor, kestrel::render::kMaxScaleFactor,
                               &o.factor)},
        {.name = "--layers",
         .value = "STR",
         .help = std::string("layer string (default ") + kmaps::kMapLayers +
                 "): character 0 '1' paints the background, "
                 "character 2 shows lines 13 ('1') or 13 and 14 ('2'), character 3 '1' draws "
                 "place labels and road names",
         .handle = kcli::store(&o.layers)},
        {.name = "--track",
         .value = "FILE",
         .help = "draw the track of FILE over the view",
         .handle = kcli::store(&o.track)},
        {.name = "--pois",
         .value = "CATEGORY:MODE",
         .help = "draw the points of interest (category 0: all; mode 1: all points, 2: avoiding "
                 "every label, 3: avoiding each other)",
         .handle = pois(o)},
        {.name = "--output",
         .value = "FILE",
         .help = "image to write",
         .handle = kcli::store(&o.output)},
        {.name = "--format",
         .value = "FORMAT",
         .help = "png, gif, bmp, bmp8 or tiff, whatever FILE's extension",
         .handle = format(o)},
        {.name = "--world-file",
         .help = "also write FILE's world file (.pgw, .gfw, .bpw, .tfw) and, with the CRS, "
                 "FILE.aux.xml, so that GIS programs place the image",
         .handle = kcli::set(&o.world_file)},
    };
    return {.name = "kview", .usage = kUsage, .options = std::move(options), .notes = kNotes};
}

// The checks between options. Returns nothing to go on, or the exit status (reported).
std::optional<int> check(const kcli::Program& program, Options& o) {
    const int placements = int(o.has_centre) + int(o.has_top_left) + int(o.has_bbox);
    if (o.data.empty() || o.output.empty() || placements != 1)
        return kcli::refuse(
            program, "--data, --output and one of --centre, --top-left or --bbox are needed");
    if (o.has_bbox && o.has_scale && o.has_size)
        return kcli::refuse(program, "with --bbox give --scale or --size, not both");
    if (o.format == Format::kNone) o.format = format_of_file(o.output);
    if (o.format == Format::kNone)
        return kcli::refuse(program, "cannot tell the image format of '" + o.output +
                                         "': name it .png, .gif, .bmp, .rle.bmp, .tif or .tiff, "
                                         "or give --format");
#ifndef KVIEW_HAVE_GIF
    if (o.format == Format::kGif) {
        std::fputs("kview: this kview was built without the GIF converter: no GIF\n", stderr);
        return kcli::kUsageStatus;
    }
#endif
#ifndef KVIEW_HAVE_GDAL
    if (o.format == Format::kTiff || o.lonlat) {
        std::fputs("kview: this kview was built without GDAL: no GeoTIFF and no --lonlat\n",
                   stderr);
        return kcli::kUsageStatus;
    }
#endif
    return std::nullopt;
}

// Reads the command line into `o`. Returns nothing to go on, or the exit status.
std::optional<int> parse(int argc, char** argv, Options& o) {
    const kcli::Program program = command_line(o);
    if (const auto end = kcli::parse(program, argc, argv)) return end;
    return check(program, o);
}

#ifdef KVIEW_HAVE_GDAL
// The data set's grid, from --crs; false (reported) when GDAL does not know it.
bool grid_crs(const Options& o, OGRSpatialReference* srs) {
    srs->SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (srs->SetFromUserInput(o.crs.c_str()) != OGRERR_NONE) {
        std::fprintf(stderr, "kview: --crs '%s' is not a coordinate system GDAL knows\n",
                     o.crs.c_str());
        return false;
    }
    if (!srs->IsProjected()) {
        std::fprintf(stderr, "kview: --crs '%s' is not a projected grid in metres\n",
                     o.crs.c_str());
        return false;
    }
    return true;
}

// Turns longitude/latitude points (WGS 84) into grid metres in place.
bool lonlat_to_grid(const Options& o, int count, double* xs, double* ys) {
    OGRSpatialReference grid;
    if (!grid_crs(o, &grid)) return false;
    OGRSpatialReference wgs84;
    wgs84.SetWellKnownGeogCS("WGS84");
    wgs84.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    std::unique_ptr<OGRCoordinateTransformation> to_grid(
        OGRCreateCoordinateTransformation(&wgs84, &grid));
    if (!to_grid || !to_grid->Transform(count, xs, ys)) {
        std::fputs("kview: the longitude/latitude position cannot be put into the grid\n", stderr);
        return false;
    }
    return true;
}
#endif

// Works out the view in grid metres from the options; false (reported) when it cannot be.
bool make_view(const Options& o, View* v) {
    v->scale = o.scale;
    v->width = o.width;
    v->height = o.height;
    v->factor = o.factor;
    double x = o.x;
    double y = o.y;
    double box[4] = {o.box[0], o.box[1], o.box[2], o.box[3]};
#ifdef KVIEW_HAVE_GDAL
    if (o.lonlat) {
        if (o.has_bbox) {
            // The corners and edge midpoints of the box; the view covers all of them.
            const double mx = (box[0] + box[2]) / 2;
            const double my = (box[1] + box[3]) / 2;
            double xs[8] = {box[0], mx, box[2], box[2], box[2], mx, box[0], box[0]};
            double ys[8] = {box[1], box[1], box[1], my, box[3], box[3], box[3], my};
            if (!lonlat_to_grid(o, 8, xs, ys)) return false;
            box[0] = *std::min_element(xs, xs + 8);
            box[2] = *std::max_element(xs, xs + 8);
            box[1] = *std::min_element(ys, ys + 8);
            box[3] = *std::max_element(ys, ys + 8);
        } else if (!lonlat_to_grid(o, 1, &x, &y)) {
            return false;
        }
    }
#endif
    double left = x;
    double top = y;
    if (o.has_bbox) {
        const double dx = box[2] - box[0];
        const double dy = box[3] - box[1];
        if (o.has_size) {
            v->scale = std::max({dx / v->width, dy / v->height, 1.0});
            left = (box[0] + box[2]) / 2 - v->width * v->scale / 2;
            top = (box[1] + box[3]) / 2 + v->height * v->scale / 2;
        } else {
            const double w = std::ceil(dx / v->scale);
            const double h = std::ceil(dy / v->scale);
            if (w > kMaxSide || h > kMaxSide) {
                std::fprintf(stderr,
                             "kview: the box needs %.0f x %.0f pixels at %g m per pixel (at most "
                             "%d each): give a larger --scale or a --size\n",
                             w, h, v->scale, kMaxSide);
                return false;
            }
            v->width = std::max(1, static_cast<int>(w));
            v->height = std::max(1, static_cast<int>(h));
            left = box[0];
            top = box[3];
        }
    } else if (o.has_centre) {
        left = x - std::round(v->width * v->scale / 2);
        top = y + std::round(v->height * v->scale / 2);
    }
    if (!fits_int(std::round(left)) || !fits_int(std::round(top))) {
        std::fputs("kview: the view reaches beyond the world's coordinate range\n", stderr);
        return false;
    }
    v->left = std::lround(left);
    v->top = std::lround(top);
    if (v->picture_width() > kMaxSide || v->picture_height() > kMaxSide) {
        std::fprintf(stderr,
                     "kview: at scale factor %d the picture would be %d x %d pixels (at most %d "
                     "each): give a smaller --size\n",
                     v->factor, v->picture_width(), v->picture_height(), kMaxSide);
        return false;
    }
    return true;
}

// Writes `bytes` to `path`; false (reported) when it cannot.
bool write_bytes(const std::string& path, const unsigned char* bytes, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    bool ok = f != nullptr && std::fwrite(bytes, 1, size, f) == size;
    if (f != nullptr && std::fclose(f) != 0) ok = false;
    if (!ok) {
        std::fprintf(stderr, "kview: could not write %s: %s\n", path.c_str(), std::strerror(errno));
        std::remove(path.c_str());
    }
    return ok;
}

// The engine's own export of the last view: 8 bits, 256-entry colour table, RLE8.
bool save_bmp8(const View& v, const std::string& path) {
    std::vector<unsigned char> image(kBmpHeaderBytes +
                                     size_t(v.picture_width()) * size_t(v.picture_height()));
    const int n = sdllgetbmp(image.data());
    if (n < 0) {
        std::fputs(
            "kview: the engine's 8-bit export refused this view (it does not compress into "
            "width x height bytes): write .bmp or .png instead\n",
            stderr);
        return false;
    }
    return write_bytes(path, image.data(), kBmpHeaderBytes + size_t(n));
}

#ifdef KVIEW_HAVE_GIF
// GIF through the converter component, from a 24-bit BMP next to the output.
bool save_gif(HDC dc, const std::string& path) {
    const std::string bmp = path + ".kview-" + std::to_string(getpid()) + ".bmp";
    if (!KgdiSaveImage(dc, bmp.c_str(), KGDI_FILE_BMP)) {
        std::fprintf(stderr, "kview: could not write %s\n", bmp.c_str());
        return false;
    }
    KBmp2Gif* converter = kbmp2gif_create();
    const bool ok = converter != nullptr &&
                    kbmp2gif_convert(converter, bmp.c_str(), path.c_str(), KBMP2GIF_PLAIN) == 0;
    if (!ok)
        std::fprintf(stderr, "kview: could not write %s: %s\n", path.c_str(),
                     converter ? kbmp2gif_error(converter) : "out of memory");
    kbmp2gif_destroy(converter);
    std::remove(bmp.c_str());
    return ok;
}
#endif

#ifdef KVIEW_HAVE_GDAL
// The grid's WKT, or "" (reported) when --crs is not known.
std::string crs_wkt(const Options& o) {
    OGRSpatialReference srs;
    if (!grid_crs(o, &srs)) return {};
    char* wkt = nullptr;
    srs.exportToWkt(&wkt);
    std::string text = wkt ? wkt : "";
    CPLFree(wkt);
    return text;
}

// An RGB GeoTIFF placed in the grid of --crs.
bool save_tiff(const Options& o, const View& v, HDC dc, const std::string& path) {
    KgdiSurface s;
    if (!KgdiGetSurface(dc, &s)) {
        std::fputs("kview: could not read the drawing surface\n", stderr);
        return false;
    }
    OGRSpatialReference srs;
    if (!grid_crs(o, &srs)) return false;
    std::vector<unsigned char> rgb(size_t(s.width) * size_t(s.height) * 3);
    for (int row = 0; row < s.height; ++row) {
        const uint32_t* line = reinterpret_cast<const uint32_t*>(
            reinterpret_cast<const unsigned char*>(s.pixels) + size_t(row) * size_t(s.stride));
        for (int col = 0; col < s.width; ++col) {
            unsigned char* p = &rgb[(size_t(row) * size_t(s.width) + size_t(col)) * 3];
            p[0] = static_cast<unsigned char>(line[col] >> 16);
            p[1] = static_cast<unsigned char>(line[col] >> 8);
            p[2] = static_cast<unsigned char>(line[col]);
        }
    }
    GDALAllRegister();
    GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GTiff");
    const char* create_options[] = {"COMPRESS=DEFLATE", "PHOTOMETRIC=RGB", nullptr};
    GDALDataset* ds = driver ? driver->Create(path.c_str(), s.width, s.height, 3, GDT_Byte,
                                              const_cast<char**>(create_options))
                             : nullptr;
    if (ds == nullptr) {
        std::fprintf(stderr, "kview: could not write %s: %s\n", path.c_str(), CPLGetLastErrorMsg());
        return false;
    }
    const double pixel = v.pixel_size();
    double transform[6] = {double(v.left), pixel, 0, double(v.top), 0, -pixel};
    bool ok = ds->SetGeoTransform(transform) == CE_None && ds->SetSpatialRef(&srs) == CE_None;
    int bands[3] = {1, 2, 3};
    ok = ok && ds->RasterIO(GF_Write, 0, 0, s.width, s.height, rgb.data(), s.width, s.height,
                            GDT_Byte, 3, bands, 3, 3 * GSpacing{s.width}, 1, nullptr) == CE_None;
    GDALClose(ds);
    if (!ok) {
        std::fprintf(stderr, "kview: could not write %s: %s\n", path.c_str(), CPLGetLastErrorMsg());
        std::remove(path.c_str());
    }
    return ok;
}
#endif

// FILE with its extension's world-file form: first and last letter of the extension and 'w'.
std::string world_file_name(const std::string& path) {
    const size_t dot = path.find_last_of('.');
    const size_t slash = path.find_last_of('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash) ||
        dot + 2 >= path.size())
        return path + ".wld";
    const std::string ext = path.substr(dot + 1);
    return path.substr(0, dot + 1) + ext.front() + ext.back() + 'w';
}

// The six lines of a world file (centre of the top-left pixel), and the CRS beside the image.
bool save_world_file(const Options& o, const View& v) {
    char text[256];
    const double pixel = v.pixel_size();
    std::snprintf(text, sizeof text, "%.10g\n0\n0\n%.10g\n%.10g\n%.10g\n", pixel, -pixel,
                  v.left + pixel / 2, v.top - pixel / 2);
    const std::string name = world_file_name(o.output);
    if (!write_bytes(name, reinterpret_cast<const unsigned char*>(text), std::strlen(text)))
        return false;
#ifdef KVIEW_HAVE_GDAL
    if (o.format != Format::kTiff) {
        const std::string wkt = crs_wkt(o);
        if (wkt.empty()) return false;
        std::string xml = "<PAMDataset>\n  <SRS>";
        for (char c : wkt) {
            if (c == '&')
                xml += "&amp;";
            else if (c == '<')
                xml += "&lt;";
            else if (c == '>')
                xml += "&gt;";
            else if (c == '"')
                xml += "&quot;";
            else
                xml += c;
        }
        xml += "</SRS>\n</PAMDataset>\n";
        const std::string aux = o.output + ".aux.xml";
        if (!write_bytes(aux, reinterpret_cast<const unsigned char*>(xml.data()), xml.size()))
            return false;
    }
#endif
    return true;
}

// Writes the image in the chosen format (and its world file).
bool save(const Options& o, const View& v, HDC dc) {
    bool ok = false;
    switch (o.format) {
        case Format::kPng:
        case Format::kBmp:
            ok = KgdiSaveImage(dc, o.output.c_str(),
                               o.format == Format::kPng ? KGDI_FILE_PNG : KGDI_FILE_BMP);
            if (!ok) std::fprintf(stderr, "kview: could not write %s\n", o.output.c_str());
            break;
        case Format::kBmp8:
            ok = save_bmp8(v, o.output);
            break;
        case Format::kGif:
#ifdef KVIEW_HAVE_GIF
            ok = save_gif(dc, o.output);
#endif
            break;
        case Format::kTiff:
#ifdef KVIEW_HAVE_GDAL
            ok = save_tiff(o, v, dc, o.output);
#endif
            break;
        case Format::kNone:
            break;
    }
    return ok && (!o.world_file || save_world_file(o, v));
}

// Draws the view and its overlays into `dc` and saves it. Returns the exit status.
int render(const Options& o, const View& v, HDC dc) {
    const RECT all{0, 0, v.picture_width(), v.picture_height()};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);

    if (kestrel::render::draw_view(dc, static_cast<int32_t>(v.left), static_cast<int32_t>(v.top),
                                   v.picture_width(), v.picture_height(), v.scale, o.layers.c_str(),
                                   kestrel::render::ViewOptions{
                                       v.factor, kestrel::render::DrawingOrder::kTileList}) != 0) {
        std::fputs("kview: the engine refused to draw the view\n", stderr);
        return 1;
    }
    if (!o.track.empty()) {
        if (dllhisload(o.track.c_str()) == -1) {
            std::fprintf(stderr, "kview: no track points could be read from %s\n", o.track.c_str());
            return 1;
        }
        const long right = v.left + std::lround(v.width * v.scale);
        const long bottom = v.top - std::lround(v.height * v.scale);
        dllhisdraw(static_cast<int>(v.left), static_cast<int>(std::max(bottom, long{INT32_MIN})),
                   static_cast<int>(std::min(right, long{INT32_MAX})), static_cast<int>(v.top));
        dllhisfree();
    }
    if (o.pois) dlldraw44(o.poi_category, o.poi_mode);
    return save(o, v, dc) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (const auto end = parse(argc, argv, o)) return *end;
    View v;
    if (!make_view(o, &v)) return 1;

    std::string path = o.data;
    if (path.back() != '/') path += '/';
    if (dllsetpath(path.c_str()) != 1) {
        std::fprintf(stderr, "kview: could not load the data set in %s\n", path.c_str());
        return 1;
    }

    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bitmap =
        dc ? CreateCompatibleBitmap(dc, v.picture_width(), v.picture_height()) : nullptr;
    if (bitmap == nullptr) {
        std::fputs("kview: could not make a drawing surface of that size\n", stderr);
        if (dc) DeleteDC(dc);
        return 1;
    }
    HGDIOBJ old = SelectObject(dc, bitmap);
    const int status = render(o, v, dc);
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return status;
}
