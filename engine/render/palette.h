// palette.h: the colours of a map, for drawing it into an 8-bit surface (a DIB section of 8
// bits a pixel with a colour table).
//
// A view takes its colours from four places only: the colour table (dllsetcolor's 50 entries:
// the background, the pens of the line types, the areas and missing tiles, the highlight), the
// fixed colours named here (the overlays' pens, the server-only build's text), the base-map
// metafile of the data set (its pens, brushes, text and background colours, and the stock
// objects it selects) and the caller's own context (the colour it clears the surface to, its
// text colour, its background colour when it writes text opaquely, and the pen and brush it
// leaves selected, which the base map draws with until it selects its own). No drawing adds a
// colour: nothing is antialiased, and text is two-colour at every scale factor.
//
// map_palette lists those colours once each. A view, its labels, road names, points of
// interest, track and highlights drawn into an 8-bit surface with that list as its colour table
// then hold every colour exactly: expanded through the table, the picture is, pixel for pixel,
// the one drawn into a 32-bit surface. The list depends on the loaded data set (its base map)
// and the colour table, so it is made again after either changes.
#ifndef KESTREL_RENDER_PALETTE_H
#define KESTREL_RENDER_PALETTE_H

#include <cstdint>

#include "gdi_api.h"

namespace kestrel::render {

// The fixed colours of the engine's drawing, named once.
inline constexpr COLORREF kPoiColour = RGB(0, 0, 255);    // crosses of the points of interest
inline constexpr COLORREF kTrackColour = RGB(0, 128, 0);  // the track history
// The server-only build writes a view's text in one colour and leaves the context's text
// colour at another afterwards (what is written later, such as names of points of interest).
inline constexpr COLORREF kServerTextColour = RGB(0, 0, 0);
inline constexpr COLORREF kServerTextAfterViewColour = RGB(0, 0, 255);

// The most entries of an 8-bit colour table.
inline constexpr int kPaletteEntries = 256;

struct MapPalette {
    COLORREF colours[kPaletteEntries];  // entries 0 .. count - 1, each colour once
    int count;
    // False when some colour the map can draw has no entry of its own (more than 256 colours,
    // or a base map whose colours could not be read): such a colour is drawn as its nearest
    // entry, and the picture may then differ from the 32-bit one where it is used.
    bool complete;
};

// The colours the engine can draw into a view of the loaded data set, at every scale and
// scale factor, in this order, each kept at its first place: first the caller's `own` colours
// (`own_count` of them; the colour the surface is cleared to first, so that it is entry 0,
// which a new DIB section holds everywhere), then the colour table's 50 entries, the fixed
// colours above, and the base map's colours in the order of its records. When there are more
// than 256, the first 256 are kept and the palette is not complete; with the 50 entries and
// the fixed colours taking at most 54, only colours of the caller or of a base map of more than
// about 200 colours can be left out.
MapPalette map_palette(const COLORREF* own, int own_count) noexcept;

// The BITMAPINFO of an 8-bit DIB section of `width` x `height` pixels, rows top-down, with the
// palette as its colour table (biClrUsed = count):
//   CreateDIBSection(dc, reinterpret_cast<const BITMAPINFO*>(&info), DIB_RGB_COLORS, &bits,
//                    nullptr, 0)
struct PaletteBitmapInfo {
    BITMAPINFOHEADER header;
    RGBQUAD colours[kPaletteEntries];
};
PaletteBitmapInfo palette_bitmap_info(const MapPalette& palette, int32_t width,
                                      int32_t height) noexcept;

}  // namespace kestrel::render

#endif  // KESTREL_RENDER_PALETTE_H
