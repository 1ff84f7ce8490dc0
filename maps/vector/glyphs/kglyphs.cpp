// kglyphs: writes the glyph ranges of the map labels' font for clients that draw vector tiles
// (MapLibre's glyph format): FOLDER/FONTSTACK/START-END.pbf for every range of 256 code points
// of the Basic Multilingual Plane, each glyph a signed distance field of the outline at 24
// pixels with a border of 3 pixels. Run at build time; the font is the drawing layer's, found
// through fontconfig. The Chinese, Japanese and Korean ideographs and syllables are left out
// (their ranges are written empty): the viewer draws them with the browser's own fonts.
//
// The distance field: the glyph rendered with coverage, then the squared distance of every
// pixel to the nearest pixel of the other side by the exact Euclidean distance transform of
// Felzenszwalb and Huttenlocher ("Distance transforms of sampled functions", 2012), seeded
// with sub-pixel distances from the coverage at the edge; the value is
// 255 - 255 * (distance / 8 + 0.25), so the edge of the glyph lies at 191 (0.75 * 255), inside
// above it, as the clients' shaders read it.
#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <protozero/pbf_writer.hpp>
#include <string>
#include <vector>

namespace {

constexpr int kSize = 24;           // pixels of the em
constexpr int kBorder = 3;          // pixels of field around each glyph
constexpr double kRadius = 8;       // pixels over which the field falls from edge to 0
constexpr double kCutoff = 0.25;    // the edge's place in the range
constexpr int kBaselineShift = 27;  // the clients' glyph tops are relative to this line
constexpr double kInfinity = 1e20;

// The ranges the clients draw with the browser's fonts: CJK ideographs (extension A, unified,
// compatibility) and Hangul syllables.
bool drawn_by_browser(unsigned c) {
    return (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) ||
           (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xAC00 && c <= 0xD7A3);
}

// The exact squared Euclidean distance transform of one row or column `f` of `n` values in
// place (the lower envelope of parabolas rooted at each sample).
void edt_1d(double* f, int n, int stride, std::vector<double>& d, std::vector<int>& v,
            std::vector<double>& z) {
    d.resize(static_cast<std::size_t>(n));
    v.resize(static_cast<std::size_t>(n));
    z.resize(static_cast<std::size_t>(n) + 1);
    auto at = [&](int i) { return f[static_cast<std::ptrdiff_t>(i) * stride]; };
    std::size_t k = 0;
    v[0] = 0;
    z[0] = -kInfinity;
    z[1] = kInfinity;
    for (int q = 1; q < n; ++q) {
        // Where the parabola of q overtakes the last of the envelope; those it hides go.
        auto meet = [&](int r) { return ((at(q) + q * q) - (at(r) + r * r)) / (2.0 * (q - r)); };
        double s = meet(v[k]);
        while (s <= z[k]) s = meet(v[--k]);
        ++k;
        v[k] = q;
        z[k] = s;
        z[k + 1] = kInfinity;
    }
    k = 0;
    for (int q = 0; q < n; ++q) {
        while (z[k + 1] < q) ++k;
        const int r = v[k];
        d[static_cast<std::size_t>(q)] = (q - r) * (q - r) + at(r);
    }
    for (int q = 0; q < n; ++q)
        f[static_cast<std::ptrdiff_t>(q) * stride] = d[static_cast<std::size_t>(q)];
}

// The two-dimensional transform: columns, then rows.
void edt(std::vector<double>& grid, int w, int h) {
    std::vector<double> d, z;
    std::vector<int> v;
    for (int x = 0; x < w; ++x) edt_1d(grid.data() + x, h, w, d, v, z);
    for (int y = 0; y < h; ++y)
        edt_1d(grid.data() + static_cast<std::ptrdiff_t>(y) * w, w, 1, d, v, z);
}

// The signed distance field of a coverage bitmap (0 to 255, `pitch` bytes a row) of w x h
// pixels, with the border: (w + 6) x (h + 6) bytes.
std::string distance_field(const unsigned char* coverage, int pitch, int w, int h) {
    const int fw = w + 2 * kBorder, fh = h + 2 * kBorder;
    std::vector<double> outer(static_cast<std::size_t>(fw) * fh, kInfinity);
    std::vector<double> inner(static_cast<std::size_t>(fw) * fh, 0);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const double a = coverage[y * pitch + x] / 255.0;
            const std::size_t i = static_cast<std::size_t>(y + kBorder) * fw + (x + kBorder);
            if (a >= 1) {
                outer[i] = 0;
                inner[i] = kInfinity;
            } else if (a > 0) {  // an edge pixel: its distance to the edge from its coverage
                outer[i] = std::pow(std::max(0.0, 0.5 - a), 2);
                inner[i] = std::pow(std::max(0.0, a - 0.5), 2);
            }
        }
    edt(outer, fw, fh);
    edt(inner, fw, fh);
    std::string out(static_cast<std::size_t>(fw) * fh, '\0');
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double d = std::sqrt(outer[i]) - std::sqrt(inner[i]);
        const double v = 255 - 255 * (d / kRadius + kCutoff);
        out[i] =
            static_cast<char>(static_cast<unsigned char>(std::lround(std::clamp(v, 0.0, 255.0))));
    }
    return out;
}

