/*
 * dib.cpp: GetDIBits, the conversion of a bitmap to device-independent formats.
 *
 * BI_RGB 24 and 32 bits are plain row copies. BI_RLE8 first gives every pixel an index into a
 * 256-entry colour table and then compresses the indexes:
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
 * The output never goes past the room given in biSizeImage: when it would, the call fails.
 */
#include "detail.h"

#include <algorithm>
#include <cstring>

namespace kgdi::detail {
namespace {

constexpr int kPaletteSize = 256;
constexpr int kMaxRun = 255;             // longest encoded or absolute run of RLE8
constexpr int kMinAbsolute = 3;          // absolute runs shorter than this are not allowed
constexpr int kMinEncodedRun = 3;        // a run this long starts an encoded run
constexpr int kMinRunInStretch = 6;      // a run this long ends an absolute stretch
constexpr uint8_t kEscape = 0;
constexpr uint8_t kEndOfLine = 0;
constexpr uint8_t kEndOfBitmap = 1;
constexpr int kInfoHeaderSize = 40;

/* Histogram cell of a pixel at 6 bits a channel. */
constexpr int kCellBits = 6;
constexpr int kCells = 1 << (3 * kCellBits);
inline uint32_t CellOf(uint32_t p) {
    return ((p >> (24 - kCellBits)) & 0x3F) << (2 * kCellBits) |
           ((p >> (16 - kCellBits)) & 0x3F) << kCellBits | ((p >> (8 - kCellBits)) & 0x3F);
}

/* Bounded output for the encoder: every write is checked against the room. */
class Sink {
public:
    Sink(uint8_t* out, size_t room) : out_(out), room_(room) {}
    bool Put1(uint8_t a) {
        if (pos_ >= room_) return Fail();
        out_[pos_++] = a;
        return true;
    }
    bool Put2(uint8_t a, uint8_t b) {
        if (room_ - pos_ < 2) return Fail();
        out_[pos_] = a;
        out_[pos_ + 1] = b;
        pos_ += 2;
        return true;
    }
    bool PutBytes(const uint8_t* p, size_t n) {
        if (room_ - pos_ < n) return Fail();
        std::memcpy(out_ + pos_, p, n);
        pos_ += n;
        return true;
    }
    size_t size() const { return pos_; }
    bool failed() const { return failed_; }

private:
    bool Fail() {
        failed_ = true;
        return false;
    }
    uint8_t* out_;
    size_t room_;
    size_t pos_ = 0;
    bool failed_ = false;
};

/* Length of the run of equal indexes at row[i], at most `cap`, comparing eight bytes at a
 * time where the row allows. */
inline int RunAt(const uint8_t* row, int i, int width, int cap) {
    const uint8_t v = row[i];
    const int end = std::min(width, i + cap);
    int j = i + 1;
    const uint64_t pattern = 0x0101010101010101ull * v;
    while (j + 8 <= end) {
        uint64_t word;
        std::memcpy(&word, row + j, 8);
        const uint64_t diff = word ^ pattern;
        if (diff != 0) return j + (__builtin_ctzll(diff) >> 3) - i;  // little-endian order
        j += 8;
    }
    while (j < end && row[j] == v) ++j;
    return j - i;
}

/* Compresses one row of indexes; false when the room ran out. */
bool EncodeRow(const uint8_t* row, int width, Sink& sink) {
    int i = 0;
    while (i < width) {
        const int r = RunAt(row, i, width, kMaxRun);
        if (r >= kMinEncodedRun) {
            if (!sink.Put2(static_cast<uint8_t>(r), row[i])) return false;
            i += r;
            continue;
        }
        // A stretch of mixed indexes, ended by a long run, the row end or the length limit.
        int j = i;
        while (j < width && j - i < kMaxRun) {
            const int rr = RunAt(row, j, width, kMaxRun);
            if (rr >= kMinRunInStretch) break;
            j += std::min(rr, kMaxRun - (j - i));
        }
        const int n = j - i;
        if (n >= kMinAbsolute) {
            if (!sink.Put2(kEscape, static_cast<uint8_t>(n)) || !sink.PutBytes(row + i, n))
                return false;
            if ((n & 1) && !sink.Put1(0)) return false;  // pad to a 16-bit boundary
        } else {
            for (int k = i; k < j;) {
                const int rr = RunAt(row, k, j, kMaxRun);
                if (!sink.Put2(static_cast<uint8_t>(rr), row[k])) return false;
                k += rr;
            }
        }
        i = j;
    }
    return true;
}


/* Rows of a bitmap in the order they are converted (bottom row first). */
struct Band {
    const Bitmap* bitmap;
    int first_row;  // top-down index of the first row converted
    int rows;       // converted rows, going up from first_row
    const uint32_t* Row(int k) const {
        return bitmap->pixels.data() + static_cast<size_t>(first_row - k) * bitmap->width;
    }
};

/* Gives each pixel its exact colour-table index; false when there are more than 256
 * colours. A small open-addressing table maps colours to indexes, and the previous pixel's
 * index is reused along runs, which maps consist of. */
bool IndexExact(const Band& band, uint8_t* indexes, uint32_t* palette, int* count) {
    constexpr int kSlots = 1024;  // power of two, at least 4 x kPaletteSize
    constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // pixels have a zero top byte
    uint32_t keys[kSlots];
    uint8_t values[kSlots];
    std::fill_n(keys, kSlots, kEmpty);
    int n = 0;
    const int width = band.bitmap->width;
    uint32_t last = kEmpty;
    uint8_t last_index = 0;
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Row(k);
        uint8_t* out = indexes + static_cast<size_t>(k) * width;
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
            int end = x + 1;  // the run of this exact word
            while (end < width && row[end] == raw) ++end;
            std::memset(out + x, last_index, static_cast<size_t>(end - x));
            x = end;
        }
    }
    *count = n;
    return true;
}

