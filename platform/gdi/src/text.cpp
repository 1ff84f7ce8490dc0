/*
 * text.cpp: the default font and text drawing.
 *
 * The font is found once through fontconfig: the face "WenQuanYi Zen Hei Sharp" (which has
 * crisp embedded bitmap strikes for ASCII and Chinese), or failing that any face covering
 * Traditional Chinese. Text is drawn at the pixel size of the device context (12 by default),
 * monochrome: from an embedded bitmap strike when the face has one of that size (the Sharp face
 * has 12 to 16), otherwise from the outlines. Outlines below 20 pixels are drawn unhinted
 * (full hinting drops strokes of these faces in monochrome); from 20 pixels on they are lightly
 * hinted, which only snaps vertical positions to whole rows, so horizontal strokes stay one
 * row sharp and none is lost. Each glyph is rendered once per size into a cache and then copied
 * as a bit mask, so text keeps exactly two colours.
 *
 * Text arrives in code page 950 (Big5): bytes below 0x80 are ASCII, a lead byte 0x81..0xFE and
 * the byte after it are one character, read as a pair by kcommon's Big5 codec (kcommon/big5.h).
 * A trail byte may be an ASCII letter or a backslash, so bytes are never decoded one at a time.
 * Characters the font lacks and invalid bytes are drawn as boxes: a pair that is no character
 * as a wide box, a lone byte as a narrow one.
 */
#include <fontconfig/fontconfig.h>
#include <ft2build.h>

#include "detail.h"
#include FT_FREETYPE_H

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "kcommon/big5.h"

namespace kgdi::detail {
namespace {

constexpr const char* kFontFamily = "WenQuanYi Zen Hei Sharp";
constexpr const char* kFallbackPattern = ":lang=zh-tw";
/* Outlines from this pixel size on are lightly hinted, smaller ones unhinted. */
constexpr int kLightHintingMinSize = 20;
/* Metrics used when no font can be loaded at all (text is then drawn as boxes), at the default
 * size; other sizes scale them. */
constexpr int kFallbackAscender = 13;
constexpr int kFallbackLineHeight = 16;
/* Replacement boxes at the default size: advances of half width for one byte and full width
 * for a pair, at most 10 rows high. Other sizes scale them. */
constexpr int kBoxAdvanceSingle = 6;
constexpr int kBoxAdvanceDouble = 12;
constexpr int kBoxRows = 10;
/* Glyph masks kept in all sizes together. Past this many bytes every size's cache is emptied
 * before the next text is drawn (at 12 pixels all of Big5 takes about 2 MB, at 128 pixels
 * each character 16 KB), so that text in many sizes cannot hold memory without bound. */
constexpr size_t kGlyphCacheBytes = size_t{32} << 20;

/* Printable ASCII. */
constexpr unsigned kAsciiPrintFirst = 0x20, kAsciiPrintLast = 0x7E;

/* Cache keys beyond Unicode for the two replacement boxes. */
constexpr uint32_t kBoxSingleKey = 0x110000;
constexpr uint32_t kBoxDoubleKey = 0x110001;

struct Glyph {
    int left = 0;  // from the pen position to the first column
    int top = 0;   // rows above the baseline
    int width = 0;
    int rows = 0;
    int advance = 0;
    std::vector<uint8_t> mask;  // width * rows, 1 = ink
};

/* The metrics and the rendered glyphs of one pixel size. */
struct SizeCache {
    int size = 0;
    bool outlines_or_strike = false;  // the face could be set to this size
    FT_Int32 load_flags = 0;
    bool render_mono = false;  // outlines are loaded hinted, then rendered in two colours
    int ascender = 0;
    int line_height = 0;
    std::unordered_map<uint32_t, Glyph> glyphs;
};

class Font {
  public:
    Font() { Open(); }
    ~Font() {
        if (face_) FT_Done_Face(face_);
        if (library_) FT_Done_FreeType(library_);
    }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;

    std::mutex lock;

    /* The metrics and glyphs of a pixel size, set up on first use. */
    SizeCache& AtSize(int size) {
        if (size == last_size_) return *last_;
        SizeCache& sc = sizes_[size];
        if (sc.size == 0) SetUp(sc, size);
        last_size_ = size;
        last_ = &sc;
        return sc;
    }

    /* The glyph of a code point (or a box key) at a size, rendered on first use. */
    const Glyph& GlyphFor(SizeCache& sc, uint32_t key) {
        auto it = sc.glyphs.find(key);
        if (it != sc.glyphs.end()) return it->second;
        return Add(sc, key);
    }

