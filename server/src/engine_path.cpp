// engine_path.cpp: the absolute path that sdlldraw is bound from. Compiled once per executable:
//   TESSERA_ENGINE_ABSOLUTE_PATH  a path fixed when the executable is built (the build tree's
//                                 library folder, for the build's AppDir);
//   TESSERA_ENGINE_RELATIVE_PATH  a path relative to the folder of the executable, made
//                                 absolute at start-up (an installed server, whose prefix is
//                                 known only where it is installed).
#include <unistd.h>

#include <filesystem>
#include <string>

#include "settings.h"

namespace tessera {

namespace {

#ifdef TESSERA_ENGINE_RELATIVE_PATH
// <folder of this executable>/TESSERA_ENGINE_RELATIVE_PATH, without "." and ".." parts. The
// executable's own path comes from /proc/self/exe, which has every link resolved.
std::string enginePathNextToExecutable() {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return TESSERA_ENGINE_RELATIVE_PATH;  // refused later with the path named
    self[n] = '\0';
    const std::filesystem::path folder = std::filesystem::path(self).parent_path();
    return (folder / TESSERA_ENGINE_RELATIVE_PATH).lexically_normal().string();
}

const std::string gEnginePath = enginePathNextToExecutable();
#else
const std::string gEnginePath = TESSERA_ENGINE_ABSOLUTE_PATH;
#endif

}  // namespace

const char* const kBuiltInEnginePath = gEnginePath.c_str();

}  // namespace tessera
