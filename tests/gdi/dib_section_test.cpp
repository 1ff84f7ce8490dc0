/*
 * dib_section_test.cpp: DIB sections. Their bits are laid out as in BMP files (checked by
 * decoding them with Pillow), a colour takes the colour-table entry the layer documents, and
 * every primitive (lines of every pen kind, clipped or not, polygons, rectangles, text at two
 * sizes, metafiles) drawn into an 8-bit section expands through its table to exactly the
 * 32-bit picture, or, for colours missing from the table, to the 32-bit picture with each
 * colour replaced by its entry. Copies and conversions between the depths, colour-table
 * changes and the refusals of CreateDIBSection.
 */
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <vector>

#include "emf_writer.h"
#include "gdi_test_util.h"

using kgdi_test::Canvas;

namespace {

struct Info256 {
    BITMAPINFOHEADER h;
    RGBQUAD colors[256];
};

RGBQUAD Quad(COLORREF c) {
    return RGBQUAD{GetBValue(c), GetGValue(c), GetRValue(c), 0};
}

/* The BITMAPINFO of a DIB section, its table the given colours. */
Info256 SectionInfo(int width, int height, int bits, const std::vector<COLORREF>& table) {
    Info256 info{};
    info.h.biSize = 40;
    info.h.biWidth = width;
    info.h.biHeight = height;
    info.h.biPlanes = 1;
    info.h.biBitCount = static_cast<WORD>(bits);
    info.h.biCompression = BI_RGB;
    info.h.biClrUsed = static_cast<DWORD>(table.size());
    for (size_t i = 0; i < table.size(); ++i) info.colors[i] = Quad(table[i]);
    return info;
}

/* A memory context holding a DIB section: 8 bits with a colour table, or 32 bits. */
class Section {
  public:
    Section(int width, int height, bool bottom_up, const std::vector<COLORREF>& table, int bits = 8)
        : width_(width), height_(height) {
        dc_ = CreateCompatibleDC(nullptr);
        const Info256 info = SectionInfo(width, bottom_up ? height : -height, bits, table);
        bitmap_ = CreateDIBSection(dc_, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS,
                                   &bits_, nullptr, 0);
        old_ = SelectObject(dc_, bitmap_);
    }
    ~Section() {
        SelectObject(dc_, old_);
        DeleteObject(bitmap_);
        DeleteDC(dc_);
    }
    Section(const Section&) = delete;
    Section& operator=(const Section&) = delete;

    HDC dc() const { return dc_; }
    HBITMAP bitmap() const { return bitmap_; }
    uint8_t* bits() const { return static_cast<uint8_t*>(bits_); }

