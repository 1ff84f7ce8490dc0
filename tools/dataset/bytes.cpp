// bytes.cpp: little-endian byte output, Big5-aware text cutting and whole-file writing.
#include "bytes.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "kcommon/big5.h"

namespace kdataset {

namespace {
constexpr const char* kPartSuffix = ".part";
}  // namespace

void put_i16(std::vector<uint8_t>* out, int16_t value) {
    const auto u = uint16_t(value);
    out->push_back(uint8_t(u));
    out->push_back(uint8_t(u >> 8));
}

void put_i32(std::vector<uint8_t>* out, int32_t value) {
    const auto u = uint32_t(value);
    for (int shift = 0; shift < 32; shift += 8) out->push_back(uint8_t(u >> shift));
}

void patch_i32(std::vector<uint8_t>* out, std::size_t at, int32_t value) {
    const auto u = uint32_t(value);
    for (int i = 0; i < 4; ++i) (*out)[at + i] = uint8_t(u >> (8 * i));
}

void put_text(std::vector<uint8_t>* out, const std::string& text, int width, char pad) {
    for (int i = 0; i < width; ++i)
        out->push_back(i < int(text.size()) ? uint8_t(text[i]) : uint8_t(pad));
}

std::string cut_text(const std::string& text, std::size_t max_bytes) {
    return text.substr(0, kcommon::big5_cut(text, max_bytes));
}

std::string write_file(const std::string& path, const void* data, std::size_t size) {
    const std::string part = path + kPartSuffix;
    std::FILE* f = std::fopen(part.c_str(), "wb");
    if (!f) return "cannot create " + part + ": " + std::strerror(errno);
    const bool wrote = size == 0 || std::fwrite(data, 1, size, f) == size;
    const int err = errno;
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) {
        std::remove(part.c_str());
        return "cannot write " + part + ": " + std::strerror(wrote ? errno : err);
    }
    if (std::rename(part.c_str(), path.c_str()) != 0) {
        std::string why = "cannot rename " + part + ": " + std::strerror(errno);
        std::remove(part.c_str());
        return why;
    }
    return {};
}

}  // namespace kdataset
