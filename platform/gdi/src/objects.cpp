/*
 * objects.cpp: the handle table and the object functions of the drawing layer.
 *
 * Every object (pen, brush, bitmap, device context, metafile) lives in one process-wide table
 * of slots. A handle carries the slot number and the slot's generation, which changes when the
 * slot is freed, so a stale handle never reaches a later object in the same slot. Stock
 * objects occupy the first slots for the life of the process.
 *
 * Also here: device-context creation and deletion, selection, attribute setters and getters,
 * single pixels, BitBlt, the surface accessor and the recorder.
 */
#include <algorithm>
#include <atomic>
#include <cstring>

#include "detail.h"

namespace kgdi::detail {
namespace {

/* Most objects alive at once; a request beyond it fails like an allocation failure. */
constexpr uint32_t kMaxObjects = 1u << 20;

/* Stock objects in the order of their GetStockObject index, plus the default bitmap. */
constexpr int kStockCount = NULL_PEN + 1;

struct Slot {
    uint32_t generation = 1;
    std::unique_ptr<Object> object;
};

struct Table {
    std::mutex lock;
    std::vector<Slot> slots;
    std::vector<uint32_t> free_slots;
    int live = 0;                       // non-stock objects
    std::atomic<uint64_t> removals{0};  // objects removed so far (see LookupDc)
    HGDIOBJ stock[kStockCount] = {};
    HGDIOBJ default_bitmap = nullptr;
};

HGDIOBJ MakeHandle(uint32_t index, uint32_t generation) {
    const uint64_t value = (uint64_t{generation} << 32) | (uint64_t{index} + 1);
    return reinterpret_cast<HGDIOBJ>(static_cast<uintptr_t>(value));
}

/* Slot index of a handle, or kMaxObjects when it cannot be one. */
uint32_t HandleIndex(const void* handle, uint32_t* generation) {
    const auto value = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
    const uint64_t low = value & 0xFFFFFFFFu;
    *generation = static_cast<uint32_t>(value >> 32);
    if (low == 0 || low > kMaxObjects) return kMaxObjects;
    return static_cast<uint32_t>(low - 1);
}

HGDIOBJ AddLocked(Table& t, std::unique_ptr<Object> obj) {
    uint32_t index;
    if (!t.free_slots.empty()) {
        index = t.free_slots.back();
        t.free_slots.pop_back();
    } else {
        if (t.slots.size() >= kMaxObjects) return nullptr;
        t.slots.emplace_back();
        index = static_cast<uint32_t>(t.slots.size() - 1);
    }
    Slot& slot = t.slots[index];
    if (!obj->stock) ++t.live;
    slot.object = std::move(obj);
    return MakeHandle(index, slot.generation);
}

std::unique_ptr<Object> MakeStockPen(bool null, COLORREF color) {
    auto pen = std::make_unique<Pen>();
    pen->stock = true;
    pen->attrs.null = null;
    pen->attrs.color = color;
    return pen;
}

std::unique_ptr<Object> MakeStockBrush(bool null, COLORREF color) {
    auto brush = std::make_unique<Brush>();
    brush->stock = true;
    brush->attrs.null = null;
    brush->attrs.color = color;
    return brush;
}

/* The table, with its stock objects made on first use. */
Table& GetTable() {
    static Table* table = [] {
        auto* t = new Table;  // lives for the process: handles may be used during exit
        const std::lock_guard<std::mutex> guard(t->lock);
        t->stock[WHITE_BRUSH] = AddLocked(*t, MakeStockBrush(false, RGB(255, 255, 255)));
        t->stock[LTGRAY_BRUSH] = AddLocked(*t, MakeStockBrush(false, RGB(192, 192, 192)));
        t->stock[GRAY_BRUSH] = AddLocked(*t, MakeStockBrush(false, RGB(128, 128, 128)));
        t->stock[DKGRAY_BRUSH] = AddLocked(*t, MakeStockBrush(false, RGB(64, 64, 64)));
        t->stock[BLACK_BRUSH] = AddLocked(*t, MakeStockBrush(false, RGB(0, 0, 0)));
        t->stock[NULL_BRUSH] = AddLocked(*t, MakeStockBrush(true, 0));
        t->stock[WHITE_PEN] = AddLocked(*t, MakeStockPen(false, RGB(255, 255, 255)));
        t->stock[BLACK_PEN] = AddLocked(*t, MakeStockPen(false, RGB(0, 0, 0)));
        t->stock[NULL_PEN] = AddLocked(*t, MakeStockPen(true, 0));
        auto bitmap = MakeBitmap(1, 1, 32, false, nullptr);
        bitmap->stock = true;
        t->default_bitmap = AddLocked(*t, std::move(bitmap));
        return t;
    }();
    return *table;
}

/* Frees a slot (the caller holds the lock and has checked the handle). */
void RemoveLocked(Table& t, uint32_t index) {
    Slot& slot = t.slots[index];
    if (!slot.object->stock) --t.live;
    slot.object.reset();
    t.removals.fetch_add(1, std::memory_order_release);
    ++slot.generation;
    if (slot.generation == 0) slot.generation = 1;
    t.free_slots.push_back(index);
}

/* Checked handle to slot index, kMaxObjects when the handle is not live. */
uint32_t LiveIndexLocked(Table& t, const void* handle) {
    uint32_t generation;
    const uint32_t index = HandleIndex(handle, &generation);
    if (index >= t.slots.size()) return kMaxObjects;
    const Slot& slot = t.slots[index];
    if (!slot.object || slot.generation != generation) return kMaxObjects;
    return index;
}

}  // namespace

std::mutex& TableLock() {
    return GetTable().lock;
}

HGDIOBJ AddObject(std::unique_ptr<Object> obj) {
    Table& t = GetTable();
    const std::lock_guard<std::mutex> guard(t.lock);
    return AddLocked(t, std::move(obj));
}

Object* LookupLocked(const void* handle, Kind kind) {
    Table& t = GetTable();
    const uint32_t index = LiveIndexLocked(t, handle);
    if (index == kMaxObjects) return nullptr;
    Object* obj = t.slots[index].object.get();
    return obj->kind == kind ? obj : nullptr;
}

/* The last context a thread looked up, valid while no object has been removed since. */
struct DcCache {
    const void* handle = nullptr;
    Dc* dc = nullptr;
    uint64_t removals = 0;
};

/* Looks up a context. Drawing calls come in long runs on one context, so each thread keeps
 * its last successful look-up and reuses it without the lock as long as no object has been
 * removed from the table since (objects only go away by removal, so it is still live). */
/* Read on every drawing call (a map makes thousands), so it takes the initial-exec TLS
 * model: one load relative to the thread pointer instead of a call into the dynamic loader.
 * Its 24 bytes come from the static TLS room that glibc keeps for libraries opened later
 * with dlopen, as the request server opens the engine and with it this layer. */
thread_local DcCache t_dc_cache __attribute__((tls_model("initial-exec")));

Dc* LookupDc(HDC hdc) {
    Table& t = GetTable();
    DcCache& cache = t_dc_cache;
    if (hdc && hdc == cache.handle && cache.removals == t.removals.load(std::memory_order_acquire))
        return cache.dc;
    const std::lock_guard<std::mutex> guard(t.lock);
    Dc* dc = static_cast<Dc*>(LookupLocked(hdc, Kind::Dc));
    if (dc) cache = DcCache{hdc, dc, t.removals.load(std::memory_order_relaxed)};
    return dc;
}

void Record(const Dc& dc, KgdiRecord rec) {
    if (!dc.recorder) return;
    rec.pen_null = dc.pen.null ? 1 : 0;
    rec.pen_width = dc.pen.width;
    rec.pen_color = dc.pen.color;
    rec.brush_null = dc.brush.null ? 1 : 0;
    rec.brush_color = dc.brush.color;
    rec.text_color = dc.text_color;
    rec.bk_color = dc.bk_color;
    rec.bk_mode = dc.bk_mode;
    dc.recorder(dc.recorder_user, &rec);
}

/* Helpers used by the exported functions below. */
namespace {

HGDIOBJ DefaultObjectOf(Kind kind) {
    Table& t = GetTable();
    switch (kind) {
        case Kind::Pen:
            return t.stock[BLACK_PEN];
        case Kind::Brush:
            return t.stock[WHITE_BRUSH];
        default:
            return t.default_bitmap;
    }
}

}  // namespace
}  // namespace kgdi::detail

