// writer.cpp: turns features held in memory into the files of a map data set.
//
// Tile files are assembled section by section in memory, with every capacity of the engine's
// tile cache counted before a feature is accepted, so a feature that does not fit is refused
// with a reason and the rest of the tile is still written. The point-of-interest files, the
// place catalogue and the district index are text or fixed-record files written the same way.
// Every file is written under a temporary name and renamed into place once complete.
#include "writer.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <set>
#include <span>
#include <utility>

#include "bytes.h"
#include "data/format.h"
#include "data/store.h"

namespace kdataset {

namespace fmt = kestrel::data::format;
namespace cap = kestrel::data;

namespace {

constexpr int kMinRoadType = 1;
constexpr int kMaxRoadType = 9;
constexpr int kMinLineType = 10;
constexpr int kMaxLineType = 20;
constexpr int kMinPointType = 21;
constexpr int kMinPolylinePoints = 2;
constexpr int kMaxFeatureVertices = INT16_MAX;  // vertex counts are int16 in the records
constexpr const char* kTempSuffix = ".part";

// A vertex as stored: metres from the tile's origin.
struct TileVertex {
    int16_t x;
    int16_t y;
};

// Converts a world point to the tile's vertex frame; false when it lies beyond int16 reach.
bool to_tile_frame(const WorldPoint& p, int32_t origin_x, int32_t origin_y, TileVertex* out) {
    const int64_t dx = int64_t(p.x) - origin_x;
    const int64_t dy = int64_t(p.y) - origin_y;
    if (dx < INT16_MIN || dx > INT16_MAX || dy < INT16_MIN || dy > INT16_MAX) return false;
    *out = {int16_t(dx), int16_t(dy)};
    return true;
}

// Fills `out` with the points of a road, joined by points on the straight segment wherever two
// consecutive points lie further apart than one delta pair can reach. Returns the number of
// points inserted.
int densify(const std::vector<TileVertex>& in, std::vector<TileVertex>* out) {
    out->clear();
    int inserted = 0;
    for (std::size_t i = 0; i < in.size(); ++i) {
        if (i > 0) {
            const int dx = in[i].x - in[i - 1].x;
            const int dy = in[i].y - in[i - 1].y;
            const int reach = std::max(std::abs(dx), std::abs(dy));
            const int steps = (reach + fmt::kDeltaMax - 1) / fmt::kDeltaMax;
            for (int k = 1; k < steps; ++k) {
                // Rounded positions along the segment: consecutive ones differ by at most
                // ceil(reach / steps) <= kDeltaMax on each axis.
                const double t = double(k) / steps;
                const int x = in[i - 1].x + int(std::lround(dx * t));
                const int y = in[i - 1].y + int(std::lround(dy * t));
                out->push_back({int16_t(x), int16_t(y)});
                ++inserted;
            }
        }
        out->push_back(in[i]);
    }
    return inserted;
}

// One tile being assembled. Sections are appended feature by feature; add_* checks every
// capacity first and returns why a feature is refused, or an empty string when it was added.
class TileAssembly {
  public:
    explicit TileAssembly(int32_t tile)
        : origin_x_(kestrel::data::tile_west(tile)), origin_y_(kestrel::data::tile_south(tile)) {}

    std::string add_line(const LineFeature& f) {
        if (f.type < kMinLineType || f.type > kMaxLineType) return "type outside 10..20";
        if (int(f.points.size()) < kMinPolylinePoints) return "fewer than 2 points";
        if (int(f.points.size()) > kMaxFeatureVertices) return "more than 32767 points";
        std::vector<TileVertex> v;
        if (!convert(f.points, &v)) return "a point lies beyond the tile's reach";
        if (auto why = fits(1, int(v.size()), 0, 0, fmt::kPointRecordUsedBytes); !why.empty())
            return why;
        put_i16(&a_, f.type);
        put_i16(&a_, int16_t(v.size()));
        line_vertices_.insert(line_vertices_.end(), v.begin(), v.end());
        ++records_;
        return {};
    }

