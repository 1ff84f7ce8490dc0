// engine_binding.h: run-time binding of the map engine's server entry points.
//
// sdllisinit, sdllinit and sdllgetbmp are bound by the bare name kestrel.dll; sdlldraw by the
// absolute path c:\winnt\system32\kestrel.dll when that file exists, and otherwise from the
// module the bare name loaded. Either way all four must reach one instance of the library,
// since they share its process-global state: an absolute path that loads a second, different
// module is not used. Libraries are searched in the application folder and the system folders
// only, never in the current directory. Each entry point is bound on its first call and the
// binding stays for the life of the process.
#ifndef TESSERA_WIN_ENGINE_BINDING_H
#define TESSERA_WIN_ENGINE_BINDING_H

#include <windows.h>

#include <string>

namespace tessera {

class EngineBinding {
  public:
    static constexpr const char* kBareName = "kestrel.dll";
    static constexpr const char* kAbsolutePath = "c:\\winnt\\system32\\kestrel.dll";

    // Restricts the process's library search to the application and system folders.
    static void restrictLibrarySearch();

    // The entry points; a library that does not load raises error 48, a missing entry point
    // error 453.
    int sdllisinit();
    int sdllinit(const std::string& dataDir, const std::string& tmpDir);
    int sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                 const char* layers);
    int sdllgetbmp(unsigned char* buffer);

    // The module the entry points reach (null before the first binding).
    HMODULE module() const { return bare_; }

  private:
    HMODULE bareModule();
    HMODULE drawModule();
    FARPROC bind(HMODULE module, const char* library, const char* entry);

    HMODULE bare_ = nullptr;
    HMODULE draw_module_ = nullptr;
    int(WINAPI* isinit_)() = nullptr;
    int(WINAPI* init_)(const char*, const char*) = nullptr;
    int(WINAPI* draw_)(HDC, int, int, int, int, double, const char*) = nullptr;
    int(WINAPI* getbmp_)(unsigned char*) = nullptr;
};

}  // namespace tessera

#endif  // TESSERA_WIN_ENGINE_BINDING_H
