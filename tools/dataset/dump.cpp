// dump.cpp: kdataset-dump, prints a tile file or a whole data set in readable form.
//
// Files are read with the engine's own loaders and tile decoder, so what the command prints is
// what the engine would hold, and a file that the engine would refuse makes the command fail
// with the engine's reason. Point-of-interest blocks, which the engine reads only on demand,
// are read here with their own bounds checks. Names are stored in Big5 (code page 950) and
// printed in UTF-8 unless --raw asks for the stored bytes; counts are printed as counts.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "data/format.h"
#include "data/store.h"
#include "data/tile_decoder.h"
#include "kcommon/big5.h"
#include "kcommon/cli.h"
#include "kcommon/numbers.h"

namespace {

namespace kd = kestrel::data;
namespace fmt = kestrel::data::format;

constexpr int kExitMalformed = 1;
constexpr const char* kUsage =
    "Usage: kdataset-dump [--vertices] [--raw] PATH\n"
    "\n"
    "Prints a map data set in readable form, as the engine loads it. PATH is a tile file\n"
    "(NUMBER.dat), or a data set directory: d4.txt, dat44_1.bin, dat44_2.bin, alldist.txt,\n"
    "dist.emf and the tile files.\n";

constexpr const char* kNotes =
    "Names are converted from Big5 (code page 950) to UTF-8; a byte that is no Big5 text is\n"
    "printed as \\xNN. Counts are numbers of entries (a header's stored \"last index\" plus 1).\n"
    "\n"
    "For a directory it prints the district index, the point-of-interest index and records\n"
    "with their notes, the place catalogue, the base map's frame and one line per tile file.\n"
    "Exit status: 0 when everything was read, 1 when a file is malformed or refused by the\n"
    "engine (the reason is printed), 2 on a usage error.\n";

// Reads a whole file; false when it cannot be read.
bool read_file(const std::string& path, std::vector<uint8_t>* out) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    out->clear();
    uint8_t buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->insert(out->end(), buf, buf + n);
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

int32_t le32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
}
int16_t le16(const uint8_t* p) {
    return int16_t(uint16_t(p[0]) | uint16_t(p[1]) << 8);
}

bool gRaw = false;  // --raw: names as stored

// Big5 text as UTF-8, pair by pair (trail bytes can be ASCII); bytes that are no Big5 text
// become \xNN.
std::string to_utf8(const std::string& big5) {
    return *kcommon::big5_to_utf8(big5, kcommon::BadBig5::escape);
}

// Text of a fixed-width field, trailing blanks removed, for printing.
std::string trimmed(const char* bytes, std::size_t width) {
    std::string s(bytes, strnlen(bytes, width));
    while (!s.empty() && (s.back() == ' ' || s.back() == '\0')) s.pop_back();
    return gRaw ? s : to_utf8(s);
}

// Printable form of a code field (NUL bytes end it).
std::string code_text(const char* code, std::size_t width) {
    return std::string(code, strnlen(code, width));
}

int malformed(const std::string& what, const std::string& why) {
    std::fprintf(stderr, "kdataset-dump: %s: %s\n", what.c_str(), why.c_str());
    return kExitMalformed;
}

// Prints one decoded tile slot.
void print_tile(const kd::TileSlot& s, bool vertices) {
    const kd::TileHeader& h = s.header;
    std::printf("tile %d\n", h.tile_number);
    std::printf("  origin x %d, y %d\n", h.origin_x, h.origin_y);
    std::printf("  record size (A, C, D) %d, record size (B) %d, anchor base %d\n", h.record_size,
                h.b_record_size, h.anchor_base);
    std::printf("  section A: %d records at %d; B: %d at %d; C: %d at %d; D: %d at %d\n",
                h.a_last + 1, h.a_offset, h.b_last + 1, h.b_offset, h.c_last + 1, h.c_offset,
                h.d_last + 1, h.d_offset);
    std::printf("  vertices: %d (file and decoded) at %d; delta stream at %d\n", h.vertex_last + 1,
                h.vertex_offset, h.delta_offset);
    std::printf("  names: %d at %d\n", h.name_last + 1, h.name_offset);
    std::printf("  records: %d\n", h.last_record + 1);

    const int a_end = h.a_last + 1;
    const int b_end = a_end + h.b_last + 1;
    const int c_end = b_end + h.c_last + 1;
    for (int i = 0; i <= h.last_record; ++i) {
        const kd::FeatureRecord& r = s.records[i];
        const char section = i < a_end ? 'A' : i < b_end ? 'B' : i < c_end ? 'C' : 'D';
        std::printf("  record %d [%c] type %d", i, section, r.type);
        if (section == 'A' || section == 'B')
            std::printf(" vertices %d from %d", r.vertex_count, r.first_vertex);
        else
            std::printf(" anchor %d (%d, %d)", r.first_vertex,
                        h.origin_x + s.vertices[r.first_vertex].x,
                        h.origin_y + s.vertices[r.first_vertex].y);
        if (section == 'B')
            std::printf(" code \"%s\" district %d", code_text(r.code, 4).c_str(), r.district);
        if (section == 'D') std::printf(" code \"%s\"", code_text(r.code, 2).c_str());
        if (section == 'B' || section == 'C')
            std::printf(" name %d \"%s\"", r.name_index,
                        trimmed(s.names[r.name_index].bytes, kd::NAME_BYTES).c_str());
        std::printf("\n");
        if (vertices && (section == 'A' || section == 'B'))
            for (int v = 0; v < r.vertex_count; ++v)
                std::printf("    (%d, %d)\n", h.origin_x + s.vertices[r.first_vertex + v].x,
                            h.origin_y + s.vertices[r.first_vertex + v].y);
    }
    for (int i = 0; i <= h.name_last; ++i)
        std::printf("  name %d \"%s\"\n", i, trimmed(s.names[i].bytes, kd::NAME_BYTES).c_str());
}

