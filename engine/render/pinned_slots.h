// pinned_slots.h: the tiles of the last view (the slots whose in-view flag is 1) in a drawing
// order, as the view drawing, the road labeller and the point-of-interest overlay walk them.
#ifndef KESTREL_RENDER_PINNED_SLOTS_H
#define KESTREL_RENDER_PINNED_SLOTS_H

#include "data/limits.h"
#include "render/view.h"

namespace kestrel::render {

// Writes the pinned slots to `slots` (room for data::SLOT_COUNT) in `order`: by slot number for
// DrawingOrder::kCacheSlots, by the view's tile list (rows south to north, columns east to west
// within a row, from the slots' tile numbers) for DrawingOrder::kTileList. Returns how many.
int pinned_slots(DrawingOrder order, int* slots) noexcept;

}  // namespace kestrel::render

#endif  // KESTREL_RENDER_PINNED_SLOTS_H