  private:
    int width_, height_;
    HDC dc_;
    HBITMAP bitmap_;
    HGDIOBJ old_;
    void* bits_ = nullptr;
};

/* The picture of a context's bitmap as 0x00RRGGBB words, rows top-down (GetDIBits). */
std::vector<uint32_t> Words(HDC dc, HBITMAP bitmap, int width, int height) {
    Info256 info = SectionInfo(width, -height, 32, {});
    std::vector<uint32_t> words(static_cast<size_t>(width) * height);
    EXPECT_EQ(GetDIBits(dc, bitmap, 0, height, words.data(), reinterpret_cast<BITMAPINFO*>(&info),
                        DIB_RGB_COLORS),
              height);
    return words;
}

uint32_t Word(COLORREF c) {
    return uint32_t{GetRValue(c)} << 16 | uint32_t{GetGValue(c)} << 8 | GetBValue(c);
}

/* The entry a colour should take, found here by brute force: least squared distance, the
 * lowest index on ties. */
int NearestEntry(uint32_t word, const std::vector<COLORREF>& table) {
    int best = 0;
    long best_d = -1;
    for (size_t i = 0; i < table.size(); ++i) {
        const long dr = long((word >> 16) & 0xFF) - GetRValue(table[i]);
        const long dg = long((word >> 8) & 0xFF) - GetGValue(table[i]);
        const long db = long(word & 0xFF) - GetBValue(table[i]);
        const long d = dr * dr + dg * dg + db * db;
        if (best_d < 0 || d < best_d) {
            best_d = d;
            best = static_cast<int>(i);
        }
    }
    return best;
}

const COLORREF kPaper = RGB(250, 248, 240);
const COLORREF kRoad = RGB(128, 64, 64);
const COLORREF kRiver = RGB(0, 0, 255);
const COLORREF kPark = RGB(200, 230, 200);
const COLORREF kWideRoad = RGB(255, 100, 100);
const COLORREF kInk = RGB(0, 0, 0);
const COLORREF kLabelBox = RGB(255, 255, 0);
const COLORREF kEmfPen = RGB(0, 128, 0);
const COLORREF kEmfFill = RGB(0, 255, 255);
const COLORREF kEmfText = RGB(190, 0, 0);
const COLORREF kDot = RGB(12, 34, 56);

/* A metafile with a pen, a brush, a filled polygon, a polyline and text. */
std::vector<uint8_t> SceneMetafile(const std::string& path) {
    kgdi_test::EmfWriter w(path);
    w.Select(w.Brush(kEmfFill));
    w.Select(w.Pen(3, kEmfPen));
    w.Polygon16({{10, 10}, {60, 20}, {40, 70}, {5, 50}});
    w.Polyline({{0, 90}, {100, 80}, {30, 30}});
    w.Add(U_EMRSETBKMODE_set(U_TRANSPARENT));
    w.Add(U_EMRSETTEXTCOLOR_set(
        U_RGB(GetRValue(kEmfText), GetGValue(kEmfText), GetBValue(kEmfText))));
    w.Text(50, 50, "Park \xA4\xA4");
    return w.Finish();
}

/* Draws the same picture into any context of 160 x 120 pixels: every kind of primitive, some
 * reaching over the edges. */
void DrawScene(HDC dc, const std::vector<uint8_t>& emf) {
    HBRUSH paper = CreateSolidBrush(kPaper);
    const RECT all{0, 0, 160, 120};
    FillRect(dc, &all, paper);
    DeleteObject(paper);
    HBRUSH park = CreateSolidBrush(kPark);
    HGDIOBJ old_brush = SelectObject(dc, park);
    HGDIOBJ old_pen = SelectObject(dc, GetStockObject(NULL_PEN));
    const POINT star[5] = {{80, -10}, {100, 110}, {20, 40}, {150, 40}, {60, 110}};
    Polygon(dc, star, 5);
    const struct {
        int width;
        COLORREF colour;
    } pens[] = {{0, kRoad}, {1, kRiver}, {2, kRoad}, {3, kWideRoad}, {5, kRiver}, {9, kWideRoad}};
    int row = 8;
    for (const auto& p : pens) {
        HPEN pen = CreatePen(PS_SOLID, p.width, p.colour);
        SelectObject(dc, pen);
        const POINT zigzag[6] = {{-20, row},    {13, row + 3}, {15, row + 1},
                                 {16, row + 4}, {90, row - 2}, {175, row + 12}};
        Polyline(dc, zigzag, 6);
        const POINT box[4] = {{120, row}, {140, row + 6}, {130, row + 14}, {118, row + 9}};
        Polygon(dc, box, 4);
        SelectObject(dc, old_pen);
        DeleteObject(pen);
        row += 18;
    }
    SelectObject(dc, old_brush);
    DeleteObject(park);
    RECT played{-10, 5, 110, 125};
    HENHMETAFILE meta = KgdiLoadEnhMetaFile(emf.data(), emf.size());
    PlayEnhMetaFile(dc, meta, &played);
    DeleteEnhMetaFile(meta);
    SetTextColor(dc, kInk);
    SetBkColor(dc, kLabelBox);
    SetBkMode(dc, OPAQUE);
    TextOutA(dc, 100, 60, "Harbour \xA5\x78", 10);
    SetBkMode(dc, TRANSPARENT);
    KgdiSetFontPixelSize(dc, 24);
    TextOutA(dc, -6, 90, "Ab \xA4\xA4\xA4\xDF", 7);
    KgdiSetFontPixelSize(dc, 12);
    SetPixel(dc, 3, 3, kDot);
}

class DibSections : public ::testing::Test {
  protected:
    kgdi_test::TempDir dir_;
};

/* A colour table and whether it holds every colour of the scene. */
struct TableCase {
    const char* name;
    bool bottom_up;
    std::vector<COLORREF> table;
};

void PrintTo(const TableCase& c, std::ostream* os) {
    *os << c.name;
}

class DibSectionDrawing : public DibSections, public ::testing::WithParamInterface<TableCase> {};

/* A BMP file made from a section's own bits and table, as a BMP file stores them. */
std::vector<uint8_t> BmpOfSection(const Section& s, const std::vector<COLORREF>& table) {
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectA(s.bitmap(), sizeof ds, &ds), static_cast<int>(sizeof ds));
    const uint32_t image = ds.dsBmih.biSizeImage, head = 14 + 40 + 256 * 4;
    std::vector<uint8_t> file(head + image, 0);
    const auto put32 = [&](size_t at, uint32_t v) { std::memcpy(&file[at], &v, 4); };
    file[0] = 'B';
    file[1] = 'M';
    put32(2, head + image);
    put32(10, head);
    std::memcpy(&file[14], &ds.dsBmih, 40);
    for (size_t i = 0; i < table.size(); ++i) {
        const RGBQUAD q = Quad(table[i]);
        std::memcpy(&file[54 + 4 * i], &q, 4);
    }
    std::memcpy(&file[head], ds.dsBm.bmBits, image);
    return file;
}