using namespace kgdi::detail;

extern "C" {

KGDI_API HGDIOBJ GetStockObject(int index) noexcept try {
    if (index < 0 || index >= kStockCount) return nullptr;
    return GetTable().stock[index];
} catch (...) {
    return nullptr;
}

KGDI_API HPEN CreatePen(int style, int width, COLORREF color) noexcept try {
    if ((style != PS_SOLID && style != PS_NULL) || width < 0) return nullptr;
    try {
        auto pen = std::make_unique<Pen>();
        pen->attrs.null = style == PS_NULL;
        pen->attrs.width = width;
        pen->attrs.color = color & 0xFFFFFFu;
        return AddObject(std::move(pen));
    } catch (...) {
        return nullptr;
    }
} catch (...) {
    return nullptr;
}

KGDI_API HBRUSH CreateSolidBrush(COLORREF color) noexcept try {
    try {
        auto brush = std::make_unique<Brush>();
        brush->attrs.color = color & 0xFFFFFFu;
        return AddObject(std::move(brush));
    } catch (...) {
        return nullptr;
    }
} catch (...) {
    return nullptr;
}

/* A bitmap in the format of the context's selected bitmap: an 8-bit one of the same colour
 * table and row order for an 8-bit bitmap, else 32 bits (also without a context). */
KGDI_API HBITMAP CreateCompatibleBitmap(HDC hdc, int width, int height) noexcept try {
    const Dc* dc = hdc ? LookupDc(hdc) : nullptr;
    if (hdc && !dc) return nullptr;
    try {
        std::unique_ptr<Bitmap> bitmap;
        const Bitmap* like = dc ? dc->bitmap : nullptr;
        if (like && like->bits == 8) {
            bitmap = MakeBitmap(width, height, 8, like->bottom_up,
                                std::make_unique<ColorTable>(*like->table));
            if (bitmap) bitmap->dib = true;
        } else {
            bitmap = MakeBitmap(width, height, 32, false, nullptr);
        }
        if (!bitmap) return nullptr;
        return AddObject(std::move(bitmap));
    } catch (...) {
        return nullptr;
    }
} catch (...) {
    return nullptr;
}

KGDI_API HDC CreateCompatibleDC(HDC hdc) noexcept try {
    if (hdc && !LookupDc(hdc)) return nullptr;
    try {
        Table& t = GetTable();
        auto dc = std::make_unique<Dc>();
        const std::lock_guard<std::mutex> guard(t.lock);
        dc->pen_handle = t.stock[BLACK_PEN];
        dc->brush_handle = t.stock[WHITE_BRUSH];
        dc->bitmap_handle = t.default_bitmap;
        dc->bitmap = static_cast<Bitmap*>(LookupLocked(t.default_bitmap, Kind::Bitmap));
        ++dc->bitmap->selected_count;
        return reinterpret_cast<HDC>(AddLocked(t, std::move(dc)));
    } catch (...) {
        return nullptr;
    }
} catch (...) {
    return nullptr;
}

KGDI_API BOOL DeleteDC(HDC hdc) noexcept try {
    Table& t = GetTable();
    const std::lock_guard<std::mutex> guard(t.lock);
    const uint32_t index = LiveIndexLocked(t, hdc);
    if (index == kMaxObjects || t.slots[index].object->kind != Kind::Dc) return FALSE;
    auto* dc = static_cast<Dc*>(t.slots[index].object.get());
    if (dc->bitmap) --dc->bitmap->selected_count;
    RemoveLocked(t, index);
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API HGDIOBJ SelectObject(HDC hdc, HGDIOBJ obj) noexcept try {
    Table& t = GetTable();
    const std::lock_guard<std::mutex> guard(t.lock);
    auto* dc = static_cast<Dc*>(LookupLocked(hdc, Kind::Dc));
    if (!dc) return nullptr;
    const uint32_t index = LiveIndexLocked(t, obj);
    if (index == kMaxObjects) return nullptr;
    Object* o = t.slots[index].object.get();
    HGDIOBJ previous = nullptr;
    switch (o->kind) {
        case Kind::Pen:
            previous = dc->pen_handle;
            dc->pen_handle = obj;
            dc->pen = static_cast<Pen*>(o)->attrs;
            break;
        case Kind::Brush:
            previous = dc->brush_handle;
            dc->brush_handle = obj;
            dc->brush = static_cast<Brush*>(o)->attrs;
            break;
        case Kind::Bitmap: {
            auto* bitmap = static_cast<Bitmap*>(o);
            previous = dc->bitmap_handle;
            if (bitmap == dc->bitmap) break;
            if (!bitmap->stock && bitmap->selected_count > 0) return nullptr;
            if (dc->bitmap) --dc->bitmap->selected_count;
            ++bitmap->selected_count;
            dc->bitmap = bitmap;
            dc->bitmap_handle = obj;
            break;
        }
        default:
            return nullptr;
    }
    return previous ? previous : DefaultObjectOf(o->kind);
} catch (...) {
    return nullptr;
}

KGDI_API BOOL DeleteObject(HGDIOBJ obj) noexcept try {
    Table& t = GetTable();
    const std::lock_guard<std::mutex> guard(t.lock);
    const uint32_t index = LiveIndexLocked(t, obj);
    if (index == kMaxObjects) return FALSE;
    Object* o = t.slots[index].object.get();
    if (o->kind != Kind::Pen && o->kind != Kind::Brush && o->kind != Kind::Bitmap) return FALSE;
    if (o->stock) return TRUE;
    if (o->kind == Kind::Bitmap && static_cast<Bitmap*>(o)->selected_count > 0) return FALSE;
    RemoveLocked(t, index);
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API BOOL DeleteEnhMetaFile(HENHMETAFILE emf) noexcept try {
    Table& t = GetTable();
    const std::lock_guard<std::mutex> guard(t.lock);
    const uint32_t index = LiveIndexLocked(t, emf);
    if (index == kMaxObjects || t.slots[index].object->kind != Kind::Metafile) return FALSE;
    RemoveLocked(t, index);
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API int KgdiLiveObjectCount(void) noexcept try {
    Table& t = GetTable();
    const std::lock_guard<std::mutex> guard(t.lock);
    return t.live;
} catch (...) {
    return 0;
}

KGDI_API BOOL GdiFlush(void) noexcept {
    return TRUE;
}

KGDI_API COLORREF SetTextColor(HDC hdc, COLORREF color) noexcept try {
    Dc* dc = LookupDc(hdc);
    if (!dc) return CLR_INVALID;
    const COLORREF old = dc->text_color;
    dc->text_color = color & 0xFFFFFFu;
    return old;
} catch (...) {
    return CLR_INVALID;
}

KGDI_API COLORREF GetTextColor(HDC hdc) noexcept try {
    const Dc* dc = LookupDc(hdc);
    return dc ? dc->text_color : CLR_INVALID;
} catch (...) {
    return CLR_INVALID;
}

KGDI_API COLORREF SetBkColor(HDC hdc, COLORREF color) noexcept try {
    Dc* dc = LookupDc(hdc);
    if (!dc) return CLR_INVALID;
    const COLORREF old = dc->bk_color;
    dc->bk_color = color & 0xFFFFFFu;
    return old;
} catch (...) {
    return CLR_INVALID;
}

KGDI_API COLORREF GetBkColor(HDC hdc) noexcept try {
    const Dc* dc = LookupDc(hdc);
    return dc ? dc->bk_color : CLR_INVALID;
} catch (...) {
    return CLR_INVALID;
}

KGDI_API int SetBkMode(HDC hdc, int mode) noexcept try {
    Dc* dc = LookupDc(hdc);
    if (!dc || (mode != TRANSPARENT && mode != OPAQUE)) return 0;
    const int old = dc->bk_mode;
    dc->bk_mode = mode;
    return old;
} catch (...) {
    return 0;
}

KGDI_API int GetBkMode(HDC hdc) noexcept try {
    const Dc* dc = LookupDc(hdc);
    return dc ? dc->bk_mode : 0;
} catch (...) {
    return 0;
}

KGDI_API COLORREF GetPixel(HDC hdc, int x, int y) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc) return CLR_INVALID;
    const Surface& s = dc->surface();
    if (x < 0 || y < 0 || x >= s.width || y >= s.height) return CLR_INVALID;
    return s.ColorAt(x, y);
} catch (...) {
    return CLR_INVALID;
}

/* Sets one pixel; returns the colour set (on an 8-bit surface the colour of the entry it
 * matched), CLR_INVALID outside the bitmap. */
KGDI_API COLORREF SetPixel(HDC hdc, int x, int y, COLORREF color) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc) return CLR_INVALID;
    const Surface& s = dc->surface();
    if (x < 0 || y < 0 || x >= s.width || y >= s.height) return CLR_INVALID;
    const uint32_t value = s.ValueOf(color);
    s.Put(x, y, value);
    return ColorFromPixel(s.WordOf(value));
} catch (...) {
    return CLR_INVALID;
}

