// gdi_api.h: the one header through which the engine's sources reach the drawing API.
//
// On Linux the drawing API is the drawing layer's kgdi.h. A build against the system's own
// drawing API swaps the include below for that API's header; nothing else of the engine names
// the drawing layer's header. The public kestrel.h includes kgdi.h itself, because clients see
// its types in the engine's interface.
#ifndef KESTREL_GDI_API_H
#define KESTREL_GDI_API_H

#include "kgdi.h"

#endif  // KESTREL_GDI_API_H
