// Runs the fuzz targets' seed corpus (tests/data/corpus) through the data store's loaders in
// the normal test suite: "good-" inputs must load, "bad-" inputs must be refused, and the
// tables must stay sound either way.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "data/store.h"
#include "data/store_detail.h"
#include "data/tile_decoder.h"
#include "data_invariants.h"

namespace kd = kestrel::data;
namespace fs = std::filesystem;

namespace {

std::vector<fs::path> corpus(const char* sub) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(fs::path(KDATA_CORPUS_DIR) / sub))
        files.push_back(e.path());
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool starts_with(const fs::path& p, const char* prefix) {
    return p.filename().string().rfind(prefix, 0) == 0;
}

TEST(SeedCorpus, TileFilesDecodeOrAreRefusedAsTheirNamesSay) {
    auto slot = std::make_unique<kd::TileSlot>();
    const auto files = corpus("tile");
    ASSERT_GE(files.size(), 10u);
    for (const auto& path : files) {
        const auto bytes = read_file(path);
        const char* why = kd::decode_tile(bytes.data(), bytes.size(), *slot);
        if (starts_with(path, "good-")) {
            EXPECT_EQ(why, nullptr) << path << ": " << why;
        } else {
            EXPECT_NE(why, nullptr) << path;
        }
        EXPECT_EQ(data_invariants::check_slot(*slot), nullptr) << path;
    }
}

TEST(SeedCorpus, TextFilesLoadOrOverflowAsTheirNamesSay) {
    const auto files = corpus("text");
    ASSERT_GE(files.size(), 4u);
    for (const auto& path : files) {
        kd::reset_all();
        const auto bytes = read_file(path);
        ASSERT_GE(bytes.size(), 2u) << path;
        std::FILE* f = fmemopen(const_cast<uint8_t*>(bytes.data() + 1), bytes.size() - 1, "r");
        ASSERT_NE(f, nullptr);
        const int result =
            bytes[0] % 2 == 0 ? kd::detail::load_tile_index(f) : kd::detail::load_catalogue(f);
        std::fclose(f);
        EXPECT_EQ(result, starts_with(path, "good-") ? 1 : -1) << path;
        EXPECT_EQ(data_invariants::check_dataset(kd::dataset()), nullptr) << path;
    }
    kd::reset_all();
}

}  // namespace
