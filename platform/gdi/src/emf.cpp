/*
 * emf.cpp: enhanced metafiles: reading (GetEnhMetaFileA, KgdiLoadEnhMetaFile), their bytes
 * (GetEnhMetaFileBits) and playing (PlayEnhMetaFile).
 *
 * Reading walks the records once: every record must have a size of at least 8 bytes, a
 * multiple of 4, within the file; the first must be the header with the metafile signature and
 * the walk must reach the end-of-file record. Each record that playback uses is checked in
 * full (fixed part, counts against the record size) with this file's reader and with libuemf's
 * record safety check, so that playback can trust it. Anything else makes the whole file
 * refused.
 *
 * Playback maps logical coordinates to the reference device through the metafile's map mode,
 * window and viewport, and the reference device's picture frame (the header's frame in 0.01 mm
 * converted to reference pixels) onto the target rectangle. The records played are those a
 * base map holds: pens (also extended pens), solid and null brushes, stock objects, object
 * selection and deletion, polylines, polygons, poly-polylines and poly-polygons in their 32-
 * and 16-bit forms, move/line-to, rectangles, the mapping records, save/restore of that state,
 * text colour, background mode and colour, and text (ANSI in code page 950, or UTF-16) drawn
 * top-left at its reference point in the default font. Other records are skipped.
 */
#include <uemf.h>
#include <uemf_safe.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "detail.h"

namespace kgdi::detail {

/* A checked metafile: its bytes and the offsets of its records. */
struct MetafileData {
    std::vector<uint8_t> bytes;
    std::vector<uint32_t> records;  // offsets of records after the header, before EOF
    RECT bounds{};                  // header fields used by playback
    RECT frame{};
    int32_t device_cx = 0, device_cy = 0;
    int32_t mm_cx = 0, mm_cy = 0;  // reference device size in millimetres
    uint32_t handles = 0;
};

Metafile::Metafile() : Object(Kind::Metafile) {}
Metafile::~Metafile() = default;

namespace {

/* Largest metafile read; a bigger file is refused rather than held in memory. */
constexpr size_t kMaxMetafileBytes = size_t{256} << 20;
constexpr uint32_t kRecordHeader = 8;
constexpr uint32_t kHeaderMinSize = 88;  // up to and including szlMillimeters
constexpr uint32_t kStockFlag = 0x80000000u;
constexpr int kMaxSavedStates = 64;

/* Bounds-checked little-endian reads within one record. */
class RecordReader {
  public:
    RecordReader(const uint8_t* rec, uint32_t size) : rec_(rec), size_(size) {}
    bool Has(uint64_t offset, uint64_t bytes) const { return offset + bytes <= size_; }
    uint32_t U32(uint32_t off) const {
        uint32_t v;
        std::memcpy(&v, rec_ + off, 4);
        return v;
    }
    int32_t I32(uint32_t off) const { return static_cast<int32_t>(U32(off)); }
    int16_t I16(uint32_t off) const {
        int16_t v;
        std::memcpy(&v, rec_ + off, 2);
        return v;
    }
    const uint8_t* At(uint32_t off) const { return rec_ + off; }
    uint32_t size() const { return size_; }

