/*
 * text.cpp: the default font and text drawing.
 *
 * The font is found once through fontconfig: the face "WenQuanYi Zen Hei Sharp" (which has
 * crisp embedded bitmap strikes for ASCII and Chinese), or failing that any face covering
 * Traditional Chinese. FreeType loads it at 12 pixels, monochrome: embedded bitmaps when the
 * face has a 12-pixel strike, otherwise unhinted outlines (hinting drops strokes of these faces
 * in monochrome). Each glyph is rendered once into a cache and then copied as a bit mask, so
 * text keeps exactly two colours.
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
#include <unordered_map>

#include "kcommon/big5.h"

namespace kgdi::detail {
namespace {

constexpr const char* kFontFamily = "WenQuanYi Zen Hei Sharp";
constexpr const char* kFallbackPattern = ":lang=zh-tw";
constexpr int kPixelSize = 12;
/* Metrics used when no font can be loaded at all (text is then drawn as boxes). */
constexpr int kFallbackAscender = 13;
constexpr int kFallbackLineHeight = 16;
/* Advances of replacement boxes: half-width for one byte, full width for a pair. */
constexpr int kBoxAdvanceSingle = 6;
constexpr int kBoxAdvanceDouble = 12;

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
    int ascender() const { return ascender_; }
    int line_height() const { return line_height_; }

    /* The glyph of a code point (or a box key), rendered on first use. */
    const Glyph& GlyphFor(uint32_t key) {
        auto it = cache_.find(key);
        if (it != cache_.end()) return it->second;
        return cache_.emplace(key, Render(key)).first->second;
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
        if (FT_Set_Pixel_Sizes(face_, 0, kPixelSize) != 0) {
            FT_Done_Face(face_);
            face_ = nullptr;
            return;
        }
        bool strike = false;
        for (int i = 0; i < face_->num_fixed_sizes; ++i)
            if (face_->available_sizes[i].height == kPixelSize ||
                (face_->available_sizes[i].y_ppem >> 6) == kPixelSize)
                strike = true;
        load_flags_ = FT_LOAD_RENDER | FT_LOAD_MONOCHROME | FT_LOAD_TARGET_MONO;
        if (!strike) load_flags_ |= FT_LOAD_NO_HINTING;
        const FT_Size_Metrics& m = face_->size->metrics;
        ascender_ = static_cast<int>((m.ascender + 63) >> 6);
        line_height_ = static_cast<int>((m.height + 63) >> 6);
        if (line_height_ <= 0) line_height_ = kFallbackLineHeight;
        if (ascender_ <= 0 || ascender_ > line_height_) ascender_ = line_height_ * 13 / 16;
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

    Glyph Box(int advance) const {
        Glyph g;
        g.advance = advance;
        g.left = 1;
        g.width = advance - 2;
        g.rows = std::min(10, ascender_);
        g.top = g.rows;
        g.mask.assign(static_cast<size_t>(g.width) * g.rows, 0);
        for (int y = 0; y < g.rows; ++y)
            for (int x = 0; x < g.width; ++x)
                if (y == 0 || y == g.rows - 1 || x == 0 || x == g.width - 1)
                    g.mask[static_cast<size_t>(y) * g.width + x] = 1;
        return g;
    }

    Glyph Render(uint32_t key) {
        if (key == kBoxSingleKey) return Box(kBoxAdvanceSingle);
        if (key == kBoxDoubleKey) return Box(kBoxAdvanceDouble);
        const bool wide = key >= 0x80;
        if (!face_) return Box(wide ? kBoxAdvanceDouble : kBoxAdvanceSingle);
        const FT_UInt index = FT_Get_Char_Index(face_, key);
        if (index == 0 || FT_Load_Glyph(face_, index, load_flags_) != 0)
            return Box(wide ? kBoxAdvanceDouble : kBoxAdvanceSingle);
        const FT_GlyphSlot slot = face_->glyph;
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
    FT_Int32 load_flags_ = 0;
    int ascender_ = kFallbackAscender;
    int line_height_ = kFallbackLineHeight;
    std::unordered_map<uint32_t, Glyph> cache_;
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

/* Draws the glyphs of `keys` with the font lock held. */
void DrawKeys(Font& font, const Dc& dc, int x, int y, const std::vector<uint32_t>& keys) {
    const Surface s = dc.surface();
    std::vector<const Glyph*>& glyphs =
        PerThread<std::vector<const Glyph*>, struct TextGlyphsTag>();
    glyphs.clear();
    int64_t width = 0;
    for (uint32_t k : keys) {
        const Glyph& g = font.GlyphFor(k);
        glyphs.push_back(&g);
        width += g.advance;
    }
    if (dc.bk_mode == OPAQUE)
        FillRectPixels(s, x, y, int64_t{x} + width, int64_t{y} + font.line_height(),
                       PixelFromColor(dc.bk_color));
    const uint32_t ink = PixelFromColor(dc.text_color);
    int64_t pen = x;
    const int64_t baseline = int64_t{y} + font.ascender();
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
            uint32_t* row = s.pixels + static_cast<size_t>(gy + r) * s.width + gx;
            for (int c = c0; c < c1; ++c)
                if (m[c]) row[c] = ink;
        }
    }
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

void MeasureText950(const char* text, int len, int* width, int* height) {
    Font& font = TheFont();
    const std::lock_guard<std::mutex> guard(font.lock);
    std::vector<uint32_t>& keys = PerThread<std::vector<uint32_t>, struct TextKeysTag>();
    KeysOf950(text, len, keys);
    int64_t w = 0;
    for (uint32_t k : keys) w += font.GlyphFor(k).advance;
    *width = static_cast<int>(std::min<int64_t>(w, INT32_MAX));
    *height = font.line_height();
}

}  // namespace kgdi::detail
