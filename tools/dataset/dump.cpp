// dump.cpp: kdataset-dump, prints a tile file or a whole data set in readable form.
//
// Files are read with the engine's own loaders and the data area's readers (data/reader.h), so
// what the command prints is what the engine would hold, and a file that the engine would
// refuse makes the command fail with the engine's reason. Point-of-interest blocks, which the
// engine reads only on demand, are read here through the same reader. Names are stored in Big5
// (code page 950) and printed in UTF-8 unless --raw asks for the stored bytes; counts are
// printed as counts.
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/format.h"
#include "data/reader.h"
#include "data/store.h"
#include "kcommon/big5.h"
#include "kcommon/cli.h"

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
bool read_whole(const std::string& path, std::vector<uint8_t>* out) {
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

// A little-endian int32 of the metafile's header record (the drawing layer reads the rest).
int32_t emf_i32(const uint8_t* p) {
    return int32_t(uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 |
                   uint32_t(p[3]) << 24);
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

// Decodes the tile file at `path` into `slot` as the engine reads it; 0 or kExitMalformed.
int decode_file(const std::string& path, kd::TileSlot& slot) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return malformed(path, "cannot read");
    static std::vector<uint8_t> bytes(kd::WORK_BUFFER_SIZE);
    const char* why = kd::read_tile_file(file, kd::TileFileBuffer(bytes), slot);
    std::fclose(file);
    return why != nullptr ? malformed(path, why) : 0;
}

// Prints one point of interest of a block, with its note; 0 or kExitMalformed when the note
// does not lie in dat44_2.bin.
int print_poi(int i, int32_t tile, const kd::PoiRecord& r, const kd::DataFile& notes) {
    std::printf("    poi %d at (%d, %d) district %d category %d name \"%s\"", i,
                kd::tile_west(tile) + r.x, kd::tile_south(tile) + r.y, r.district, r.category,
                trimmed(r.name, kd::POI_NAME_BYTES).c_str());
    if (r.note >= 0) {
        char note[kd::POI_NOTE_BYTES];
        if (!kd::read_poi_note(notes, r.note, note))
            return malformed(fmt::kPoiNoteFile,
                             "note " + std::to_string(r.note) + " lies past the end");
        std::printf(" note %d \"%s\"", r.note, trimmed(note, kd::POI_NOTE_BYTES).c_str());
    }
    std::printf("\n");
    return 0;
}

// Prints the point-of-interest records of every index entry in use, with their notes.
int print_pois(const std::string& dir) {
    kd::DataFile points, notes;
    if (!points.open_path((dir + fmt::kPoiFile).c_str()))
        return malformed(fmt::kPoiFile, "cannot read");
    if (!notes.open_path((dir + fmt::kPoiNoteFile).c_str()))
        return malformed(fmt::kPoiNoteFile, "cannot read");
    const kd::DataSet& d = kd::dataset();
    std::vector<uint8_t> block;
    std::printf("point-of-interest index (%s):\n", fmt::kPoiFile);
    for (int e = 0; e < kd::POI_INDEX_ENTRIES; ++e) {
        const kd::PoiIndexEntry& x = d.poi_index[e];
        if (x.last == -1) continue;
        std::printf("  entry %d: tile %d, %d points, offset %d\n", e, x.tile, x.last + 1, x.offset);
        const std::string entry = "entry " + std::to_string(e);
        if (kd::poi_block_count(x) == 0)
            return malformed(fmt::kPoiFile, entry + ": last index " + std::to_string(x.last) +
                                                " outside -1 to " +
                                                std::to_string(kd::kPoiBlockRecordsMax - 1));
        block.resize(std::size_t(kd::poi_block_count(x)) * kd::POI_RECORD_BYTES);
        const int count = kd::read_poi_records(points, x, block);
        if (count == 0)
            return malformed(fmt::kPoiFile, "block of " + entry + " runs past the end of the file");
        for (int i = 0; i < count; ++i)
            if (print_poi(i, x.tile, kd::poi_record_at(block.data(), i), notes) != 0)
                return kExitMalformed;
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
    if (!read_whole(dir + fmt::kBaseMapFile, &emf))
        return malformed(fmt::kBaseMapFile, "cannot read");
    constexpr std::size_t kHeaderMin = 88;
    constexpr int32_t kEmrHeader = 1;
    if (emf.size() < kHeaderMin || emf_i32(emf.data()) != kEmrHeader ||
        std::memcmp(emf.data() + 40, " EMF", 4) != 0)
        return malformed(fmt::kBaseMapFile, "not an enhanced metafile");
    std::printf("base map (%s): %zu bytes, %d records, frame (%d, %d)-(%d, %d) in 0.01 mm\n",
                fmt::kBaseMapFile, emf.size(), emf_i32(emf.data() + 52), emf_i32(emf.data() + 24),
                emf_i32(emf.data() + 28), emf_i32(emf.data() + 32), emf_i32(emf.data() + 36));
    if (kd::dataset().base_map == nullptr)
        return malformed(fmt::kBaseMapFile, "the drawing layer cannot read it");
    return 0;
}

// Prints one summary line per tile file of the directory; non-zero if any is refused.
int print_tiles(const std::string& dir) {
    std::vector<std::pair<long, std::string>> files;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (int32_t number = 0; kd::tile_file_number(name, &number))
            files.emplace_back(number, name);
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
