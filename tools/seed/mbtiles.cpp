// mbtiles.cpp: the MBTiles 1.3 writer over SQLite's C interface.
#include "mbtiles.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kcommon/numbers.h"

namespace kseed {

namespace {

constexpr int kApplicationId = 0x4d504258;  // "MPBX", MBTiles' registered application id

const char* const kSchema =
    "CREATE TABLE metadata (name TEXT, value TEXT);"
    "CREATE UNIQUE INDEX metadata_name ON metadata (name);"
    "CREATE TABLE images (tile_id INTEGER PRIMARY KEY, tile_data BLOB NOT NULL);"
    "CREATE TABLE map (zoom_level INTEGER NOT NULL, tile_column INTEGER NOT NULL,"
    " tile_row INTEGER NOT NULL, tile_id INTEGER NOT NULL);"
    "CREATE UNIQUE INDEX map_index ON map (zoom_level, tile_column, tile_row);"
    "CREATE VIEW tiles AS SELECT map.zoom_level AS zoom_level, map.tile_column AS tile_column,"
    " map.tile_row AS tile_row, images.tile_data AS tile_data"
    " FROM map JOIN images ON images.tile_id = map.tile_id;";

// Writing goes to a file that is renamed into place once complete, so a crash leaves nothing
// to recover: no journal, no waiting for the disk.
const char* const kFastWrites =
    "PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF; PRAGMA locking_mode = EXCLUSIVE;";

std::string number(double v) {
    char b[40];
    std::snprintf(b, sizeof b, "%.7f", v);
    // Trailing zeros say nothing: 121.5000000 is 121.5.
    std::string s = b;
    while (s.size() > 1 && s.back() == '0') s.pop_back();
    if (s.back() == '.') s.pop_back();
    return s;
}

}  // namespace

std::string MbtilesWriter::sqlite_error(const char* what) const {
    return std::string(what) + ": " + (db_ ? sqlite3_errmsg(db_) : "out of memory");
}

bool MbtilesWriter::exec(const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = std::string("SQLite: ") + (message ? message : sqlite3_errmsg(db_));
    sqlite3_free(message);
    return false;
}

bool MbtilesWriter::prepare(std::string& error) {
    struct {
        const char* sql;
        sqlite3_stmt** statement;
    } const statements[] = {
        {"INSERT INTO images (tile_id, tile_data) VALUES (?, ?)", &insert_image_},
        {"INSERT OR REPLACE INTO map (zoom_level, tile_column, tile_row, tile_id)"
         " VALUES (?, ?, ?, ?)",
         &insert_map_},
        {"SELECT tile_data FROM images WHERE tile_id = ?", &read_image_},
    };
    for (const auto& s : statements)
        if (sqlite3_prepare_v2(db_, s.sql, -1, s.statement, nullptr) != SQLITE_OK) {
            error = sqlite_error("SQLite");
            return false;
        }
    return exec("BEGIN", error);
}

std::unique_ptr<MbtilesWriter> MbtilesWriter::create(const std::string& path, std::string& error) {
    std::unique_ptr<MbtilesWriter> w(new MbtilesWriter);
    if (sqlite3_open_v2(path.c_str(), &w->db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        error = w->sqlite_error(("cannot open " + path).c_str());
        return nullptr;
    }
    const std::string id = "PRAGMA application_id = " + std::to_string(kApplicationId) + ";";
    if (!w->exec(kFastWrites, error) || !w->exec(id.c_str(), error) || !w->exec(kSchema, error) ||
        !w->prepare(error))
        return nullptr;
    return w;
}

std::unique_ptr<MbtilesWriter> MbtilesWriter::open(const std::string& path, std::string& error) {
    std::unique_ptr<MbtilesWriter> w(new MbtilesWriter);
    if (sqlite3_open_v2(path.c_str(), &w->db_, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        error = w->sqlite_error(("cannot open " + path).c_str());
        return nullptr;
    }
    w->resumed_ = true;
    if (!w->exec(kFastWrites, error) || !w->load_existing(error) || !w->prepare(error))
        return nullptr;
    return w;
}

// Reads what an archive opened to be added to holds: the digests of its contents, its
// addresses, and the bounds and zooms of its metadata.
bool MbtilesWriter::load_existing(std::string& error) {
    sqlite3_stmt* s = nullptr;
    auto query = [&](const char* sql) {
        sqlite3_finalize(s);
        s = nullptr;
        return sqlite3_prepare_v2(db_, sql, -1, &s, nullptr) == SQLITE_OK;
    };
    auto done = [&](bool ok) {
        sqlite3_finalize(s);
        return ok;
    };
    // Only this writer's layout can be added to: tiles in `map` and `images`, PNG.
    if (!query("SELECT value FROM metadata WHERE name = 'format'") ||
        sqlite3_step(s) != SQLITE_ROW || !query("SELECT tile_id, tile_data FROM images")) {
        error = "not an archive written by kseed (no metadata, map and images tables)";
        return done(false);
    }
    int rc;
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const int64_t id = sqlite3_column_int64(s, 0);
        next_id_ = std::max(next_id_, id + 1);
        const auto* data = static_cast<const char*>(sqlite3_column_blob(s, 1));
        const auto size = static_cast<size_t>(sqlite3_column_bytes(s, 1));
        contents_.insert(content_digest(std::string_view(data ? data : "", size)), id);
    }
    if (rc != SQLITE_DONE) {
        error = sqlite_error("cannot read the archive's images");
        return done(false);
    }
    if (!query("SELECT zoom_level, tile_column, tile_row FROM map")) {
        error = "not an archive written by kseed (no map table)";
        return done(false);
    }
    while ((rc = sqlite3_step(s)) == SQLITE_ROW) {
        const int z = sqlite3_column_int(s, 0);
        const int64_t x = sqlite3_column_int64(s, 1);
        const int64_t tms = sqlite3_column_int64(s, 2);
        const int64_t y = (z >= 0 && z <= kMaxZoom) ? (int64_t{1} << z) - 1 - tms : -1;
        if (!valid_tile(z, static_cast<long>(x), static_cast<long>(y))) {
            error = "the archive holds a tile outside its zoom's matrix";
            return done(false);
        }
        present_.insert(tile_key(z, static_cast<uint64_t>(x), static_cast<uint64_t>(y)));
    }
    if (rc != SQLITE_DONE) {
        error = sqlite_error("cannot read the archive's tiles");
        return done(false);
    }
    tiles_ = present_.size();
    before_.minzoom = kMaxZoom + 1;
    before_.maxzoom = -1;
    if (!query("SELECT name, value FROM metadata")) return done(false);
    while (sqlite3_step(s) == SQLITE_ROW) {
        const auto* n = reinterpret_cast<const char*>(sqlite3_column_text(s, 0));
        const auto* v = reinterpret_cast<const char*>(sqlite3_column_text(s, 1));
        if (!n || !v) continue;
        const std::string name = n;
        // Zooms or bounds that do not read leave the archive's old extent out of the new
        // metadata (maxzoom -1); a scale that does not read is 0, which no run matches.
        const auto zoom = kcommon::parse_int(v, 0, kMaxZoom);
        if (name == "minzoom") before_.minzoom = zoom ? static_cast<int>(*zoom) : kMaxZoom + 1;
        if (name == "maxzoom") before_.maxzoom = zoom ? static_cast<int>(*zoom) : -1;
        if (name == "format") before_.format = v;
        if (name == "scale")
            before_.scale = static_cast<int>(kcommon::parse_int(v, 0, 99).value_or(0));
        if (name == "bounds" && !kcommon::parse_decimals(v, ',', before_.bounds))
            before_.maxzoom = -1;
    }
    return done(true);
}

MbtilesWriter::~MbtilesWriter() {
    sqlite3_finalize(insert_image_);
    sqlite3_finalize(insert_map_);
    sqlite3_finalize(read_image_);
    sqlite3_close(db_);
}

bool MbtilesWriter::same_content(int64_t id, std::string_view bytes) {
    sqlite3_reset(read_image_);
    sqlite3_bind_int64(read_image_, 1, id);
    if (sqlite3_step(read_image_) != SQLITE_ROW) return false;
    const auto size = static_cast<size_t>(sqlite3_column_bytes(read_image_, 0));
    const void* data = sqlite3_column_blob(read_image_, 0);
    return size == bytes.size() && (size == 0 || std::memcmp(data, bytes.data(), size) == 0);
}

bool MbtilesWriter::add(int z, long x, long y, std::string_view bytes, std::string& error) {
    if (!valid_tile(z, x, y)) {
        error = "no tile " + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
        return false;
    }
    if (bytes.empty()) {
        error = "an empty tile";
        return false;
    }
    const uint64_t digest = content_digest(bytes);
    int64_t id = contents_.find(digest, [&](int64_t c) { return same_content(c, bytes); });
    if (id < 0) {
        id = next_id_++;
        sqlite3_reset(insert_image_);
        sqlite3_bind_int64(insert_image_, 1, id);
        sqlite3_bind_blob(insert_image_, 2, bytes.data(), static_cast<int>(bytes.size()),
                          SQLITE_STATIC);
        if (sqlite3_step(insert_image_) != SQLITE_DONE) {
            error = sqlite_error("cannot write a tile");
            return false;
        }
        contents_.insert(digest, id);
    }
    sqlite3_reset(insert_map_);
    sqlite3_bind_int(insert_map_, 1, z);
    sqlite3_bind_int64(insert_map_, 2, x);
    sqlite3_bind_int64(insert_map_, 3, (int64_t{1} << z) - 1 - y);  // TMS: rows from the bottom
    sqlite3_bind_int64(insert_map_, 4, id);
    if (sqlite3_step(insert_map_) != SQLITE_DONE) {
        error = sqlite_error("cannot write a tile");
        return false;
    }
    if (present_.insert(tile_key(z, x, y)).second) ++tiles_;
    return true;
}

bool MbtilesWriter::has(int z, long x, long y) const {
    return valid_tile(z, x, y) && present_.count(tile_key(z, x, y)) != 0;
}

bool MbtilesWriter::finish(const ArchiveInfo& given, std::string& error) {
    ArchiveInfo info = given;
    if (resumed_ && before_.maxzoom >= 0) {
        // The archive now covers what it held and what was added.
        info.minzoom = std::min(info.minzoom, before_.minzoom);
        info.maxzoom = std::max(info.maxzoom, before_.maxzoom);
        info.bounds[0] = std::min(info.bounds[0], before_.bounds[0]);
        info.bounds[1] = std::min(info.bounds[1], before_.bounds[1]);
        info.bounds[2] = std::max(info.bounds[2], before_.bounds[2]);
        info.bounds[3] = std::max(info.bounds[3], before_.bounds[3]);
        info.center[0] = (info.bounds[0] + info.bounds[2]) / 2;
        info.center[1] = (info.bounds[1] + info.bounds[3]) / 2;
        info.center_zoom = std::clamp(info.center_zoom, info.minzoom, info.maxzoom);
    }
    const std::pair<const char*, std::string> rows[] = {
        {"name", info.name},
        {"format", info.format},
        {"bounds", number(info.bounds[0]) + "," + number(info.bounds[1]) + "," +
                       number(info.bounds[2]) + "," + number(info.bounds[3])},
        {"center", number(info.center[0]) + "," + number(info.center[1]) + "," +
                       std::to_string(info.center_zoom)},
        {"minzoom", std::to_string(info.minzoom)},
        {"maxzoom", std::to_string(info.maxzoom)},
        {"attribution", info.attribution},
        {"description", info.description},
        {"type", "baselayer"},
        {"version", info.version},
        // Not one of the format's own keys: the drawing scale factor of the 256 x scale-pixel
        // tiles, which kseed --resume checks.
        {"scale", std::to_string(info.scale)},
        // Vector tiles: their layers, which clients read from the JSON of the row "json".
        {"json", info.vector_layers.empty() ? std::string()
                                            : "{\"vector_layers\":" + info.vector_layers + "}"},
    };
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v2(db_, "INSERT OR REPLACE INTO metadata (name, value) VALUES (?, ?)", -1,
                           &s, nullptr) != SQLITE_OK) {
        error = sqlite_error("SQLite");
        return false;
    }
    bool ok = true;
    for (const auto& [name, value] : rows) {
        if (value.empty() && (std::strcmp(name, "version") == 0 || std::strcmp(name, "json") == 0))
            continue;
        sqlite3_reset(s);
        sqlite3_bind_text(s, 1, name, -1, SQLITE_STATIC);
        sqlite3_bind_text(s, 2, value.c_str(), static_cast<int>(value.size()), SQLITE_STATIC);
        ok = ok && sqlite3_step(s) == SQLITE_DONE;
    }
    sqlite3_finalize(s);
    if (!ok) {
        error = sqlite_error("cannot write the metadata");
        return false;
    }
    if (!exec("COMMIT", error)) return false;
    sqlite3_finalize(insert_image_);
    sqlite3_finalize(insert_map_);
    sqlite3_finalize(read_image_);
    insert_image_ = insert_map_ = read_image_ = nullptr;
    if (sqlite3_close(db_) != SQLITE_OK) {
        error = sqlite_error("cannot close the archive");
        return false;
    }
    db_ = nullptr;
    return true;
}

}  // namespace kseed