    std::string add_road(const Road& r, int* inserted) {
        if (r.type < kMinRoadType || r.type > kMaxRoadType) return "type outside 1..9";
        if (int(r.points.size()) < kMinPolylinePoints) return "fewer than 2 points";
        if (r.code.size() > std::size_t(fmt::kRoadCodeBytes)) return "code longer than 4 bytes";
        std::vector<TileVertex> raw, v;
        if (!convert(r.points, &raw)) return "a point lies beyond the tile's reach";
        const int added = densify(raw, &v);
        if (int(v.size()) > kMaxFeatureVertices) return "more than 32767 vertices";
        const int coded = int(v.size()) + fmt::coded_count_adjustment(v[0].x, v[0].y);
        if (coded < INT16_MIN || coded > INT16_MAX) return "coded vertex count exceeds int16";
        const int deltas = int(v.size()) - 1;
        const std::string name = padded_name(r.name);
        const int new_names = name_ids_.count(name) ? 0 : 1;
        if (auto why = fits(1, int(v.size()), new_names, deltas * fmt::kDeltaBytes,
                            fmt::kRoadRecordUsedBytes);
            !why.empty())
            return why;
        const int name_index = intern(name);
        put_i16(&b_, r.type);
        put_i16(&b_, v[0].x);
        put_i16(&b_, v[0].y);
        put_i16(&b_, int16_t(coded));
        put_text(&b_, r.code, fmt::kRoadCodeBytes, '\0');
        put_i16(&b_, int16_t(name_index));
        put_i16(&b_, r.district);
        for (std::size_t i = 1; i < v.size(); ++i) {
            deltas_.push_back(uint8_t(int8_t(v[i].x - v[i - 1].x)));
            deltas_.push_back(uint8_t(int8_t(v[i].y - v[i - 1].y)));
        }
        road_vertices_ += int(v.size());
        ++records_;
        if (inserted) *inserted += added;
        return {};
    }

    std::string add_place(const NamedPoint& p) {
        if (p.type < kMinPointType) return "type not above 20";
        TileVertex v;
        if (!to_tile_frame(p.at, origin_x_, origin_y_, &v)) return "lies beyond the tile's reach";
        const std::string name = padded_name(p.name);
        const int new_names = name_ids_.count(name) ? 0 : 1;
        if (auto why = fits(1, 1, new_names, 0, fmt::kPointRecordUsedBytes); !why.empty())
            return why;
        put_i16(&c_, p.type);
        put_i16(&c_, int16_t(intern(name)));
        place_anchors_.push_back(v);
        ++records_;
        return {};
    }

    std::string add_coded(const CodedPoint& p) {
        if (p.type < kMinPointType) return "type not above 20";
        if (p.code.size() > std::size_t(fmt::kPointCodeBytes)) return "code longer than 2 bytes";
        TileVertex v;
        if (!to_tile_frame(p.at, origin_x_, origin_y_, &v)) return "lies beyond the tile's reach";
        if (auto why = fits(1, 1, 0, 0, fmt::kPointRecordUsedBytes); !why.empty()) return why;
        put_i16(&d_, p.type);
        put_text(&d_, p.code, fmt::kPointCodeBytes, '\0');
        coded_anchors_.push_back(v);
        ++records_;
        return {};
    }