  private:
    const uint8_t* rec_;
    uint32_t size_;
};

/* Offsets of the record fields used here (libuemf's layouts). */
constexpr uint32_t kPolyCount = offsetof(U_EMRPOLYLINE, cptl);  // after rclBounds
constexpr uint32_t kPolyPoints = offsetof(U_EMRPOLYLINE, aptl);
constexpr uint32_t kPoly16Points = offsetof(U_EMRPOLYLINE16, apts);
constexpr uint32_t kPolyPolyCount = offsetof(U_EMRPOLYPOLYLINE, nPolys);
constexpr uint32_t kPolyPolyPoints = offsetof(U_EMRPOLYPOLYLINE, cptl);
constexpr uint32_t kPolyPolyCounts = offsetof(U_EMRPOLYPOLYLINE, aPolyCounts);
constexpr uint32_t kTextFixed = offsetof(U_EMREXTTEXTOUTA, emrtext) + sizeof(U_EMRTEXT);
constexpr uint32_t kTextRef =
    offsetof(U_EMREXTTEXTOUTA, emrtext) + offsetof(U_EMRTEXT, ptlReference);
constexpr uint32_t kTextChars = offsetof(U_EMREXTTEXTOUTA, emrtext) + offsetof(U_EMRTEXT, nChars);
constexpr uint32_t kTextOffset =
    offsetof(U_EMREXTTEXTOUTA, emrtext) + offsetof(U_EMRTEXT, offString);
static_assert(kPolyPoints == 28 && kPoly16Points == 28 && kPolyPolyCounts == 32 && kTextFixed == 56,
              "record layouts as in the metafile format");

/* Minimum size of each record that playback reads, 0 for records that are skipped. */
uint32_t FixedSize(uint32_t type) {
    switch (type) {
        case U_EMR_POLYGON:
        case U_EMR_POLYLINE:
        case U_EMR_POLYLINETO:
        case U_EMR_POLYGON16:
        case U_EMR_POLYLINE16:
        case U_EMR_POLYLINETO16:
            return kPolyPoints;
        case U_EMR_POLYPOLYLINE:
        case U_EMR_POLYPOLYGON:
        case U_EMR_POLYPOLYLINE16:
        case U_EMR_POLYPOLYGON16:
            return kPolyPolyCounts;
        case U_EMR_SETWINDOWEXTEX:
        case U_EMR_SETWINDOWORGEX:
        case U_EMR_SETVIEWPORTEXTEX:
        case U_EMR_SETVIEWPORTORGEX:
        case U_EMR_MOVETOEX:
        case U_EMR_LINETO:
            return 16;
        case U_EMR_SETMAPMODE:
        case U_EMR_SETBKMODE:
        case U_EMR_SETTEXTCOLOR:
        case U_EMR_SETBKCOLOR:
        case U_EMR_SELECTOBJECT:
        case U_EMR_DELETEOBJECT:
        case U_EMR_RESTOREDC:
            return 12;
        case U_EMR_SAVEDC:
            return 8;
        case U_EMR_RECTANGLE:
            return 24;
        case U_EMR_CREATEPEN:
            return sizeof(U_EMRCREATEPEN);
        case U_EMR_EXTCREATEPEN:
            return offsetof(U_EMREXTCREATEPEN, elp) + offsetof(U_EXTLOGPEN, elpStyleEntry);
        case U_EMR_CREATEBRUSHINDIRECT:
            return sizeof(U_EMRCREATEBRUSHINDIRECT);
        case U_EMR_EXTTEXTOUTA:
        case U_EMR_EXTTEXTOUTW:
            return kTextFixed;
        default:
            return 0;
    }
}

/* Checks the variable part of a record that playback reads. */
bool CheckVariable(uint32_t type, const RecordReader& r) {
    switch (type) {
        case U_EMR_POLYGON:
        case U_EMR_POLYLINE:
        case U_EMR_POLYLINETO:
            return r.Has(kPolyPoints, uint64_t{r.U32(kPolyCount)} * 8);
        case U_EMR_POLYGON16:
        case U_EMR_POLYLINE16:
        case U_EMR_POLYLINETO16:
            return r.Has(kPoly16Points, uint64_t{r.U32(kPolyCount)} * 4);
        case U_EMR_POLYPOLYLINE:
        case U_EMR_POLYPOLYGON:
        case U_EMR_POLYPOLYLINE16:
        case U_EMR_POLYPOLYGON16: {
            const uint64_t polys = r.U32(kPolyPolyCount), points = r.U32(kPolyPolyPoints);
            const uint64_t point_size =
                (type == U_EMR_POLYPOLYLINE || type == U_EMR_POLYPOLYGON) ? 8 : 4;
            if (!r.Has(kPolyPolyCounts, polys * 4 + points * point_size)) return false;
            uint64_t total = 0;
            for (uint64_t i = 0; i < polys; ++i) total += r.U32(kPolyPolyCounts + 4 * i);
            return total == points;
        }
        case U_EMR_EXTTEXTOUTA:
        case U_EMR_EXTTEXTOUTW: {
            const uint64_t chars = r.U32(kTextChars), off = r.U32(kTextOffset);
            if (chars == 0) return true;
            return off >= kTextFixed && r.Has(off, chars * (type == U_EMR_EXTTEXTOUTW ? 2 : 1));
        }
        default:
            return true;
    }
}

/* Parses and checks a whole metafile; nullptr when anything is wrong. */
std::unique_ptr<MetafileData> Parse(const uint8_t* data, size_t size) {
    if (!data || size < kHeaderMinSize || size > kMaxMetafileBytes) return nullptr;
    auto md = std::make_unique<MetafileData>();
    md->bytes.assign(data, data + size);
    const uint8_t* base = md->bytes.data();
    size_t pos = 0;
    bool seen_eof = false;
    bool first = true;
    while (pos + kRecordHeader <= size) {
        const RecordReader head(base + pos, kRecordHeader);
        const uint32_t type = head.U32(0), rec_size = head.U32(4);
        if (rec_size < kRecordHeader || rec_size % 4 != 0 || rec_size > size - pos) return nullptr;
        const RecordReader r(base + pos, rec_size);
        if (first) {
            if (type != U_EMR_HEADER || rec_size < kHeaderMinSize ||
                r.U32(offsetof(U_EMRHEADER, dSignature)) != U_ENHMETA_SIGNATURE)
                return nullptr;
            auto rect_at = [&r](uint32_t off) {
                return RECT{r.I32(off), r.I32(off + 4), r.I32(off + 8), r.I32(off + 12)};
            };
            md->bounds = rect_at(offsetof(U_EMRHEADER, rclBounds));
            md->frame = rect_at(offsetof(U_EMRHEADER, rclFrame));
            md->device_cx = r.I32(offsetof(U_EMRHEADER, szlDevice));
            md->device_cy = r.I32(offsetof(U_EMRHEADER, szlDevice) + 4);
            md->mm_cx = r.I32(offsetof(U_EMRHEADER, szlMillimeters));
            md->mm_cy = r.I32(offsetof(U_EMRHEADER, szlMillimeters) + 4);
            uint16_t handles;
            std::memcpy(&handles, r.At(offsetof(U_EMRHEADER, nHandles)), 2);
            md->handles = handles;
            first = false;
        } else if (type == U_EMR_EOF) {
            seen_eof = true;
            break;
        } else if (type == U_EMR_HEADER) {
            return nullptr;
        } else if (const uint32_t fixed = FixedSize(type); fixed != 0) {
            if (rec_size < fixed || !CheckVariable(type, r) ||
                !U_emf_record_safe(reinterpret_cast<const char*>(base + pos)))
                return nullptr;
            md->records.push_back(static_cast<uint32_t>(pos));
        }
        pos += rec_size;
    }
    if (!seen_eof) return nullptr;
    return md;
}

HENHMETAFILE Register(std::unique_ptr<MetafileData> md) {
    if (!md) return nullptr;
    auto emf = std::make_unique<Metafile>();
    emf->data = std::move(md);
    return reinterpret_cast<HENHMETAFILE>(AddObject(std::move(emf)));
}

/* The mapping state that metafile records change. */
struct Mapping {
    int mode = U_MM_TEXT;
    double win_org_x = 0, win_org_y = 0, win_ext_x = 1, win_ext_y = 1;
    double vp_org_x = 0, vp_org_y = 0, vp_ext_x = 1, vp_ext_y = 1;
};

/* Graphics objects created by the records. */
struct PlayObject {
    enum { None, Pen, Brush } kind = None;
    PenAttrs pen;
    BrushAttrs brush;
    int logical_width = 0;  // pen width before mapping; -1 for a cosmetic pen
};

class Player {
  public:
    Player(const MetafileData& md, const Dc& dc, const RECT& rect) : md_(md), objects_(md.handles) {
        state_.pen = dc.pen;
        state_.brush = dc.brush;
        state_.text_color = dc.text_color;
        state_.bk_color = dc.bk_color;
        state_.bk_mode = dc.bk_mode;
        target_.bitmap = dc.bitmap;
        target_.font_size = dc.font_size;
        surface_ = dc.surface();
        FrameMapping(rect);
        Update();
    }

