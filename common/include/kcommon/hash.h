// kcommon/hash.h: the 64-bit FNV-1a hash, for digests that only this system compares (cache
// validators, fingerprints of a data set's files, picture digests of the benchmarks). It is
// fast and stable across runs and platforms; it is no defence against chosen input.
#ifndef KCOMMON_HASH_H
#define KCOMMON_HASH_H

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kcommon {

inline constexpr std::uint64_t kFnvOffsetBasis = 14695981039346656037ull;
inline constexpr std::uint64_t kFnvPrime = 1099511628211ull;

// Continues the hash `h` over `n` bytes at `data`; start with kFnvOffsetBasis.
constexpr std::uint64_t fnv1a(const void* data, std::size_t n,
                              std::uint64_t h = kFnvOffsetBasis) noexcept {
    const auto* p = static_cast<const unsigned char*>(data);
    for (std::size_t i = 0; i < n; ++i) h = (h ^ p[i]) * kFnvPrime;
    return h;
}

constexpr std::uint64_t fnv1a(std::string_view text, std::uint64_t h = kFnvOffsetBasis) noexcept {
    for (char c : text) h = (h ^ static_cast<unsigned char>(c)) * kFnvPrime;
    return h;
}

}  // namespace kcommon

#endif  // KCOMMON_HASH_H
