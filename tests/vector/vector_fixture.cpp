// vector_fixture: writes the fixture data set (vector_fixture.h) into FOLDER/data/, its tiles
// B, C (native grid) and K (the catalogue) as FOLDER/B.mvt ..., tile B again within a byte
// limit that its points of interest break (FOLDER/limited.mvt), and the style with the default
// colour table (FOLDER/style.json), for the checks by independent decoders.
#include "vector_fixture.h"

#include <filesystem>
#include <fstream>
#include <iostream>

#include "kmaps/vector/style.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: vector_fixture FOLDER\n";
        return 2;
    }
    namespace vec = kmaps::vector;
    const std::filesystem::path out = argv[1];
    std::filesystem::create_directories(out / "data");
    if (const std::string e = vector_fixture::write((out / "data").string() + "/"); !e.empty()) {
        std::cerr << "vector_fixture: " << e << "\n";
        return 1;
    }
    std::string error;
    auto source = vec::DataSource::open((out / "data").string(), error);
    const vec::IdentityProjection identity;
    if (!source) {
        std::cerr << "vector_fixture: " << error << "\n";
        return 1;
    }
    auto write = [&](const char* name, const vec::Box& box, vec::BuildOptions options) {
        vec::TileBuilder builder(*source, identity, options);
        std::string mvt;
        if (!builder.build(box, (box.maxx - box.minx) / vector_fixture::kPixels, mvt, error))
            return false;
        std::ofstream(out / name, std::ios::binary) << mvt;
        return true;
    };
    vec::BuildOptions limited;
    limited.max_bytes = 4000;
    if (!write("B.mvt", vector_fixture::kBoxB, {}) || !write("C.mvt", vector_fixture::kBoxC, {}) ||
        !write("K.mvt", vector_fixture::kBoxK, {}) ||
        !write("limited.mvt", vector_fixture::kBoxB, limited)) {
        std::cerr << "vector_fixture: " << error << "\n";
        return 1;
    }
    vec::StyleOptions style;
    style.tiles = "http://127.0.0.1/tiles/google/{z}/{x}/{y}.mvt";
    style.glyphs = "http://127.0.0.1/fonts/{fontstack}/{range}.pbf";
    std::ofstream(out / "style.json") << vec::style_json(style);
    return 0;
}
