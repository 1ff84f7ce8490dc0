// engine_path.cpp: the absolute path that sdlldraw is bound from, fixed when the executable is
// built (the build tree's library folder, or the install library folder). Compiled once per
// executable with TESSERA_ENGINE_ABSOLUTE_PATH set.
#include "settings.h"

namespace tessera {

const char* const kBuiltInEnginePath = TESSERA_ENGINE_ABSOLUTE_PATH;

}  // namespace tessera
