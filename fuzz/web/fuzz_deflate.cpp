// fuzz_deflate: libFuzzer target of the compression of kserve's PNG rows (web/deflate.h). The
// first two bytes of an input give the row length (0: no rows), the rest are the rows; the
// stream must inflate, through zlib's own decoder, to exactly those bytes.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kmaps/deflate.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    const size_t row = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8;
    const uint8_t* rows = data + 2;
    const size_t n = size - 2;
    std::string z;
    kmaps::zlib_compress_rows(rows, n, row, z);
    std::vector<uint8_t> back(n + 1);
    uLongf got = back.size();
    if (uncompress(back.data(), &got, reinterpret_cast<const Bytef*>(z.data()), z.size()) != Z_OK ||
        got != n || (n != 0 && std::memcmp(back.data(), rows, n) != 0))
        std::abort();
    return 0;
}
