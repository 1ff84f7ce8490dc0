// fuzz_text.cpp: libFuzzer target for the text files of a data set. The first byte chooses the
// loader (even: d4.txt, odd: alldist.txt), the rest is the file. After each input the tables
// must stay within their capacities.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "data/store.h"
#include "data/store_detail.h"
#include "data_invariants.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    kestrel::data::DataSet& d = kestrel::data::dataset();
    d.tile_index_last = -1;
    d.place_last = -1;
    d.point_last = -1;
    std::FILE* f = fmemopen(const_cast<uint8_t*>(data + 1), size - 1, "r");
    if (f == nullptr) return 0;
    if (data[0] % 2 == 0)
        kestrel::data::detail::load_tile_index(f);
    else
        kestrel::data::detail::load_catalogue(f);
    std::fclose(f);
    if (const char* wrong = data_invariants::check_dataset(d)) {
        std::fprintf(stderr, "broken tables: %s\n", wrong);
        std::abort();
    }
    return 0;
}
