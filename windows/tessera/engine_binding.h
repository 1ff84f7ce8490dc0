// engine_binding.h: the map engine's server entry points, loaded with LoadLibraryEx.
//
// sdllisinit, sdllinit and sdllgetbmp are bound by the bare name kestrel.dll; sdlldraw by the
// absolute path c:\winnt\system32\kestrel.dll when that file exists, and otherwise from the
// module the bare name loaded. Either way all four must reach one instance of the library,
// since they share its process-global state: an absolute path that loads a second, different
// module is not used. Libraries are searched in the application folder and the system folders
// only, never in the current directory. Binding on first use is core::BoundEngine's; the data
// and temporary folders reach the engine in the ANSI code page.
#ifndef TESSERA_WIN_ENGINE_BINDING_H
#define TESSERA_WIN_ENGINE_BINDING_H

#include <tessera/core/platform.h>
#include <windows.h>

#include <string>

namespace tessera {

class EngineBinding : public core::BoundEngine {
  public:
    static constexpr const char* kBareName = "kestrel.dll";
    static constexpr const char* kAbsolutePath = "c:\\winnt\\system32\\kestrel.dll";

    // Restricts the process's library search to the application and system folders.
    static void restrictLibrarySearch();

    // The module the entry points reach (null before the first binding).
    HMODULE module() const { return bare_; }

  protected:
    void* find(Library library, const char* entry) override;
    std::string folderArgument(const std::string& folder) override;

  private:
    HMODULE bareModule();
    HMODULE drawModule();

    HMODULE bare_ = nullptr;
    HMODULE drawModule_ = nullptr;
};

}  // namespace tessera

#endif  // TESSERA_WIN_ENGINE_BINDING_H
