// exports/query.cpp: the flat C exports of the road queries and reports: dllselroad,
// dllquroad, dllquroad2, dllqudrroad, dlldistroad, dlldistcrrd, dlldist44, dlldistxy and
// dlldistsearch. kestrel.h documents them; each runs one call of query/query.h through the
// guard.
#include "query/query.h"

#include "exports/guard.h"
#include "kestrel.h"

namespace query = kestrel::query;
using kestrel::exports::guarded;

extern "C" {

KESTREL_API int dllselroad(const char* name) noexcept {
    return guarded(-1, [&] { return query::select_road(name); });
}

KESTREL_API int dllquroad(int x, int y, double scale, char* text) noexcept {
    return guarded(-1, [&] { return query::query_road(x, y, scale, text); });
}

KESTREL_API int dllquroad2(int x, int y, double scale, char* text, double* slope) noexcept {
    return guarded(-1, [&] { return query::query_road_slope(x, y, scale, text, slope); });
}

KESTREL_API int dllqudrroad(int x, int y, double scale, char* text, HDC hdc, int left,
                            int top) noexcept {
    return guarded(-1, [&] { return query::query_draw_road(x, y, scale, text, hdc, left, top); });
}

KESTREL_API int dlldistroad(int code) noexcept {
    return guarded(-1, [&] { return query::district_roads(code); });
}

KESTREL_API int dlldistcrrd(int code, char* name) noexcept {
    return guarded(-1, [&] { return query::meeting_roads(code, name); });
}

KESTREL_API int dlldist44(int code, int category) noexcept {
    return guarded(-1, [&] { return query::poi_by_district(code, category); });
}

KESTREL_API int dlldistxy(int x, int y, int r, int category) noexcept {
    return guarded(-1, [&] { return query::poi_by_window(x, y, r, category); });
}

KESTREL_API int dlldistsearch(const char* text) noexcept {
    return guarded(-1, [&] { return query::poi_by_name(text); });
}

}  // extern "C"