TEST_P(DibSectionDrawing, ExpandsToThe32BitPictureWithEachColourAsItsEntry) {
    const TableCase& param = GetParam();
    const auto emf = SceneMetafile(dir_.file("scene.emf"));
    Canvas wide(160, 120);
    DrawScene(wide.dc(), emf);
    Section narrow(160, 120, param.bottom_up, param.table);
    ASSERT_NE(narrow.bitmap(), nullptr);
    DrawScene(narrow.dc(), emf);

    const std::vector<uint32_t> want = Words(wide.dc(), wide.bitmap(), 160, 120);
    const std::vector<uint32_t> got = Words(narrow.dc(), narrow.bitmap(), 160, 120);
    int differ = 0, at = -1;
    for (size_t i = 0; i < want.size(); ++i)
        if (got[i] != Word(param.table[NearestEntry(want[i], param.table)]) && differ++ == 0)
            at = static_cast<int>(i);
    EXPECT_EQ(differ, 0) << "first at x " << at % 160 << ", y " << at / 160;

    // The bits and table themselves, read by Pillow as a BMP file, show the same picture.
    const std::string path = dir_.file("section.bmp");
    const auto file = BmpOfSection(narrow, param.table);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()),
               static_cast<std::streamsize>(file.size()));
    int w = 0, h = 0;
    std::vector<uint32_t> decoded;
    ASSERT_TRUE(kgdi_test::DecodeWithPillow(path, &w, &h, &decoded));
    EXPECT_EQ(decoded, got);
}

const std::vector<COLORREF> kEveryColour = {
    RGB(1, 1, 1), kPaper,    kRoad,   kRiver,   kPark,    kWideRoad, kRoad,
    kInk,         kLabelBox, kEmfPen, kEmfFill, kEmfText, kDot,      RGB(255, 255, 255)};
// Without the metafile's text, the label box, the dot and the park: each takes its nearest.
const std::vector<COLORREF> kSomeColours = {RGB(255, 255, 255), kRoad,          kRiver,
                                            kWideRoad,          kInk,           kEmfPen,
                                            kEmfFill,           RGB(200, 0, 0), RGB(240, 240, 0)};

INSTANTIATE_TEST_SUITE_P(Tables, DibSectionDrawing,
                         ::testing::Values(TableCase{"EveryColourTopDown", false, kEveryColour},
                                           TableCase{"EveryColourBottomUp", true, kEveryColour},
                                           TableCase{"SomeColoursBottomUp", true, kSomeColours}),
                         [](const ::testing::TestParamInfo<TableCase>& info) {
                             return std::string(info.param.name);
                         });

