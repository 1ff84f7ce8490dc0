/*
 * rle8.cpp: the RLE8 encoder of GetDIBits (kgdi_rle8.h), shared with the engine's Windows build.
 *
 * First every pixel gets an index into a 256-entry colour table, then the indexes are
 * compressed:
 *  - colour table: exact when the rows hold at most 256 colours (entries in order of first
 *    appearance, bottom row first); otherwise median cut over a histogram of the colours at 6
 *    bits per channel, each table entry the mean of its box, each pixel mapped to the entry
 *    nearest (in RGB distance) to its histogram cell.
 *  - compression: the standard RLE8 scheme. Runs of 3 or more equal indexes are encoded runs;
 *    stretches of mixed indexes of 3 or more pixels are absolute runs (padded to a 16-bit
 *    boundary), and a stretch only ends at a run of kMinRunInStretch equal indexes, so that
 *    noisy rows never cost more than about one byte a pixel. Shorter stretches are written as
 *    encoded runs of one or two. Every row ends with end-of-line and the data with
 *    end-of-bitmap; delta escapes are never used.
 * The output never goes past the room given: when it would, the encoder gives 0.
 */
#include <algorithm>
#include <cstring>
#include <vector>

#include "kgdi_rle8.h"
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kgdi {
namespace {

constexpr int kPaletteSize = kRle8PaletteSize;
constexpr int kMaxRun = 255;         // longest encoded or absolute run of RLE8
constexpr int kMinAbsolute = 3;      // absolute runs shorter than this are not allowed
constexpr int kMinEncodedRun = 3;    // a run this long starts an encoded run
constexpr int kMinRunInStretch = 6;  // a run this long ends an absolute stretch
constexpr uint8_t kEscape = 0;
constexpr uint8_t kEndOfLine = 0;
constexpr uint8_t kEndOfBitmap = 1;

/* Histogram cell of a pixel at 6 bits a channel. */
constexpr int kCellBits = 6;
constexpr int kCells = 1 << (3 * kCellBits);
inline uint32_t CellOf(uint32_t p) {
    return ((p >> (24 - kCellBits)) & 0x3F) << (2 * kCellBits) |
           ((p >> (16 - kCellBits)) & 0x3F) << kCellBits | ((p >> (8 - kCellBits)) & 0x3F);
}

/* Bounded output for the encoder: every write is checked against the room first. */
class Sink {
  public:
    Sink(uint8_t* out, size_t room) : out_(out), room_(room) {}
    bool Fits(size_t n) const { return room_ - pos_ >= n; }
    bool Put2(uint8_t a, uint8_t b) {
        if (!Fits(2)) return false;
        out_[pos_] = a;
        out_[pos_ + 1] = b;
        pos_ += 2;
        return true;
    }
    /* Unchecked writes, after Fits() said yes. */
    void Byte(uint8_t a) { out_[pos_++] = a; }
    void Fill(uint8_t v, size_t n) {
        std::memset(out_ + pos_, v, n);
        pos_ += n;
    }
    size_t size() const { return pos_; }

  private:
    uint8_t* out_;
    size_t room_;
    size_t pos_ = 0;
};

/* A run of equal colour-table indexes within a row. */
struct IndexRun {
    uint8_t index;
    uint32_t length;
};

/* Appends a run, merging it with the previous one of the same index. */
inline void AddRun(std::vector<IndexRun>& runs, size_t row_start, uint8_t index, uint32_t length) {
    if (runs.size() > row_start && runs.back().index == index)
        runs.back().length += length;
    else
        runs.push_back(IndexRun{index, length});
}

/* Compresses the runs of one row; false when the room ran out. The rules: a run of
 * kMinEncodedRun or more is an encoded run; otherwise a stretch of mixed indexes is gathered
 * until a run of kMinRunInStretch or more, the row end or kMaxRun pixels; a stretch of
 * kMinAbsolute or more pixels is an absolute run, a shorter one encoded runs of one or two. */
bool EncodeRow(const IndexRun* runs, size_t count, Sink& sink) {
    size_t k = 0;
    uint32_t used = 0;  // pixels of runs[k] already written
    while (k < count) {
        const uint32_t left = runs[k].length - used;
        if (left >= kMinEncodedRun) {
            const uint32_t n = std::min<uint32_t>(left, kMaxRun);
            if (!sink.Put2(static_cast<uint8_t>(n), runs[k].index)) return false;
            used += n;
            if (used == runs[k].length) ++k, used = 0;
            continue;
        }
        // Gather the stretch: pieces of runs shorter than kMinRunInStretch.
        const size_t first = k;
        const uint32_t first_used = used;
        uint32_t total = 0;
        size_t end = k;
        uint32_t end_used = used;
        while (end < count && total < kMaxRun) {
            const uint32_t l = runs[end].length - end_used;
            if (l >= kMinRunInStretch) break;
            const uint32_t take = std::min<uint32_t>(l, kMaxRun - total);
            total += take;
            end_used += take;
            if (end_used == runs[end].length) ++end, end_used = 0;
        }
        // Write the pieces from (first, first_used) up to (end, end_used).
        auto for_pieces = [&](auto&& piece) {
            size_t j = first;
            uint32_t u = first_used;
            while (j < end || (j == end && u < end_used)) {
                const uint32_t stop = j < end ? runs[j].length : end_used;
                piece(runs[j].index, stop - u);
                ++j;
                u = 0;
            }
        };
        if (total >= kMinAbsolute) {
            const size_t pad = total & 1;  // absolute runs end on a 16-bit boundary
            if (!sink.Fits(2 + total + pad)) return false;
            sink.Byte(kEscape);
            sink.Byte(static_cast<uint8_t>(total));
            for_pieces([&](uint8_t index, uint32_t n) { sink.Fill(index, n); });
            if (pad) sink.Byte(0);
        } else {
            bool ok = true;
            for_pieces([&](uint8_t index, uint32_t n) {
                ok = ok && sink.Put2(static_cast<uint8_t>(n), index);
            });
            if (!ok) return false;
        }
        k = end;
        used = end_used;
    }
    return true;
}

/* The end of the run of pixels equal to `raw` that starts at row[x] (exclusive), comparing
 * four pixels at a time where SSE2 is there. */
inline int RunEnd(const uint32_t* row, int x, int width, uint32_t raw) {
    int end = x + 1;
#if defined(__SSE2__)
    const __m128i want = _mm_set1_epi32(static_cast<int>(raw));
    while (end + 4 <= width) {
        const __m128i got = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row + end));
        const unsigned same = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi32(got, want)));
        if (same != 0xFFFFu) return end + (__builtin_ctz(~same) >> 2);
        end += 4;
    }
