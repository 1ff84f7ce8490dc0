// deflate.h: a zlib stream (RFC 1950 around RFC 1951) of picture rows, made for maps.
//
// A map's rows are long runs of a few colours, and a row is often much like the row above it.
// The encoder looks, at each byte, for the run that repeats the byte before (distance 1) and
// for the copy of the row above (distance `row`), takes the longer when it is at least three
// bytes, and codes the result in blocks with Huffman codes made for each block. That finds
// what the Up filter and run-length matching would find together, in one pass with no hash
// table: on Taipei maps a little faster than zlib's run-length setting through libpng, and
// about 5 % smaller.
#ifndef KMAPS_DEFLATE_H
#define KMAPS_DEFLATE_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace kmaps {

// Appends to `out` the zlib stream of the `n` bytes at `data`, whose rows are `row` bytes
// apart (0: no row matches).
void zlib_compress_rows(const uint8_t* data, size_t n, size_t row, std::string& out);

}  // namespace kmaps

#endif
