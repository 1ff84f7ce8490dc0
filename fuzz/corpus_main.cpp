// corpus_main.cpp: runs a fuzz target's seed corpus as ordinary tests. This file is compiled
// with one fuzz entry (LLVMFuzzerTestOneInput) into a GoogleTest program; FUZZ_CORPUS_DIR
// names the corpus folder. Every file is one test: the entry's own checks abort on a broken
// result, and the sanitizer build stops on any report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

std::vector<std::string> corpus_files() {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(FUZZ_CORPUS_DIR, ec))
        if (e.is_regular_file() && e.path().extension() != ".md")
            names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class FuzzCorpus : public ::testing::TestWithParam<std::string> {};

TEST_P(FuzzCorpus, InputRunsThroughTheFuzzEntry) {
    std::ifstream in(fs::path(FUZZ_CORPUS_DIR) / GetParam(), std::ios::binary);
    ASSERT_TRUE(in) << GetParam();
    const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
}

INSTANTIATE_TEST_SUITE_P(Seeds, FuzzCorpus, ::testing::ValuesIn(corpus_files()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                             std::string name = info.param;
                             for (char& c : name)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return name;
                         });

TEST(FuzzCorpusFolder, HoldsSeeds) {
    EXPECT_GE(corpus_files().size(), 3u) << FUZZ_CORPUS_DIR;
}

}  // namespace
