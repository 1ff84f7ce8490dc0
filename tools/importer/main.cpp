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

constexpr const char* kUsage = R"(Usage: kimport [OPTION]... INPUT... -o FOLDER
Imports vector geodata into a map data set: tiles, district index, points of interest,
place catalogue and base map. INPUT is any vector source GDAL reads: OpenStreetMap PBF or
XML, GeoJSON, shapefile, GeoPackage... Several inputs are read as one.
)";

constexpr const char* kNotes =
    R"(District codes are 100, 101, ... in the byte order of the district names. Features that
cannot be stored (outside the tile grid, beyond a tile's capacity, without a needed name) are
left out and counted in the summary. Nothing is written unless the whole import succeeds,
and an import that stores no tile at all (e.g. everything off the grid of --crs) fails.
Exit status: 0 on success, 1 when the import failed, 2 on a usage error.
See docs/importer.md for the mapping file format.
)";

// What the command line asks besides the import's options.
struct Choices {
    bool quiet = false;
    bool print_mapping = false;
    int progress = -1;  // -1: when a terminal, 0: never, 1: always
};

// --extent W,S,E,N in grid metres.
kcli::Handler extent(kimport::Options& opt) {
    return [&opt](const std::string& value) -> std::string {
        std::array<double, 4> box{};
        if (!kcommon::parse_decimals(value, ',', box) || !(box[0] < box[2]) || !(box[1] < box[3]) ||
            !std::isfinite(box[2] - box[0]) || !std::isfinite(box[3] - box[1]))
            return "wants WEST,SOUTH,EAST,NORTH in grid metres with west < east and south < "
                   "north, not '" +
                   value + "'";
        opt.extent = box;
        return {};
    };
}

// kimport's options that read the sources: where from, which layers, which rules.
std::vector<kcli::Option> source_options(kimport::Options& opt, Choices& c) {
    return {
        {.name = "--output",
         .alias = "-o",
         .value = "FOLDER",
         .help = "the data-set folder to write (made, with its parents, when missing)",
         .handle = kcli::store(&opt.output)},
        {.name = "--replace",
         .help = "replace FOLDER when it exists and is not empty",
         .handle = kcli::set(&opt.replace)},
        {.name = "--crs",
         .value = "CRS",
         .help = "grid of the data set, a projected CRS in metres (EPSG code, PROJ string or "
                 "WKT; default EPSG:3826)",
         .handle = kcli::store(&opt.crs)},
        {.name = "--source-crs",
         .value = "CRS",
         .help = "CRS of inputs that carry none (e.g. a shapefile without .prj)",
         .handle = kcli::store(&opt.source_crs)},
        {.name = "--force-source-crs",
         .help = "use --source-crs even for inputs that carry a CRS",
         .handle = kcli::set(&opt.force_source_crs)},
        {.name = "--layer",
         .value = "NAME",
         .help = "read only this layer of every input (repeatable)",
         .handle =
             [&opt](const std::string& v) {
                 opt.layers.push_back(v);
                 return std::string();
             }},
        {.name = "--mapping",
         .value = "FILE",
         .help = "classify features by the rules of FILE instead of the built-in OpenStreetMap "
                 "mapping",
         .handle = kcli::store(&opt.mapping_file)},
        {.name = "--print-mapping",
         .help = "print the built-in mapping (a template for FILE) and exit",
         .handle = kcli::set(&c.print_mapping)},
    };
}

// kimport's options that shape what is written: districts, names, roads, tiles, output.
std::vector<kcli::Option> output_options(kimport::Options& opt, Choices& c) {
    return {
        {.name = "--districts",
         .value = "FILE",
         .help = "polygon layer of districts: a road belongs to the district whose polygon "
                 "holds its midpoint, a point of interest to the one that holds it",
         .handle = kcli::store(&opt.districts_file)},
        {.name = "--district-field",
         .value = "NAME",
         .help = "the field of the districts layer that names each district",
         .handle = kcli::store(&opt.district_field)},
        {.name = "--district-attribute",
         .value = "NAME",
         .help = "instead of polygons: the attribute of the features that names their district",
         .handle = kcli::store(&opt.district_attribute)},
        {.name = "--name-field",
         .value = "NAME",
         .help = "attribute holding feature names (default: name)",
         .handle = kcli::store(&opt.name_field)},
        {.name = "--code-field",
         .value = "NAME",
         .help = "attribute holding road codes (default: ref)",
         .handle = kcli::store(&opt.code_field)},
        {.name = "--no-join",
         .help = "keep road pieces apart instead of joining those that continue each other "
                 "(same type, name, code and district)",
         .handle = kcli::assign(&opt.join_roads, false)},
        {.name = "--extent",
         .value = "W,S,E,N",
         .help = "write empty tiles over this box (grid metres) where no data lies, instead of "
                 "over the tiles with data and the base map (district polygons, water, coast)",
         .handle = extent(opt)},
        {.name = "--no-empty-tiles",
         .help = "write tiles only where data lies (views then show the squares of missing "
                 "tiles around the data)",
         .handle = kcli::assign(&opt.empty_tiles, false)},
        {.name = "--progress",
         .help = "show progress even when standard error is no terminal",
         .handle = kcli::assign(&c.progress, 1)},
        {.name = "--no-progress",
         .help = "never show progress",
         .handle = kcli::assign(&c.progress, 0)},
        {.name = "--quiet",
         .alias = "-q",
         .help = "print no summary",
         .handle = kcli::set(&c.quiet)},
    };
}

}  // namespace

int main(int argc, char** argv) {
    kimport::Options opt;
    Choices choices;
    kcli::Program program{.name = "kimport",
                          .usage = kUsage,
                          .options = source_options(opt, choices),
                          .notes = kNotes};
    for (kcli::Option& o : output_options(opt, choices)) program.options.push_back(std::move(o));
    if (const auto end = kcli::parse(program, argc, argv, &opt.inputs)) return *end;
    if (choices.print_mapping) {
        std::fwrite(kimport::default_mapping_text().data(), 1,
                    kimport::default_mapping_text().size(), stdout);
        return kExitOk;
    }
    if (opt.inputs.empty() || opt.output.empty())
        return kcli::refuse(program,
                            opt.inputs.empty() ? "no input given" : "no output folder given (-o)");
    if (!opt.districts_file.empty() && !opt.district_attribute.empty())
        return kcli::refuse(program, "give either --districts or --district-attribute");
    bool terminal = isatty(STDERR_FILENO) != 0;
    kimport::Progress progress(choices.progress == 1 || (choices.progress == -1 && terminal),
                               terminal);
    kimport::Summary summary;
    std::string error;
    if (!kimport::run_import(opt, &summary, &progress, &error)) {
        progress.finish();
        std::fprintf(stderr, "kimport: %s\n", error.c_str());
        return kExitFailed;
    }
    progress.finish();
    if (!choices.quiet) std::cout << kimport::format_summary(opt, summary);
    return kExitOk;
}