    void Play() {
        for (uint32_t off : md_.records) {
            const uint8_t* rec = md_.bytes.data() + off;
            uint32_t type, size;
            std::memcpy(&type, rec, 4);
            std::memcpy(&size, rec + 4, 4);
            One(type, RecordReader(rec, size));
        }
    }

  private:
    struct State {
        Mapping map;
        PenAttrs pen;
        int pen_logical_width = -1;
        BrushAttrs brush;
        COLORREF text_color = 0, bk_color = 0;
        int bk_mode = OPAQUE;
        POINT current{};
    };

    /* Reference-device pixels to target pixels: the frame onto the rectangle. */
    void FrameMapping(const RECT& rect) {
        double fx0, fy0, fx1, fy1;
        if (md_.mm_cx > 0 && md_.mm_cy > 0 && md_.device_cx > 0 && md_.device_cy > 0 &&
            md_.frame.right != md_.frame.left && md_.frame.bottom != md_.frame.top) {
            const double px_x = md_.device_cx / (md_.mm_cx * 100.0);
            const double px_y = md_.device_cy / (md_.mm_cy * 100.0);
            fx0 = md_.frame.left * px_x;
            fx1 = md_.frame.right * px_x;
            fy0 = md_.frame.top * px_y;
            fy1 = md_.frame.bottom * px_y;
        } else {
            fx0 = md_.bounds.left, fx1 = md_.bounds.right;
            fy0 = md_.bounds.top, fy1 = md_.bounds.bottom;
        }
        const double sx = fx1 != fx0 ? (double(rect.right) - rect.left) / (fx1 - fx0) : 1.0;
        const double sy = fy1 != fy0 ? (double(rect.bottom) - rect.top) / (fy1 - fy0) : 1.0;
        frame_ax_ = sx;
        frame_bx_ = rect.left - fx0 * sx;
        frame_ay_ = sy;
        frame_by_ = rect.top - fy0 * sy;
        px_per_01mm_x_ = md_.mm_cx > 0 ? md_.device_cx / (md_.mm_cx * 100.0) : 1.0;
        px_per_01mm_y_ = md_.mm_cy > 0 ? md_.device_cy / (md_.mm_cy * 100.0) : 1.0;
    }

