// engine_binding.cpp: run-time binding of the map engine's server entry points.
#include "engine_binding.h"

#include "log.h"
#include "run_time_error.h"

namespace tessera {

namespace {

constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

HMODULE loadLibrary(const char* name, DWORD flags) {
    HMODULE module = LoadLibraryExA(name, nullptr, flags);
    if (module == nullptr) {
        logLine("cannot load %s: error %lu", name, GetLastError());
        raiseError(kErrLoadingLibrary);
    }
    return module;
}

bool isFile(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

}  // namespace

void EngineBinding::restrictLibrarySearch() {
    SetDefaultDllDirectories(kSearchFlags);
    SetDllDirectoryW(L"");  // also takes the current directory out of the legacy order
}

HMODULE EngineBinding::bareModule() {
    if (bare_ == nullptr) bare_ = loadLibrary(kBareName, kSearchFlags);
    return bare_;
}

HMODULE EngineBinding::drawModule() {
    if (draw_module_ != nullptr) return draw_module_;
    HMODULE bare = bareModule();
    if (isFile(kAbsolutePath)) {
        HMODULE absolute = loadLibrary(kAbsolutePath, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (absolute == bare) {
            draw_module_ = absolute;
        } else {
            // A second copy of the library would draw views that sdllgetbmp never sees.
            logLine("%s is another copy of the engine than %s: drawing through the latter",
                    kAbsolutePath, kBareName);
            FreeLibrary(absolute);
            draw_module_ = bare;
        }
    } else {
        draw_module_ = bare;
    }
    return draw_module_;
}

FARPROC EngineBinding::bind(HMODULE module, const char* library, const char* entry) {
    FARPROC symbol = GetProcAddress(module, entry);
    if (symbol == nullptr) {
        logLine("entry point %s not found in %s", entry, library);
        std::wstring text = L"Can't find DLL entry point ";
        for (const char* c = entry; *c; ++c) text += static_cast<wchar_t>(*c);
        text += L" in ";
        for (const char* c = library; *c; ++c) text += static_cast<wchar_t>(*c);
        throw RunTimeError(kErrEntryPoint, text);
    }
    return symbol;
}

int EngineBinding::sdllisinit() {
    if (isinit_ == nullptr) {
        isinit_ = reinterpret_cast<decltype(isinit_)>(
            reinterpret_cast<void*>(bind(bareModule(), kBareName, "sdllisinit")));
    }
    return isinit_();
}

int EngineBinding::sdllinit(const std::string& dataDir, const std::string& tmpDir) {
    if (init_ == nullptr) {
        init_ = reinterpret_cast<decltype(init_)>(
            reinterpret_cast<void*>(bind(bareModule(), kBareName, "sdllinit")));
    }
    return init_(dataDir.c_str(), tmpDir.c_str());
}

int EngineBinding::sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                            const char* layers) {
    if (draw_ == nullptr) {
        draw_ = reinterpret_cast<decltype(draw_)>(
            reinterpret_cast<void*>(bind(drawModule(), kAbsolutePath, "sdlldraw")));
    }
    return draw_(hdc, left, top, width, height, scale, layers);
}

int EngineBinding::sdllgetbmp(unsigned char* buffer) {
    if (getbmp_ == nullptr) {
        getbmp_ = reinterpret_cast<decltype(getbmp_)>(
            reinterpret_cast<void*>(bind(bareModule(), kBareName, "sdllgetbmp")));
    }
    return getbmp_(buffer);
}

}  // namespace tessera
