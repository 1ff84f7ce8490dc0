// tile_fixture.h: builds tile files byte by byte for the tests, straight from the layout
// tables of the format (header field offsets and record layouts written out as numbers here,
// not taken from the engine's headers or the data-set writer).
#ifndef KESTREL_TESTS_DATA_TILE_FIXTURE_H
#define KESTREL_TESTS_DATA_TILE_FIXTURE_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace fixture {

inline void put8(std::vector<uint8_t>& out, int v) {
    out.push_back(uint8_t(v));
}
inline void put16(std::vector<uint8_t>& out, int v) {
    out.push_back(uint8_t(v & 0xff));
    out.push_back(uint8_t((v >> 8) & 0xff));
}
inline void put32(std::vector<uint8_t>& out, int32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(uint8_t((uint32_t(v) >> (8 * i)) & 0xff));
}
inline void set32(std::vector<uint8_t>& out, std::size_t at, int32_t v) {
    for (int i = 0; i < 4; ++i) out[at + i] = uint8_t((uint32_t(v) >> (8 * i)) & 0xff);
}
inline int32_t get32(const std::vector<uint8_t>& in, std::size_t at) {
    return int32_t(uint32_t(in[at]) | uint32_t(in[at + 1]) << 8 | uint32_t(in[at + 2]) << 16 |
                   uint32_t(in[at + 3]) << 24);
}

// Header field offsets, from the header table of the tile file format.
enum Hdr : std::size_t {
    kRecordSize = 8,
    kALast = 12,
    kAnchorBase = 16,
    kAOffset = 20,
    kBLast = 24,
    kBRecordSize = 28,
    kBOffset = 32,
    kCLast = 36,
    kCOffset = 40,
    kDLast = 44,
    kDOffset = 48,
    kVertexLast = 52,
    kVertexOffset = 56,
    kDeltaOffset = 64,
    kNameLast = 68,
    kNameOffset = 76,
    kOriginX = 84,
    kOriginY = 88,
    kTileNumber = 96
};

struct LineRec {
    int type;
    int count;
};
struct RoadRec {
    int type;
    int x;
    int y;
    int coded;
    std::string code;
    int name;
    int district;
};
struct PlaceRec {
    int type;
    int name;
};
struct CodedRec {
    int type;
    std::string code;
};
struct Vtx {
    int x;
    int y;
};

// A tile file described section by section. bytes() lays it out as header, A, B, C, D,
// vertex array, delta stream, names, with the strides chosen here (records are padded with
// 0xEE bytes past their used part, so a decoder that reads past the used bytes shows up).
struct TileFile {
    int32_t tile = 277025;
    int32_t origin_x = 250000;
    int32_t origin_y = 2770000;
    int32_t anchor_base = -1;
    int record_size = 4;  // sections A, C, D
    int road_record_size = 16;
    std::vector<LineRec> lines;
    std::vector<RoadRec> roads;
    std::vector<PlaceRec> places;
    std::vector<CodedRec> coded;
    std::vector<Vtx> vertices;
    std::vector<std::pair<int, int>> deltas;
    std::vector<std::string> names;  // padded with blanks to 20 bytes

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out(128, 0);
        const auto pad_to = [&](std::size_t start, int stride) {
            while (out.size() < start + std::size_t(stride)) out.push_back(0xEE);
        };
        set32(out, kRecordSize, record_size);
        set32(out, kBRecordSize, road_record_size);
        set32(out, kAnchorBase, anchor_base);
        set32(out, kOriginX, origin_x);
        set32(out, kOriginY, origin_y);
        set32(out, kTileNumber, tile);
        // The fields that a slot replaces get junk, which the decoder must not keep.
        set32(out, 80, 12345);
        set32(out, 92, 1);

        set32(out, kALast, int32_t(lines.size()) - 1);
        set32(out, kAOffset, int32_t(out.size()));
        for (const auto& r : lines) {
            const std::size_t at = out.size();
            put16(out, r.type);
            put16(out, r.count);
            pad_to(at, record_size);
        }
        set32(out, kBLast, int32_t(roads.size()) - 1);
        set32(out, kBOffset, int32_t(out.size()));
        for (const auto& r : roads) {
            const std::size_t at = out.size();
            put16(out, r.type);
            put16(out, r.x);
            put16(out, r.y);
            put16(out, r.coded);
            for (int i = 0; i < 4; ++i) put8(out, i < int(r.code.size()) ? r.code[i] : 0);
            put16(out, r.name);
            put16(out, r.district);
            pad_to(at, road_record_size);
        }
        set32(out, kCLast, int32_t(places.size()) - 1);
        set32(out, kCOffset, int32_t(out.size()));
        for (const auto& r : places) {
            const std::size_t at = out.size();
            put16(out, r.type);
            put16(out, r.name);
            pad_to(at, record_size);
        }
        set32(out, kDLast, int32_t(coded.size()) - 1);
        set32(out, kDOffset, int32_t(out.size()));
        for (const auto& r : coded) {
            const std::size_t at = out.size();
            put16(out, r.type);
            for (int i = 0; i < 2; ++i) put8(out, i < int(r.code.size()) ? r.code[i] : 0);
            pad_to(at, record_size);
        }
        set32(out, kVertexLast, int32_t(vertices.size()) - 1);
        set32(out, kVertexOffset, int32_t(out.size()));
        for (const auto& v : vertices) {
            put16(out, v.x);
            put16(out, v.y);
        }
        set32(out, kDeltaOffset, int32_t(out.size()));
        for (const auto& [dx, dy] : deltas) {
            put8(out, dx);
            put8(out, dy);
        }
        set32(out, kNameLast, int32_t(names.size()) - 1);
        set32(out, kNameOffset, int32_t(out.size()));
        for (std::string n : names) {
            n.resize(20, ' ');
            out.insert(out.end(), n.begin(), n.end());
        }
        return out;
    }
};

// Writes bytes to a file; true on success.
inline bool write_bytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Reads a whole file into `bytes`; true on success.
inline bool read_bytes(const std::string& path, std::vector<uint8_t>* bytes) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    bytes->clear();
    for (int c; (c = std::fgetc(f)) != EOF;) bytes->push_back(uint8_t(c));
    const bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

inline bool write_text(const std::string& path, const std::string& text) {
    return write_bytes(path, std::vector<uint8_t>(text.begin(), text.end()));
}

}  // namespace fixture

#endif  // KESTREL_TESTS_DATA_TILE_FIXTURE_H