    /* Recomputes the logical-to-target affine map after a mapping record. */
    void Update() {
        const Mapping& m = state_.map;
        double lx = 1, ly = 1;  // logical unit to reference pixels
        switch (m.mode) {
            case U_MM_LOMETRIC:
                lx = 10 * px_per_01mm_x_, ly = -10 * px_per_01mm_y_;
                break;
            case U_MM_HIMETRIC:
                lx = px_per_01mm_x_, ly = -px_per_01mm_y_;
                break;
            case U_MM_LOENGLISH:
                lx = 25.4 * px_per_01mm_x_, ly = -25.4 * px_per_01mm_y_;
                break;
            case U_MM_HIENGLISH:
                lx = 2.54 * px_per_01mm_x_, ly = -2.54 * px_per_01mm_y_;
                break;
            case U_MM_TWIPS:
                lx = 2540.0 / 1440 * px_per_01mm_x_, ly = -2540.0 / 1440 * px_per_01mm_y_;
                break;
            case U_MM_ISOTROPIC:
            case U_MM_ANISOTROPIC:
                lx = m.win_ext_x != 0 ? m.vp_ext_x / m.win_ext_x : 1;
                ly = m.win_ext_y != 0 ? m.vp_ext_y / m.win_ext_y : 1;
                if (m.mode == U_MM_ISOTROPIC) {
                    const double s = std::min(std::fabs(lx), std::fabs(ly));
                    lx = std::copysign(s, lx);
                    ly = std::copysign(s, ly);
                }
                break;
            default:
                break;
        }
        // device = (logical - win_org) * l + vp_org; target = device * frame_a + frame_b
        ax_ = lx * frame_ax_;
        bx_ = (m.vp_org_x - m.win_org_x * lx) * frame_ax_ + frame_bx_;
        ay_ = ly * frame_ay_;
        by_ = (m.vp_org_y - m.win_org_y * ly) * frame_ay_ + frame_by_;
        ApplyPenWidth();
    }

