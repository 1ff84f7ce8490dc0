// archive.cpp: the helpers the archive writers share.
#include "archive.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>

namespace kseed {

uint64_t content_digest(std::string_view bytes) {
    // zlib's two checksums side by side: fast, and equal tiles are confirmed byte by byte.
    const auto* p = reinterpret_cast<const Bytef*>(bytes.data());
    uint64_t crc = crc32(0L, Z_NULL, 0);
    uint64_t adler = adler32(0L, Z_NULL, 0);
    size_t left = bytes.size();
    while (left > 0) {
        const auto n = static_cast<uInt>(std::min<size_t>(left, 1u << 30));
        crc = crc32(static_cast<uLong>(crc), p, n);
        adler = adler32(static_cast<uLong>(adler), p, n);
        p += n;
        left -= n;
    }
    return (crc << 32) ^ adler ^ (static_cast<uint64_t>(bytes.size()) << 16);
}

std::string json_string(std::string_view text) {
    std::string o = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            o += '\\';
            o += c;
        } else if (u < 0x20) {
            char b[8];
            std::snprintf(b, sizeof b, "\\u%04x", u);
            o += b;
        } else {
            o += c;
        }
    }
    return o + "\"";
}

}  // namespace kseed