    /* Empties every size's glyphs when they hold more than kGlyphCacheBytes; called before
     * a text's glyphs are looked up, never while their references are in use. */
    void Trim() {
        if (glyph_bytes_ <= kGlyphCacheBytes) return;
        for (auto& [size, sc] : sizes_) sc.glyphs.clear();
        glyph_bytes_ = 0;
    }

  private:
    void Open() {
        if (FT_Init_FreeType(&library_) != 0) {
            library_ = nullptr;
            return;
        }
        std::string path;
        int index = 0;
        // A private fontconfig configuration, freed once the file is found, so that the
        // process-wide one of other users (a GUI toolkit) is left alone.
        FcConfig* config = FcInitLoadConfigAndFonts();
        const bool found = config && (Match(config, kFontFamily, true, &path, &index) ||
                                      Match(config, kFallbackPattern, false, &path, &index));
        if (config) FcConfigDestroy(config);
        if (!found) return;
        if (FT_New_Face(library_, path.c_str(), index, &face_) != 0) {
            face_ = nullptr;
            return;
        }
        FT_Select_Charmap(face_, FT_ENCODING_UNICODE);
    }

    /* Renders a glyph into the cache of its size (kept out of the look-up above). */
    [[gnu::noinline]] const Glyph& Add(SizeCache& sc, uint32_t key) {
        const Glyph& g = sc.glyphs.emplace(key, Render(sc, key)).first->second;
        glyph_bytes_ += g.mask.size() + sizeof g;
        return g;
    }

    /* Sets the face to a pixel size (the size glyphs are rendered at next). */
    bool Activate(int size) {
        if (size == active_size_) return true;
        if (FT_Set_Pixel_Sizes(face_, 0, static_cast<FT_UInt>(size)) != 0) return false;
        active_size_ = size;
        return true;
    }

    /* The metrics and load flags of a size: a bitmap strike when the face has one of this
     * size, else outlines; without a face (or when the face refuses the size) every glyph is a
     * box, with metrics scaled from the fallback ones. */
    void SetUp(SizeCache& sc, int size) {
        sc.size = size;
        sc.ascender = kFallbackAscender * size / kDefaultFontSize;
        sc.line_height = kFallbackLineHeight * size / kDefaultFontSize;
        if (!face_ || !Activate(size)) return;
        sc.outlines_or_strike = true;
        bool strike = false;
        for (int i = 0; i < face_->num_fixed_sizes; ++i)
            if (face_->available_sizes[i].height == size ||
                (face_->available_sizes[i].y_ppem >> 6) == size)
                strike = true;
        if (strike || size < kLightHintingMinSize) {
            sc.load_flags = FT_LOAD_RENDER | FT_LOAD_MONOCHROME | FT_LOAD_TARGET_MONO;
            if (!strike) sc.load_flags |= FT_LOAD_NO_HINTING;
        } else {
            sc.load_flags = FT_LOAD_NO_BITMAP | FT_LOAD_TARGET_LIGHT;
            sc.render_mono = true;
        }
        const FT_Size_Metrics& m = face_->size->metrics;
        sc.ascender = static_cast<int>((m.ascender + 63) >> 6);
        sc.line_height = static_cast<int>((m.height + 63) >> 6);
        if (sc.line_height <= 0) sc.line_height = kFallbackLineHeight * size / kDefaultFontSize;
        if (sc.ascender <= 0 || sc.ascender > sc.line_height)
            sc.ascender = sc.line_height * 13 / 16;
    }

    /* Finds a font file through fontconfig; `exact` requires the family to match. */
    static bool Match(FcConfig* config, const char* pattern_text, bool exact, std::string* path,
                      int* index) {
        FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>(pattern_text));
        if (!pattern) return false;
        FcConfigSubstitute(config, pattern, FcMatchPattern);
        FcDefaultSubstitute(pattern);
        FcResult result = FcResultNoMatch;
        FcPattern* match = FcFontMatch(config, pattern, &result);
        FcPatternDestroy(pattern);
        if (!match) return false;
        bool ok = false;
        FcChar8* file = nullptr;
        FcChar8* family = nullptr;
        int face_index = 0;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch) {
            ok = true;
            if (exact) {
                ok = false;
                for (int i = 0; FcPatternGetString(match, FC_FAMILY, i, &family) == FcResultMatch;
                     ++i)
                    if (std::strcmp(reinterpret_cast<const char*>(family), pattern_text) == 0)
                        ok = true;
            }
            if (FcPatternGetInteger(match, FC_INDEX, 0, &face_index) != FcResultMatch)
                face_index = 0;
        }
        if (ok) {
            *path = reinterpret_cast<const char*>(file);
            *index = face_index;
        }
        FcPatternDestroy(match);
        return ok;
    }

