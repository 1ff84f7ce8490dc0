// mbtiles.h: an MBTiles 1.3 writer (SQLite), for GDAL, QGIS and offline map applications.
//
// The file holds tiles of the Web Mercator tile matrix (GoogleMapsCompatible), as MBTiles
// requires, with rows counted from the bottom (TMS). Repeated tiles are stored once: the table
// `images` holds each distinct content, `map` the addresses, and the view `tiles` joins them
// into the table that readers query. `metadata` carries name, format, bounds, center, minzoom,
// maxzoom, attribution and the other rows of ArchiveInfo.
#ifndef KSEED_MBTILES_H
#define KSEED_MBTILES_H

#include <memory>
#include <string>
#include <unordered_set>

#include "archive.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kseed {

class MbtilesWriter : public TileArchive {
  public:
    // Makes a new archive in the file at `path`, which must be empty or absent. Nothing when
    // it cannot be made (the reason in `error`).
    static std::unique_ptr<MbtilesWriter> create(const std::string& path, std::string& error);
    // Opens an archive written by this writer, to add tiles to it: its tiles are kept (has()
    // names them) and its bounds and zooms are joined with the new ones when it is finished.
    // Nothing when the file is not such an archive.
    static std::unique_ptr<MbtilesWriter> open(const std::string& path, std::string& error);
    ~MbtilesWriter() override;

    bool add(int z, long x, long y, std::string_view bytes, std::string& error) override;
    bool has(int z, long x, long y) const override;
    bool finish(const ArchiveInfo& info, std::string& error) override;
    uint64_t tiles() const override { return tiles_; }
    uint64_t contents() const override { return contents_.size(); }
    // The scale factor of an archive opened to be added to (its metadata's "scale", 1 when
    // absent): tiles of another factor must not be mixed into it.
    int existing_scale() const { return before_.scale; }
    // The tiles' format of an archive opened to be added to ("png", "pbf").
    const std::string& existing_format() const { return before_.format; }

  private:
    MbtilesWriter() = default;
    bool exec(const char* sql, std::string& error);
    bool prepare(std::string& error);
    bool load_existing(std::string& error);
    bool same_content(int64_t id, std::string_view bytes);
    std::string sqlite_error(const char* what) const;

    sqlite3* db_ = nullptr;
    sqlite3_stmt* insert_image_ = nullptr;
    sqlite3_stmt* insert_map_ = nullptr;
    sqlite3_stmt* read_image_ = nullptr;
    ContentIndex contents_;
    std::unordered_set<uint64_t> present_;  // tile_key of every address held
    uint64_t tiles_ = 0;
    int64_t next_id_ = 1;  // of the next distinct content in `images`
    bool resumed_ = false;
    ArchiveInfo before_;  // the bounds and zooms of an archive opened to be added to
};

}  // namespace kseed

#endif  // KSEED_MBTILES_H
