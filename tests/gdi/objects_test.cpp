/*
 * objects_test.cpp: handles and device contexts: stock objects, selection and deletion rules,
 * refusal of null, stale and wrong-kind handles, context defaults and attributes, pixels,
 * BitBlt, the recorder, the live-object count and the library's exported symbols.
 */
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>

#include "gdi_test_util.h"

using kgdi_test::Canvas;

namespace {

/* Records every primitive reported by a context. */
struct Log {
    std::vector<KgdiRecord> records;
    static void Add(void* user, const KgdiRecord* r) {
        static_cast<Log*>(user)->records.push_back(*r);
    }
};

}  // namespace

TEST(StockObjects, StockObjectsExistAndSurviveDeletion) {
    for (int i : {WHITE_BRUSH, BLACK_BRUSH, NULL_BRUSH, WHITE_PEN, BLACK_PEN, NULL_PEN})
        ASSERT_NE(GetStockObject(i), nullptr) << i;
    EXPECT_EQ(GetStockObject(-1), nullptr);
    EXPECT_EQ(GetStockObject(99), nullptr);
    HGDIOBJ pen = GetStockObject(BLACK_PEN);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_EQ(GetStockObject(BLACK_PEN), pen);
    Canvas c(4, 4);
    EXPECT_NE(SelectObject(c.dc(), pen), nullptr);
}

TEST(Handles, NullStaleAndWrongKindHandlesAreRefused) {
    const int before = KgdiLiveObjectCount();
    HPEN pen = CreatePen(PS_SOLID, 1, RGB(1, 2, 3));
    ASSERT_NE(pen, nullptr);
    EXPECT_EQ(KgdiLiveObjectCount(), before + 1);
    EXPECT_TRUE(DeleteObject(pen));
    EXPECT_EQ(KgdiLiveObjectCount(), before);
    EXPECT_FALSE(DeleteObject(pen));  // stale
    EXPECT_FALSE(DeleteObject(nullptr));
    EXPECT_FALSE(DeleteObject(HGDI_ERROR));
    EXPECT_FALSE(
        DeleteObject(reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(0x123456789abcull))));

    HPEN reused = CreatePen(PS_SOLID, 1, 0);  // may take the freed slot; the old handle stays dead
    Canvas c(4, 4);
    EXPECT_EQ(SelectObject(c.dc(), pen), nullptr);
    EXPECT_NE(SelectObject(c.dc(), reused), nullptr);
    SelectObject(c.dc(), GetStockObject(BLACK_PEN));
    DeleteObject(reused);

    POINT pts[2] = {{0, 0}, {3, 3}};
    HDC bad = reinterpret_cast<HDC>(pen);
    EXPECT_FALSE(Polyline(nullptr, pts, 2));
    EXPECT_FALSE(Polyline(bad, pts, 2));
    EXPECT_FALSE(Polygon(bad, pts, 2));
    EXPECT_FALSE(TextOutA(bad, 0, 0, "a", 1));
    EXPECT_EQ(SetTextColor(bad, 0), CLR_INVALID);
    EXPECT_EQ(SetBkMode(bad, OPAQUE), 0);
    EXPECT_EQ(GetPixel(bad, 0, 0), CLR_INVALID);
    EXPECT_FALSE(DeleteDC(bad));
    EXPECT_FALSE(DeleteDC(nullptr));
    EXPECT_FALSE(BitBlt(bad, 0, 0, 1, 1, c.dc(), 0, 0, SRCCOPY));
    // A context handle given where an object is expected, and the reverse.
    EXPECT_FALSE(DeleteObject(reinterpret_cast<HGDIOBJ>(c.dc())));
    EXPECT_EQ(SelectObject(c.dc(), reinterpret_cast<HGDIOBJ>(c.dc())), nullptr);
    EXPECT_FALSE(DeleteEnhMetaFile(reinterpret_cast<HENHMETAFILE>(c.bitmap())));
    EXPECT_FALSE(Polyline(c.dc(), pts, 1));
    EXPECT_FALSE(Polyline(c.dc(), nullptr, 2));
}

TEST(Handles, DeletedDeviceContextIsRefusedAndFreesItsBitmap) {
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP bm = CreateCompatibleBitmap(dc, 8, 8);
    ASSERT_NE(SelectObject(dc, bm), nullptr);
    EXPECT_FALSE(DeleteObject(bm));  // still selected
    EXPECT_TRUE(DeleteDC(dc));
    EXPECT_FALSE(DeleteDC(dc));
    POINT pts[2] = {{0, 0}, {3, 3}};
    EXPECT_FALSE(Polyline(dc, pts, 2));
    EXPECT_TRUE(DeleteObject(bm));  // free once its context is gone
}

