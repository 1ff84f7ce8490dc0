// main.cpp: the kimport command: imports vector geodata (OSM PBF/XML, GeoJSON, shapefiles,
// GeoPackages...) into a map data set.
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "import.h"
#include "kcommon/cli.h"
#include "kcommon/numbers.h"
#include "mapping.h"
#include "progress.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = R"(Usage: kimport [OPTION]... INPUT... -o FOLDER
Imports vector geodata into a map data set: tiles, district index, points of interest,
place catalogue and base map. INPUT is any vector source GDAL reads: OpenStreetMap PBF or
XML, GeoJSON, shapefile, GeoPackage... Several inputs are read as one.

  -o, --output FOLDER         the data-set folder to write (made, with its parents,
                              when missing)
      --replace               replace FOLDER when it exists and is not empty
      --crs CRS               grid of the data set, a projected CRS in metres
                              (EPSG code, PROJ string or WKT; default EPSG:3826)
      --source-crs CRS        CRS of inputs that carry none (e.g. a shapefile without .prj)
      --force-source-crs      use --source-crs even for inputs that carry a CRS
      --layer NAME            read only this layer of every input (repeatable)
      --mapping FILE          classify features by the rules of FILE instead of the
                              built-in OpenStreetMap mapping
      --print-mapping         print the built-in mapping (a template for FILE) and exit
      --districts FILE        polygon layer of districts: a road belongs to the district
                              whose polygon holds its midpoint, a point of interest to the
                              one that holds it
      --district-field NAME   the field of the districts layer that names each district
      --district-attribute NAME
                              instead of polygons: the attribute of the features that names
                              their district
      --name-field NAME       attribute holding feature names (default: name)
      --code-field NAME       attribute holding road codes (default: ref)
      --no-join               keep road pieces apart instead of joining those that
                              continue each other (same type, name, code and district)
      --extent W,S,E,N        write empty tiles over this box (grid metres) where no data
                              lies, instead of over the tiles with data and the base map
                              (district polygons, water, coast)
      --no-empty-tiles        write tiles only where data lies (views then show the
                              squares of missing tiles around the data)
      --progress              show progress even when standard error is no terminal
      --no-progress           never show progress
  -q, --quiet                 print no summary
  -h, --help                  show this help and exit
      --version               show the version and exit

Options take their value as the next argument or after '=' (--crs=EPSG:3826).

District codes are 100, 101, ... in the byte order of the district names. Features that
cannot be stored (outside the tile grid, beyond a tile's capacity, without a needed name) are
left out and counted in the summary. Nothing is written unless the whole import succeeds,
and an import that stores no tile at all (e.g. everything off the grid of --crs) fails.
Exit status: 0 on success, 1 when the import failed, 2 on a usage error.
See docs/importer.md for the mapping file format.
)";

// Reads the value of an option at args[*i]; prints an error when it is missing.
bool take_value(const std::vector<std::string>& args, size_t* i, std::string* out) {
    if (*i + 1 >= args.size()) {
        std::fprintf(stderr, "kimport: option %s needs a value\n", args[*i].c_str());
        return false;
    }
    *out = args[++*i];
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    kimport::Options opt;
    bool quiet = false;
    int progress_mode = -1;  // -1: when a terminal, 0: never, 1: always
    std::vector<std::string> args;
    const std::string why = kcli::expand_args(
        argc, argv,
        {"--output", "--crs", "--source-crs", "--layer", "--mapping", "--districts",
         "--district-field", "--district-attribute", "--name-field", "--code-field", "--extent"},
        &args);
    if (!why.empty()) {
        std::fprintf(stderr, "kimport: %s (see kimport --help)\n", why.c_str());
        return kExitUsage;
    }
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        std::string v;
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            return kExitOk;
        } else if (a == "--version") {
            std::fputs(kcli::version_text("kimport").c_str(), stdout);
            return kExitOk;
        } else if (a == "--print-mapping") {
            std::fwrite(kimport::default_mapping_text().data(), 1,
                        kimport::default_mapping_text().size(), stdout);
            return kExitOk;
        } else if (a == "-o" || a == "--output") {
            if (!take_value(args, &i, &opt.output)) return kExitUsage;
        } else if (a == "--crs") {
            if (!take_value(args, &i, &opt.crs)) return kExitUsage;
        } else if (a == "--source-crs") {
            if (!take_value(args, &i, &opt.source_crs)) return kExitUsage;
        } else if (a == "--force-source-crs") {
            opt.force_source_crs = true;
        } else if (a == "--layer") {
            if (!take_value(args, &i, &v)) return kExitUsage;
            opt.layers.push_back(v);
        } else if (a == "--mapping") {
            if (!take_value(args, &i, &opt.mapping_file)) return kExitUsage;
        } else if (a == "--districts") {
            if (!take_value(args, &i, &opt.districts_file)) return kExitUsage;
        } else if (a == "--district-field") {
            if (!take_value(args, &i, &opt.district_field)) return kExitUsage;
        } else if (a == "--district-attribute") {
            if (!take_value(args, &i, &opt.district_attribute)) return kExitUsage;
        } else if (a == "--name-field") {
            if (!take_value(args, &i, &opt.name_field)) return kExitUsage;
        } else if (a == "--code-field") {
            if (!take_value(args, &i, &opt.code_field)) return kExitUsage;
        } else if (a == "--extent") {
            if (!take_value(args, &i, &v)) return kExitUsage;
            std::array<double, 4> box{};
            if (!kcommon::parse_decimals(v, ',', box) || !(box[0] < box[2]) || !(box[1] < box[3]) ||
                !std::isfinite(box[2] - box[0]) || !std::isfinite(box[3] - box[1])) {
                std::fprintf(stderr,
                             "kimport: --extent wants WEST,SOUTH,EAST,NORTH in grid metres with "
                             "west < east and south < north, not '%s'\n",
                             v.c_str());
                return kExitUsage;
            }
            opt.extent = box;
        } else if (a == "--no-empty-tiles") {
            opt.empty_tiles = false;
        } else if (a == "--no-join") {
            opt.join_roads = false;
        } else if (a == "--replace") {
            opt.replace = true;
        } else if (a == "--progress") {
            progress_mode = 1;
        } else if (a == "--no-progress") {
            progress_mode = 0;
        } else if (a == "-q" || a == "--quiet") {
            quiet = true;
        } else if (a.size() > 1 && a[0] == '-') {
            std::fprintf(stderr, "kimport: unknown option %s (see kimport --help)\n", a.c_str());
            return kExitUsage;
        } else {
            opt.inputs.push_back(a);
        }
    }
    if (opt.inputs.empty() || opt.output.empty()) {
        std::fprintf(stderr, "kimport: %s (see kimport --help)\n",
                     opt.inputs.empty() ? "no input given" : "no output folder given (-o)");
        return kExitUsage;
    }
    if (!opt.districts_file.empty() && !opt.district_attribute.empty()) {
        std::fprintf(stderr, "kimport: give either --districts or --district-attribute\n");
        return kExitUsage;
    }
    bool terminal = isatty(STDERR_FILENO) != 0;
    kimport::Progress progress(progress_mode == 1 || (progress_mode == -1 && terminal), terminal);
    kimport::Summary summary;
    std::string error;
    if (!kimport::run_import(opt, &summary, &progress, &error)) {
        progress.finish();
        std::fprintf(stderr, "kimport: %s\n", error.c_str());
        return kExitFailed;
    }
    progress.finish();
    if (!quiet) std::cout << kimport::format_summary(opt, summary);
    return kExitOk;
}