    // Lays the sections out after the header: A, B, C, D, vertex array (lines, then the
    // anchors of C and D), delta stream, names.
    std::vector<uint8_t> bytes(int32_t tile) const {
        std::vector<uint8_t> out(fmt::kHeaderBytes, 0);
        const auto section = [&](const std::vector<uint8_t>& s) {
            const int32_t at = int32_t(out.size());
            out.insert(out.end(), s.begin(), s.end());
            return at;
        };
        const int32_t a_off = section(a_);
        const int32_t b_off = section(b_);
        const int32_t c_off = section(c_);
        const int32_t d_off = section(d_);
        std::vector<uint8_t> vertices;
        for (const auto* list : {&line_vertices_, &place_anchors_, &coded_anchors_})
            for (const TileVertex& v : *list) {
                put_i16(&vertices, v.x);
                put_i16(&vertices, v.y);
            }
        const int32_t v_off = section(vertices);
        const int32_t delta_off = section(deltas_);
        std::vector<uint8_t> names;
        for (const std::string& n : names_) names.insert(names.end(), n.begin(), n.end());
        const int32_t n_off = section(names);

        const int32_t vertex_count =
            int32_t(line_vertices_.size() + place_anchors_.size() + coded_anchors_.size());
        const auto set = [&](std::size_t at, int32_t value) { patch_i32(&out, at, value); };
        set(fmt::kHdrRecordSize, fmt::kPointRecordUsedBytes);
        set(fmt::kHdrALast, int32_t(a_.size() / fmt::kPointRecordUsedBytes) - 1);
        set(fmt::kHdrAnchorBase, int32_t(line_vertices_.size()) - 1);
        set(fmt::kHdrAOffset, a_off);
        set(fmt::kHdrBLast, int32_t(b_.size() / fmt::kRoadRecordUsedBytes) - 1);
        set(fmt::kHdrBRecordSize, fmt::kRoadRecordUsedBytes);
        set(fmt::kHdrBOffset, b_off);
        set(fmt::kHdrCLast, int32_t(c_.size() / fmt::kPointRecordUsedBytes) - 1);
        set(fmt::kHdrCOffset, c_off);
        set(fmt::kHdrDLast, int32_t(d_.size() / fmt::kPointRecordUsedBytes) - 1);
        set(fmt::kHdrDOffset, d_off);
        set(fmt::kHdrVertexLast, vertex_count - 1);
        set(fmt::kHdrVertexOffset, v_off);
        set(fmt::kHdrDeltaOffset, delta_off);
        set(fmt::kHdrNameLast, int32_t(names_.size()) - 1);
        set(fmt::kHdrNameOffset, n_off);
        set(fmt::kHdrLastRecord, -1);
        set(fmt::kHdrOriginX, origin_x_);
        set(fmt::kHdrOriginY, origin_y_);
        set(fmt::kHdrTileNumber, tile);
        return out;
    }

    int records() const { return records_; }

  private:
    bool convert(const std::vector<WorldPoint>& points, std::vector<TileVertex>* out) const {
        out->resize(points.size());
        for (std::size_t i = 0; i < points.size(); ++i)
            if (!to_tile_frame(points[i], origin_x_, origin_y_, &(*out)[i])) return false;
        return true;
    }

    // Why one more feature of the given sizes would not fit the engine's slot or work buffer,
    // or an empty string when it fits.
    std::string fits(int records, int vertices, int names, int delta_bytes,
                     int record_bytes) const {
        if (records_ + records > cap::MAX_RECORDS)
            return "tile already holds " + std::to_string(cap::MAX_RECORDS) + " records";
        const int total_vertices =
            int(line_vertices_.size() + place_anchors_.size() + coded_anchors_.size()) +
            road_vertices_ + vertices;
        if (total_vertices > cap::MAX_VERTICES)
            return "tile would hold over " + std::to_string(cap::MAX_VERTICES) + " vertices";
        if (int(names_.size()) + names > cap::MAX_NAMES)
            return "tile already holds " + std::to_string(cap::MAX_NAMES) + " names";
        const std::size_t size = file_size() + std::size_t(record_bytes) +
                                 std::size_t(delta_bytes) + std::size_t(names) * cap::NAME_BYTES;
        // A road's own vertices go to the delta stream, a point's anchor to the vertex array.
        const std::size_t vertex_bytes = record_bytes == fmt::kRoadRecordUsedBytes
                                             ? 0
                                             : std::size_t(vertices) * fmt::kVertexBytes;
        if (size + vertex_bytes > cap::WORK_BUFFER_SIZE)
            return "tile file would exceed " + std::to_string(cap::WORK_BUFFER_SIZE) + " bytes";
        return {};
    }

    std::size_t file_size() const {
        return fmt::kHeaderBytes + a_.size() + b_.size() + c_.size() + d_.size() +
               (line_vertices_.size() + place_anchors_.size() + coded_anchors_.size()) *
                   fmt::kVertexBytes +
               deltas_.size() + names_.size() * cap::NAME_BYTES;
    }

