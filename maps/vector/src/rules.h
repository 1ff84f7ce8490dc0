// rules.h: what a vector tile shows at a resolution, as the engine's pictures show it there, and
// the order in which the byte limit drops features. All resolutions are the data set's grid
// metres a pixel.
#ifndef KMAPS_VECTOR_RULES_H
#define KMAPS_VECTOR_RULES_H

#include "source.h"

namespace kmaps::vector::rules {

// The pictures draw the tile files up to this resolution, and the place catalogue (its
// polylines and labels) above it.
inline constexpr double kTileModeMax = 51.0;
// Road names are drawn up to this resolution.
inline constexpr double kRoadNamesMax = 10.0;
// Place labels of the tile files need a resolution above this; types 22, 23 and 24 are drawn
// up to 25.1, 15.1 and 8.1 m a pixel, type 21 at every resolution of the tiles.
inline constexpr double kPlaceLabelsMin = 5.0;
// Catalogue labels: cities always, points up to 200, minor points up to 100 m a pixel.
inline constexpr double kCataloguePointMax = 200.0;
inline constexpr double kCatalogueMinorMax = 100.0;

// True when a place label of the tile files of this type shows at `resolution`.
bool place_label_shown(int type, double resolution);
// True when a catalogue label of this kind shows at `resolution`.
bool catalogue_label_shown(kestrel::data::PlaceKind kind, double resolution);

// The rank of a feature in the byte limit's drop order: a tile over the limit leaves out the
// features of the lowest rank first, then the next, until it fits (docs/web.md lists it).
int drop_rank(Layer layer, int type);
inline constexpr int kDropRanks = 19;

}  // namespace kmaps::vector::rules

#endif  // KMAPS_VECTOR_RULES_H