// Decodes the tile file at `path` into `slot`; 0 or kExitMalformed.
int decode_file(const std::string& path, kd::TileSlot& slot) {
    std::vector<uint8_t> bytes;
    if (!read_file(path, &bytes)) return malformed(path, "cannot read");
    if (const char* why = kd::decode_tile(bytes.data(), bytes.size(), slot))
        return malformed(path, why);
    return 0;
}

// Prints the point-of-interest records of every index entry in use, with their notes.
int print_pois(const std::string& dir) {
    std::vector<uint8_t> poi, notes;
    if (!read_file(dir + fmt::kPoiFile, &poi)) return malformed(fmt::kPoiFile, "cannot read");
    if (!read_file(dir + fmt::kPoiNoteFile, &notes))
        return malformed(fmt::kPoiNoteFile, "cannot read");
    const kd::DataSet& d = kd::dataset();
    std::printf("point-of-interest index (%s):\n", fmt::kPoiFile);
    for (int e = 0; e < kd::POI_INDEX_ENTRIES; ++e) {
        const kd::PoiIndexEntry& x = d.poi_index[e];
        if (x.last == -1) continue;
        std::printf("  entry %d: tile %d, %d points, offset %d\n", e, x.tile, x.last + 1, x.offset);
        const int64_t end = int64_t(x.offset) + (int64_t(x.last) + 1) * kd::POI_RECORD_BYTES;
        if (x.last < -1 || x.offset < 0 || end > int64_t(poi.size()))
            return malformed(fmt::kPoiFile, "block of entry " + std::to_string(e) +
                                                " runs past the end of the file");
        for (int i = 0; i <= x.last; ++i) {
            const uint8_t* r = poi.data() + x.offset + std::size_t(i) * kd::POI_RECORD_BYTES;
            const int32_t note = le32(r + fmt::kPoiRecNote);
            std::printf(
                "    poi %d at (%d, %d) district %d category %d name \"%s\"", i,
                kd::tile_west(x.tile) + le16(r + fmt::kPoiRecX),
                kd::tile_south(x.tile) + le16(r + fmt::kPoiRecY), le16(r + fmt::kPoiRecDistrict),
                le16(r + fmt::kPoiRecCategory),
                trimmed(reinterpret_cast<const char*>(r + fmt::kPoiRecName), kd::POI_NAME_BYTES)
                    .c_str());
            if (note >= 0) {
                const int64_t at = int64_t(note) * kd::POI_NOTE_BYTES;
                if (at + kd::POI_NOTE_BYTES > int64_t(notes.size()))
                    return malformed(fmt::kPoiNoteFile,
                                     "note " + std::to_string(note) + " lies past the end");
                std::printf(
                    " note %d \"%s\"", note,
                    trimmed(reinterpret_cast<const char*>(notes.data() + at), kd::POI_NOTE_BYTES)
                        .c_str());
            }
            std::printf("\n");
        }
    }
    return 0;
}

void print_catalogue() {
    static const char* const kKinds[] = {"?", "pline", "city", "point", "poin22"};
    const kd::DataSet& d = kd::dataset();
    std::printf("place catalogue (%s): %d entries, %d points\n", fmt::kCatalogueFile,
                d.place_last + 1, d.point_last + 1);
    for (int i = 0; i <= d.place_last; ++i) {
        const kd::PlaceEntry& e = d.places[i];
        const char* kind = e.kind >= 1 && e.kind <= 4 ? kKinds[e.kind] : kKinds[0];
        const std::string name = gRaw ? std::string(e.name) : to_utf8(e.name);
        std::printf("  entry %d: %s \"%s\" first point %d", i, kind, name.c_str(), e.first_point);
        const int count = e.kind == kd::PLACE_POLYLINE ? e.point_count : 1;
        std::printf(" points %d:", count);
        for (int p = 0; p < count; ++p)
            std::printf(" (%d, %d)", d.points[e.first_point + p].x, d.points[e.first_point + p].y);
        std::printf("\n");
    }
}