#endif
    while (end < width && row[end] == raw) ++end;
    return end;
}

/* The runs of index rows: all rows' runs one after another, row k from row_start[k]. */
struct RunRows {
    std::vector<IndexRun> runs;
    std::vector<size_t> row_start;  // rows + 1 entries
};

/* Builds the rows' runs with exact colour-table indexes; false when there are more than 256
 * colours. A small open-addressing table maps colours to indexes, looked up once per run of
 * equal pixels, which maps consist of. */
bool RunsExact(const Rle8Rows& band, RunRows& out, uint32_t* palette, int* count) {
    constexpr int kSlots = 1024;              // power of two, at least 4 x kPaletteSize
    constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // pixels have a zero top byte
    uint32_t keys[kSlots];
    uint8_t values[kSlots];
    std::fill_n(keys, kSlots, kEmpty);
    int n = 0;
    const int width = band.width;
    uint32_t last = kEmpty;
    uint8_t last_index = 0;
    out.runs.clear();
    out.row_start.assign(1, 0);
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Row(k);
        const size_t row_start = out.runs.size();
        for (int x = 0; x < width;) {
            const uint32_t raw = row[x];
            const uint32_t p = raw & 0xFFFFFFu;
            if (p != last) {
                uint32_t h = (p * 2654435761u) >> 22;  // 10 bits
                while (keys[h] != p && keys[h] != kEmpty) h = (h + 1) & (kSlots - 1);
                if (keys[h] == kEmpty) {
                    if (n == kPaletteSize) return false;
                    keys[h] = p;
                    values[h] = static_cast<uint8_t>(n);
                    palette[n++] = p;
                }
                last = p;
                last_index = values[h];
            }
            const int end = RunEnd(row, x, width, raw);
            AddRun(out.runs, row_start, last_index, static_cast<uint32_t>(end - x));
            x = end;
        }
        out.row_start.push_back(out.runs.size());
    }
    *count = n;
    return true;
}

