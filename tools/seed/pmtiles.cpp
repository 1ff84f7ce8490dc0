// pmtiles.cpp: the PMTiles version 3 writer.
#include "pmtiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

namespace kseed {

namespace {

constexpr size_t kHeaderBytes = 127;
constexpr size_t kRootLimit = 16384;  // header and root directory: what clients fetch first
constexpr size_t kFirstLeafEntries = 4096;
constexpr size_t kSpoolBuffer = 1 << 20;  // tiles kept in memory before they go to the spool
constexpr uint8_t kCompressionNone = 1;
constexpr uint8_t kCompressionGzip = 2;
constexpr uint8_t kTypeMvt = 1;
constexpr uint8_t kTypePng = 2;

struct Entry {
    uint64_t tile_id;
    uint64_t offset;
    uint32_t length;
    uint32_t run_length;  // 0: a leaf directory
};

void put_varint(std::string& out, uint64_t v) {
    while (v >= 0x80) {
        out += static_cast<char>((v & 0x7F) | 0x80);
        v >>= 7;
    }
    out += static_cast<char>(v);
}

void put_le(std::string& out, uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out += static_cast<char>((v >> (8 * i)) & 0xFF);
}

// A position's coordinate in the header: degrees times ten million, as a signed 32-bit number.
void put_degrees(std::string& out, double degrees) {
    const double v = std::clamp(degrees, -180.0, 180.0) * 1e7;
    put_le(out, static_cast<uint32_t>(static_cast<int32_t>(std::lround(v))), 4);
}

// gzip of `data`, or nothing when zlib fails.
bool gzip(const std::string& data, std::string& out) {
    z_stream z{};
    if (deflateInit2(&z, Z_BEST_COMPRESSION, Z_DEFLATED, 15 + 16, 9, Z_DEFAULT_STRATEGY) != Z_OK)
        return false;
    out.resize(deflateBound(&z, data.size()) + 32);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    const int rc = deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return rc == Z_STREAM_END;
}

// A directory in the format's columns: count, tile id deltas, run lengths, lengths, offsets
// (0 for one that follows the entry before, else offset + 1), all varints; then gzip.
bool encode_directory(const std::vector<Entry>& entries, size_t from, size_t to, std::string& out) {
    std::string raw;
    raw.reserve((to - from) * 6 + 8);
    put_varint(raw, to - from);
    uint64_t last_id = 0;
    for (size_t i = from; i < to; ++i) {
        put_varint(raw, entries[i].tile_id - last_id);
        last_id = entries[i].tile_id;
    }
    for (size_t i = from; i < to; ++i) put_varint(raw, entries[i].run_length);
    for (size_t i = from; i < to; ++i) put_varint(raw, entries[i].length);
    for (size_t i = from; i < to; ++i) {
        const bool follows =
            i > from && entries[i].offset == entries[i - 1].offset + entries[i - 1].length;
        put_varint(raw, follows ? 0 : entries[i].offset + 1);
    }
    return gzip(raw, out);
}

bool read_all(int fd, char* p, size_t n, uint64_t offset) {
    while (n > 0) {
        const ssize_t r = ::pread(fd, p, n, static_cast<off_t>(offset));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        p += r;
        n -= static_cast<size_t>(r);
        offset += static_cast<uint64_t>(r);
    }
    return true;
}

std::string system_error(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

uint64_t hilbert_tile_id(int z, uint64_t x, uint64_t y) {
    // Tiles of the zooms before: (4^z - 1) / 3.
    const uint64_t before = ((uint64_t{1} << (2 * z)) - 1) / 3;
    const uint64_t n = uint64_t{1} << z;
    uint64_t d = 0;
    for (uint64_t s = n / 2; s > 0; s /= 2) {
        const uint64_t rx = (x & s) ? 1 : 0;
        const uint64_t ry = (y & s) ? 1 : 0;
        d += s * s * ((3 * rx) ^ ry);
        // Turn the quadrant so that the curve's part in it starts where it should.
        if (ry == 0) {
            if (rx == 1) {
                x = n - 1 - x;
                y = n - 1 - y;
            }
            std::swap(x, y);
        }
    }
    return before + d;
}

std::unique_ptr<PmtilesWriter> PmtilesWriter::create(const std::string& path, std::string& error) {
    std::unique_ptr<PmtilesWriter> w(new PmtilesWriter);
    w->out_ = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (w->out_ < 0) {
        error = system_error("cannot write " + path);
        return nullptr;
    }
    std::string spool = path + ".spool-XXXXXX";
    w->spool_ = ::mkstemp(spool.data());
    if (w->spool_ < 0) {
        error = system_error("cannot make a spool file beside " + path);
        return nullptr;
    }
    ::unlink(spool.c_str());
    return w;
}

PmtilesWriter::~PmtilesWriter() {
    if (out_ >= 0) ::close(out_);
    if (spool_ >= 0) ::close(spool_);
}

bool PmtilesWriter::spool_read(const Content& c, std::string& out) const {
    if (c.spool_offset >= flushed_) {
        out.assign(pending_, c.spool_offset - flushed_, c.length);
        return true;
    }
    out.resize(c.length);
    return read_all(spool_, out.data(), c.length, c.spool_offset);
}

bool PmtilesWriter::flush(std::string& error) {
    if (!write_all(spool_, pending_.data(), pending_.size())) {
        error = system_error("cannot write the spool file");
        return false;
    }
    flushed_ += pending_.size();
    pending_.clear();
    return true;
}

bool PmtilesWriter::add(int z, long x, long y, std::string_view bytes, std::string& error) {
    if (!valid_tile(z, x, y)) {
        error = "no tile " + std::to_string(z) + "/" + std::to_string(x) + "/" + std::to_string(y);
        return false;
    }
    if (bytes.empty() || bytes.size() > UINT32_MAX) {
        error = bytes.empty() ? "an empty tile" : "a tile of 4 GiB or more";
        return false;
    }
    const uint64_t digest = content_digest(bytes);
    int64_t id = index_.find(digest, [&](int64_t c) {
        const Content& k = contents_[static_cast<size_t>(c)];
        return k.length == bytes.size() && spool_read(k, scratch_) && scratch_ == bytes;
    });
    if (id < 0) {
        id = static_cast<int64_t>(contents_.size());
        contents_.push_back({flushed_ + pending_.size(), static_cast<uint32_t>(bytes.size())});
        pending_ += bytes;
        index_.insert(digest, id);
        if (pending_.size() >= kSpoolBuffer && !flush(error)) return false;
    }
    added_.push_back({hilbert_tile_id(z, x, y), static_cast<uint32_t>(id)});
    minzoom_ = std::min(minzoom_, z);
    maxzoom_ = std::max(maxzoom_, z);
    return true;
}

namespace {

// The root directory of `entries`, and leaf directories when the root alone would pass
// kRootLimit: leaves of kFirstLeafEntries entries and more, doubled until the root directory
// of the leaves fits. False when zlib fails.
bool lay_out_directories(const std::vector<Entry>& entries, std::string& root, std::string& leaves,
                         size_t& leaf_count) {
    if (!encode_directory(entries, 0, entries.size(), root)) return false;
    leaf_count = 0;
    for (size_t per_leaf = kFirstLeafEntries; kHeaderBytes + root.size() > kRootLimit;
         per_leaf *= 2) {
        leaves.clear();
        std::vector<Entry> pointers;
        for (size_t from = 0; from < entries.size(); from += per_leaf) {
            const size_t to = std::min(entries.size(), from + per_leaf);
            std::string leaf;
            if (!encode_directory(entries, from, to, leaf)) return false;
            pointers.push_back(
                {entries[from].tile_id, leaves.size(), static_cast<uint32_t>(leaf.size()), 0});
            leaves += leaf;
        }
        if (!encode_directory(pointers, 0, pointers.size(), root)) return false;
        leaf_count = pointers.size();
    }
    return true;
}

// The JSON metadata: the standard members, the vector tiles' layers, then the caller's own.
std::string metadata_json(const ArchiveInfo& info) {
    std::string json = "{\"name\":" + json_string(info.name) +
                       ",\"description\":" + json_string(info.description) +
                       ",\"attribution\":" + json_string(info.attribution) +
                       ",\"type\":\"baselayer\",\"version\":" + json_string(info.version) +
                       ",\"format\":" + json_string(info.format);
    if (!info.vector_layers.empty()) json += ",\"vector_layers\":" + info.vector_layers;
    if (!info.json_members.empty()) json += "," + info.json_members;
    return json + "}";
}

// The 127 bytes of the header of an archive laid out as `layout` says, the root directory
// right after the header, then the metadata of `metadata_bytes`, the leaves and the data.
std::string header(const PmtilesWriter::Layout& layout, const ArchiveInfo& info, int minzoom,
                   int maxzoom) {
    const bool vector = info.format == "pbf";
    const uint64_t root_at = kHeaderBytes;
    const uint64_t metadata_at = root_at + layout.root_bytes;
    const uint64_t leaves_at = metadata_at + layout.metadata_bytes;
    const uint64_t data_at = leaves_at + layout.leaf_bytes;
    std::string h = "PMTiles";
    h += static_cast<char>(3);
    put_le(h, root_at, 8);
    put_le(h, layout.root_bytes, 8);
    put_le(h, metadata_at, 8);
    put_le(h, layout.metadata_bytes, 8);
    put_le(h, leaves_at, 8);
    put_le(h, layout.leaf_bytes, 8);
    put_le(h, data_at, 8);
    put_le(h, layout.data_bytes, 8);
    put_le(h, layout.addressed, 8);
    put_le(h, layout.entries, 8);
    put_le(h, layout.contents, 8);
    h += static_cast<char>(1);  // clustered
    h += static_cast<char>(kCompressionGzip);
    // Vector tiles arrive gzip-compressed, as clients expect them; pictures are stored as
    // they are.
    h += static_cast<char>(vector ? kCompressionGzip : kCompressionNone);
    h += static_cast<char>(vector ? kTypeMvt : kTypePng);
    h += static_cast<char>(minzoom);
    h += static_cast<char>(maxzoom);
    put_degrees(h, info.bounds[0]);
    put_degrees(h, info.bounds[1]);
    put_degrees(h, info.bounds[2]);
    put_degrees(h, info.bounds[3]);
    h += static_cast<char>(std::clamp(info.center_zoom, minzoom, maxzoom));
    put_degrees(h, info.center[0]);
    put_degrees(h, info.center[1]);
    return h;
}

}  // namespace

bool PmtilesWriter::finish(const ArchiveInfo& info, std::string& error) {
    if (added_.empty()) {
        error = "no tiles to write";
        return false;
    }
    if (!flush(error)) return false;
    // Tile id order; of an address added twice, the last one counts.
    std::stable_sort(added_.begin(), added_.end(),
                     [](const Added& a, const Added& b) { return a.tile_id < b.tile_id; });
    std::vector<Entry> entries;
    std::vector<uint32_t> order;  // contents in the order of the data section
    std::vector<uint64_t> offset(contents_.size(), UINT64_MAX);
    Layout layout;
    for (size_t i = 0; i < added_.size(); ++i) {
        if (i + 1 < added_.size() && added_[i + 1].tile_id == added_[i].tile_id) continue;
        const Added& a = added_[i];
        const Content& c = contents_[a.content];
        if (offset[a.content] == UINT64_MAX) {
            offset[a.content] = layout.data_bytes;
            layout.data_bytes += c.length;
            order.push_back(a.content);
        }
        ++layout.addressed;
        if (!entries.empty()) {
            Entry& last = entries.back();
            if (last.tile_id + last.run_length == a.tile_id && last.offset == offset[a.content] &&
                last.run_length < UINT32_MAX) {
                ++last.run_length;
                continue;
            }
        }
        entries.push_back({a.tile_id, offset[a.content], c.length, 1});
    }
    std::string root, leaves, metadata;
    size_t leaf_count = 0;
    if (!lay_out_directories(entries, root, leaves, leaf_count)) {
        error = "cannot compress a directory";
        return false;
    }
    if (!gzip(metadata_json(info), metadata)) {
        error = "cannot compress the metadata";
        return false;
    }
    layout.root_bytes = root.size();
    layout.metadata_bytes = metadata.size();
    layout.leaf_bytes = leaves.size();
    layout.entries = entries.size();
    layout.contents = order.size();
    layout.leaves = leaf_count;
    if (!write_archive(header(layout, info, minzoom_, maxzoom_) + root + metadata + leaves, order,
                       error))
        return false;
    layout_ = layout;
    return true;
}

bool PmtilesWriter::write_archive(std::string out, const std::vector<uint32_t>& order,
                                  std::string& error) {
    std::string tile;
    for (const uint32_t c : order) {
        if (!spool_read(contents_[c], tile)) {
            error = system_error("cannot read the spool file");
            return false;
        }
        out += tile;
        if (out.size() >= (1u << 20)) {
            if (!write_all(out_, out.data(), out.size())) {
                error = system_error("cannot write the archive");
                return false;
            }
            out.clear();
        }
    }
    if (!write_all(out_, out.data(), out.size()) || ::close(out_) != 0) {
        out_ = -1;
        error = system_error("cannot write the archive");
        return false;
    }
    out_ = -1;
    return true;
}

bool write_all(int fd, const void* data, size_t n) {
    const char* p = static_cast<const char*>(data);
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return true;
}

}  // namespace kseed
