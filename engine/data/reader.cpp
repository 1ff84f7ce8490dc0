// reader.cpp: the readers of the data set's files (reader.h): tile files read whole, the
// point-of-interest index, blocks, records and notes, and the text files d4.txt and
// alldist.txt. Binary fields are taken through the bounds-checked ByteView; file reads through
// DataFile or the C library's stdio.
#include "data/reader.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "data/byte_view.h"
#include "kcommon/big5.h"

namespace kestrel::data {

namespace {

namespace fmt = format;

// Reads a decimal int32 as "%d" does (leading white space, optional sign, digits) and moves
// `p` past it. False when there is no number or it does not fit an int32.
bool read_int(const char*& p, int32_t* out) noexcept {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    const char* digits = (*p == '+' || *p == '-') ? p + 1 : p;
    if (!std::isdigit(static_cast<unsigned char>(*digits))) return false;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(p, &end, 10);
    if (errno == ERANGE || v < INT32_MIN || v > INT32_MAX) return false;
    *out = int32_t(v);
    p = end;
    return true;
}

// Finds the next token (a run of non-blank characters) as "%s" does and moves `p` past it.
// False when the line holds no further token.
bool read_token(const char*& p, std::string_view* token) noexcept {
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    if (*p == '\0') return false;
    const char* start = p;
    while (*p != '\0' && !std::isspace(static_cast<unsigned char>(*p))) ++p;
    *token = std::string_view(start, std::size_t(p - start));
    return true;
}

// True when `line` starts with the keyword `word`.
bool starts_with(const char* line, const char* word) noexcept {
    return std::strncmp(line, word, std::strlen(word)) == 0;
}

// The bytes of `count` point records.
int64_t record_bytes(int64_t count) noexcept {
    return count * POI_RECORD_BYTES;
}

}  // namespace

// ---- tile files ------------------------------------------------------------------------------

bool tile_file_name(const char* folder, int32_t tile, char* out, std::size_t out_size) noexcept {
    if (out == nullptr || out_size == 0) return false;
    const int n = std::snprintf(out, out_size, fmt::kTileFileFormat, folder, tile);
    return n >= 0 && std::size_t(n) < out_size;
}

bool tile_file_number(std::string_view name, int32_t* tile) noexcept {
    // The number read back must give the same name: the round trip is the check.
    if (name.empty() || name.size() >= kTileFileNameBytes) return false;
    char text[kTileFileNameBytes] = {};
    name.copy(text, name.size());
    const char* p = text;
    int32_t number = 0;
    char again[kTileFileNameBytes];
    if (!read_int(p, &number) || !tile_file_name("", number, again, sizeof again) || name != again)
        return false;
    *tile = number;
    return true;
}

const char* read_tile_file(std::FILE* file, TileFileBuffer buffer, TileSlot& slot) noexcept {
    const auto refuse = [&](const char* why) {
        empty_slot(slot);
        return why;
    };
    long size = -1;
    if (file != nullptr && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size < 0 || std::fseek(file, 0, SEEK_SET) != 0) return refuse("cannot seek");
    if (std::size_t(size) > buffer.size()) return refuse("file larger than 2000000 bytes");
    if (std::fread(buffer.data(), 1, std::size_t(size), file) != std::size_t(size))
        return refuse("short read");
    return decode_tile(buffer.data(), std::size_t(size), slot);
}

// ---- the point-of-interest index ---------------------------------------------------------------

void read_poi_index(std::FILE* file, PoiIndex& index) noexcept {
    uint8_t raw[POI_INDEX_BYTES];
    const std::size_t got = file != nullptr ? std::fread(raw, 1, sizeof raw, file) : 0;
    const detail::ByteView in(raw, got);
    for (int e = 0; e < POI_INDEX_ENTRIES; ++e) {
        const auto at = std::size_t(e) * fmt::kPoiIndexEntryBytes;
        if (!in.covers(int64_t(at), fmt::kPoiIndexEntryBytes)) {
            index[e] = PoiIndexEntry{0, -1, 0};
            continue;
        }
        index[e] = PoiIndexEntry{in.i32(at + fmt::kPoiIndexTile), in.i32(at + fmt::kPoiIndexLast),
                                 in.i32(at + fmt::kPoiIndexOffset)};
    }
}

int poi_block_entry(const PoiIndex& index, int32_t tile) noexcept {
    for (int e = 0; e < POI_INDEX_ENTRIES; ++e)
        if (index[e].tile == tile && index[e].last != -1) return e;
    return -1;
}

bool is_tile_block(const PoiIndex& index, int e) noexcept {
    return e >= 0 && e < POI_INDEX_ENTRIES && index[e].tile > 0 && index[e].last >= 0 &&
           poi_block_entry(index, index[e].tile) == e;
}

// ---- blocks, records and notes -----------------------------------------------------------------

int poi_block_count(const PoiIndexEntry& e) noexcept {
    return e.last < 0 || e.last >= kPoiBlockRecordsMax ? 0 : e.last + 1;
}

int read_poi_records(const DataFile& points, const PoiIndexEntry& e,
                     std::span<uint8_t> out) noexcept {
    const int count = poi_block_count(e);
    if (count == 0 || record_bytes(count) > int64_t(out.size())) return 0;
    return points.read_at(e.offset, out.data(), std::size_t(record_bytes(count))) ? count : 0;
}

PoiRecord poi_record_at(const uint8_t* block, int i) noexcept {
    const detail::ByteView in(block + record_bytes(i), POI_RECORD_BYTES);
    PoiRecord r{in.i16(fmt::kPoiRecX),        in.i16(fmt::kPoiRecY),
                in.i16(fmt::kPoiRecDistrict), in.i16(fmt::kPoiRecCategory),
                in.i32(fmt::kPoiRecNote),     {}};
    std::memcpy(r.name, in.at(fmt::kPoiRecName), POI_NAME_BYTES);
    return r;
}

bool read_poi_note(const DataFile& notes, int32_t note,
                   std::span<char, POI_NOTE_BYTES> out) noexcept {
    return note >= 0 && notes.read_at(int64_t{note} * POI_NOTE_BYTES, out.data(), out.size());
}

// ---- text files --------------------------------------------------------------------------------

const char* TextLines::next() noexcept {
    if (file_ == nullptr || std::fgets(line_, sizeof line_, file_) == nullptr) return nullptr;
    ++number_;
    return line_;
}

bool TileIndexReader::next(TileIndexLine* out) noexcept {
    while (const char* line = lines_.next()) {
        const char* p = line;
        int32_t code = 0, tile = 0;
        if (!read_int(p, &code) || code < fmt::kMinDistrict) continue;
        if (!read_int(p, &tile)) continue;  // a district code without a tile number
        *out = TileIndexLine{lines_.number(), code, tile};
        return true;
    }
    return false;
}

bool CatalogueReader::next(CatalogueItem* out) noexcept {
    while (const char* line = lines_.next()) {
        if (polyline_lines_ > 0) {
            --polyline_lines_;
            if (polyline_point(line, out)) return true;
        } else if (entry(line, out)) {
            return true;
        }
    }
    polyline_lines_ = 0;  // the file ended the polyline early
    return false;
}

// A point line of a polyline: two numbers give a point item; a line without them gives none.
bool CatalogueReader::polyline_point(const char* line, CatalogueItem* out) noexcept {
    const char* p = line;
    int32_t x = 0, y = 0;
    if (!read_int(p, &x) || !read_int(p, &y)) return false;
    *out = CatalogueItem{lines_.number(), true, PLACE_POLYLINE, 0, x, y, {}};
    return true;
}

// A line outside a polyline: an entry when it is one, else nothing.
bool CatalogueReader::entry(const char* line, CatalogueItem* out) noexcept {
    const char* p = line;
    std::string_view word, name;
    if (starts_with(line, fmt::kWordPolyline)) {
        int32_t count = 0;
        read_token(p, &word);
        if (!read_int(p, &count) || count < 0) return false;  // no usable count: not an entry
        *out = CatalogueItem{lines_.number(), false, PLACE_POLYLINE, count, 0, 0, {}};
        polyline_lines_ = count;
        return true;
    }
    PlaceKind kind;
    if (starts_with(line, fmt::kWordCity))
        kind = PLACE_CITY;
    else if (starts_with(line, fmt::kWordPoint))
        kind = PLACE_POINT;
    else if (starts_with(line, fmt::kWordMinorPoint))
        kind = PLACE_MINOR;
    else
        return false;
    int32_t x = 0, y = 0;
    read_token(p, &word);
    if (!read_token(p, &name) || !read_int(p, &x) || !read_int(p, &y)) return false;
    *out = CatalogueItem{lines_.number(), false, kind, 0, x, y, {}};
    const std::size_t kept = kcommon::big5_cut(name, PLACE_NAME_MAX);
    std::memcpy(out->name, name.data(), kept);
    out->name[kept] = '\0';
    return true;
}

}  // namespace kestrel::data