TEST(Handles, BitmapCanBeSelectedIntoOneContextAtATime) {
    HDC a = CreateCompatibleDC(nullptr);
    HDC b = CreateCompatibleDC(nullptr);
    HBITMAP bm = CreateCompatibleBitmap(a, 8, 8);
    HGDIOBJ old_a = SelectObject(a, bm);
    ASSERT_NE(old_a, nullptr);
    EXPECT_EQ(SelectObject(b, bm), nullptr);
    EXPECT_EQ(SelectObject(a, old_a), bm);  // gives it back
    HGDIOBJ old_b = SelectObject(b, bm);
    EXPECT_NE(old_b, nullptr);
    SelectObject(b, old_b);
    EXPECT_TRUE(DeleteObject(bm));
    DeleteDC(a);
    DeleteDC(b);
}

TEST(Handles, SelectedPenCanBeDeletedAndTheContextKeepsDrawingWithIt) {
    Canvas c(10, 10);
    HPEN red = CreatePen(PS_SOLID, 1, RGB(255, 0, 0));
    HGDIOBJ old = SelectObject(c.dc(), red);
    EXPECT_TRUE(DeleteObject(red));
    POINT pts[2] = {{0, 0}, {5, 0}};
    EXPECT_TRUE(Polyline(c.dc(), pts, 2));
    EXPECT_EQ(GetPixel(c.dc(), 2, 0), RGB(255, 0, 0));
    EXPECT_EQ(SelectObject(c.dc(), old), red);  // the stale handle comes back, harmlessly
}

TEST(Handles, CreationRefusesBadArguments) {
    EXPECT_EQ(CreatePen(PS_SOLID, -1, 0), nullptr);
    EXPECT_EQ(CreatePen(2, 1, 0), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, 0, 5), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, 5, -1), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, 16385, 1), nullptr);
    EXPECT_EQ(CreateCompatibleBitmap(nullptr, 16384, 16384 + 1), nullptr);
    EXPECT_EQ(CreateCompatibleDC(reinterpret_cast<HDC>(GetStockObject(BLACK_PEN))), nullptr);
    HPEN null_pen = CreatePen(PS_NULL, 3, 0);
    ASSERT_NE(null_pen, nullptr);
    DeleteObject(null_pen);
}

TEST(Handles, NothingLeaksOverManyCreateDeleteCycles) {
    const int before = KgdiLiveObjectCount();
    for (int i = 0; i < 1000; ++i) {
        Canvas c(3, 3);
        HBRUSH b = CreateSolidBrush(RGB(i, 0, 0));
        DeleteObject(b);
    }
    EXPECT_EQ(KgdiLiveObjectCount(), before);
}

TEST(Contexts, NewContextHasTheDocumentedDefaults) {
    HDC dc = CreateCompatibleDC(nullptr);
    EXPECT_EQ(GetTextColor(dc), RGB(0, 0, 0));
    EXPECT_EQ(GetBkColor(dc), RGB(255, 255, 255));
    EXPECT_EQ(GetBkMode(dc), OPAQUE);
    KgdiSurface s{};
    ASSERT_TRUE(KgdiGetSurface(dc, &s));
    EXPECT_EQ(s.width, 1);
    EXPECT_EQ(s.height, 1);
    HBITMAP bm = CreateCompatibleBitmap(dc, 5, 5);
    HGDIOBJ old = SelectObject(dc, bm);
    EXPECT_EQ(GetPixel(dc, 2, 2), RGB(0, 0, 0));  // a new bitmap is black
    POINT pts[2] = {{0, 1}, {5, 1}};
    SetPixel(dc, 0, 1, RGB(9, 9, 9));
    Polyline(dc, pts, 2);
    EXPECT_EQ(GetPixel(dc, 0, 1), RGB(0, 0, 0));  // drawn with the black pen
    EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_PEN)), GetStockObject(BLACK_PEN));
    EXPECT_EQ(SelectObject(dc, GetStockObject(NULL_BRUSH)), GetStockObject(WHITE_BRUSH));
    SelectObject(dc, old);
    DeleteObject(bm);
    DeleteDC(dc);
}

TEST(Contexts, AttributeSettersReturnThePreviousValue) {
    Canvas c(2, 2);
    EXPECT_EQ(SetTextColor(c.dc(), RGB(1, 2, 3)), RGB(0, 0, 0));
    EXPECT_EQ(GetTextColor(c.dc()), RGB(1, 2, 3));
    EXPECT_EQ(SetBkColor(c.dc(), RGB(4, 5, 6)), RGB(255, 255, 255));
    EXPECT_EQ(GetBkColor(c.dc()), RGB(4, 5, 6));
    EXPECT_EQ(SetBkMode(c.dc(), TRANSPARENT), OPAQUE);
    EXPECT_EQ(GetBkMode(c.dc()), TRANSPARENT);
    EXPECT_EQ(SetBkMode(c.dc(), 77), 0);
    EXPECT_EQ(GetBkMode(c.dc()), TRANSPARENT);
}

