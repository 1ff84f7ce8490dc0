// highlight.cpp: dllselroad, which draws every piece of a named road of the last view over the
// view with the highlight pen (colour entry 10).
#include <cstring>

#include "query/query.h"
#include "render/view.h"

namespace kestrel::query {

// Walks the pinned slots (in-view flag 1) in slot order and, in each, the line records up to
// the first point feature; roads whose 20-byte name entry begins with the name are drawn. The
// name is compared over its own length, cut to the 20 bytes of a name entry, with a bounded
// comparison that also ends at a NUL.
int select_road(const char* name) noexcept {
    if (name == nullptr) return -2;
    const std::size_t len = strnlen(name, HIGHLIGHT_NAME_MAX);
    if (len == 0) return -2;
    const render::ViewState& view = render::view_state();
    if (view.dc == nullptr) return -1;  // no view drawn yet

    HGDIOBJ previous = select_highlight_pen(view.dc, view.factor);
    int count = -1;
    for (int s = 0; s < data::SLOT_COUNT; ++s) {
        const data::TileSlot& slot = data::slot(s);
        if (slot.header.in_view != 1) continue;
        const int last = last_record(slot);
        for (int i = 0; i <= last; ++i) {
            const data::FeatureRecord& r = slot.records[i];
            if (r.type >= POINT_TYPE_FIRST) break;  // only point features follow
            if (!is_road_type(r.type)) continue;
            const char* road_name = record_name(slot, r);
            if (road_name == nullptr || std::strncmp(name, road_name, len) != 0) continue;
            int n = 0;
            const data::Vertex* v = record_vertices(slot, r, &n);
            draw_world_polyline(view.dc, v, n, slot.header.origin_x, slot.header.origin_y,
                                view.left, view.top, view.scale, view.factor);
            ++count;
        }
    }
    release_highlight_pen(view.dc, previous);
    return count;
}

}  // namespace kestrel::query
