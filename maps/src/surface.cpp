// surface.cpp: the pixels of a drawn surface as pictures and palette pictures (surface.h).
#include "surface.h"

#include <array>

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

bool Engine::Drawn::paletted(int x, int y, int w, int h, Paletted& out) const {
    out.width = w;
    out.height = h;
    if (depth == 32) {
        if (!palette_of_rgb(row32(y) + x, stride / sizeof(uint32_t), w, h, out.colours, out.index))
            return false;
        for (uint32_t& c : out.colours) c = colour_of(c, key);
        return true;
    }
    // The surface's entries renumbered in the order they first appear: an entry's new number
    // is made when it is first met (kUnseen before), so the file holds only the colours used.
    constexpr uint16_t kUnseen = 0x100;
    std::array<uint16_t, 256> number;
    number.fill(kUnseen);
    out.colours.clear();
    out.index.resize(static_cast<size_t>(w) * h);
    uint8_t* to = out.index.data();
    for (int r = 0; r < h; ++r) {
        const uint8_t* in = row8(y + r) + x;
        for (int c = 0; c < w; ++c) {
            uint16_t n = number[in[c]];
            if (n == kUnseen) {
                n = static_cast<uint16_t>(out.colours.size());
                number[in[c]] = n;
                out.colours.push_back(colour_of(table[in[c]], key));
            }
            *to++ = static_cast<uint8_t>(n);
        }
    }
    return true;
}

}  // namespace kmaps
