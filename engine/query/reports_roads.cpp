// reports_roads.cpp: the district road reports. dlldistroad lists every distinct road name of a
// district with one position on it (distroad.tmp); dlldistcrrd lists the roads that share a
// stored vertex with a named road of a district, at the first shared vertex (distcrrd.tmp).
// Both walk the tiles that the district index lists for the district, through the tile cache,
// and keep the names already written in the ReportNameList so that each is written once.
#include <algorithm>
#include <cstring>

#include "query/query.h"

namespace kestrel::query {
namespace {

constexpr int REPORT_SEPARATOR_BLANKS = 7;  // between the name and X

// A name entry copied as the reports compare and print it: up to its first NUL, at most 20
// bytes, the rest NUL.
struct ReportName {
    char bytes[data::NAME_BYTES + 1];
    explicit ReportName(const char* entry) noexcept {
        const std::size_t n = strnlen(entry, data::NAME_BYTES);
        std::memcpy(bytes, entry, n);
        std::memset(bytes + n, 0, sizeof bytes - n);
    }
};

// Writes one road line: the name, 7 blanks, X, one blank, Y, CR LF.
void write_road_line(ReportFile& file, const ReportName& name, int64_t x, int64_t y) noexcept {
    file.text(name.bytes);
    file.blanks(REPORT_SEPARATOR_BLANKS);
    file.number(x);
    file.blanks(1);
    file.number(y);
    file.line_end();
}

// The name entry of a road of a report: a record of type 1 to 9 whose name index is valid;
// nullptr otherwise.
const char* road_name(const data::TileSlot& slot, const data::FeatureRecord& r) noexcept {
    if (!is_road_type(r.type)) return nullptr;
    return record_name(slot, r);
}

// Calls visit(slot) for the slot of every district-index entry of `code`, in index order; an
// entry whose tile is neither cached nor loadable is passed over.
template <typename Visit>
void for_each_district_tile(int32_t code, Visit visit) noexcept {
    const data::DataSet& ds = data::dataset();
    const int last = std::min(ds.tile_index_last, data::TILE_INDEX_CAPACITY - 1);
    for (int e = 0; e <= last; ++e) {
        if (ds.tile_index_district[e] != code) continue;
        const int s = data::find_or_load_tile(ds.tile_index_tile[e]);
        if (s >= 0) visit(data::slot(s));
    }
}

}  // namespace

// ---- ReportNameList ----------------------------------------------------------------------

namespace {

// A name entry as the list keeps it: the bytes up to the first NUL (at most 20), then NULs, so
// that names equal under a bounded 20-byte comparison have equal bytes.
void normalise(const char* name, char (&out)[data::NAME_BYTES]) noexcept {
    const std::size_t n = strnlen(name, data::NAME_BYTES);
    std::memcpy(out, name, n);
    std::memset(out + n, 0, data::NAME_BYTES - n);
}

}  // namespace

ReportNameList& report_names() noexcept {
    static ReportNameList list;
    return list;
}

void ReportNameList::clear() noexcept {
    std::memset(table_, 0, sizeof table_);
    last_ = -1;
}

// FNV-1a over the 20 bytes of a normalised name (NUL after its end).
uint32_t ReportNameList::hash(const char* name) noexcept {
    uint32_t h = 2166136261u;
    for (int i = 0; i < data::NAME_BYTES; ++i) {
        h ^= static_cast<uint8_t>(name[i]);
        h *= 16777619u;
    }
    return h;
}

// The index of a normalised name in the list, or -1; *home receives the free table place where
// it would go.
int ReportNameList::find(const char* name, uint32_t* home) const noexcept {
    uint32_t p = hash(name) & (HASH_SLOTS - 1);
    while (table_[p] != 0) {
        const int index = table_[p] - 1;
        if (std::memcmp(names_[index], name, data::NAME_BYTES) == 0) return index;
        p = (p + 1) & (HASH_SLOTS - 1);
    }
    *home = p;
    return -1;
}

bool ReportNameList::contains(const char* name) const noexcept {
    char normal[data::NAME_BYTES];
    normalise(name, normal);
    uint32_t home = 0;
    return find(normal, &home) >= 0;
}

bool ReportNameList::add(const char* name) noexcept {
    char normal[data::NAME_BYTES];
    normalise(name, normal);
    uint32_t home = 0;
    if (find(normal, &home) >= 0 || last_ + 1 >= REPORT_NAME_CAPACITY) return false;
    ++last_;
    std::memcpy(names_[last_], normal, data::NAME_BYTES);
    table_[home] = last_ + 1;
    return true;
}

// ---- the reports -----------------------------------------------------------------------------

// Each distinct name of the district's named roads, at the first vertex of the first record of
// that name met in district-index order and then in storage order.
int district_roads(int32_t code) noexcept {
    ReportFile file;
    if (!file.open(DISTROAD_FILE)) return -1;
    ReportNameList& names = report_names();
    names.clear();
    for_each_district_tile(code, [&](const data::TileSlot& slot) {
        const int last = last_record(slot);
        for (int i = 0; i <= last; ++i) {
            const data::FeatureRecord& r = slot.records[i];
            const char* name = road_name(slot, r);
            if (name == nullptr || r.district != code || name[0] == ' ') continue;
            const data::Vertex* v = data::record_anchor(slot, r);
            if (v == nullptr) continue;
            const ReportName copy(name);
            if (!names.add(copy.bytes)) continue;
            write_road_line(file, copy, int64_t{slot.header.origin_x} + v->x,
                            int64_t{slot.header.origin_y} + v->y);
        }
    });
    if (!file.commit()) return -1;
    return names.last();
}

// The roads of each listed tile that share a stored vertex with a road of the district whose
// name equals the padded name; each meeting road once, at the first shared vertex met (index
// order, then record of the named road, then its vertex, then the meeting record).
int meeting_roads(int32_t code, char* name) noexcept {
    if (name == nullptr) return -1;
    const std::size_t len = strnlen(name, data::NAME_BYTES);
    std::memset(name + len, ' ', data::NAME_BYTES - len);
    name[data::NAME_BYTES] = '\0';

    ReportFile file;
    if (!file.open(DISTCRRD_FILE)) return -1;
    ReportNameList& names = report_names();
    names.clear();
    for_each_district_tile(code, [&](const data::TileSlot& slot) {
        const int last = last_record(slot);
        for (int i = 0; i <= last; ++i) {
            const data::FeatureRecord& ri = slot.records[i];
            const char* name_i = road_name(slot, ri);
            if (name_i == nullptr || ri.district != code ||
                std::strncmp(name_i, name, data::NAME_BYTES) != 0)
                continue;
            int ni = 0;
            const data::Vertex* vi = record_vertices(slot, ri, &ni);
            for (int a = 0; a < ni; ++a) {
                for (int k = 0; k <= last; ++k) {
                    const data::FeatureRecord& rk = slot.records[k];
                    const char* name_k = road_name(slot, rk);
                    if (k == i || name_k == nullptr || name_k[0] == ' ' ||
                        std::strncmp(name_k, name, data::NAME_BYTES) == 0)
                        continue;
                    int nk = 0;
                    const data::Vertex* vk = record_vertices(slot, rk, &nk);
                    for (int b = 0; b < nk; ++b) {
                        if (vk[b].x != vi[a].x || vk[b].y != vi[a].y) continue;
                        const ReportName copy(name_k);
                        if (names.add(copy.bytes))
                            write_road_line(file, copy, int64_t{slot.header.origin_x} + vi[a].x,
                                            int64_t{slot.header.origin_y} + vi[a].y);
                        break;
                    }
                }
            }
        }
    });
    if (!file.commit()) return -1;
    return names.last();
}

}  // namespace kestrel::query
