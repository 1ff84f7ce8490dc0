// deflate_test.cpp: the PNG row encoder's zlib streams inflate, with zlib's own decoder, to
// exactly the bytes given: empty and one-byte input, runs longer than a match, rows that
// repeat the row above, noise that needs several blocks, and rows too long to be matched.
#include "kmaps/deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <string>
#include <vector>

namespace {

struct Case {
    const char* name;
    size_t size;
    size_t row;
    int kind;  // 0 runs, 1 rows like the one above, 2 noise, 3 few colours
};

std::vector<uint8_t> make(const Case& c) {
    std::mt19937 rng(static_cast<unsigned>(c.size + c.kind));
    std::vector<uint8_t> v(c.size);
    for (size_t i = 0; i < v.size(); ++i) {
        switch (c.kind) {
            case 0:
                v[i] = static_cast<uint8_t>(i / 1000);
                break;
            case 1:
                v[i] =
                    c.row && i >= c.row && rng() % 50 ? v[i - c.row] : static_cast<uint8_t>(rng());
                break;
            case 2:
                v[i] = static_cast<uint8_t>(rng());
                break;
            default:
                v[i] = static_cast<uint8_t>(rng() % 3 == 0 ? rng() % 4 : i ? v[i - 1] : 0);
                break;
        }
    }
    return v;
}

class RowDeflate : public ::testing::TestWithParam<Case> {};

TEST_P(RowDeflate, InflatesToTheSameBytes) {
    const std::vector<uint8_t> in = make(GetParam());
    std::string z;
    kmaps::zlib_compress_rows(in.data(), in.size(), GetParam().row, z);
    std::vector<uint8_t> out(in.size() + 1);
    uLongf n = out.size();
    ASSERT_EQ(uncompress(out.data(), &n, reinterpret_cast<const Bytef*>(z.data()), z.size()), Z_OK);
    out.resize(n);
    EXPECT_EQ(out, in);
    if (GetParam().kind == 2 || GetParam().row > 32768) {
        EXPECT_LT(z.size(), in.size() + in.size() / 100 + 64);  // little growth
    } else {
        EXPECT_LT(z.size(), in.size() / 4 + 64);  // the runs and rows were found
    }
}

INSTANTIATE_TEST_SUITE_P(Inputs, RowDeflate,
                         ::testing::Values(Case{"empty", 0, 0, 0}, Case{"one_byte", 1, 0, 2},
                                           Case{"long_runs", 100000, 129, 0},
                                           Case{"rows_like_above", 129 * 600, 129, 1},
                                           Case{"noise_in_several_blocks", 300000, 257, 2},
                                           Case{"few_colours", 50000, 0, 3},
                                           Case{"rows_beyond_the_window", 200000, 40000, 1}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
