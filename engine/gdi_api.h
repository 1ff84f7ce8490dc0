// gdi_api.h: the one header through which the engine's sources reach the drawing API.
//
// On Linux the drawing API is the drawing layer's kgdi.h; on Windows it is the platform's own
// GDI (windows.h, linked with gdi32), which has the same names and types. Nothing else of the
// engine names either header; on Windows the drawing layer's RLE8 encoder comes along (its own
// header, free of the layer's types). The public kestrel.h makes the same choice itself, because
// clients see the handle types in the engine's interface.
#ifndef KESTREL_GDI_API_H
#define KESTREL_GDI_API_H

#if defined(_WIN32)
#include <windows.h>

// The drawing layer's RLE8 encoder, for the export (render/export.cpp): the platform's
// GetDIBits declines BI_RLE8 under Wine and quantises to its own palette on Windows.
#include "kgdi_rle8.h"
#else
#include "kgdi.h"
#endif

#endif  // KESTREL_GDI_API_H