/* A box of histogram cells for median cut: cells [begin, end) of the cell list. */
struct CutBox {
    size_t begin, end;
    uint64_t pixels;
    int longest;  // channel with the widest range: 0 red, 1 green, 2 blue
    int range;    // that range
};

struct Cell {
    uint32_t key;
    uint64_t count;
    uint64_t sum[3];
    int mean[3];
};

void MeasureBox(const std::vector<Cell>& cells, CutBox& box) {
    int lo[3] = {255, 255, 255}, hi[3] = {0, 0, 0};
    box.pixels = 0;
    for (size_t i = box.begin; i < box.end; ++i) {
        for (int c = 0; c < 3; ++c) {
            lo[c] = std::min(lo[c], cells[i].mean[c]);
            hi[c] = std::max(hi[c], cells[i].mean[c]);
        }
        box.pixels += cells[i].count;
    }
    box.longest = 0;
    box.range = -1;
    for (int c = 0; c < 3; ++c)
        if (hi[c] - lo[c] > box.range) {
            box.range = hi[c] - lo[c];
            box.longest = c;
        }
}

/* Reduces more than 256 colours by median cut (see the head comment) and builds the rows'
 * runs of the reduced indexes. */
void RunsReduced(const Rle8Rows& band, RunRows& out, uint32_t* palette, int* count) {
    const int width = band.width;
    std::vector<uint32_t> slot_of(kCells, UINT32_MAX);
    std::vector<Cell> cells;
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Row(k);
        for (int x = 0; x < width; ++x) {
            const uint32_t p = row[x];
            const uint32_t key = CellOf(p);
            uint32_t& slot = slot_of[key];
            if (slot == UINT32_MAX) {
                slot = static_cast<uint32_t>(cells.size());
                cells.push_back(Cell{key, 0, {0, 0, 0}, {0, 0, 0}});
            }
            Cell& cell = cells[slot];
            ++cell.count;
            cell.sum[0] += (p >> 16) & 0xFF;
            cell.sum[1] += (p >> 8) & 0xFF;
            cell.sum[2] += p & 0xFF;
        }
    }
    for (Cell& c : cells)
        for (int ch = 0; ch < 3; ++ch) c.mean[ch] = static_cast<int>(c.sum[ch] / c.count);

    std::vector<CutBox> boxes;
    boxes.push_back(CutBox{0, cells.size(), 0, 0, 0});
    MeasureBox(cells, boxes[0]);
    while (static_cast<int>(boxes.size()) < kPaletteSize) {
        // Split the box with the widest channel range (ties: more pixels).
        int best = -1;
        for (size_t b = 0; b < boxes.size(); ++b) {
            if (boxes[b].end - boxes[b].begin < 2 || boxes[b].range <= 0) continue;
            if (best < 0 || boxes[b].range > boxes[best].range ||
                (boxes[b].range == boxes[best].range && boxes[b].pixels > boxes[best].pixels))
                best = static_cast<int>(b);
        }
        if (best < 0) break;
        CutBox box = boxes[best];
        const int ch = box.longest;
        std::sort(cells.begin() + box.begin, cells.begin() + box.end,
                  [ch](const Cell& a, const Cell& b) { return a.mean[ch] < b.mean[ch]; });
        // Weighted median: first cell at which half the box's pixels are reached.
        uint64_t acc = 0;
        size_t cut = box.begin + 1;
        for (size_t i = box.begin; i < box.end - 1; ++i) {
            acc += cells[i].count;
            cut = i + 1;
            if (acc * 2 >= box.pixels) break;
        }
        CutBox lower{box.begin, cut, 0, 0, 0}, upper{cut, box.end, 0, 0, 0};
        MeasureBox(cells, lower);
        MeasureBox(cells, upper);
        boxes[best] = lower;
        boxes.push_back(upper);
    }
    int n = 0;
    for (const CutBox& box : boxes) {
        uint64_t sum[3] = {0, 0, 0}, pixels = 0;
        for (size_t i = box.begin; i < box.end; ++i) {
            for (int c = 0; c < 3; ++c) sum[c] += cells[i].sum[c];
            pixels += cells[i].count;
        }
        uint32_t rgb = 0;
        for (int c = 0; c < 3; ++c)
            rgb = (rgb << 8) | static_cast<uint32_t>((sum[c] + pixels / 2) / pixels);
        palette[n++] = rgb;
    }
    // Each cell to the nearest entry.
    std::vector<uint8_t> index_of_slot(cells.size());
    for (size_t i = 0; i < cells.size(); ++i) {
        const uint32_t slot = slot_of[cells[i].key];
        int best = 0;
        int64_t best_d = INT64_MAX;
        for (int e = 0; e < n; ++e) {
            const int dr = cells[i].mean[0] - static_cast<int>((palette[e] >> 16) & 0xFF);
            const int dg = cells[i].mean[1] - static_cast<int>((palette[e] >> 8) & 0xFF);
            const int db = cells[i].mean[2] - static_cast<int>(palette[e] & 0xFF);
            const int64_t d = int64_t{dr} * dr + int64_t{dg} * dg + int64_t{db} * db;
            if (d < best_d) {
                best_d = d;
                best = e;
            }
        }
        index_of_slot[slot] = static_cast<uint8_t>(best);
    }
    out.runs.clear();
    out.row_start.assign(1, 0);
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Row(k);
        const size_t row_start = out.runs.size();
        for (int x = 0; x < width; ++x)
            AddRun(out.runs, row_start, index_of_slot[slot_of[CellOf(row[x])]], 1);
        out.row_start.push_back(out.runs.size());
    }
    *count = n;
}