    /* A replacement box of `advance` pixels at the default size, scaled to the cache's size. */
    static Glyph Box(const SizeCache& sc, int advance) {
        const int size = sc.size;
        const int stroke = std::max(1, size / kDefaultFontSize);
        Glyph g;
        g.advance = std::max(2 * stroke + 1, advance * size / kDefaultFontSize);
        g.left = stroke;
        g.width = g.advance - 2 * stroke;
        g.rows =
            std::max(2 * stroke + 1, std::min(kBoxRows * size / kDefaultFontSize, sc.ascender));
        g.top = g.rows;
        g.mask.assign(static_cast<size_t>(g.width) * g.rows, 0);
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x)
                if (y < stroke || y >= g.rows - stroke || x < stroke || x >= g.width - stroke)
                    g.mask[static_cast<size_t>(y) * g.width + x] = 1;
        return g;
    }

    Glyph Render(const SizeCache& sc, uint32_t key) {
        if (key == kBoxSingleKey) return Box(sc, kBoxAdvanceSingle);
        if (key == kBoxDoubleKey) return Box(sc, kBoxAdvanceDouble);
        const int box = key >= 0x80 ? kBoxAdvanceDouble : kBoxAdvanceSingle;
        if (!sc.outlines_or_strike || !Activate(sc.size)) return Box(sc, box);
        const FT_UInt index = FT_Get_Char_Index(face_, key);
        if (index == 0 || FT_Load_Glyph(face_, index, sc.load_flags) != 0) return Box(sc, box);
        const FT_GlyphSlot slot = face_->glyph;
        if (sc.render_mono && slot->format != FT_GLYPH_FORMAT_BITMAP &&
            FT_Render_Glyph(slot, FT_RENDER_MODE_MONO) != 0)
            return Box(sc, box);
        const FT_Bitmap& bm = slot->bitmap;
        Glyph g;
        g.advance = static_cast<int>((slot->advance.x + 32) >> 6);
        g.left = slot->bitmap_left;
        g.top = slot->bitmap_top;
        g.width = static_cast<int>(bm.width);
        g.rows = static_cast<int>(bm.rows);
        g.mask.assign(static_cast<size_t>(g.width) * g.rows, 0);
        for (int y = 0; y < g.rows; ++y) {
            const unsigned char* row = bm.buffer + static_cast<ptrdiff_t>(y) * bm.pitch;
            for (int x = 0; x < g.width; ++x) {
                bool ink;
                if (bm.pixel_mode == FT_PIXEL_MODE_MONO)
                    ink = (row[x >> 3] >> (7 - (x & 7))) & 1;
                else
                    ink = row[x] >= 128;
                g.mask[static_cast<size_t>(y) * g.width + x] = ink ? 1 : 0;
            }
        }
        return g;
    }

    FT_Library library_ = nullptr;
    FT_Face face_ = nullptr;
    int active_size_ = 0;                       // the pixel size the face is set to, 0: none yet
    std::unordered_map<int, SizeCache> sizes_;  // nodes stay put: last_ remains valid
    int last_size_ = 0;
    SizeCache* last_ = nullptr;
    size_t glyph_bytes_ = 0;  // masks and glyphs of every size
};

Font& TheFont() {
    static Font* font = new Font;  // kept for the process: text may be drawn during exit
    return *font;
}

/* Glyph keys of code page 950 text. */
void KeysOf950(const char* text, int len, std::vector<uint32_t>& keys) {
    keys.clear();
    std::string_view rest(text, static_cast<size_t>(len));
    while (!rest.empty()) {
        const kcommon::Big5Char c = kcommon::big5_next(rest);
        if (c.code == kcommon::kNotBig5)
            keys.push_back(c.bytes == 2 ? kBoxDoubleKey : kBoxSingleKey);
        else if (c.code < 0x80)
            keys.push_back(c.code >= kAsciiPrintFirst && c.code <= kAsciiPrintLast ? c.code
                                                                                   : kBoxSingleKey);
        else
            keys.push_back(c.code);
        rest.remove_prefix(c.bytes);
    }
}