    static std::string padded_name(const std::string& name) {
        std::string n = cut_text(name, cap::NAME_BYTES);
        n.resize(cap::NAME_BYTES, ' ');
        return n;
    }

    int intern(const std::string& padded) {
        auto [it, added] = name_ids_.emplace(padded, int(names_.size()));
        if (added) names_.push_back(padded);
        return it->second;
    }

    int32_t origin_x_;
    int32_t origin_y_;
    std::vector<uint8_t> a_, b_, c_, d_, deltas_;
    std::vector<TileVertex> line_vertices_, place_anchors_, coded_anchors_;
    int road_vertices_ = 0;
    int records_ = 0;
    std::vector<std::string> names_;
    std::map<std::string, int> name_ids_;
};

// Builds the bytes of one tile file; refused features are listed in `report`. Returns why the
// tile as a whole cannot be written, or an empty string.
std::string build_tile(const Tile& tile, std::vector<uint8_t>* out, WriteReport* report) {
    if (tile.number <= 0)
        return "tile " + std::to_string(tile.number) + ": number must be positive";
    TileAssembly t(tile.number);
    const std::string where = "tile " + std::to_string(tile.number) + ": ";
    const auto note = [&](const char* kind, std::size_t i, const std::string& why) {
        if (report) report->refused.push_back(where + kind + " " + std::to_string(i) + ": " + why);
    };
    int inserted = 0, lines = 0, roads = 0, points = 0;
    for (std::size_t i = 0; i < tile.lines.size(); ++i) {
        if (auto why = t.add_line(tile.lines[i]); !why.empty())
            note("line", i, why);
        else
            ++lines;
    }
    for (std::size_t i = 0; i < tile.roads.size(); ++i) {
        if (auto why = t.add_road(tile.roads[i], &inserted); !why.empty())
            note("road", i, why);
        else
            ++roads;
    }
    for (std::size_t i = 0; i < tile.places.size(); ++i) {
        if (auto why = t.add_place(tile.places[i]); !why.empty())
            note("place", i, why);
        else
            ++points;
    }
    for (std::size_t i = 0; i < tile.coded.size(); ++i) {
        if (auto why = t.add_coded(tile.coded[i]); !why.empty())
            note("coded point", i, why);
        else
            ++points;
    }
    *out = t.bytes(tile.number);
    if (report) {
        report->lines += lines;
        report->roads += roads;
        report->points += points;
        report->inserted_vertices += inserted;
    }
    return {};
}

// The bytes of dat44_1.bin and dat44_2.bin: points of interest grouped by tile into blocks,
// tiles in ascending order, at most 500 tiles.
void build_pois(const std::vector<Poi>& pois, std::vector<uint8_t>* index_file,
                std::vector<uint8_t>* notes_file, WriteReport* report) {
    std::map<int32_t, std::vector<const Poi*>> by_tile;
    for (std::size_t i = 0; i < pois.size(); ++i) {
        const Poi& p = pois[i];
        if (p.at.x < 0 || p.at.y < 0) {
            if (report)
                report->refused.push_back("poi " + std::to_string(i) + ": negative coordinates");
            continue;
        }
        by_tile[kestrel::data::tile_number_of(p.at.x, p.at.y)].push_back(&p);
    }
    index_file->assign(cap::POI_INDEX_BYTES, 0);
    for (int e = 0; e < cap::POI_INDEX_ENTRIES; ++e)
        patch_i32(index_file, e * fmt::kPoiIndexEntryBytes + fmt::kPoiIndexLast, -1);
    notes_file->clear();
    int entry = 0;
    int32_t note_count = 0;
    for (const auto& [tile, list] : by_tile) {
        if (entry == cap::POI_INDEX_ENTRIES) {
            if (report)
                report->refused.push_back("tile " + std::to_string(tile) + ": " +
                                          std::to_string(list.size()) +
                                          " points of interest refused, index holds 500 tiles");
            continue;
        }
        // The engine reads a block whole into its work buffer: what does not fit is refused
        // here rather than lost with the whole block there.
        const std::size_t kept = std::min(list.size(), std::size_t(cap::kPoiBlockRecordsMax));
        if (kept < list.size() && report)
            report->refused.push_back("tile " + std::to_string(tile) + ": " +
                                      std::to_string(list.size() - kept) +
                                      " points of interest refused, a block holds " +
                                      std::to_string(cap::kPoiBlockRecordsMax));
        const std::size_t at = entry * fmt::kPoiIndexEntryBytes;
        patch_i32(index_file, at + fmt::kPoiIndexTile, tile);
        patch_i32(index_file, at + fmt::kPoiIndexLast, int32_t(kept) - 1);
        patch_i32(index_file, at + fmt::kPoiIndexOffset, int32_t(index_file->size()));
        for (const Poi* p : std::span(list).first(kept)) {
            put_i16(index_file, int16_t(p->at.x - kestrel::data::tile_west(tile)));
            put_i16(index_file, int16_t(p->at.y - kestrel::data::tile_south(tile)));
            put_i16(index_file, p->district);
            put_i16(index_file, p->category);
            if (p->note.empty()) {
                put_i32(index_file, -1);
            } else {
                put_i32(index_file, note_count++);
                put_text(notes_file, cut_text(p->note, cap::POI_NOTE_BYTES), cap::POI_NOTE_BYTES,
                         ' ');
            }
            put_text(index_file, cut_text(p->name, cap::POI_NAME_BYTES), cap::POI_NAME_BYTES, ' ');
            if (report) ++report->pois;
        }
        ++entry;
    }
}

// True when `s` holds a byte that would end a token of a text line.
bool has_blank(const std::string& s) {
    return std::any_of(s.begin(), s.end(), [](unsigned char c) { return c <= ' '; });
}

// The text of alldist.txt, with the catalogue's capacities respected.
std::string build_catalogue(const std::vector<CatalogueEntry>& entries, WriteReport* report) {
    std::string out;
    int count = 0;
    int points = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const CatalogueEntry& e = entries[i];
        const auto refuse = [&](const std::string& why) {
            if (report)
                report->refused.push_back("catalogue entry " + std::to_string(i) + ": " + why);
        };
        const int needed = e.kind == CatalogueEntry::Polyline ? int(e.points.size()) : 1;
        if (count == cap::PLACE_CAPACITY) {
            refuse("catalogue holds " + std::to_string(cap::PLACE_CAPACITY) + " entries");
            continue;
        }
        if (points >= cap::CATALOGUE_FIRST_POINT_LIMIT) {
            refuse("first point would be 32768 or beyond");
            continue;
        }
        if (points + needed > cap::CATALOGUE_POINTS) {
            refuse("catalogue holds 80000 points");
            continue;
        }
        char line[64];
        if (e.kind == CatalogueEntry::Polyline) {
            if (needed < kMinPolylinePoints) {
                refuse("polyline with fewer than 2 points");
                continue;
            }
            if (needed > kMaxFeatureVertices) {
                refuse("polyline with more than 32767 points");
                continue;
            }
            std::snprintf(line, sizeof line, "%s %d\n", fmt::kWordPolyline, needed);
            out += line;
            for (const WorldPoint& p : e.points) {
                std::snprintf(line, sizeof line, "%d %d\n", p.x, p.y);
                out += line;
            }
        } else {
            const char* word = e.kind == CatalogueEntry::City    ? fmt::kWordCity
                               : e.kind == CatalogueEntry::Point ? fmt::kWordPoint
                                                                 : fmt::kWordMinorPoint;
            if (e.points.size() != 1) {
                refuse("a place needs exactly one point");
                continue;
            }
            const std::string name = cut_text(e.name, cap::PLACE_NAME_MAX);
            if (name.empty() || has_blank(name)) {
                refuse("name empty or not one token");
                continue;
            }
            out += word;
            out += ' ';
            out += name;
            std::snprintf(line, sizeof line, " %d %d\n", e.points[0].x, e.points[0].y);
            out += line;
        }
        ++count;
        points += needed;
    }
    return out;
}

// The text of d4.txt. Lines with a district code below 100 could never be loaded and are
// refused; so are lines beyond the index's 2000 entries.
std::string build_tile_index(const std::vector<std::pair<int32_t, int32_t>>& index,
                             WriteReport* report) {
    std::string out;
    int kept = 0;
    for (const auto& [district, tile] : index) {
        const std::string what =
            "tile index line " + std::to_string(district) + " " + std::to_string(tile) + ": ";
        if (district < fmt::kMinDistrict) {
            if (report) report->refused.push_back(what + "district code below 100");
            continue;
        }
        if (kept == cap::TILE_INDEX_CAPACITY) {
            if (report) report->refused.push_back(what + "index holds 2000 lines");
            continue;
        }
        out += std::to_string(district) + " " + std::to_string(tile) + "\n";
        ++kept;
    }
    return out;
}

}  // namespace