/* A colour and the entry of the table below it should take. */
struct MatchCase {
    COLORREF colour;
    int entry;
};

class DibSectionMatching : public ::testing::TestWithParam<MatchCase> {};

TEST_P(DibSectionMatching, AColourTakesTheNearestEntryAndTheLowestOfEquallyNearOnes) {
    const std::vector<COLORREF> table = {RGB(0, 0, 0),   RGB(255, 255, 255), RGB(255, 0, 0),
                                         RGB(255, 0, 0), RGB(0, 0, 200),     RGB(40, 40, 0)};
    const MatchCase& m = GetParam();
    Section s(8, 2, true, table);
    // A pixel, a pen and a brush of the colour all take the entry.
    EXPECT_EQ(SetPixel(s.dc(), 0, 0, m.colour), table[m.entry]);
    HPEN pen = CreatePen(PS_SOLID, 1, m.colour);
    HGDIOBJ old = SelectObject(s.dc(), pen);
    const POINT line[2] = {{1, 0}, {4, 0}};
    Polyline(s.dc(), line, 2);
    SelectObject(s.dc(), old);
    DeleteObject(pen);
    HBRUSH brush = CreateSolidBrush(m.colour);
    const RECT r{4, 1, 8, 2};
    FillRect(s.dc(), &r, brush);
    DeleteObject(brush);
    // Bottom-up rows padded to 8 bytes: the top row is the second one stored.
    const uint8_t* top = s.bits() + 8;
    const uint8_t* bottom = s.bits();
    for (int x = 0; x < 4; ++x) EXPECT_EQ(top[x], m.entry) << "x " << x;
    for (int x = 4; x < 8; ++x) EXPECT_EQ(bottom[x], m.entry) << "x " << x;
    EXPECT_EQ(top[4], 0);
    EXPECT_EQ(GetPixel(s.dc(), 5, 1), table[m.entry]);
}

INSTANTIATE_TEST_SUITE_P(Colours, DibSectionMatching,
                         ::testing::Values(MatchCase{RGB(255, 0, 0), 2},  // first exact entry
                                           MatchCase{RGB(250, 5, 0), 2},
                                           MatchCase{RGB(255, 255, 255), 1},
                                           MatchCase{RGB(30, 35, 0), 5}, MatchCase{RGB(6, 6, 6), 0},
                                           // as near black as (0, 0, 200): the lower index
                                           MatchCase{RGB(0, 0, 100), 0},
                                           MatchCase{RGB(0, 0, 101), 4}));

TEST_F(DibSections, AreMadeOnlyInTheFormatsTheyCanHold) {
    const std::vector<COLORREF> table = {RGB(0, 0, 0), RGB(255, 255, 255)};
    const auto make = [&](auto change, UINT usage = DIB_RGB_COLORS, HANDLE section = nullptr) {
        Info256 info = SectionInfo(16, 16, 8, table);
        change(info.h);
        void* bits = reinterpret_cast<void*>(1);
        HBITMAP b = CreateDIBSection(nullptr, reinterpret_cast<const BITMAPINFO*>(&info), usage,
                                     &bits, section, 0);
        const bool made = b != nullptr;
        EXPECT_EQ(made, bits != nullptr);
        if (made) DeleteObject(b);
        return made;
    };
    const auto same = [](BITMAPINFOHEADER&) {};
    EXPECT_TRUE(make(same));
    EXPECT_TRUE(make([](BITMAPINFOHEADER& h) { h.biBitCount = 32; }));
    EXPECT_TRUE(make([](BITMAPINFOHEADER& h) { h.biClrUsed = 0; }));  // 256 entries
    EXPECT_FALSE(make(same, 1));                                      // palette indexes
    EXPECT_FALSE(make(same, DIB_RGB_COLORS, reinterpret_cast<HANDLE>(8)));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biBitCount = 24; }));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biCompression = BI_RLE8; }));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biPlanes = 2; }));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biSize = 39; }));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biClrUsed = 257; }));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biWidth = 0; }));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biHeight = INT32_MIN; }));
    EXPECT_FALSE(make([](BITMAPINFOHEADER& h) { h.biWidth = h.biHeight = 16385; }));
    EXPECT_EQ(CreateDIBSection(nullptr, nullptr, DIB_RGB_COLORS, nullptr, nullptr, 0), nullptr);
}

