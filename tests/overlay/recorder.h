// recorder.h: collects what the engine draws into a device context, through the drawing
// layer's recorder, so that overlay tests can check every primitive with its attributes.
#ifndef KESTREL_TESTS_OVERLAY_RECORDER_H
#define KESTREL_TESTS_OVERLAY_RECORDER_H

#include <string>
#include <vector>

#include "kgdi.h"

namespace kestrel_test {

struct Drawn {
    int kind = 0;
    std::vector<POINT> points;  // polylines and polygons
    int x = 0;                  // text
    int y = 0;
    std::string text;
    int pen_width = 0;
    COLORREF pen_color = 0;
};

class Recorder {
  public:
    explicit Recorder(HDC dc) : dc_(dc) { KgdiSetRecorder(dc_, &Recorder::on_record, this); }
    ~Recorder() { KgdiSetRecorder(dc_, nullptr, nullptr); }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    std::vector<Drawn> of_kind(int kind) const {
        std::vector<Drawn> out;
        for (const Drawn& d : drawn_)
            if (d.kind == kind) out.push_back(d);
        return out;
    }
    std::vector<Drawn> polylines() const { return of_kind(KGDI_REC_POLYLINE); }
    std::vector<Drawn> texts() const { return of_kind(KGDI_REC_TEXT); }
    void clear() { drawn_.clear(); }

  private:
    static void on_record(void* user, const KgdiRecord* r) {
        Drawn d;
        d.kind = r->kind;
        if (r->points != nullptr) d.points.assign(r->points, r->points + r->count);
        d.x = r->x;
        d.y = r->y;
        if (r->text != nullptr) d.text.assign(r->text, std::size_t(r->text_len));
        d.pen_width = r->pen_width;
        d.pen_color = r->pen_color;
        static_cast<Recorder*>(user)->drawn_.push_back(std::move(d));
    }

    HDC dc_;
    std::vector<Drawn> drawn_;
};

}  // namespace kestrel_test

// Points compare by value (in the global namespace, where POINT lives, so that the test
// macros find it).
inline bool operator==(const POINT& a, const POINT& b) {
    return a.x == b.x && a.y == b.y;
}

#endif  // KESTREL_TESTS_OVERLAY_RECORDER_H