    void ApplyPenWidth() {
        if (state_.pen_logical_width < 0) return;  // cosmetic or the context's own pen
        double w = std::round(state_.pen_logical_width * std::fabs(ax_));
        if (!(w >= 1)) w = 1;  // also NaN
        if (w > kMaxPenWidth) w = kMaxPenWidth;
        state_.pen.width = state_.pen_logical_width == 0 ? 0 : static_cast<int>(w);
    }

    static LONG Clamp(double v) {
        if (!(v > -2147483648.0)) return INT32_MIN;  // also NaN
        if (v > 2147483647.0) return INT32_MAX;
        return static_cast<LONG>(std::lround(v));
    }
    POINT Map(double x, double y) const {
        return POINT{Clamp(x * ax_ + bx_), Clamp(y * ay_ + by_)};
    }

    /* Reads `count` points at `off` (32- or 16-bit) into points_, mapped. */
    void ReadPoints(const RecordReader& r, uint32_t off, uint32_t count, bool wide) {
        points_.resize(count);
        for (uint32_t i = 0; i < count; ++i) {
            if (wide)
                points_[i] = Map(r.I32(off + 8 * i), r.I32(off + 8 * i + 4));
            else
                points_[i] = Map(r.I16(off + 4 * i), r.I16(off + 4 * i + 2));
        }
    }

    void Stroke(const POINT* p, int n, bool closed) {
        StrokePolyline(surface_, state_.pen, p, n, closed);
    }

    void Poly(uint32_t type, const RecordReader& r) {
        const bool wide =
            type == U_EMR_POLYGON || type == U_EMR_POLYLINE || type == U_EMR_POLYLINETO;
        const uint32_t n = r.U32(kPolyCount);
        ReadPoints(r, wide ? kPolyPoints : kPoly16Points, n, wide);
        if (n == 0) return;
        const int count = static_cast<int>(n);
        if (type == U_EMR_POLYGON || type == U_EMR_POLYGON16) {
            if (count < 2) return;
            if (!state_.brush.null)
                FillPolygon(surface_, state_.brush.color, points_.data(), count);
            Stroke(points_.data(), count, true);
        } else if (type == U_EMR_POLYLINE || type == U_EMR_POLYLINE16) {
            if (count >= 2) Stroke(points_.data(), count, false);
        } else {  // poly-line-to: from the current position
            points_.insert(points_.begin(), state_.current);
            Stroke(points_.data(), count + 1, false);
            state_.current = points_.back();
        }
    }

    void PolyPoly(uint32_t type, const RecordReader& r) {
        const bool wide = type == U_EMR_POLYPOLYLINE || type == U_EMR_POLYPOLYGON;
        const uint32_t polys = r.U32(kPolyPolyCount), total = r.U32(kPolyPolyPoints);
        ReadPoints(r, kPolyPolyCounts + 4 * polys, total, wide);
        counts_.resize(polys);
        for (uint32_t i = 0; i < polys; ++i)
            counts_[i] = static_cast<int>(r.U32(kPolyPolyCounts + 4 * i));
        const bool fill = type == U_EMR_POLYPOLYGON || type == U_EMR_POLYPOLYGON16;
        if (fill && !state_.brush.null)
            FillPolyPolygon(surface_, state_.brush.color, points_.data(), counts_.data(),
                            static_cast<int>(polys));
        size_t at = 0;
        for (uint32_t i = 0; i < polys; ++i) {
            const int n = counts_[i];
            if (n >= 2) Stroke(points_.data() + at, n, fill);
            at += static_cast<size_t>(n);
        }
    }