/* A box of histogram cells for median cut: cells [begin, end) of the cell list. */
struct CutBox {
    size_t begin, end;
    uint64_t pixels;
    int longest;      // channel with the widest range: 0 red, 1 green, 2 blue
    int range;        // that range
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

/* Reduces more than 256 colours by median cut (see the head comment). */
void IndexReduced(const Band& band, uint8_t* indexes, uint32_t* palette, int* count) {
    const int width = band.bitmap->width;
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
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Row(k);
        uint8_t* out = indexes + static_cast<size_t>(k) * width;
        for (int x = 0; x < width; ++x) out[x] = index_of_slot[slot_of[CellOf(row[x])]];
    }
    *count = n;
}

/* Compresses the index rows; returns the size, 0 when the room ran out. */
size_t EncodeRle8(const uint8_t* indexes, int width, int rows, uint8_t* out, size_t room) {
    Sink sink(out, room);
    for (int k = 0; k < rows; ++k) {
        if (!EncodeRow(indexes + static_cast<size_t>(k) * width, width, sink)) return 0;
        if (!sink.Put2(kEscape, kEndOfLine)) return 0;
    }
    if (!sink.Put2(kEscape, kEndOfBitmap)) return 0;
    return sink.size();
}

/* The RLE8 branch of GetDIBits (arguments checked by the caller). */
int ToRle8(const Band& band, void* bits, BITMAPINFO* info) {
    const int width = band.bitmap->width;
    thread_local std::vector<uint8_t> indexes;
    thread_local std::vector<uint8_t> scratch;
    indexes.resize(static_cast<size_t>(width) * band.rows);
    uint32_t palette[kPaletteSize] = {};
    int count = 0;
    if (!IndexExact(band, indexes.data(), palette, &count))
        IndexReduced(band, indexes.data(), palette, &count);
    size_t size;
    if (bits) {
        size = EncodeRle8(indexes.data(), width, band.rows, static_cast<uint8_t*>(bits),
                          info->bmiHeader.biSizeImage);
        if (size == 0) return 0;
    } else {
        // Worst case: two bytes a pixel plus the row and bitmap ends.
        const size_t bound = (2 * static_cast<size_t>(width) + 2) * band.rows + 2;
        scratch.resize(bound);
        size = EncodeRle8(indexes.data(), width, band.rows, scratch.data(), bound);
        if (size == 0) return 0;
    }
    if (size > UINT32_MAX) return 0;
    RGBQUAD* table = info->bmiColors;
    for (int i = 0; i < kPaletteSize; ++i) {
        const uint32_t p = i < count ? palette[i] : 0;
        table[i] = RGBQUAD{static_cast<BYTE>(p & 0xFF), static_cast<BYTE>((p >> 8) & 0xFF),
                           static_cast<BYTE>((p >> 16) & 0xFF), 0};
    }
    info->bmiHeader.biSizeImage = static_cast<DWORD>(size);
    info->bmiHeader.biClrUsed = 0;
    info->bmiHeader.biClrImportant = 0;
    info->bmiHeader.biXPelsPerMeter = 0;
    info->bmiHeader.biYPelsPerMeter = 0;
    return band.rows;
}

