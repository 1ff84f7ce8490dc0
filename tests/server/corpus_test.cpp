// corpus_test.cpp: runs the seed corpus of the request fuzz target (tests/server/corpus)
// through the same entry function in the normal tests. The entry aborts when a request breaks
// one of the server's promises, which fails this test.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

TEST(RequestCorpus, EveryInputRunsThroughTheRequestMethods) {
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(TESSERA_CORPUS_DIR)) {
        if (entry.path().filename() != "README.md") files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    ASSERT_GE(files.size(), 8u);
    for (const auto& path : files) {
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                         std::istreambuf_iterator<char>()};
        EXPECT_EQ(LLVMFuzzerTestOneInput(bytes.data(), bytes.size()), 0);
    }
}