    void Text(uint32_t type, const RecordReader& r) {
        const uint32_t chars = r.U32(kTextChars);
        if (chars == 0) return;
        const POINT at = Map(r.I32(kTextRef), r.I32(kTextRef + 4));
        const int n = static_cast<int>(std::min<uint32_t>(chars, INT32_MAX / 2));
        TextTarget();
        if (type == U_EMR_EXTTEXTOUTA) {
            DrawText950(target_, at.x, at.y,
                        reinterpret_cast<const char*>(r.At(r.U32(kTextOffset))), n);
        } else {
            text16_.resize(n);
            std::memcpy(text16_.data(), r.At(r.U32(kTextOffset)), static_cast<size_t>(n) * 2);
            DrawTextUtf16(target_, at.x, at.y, text16_.data(), n);
        }
    }

    void TextTarget() {
        target_.text_color = state_.text_color;
        target_.bk_color = state_.bk_color;
        target_.bk_mode = state_.bk_mode;
    }

    void Create(uint32_t type, const RecordReader& r) {
        const uint32_t index = r.U32(8);
        if (index == 0 || index >= objects_.size()) return;  // 0 is the metafile itself
        PlayObject& o = objects_[index];
        o = PlayObject{};
        if (type == U_EMR_CREATEBRUSHINDIRECT) {
            const uint32_t style = r.U32(offsetof(U_EMRCREATEBRUSHINDIRECT, lb));
            const COLORREF c = r.U32(offsetof(U_EMRCREATEBRUSHINDIRECT, lb) + 4) & 0xFFFFFFu;
            o.kind = PlayObject::Brush;
            o.brush.null = style == U_BS_NULL;
            o.brush.color = c;
            return;
        }
        uint32_t style, width;
        COLORREF color;
        if (type == U_EMR_CREATEPEN) {
            style = r.U32(offsetof(U_EMRCREATEPEN, lopn));
            width = r.U32(offsetof(U_EMRCREATEPEN, lopn) + 4);
            color = r.U32(offsetof(U_EMRCREATEPEN, lopn) + 12);
            o.logical_width = static_cast<int>(std::min<uint32_t>(width, INT32_MAX));
        } else {
            constexpr uint32_t elp = offsetof(U_EMREXTCREATEPEN, elp);
            style = r.U32(elp);
            width = r.U32(elp + 4);
            color = r.U32(elp + 12);
            o.logical_width = (style & U_PS_TYPE_MASK) == U_PS_GEOMETRIC
                                  ? static_cast<int>(std::min<uint32_t>(width, INT32_MAX))
                                  : -1;
        }
        o.kind = PlayObject::Pen;
        o.pen.null = (style & U_PS_STYLE_MASK) == U_PS_NULL;
        o.pen.width = 1;
        o.pen.color = color & 0xFFFFFFu;
    }