/* Compresses the rows' runs; returns the size, 0 when the room ran out. */
size_t EncodeRle8(const RunRows& rr, int rows, uint8_t* out, size_t room) {
    Sink sink(out, room);
    for (int k = 0; k < rows; ++k) {
        const size_t begin = rr.row_start[k], end = rr.row_start[k + 1];
        if (!EncodeRow(rr.runs.data() + begin, end - begin, sink)) return 0;
        if (!sink.Put2(kEscape, kEndOfLine)) return 0;
    }
    if (!sink.Put2(kEscape, kEndOfBitmap)) return 0;
    return sink.size();
}

}  // namespace

size_t EncodeRle8(const Rle8Rows& rows, uint8_t* out, size_t room,
                  uint32_t (&palette)[kRle8PaletteSize]) {
    thread_local RunRows runs;
    thread_local std::vector<uint8_t> scratch;
    std::fill_n(palette, kPaletteSize, 0u);
    int count = 0;
    if (!RunsExact(rows, runs, palette, &count)) RunsReduced(rows, runs, palette, &count);
    if (out != nullptr) return EncodeRle8(runs, rows.rows, out, room);
    // Worst case: two bytes a pixel plus the row and bitmap ends.
    const size_t bound = (2 * static_cast<size_t>(rows.width) + 2) * rows.rows + 2;
    scratch.resize(bound);
    const size_t size = EncodeRle8(runs, rows.rows, scratch.data(), bound);
    return size <= room ? size : 0;
}

}  // namespace kgdi
