/*
 * surface.cpp: the pixel formats of bitmaps. A bitmap holds 32-bit words 0x00RRGGBB or 8-bit
 * indexes into its colour table; its rows are stored top-down, or bottom-up for a DIB section
 * of positive height, each padded to 4 bytes. Here: making bitmaps, matching colours to a
 * colour table, single pixels, rows as words, and copying pixels between bitmaps of either
 * format (BitBlt).
 */
#include <algorithm>
#include <cstring>

#include "detail.h"

namespace kgdi::detail {

void ColorTable::Resize(int count) noexcept {
    count_ = std::clamp(count, 1, kMaxColorEntries);
    std::fill(entries_ + count_, entries_ + kMaxColorEntries, 0u);
    std::fill(memo_, memo_ + kMemoSize, Memo{});
}

void ColorTable::Set(int first, int n, const uint32_t* words) noexcept {
    for (int i = 0; i < n; ++i) entries_[first + i] = words[i] & 0xFFFFFFu;
    std::fill(memo_, memo_ + kMemoSize, Memo{});
}

uint8_t ColorTable::Nearest(COLORREF color) const noexcept {
    const int r = GetRValue(color), g = GetGValue(color), b = GetBValue(color);
    int best = 0;
    int best_distance = INT32_MAX;
    for (int i = 0; i < count_; ++i) {
        const uint32_t e = entries_[i];
        const int dr = r - static_cast<int>((e >> 16) & 0xFF);
        const int dg = g - static_cast<int>((e >> 8) & 0xFF);
        const int db = b - static_cast<int>(e & 0xFF);
        const int d = dr * dr + dg * dg + db * db;
        if (d < best_distance) {  // strictly nearer: the lowest index wins a tie
            best_distance = d;
            best = i;
            if (d == 0) break;
        }
    }
    return static_cast<uint8_t>(best);
}

bool ColorTable::SameAs(const ColorTable& o) const noexcept {
    return count_ == o.count_ && std::equal(entries_, entries_ + count_, o.entries_);
}

std::unique_ptr<Bitmap> MakeBitmap(int width, int height, int bits, bool bottom_up,
                                   std::unique_ptr<ColorTable> table) {
    if (width <= 0 || height <= 0 || width > kMaxBitmapSide || height > kMaxBitmapSide ||
        int64_t{width} * height > kMaxBitmapPixels || (bits != 8 && bits != 32) ||
        (bits == 8) != (table != nullptr))
        return nullptr;
    auto bitmap = std::make_unique<Bitmap>();
    bitmap->width = width;
    bitmap->height = height;
    bitmap->bits = bits;
    bitmap->bottom_up = bottom_up;
    bitmap->row_bytes = (static_cast<size_t>(width) * (bits / 8) + 3) & ~size_t{3};
    bitmap->storage.assign(bitmap->row_bytes / 4 * static_cast<size_t>(height), 0);
    bitmap->table = std::move(table);
    bitmap->pieces = MakeShortPieces(bitmap->Stride());
    Surface& s = bitmap->surface;
    s.top = bitmap->Row(0);
    s.width = width;
    s.height = height;
    s.stride = bitmap->Stride();
    s.bits = bits;
    s.pieces = bitmap->pieces.get();
    s.sink = &bitmap->sink;
    s.table = bitmap->table.get();
    return bitmap;
}

COLORREF Surface::ColorAt(int x, int y) const noexcept {
    const std::ptrdiff_t at = y * stride + x;
    if (bits == 8) return ColorFromPixel(table->Entry(static_cast<const uint8_t*>(top)[at]));
    return ColorFromPixel(static_cast<const uint32_t*>(top)[at]);
}

void Surface::Put(int x, int y, uint32_t value) const noexcept {
    const std::ptrdiff_t at = y * stride + x;
    if (bits == 8)
        static_cast<uint8_t*>(top)[at] = static_cast<uint8_t>(value);
    else
        static_cast<uint32_t*>(top)[at] = value;
}

const uint32_t* Surface::Expand(int y, uint32_t* scratch) const noexcept {
    const uint8_t* row = static_cast<const uint8_t*>(top) + y * stride;
    for (int x = 0; x < width; ++x) scratch[x] = table->Entry(row[x]);
    return scratch;
}

namespace {

/* Copies `n` pixels of one row between surfaces of any formats: the same pixel values
 * between equal formats (and equal colour tables), otherwise each source colour drawn as the
 * destination draws it (`entry_map` maps 8-bit source entries to destination values). */
void CopyRowConverted(const Surface& dst, uint8_t* to, const Surface& src, const uint8_t* from,
                      int n, const uint32_t* entry_map) {
    if (dst.bits == 32 && src.bits == 8) {
        auto* out = reinterpret_cast<uint32_t*>(to);
        for (int i = 0; i < n; ++i) out[i] = entry_map[from[i]];
    } else if (dst.bits == 8 && src.bits == 8) {
        for (int i = 0; i < n; ++i) to[i] = static_cast<uint8_t>(entry_map[from[i]]);
    } else {  // 32-bit words into 8-bit entries; maps run in long stretches of one colour
        const auto* in = reinterpret_cast<const uint32_t*>(from);
        uint32_t last = in[0] & 0xFFFFFFu;
        uint8_t value = static_cast<uint8_t>(dst.ValueOf(ColorFromPixel(last)));
        for (int i = 0; i < n; ++i) {
            const uint32_t p = in[i] & 0xFFFFFFu;
            if (p != last) {
                last = p;
                value = static_cast<uint8_t>(dst.ValueOf(ColorFromPixel(p)));
            }
            to[i] = value;
        }
    }
}

}  // namespace

void CopyPixels(const Surface& dst, int64_t dx0, int64_t dy0, int64_t dx1, int64_t dy1,
                const Surface& src, int64_t shift_x, int64_t shift_y) {
    const size_t dst_bytes = static_cast<size_t>(dst.bits / 8);
    const size_t src_bytes = static_cast<size_t>(src.bits / 8);
    const bool same = dst.bits == src.bits && (dst.bits == 32 || dst.table->SameAs(*src.table));
    uint32_t entry_map[kMaxColorEntries];
    if (!same && src.bits == 8)
        for (int i = 0; i < kMaxColorEntries; ++i)
            entry_map[i] = dst.bits == 8 ? dst.ValueOf(ColorFromPixel(src.table->Entry(i)))
                                         : src.table->Entry(i);
    const auto n = static_cast<int>(dx1 - dx0);
    auto copy_row = [&](int64_t row) {
        auto* to = static_cast<uint8_t*>(dst.top) +
                   static_cast<std::ptrdiff_t>(row * dst.stride + dx0) * dst_bytes;
        const auto* from =
            static_cast<const uint8_t*>(src.top) +
            static_cast<std::ptrdiff_t>((row + shift_y) * src.stride + dx0 + shift_x) * src_bytes;
        if (same)
            std::memmove(to, from, static_cast<size_t>(n) * dst_bytes);
        else
            CopyRowConverted(dst, to, src, from, n, entry_map);
    };
    // Within one bitmap rows move up or down: copy in the order that reads each row first.
    if (dst.top == src.top && shift_y < 0) {
        for (int64_t row = dy1 - 1; row >= dy0; --row) copy_row(row);
    } else {
        for (int64_t row = dy0; row < dy1; ++row) copy_row(row);
    }
}

}  // namespace kgdi::detail
