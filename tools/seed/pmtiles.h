// pmtiles.h: a PMTiles version 3 writer, for any static web host: browsers read the tiles
// with HTTP range requests.
//
// The archive is laid out as header (127 bytes), root directory, JSON metadata, leaf
// directories and tile data, in that order. Tiles are numbered along the Hilbert curve of each
// zoom (tile ids), and the data is clustered: tile contents follow each other in tile id order,
// each distinct content stored once at its first tile, so that neighbours on the map are
// neighbours in the file. Directory entries of consecutive tiles with the same content are one
// entry with a run length. Directories and metadata are gzip-compressed; the tiles are PNG,
// stored as they are, or vector tiles (ArchiveInfo::format "pbf"), stored gzip-compressed. When the
// root directory would pass the 16 KiB that clients fetch first, the entries move into leaf
// directories, as few as let the root fit.
//
// Tiles arrive in any order, so until finish() they wait in a spool file beside the archive,
// removed from the folder at once (the system frees it when the writer closes or dies).
#ifndef KSEED_PMTILES_H
#define KSEED_PMTILES_H

#include <memory>
#include <string>
#include <vector>

#include "archive.h"

namespace kseed {

// The tile id of z/x/y: the tiles of all lower zooms, then the position of (x, y) along the
// zoom's Hilbert curve.
uint64_t hilbert_tile_id(int z, uint64_t x, uint64_t y);

class PmtilesWriter : public TileArchive {
  public:
    // Writes the archive into the file at `path` (emptied first). Nothing when the file or its
    // spool cannot be made (the reason in `error`).
    static std::unique_ptr<PmtilesWriter> create(const std::string& path, std::string& error);
    ~PmtilesWriter() override;

    bool add(int z, long x, long y, std::string_view bytes, std::string& error) override;
    bool has(int, long, long) const override { return false; }
    // Lays out the archive. Fails when no tile was added (an archive's directories are never
    // empty).
    bool finish(const ArchiveInfo& info, std::string& error) override;
    uint64_t tiles() const override { return added_.size(); }
    uint64_t contents() const override { return contents_.size(); }

    // The layout of the finished archive, for reports and tests.
    struct Layout {
        uint64_t root_bytes = 0, metadata_bytes = 0, leaf_bytes = 0, data_bytes = 0;
        uint64_t addressed = 0, entries = 0, contents = 0, leaves = 0;
    };
    const Layout& layout() const { return layout_; }

  private:
    struct Added {
        uint64_t tile_id;
        uint32_t content;
    };
    struct Content {
        uint64_t spool_offset;
        uint32_t length;
    };
    PmtilesWriter() = default;
    bool spool_read(const Content& c, std::string& out) const;
    bool flush(std::string& error);
    // Writes `head` (header, directories, metadata) and the contents in `order`, and closes
    // the file.
    bool write_archive(std::string head, const std::vector<uint32_t>& order, std::string& error);

    int out_ = -1;
    int spool_ = -1;
    uint64_t flushed_ = 0;  // bytes written to the spool; later ones wait in pending_
    std::string pending_;
    std::vector<Added> added_;
    std::vector<Content> contents_;
    ContentIndex index_;
    int minzoom_ = kMaxZoom + 1, maxzoom_ = -1;
    Layout layout_;
    mutable std::string scratch_;
};

}  // namespace kseed

#endif  // KSEED_PMTILES_H