TEST_F(DibSections, DescribeThemselvesAndTheirBits) {
    Section s(5, 3, true, {RGB(0, 0, 0), RGB(255, 0, 0)});
    DIBSECTION ds{};
    EXPECT_EQ(GetObjectA(s.bitmap(), 0, nullptr), static_cast<int>(sizeof ds));
    ASSERT_EQ(GetObjectA(s.bitmap(), sizeof ds, &ds), static_cast<int>(sizeof ds));
    EXPECT_EQ(ds.dsBm.bmBits, s.bits());
    EXPECT_EQ(ds.dsBm.bmWidth, 5);
    EXPECT_EQ(ds.dsBm.bmHeight, 3);
    EXPECT_EQ(ds.dsBm.bmWidthBytes, 8);  // rows padded to 4 bytes
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 8);
    EXPECT_EQ(ds.dsBmih.biHeight, 3);
    EXPECT_EQ(ds.dsBmih.biSizeImage, 24u);
    EXPECT_EQ(ds.dsBmih.biClrUsed, 2u);
    BITMAP b{};
    EXPECT_EQ(GetObjectA(s.bitmap(), sizeof b, &b), static_cast<int>(sizeof b));
    EXPECT_EQ(GetObjectA(s.bitmap(), sizeof b - 1, &b), 0);
    // A 32-bit bitmap of CreateCompatibleBitmap has no bits to give; pens are not described.
    Canvas c(4, 4);
    EXPECT_EQ(GetObjectA(c.bitmap(), sizeof ds, &ds), static_cast<int>(sizeof b));
    EXPECT_EQ(ds.dsBm.bmBits, nullptr);
    EXPECT_EQ(ds.dsBm.bmBitsPixel, 32);
    EXPECT_EQ(GetObjectA(GetStockObject(BLACK_PEN), sizeof ds, &ds), 0);
    // An 8-bit surface has no 32-bit words to give.
    KgdiSurface surface{};
    EXPECT_FALSE(KgdiGetSurface(s.dc(), &surface));
    EXPECT_TRUE(KgdiGetSurface(c.dc(), &surface));
}

TEST_F(DibSections, ColourTableChangesRecolourTheirPixelsAndLaterDrawing) {
    Section s(4, 1, false, {RGB(0, 0, 0), RGB(255, 0, 0), RGB(0, 0, 255)});
    SetPixel(s.dc(), 0, 0, RGB(250, 0, 0));
    EXPECT_EQ(s.bits()[0], 1);
    const RGBQUAD green = Quad(RGB(0, 255, 0));
    const RGBQUAD colours[5] = {green, Quad(RGB(0, 0, 255))};
    EXPECT_EQ(SetDIBColorTable(s.dc(), 1, 5, colours), 2u);  // as far as the table reaches
    EXPECT_EQ(GetPixel(s.dc(), 0, 0), RGB(0, 255, 0));
    EXPECT_EQ(SetPixel(s.dc(), 1, 0, RGB(250, 0, 0)), RGB(0, 0, 0));  // red is gone
    RGBQUAD out[4] = {};
    EXPECT_EQ(GetDIBColorTable(s.dc(), 0, 4, out), 3u);
    EXPECT_EQ(out[1].rgbGreen, 255);
    EXPECT_EQ(out[2].rgbBlue, 255);
    EXPECT_EQ(SetDIBColorTable(s.dc(), 3, 1, &green), 0u);
    Canvas c(2, 2);
    EXPECT_EQ(SetDIBColorTable(c.dc(), 0, 1, &green), 0u);
    EXPECT_EQ(GetDIBColorTable(c.dc(), 0, 1, out), 0u);
}