/* The BI_RGB branch: 24 or 32 bits, bottom-up for a positive height, top-down otherwise. */
int ToRgb(const Band& band, int bpp, bool top_down, void* bits, BITMAPINFO* info) {
    const int width = band.bitmap->width;
    const size_t stride = ((static_cast<size_t>(width) * bpp + 31) / 32) * 4;
    info->bmiHeader.biSizeImage = static_cast<DWORD>(stride * band.rows);
    info->bmiHeader.biClrUsed = 0;
    info->bmiHeader.biClrImportant = 0;
    info->bmiHeader.biXPelsPerMeter = 0;
    info->bmiHeader.biYPelsPerMeter = 0;
    if (!bits) return band.rows;
    auto* out = static_cast<uint8_t*>(bits);
    for (int k = 0; k < band.rows; ++k) {
        const uint32_t* row = band.Row(top_down ? band.rows - 1 - k : k);
        uint8_t* o = out + stride * k;
        if (bpp == 32) {
            for (int x = 0; x < width; ++x) {
                const uint32_t p = row[x] & 0xFFFFFFu;
                std::memcpy(o + 4 * x, &p, 4);
            }
        } else {
            for (int x = 0; x < width; ++x) {
                o[3 * x] = static_cast<uint8_t>(row[x]);
                o[3 * x + 1] = static_cast<uint8_t>(row[x] >> 8);
                o[3 * x + 2] = static_cast<uint8_t>(row[x] >> 16);
            }
            std::memset(o + 3 * static_cast<size_t>(width), 0, stride - 3 * static_cast<size_t>(width));
        }
    }
    return band.rows;
}

}  // namespace
}  // namespace kgdi::detail

using namespace kgdi::detail;

extern "C" KGDI_API int GetDIBits(HDC hdc, HBITMAP bitmap, UINT start, UINT lines, void* bits,
                                  BITMAPINFO* info, UINT usage) {
    try {
        if (!info || usage != DIB_RGB_COLORS || !LookupDc(hdc)) return 0;
        const Bitmap* bm;
        {
            const std::lock_guard<std::mutex> guard(TableLock());
            bm = static_cast<const Bitmap*>(LookupLocked(bitmap, Kind::Bitmap));
        }
        if (!bm) return 0;
        BITMAPINFOHEADER& h = info->bmiHeader;
        if (h.biSize < static_cast<DWORD>(kInfoHeaderSize) || h.biPlanes != 1 ||
            h.biWidth != bm->width || h.biHeight == INT32_MIN ||
            (h.biHeight < 0 ? -h.biHeight : h.biHeight) != bm->height)
            return 0;
        if (start >= static_cast<UINT>(bm->height) || lines == 0) return 0;
        const int rows = static_cast<int>(std::min<UINT>(lines, bm->height - start));
        const Band band{bm, bm->height - 1 - static_cast<int>(start), rows};
        if (h.biCompression == BI_RGB && (h.biBitCount == 24 || h.biBitCount == 32))
            return ToRgb(band, h.biBitCount, h.biHeight < 0, bits, info);
        if (h.biCompression == BI_RLE8 && h.biBitCount == 8 && h.biHeight > 0)
            return ToRle8(band, bits, info);
        return 0;
    } catch (...) {
        return 0;
    }
}