// Finds the font file and face of `family` through fontconfig; false when no font of exactly
// that family is installed.
bool find_font(const std::string& family, std::string& file, int& index) {
    if (!FcInit()) return false;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(family.c_str()));
    FcConfigSubstitute(nullptr, pattern, FcMatchPattern);
    FcDefaultSubstitute(pattern);
    FcResult result;
    FcPattern* match = FcFontMatch(nullptr, pattern, &result);
    FcPatternDestroy(pattern);
    bool found = false;
    if (match != nullptr) {
        FcChar8* name = nullptr;
        for (int i = 0; !found && FcPatternGetString(match, FC_FAMILY, i, &name) == FcResultMatch;
             ++i)
            found = family == reinterpret_cast<const char*>(name);
        FcChar8* path = nullptr;
        found = found && FcPatternGetString(match, FC_FILE, 0, &path) == FcResultMatch;
        if (found) file = reinterpret_cast<const char*>(path);
        if (FcPatternGetInteger(match, FC_INDEX, 0, &index) != FcResultMatch) index = 0;
        FcPatternDestroy(match);
    }
    FcFini();  // fontconfig's configuration, no longer needed
    return found;
}

// Writes one range's glyphs message: fontstack name, range, and a glyph for every code point
// the face has.
std::string range_pbf(FT_Face face, const std::string& fontstack, unsigned start, int& glyphs) {
    std::string out;
    protozero::pbf_writer root(out);
    protozero::pbf_writer stack(root, 1);
    stack.add_string(1, fontstack);
    stack.add_string(2, std::to_string(start) + "-" + std::to_string(start + 255));
    for (unsigned c = start; c <= start + 255; ++c) {
        if (drawn_by_browser(c)) continue;
        const FT_UInt index = FT_Get_Char_Index(face, c);
        if (index == 0 || FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP | FT_LOAD_NO_HINTING) != 0 ||
            FT_Render_Glyph(face->glyph, FT_RENDER_MODE_NORMAL) != 0)
            continue;
        const FT_GlyphSlot g = face->glyph;
        const int w = static_cast<int>(g->bitmap.width), h = static_cast<int>(g->bitmap.rows);
        protozero::pbf_writer glyph(stack, 3);
        glyph.add_uint32(1, c);
        if (w > 0 && h > 0)
            glyph.add_bytes(2, distance_field(g->bitmap.buffer, g->bitmap.pitch, w, h));
        glyph.add_uint32(3, static_cast<std::uint32_t>(w));
        glyph.add_uint32(4, static_cast<std::uint32_t>(h));
        glyph.add_sint32(5, g->bitmap_left);
        glyph.add_sint32(6, g->bitmap_top - kBaselineShift);
        glyph.add_uint32(7, static_cast<std::uint32_t>(std::lround(g->advance.x / 64.0)));
        ++glyphs;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::string folder, family = "WenQuanYi Zen Hei Sharp", fontstack;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        if (a == "--out")
            folder = argv[i + 1];
        else if (a == "--family")
            family = argv[i + 1];
        else if (a == "--fontstack")
            fontstack = argv[i + 1];
    }
    if (folder.empty() || argc % 2 == 0) {
        std::cerr << "usage: kglyphs --out FOLDER [--family FAMILY] [--fontstack NAME]\n";
        return 2;
    }
    std::string file;
    int index = 0;
    if (!find_font(family, file, index)) {
        std::cerr << "kglyphs: fontconfig finds no font of the family '" << family
                  << "' (Debian's fonts-wqy-zenhei)\n";
        return 1;
    }
    FT_Library ft;
    FT_Face face;
    if (FT_Init_FreeType(&ft) != 0 || FT_New_Face(ft, file.c_str(), index, &face) != 0 ||
        FT_Set_Pixel_Sizes(face, 0, kSize) != 0) {
        std::cerr << "kglyphs: FreeType cannot open " << file << "\n";
        return 1;
    }
    if (fontstack.empty()) fontstack = std::string(face->family_name) + " " + face->style_name;
    const std::filesystem::path dir = std::filesystem::path(folder) / fontstack;
    std::filesystem::create_directories(dir);
    int glyphs = 0;
    for (unsigned start = 0; start < 0x10000; start += 256) {
        const std::string pbf = range_pbf(face, fontstack, start, glyphs);
        const auto name = std::to_string(start) + "-" + std::to_string(start + 255) + ".pbf";
        // Written beside and renamed, so that a range is never seen half written.
        const auto tmp = dir / (name + ".tmp");
        std::ofstream(tmp, std::ios::binary) << pbf;
        std::filesystem::rename(tmp, dir / name);
    }
    FT_Done_Face(face);
    FT_Done_FreeType(ft);
    std::cout << "kglyphs: " << glyphs << " glyphs of " << fontstack << " in " << dir.string()
              << "\n";
    return 0;
}
