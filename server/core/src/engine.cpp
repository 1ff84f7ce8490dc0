// engine.cpp: the engine's entry points bound on their first call.
#include "tessera/core/platform.h"

namespace tessera::core {

int BoundEngine::sdllisinit() {
    return entry(isinit_, Library::kBareName, "sdllisinit")();
}

int BoundEngine::sdllinit(const std::string& dataDir, const std::string& tmpDir) {
    const auto init = entry(init_, Library::kBareName, "sdllinit");
    ++initCalls_;
    return init(folderArgument(dataDir).c_str(), folderArgument(tmpDir).c_str());
}

int BoundEngine::sdlldraw(DeviceContext dc, int left, int top, int width, int height, double scale,
                          const char* layers) {
    // The engine takes the platform's HDC, a pointer passed on as it is.
    return entry(draw_, Library::kDrawPath, "sdlldraw")(dc, left, top, width, height, scale,
                                                        layers);
}

int BoundEngine::sdllgetbmp(unsigned char* buffer) {
    return entry(getbmp_, Library::kBareName, "sdllgetbmp")(buffer);
}

}  // namespace tessera::core