// Prints the frame of dist.emf from its header record.
int print_base_map(const std::string& dir) {
    std::vector<uint8_t> emf;
    if (!read_file(dir + fmt::kBaseMapFile, &emf))
        return malformed(fmt::kBaseMapFile, "cannot read");
    constexpr std::size_t kHeaderMin = 88;
    constexpr int32_t kEmrHeader = 1;
    if (emf.size() < kHeaderMin || le32(emf.data()) != kEmrHeader ||
        std::memcmp(emf.data() + 40, " EMF", 4) != 0)
        return malformed(fmt::kBaseMapFile, "not an enhanced metafile");
    std::printf("base map (%s): %zu bytes, %d records, frame (%d, %d)-(%d, %d) in 0.01 mm\n",
                fmt::kBaseMapFile, emf.size(), le32(emf.data() + 52), le32(emf.data() + 24),
                le32(emf.data() + 28), le32(emf.data() + 32), le32(emf.data() + 36));
    if (kd::dataset().base_map == nullptr)
        return malformed(fmt::kBaseMapFile, "the drawing layer cannot read it");
    return 0;
}

// Prints one summary line per tile file of the directory; non-zero if any is refused.
int print_tiles(const std::string& dir) {
    std::vector<std::pair<long, std::string>> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        const std::size_t dot = name.size() - std::min<std::size_t>(name.size(), 4);
        const auto number = kcommon::parse_int(std::string_view(name).substr(0, dot), 0,
                                               std::numeric_limits<long>::max());
        if (number && name.compare(dot, 4, ".dat") == 0)
            files.emplace_back(static_cast<long>(*number), name);
    }
    std::sort(files.begin(), files.end());
    std::printf("tile files: %zu\n", files.size());
    auto slot = std::make_unique<kd::TileSlot>();
    int result = 0;
    for (const auto& [number, name] : files) {
        if (decode_file(dir + name, *slot) != 0) {
            result = kExitMalformed;
            continue;
        }
        const kd::TileHeader& h = slot->header;
        std::printf("  %s: tile %d, sections A %d B %d C %d D %d, vertices %d, names %d%s\n",
                    name.c_str(), h.tile_number, h.a_last + 1, h.b_last + 1, h.c_last + 1,
                    h.d_last + 1, h.vertex_last + 1, h.name_last + 1,
                    h.tile_number == number ? "" : " (header number differs from the name)");
    }
    return result;
}

int dump_dataset(std::string dir) {
    if (dir.back() != '/') dir += '/';
    if (kd::set_path(dir.c_str(), true) != 1) return malformed(dir, kd::last_error());
    const kd::DataSet& d = kd::dataset();
    std::printf("data set %s\n", dir.c_str());
    std::printf("district index (%s): %d lines\n", fmt::kTileIndexFile, d.tile_index_last + 1);
    for (int i = 0; i <= d.tile_index_last; ++i)
        std::printf("  %d %d\n", d.tile_index_district[i], d.tile_index_tile[i]);
    int result = print_pois(dir);
    if (result != 0) return result;
    print_catalogue();
    const int base = print_base_map(dir);
    const int tiles = print_tiles(dir);
    return base != 0 ? base : tiles;
}

}  // namespace

int main(int argc, char** argv) {
    bool vertices = false;
    const kcli::Program program{
        .name = "kdataset-dump",
        .usage = kUsage,
        .options = {{.name = "--vertices",
                     .help = "also print every vertex of a tile file (world metres)",
                     .handle = kcli::set(&vertices)},
                    {.name = "--raw",
                     .help =
                         "print names and notes with their stored bytes (Big5) instead of UTF-8",
                     .handle = kcli::set(&gRaw)}},
        .notes = kNotes};
    std::vector<std::string> paths;
    if (const auto end = kcli::parse(program, argc, argv, &paths)) return *end;
    if (paths.size() != 1 || paths[0].empty())
        return kcli::refuse(program, paths.size() > 1 ? "give one PATH" : "PATH is missing");
    const char* path = paths[0].c_str();
    struct stat st;
    if (stat(path, &st) != 0) return malformed(path, std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return dump_dataset(path);
    auto slot = std::make_unique<kd::TileSlot>();
    if (const int r = decode_file(path, *slot); r != 0) return r;
    print_tile(*slot, vertices);
    return 0;
}
