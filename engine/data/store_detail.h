// store_detail.h: helpers shared by the data store's own source files (not for other areas).
#ifndef KESTREL_DATA_STORE_DETAIL_H
#define KESTREL_DATA_STORE_DETAIL_H

#include <cstddef>
#include <cstdio>

namespace kestrel::data::detail {

// Room for the sentence that last_error() returns.
inline constexpr std::size_t kErrorBytes = 256;

// The buffer behind last_error(); loaders write their refusal into it.
char* error_buffer() noexcept;

// The text-file loaders of the data set, exposed for the fuzz targets and the corpus tests.
// Each reads an open file to its end, appending to the tables as the data set load does
// (d4.txt to the TileIndex, alldist.txt to the catalogue and its points). They return 1, or -1
// when a table would overflow (with the reason in last_error()).
int load_tile_index(std::FILE* file) noexcept;
int load_catalogue(std::FILE* file) noexcept;

}  // namespace kestrel::data::detail

#endif  // KESTREL_DATA_STORE_DETAIL_H
