// bench_import.cpp: times whole imports of the central-Taipei extract through run_import, as
// kimport does them: reading and reprojecting the GeoJSON files, districts from the city's
// polygons, cutting, capacities, names, catalogue, base map and writing the data set. The
// target is under 10 seconds for the whole import. A second case times the roads alone.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>
#include <vector>

#include "import.h"

namespace {

const std::string kData = KIMPORT_REALDATA_DIR;

// Imports `files` of the extract into a fresh folder once per iteration.
void import_files(benchmark::State& state, const std::vector<std::string>& files) {
    if (!std::filesystem::exists(kData + "/taipei_osm_roads.geojson")) {
        state.SkipWithError("the Taipei extract is not beside the source tree");
        return;
    }
    char tmpl[] = "/tmp/kimport-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) {
        state.SkipWithError("no temporary folder");
        return;
    }
    const std::string dir = tmpl;
    kimport::Options o;
    for (const std::string& f : files) o.inputs.push_back(kData + "/" + f);
    o.districts_file = kData + "/taipei_town_districts.geojson";
    o.district_field = "TNAME";
    o.output = dir + "/out";
    o.replace = true;
    long roads = 0, pois = 0;
    for (auto _ : state) {
        kimport::Summary s;
        std::string error;
        if (!kimport::run_import(o, &s, nullptr, &error)) {
            state.SkipWithError(error.c_str());
            break;
        }
        roads = s.road_records;
        pois = s.pois;
    }
    state.counters["road_records"] = static_cast<double>(roads);
    state.counters["pois"] = static_cast<double>(pois);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

void BM_ImportCentralTaipei(benchmark::State& state) {
    import_files(state, {"taipei_osm_roads.geojson", "taipei_osm_paths.geojson",
                         "taipei_osm_pois.geojson", "taipei_osm_admin_boundary_lines.geojson"});
}
BENCHMARK(BM_ImportCentralTaipei)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ImportCentralTaipeiRoadsOnly(benchmark::State& state) {
    import_files(state, {"taipei_osm_roads.geojson"});
}
BENCHMARK(BM_ImportCentralTaipeiRoadsOnly)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
