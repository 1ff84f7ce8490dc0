// deflate.cpp: the row encoder of deflate.h. Block layout, code tables and the order of the
// code length codes are those of RFC 1951; the zlib header and the Adler-32 check those of
// RFC 1950 (zlib's own adler32 computes the check).
#include "kmaps/deflate.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <vector>

namespace kmaps {
namespace {

constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 258;
constexpr size_t kMaxDistance = 32768;
constexpr size_t kBlockTokens = size_t{1} << 16;  // matches and literals of one block
constexpr int kLitLenCodes = 286;
constexpr int kDistCodes = 30;
constexpr int kCodeLengthCodes = 19;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                  15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                  67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistExtra = {0, 0, 0,  0,  1,  1,  2,  2,  3,  3,
                                                4, 4, 5,  5,  6,  6,  7,  7,  8,  8,
                                                9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, kCodeLengthCodes> kCodeLengthOrder = {
    16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

// The index into the length tables of each match length 3 .. 258.
struct LengthIndex {
    std::array<uint8_t, kMaxMatch + 1> of{};
    constexpr LengthIndex() {
        int code = 0;
        for (size_t len = kMinMatch; len <= kMaxMatch; ++len) {
            while (code + 1 < 29 && kLengthBase[code + 1] <= len) ++code;
            of[len] = static_cast<uint8_t>(code);
        }
    }
};
constexpr LengthIndex kLengthIndex;

int distance_index(size_t distance) {
    int code = 0;
    while (code + 1 < kDistCodes && kDistBase[code + 1] <= distance) ++code;
    return code;
}

// How many bytes from a equal those from b, at most max.
[[gnu::always_inline]] inline size_t match_length(const uint8_t* a, const uint8_t* b, size_t max) {
    size_t n = 0;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    for (; n + 8 <= max; n += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (const uint64_t diff = x ^ y) return n + static_cast<size_t>(__builtin_ctzll(diff) >> 3);
    }
#endif
    while (n < max && a[n] == b[n]) ++n;
    return n;
}

// True when the 3 bytes at p repeat neither the bytes 1 before nor those `row` before (row 0:
// only the run is tried); reads 4 bytes from p - max(row, 1).
[[gnu::always_inline]] inline bool starts_no_match(const uint8_t* p, size_t row) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    constexpr uint32_t kThree = 0xFFFFFF;  // the first 3 bytes in memory
    uint32_t here, before, above;
    std::memcpy(&here, p, 4);
    std::memcpy(&before, p - 1, 4);
    std::memcpy(&above, p - (row != 0 ? row : 1), 4);
    return ((here ^ before) & kThree) != 0 && ((here ^ above) & kThree) != 0;
#else
    (void)p;
    (void)row;
    return false;
#endif
}

// A literal byte (distance 0) or a match of `value` bytes at `distance`, whose index into
// the distance tables is `code`.
struct Token {
    uint16_t value;
    uint16_t distance;
    uint8_t code;
};

// Huffman code lengths for the frequencies, none longer than `limit`. Symbols of frequency 0
// get no code, but at least two symbols always get one, so that the code is complete (a
// decoder may refuse a code of one symbol). When the tree is too deep the frequencies are
// halved (keeping them above 0) and the code made again, which flattens it.
template <size_t N>
std::array<uint8_t, N> code_lengths(std::array<uint32_t, N> freq, int limit) {
    int used = 0;
    for (uint32_t f : freq) used += f != 0;
    for (size_t s = 0; s < N && used < 2; ++s)
        if (freq[s] == 0) {
            freq[s] = 1;
            ++used;
        }
    std::array<uint8_t, N> length{};
    std::array<uint16_t, N> leaves{};
    std::array<uint32_t, 2 * N> weight{};
    std::array<uint16_t, 2 * N> parent{};
    std::array<uint16_t, 2 * N> depth{};
    for (;;) {
        int m = 0;
        for (size_t s = 0; s < N; ++s)
            if (freq[s] != 0) leaves[m++] = static_cast<uint16_t>(s);
        std::sort(leaves.begin(), leaves.begin() + m, [&](uint16_t a, uint16_t b) {
            return freq[a] != freq[b] ? freq[a] < freq[b] : a < b;
        });
        for (int j = 0; j < m; ++j) weight[j] = freq[leaves[j]];
        // Two queues: the sorted leaves, and the inner nodes, which are made in order of
        // weight. Each step joins the two lightest.
        int leaf = 0, inner = m;
        const auto take = [&](int made) {
            return leaf < m && (inner >= made || weight[leaf] <= weight[inner]) ? leaf++ : inner++;
        };
        for (int k = m; k < 2 * m - 1; ++k) {
            const int a = take(k), b = take(k);
            weight[k] = weight[a] + weight[b];
            parent[a] = parent[b] = static_cast<uint16_t>(k);
        }
        depth[2 * m - 2] = 0;
        int deepest = 0;
        for (int k = 2 * m - 3; k >= 0; --k) {
            depth[k] = static_cast<uint16_t>(depth[parent[k]] + 1);
            deepest = std::max<int>(deepest, depth[k]);
        }
        if (deepest <= limit) {
            for (int j = 0; j < m; ++j) length[leaves[j]] = static_cast<uint8_t>(depth[j]);
            return length;
        }
        for (uint32_t& f : freq)
            if (f != 0) f = (f + 1) / 2;
    }
}

// The canonical codes of the lengths (RFC 1951, 3.2.2), bit-reversed to be written from the
// least significant bit as deflate's bit order asks.
template <size_t N>
std::array<uint16_t, N> canonical_codes(const std::array<uint8_t, N>& length) {
    std::array<int, kMaxCodeBits + 1> count{};
    for (uint8_t l : length) ++count[l];
    count[0] = 0;
    std::array<int, kMaxCodeBits + 2> next{};
    for (int bits = 1, code = 0; bits <= kMaxCodeBits; ++bits) {
        code = (code + count[bits - 1]) << 1;
        next[bits] = code;
    }
    std::array<uint16_t, N> codes{};
    for (size_t s = 0; s < N; ++s) {
        const int l = length[s];
        if (l == 0) continue;
        unsigned code = static_cast<unsigned>(next[l]++), reversed = 0;
        for (int b = 0; b < l; ++b, code >>= 1) reversed = (reversed << 1) | (code & 1);
        codes[s] = static_cast<uint16_t>(reversed);
    }
    return codes;
}

// Writes bits from the least significant end into a buffer with room for the stream and 8
// bytes more: each write stores a whole 64-bit word and moves on by the bytes completed, so
// that no write branches on whether a byte is full.
class BitWriter {
  public:
    explicit BitWriter(uint8_t* out) : at_(out) {}
    [[gnu::always_inline]] void put(uint32_t value, int bits) {  // bits <= 32
        acc_ |= static_cast<uint64_t>(value) << used_;
        used_ += bits;
        std::memcpy(at_, &acc_, sizeof acc_);
        at_ += used_ >> 3;
        acc_ >>= used_ & ~7;
        used_ &= 7;
    }
    // Ends the stream on a byte boundary; returns the end.
    uint8_t* finish() {
        if (used_ > 0) ++at_;
        used_ = 0;
        acc_ = 0;
        return at_;
    }

  private:
    uint8_t* at_;
    uint64_t acc_ = 0;
    int used_ = 0;
};

// The symbol counts of a block: literals and lengths, distances.
struct Counts {
    std::array<uint32_t, kLitLenCodes> lit{};
    std::array<uint32_t, kDistCodes> dist{};
};

// One block with codes made for its tokens, whose symbols `counts` holds.
void write_block(const Token* tokens, size_t count, Counts counts, bool last, BitWriter& w) {
    std::array<uint32_t, kLitLenCodes>& lit_freq = counts.lit;
    const std::array<uint32_t, kDistCodes>& dist_freq = counts.dist;
    lit_freq[kEndOfBlock] = 1;
    const auto lit_len = code_lengths(lit_freq, kMaxCodeBits);
    const auto dist_len = code_lengths(dist_freq, kMaxCodeBits);
    const auto lit_code = canonical_codes(lit_len);
    const auto dist_code = canonical_codes(dist_len);

    int hlit = kLitLenCodes, hdist = kDistCodes;
    while (hlit > 257 && lit_len[hlit - 1] == 0) --hlit;
    while (hdist > 1 && dist_len[hdist - 1] == 0) --hdist;
    std::vector<uint8_t> lengths(lit_len.begin(), lit_len.begin() + hlit);
    lengths.insert(lengths.end(), dist_len.begin(), dist_len.begin() + hdist);

    // The code lengths, run-length coded: 16 repeats the length before 3 to 6 times, 17 and
    // 18 give 3 to 10 and 11 to 138 zeros.
    struct Run {
        uint8_t symbol, extra_bits, extra;
    };
    std::vector<Run> runs;
    for (size_t i = 0; i < lengths.size();) {
        const uint8_t l = lengths[i];
        size_t run = 1;
        while (i + run < lengths.size() && lengths[i + run] == l) ++run;
        i += run;
        if (l == 0) {
            for (; run >= 11; run -= std::min<size_t>(run, 138))
                runs.push_back({18, 7, static_cast<uint8_t>(std::min<size_t>(run, 138) - 11)});
            if (run >= 3) {
                runs.push_back({17, 3, static_cast<uint8_t>(run - 3)});
                run = 0;
            }
        } else {
            runs.push_back({l, 0, 0});
            for (--run; run >= 3; run -= std::min<size_t>(run, 6))
                runs.push_back({16, 2, static_cast<uint8_t>(std::min<size_t>(run, 6) - 3)});
        }
        for (; run > 0; --run) runs.push_back({l, 0, 0});
    }
    std::array<uint32_t, kCodeLengthCodes> cl_freq{};
    for (const Run& r : runs) ++cl_freq[r.symbol];
    const auto cl_len = code_lengths(cl_freq, kMaxCodeLengthBits);
    const auto cl_code = canonical_codes(cl_len);
    int hclen = kCodeLengthCodes;
    while (hclen > 4 && cl_len[kCodeLengthOrder[hclen - 1]] == 0) --hclen;

    w.put(last ? 1 : 0, 1);
    w.put(2, 2);  // dynamic Huffman codes
    w.put(static_cast<uint32_t>(hlit - 257), 5);
    w.put(static_cast<uint32_t>(hdist - 1), 5);
    w.put(static_cast<uint32_t>(hclen - 4), 4);
    for (int k = 0; k < hclen; ++k) w.put(cl_len[kCodeLengthOrder[k]], 3);
    for (const Run& r : runs) {
        w.put(cl_code[r.symbol], cl_len[r.symbol]);
        if (r.extra_bits != 0) w.put(r.extra, r.extra_bits);
    }
    for (size_t k = 0; k < count; ++k) {
        const Token& t = tokens[k];
        if (t.distance == 0) {
            w.put(lit_code[t.value], lit_len[t.value]);
            continue;
        }
        // The length's code and extra bits, then the distance's: at most 48 bits in two writes.
        const int li = kLengthIndex.of[t.value], di = t.code;
        const int lbits = lit_len[257 + li];
        w.put(lit_code[257 + li] | static_cast<uint32_t>(t.value - kLengthBase[li]) << lbits,
              lbits + kLengthExtra[li]);
        const int dbits = dist_len[di];
        w.put(dist_code[di] | static_cast<uint32_t>(t.distance - kDistBase[di]) << dbits,
              dbits + kDistExtra[di]);
    }
    w.put(lit_code[kEndOfBlock], lit_len[kEndOfBlock]);
}

}  // namespace

void zlib_compress_rows(const uint8_t* data, size_t n, size_t row, std::string& out) {
    if (row > kMaxDistance) row = 0;
    // Room for the worst case: 15 bits a literal, 48 bits a match of at least 3 bytes, a
    // block's code tables in under 400 bytes, the header, the check and the writer's 8 bytes.
    const size_t blocks = n / kBlockTokens + 1;
    const size_t start = out.size();
    out.resize(start + 2 * n + 400 * blocks + 16);
    auto* const base = reinterpret_cast<uint8_t*>(out.data()) + start;
    base[0] = 0x78;  // deflate, 32 KB window
    base[1] = 0x01;  // fastest level; header check
    BitWriter w(base + 2);
    // Left uninitialised: every token is written before it is read.
    const std::unique_ptr<Token[]> tokens(new Token[std::min(kBlockTokens, n + 1)]);
    const auto row_code = static_cast<uint8_t>(distance_index(row));
    size_t i = 0;
    do {
        size_t count = 0;
        Counts counts;
        for (; i < n && count < kBlockTokens; ++count) {
            // Most bytes of a map's rows start no match of 3 bytes (roads and text change the
            // packed pixels at every byte): tell those apart with two 4-byte compares.
            if (i >= row && i >= 1 && i + 4 <= n && starts_no_match(data + i, row)) {
                tokens[count] = Token{data[i], 0, 0};
                ++counts.lit[data[i]];
                ++i;
                continue;
            }
            // The longer of the run (distance 1) and the copy of the row above; a literal
            // when neither reaches 3 bytes. Chosen without branches, since which one wins
            // changes at random along a map's rows.
            const size_t max = std::min(kMaxMatch, n - i);
            const size_t run = i >= 1 ? match_length(data + i, data + i - 1, max) : 0;
            const size_t above =
                row != 0 && i >= row && run < max ? match_length(data + i, data + i - row, max) : 0;
            const bool up = above > run;
            const size_t best = up ? above : run;
            const bool match = best >= kMinMatch;
            tokens[count] = Token{static_cast<uint16_t>(match ? best : data[i]),
                                  static_cast<uint16_t>(match ? (up ? row : 1) : 0),
                                  static_cast<uint8_t>(match && up ? row_code : 0)};
            ++counts.lit[match ? 257 + kLengthIndex.of[best] : data[i]];
            counts.dist[up ? row_code : 0] += match;
            i += match ? best : 1;
        }
        write_block(tokens.get(), count, counts, i >= n, w);
    } while (i < n);
    uint8_t* end = w.finish();
    const uLong check = adler32_z(adler32_z(0, nullptr, 0), data, n);
    for (int shift = 24; shift >= 0; shift -= 8) *end++ = static_cast<uint8_t>(check >> shift);
    out.resize(static_cast<size_t>(end - reinterpret_cast<uint8_t*>(out.data())));
}

}  // namespace kmaps