TEST_F(DibSections, CopyConvertAndExportAsThe32BitPictureOfTheirColours) {
    const auto emf = SceneMetafile(dir_.file("scene.emf"));
    Section narrow(160, 120, true, kEveryColour);
    DrawScene(narrow.dc(), emf);
    Canvas wide(160, 120);
    DrawScene(wide.dc(), emf);
    const std::vector<uint32_t> picture = Words(wide.dc(), wide.bitmap(), 160, 120);

    // Into a 32-bit bitmap, into an 8-bit one of another table, and back.
    Canvas copy(160, 120);
    EXPECT_TRUE(BitBlt(copy.dc(), 0, 0, 160, 120, narrow.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(Words(copy.dc(), copy.bitmap(), 160, 120), picture);
    std::vector<COLORREF> reversed(kEveryColour.rbegin(), kEveryColour.rend());
    Section other(160, 120, false, reversed);
    EXPECT_TRUE(BitBlt(other.dc(), 0, 0, 160, 120, wide.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(Words(other.dc(), other.bitmap(), 160, 120), picture);
    Section back(160, 120, false, kEveryColour);
    EXPECT_TRUE(BitBlt(back.dc(), 0, 0, 160, 120, other.dc(), 0, 0, SRCCOPY));
    EXPECT_EQ(Words(back.dc(), back.bitmap(), 160, 120), picture);

    // A compatible bitmap of an 8-bit context is 8 bits with the same table.
    HBITMAP compatible = CreateCompatibleBitmap(narrow.dc(), 3, 3);
    BITMAP b{};
    ASSERT_EQ(GetObjectA(compatible, sizeof b, &b), static_cast<int>(sizeof b));
    EXPECT_EQ(b.bmBitsPixel, 8);
    DeleteObject(compatible);

    // GetDIBits to 8 bits gives the entries and the table, and only from an 8-bit bitmap.
    Info256 info = SectionInfo(160, -120, 8, {});
    std::vector<uint8_t> indexes(160 * 120);
    EXPECT_EQ(GetDIBits(narrow.dc(), narrow.bitmap(), 0, 120, indexes.data(),
                        reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS),
              120);
    for (size_t i = 0; i < indexes.size(); ++i) {
        const RGBQUAD q = info.colors[indexes[i]];
        ASSERT_EQ(uint32_t{q.rgbRed} << 16 | uint32_t{q.rgbGreen} << 8 | q.rgbBlue, picture[i]);
    }
    EXPECT_EQ(GetDIBits(wide.dc(), wide.bitmap(), 0, 120, indexes.data(),
                        reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS),
              0);

    // RLE8 and the saved files are byte for byte those of the 32-bit picture.
    const auto rle8 = [](HDC dc, HBITMAP bitmap) {
        Info256 i = SectionInfo(160, 120, 8, {});
        i.h.biCompression = BI_RLE8;
        i.h.biSizeImage = 160 * 120;
        std::vector<uint8_t> data(160 * 120);
        EXPECT_EQ(GetDIBits(dc, bitmap, 0, 120, data.data(), reinterpret_cast<BITMAPINFO*>(&i),
                            DIB_RGB_COLORS),
                  120);
        data.resize(i.h.biSizeImage);
        data.insert(data.end(), reinterpret_cast<uint8_t*>(i.colors),
                    reinterpret_cast<uint8_t*>(i.colors + 256));
        return data;
    };
    EXPECT_EQ(rle8(narrow.dc(), narrow.bitmap()), rle8(wide.dc(), wide.bitmap()));
    for (int format : {KGDI_FILE_BMP, KGDI_FILE_PNG}) {
        const std::string a = dir_.file("a" + std::to_string(format));
        const std::string b8 = dir_.file("b" + std::to_string(format));
        ASSERT_TRUE(KgdiSaveImage(wide.dc(), a.c_str(), format));
        ASSERT_TRUE(KgdiSaveImage(narrow.dc(), b8.c_str(), format));
        std::ifstream fa(a, std::ios::binary), fb(b8, std::ios::binary);
        const std::string sa((std::istreambuf_iterator<char>(fa)), {});
        const std::string sb((std::istreambuf_iterator<char>(fb)), {});
        EXPECT_TRUE(!sa.empty() && sa == sb) << "format " << format;
    }
}

}  // namespace
