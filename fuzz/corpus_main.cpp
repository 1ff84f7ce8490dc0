// corpus_main.cpp: runs a fuzz target's seed corpus as an ordinary test. This file is compiled
// with one fuzz entry (LLVMFuzzerTestOneInput) into a GoogleTest program; FUZZ_CORPUS_DIR
// names the corpus folder, which is read when the test runs (a new file needs no rebuild).
// The entry's own checks abort on a broken result and the sanitizer build stops on any
// report, so each file's name is written to stderr before it runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

TEST(FuzzCorpus, EverySeedRunsThroughTheFuzzEntry) {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(FUZZ_CORPUS_DIR))
        if (e.is_regular_file() && e.path().extension() != ".md") files.push_back(e.path());
    std::sort(files.begin(), files.end());
    EXPECT_GE(files.size(), 3u) << FUZZ_CORPUS_DIR;
    for (const fs::path& path : files) {
        std::fprintf(stderr, "corpus file %s\n", path.filename().c_str());
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in) << path;
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0) << path;
    }
}

}  // namespace
