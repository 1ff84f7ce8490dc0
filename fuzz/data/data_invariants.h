// data_invariants.h: what must hold after any input went through the data store's loaders,
// checked by the fuzz targets and by the seed corpus tests. Each check returns nullptr when
// the state is sound, else what is wrong.
#ifndef KESTREL_FUZZ_DATA_INVARIANTS_H
#define KESTREL_FUZZ_DATA_INVARIANTS_H

#include <cstdint>
#include <cstring>

#include "data/store.h"

namespace data_invariants {

namespace kd = kestrel::data;

// A slot is either empty (tile 0, no records) or holds records whose vertices, anchors and
// names all lie inside the slot's arrays.
inline const char* check_slot(const kd::TileSlot& s) {
    const kd::TileHeader& h = s.header;
    if (h.tile_number == 0)
        return h.last_record == -1 || h.last_record == 0 ? nullptr : "empty slot with records";
    if (h.last_record < -1 || h.last_record >= kd::MAX_RECORDS) return "record count";
    if (h.vertex_last < -1 || h.vertex_last >= kd::MAX_VERTICES) return "vertex count";
    if (h.name_last < -1 || h.name_last >= kd::MAX_NAMES) return "name count";
    if (h.in_view != 0) return "in-view flag set by loading";
    // Lines and roads (sections A and B) come first; point features (C, D) after them.
    const int64_t lines = int64_t(h.a_last) + 1 + int64_t(h.b_last) + 1;
    for (int i = 0; i <= h.last_record; ++i) {
        const kd::FeatureRecord& r = s.records[i];
        if (r.first_vertex < 0) return "negative first vertex";
        if (i < lines) {
            if (r.vertex_count < 0) return "negative vertex count";
            if (int64_t(r.first_vertex) + r.vertex_count - 1 > h.vertex_last)
                return "vertices outside the array";
        } else if (r.first_vertex > h.vertex_last) {
            return "anchor outside the array";
        }
        if (r.name_index < 0 || (r.name_index > h.name_last && r.name_index != 0))
            return "name index outside the names";
    }
    return nullptr;
}

// The data set's tables stay within their capacities, and every catalogue entry's points lie
// inside the loaded points.
inline const char* check_dataset(const kd::DataSet& d) {
    if (d.tile_index_last < -1 || d.tile_index_last >= kd::TILE_INDEX_CAPACITY)
        return "tile index count";
    for (int i = 0; i <= d.tile_index_last; ++i)
        if (d.tile_index_district[i] < 100) return "district code below 100 kept";
    if (d.place_last < -1 || d.place_last >= kd::PLACE_CAPACITY) return "catalogue count";
    if (d.point_last < -1 || d.point_last >= kd::CATALOGUE_POINTS) return "point count";
    for (int i = 0; i <= d.place_last; ++i) {
        const kd::PlaceEntry& e = d.places[i];
        if (e.kind < kd::PLACE_POLYLINE || e.kind > kd::PLACE_MINOR) return "entry kind";
        if (e.first_point < 0) return "negative first point";
        const int count = e.kind == kd::PLACE_POLYLINE ? e.point_count : 1;
        if (count < 0 || e.first_point + count - 1 > d.point_last) return "points outside";
        if (strnlen(e.name, sizeof e.name) > size_t(kd::PLACE_NAME_MAX)) return "name length";
    }
    return nullptr;
}

}  // namespace data_invariants

#endif  // KESTREL_FUZZ_DATA_INVARIANTS_H
