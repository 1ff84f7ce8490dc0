// surface.cpp: the pixels of a drawn surface as pictures and palette pictures (surface.h).
#include "surface.h"

#include <array>
#include <cstring>
#include <vector>

namespace kmaps {

Image Engine::Drawn::picture(int x, int y, int w, int h) const {
    Image im(w, h);
    if (depth == 8) {
        // The colour of each entry once, then a look-up a pixel.
        std::array<uint32_t, 256> colour{};
        for (int i = 0; i < 256; ++i) colour[i] = colour_of(table[i], key);
        for (int r = 0; r < h; ++r) {
            const uint8_t* in = row8(y + r) + x;
            uint32_t* out = &im.pixels[static_cast<size_t>(r) * w];
            for (int c = 0; c < w; ++c) out[c] = colour[in[c]];
        }
        return im;
    }
    for (int r = 0; r < h; ++r) {
        const uint32_t* in = row32(y + r) + x;
        uint32_t* out = &im.pixels[static_cast<size_t>(r) * w];
        for (int c = 0; c < w; ++c) out[c] = colour_of(in[c], key);
    }
    return im;
}

namespace {

// Renumbers the rows of a rectangle of an 8-bit surface into a palette picture: the entries in
// the order they first appear, an entry's new number made when it is first met (kUnseen
// before), so the picture holds only the colours used.
class Renumbering {
  public:
    Renumbering(const uint32_t* table, uint32_t key, int w, int h, Paletted& out)
        : table_(table), key_(key), out_(out) {
        number_.fill(kUnseen);
        out.width = w;
        out.height = h;
        out.colours.clear();
        out.index.resize(static_cast<size_t>(w) * h);
    }
    // Renumbers row `r` of the rectangle, whose entries are at `in`.
    void row(int r, const uint8_t* in) {
        const int w = out_.width;
        uint8_t* to = &out_.index[static_cast<size_t>(r) * w];
        // A map is mostly long runs of one entry: eight bytes that all equal the first are
        // renumbered at once.
        constexpr uint64_t kEveryByte = 0x0101010101010101u;
        int c = 0;
        while (c < w) {
            if (c + 8 <= w) {
                uint64_t eight;
                std::memcpy(&eight, in + c, sizeof eight);
                if (eight == in[c] * kEveryByte) {
                    const uint64_t renumbered = number(in[c]) * kEveryByte;
                    std::memcpy(to + c, &renumbered, sizeof renumbered);
                    c += 8;
                    continue;
                }
            }
            to[c] = number(in[c]);
            ++c;
        }
    }

  private:
    static constexpr uint16_t kUnseen = 0x100;
    uint8_t number(uint8_t entry) {
        uint16_t n = number_[entry];
        if (n == kUnseen) {
            n = static_cast<uint16_t>(out_.colours.size());
            number_[entry] = n;
            out_.colours.push_back(colour_of(table_[entry], key_));
        }
        return static_cast<uint8_t>(n);
    }
    const uint32_t* table_;
    uint32_t key_;
    Paletted& out_;
    std::array<uint16_t, 256> number_{};
};

}  // namespace

bool Engine::Drawn::paletted(int x, int y, int w, int h, Paletted& out) const {
    if (depth == 32) {
        out.width = w;
        out.height = h;
        if (!palette_of_rgb(row32(y) + x, stride / sizeof(uint32_t), w, h, out.colours, out.index))
            return false;
        for (uint32_t& c : out.colours) c = colour_of(c, key);
        return true;
    }
    Renumbering renumbering(table, key, w, h, out);
    for (int r = 0; r < h; ++r) renumbering.row(r, row8(y + r) + x);
    return true;
}

void Engine::Drawn::paletted_tiles(int y, int side, std::vector<Paletted>& out) const {
    // The surface's rows are read once, whole, in order (a tile's rows alone are short runs of
    // memory far apart, which the processor fetches ahead poorly).
    const int tiles = width / side;
    out.resize(static_cast<size_t>(tiles));
    std::vector<Renumbering> renumbering;
    renumbering.reserve(out.size());
    for (int c = 0; c < tiles; ++c) renumbering.emplace_back(table, key, side, side, out[c]);
    for (int r = 0; r < side; ++r) {
        const uint8_t* in = row8(y + r);
        for (int c = 0; c < tiles; ++c) renumbering[c].row(r, in + static_cast<size_t>(c) * side);
    }
}

}  // namespace kmaps