/* Glyph keys of UTF-16 text; unpaired surrogates become boxes. */
void KeysOfUtf16(const uint16_t* text, int len, std::vector<uint32_t>& keys) {
    keys.clear();
    for (int i = 0; i < len; ++i) {
        const uint32_t u = text[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < len && text[i + 1] >= 0xDC00 &&
            text[i + 1] < 0xE000) {
            keys.push_back(0x10000 + ((u - 0xD800) << 10) + (text[i + 1] - 0xDC00u));
            ++i;
        } else if (u >= 0xD800 && u < 0xE000) {
            keys.push_back(kBoxSingleKey);
        } else {
            keys.push_back(u < kAsciiPrintFirst ? kBoxSingleKey : u);
        }
    }
}

/* Copies the glyphs' ink masks onto the pixels of one type, the first glyph's pen position
 * at x and the baseline at `baseline`. */
template <typename T>
void BlitGlyphs(const Plane<T>& s, const std::vector<const Glyph*>& glyphs, int64_t x,
                int64_t baseline, T ink) {
    int64_t pen = x;
    for (const Glyph* g : glyphs) {
        const int64_t gx = pen + g->left, gy = baseline - g->top;
        pen += g->advance;
        if (gx >= s.width || gy >= s.height || gx + g->width <= 0 || gy + g->rows <= 0) continue;
        const int r0 = static_cast<int>(std::max<int64_t>(0, -gy));
        const int r1 = static_cast<int>(std::min<int64_t>(g->rows, s.height - gy));
        const int c0 = static_cast<int>(std::max<int64_t>(0, -gx));
        const int c1 = static_cast<int>(std::min<int64_t>(g->width, s.width - gx));
        for (int r = r0; r < r1; ++r) {
            const uint8_t* m = g->mask.data() + static_cast<size_t>(r) * g->width;
            T* row = s.Row(gy + r) + gx;
            for (int c = c0; c < c1; ++c)
                if (m[c]) row[c] = ink;
        }
    }
}

/* Draws the glyphs of `keys` at the context's pixel size with the font lock held: the box in
 * the background colour when the mode is opaque, then the ink in the text colour. */
void DrawKeys(Font& font, const Dc& dc, int x, int y, const std::vector<uint32_t>& keys) {
    const Surface& s = dc.surface();
    font.Trim();
    SizeCache& sc = font.AtSize(dc.font_size);
    std::vector<const Glyph*>& glyphs =
        PerThread<std::vector<const Glyph*>, struct TextGlyphsTag>();
    glyphs.clear();
    int64_t width = 0;
    for (uint32_t k : keys) {
        const Glyph& g = font.GlyphFor(sc, k);
        glyphs.push_back(&g);
        width += g.advance;
    }
    if (!s.top) return;
    if (dc.bk_mode == OPAQUE)
        FillRectPixels(s, x, y, int64_t{x} + width, int64_t{y} + sc.line_height, dc.bk_color);
    const uint32_t ink = s.ValueOf(dc.text_color);
    s.Visit([&](const auto& plane) {
        using T = std::remove_reference_t<decltype(*plane.top)>;
        BlitGlyphs(plane, glyphs, x, int64_t{y} + sc.ascender, static_cast<T>(ink));
    });
}

}  // namespace

void DrawText950(const Dc& dc, int x, int y, const char* text, int len) {
    Font& font = TheFont();
    const std::lock_guard<std::mutex> guard(font.lock);
    std::vector<uint32_t>& keys = PerThread<std::vector<uint32_t>, struct TextKeysTag>();
    KeysOf950(text, len, keys);
    DrawKeys(font, dc, x, y, keys);
}

void DrawTextUtf16(const Dc& dc, int x, int y, const uint16_t* text, int len) {
    Font& font = TheFont();
    const std::lock_guard<std::mutex> guard(font.lock);
    std::vector<uint32_t>& keys = PerThread<std::vector<uint32_t>, struct TextKeysTag>();
    KeysOfUtf16(text, len, keys);
    DrawKeys(font, dc, x, y, keys);
}

void MeasureText950(int size, const char* text, int len, int* width, int* height) {
    Font& font = TheFont();
    const std::lock_guard<std::mutex> guard(font.lock);
    font.Trim();
    SizeCache& sc = font.AtSize(size);
    std::vector<uint32_t>& keys = PerThread<std::vector<uint32_t>, struct TextKeysTag>();
    KeysOf950(text, len, keys);
    int64_t w = 0;
    for (uint32_t k : keys) w += font.GlyphFor(sc, k).advance;
    *width = static_cast<int>(std::min<int64_t>(w, INT32_MAX));
    *height = sc.line_height;
}

}  // namespace kgdi::detail