TEST(Contexts, PixelsOutsideTheBitmapAreInvalid) {
    Canvas c(3, 3);
    EXPECT_EQ(SetPixel(c.dc(), 1, 1, RGB(10, 20, 30)), RGB(10, 20, 30));
    EXPECT_EQ(GetPixel(c.dc(), 1, 1), RGB(10, 20, 30));
    EXPECT_EQ(GetPixel(c.dc(), -1, 0), CLR_INVALID);
    EXPECT_EQ(GetPixel(c.dc(), 0, 3), CLR_INVALID);
    EXPECT_EQ(SetPixel(c.dc(), 3, 0, 0), CLR_INVALID);
    KgdiSurface s{};
    ASSERT_TRUE(KgdiGetSurface(c.dc(), &s));
    EXPECT_EQ(s.stride, 12);
    EXPECT_EQ(s.pixels[1 * 3 + 1], 0x000A141Eu);  // 0x00RRGGBB
}

TEST(BitBltCopy, CopiesTheOverlapOnly) {
    Canvas src(10, 10), dst(10, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) SetPixel(src.dc(), x, y, RGB(x * 10, y * 10, 7));
    EXPECT_TRUE(BitBlt(dst.dc(), -2, 3, 8, 20, src.dc(), 4, 1, SRCCOPY));
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x) {
            const int sx = x + 6, sy = y - 2;
            const bool copied = x < 6 && y >= 3 && sx < 10 && sy < 10;
            EXPECT_EQ(GetPixel(dst.dc(), x, y),
                      copied ? RGB(sx * 10, sy * 10, 7) : RGB(255, 255, 255))
                << x << "," << y;
        }
    EXPECT_FALSE(BitBlt(dst.dc(), 0, 0, 1, 1, src.dc(), 0, 0, 0x00EE0086));
    EXPECT_TRUE(BitBlt(dst.dc(), INT32_MAX - 1, INT32_MIN, INT32_MAX, INT32_MAX, src.dc(),
                       INT32_MIN, 0, SRCCOPY));
}

TEST(BitBltCopy, OverlappingCopyWithinOneBitmapIsRight) {
    Canvas c(6, 6);
    for (int y = 0; y < 6; ++y) SetPixel(c.dc(), 0, y, RGB(y, 0, 0));
    EXPECT_TRUE(BitBlt(c.dc(), 0, 1, 1, 5, c.dc(), 0, 0, SRCCOPY));  // shift down by one
    for (int y = 1; y < 6; ++y) EXPECT_EQ(GetPixel(c.dc(), 0, y), RGB(y - 1, 0, 0));
}

TEST(Recorder, ReportsEachPrimitiveWithItsAttributes) {
    Canvas c(20, 20);
    Log log;
    ASSERT_TRUE(KgdiSetRecorder(c.dc(), &Log::Add, &log));
    HPEN pen = CreatePen(PS_SOLID, 3, RGB(1, 2, 3));
    HGDIOBJ old = SelectObject(c.dc(), pen);
    POINT pts[3] = {{1, 1}, {5, 5}, {9, 1}};
    Polyline(c.dc(), pts, 3);
    SelectObject(c.dc(), GetStockObject(NULL_BRUSH));
    Polygon(c.dc(), pts, 3);
    SetBkMode(c.dc(), TRANSPARENT);
    TextOutA(c.dc(), 4, 6, "ab", 2);
    KgdiSetRecorder(c.dc(), nullptr, nullptr);
    Polyline(c.dc(), pts, 3);
    ASSERT_EQ(log.records.size(), 3u);
    EXPECT_EQ(log.records[0].kind, KGDI_REC_POLYLINE);
    EXPECT_EQ(log.records[0].count, 3);
    EXPECT_EQ(log.records[0].pen_width, 3);
    EXPECT_EQ(log.records[0].pen_color, RGB(1, 2, 3));
    EXPECT_EQ(log.records[1].kind, KGDI_REC_POLYGON);
    EXPECT_EQ(log.records[1].brush_null, 1);
    EXPECT_EQ(log.records[2].kind, KGDI_REC_TEXT);
    EXPECT_EQ(log.records[2].x, 4);
    EXPECT_EQ(log.records[2].text_len, 2);
    EXPECT_EQ(log.records[2].bk_mode, TRANSPARENT);
    SelectObject(c.dc(), old);
    DeleteObject(pen);
}

TEST(Exports, TheLibraryExportsExactlyTheFunctionsOfItsMap) {
    std::ifstream map(KGDI_EXPORT_MAP);
    std::stringstream text;
    text << map.rdbuf();
    const std::string s = text.str();
    const std::string global =
        s.substr(s.find("global:") + 7, s.find("local:") - s.find("global:") - 7);
    std::set<std::string> want;
    const std::regex name("[A-Za-z_][A-Za-z0-9_]*");
    for (std::sregex_iterator it(global.begin(), global.end(), name), end; it != end; ++it)
        want.insert(it->str());
    bool ok = false;
    const std::string out = kgdi_test::RunCommand(
        std::string("nm -D --defined-only --format=posix '") + KGDI_LIBRARY_PATH + "'", &ok);
    ASSERT_TRUE(ok);
    std::set<std::string> got;
    std::istringstream lines(out);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string sym, type;
        fields >> sym >> type;
        if (type == "T" || type == "W" || type == "D" || type == "B")
            got.insert(sym.substr(0, sym.find('@')));
    }
    got.erase("");
    EXPECT_EQ(got, want);
    EXPECT_EQ(want.size(), 43u);
}