KGDI_API BOOL KgdiGetSurface(HDC hdc, KgdiSurface* surface) noexcept try {
    const Dc* dc = LookupDc(hdc);
    if (!dc || !surface) return FALSE;
    const Surface& s = dc->surface();
    if (s.bits != 32) return FALSE;
    surface->pixels = static_cast<uint32_t*>(s.top);
    surface->width = s.width;
    surface->height = s.height;
    surface->stride = static_cast<int>(s.stride * 4);
    return TRUE;
} catch (...) {
    return FALSE;
}

KGDI_API BOOL KgdiSetRecorder(HDC hdc, KgdiRecordFn fn, void* user) noexcept try {
    Dc* dc = LookupDc(hdc);
    if (!dc) return FALSE;
    dc->recorder = fn;
    dc->recorder_user = fn ? user : nullptr;
    return TRUE;
} catch (...) {
    return FALSE;
}

/* Copies the overlap of the source rectangle and both bitmaps (CopyPixels: any formats, and
 * within one bitmap whatever the overlap). */
KGDI_API BOOL BitBlt(HDC dst, int x, int y, int cx, int cy, HDC src, int x1, int y1,
                     DWORD rop) noexcept try {
    if (rop != SRCCOPY) return FALSE;
    const Dc* d = LookupDc(dst);
    const Dc* s = LookupDc(src);
    if (!d || !s || cx < 0 || cy < 0) return FALSE;
    const Surface& ds = d->surface();
    const Surface& ss = s->surface();
    // Clip in 64 bits: the shift between source and destination stays fixed.
    int64_t dx0 = x, dy0 = y, dx1 = int64_t{x} + cx, dy1 = int64_t{y} + cy;
    const int64_t shift_x = int64_t{x1} - x, shift_y = int64_t{y1} - y;
    dx0 = std::max({dx0, int64_t{0}, -shift_x});
    dy0 = std::max({dy0, int64_t{0}, -shift_y});
    dx1 = std::min({dx1, int64_t{ds.width}, int64_t{ss.width} - shift_x});
    dy1 = std::min({dy1, int64_t{ds.height}, int64_t{ss.height} - shift_y});
    if (dx0 < dx1 && dy0 < dy1) CopyPixels(ds, dx0, dy0, dx1, dy1, ss, shift_x, shift_y);
    KgdiRecord rec{};
    rec.kind = KGDI_REC_BITBLT;
    rec.rect = RECT{x, y, static_cast<LONG>(int64_t{x} + cx), static_cast<LONG>(int64_t{y} + cy)};
    Record(*d, rec);
    return TRUE;
} catch (...) {
    return FALSE;
}

}  // extern "C"
