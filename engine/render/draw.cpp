// draw.cpp: drawing one map view (dlldraw). At 51 metres per pixel or less the view is drawn
// from the tiles of the tile cache (areas, lines, place labels, squares of missing tiles, and
// road names at the most detailed scales); above 51 metres per pixel from the base-map
// metafile and the place catalogue. The view left behind (ViewState, LabelBox list, in-view
// flags of the cache) is what the overlays, queries and the export work on.
//
// A view may be drawn at a scale factor (ViewOptions): the same map, decided at the view's
// scale, with every length in pixels multiplied by the factor and the text scaled with it.
//
// The tiles are drawn in the view's drawing order (ViewOptions, DrawingOrder): by cache slot,
// as the exports always have, or in the order the view lists its tiles, which makes the
// picture a function of the data set and the view alone. The road names are placed in the same
// order, from the roads collected while the tiles are drawn.
//
// The server-only build differs in a few settings: its background brush is made and selected
// on every call, its text is black on a transparent background while the view is drawn and
// blue afterwards, it has no base map, and it draws road names only at 5 metres per pixel or
// less.
#include <algorithm>
#include <cstring>

#include "data/format.h"
#include "data/store.h"
#include "render/cull.h"
#include "render/palette.h"
#include "render/pinned_slots.h"
#include "render/road_names.h"
#include "render/view.h"

namespace kestrel::render {
namespace {

constexpr double MIN_SCALE = 1.0;             // smaller scales are refused
constexpr double TILE_MODE_MAX_SCALE = 51.0;  // tiles up to this scale, base map above it
constexpr double ROAD_NAMES_MAX_SCALE = kServerOnly ? 5.0 : 10.0;
constexpr int TILE_LIST_MAX = data::SLOT_COUNT / 2;  // tiles one view may pin
// Rows and columns of a view are pinned to this many tiles either side of 0, which keeps the
// tile numbers of any view within int32.
constexpr int ROW_LIMIT = INT32_MAX / data::TILE_SIZE_M;
constexpr int BACKGROUND_MARGIN = 20;  // pixels painted beyond each edge of the view

// Line types and the pens of the colour table.
constexpr int FIRST_PEN = 1;
constexpr int LAST_PEN = 15;
constexpr int LAST_SCALED_ROAD_PEN = 9;  // pens 1..9 and 15 have widths in metres
constexpr int SCALED_PEN_15 = 15;
constexpr int LAST_WIDENED_PEN = 5;  // pens 1..5 are at least 2 pixels wide
constexpr int WIDENED_PEN_WIDTH = 2;
constexpr int AREA_TYPE = 11;
constexpr int MISSING_TILE_PEN = 12;
constexpr int CATALOGUE_PEN = 13;
constexpr int OPTIONAL_LINE_13 = 13;
constexpr int OPTIONAL_LINE_14 = 14;
constexpr int LAST_LINE_TYPE = 20;
constexpr int BACKGROUND_ENTRY = 0;
constexpr int AREA_ENTRY = 11;

// Place labels of the tiles (types 21 to 24) and their scale rules.
constexpr int PLACE_TYPE_ALWAYS = 21;
constexpr int PLACE_TYPE_25 = 22;
constexpr int PLACE_TYPE_15 = 23;
constexpr int PLACE_TYPE_8 = 24;
constexpr double PLACE_LABEL_MIN_SCALE = 5.0;  // labels need a scale above this
constexpr double PLACE_22_MAX_SCALE = 25.1;
constexpr double PLACE_23_MAX_SCALE = 15.1;
constexpr double PLACE_24_MAX_SCALE = 8.1;
constexpr int PLACE_TEXT_OFFSET = 2;
constexpr int PLACE_BOX_BEFORE = 5;
constexpr int PLACE_BOX_RIGHT = 113;
constexpr int PLACE_BOX_BOTTOM = 15;

// Catalogue labels and their scale rules.
constexpr double CATALOGUE_POINT_MAX_SCALE = 200.0;
constexpr double CATALOGUE_MINOR_MAX_SCALE = 100.0;
constexpr int CATALOGUE_TEXT_DX = -10;
constexpr int CATALOGUE_TEXT_DY = -5;

constexpr int KEEP_WIDTH = -1;  // dllsetcolor: keep the entry's width

// The characters of the layer string that the drawing reads. A string shorter than four
// characters reads its missing characters as "0".
struct Layers {
    char background;  // character 0: "1" paints the background
    char lines;       // character 2: "0" hides types 13 and 14, above "1" shows type 14
    char labels;      // character 3: "1" draws place labels and road names
};

Layers read_layers(const char* text) noexcept {
    char c[4] = {'0', '0', '0', '0'};
    for (int i = 0; i < 4 && text[i] != '\0'; ++i) c[i] = text[i];
    return Layers{c[0], c[2], c[3]};
}

// int64 sum pinned to the int32 range, for pixel coordinates near the range's ends.
int32_t add_pixels(int32_t a, int64_t b) noexcept {
    return static_cast<int32_t>(std::clamp<int64_t>(a + b, INT32_MIN, INT32_MAX));
}

// The named roads that reach the view, collected while the tiles are drawn so that the road
// labeller need not scan every road of the tiles again (a view is far smaller than its tiles).
RoadRef g_view_roads[data::SLOT_COUNT * data::MAX_RECORDS];

// Everything one draw works with.
struct Drawing {
    HDC dc;
    const ViewState& view;
    Layers layers;
    HBRUSH fill;
    WorldWindow window{};  // features wholly outside it are not handed to the drawing layer
    HGDIOBJ kept_brush = nullptr;
    bool brush_kept = false;
    bool collect_roads = false;  // road names follow: note the roads that reach the view
    int roads = 0;               // entries of g_view_roads