    void Select(uint32_t index) {
        if (index & kStockFlag) {
            const uint32_t stock = index & ~kStockFlag;
            switch (stock) {
                case WHITE_BRUSH:
                case LTGRAY_BRUSH:
                case GRAY_BRUSH:
                case DKGRAY_BRUSH:
                case BLACK_BRUSH:
                case NULL_BRUSH: {
                    static constexpr COLORREF kBrushColors[] = {
                        RGB(255, 255, 255), RGB(192, 192, 192), RGB(128, 128, 128),
                        RGB(64, 64, 64),    RGB(0, 0, 0),       0};
                    state_.brush.null = stock == NULL_BRUSH;
                    state_.brush.color = kBrushColors[stock];
                    break;
                }
                case WHITE_PEN:
                case BLACK_PEN:
                case NULL_PEN: {
                    const COLORREF c = stock == WHITE_PEN ? RGB(255, 255, 255) : 0;
                    state_.pen = PenAttrs{stock == NULL_PEN, 1, c};
                    state_.pen_logical_width = -1;
                    break;
                }
                default:
                    break;  // stock fonts and palettes: the default font stays
            }
            return;
        }
        if (index >= objects_.size()) return;
        const PlayObject& o = objects_[index];
        if (o.kind == PlayObject::Pen) {
            state_.pen = o.pen;
            state_.pen_logical_width = o.logical_width;
            ApplyPenWidth();
        } else if (o.kind == PlayObject::Brush) {
            state_.brush = o.brush;
        }
    }

    void One(uint32_t type, const RecordReader& r) {
        Mapping& m = state_.map;
        switch (type) {
            case U_EMR_POLYGON:
            case U_EMR_POLYLINE:
            case U_EMR_POLYLINETO:
            case U_EMR_POLYGON16:
            case U_EMR_POLYLINE16:
            case U_EMR_POLYLINETO16:
                Poly(type, r);
                break;
            case U_EMR_POLYPOLYLINE:
            case U_EMR_POLYPOLYGON:
            case U_EMR_POLYPOLYLINE16:
            case U_EMR_POLYPOLYGON16:
                PolyPoly(type, r);
                break;
            case U_EMR_SETWINDOWEXTEX:
                m.win_ext_x = r.I32(8), m.win_ext_y = r.I32(12);
                Update();
                break;
            case U_EMR_SETWINDOWORGEX:
                m.win_org_x = r.I32(8), m.win_org_y = r.I32(12);
                Update();
                break;
            case U_EMR_SETVIEWPORTEXTEX:
                m.vp_ext_x = r.I32(8), m.vp_ext_y = r.I32(12);
                Update();
                break;
            case U_EMR_SETVIEWPORTORGEX:
                m.vp_org_x = r.I32(8), m.vp_org_y = r.I32(12);
                Update();
                break;
            case U_EMR_SETMAPMODE:
                if (r.U32(8) >= U_MM_MIN && r.U32(8) <= U_MM_MAX)
                    m.mode = static_cast<int>(r.U32(8));
                Update();
                break;
            case U_EMR_MOVETOEX:
                state_.current = Map(r.I32(8), r.I32(12));
                break;
            case U_EMR_LINETO: {
                const POINT seg[2] = {state_.current, Map(r.I32(8), r.I32(12))};
                Stroke(seg, 2, false);
                state_.current = seg[1];
                break;
            }
            case U_EMR_RECTANGLE: {
                const POINT a = Map(r.I32(8), r.I32(12)), b = Map(r.I32(16), r.I32(20));
                const POINT box[4] = {a, {b.x, a.y}, b, {a.x, b.y}};
                if (!state_.brush.null) FillPolygon(surface_, state_.brush.color, box, 4);
                Stroke(box, 4, true);
                break;
            }
            case U_EMR_SETBKMODE:
                if (r.U32(8) == TRANSPARENT || r.U32(8) == OPAQUE)
                    state_.bk_mode = static_cast<int>(r.U32(8));
                break;
            case U_EMR_SETTEXTCOLOR:
                state_.text_color = r.U32(8) & 0xFFFFFFu;
                break;
            case U_EMR_SETBKCOLOR:
                state_.bk_color = r.U32(8) & 0xFFFFFFu;
                break;
            case U_EMR_CREATEPEN:
            case U_EMR_EXTCREATEPEN:
            case U_EMR_CREATEBRUSHINDIRECT:
                Create(type, r);
                break;
            case U_EMR_SELECTOBJECT:
                Select(r.U32(8));
                break;
            case U_EMR_DELETEOBJECT:
                if (r.U32(8) < objects_.size()) objects_[r.U32(8)] = PlayObject{};
                break;
            case U_EMR_SAVEDC:
                if (saved_.size() < kMaxSavedStates) saved_.push_back(state_);
                break;
            case U_EMR_RESTOREDC: {
                // Negative: relative to the latest saved state (-1 is the latest).
                const int32_t which = r.I32(8);
                if (which < 0 &&
                    static_cast<size_t>(-static_cast<int64_t>(which)) <= saved_.size()) {
                    saved_.resize(saved_.size() -
                                  static_cast<size_t>(-static_cast<int64_t>(which)) + 1);
                    state_ = saved_.back();
                    saved_.pop_back();
                    Update();
                }
                break;
            }
            case U_EMR_EXTTEXTOUTA:
            case U_EMR_EXTTEXTOUTW:
                Text(type, r);
                break;
            default:
                break;
        }
    }

