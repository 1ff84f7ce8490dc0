// tile_decoder.h: decoding one tile file, held whole in memory, into a tile slot.
//
// The decoder checks every header field, offset, count, name index, anchor and the delta
// stream against the size of the file and the capacities of a slot before it uses them; a
// file that does not fit is refused as a whole and leaves the slot empty. It touches no
// process-global state: the engine's tile cache decodes into its slots, the map service, the
// dump command and the tests into slots of their own (read_tile_file of reader.h reads a file
// whole and decodes it).
#ifndef KESTREL_DATA_TILE_DECODER_H
#define KESTREL_DATA_TILE_DECODER_H

#include <cstddef>
#include <cstdint>

#include "data/store.h"

namespace kestrel::data {

// The refusal sentences name the slot's capacities and the work buffer's size in words; these
// checks keep the words and the numbers of limits.h in step.
static_assert(MAX_RECORDS == 10000 && MAX_VERTICES == 100000 && MAX_NAMES == 5000 &&
                  WORK_BUFFER_SIZE == 2'000'000,
              "update the refusal sentences of tile_decoder.cpp and reader.cpp");

// Decodes the tile file `bytes` (`size` bytes) into `slot`: the header (with its last record
// index set, its in-view flag 0 and its vertex last index raised by the decoded road
// vertices), the records of sections A, B, C and D in that order, the vertex array followed by
// the decoded road vertices, and the names. Returns nullptr on success. On refusal returns a
// sentence saying which field does not fit, and leaves the slot empty: its header is zero
// apart from the last indexes of records, vertices and names, which are -1.
const char* decode_tile(const uint8_t* bytes, std::size_t size, TileSlot& slot) noexcept;

// Leaves `slot` empty as decode_tile does on refusal.
void empty_slot(TileSlot& slot) noexcept;

}  // namespace kestrel::data

#endif  // KESTREL_DATA_TILE_DECODER_H