std::vector<std::pair<int32_t, int32_t>> derive_tile_index(const std::map<int32_t, Tile>& tiles) {
    std::set<std::pair<int32_t, int32_t>> pairs;
    for (const auto& [number, tile] : tiles)
        for (const Road& r : tile.roads)
            if (r.district >= fmt::kMinDistrict) pairs.emplace(r.district, number);
    return {pairs.begin(), pairs.end()};
}

std::string write_tile_file(const Tile& tile, const std::string& path, WriteReport* report) {
    std::vector<uint8_t> bytes;
    if (auto why = build_tile(tile, &bytes, report); !why.empty()) return why;
    if (auto why = write_file(path, bytes.data(), bytes.size()); !why.empty()) return why;
    if (report) ++report->tiles;
    return {};
}

std::string write_dataset(const DataSetContent& content, const std::string& dir,
                          WriteReport* report) {
    if (dir.empty() || dir.back() != '/') return "data set directory must end with '/'";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return "cannot create " + dir + ": " + ec.message();

    WriteReport local;
    WriteReport* rep = report ? report : &local;
    // Every file goes to "<name>.part" first; only when all were written are they renamed.
    std::vector<std::string> written;
    const auto discard = [&]() {
        for (const std::string& name : written) std::remove((dir + name + kTempSuffix).c_str());
    };
    const auto put = [&](const std::string& name, const void* data, std::size_t size) {
        std::string why = write_file(dir + name + kTempSuffix, data, size);
        if (why.empty()) written.push_back(name);
        return why;
    };

    for (const auto& [number, tile] : content.tiles) {
        std::vector<uint8_t> bytes;
        Tile numbered = tile;
        numbered.number = number;
        if (auto why = build_tile(numbered, &bytes, rep); !why.empty()) {
            rep->refused.push_back(why);
            continue;
        }
        if (auto why = put(std::to_string(number) + ".dat", bytes.data(), bytes.size());
            !why.empty()) {
            discard();
            return why;
        }
        ++rep->tiles;
    }
    const std::string d4 = build_tile_index(content.tile_index, rep);
    std::vector<uint8_t> poi_index, poi_notes;
    build_pois(content.pois, &poi_index, &poi_notes, rep);
    const std::string catalogue = build_catalogue(content.catalogue, rep);
    std::string why = put(fmt::kTileIndexFile, d4.data(), d4.size());
    if (why.empty()) why = put(fmt::kPoiFile, poi_index.data(), poi_index.size());
    if (why.empty()) why = put(fmt::kPoiNoteFile, poi_notes.data(), poi_notes.size());
    if (why.empty()) why = put(fmt::kCatalogueFile, catalogue.data(), catalogue.size());
    if (why.empty()) {
        why = write_base_map(content.base_map, dir + fmt::kBaseMapFile + kTempSuffix);
        if (why.empty()) written.push_back(fmt::kBaseMapFile);
    }
    if (!why.empty()) {
        discard();
        return why;
    }
    // A rename that fails takes back the files renamed before it, so that the directory never
    // holds part of this data set mixed with files of another.
    for (std::size_t i = 0; i < written.size(); ++i) {
        const std::string from = dir + written[i] + kTempSuffix;
        if (std::rename(from.c_str(), (dir + written[i]).c_str()) != 0) {
            std::string err = "cannot rename " + from + ": " + std::strerror(errno);
            for (std::size_t k = 0; k < i; ++k) std::remove((dir + written[k]).c_str());
            discard();
            return err;
        }
    }
    return {};
}

}  // namespace kdataset
