// archive.h: what the tile archives written by kseed (MBTiles, PMTiles) have in common.
//
// Tiles are added by their XYZ address: zoom z, column x and row y counted from the top-left
// of the tile matrix, 0 <= x, y < 2^z. Each archive stores a tile's bytes once however many
// addresses hold them (blank tiles are the common case), and writes its descriptive metadata
// when it is finished. Nothing here is thread-safe: one process writes one archive.
#ifndef KSEED_ARCHIVE_H
#define KSEED_ARCHIVE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kseed {

// The highest zoom an archive takes: tile ids of the Hilbert numbering and MBTiles' TMS rows
// stay well inside 64 bits.
constexpr int kMaxZoom = 24;

// What describes the archive's tiles, written when it is finished.
struct ArchiveInfo {
    std::string name;
    std::string description;
    std::string attribution;
    std::string version;  // of the tile set, e.g. the program's version
    int minzoom = 0;
    int maxzoom = 0;
    double bounds[4] = {-180, -85.0511287798, 180, 85.0511287798};  // west, south, east, north
    double center[2] = {0, 0};                                      // longitude, latitude
    int center_zoom = 0;
    int scale = 1;  // the drawing scale factor: tiles of 256 x scale pixels
    // The tiles' format: "png" (pictures) or "pbf" (vector tiles, gzip-compressed).
    std::string format = "png";
    // Vector tiles: their layers and fields as TileJSON's `vector_layers` (a JSON array as
    // text), written in the metadata; empty for pictures.
    std::string vector_layers;
    // PMTiles only: further members of the JSON metadata object, as JSON text
    // ("\"a\":1,\"b\":{...}"), written after the standard ones.
    std::string json_members;
};

// A tile's address as one number, for sets and maps of addresses.
inline uint64_t tile_key(int z, uint64_t x, uint64_t y) {
    return (static_cast<uint64_t>(z) << 58) | (x << 29) | y;
}

// Writes the `n` bytes at `data` to `fd` whole (again after an interruption); false on an error.
bool write_all(int fd, const void* data, size_t n);

// True when z, x and y name a tile: 0 <= z <= kMaxZoom and x, y < 2^z.
inline bool valid_tile(int z, long x, long y) {
    return z >= 0 && z <= kMaxZoom && x >= 0 && y >= 0 && x < (1L << z) && y < (1L << z);
}

// A 64-bit digest of a tile's bytes, to find equal tiles; equal digests are confirmed by
// comparing the bytes.
uint64_t content_digest(std::string_view bytes);

// Text as a JSON string literal, quotes included (UTF-8 passes through).
std::string json_string(std::string_view text);

class TileArchive {
  public:
    virtual ~TileArchive() = default;
    // Adds the tile at z/x/y. False, with the reason, when the address is not a tile's, the
    // tile is empty, or the file cannot be written. Adding an address twice keeps the last
    // bytes.
    virtual bool add(int z, long x, long y, std::string_view bytes, std::string& error) = 0;
    // True when the archive already holds z/x/y (an archive opened to be added to).
    virtual bool has(int z, long x, long y) const = 0;
    // Writes the metadata and the rest of the file, and closes it. False, with the reason,
    // when the file cannot be written.
    virtual bool finish(const ArchiveInfo& info, std::string& error) = 0;
    // Tiles addressed, and distinct tile contents stored.
    virtual uint64_t tiles() const = 0;
    virtual uint64_t contents() const = 0;
};

// Finds tiles whose bytes were seen before: each distinct content gets the next id from 0 on.
// The bytes themselves are asked of the caller (`same(id)`), which keeps them.
class ContentIndex {
  public:
    // The id of the content equal to `bytes` (as `same` confirms), or -1.
    template <class Same>
    int64_t find(uint64_t digest, Same same) const {
        const auto range = ids_.equal_range(digest);
        for (auto it = range.first; it != range.second; ++it)
            if (same(it->second)) return it->second;
        return -1;
    }
    void insert(uint64_t digest, int64_t id) { ids_.emplace(digest, id); }
    size_t size() const { return ids_.size(); }

  private:
    std::unordered_multimap<uint64_t, int64_t> ids_;
};

}  // namespace kseed

#endif  // KSEED_ARCHIVE_H
