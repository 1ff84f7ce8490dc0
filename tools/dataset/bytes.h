// bytes.h: little-endian byte output and text helpers shared by the data-set writer's files.
#ifndef KESTREL_TOOLS_DATASET_BYTES_H
#define KESTREL_TOOLS_DATASET_BYTES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kdataset {

// Appends a little-endian int16 / int32.
void put_i16(std::vector<uint8_t>* out, int16_t value);
void put_i32(std::vector<uint8_t>* out, int32_t value);

// Overwrites the little-endian int32 at `at` (which must lie inside `out`).
void patch_i32(std::vector<uint8_t>* out, std::size_t at, int32_t value);

// Appends `text` cut or padded with `pad` to exactly `width` bytes.
void put_text(std::vector<uint8_t>* out, const std::string& text, int width, char pad);

// The longest prefix of `text` of at most `max_bytes` bytes that does not split a two-byte
// Big5 character (kcommon::big5_cut, the cut the engine makes of catalogue names).
std::string cut_text(const std::string& text, std::size_t max_bytes);

// Writes `size` bytes to `path` under a temporary name and renames it into place. Returns an
// empty string on success, else why (and nothing is left at `path` or the temporary name).
std::string write_file(const std::string& path, const void* data, std::size_t size);

}  // namespace kdataset

#endif  // KESTREL_TOOLS_DATASET_BYTES_H
