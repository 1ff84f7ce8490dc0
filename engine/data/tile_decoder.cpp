// tile_decoder.cpp: the tile file decoder (header, sections A to D, vertex array, delta
// stream, names), with every read checked against the file and the slot's capacities.
#include "data/tile_decoder.h"

#include <bit>
#include <cstring>

#include "data/byte_view.h"
#include "data/format.h"

namespace kestrel::data {

namespace {

namespace fmt = format;

// The slot keeps the file's header, vertices and names as they are on disk (little-endian).
static_assert(std::endian::native == std::endian::little);
static_assert(sizeof(Vertex) == fmt::kVertexBytes);

// The header fields the decoder uses, read from the file.
struct Layout {
    int64_t record_size, b_record_size, anchor_base;
    int64_t a_count, b_count, c_count, d_count, vertex_count, name_count;
    int64_t a_offset, b_offset, c_offset, d_offset, vertex_offset, delta_offset, name_offset;
    int32_t tile;
};

Layout read_layout(const detail::ByteView& in) noexcept {
    const auto count = [&](std::size_t field) { return int64_t(in.i32(field)) + 1; };
    return Layout{
        in.i32(fmt::kHdrRecordSize), in.i32(fmt::kHdrBRecordSize),  in.i32(fmt::kHdrAnchorBase),
        count(fmt::kHdrALast),       count(fmt::kHdrBLast),         count(fmt::kHdrCLast),
        count(fmt::kHdrDLast),       count(fmt::kHdrVertexLast),    count(fmt::kHdrNameLast),
        in.i32(fmt::kHdrAOffset),    in.i32(fmt::kHdrBOffset),      in.i32(fmt::kHdrCOffset),
        in.i32(fmt::kHdrDOffset),    in.i32(fmt::kHdrVertexOffset), in.i32(fmt::kHdrDeltaOffset),
        in.i32(fmt::kHdrNameOffset), in.i32(fmt::kHdrTileNumber)};
}

// Checks the header against the file size and the slot's capacities. Returns why it does not
// fit, or nullptr.
const char* check_layout(const Layout& l, const detail::ByteView& in) noexcept {
    if (l.tile == 0) return "tile number 0 in the header (0 marks an empty slot)";
    if (l.a_count < 0 || l.b_count < 0 || l.c_count < 0 || l.d_count < 0)
        return "a section's last index is below -1";
    if (l.vertex_count < 0) return "the vertex array's last index is below -1";
    if (l.name_count < 0) return "the names' last index is below -1";
    if (l.a_count + l.b_count + l.c_count + l.d_count > MAX_RECORDS)
        return "more than 10000 records";
    if (l.vertex_count > MAX_VERTICES) return "more than 100000 vertices in the vertex array";
    if (l.name_count > MAX_NAMES) return "more than 5000 names";
    if (l.a_count + l.c_count + l.d_count > 0 && l.record_size < fmt::kPointRecordUsedBytes)
        return "record size of sections A, C and D below 4 bytes";
    if (l.b_count > 0 && l.b_record_size < fmt::kRoadRecordUsedBytes)
        return "record size of section B below 16 bytes";
    if (!in.covers_records(l.a_offset, l.a_count, l.record_size, fmt::kPointRecordUsedBytes))
        return "section A runs past the end of the file";
    if (!in.covers_records(l.b_offset, l.b_count, l.b_record_size, fmt::kRoadRecordUsedBytes))
        return "section B runs past the end of the file";
    if (!in.covers_records(l.c_offset, l.c_count, l.record_size, fmt::kPointRecordUsedBytes))
        return "section C runs past the end of the file";
    if (!in.covers_records(l.d_offset, l.d_count, l.record_size, fmt::kPointRecordUsedBytes))
        return "section D runs past the end of the file";
    if (l.vertex_count > 0 && !in.covers(l.vertex_offset, l.vertex_count * fmt::kVertexBytes))
        return "the vertex array runs past the end of the file";
    if (l.name_count > 0 && !in.covers(l.name_offset, l.name_count * NAME_BYTES))
        return "the names run past the end of the file";
    return nullptr;
}

// Copies at most `n` bytes of text, stopping at a NUL byte, and fills the rest with NULs.
void bounded_text_copy(char* to, const uint8_t* from, int n) noexcept {
    int i = 0;
    for (; i < n && from[i] != 0; ++i) to[i] = static_cast<char>(from[i]);
    for (; i < n; ++i) to[i] = 0;
}

}  // namespace

void empty_slot(TileSlot& slot) noexcept {
    std::memset(&slot.header, 0, sizeof slot.header);
    slot.header.last_record = -1;
    slot.header.vertex_last = -1;
    slot.header.name_last = -1;
}

const char* decode_tile(const uint8_t* bytes, std::size_t size, TileSlot& slot) noexcept {
    const auto refuse = [&](const char* why) {
        empty_slot(slot);
        return why;
    };
    if (bytes == nullptr || size < fmt::kHeaderBytes)
        return refuse("file shorter than its 128-byte header");
    if (size > WORK_BUFFER_SIZE) return refuse("file larger than 2000000 bytes");
    const detail::ByteView in(bytes, size);
    const Layout l = read_layout(in);
    if (const char* why = check_layout(l, in)) return refuse(why);

    // The file's vertices and names go straight into the slot.
    if (l.vertex_count > 0)
        std::memcpy(slot.vertices, in.at(std::size_t(l.vertex_offset)),
                    std::size_t(l.vertex_count) * fmt::kVertexBytes);
    if (l.name_count > 0)
        std::memcpy(slot.names, in.at(std::size_t(l.name_offset)),
                    std::size_t(l.name_count) * NAME_BYTES);

    FeatureRecord* rec = slot.records;
    // Section A: lines and areas whose vertices follow one another in the vertex array.
    int64_t running = 0;
    for (int64_t i = 0; i < l.a_count; ++i, ++rec) {
        const auto at = std::size_t(l.a_offset + i * l.record_size);
        const int16_t count = in.i16(at + fmt::kRecACount);
        if (count < 0) return refuse("section A: negative vertex count");
        if (running + count > l.vertex_count)
            return refuse("section A: vertices run past the vertex array");
        *rec = FeatureRecord{in.i16(at + fmt::kRecType), count, int32_t(running), {}, 0, 0};
        running += count;
    }

    // Section B: roads, first vertex in the record, the others from the delta stream, which
    // runs on from one record to the next.
    int64_t vertex_last = l.vertex_count - 1;
    int64_t delta = l.delta_offset;
    for (int64_t i = 0; i < l.b_count; ++i, ++rec) {
        const auto at = std::size_t(l.b_offset + i * l.b_record_size);
        const int16_t x = in.i16(at + fmt::kRoadX);
        const int16_t y = in.i16(at + fmt::kRoadY);
        const int16_t count = fmt::decode_vertex_count(x, y, in.i16(at + fmt::kRoadCodedCount));
        const int16_t name = in.i16(at + fmt::kRoadName);
        if (count < 1) return refuse("section B: decoded vertex count below 1");
        if (name < 0 || name >= l.name_count) return refuse("section B: name index out of range");
        if (vertex_last + count >= MAX_VERTICES)
            return refuse("section B: more than 100000 vertices with the decoded ones");
        const int64_t delta_bytes = int64_t(count - 1) * fmt::kDeltaBytes;
        if (!in.covers(delta, delta_bytes))
            return refuse("section B: the delta stream runs past the end of the file");

        *rec =
            FeatureRecord{in.i16(at + fmt::kRecType),     count, int32_t(vertex_last + 1), {}, name,
                          in.i16(at + fmt::kRoadDistrict)};
        bounded_text_copy(rec->code, in.at(at + fmt::kRoadCode), fmt::kRoadCodeBytes);
        Vertex* v = slot.vertices + (vertex_last + 1);
        Vertex prev{x, y};
        *v++ = prev;
        const uint8_t* d = in.at(std::size_t(delta));
        for (int k = 1; k < count; ++k, d += fmt::kDeltaBytes) {
            prev = Vertex{int16_t(prev.x + int8_t(d[0])), int16_t(prev.y + int8_t(d[1]))};
            *v++ = prev;
        }
        vertex_last += count;
        delta += delta_bytes;
    }

    // Sections C and D: point features anchored at consecutive vertices after the anchor base.
    int64_t anchor = l.anchor_base + 1;
    const auto anchor_fits = [&] { return anchor >= 0 && anchor <= vertex_last; };
    for (int64_t i = 0; i < l.c_count; ++i, ++rec, ++anchor) {
        const auto at = std::size_t(l.c_offset + i * l.record_size);
        const int16_t name = in.i16(at + fmt::kRecCName);
        if (name < 0 || name >= l.name_count) return refuse("section C: name index out of range");
        if (!anchor_fits()) return refuse("section C: anchor outside the vertex array");
        *rec = FeatureRecord{in.i16(at + fmt::kRecType), 0, int32_t(anchor), {}, name, 0};
    }
    for (int64_t i = 0; i < l.d_count; ++i, ++rec, ++anchor) {
        const auto at = std::size_t(l.d_offset + i * l.record_size);
        if (!anchor_fits()) return refuse("section D: anchor outside the vertex array");
        *rec = FeatureRecord{in.i16(at + fmt::kRecType), 0, int32_t(anchor), {}, 0, 0};
        bounded_text_copy(rec->code, in.at(at + fmt::kRecDCode), fmt::kPointCodeBytes);
    }

    // The header last, so that the slot carries the tile's number only once it is whole.
    std::memcpy(&slot.header, bytes, fmt::kHeaderBytes);
    slot.header.last_record = int32_t(rec - slot.records) - 1;
    slot.header.in_view = 0;
    slot.header.vertex_last = int32_t(vertex_last);
    return nullptr;
}

}  // namespace kestrel::data