    // Selects a brush, keeping the brush the device context had before the first selection.
    void select_brush(HGDIOBJ brush) noexcept {
        HGDIOBJ previous = SelectObject(dc, brush);
        if (!brush_kept) {
            kept_brush = previous;
            brush_kept = true;
        }
    }

    PixelMap map = view_pixel_map(view);
    LabelGrid labels{view};
    int32_t px(int32_t pixels) const noexcept { return scaled(pixels, view.factor); }
};

// Draws a filled polygon of `count` points given by map_point(i). An outline with more points
// than the buffer holds is thinned to POINT_BUFFER_SIZE evenly spread vertices, which keeps
// its shape at any scale where that many vertices are visible at all.
template <class MapPoint>
void draw_polygon(HDC dc, int count, MapPoint map_point) noexcept {
    if (count < 2) return;
    POINT* buffer = point_buffer();
    const int n = std::min(count, POINT_BUFFER_SIZE);
    for (int i = 0; i < n; ++i) buffer[i] = map_point(static_cast<int>(int64_t{i} * count / n));
    Polygon(dc, buffer, n);
}

// Width in pixels of the pen of a line type: pens 1 to 9 and 15 have widths in metres divided
// by the scale; pens 1 to 5 are never thinner than 2 pixels. Negative widths count as 0.
int pen_width(int type, const ColourEntry& entry, double scale) noexcept {
    int width = std::max<int>(entry.width, 0);
    if (type <= LAST_SCALED_ROAD_PEN || type == SCALED_PEN_15) {
        width = truncate_to_int32(width / scale);
        if (type <= LAST_WIDENED_PEN && width <= 1) width = WIDENED_PEN_WIDTH;
    }
    return width;
}

// Creates the pens of line types 1 to 15 in the pen table, at the view's scale factor; returns
// the widest width.
int create_pens(double scale, int factor) noexcept {
    HPEN* pens = pen_table();
    const ColourEntry* colours = colour_table();
    int widest = 0;
    for (int type = FIRST_PEN; type <= LAST_PEN; ++type) {
        const int width = scaled_pen_width(pen_width(type, colours[type], scale), factor);
        widest = std::max(widest, width);
        pens[type] = CreatePen(PS_SOLID, width, colour_of(colours[type]));
    }
    return widest;
}

void delete_pens() noexcept {
    HPEN* pens = pen_table();
    for (int type = FIRST_PEN; type <= LAST_PEN; ++type) {
        DeleteObject(pens[type]);
        pens[type] = nullptr;
    }
}

// The background: the view and a margin around it, without outline, in the current brush.
void paint_background(const Drawing& d) noexcept {
    const int32_t margin = d.px(BACKGROUND_MARGIN);
    const int32_t lo = -margin;
    const int32_t right = add_pixels(d.view.width, margin);
    const int32_t bottom = add_pixels(d.view.height, margin);
    const POINT corners[5] = {{lo, lo}, {right, lo}, {right, bottom}, {lo, bottom}, {lo, lo}};
    Polygon(d.dc, corners, 5);
}

// Plays the base-map metafile into the rectangle that its world frame covers in the view.
[[maybe_unused]] void play_base_map(const Drawing& d) noexcept {
    namespace fmt = data::format;
    HENHMETAFILE base_map = data::dataset().base_map;
    if (base_map == nullptr) return;
    const double scale = d.view.scale;
    const double factor = d.view.factor;
    const POINT corner = d.map(fmt::kBaseMapWest, fmt::kBaseMapNorth);
    RECT r;
    r.left = corner.x;
    r.top = corner.y;
    r.right = truncate_to_int32(r.left + double{fmt::kBaseMapWidth} * factor / scale);
    r.bottom = truncate_to_int32(r.top + double{fmt::kBaseMapHeight} * factor / scale);
    PlayEnhMetaFile(d.dc, base_map, &r);
}

// Lists the tiles of the view: rows from south to north, in each row the columns from east to
// west, at most TILE_LIST_MAX of them. Returns how many were written to `tiles`. The view's
// extent in metres is its size times the metres of its pixels, scale / factor.
int list_view_tiles(const ViewState& view, int32_t* tiles) noexcept {
    const int32_t west = view.left / data::TILE_SIZE_M;
    const int32_t north = view.top / data::TILE_SIZE_M;
    const double extent_y = view.height * view.scale / view.factor;
    const double extent_x = view.width * view.scale / view.factor;
    const int32_t south = std::clamp(truncate_to_int32((view.top - extent_y) / data::TILE_SIZE_M),
                                     -ROW_LIMIT, ROW_LIMIT);
    const int32_t east = std::clamp(truncate_to_int32((view.left + extent_x) / data::TILE_SIZE_M),
                                    -ROW_LIMIT, ROW_LIMIT);
    int n = 0;
    if (east < west) return 0;
    for (int32_t row = south; row <= north && n < TILE_LIST_MAX; ++row)
        for (int32_t column = east; column >= west && n < TILE_LIST_MAX; --column)
            tiles[n++] = data::tile_number(row, column);
    return n;
}

// True when tile a comes before tile b in a view's tile list: rows from south to north, in a
// row the columns from east to west (list_view_tiles).
bool listed_before(int32_t a, int32_t b) noexcept {
    const int32_t row_a = data::tile_row(a), row_b = data::tile_row(b);
    if (row_a != row_b) return row_a < row_b;
    return data::tile_column(a) > data::tile_column(b);
}

// Paints the square of a tile that is not available: outlined with the selected pen (12),
// filled with the selected fill brush.
void paint_missing_tile(const Drawing& d, int32_t tile) noexcept {
    const int64_t x = data::tile_west(tile);
    const int64_t y = data::tile_south_wide(tile);
    const int64_t side = data::TILE_SIZE_M;
    const POINT square[5] = {d.map(x, y), d.map(x + side, y), d.map(x + side, y + side),
                             d.map(x, y + side), d.map(x, y)};
    Polygon(d.dc, square, 5);
}

// Clears the in-view flag of every slot.
void unpin_tiles() noexcept {
    for (int s = 0; s < data::SLOT_COUNT; ++s) data::slot(s).header.in_view = 0;
}

// Pins the view's tiles in the cache: clears every in-view flag, flags the slots that already
// hold a listed tile, then loads the others (painting the squares of those that are missing).
void pin_view_tiles(Drawing& d, const int32_t* tiles, int count) noexcept {
    bool cached[TILE_LIST_MAX] = {};
    unpin_tiles();
    for (int i = 0; i < count; ++i) {
        // Tile number 0 marks a slot never filled, so the cache never reports it as cached.
        const int s = data::find_slot(tiles[i]);
        if (s < 0) continue;
        data::slot(s).header.in_view = 1;
        cached[i] = true;
    }
    SelectObject(d.dc, pen_table()[MISSING_TILE_PEN]);
    d.select_brush(d.fill);
    for (int i = 0; i < count; ++i) {
        if (cached[i]) continue;
        const int s = data::find_or_load_tile(tiles[i]);
        if (s < 0)
            paint_missing_tile(d, tiles[i]);
        else
            data::slot(s).header.in_view = 1;
    }
}

// Selects the pen of a line type (type 11: pen 11 and the fill brush). Types without a pen
// leave the selected pen in use.
void select_type_pen(const Drawing& d, int type) noexcept {
    if (type < FIRST_PEN || type > LAST_PEN) return;
    SelectObject(d.dc, pen_table()[type]);
    if (type == AREA_TYPE) SelectObject(d.dc, d.fill);
}

// Draws record r of slot s, a line or an area. Records whose vertices lie outside the slot's
// vertex array are skipped.
void draw_line_record(Drawing& d, const data::TileSlot& slot, int s, int r) noexcept {
    const data::FeatureRecord& rec = slot.records[r];
    if (rec.type == OPTIONAL_LINE_13 && d.layers.lines == '0') return;
    if (rec.type == OPTIONAL_LINE_14 && !(d.layers.lines > '1')) return;
    int count = 0;
    const data::Vertex* v = data::record_vertices(slot, rec, &count);
    if (v == nullptr || count < 2) return;
    if (outside_window(slot, rec.first_vertex, count, d.window)) return;
    if (d.collect_roads && is_labelled_road_type(rec.type))
        g_view_roads[d.roads++] = RoadRef{static_cast<int16_t>(s), r};
    const int64_t ox = slot.header.origin_x;
    const int64_t oy = slot.header.origin_y;
    auto map_point = [&](int i) { return d.map(ox + v[i].x, oy + v[i].y); };
    if (rec.type == AREA_TYPE)
        draw_polygon(d.dc, count, map_point);
    else
        draw_polyline_runs(d.dc, count, [&](int start, int n, POINT* out) {
            d.map.map_offsets(ox, oy, v + start, n, out);
        });
}

// True when a place label of this type is drawn at this scale.
bool place_label_shown(int type, double scale) noexcept {
    switch (type) {
        case PLACE_TYPE_ALWAYS:
            return true;
        case PLACE_TYPE_25:
            return scale <= PLACE_22_MAX_SCALE;
        case PLACE_TYPE_15:
            return scale <= PLACE_23_MAX_SCALE;
        case PLACE_TYPE_8:
            return scale <= PLACE_24_MAX_SCALE;
        default:
            return false;
    }
}

// Draws the place label of a point record when its anchor lies inside the view and its type
// is shown at this scale, and records its box. When the LabelBox list is full the label is
// left out, so that no label is drawn that later labels cannot avoid.
void draw_place_label(const Drawing& d, const data::TileSlot& slot,
                      const data::FeatureRecord& rec) noexcept {
    if (!(d.view.scale > PLACE_LABEL_MIN_SCALE) || !place_label_shown(rec.type, d.view.scale))
        return;
    const data::Vertex* anchor = data::record_anchor(slot, rec);
    const char* name = data::record_name(slot, rec);
    if (anchor == nullptr || name == nullptr) return;
    const LabelGrid& grid = d.labels;
    const POINT a = grid.on_grid(int64_t{slot.header.origin_x} + anchor->x,
                                 int64_t{slot.header.origin_y} + anchor->y);
    if (!(a.x > 0 && a.x < grid.width() && a.y > 0 && a.y < grid.height())) return;
    const POINT p = grid.to_picture(a);
    if (!add_label_box(p.x - grid.px(PLACE_BOX_BEFORE), p.y - grid.px(PLACE_BOX_BEFORE),
                       p.x + grid.px(PLACE_BOX_RIGHT), p.y + grid.px(PLACE_BOX_BOTTOM)))
        return;
    TextOutA(d.dc, p.x + grid.px(PLACE_TEXT_OFFSET), p.y + grid.px(PLACE_TEXT_OFFSET), name,
             data::NAME_BYTES);
}

// Draws the records of one pinned slot in storage order; the pen changes only when the type
// changes from one record to the next.
void draw_slot(Drawing& d, int s) noexcept {
    const data::TileSlot& slot = data::slot(s);
    int current = -1;
    const int last = data::last_record(slot);
    for (int r = 0; r <= last; ++r) {
        const data::FeatureRecord& rec = slot.records[r];
        if (rec.type <= LAST_LINE_TYPE) {
            if (rec.type != current) {
                select_type_pen(d, rec.type);
                current = rec.type;
            }
            draw_line_record(d, slot, s, r);
        } else if (d.layers.labels == '1') {
            draw_place_label(d, slot, rec);
        }
    }
}

// Tile mode: the view's tiles pinned and loaded, then drawn slot by slot in the view's order.
void draw_tiles(Drawing& d) noexcept {
    int32_t tiles[TILE_LIST_MAX];
    const int count = list_view_tiles(d.view, tiles);
    pin_view_tiles(d, tiles, count);
    int slots[data::SLOT_COUNT];
    const int pinned = pinned_slots(d.view.order, slots);
    for (int i = 0; i < pinned; ++i) draw_slot(d, slots[i]);
}

// True when a catalogue label of this kind is written at this scale.
bool catalogue_label_shown(int kind, double scale) noexcept {
    return kind == data::PLACE_CITY ||
           (kind == data::PLACE_POINT && scale <= CATALOGUE_POINT_MAX_SCALE) ||
           (kind == data::PLACE_MINOR && scale <= CATALOGUE_MINOR_MAX_SCALE);
}

// Small-scale mode: the catalogue's polylines with pen 13 and its labels. Entries whose points
// lie outside the catalogue's point table are skipped.
void draw_catalogue(const Drawing& d) noexcept {
    const data::DataSet& ds = data::dataset();
    SelectObject(d.dc, pen_table()[CATALOGUE_PEN]);
    const int last = std::min(ds.place_last, data::PLACE_CAPACITY - 1);
    const int64_t points = std::min(int64_t{ds.point_last} + 1, int64_t{data::CATALOGUE_POINTS});
    for (int i = 0; i <= last; ++i) {
        const data::PlaceEntry& e = ds.places[i];
        const int first = e.first_point;
        if (first < 0 || first >= points) continue;
        if (e.kind == data::PLACE_POLYLINE) {
            const int count = static_cast<int>(std::min<int64_t>(e.point_count, points - first));
            draw_polyline(d.dc, count, [&](int k) {
                return d.map(ds.points[first + k].x, ds.points[first + k].y);
            });
        } else if (catalogue_label_shown(e.kind, d.view.scale)) {
            const POINT p =
                d.labels.to_picture(d.labels.on_grid(ds.points[first].x, ds.points[first].y));
            TextOutA(d.dc, p.x + d.px(CATALOGUE_TEXT_DX), p.y + d.px(CATALOGUE_TEXT_DY), e.name,
                     static_cast<int>(strnlen(e.name, sizeof e.name)));
        }
    }
}

}  // namespace

int pinned_slots(DrawingOrder order, int* slots) noexcept {
    int n = 0;
    for (int s = 0; s < data::SLOT_COUNT; ++s)
        if (data::slot(s).header.in_view == 1) slots[n++] = s;
    if (order == DrawingOrder::kTileList)
        // At most 40 slots (a view pins no more), nearly always fewer than ten: an insertion
        // sort. Equal tile numbers (a damaged data set) keep their slot order.
        for (int i = 1; i < n; ++i) {
            const int s = slots[i];
            const int32_t tile = data::slot(s).header.tile_number;
            int j = i;
            for (; j > 0 && listed_before(tile, data::slot(slots[j - 1]).header.tile_number); --j)
                slots[j] = slots[j - 1];
            slots[j] = s;
        }
    return n;
}

int draw_view(HDC dc, int32_t left, int32_t top, int32_t width, int32_t height, double scale,
              const char* layers) noexcept {
    return draw_view(dc, left, top, width, height, scale, layers, ViewOptions{});
}

int draw_view(HDC dc, int32_t left, int32_t top, int32_t width, int32_t height, double scale,
              const char* layers, const ViewOptions& options) noexcept {
    if (dc == nullptr || layers == nullptr || GetBkMode(dc) == 0) return -1;
    if (!(scale >= MIN_SCALE)) return -1;
    const int factor = options.scale_factor;
    if (factor < kMinScaleFactor || factor > kMaxScaleFactor) return -1;

    ViewState& view = view_state();
    view = ViewState{dc, left, top, width, height, scale, factor, options.order};
    label_boxes().last = -1;
    Drawing d{dc, view, read_layers(layers), nullptr};
    const ScaledText text(dc, factor);

    HBRUSH background = nullptr;
    if constexpr (kServerOnly) {
        background = CreateSolidBrush(colour_of(colour_table()[BACKGROUND_ENTRY]));
        d.select_brush(background);
    }
    HGDIOBJ kept_pen = SelectObject(dc, GetStockObject(NULL_PEN));

    if (d.layers.background == '1') {
        if constexpr (kServerOnly) {
            paint_background(d);
            SelectObject(dc, d.kept_brush);
        } else {
            background = CreateSolidBrush(colour_of(colour_table()[BACKGROUND_ENTRY]));
            d.select_brush(background);
            paint_background(d);
            SelectObject(dc, d.kept_brush);
            DeleteObject(background);
            background = nullptr;
            SelectObject(dc, kept_pen);
        }
    }
    if constexpr (kServerOnly) {
        SetTextColor(dc, kServerTextColour);
        SetBkMode(dc, TRANSPARENT);
    } else if (scale > TILE_MODE_MAX_SCALE) {
        play_base_map(d);
    }

    const int widest_pen = create_pens(scale, factor);
    d.window = world_window(view, widest_pen / 2 + 1);
    d.fill = CreateSolidBrush(colour_of(colour_table()[AREA_ENTRY]));
    const bool road_names = scale <= ROAD_NAMES_MAX_SCALE && d.layers.labels == '1';
    d.collect_roads = road_names;
    if (scale <= TILE_MODE_MAX_SCALE) {
        draw_tiles(d);
    } else {
        // The catalogue leaves the tile cache alone; in the view's tile order it unpins the
        // tiles of the view before, so that the overlays draw nothing of them over this view.
        if (options.order == DrawingOrder::kTileList) unpin_tiles();
        draw_catalogue(d);
    }
    if (road_names) draw_road_names_of(g_view_roads, d.roads);
    if constexpr (kServerOnly) SetTextColor(dc, kServerTextAfterViewColour);

    SelectObject(dc, kept_pen);
    delete_pens();
    if (d.brush_kept) SelectObject(dc, d.kept_brush);
    if (background != nullptr) DeleteObject(background);
    DeleteObject(d.fill);
    GdiFlush();
    return 0;
}

int set_colour(int index, int red, int green, int blue, int width) noexcept {
    if (index < 0 || index >= COLOUR_ENTRIES) return -1;
    ColourEntry& e = colour_table()[index];
    e.red = static_cast<int16_t>(red);
    e.green = static_cast<int16_t>(green);
    e.blue = static_cast<int16_t>(blue);
    // A width that no pen can have (negative, or beyond an int16) is pinned to 0 or the
    // largest width rather than wrapping round.
    if (width != KEEP_WIDTH) e.width = static_cast<int16_t>(std::clamp(width, 0, int{INT16_MAX}));
    return 0;
}

}  // namespace kestrel::render
