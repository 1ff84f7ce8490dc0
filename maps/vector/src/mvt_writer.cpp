// mvt_writer.cpp: a vector tile's messages through protozero (which does the varints and the
// zigzag encoding).
#include "mvt_writer.h"

#include <protozero/varint.hpp>

namespace kmaps::vector {

namespace {

// Field numbers of the format's messages.
enum TileField : protozero::pbf_tag_type { kTileLayers = 3 };
enum LayerField : protozero::pbf_tag_type {
    kLayerName = 1,
    kLayerFeatures = 2,
    kLayerKeys = 3,
    kLayerValues = 4,
    kLayerExtent = 5,
    kLayerVersion = 15
};
enum FeatureField : protozero::pbf_tag_type {
    kFeatureId = 1,
    kFeatureTags = 2,
    kFeatureType = 3,
    kFeatureGeometry = 4
};
enum ValueField : protozero::pbf_tag_type { kValueString = 1, kValueInt = 4 };

constexpr std::uint32_t kVersion = 2;
constexpr std::uint32_t kMoveTo = 1;
constexpr std::uint32_t kLineTo = 2;
constexpr std::uint32_t kClosePath = 7;

constexpr std::uint32_t command(std::uint32_t id, std::uint32_t count) {
    return (id & 0x7) | (count << 3);
}

constexpr std::size_t kVarintMax = 10;  // bytes of the longest varint

// Writes `v` as a varint at `p`; returns the byte after it.
char* put_varint(char* p, std::uint64_t v) {
    while (v >= 0x80) {
        *p++ = static_cast<char>((v & 0x7f) | 0x80);
        v >>= 7;
    }
    *p++ = static_cast<char>(v);
    return p;
}

// The key of a field: its number and wire type.
constexpr std::uint32_t field_key(protozero::pbf_tag_type field, protozero::pbf_wire_type type) {
    return (field << 3) | static_cast<std::uint32_t>(type);
}

// Writes the packed field `field` of the varints `values` (its key, length and values) at `p`,
// nothing when there are none; returns the byte after it.
char* put_packed(char* p, protozero::pbf_tag_type field, std::span<const std::uint32_t> values) {
    if (values.empty()) return p;
    std::size_t length = 0;
    for (const std::uint32_t v : values)
        length += static_cast<std::size_t>(protozero::length_of_varint(v));
    p = put_varint(p, field_key(field, protozero::pbf_wire_type::length_delimited));
    p = put_varint(p, length);
    for (const std::uint32_t v : values) p = put_varint(p, v);
    return p;
}

}  // namespace

void GeometryCommands::move(const geometry::IPoint& p) {
    out_.push_back(protozero::encode_zigzag32(p.x - cursor_.x));
    out_.push_back(protozero::encode_zigzag32(p.y - cursor_.y));
    cursor_ = p;
}

void GeometryCommands::point(const geometry::IPoint& p) {
    out_.push_back(command(kMoveTo, 1));
    move(p);
}

void GeometryCommands::line(std::span<const geometry::IPoint> points) {
    out_.push_back(command(kMoveTo, 1));
    move(points[0]);
    out_.push_back(command(kLineTo, static_cast<std::uint32_t>(points.size() - 1)));
    for (std::size_t i = 1; i < points.size(); ++i) move(points[i]);
}

void GeometryCommands::ring(std::span<const geometry::IPoint> points) {
    line(points);
    out_.push_back(command(kClosePath, 1));
}

void LayerWriter::begin(protozero::pbf_writer& tile, std::string_view name, std::uint32_t extent) {
    layer_ = protozero::pbf_writer(tile, kTileLayers);
    extent_ = extent;
    keys_.clear();
    values_.clear();
    empty_map(text_index_);
    empty_map(integer_index_);
    layer_.add_uint32(kLayerVersion, kVersion);
    layer_.add_string(kLayerName, name.data(), name.size());
}

std::uint32_t LayerWriter::key(std::string_view k) {
    // A layer has a handful of keys: a look along them is cheaper than hashing.
    for (std::size_t i = 0; i < keys_.size(); ++i)
        if (keys_[i].data() == k.data() || keys_[i] == k) return static_cast<std::uint32_t>(i);
    keys_.push_back(k);
    return static_cast<std::uint32_t>(keys_.size() - 1);
}

std::uint32_t LayerWriter::text(std::string_view v) {
    const auto [it, added] = text_index_.try_emplace(v, static_cast<std::uint32_t>(values_.size()));
    if (added) values_.push_back(Value{true, v, 0});
    return it->second;
}

std::uint32_t LayerWriter::integer(std::int64_t v) {
    const auto [it, added] =
        integer_index_.try_emplace(v, static_cast<std::uint32_t>(values_.size()));
    if (added) values_.push_back(Value{false, {}, v});
    return it->second;
}

void LayerWriter::feature(std::uint64_t id, GeomType type, std::span<const std::uint32_t> tags,
                          std::span<const std::uint32_t> geometry) {
    // The message is put together in a buffer of its own, with room for every varint at its
    // longest, and added to the layer in one piece: the same bytes as a nested writer, without
    // a byte at a time and without moving the message once its length is known.
    const std::size_t room = kVarintMax * (8 + tags.size() + geometry.size());
    if (feature_.size() < room) feature_.resize(room);
    char* const start = feature_.data();
    char* p = start;
    p = put_varint(p, field_key(kFeatureId, protozero::pbf_wire_type::varint));
    p = put_varint(p, id);
    p = put_packed(p, kFeatureTags, tags);
    p = put_varint(p, field_key(kFeatureType, protozero::pbf_wire_type::varint));
    p = put_varint(p, static_cast<std::uint32_t>(type));
    p = put_packed(p, kFeatureGeometry, geometry);
    layer_.add_message(kLayerFeatures, start, static_cast<std::size_t>(p - start));
}

void LayerWriter::end() {
    for (std::string_view k : keys_) layer_.add_string(kLayerKeys, k.data(), k.size());
    for (const Value& v : values_) {
        protozero::pbf_writer value(layer_, kLayerValues);
        if (v.is_text)
            value.add_string(kValueString, v.text.data(), v.text.size());
        else
            value.add_int64(kValueInt, v.integer);
    }
    layer_.add_uint32(kLayerExtent, extent_);
    layer_.commit();
}

}  // namespace kmaps::vector