    const MetafileData& md_;
    std::vector<PlayObject> objects_;
    std::vector<State> saved_;
    State state_;
    Dc target_;
    Surface surface_;
    std::vector<POINT> points_;
    std::vector<int> counts_;
    std::vector<uint16_t> text16_;
    double frame_ax_ = 1, frame_bx_ = 0, frame_ay_ = 1, frame_by_ = 0;
    double px_per_01mm_x_ = 1, px_per_01mm_y_ = 1;
    double ax_ = 1, bx_ = 0, ay_ = 1, by_ = 0;
};

}  // namespace
}  // namespace kgdi::detail

using namespace kgdi::detail;

extern "C" {

KGDI_API HENHMETAFILE KgdiLoadEnhMetaFile(const void* data, size_t size) noexcept try {
    try {
        return Register(Parse(static_cast<const uint8_t*>(data), size));
    } catch (...) {
        return nullptr;
    }
} catch (...) {
    return nullptr;
}

KGDI_API HENHMETAFILE GetEnhMetaFileA(const char* path) noexcept try {
    if (!path) return nullptr;
    try {
        std::ifstream in(path, std::ios::binary);
        if (!in) return nullptr;
        in.seekg(0, std::ios::end);
        const std::streamoff size = in.tellg();
        if (size <= 0 || static_cast<uint64_t>(size) > kMaxMetafileBytes) return nullptr;
        in.seekg(0);
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return nullptr;
        return Register(Parse(bytes.data(), bytes.size()));
    } catch (...) {
        return nullptr;
    }
} catch (...) {
    return nullptr;
}

KGDI_API UINT GetEnhMetaFileBits(HENHMETAFILE emf, UINT size, BYTE* data) noexcept try {
    const std::lock_guard<std::mutex> guard(TableLock());
    const auto* m = static_cast<const Metafile*>(LookupLocked(emf, Kind::Metafile));
    if (!m) return 0;
    const std::vector<uint8_t>& bytes = m->data->bytes;
    if (!data) return static_cast<UINT>(bytes.size());
    if (size < bytes.size()) return 0;
    std::memcpy(data, bytes.data(), bytes.size());
    return static_cast<UINT>(bytes.size());
} catch (...) {
    return 0;
}

KGDI_API BOOL PlayEnhMetaFile(HDC hdc, HENHMETAFILE emf, const RECT* rect) noexcept try {
    if (!rect) return FALSE;
    try {
        const Dc* dc = LookupDc(hdc);
        if (!dc) return FALSE;
        const MetafileData* md;
        {
            const std::lock_guard<std::mutex> guard(TableLock());
            const auto* m = static_cast<const Metafile*>(LookupLocked(emf, Kind::Metafile));
            if (!m) return FALSE;
            md = m->data.get();
        }
        Player player(*md, *dc, *rect);
        player.Play();
        KgdiRecord rec{};
        rec.kind = KGDI_REC_METAFILE;
        rec.rect = *rect;
        Record(*dc, rec);
        return TRUE;
    } catch (...) {
        return FALSE;
    }
} catch (...) {
    return FALSE;
}

}  // extern "C"
