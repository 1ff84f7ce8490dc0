// engine_binding.cpp: run-time binding of the map engine's server entry points.
#include "engine_binding.h"

#include <tessera/core/errors.h>

#include "log.h"
#include "text.h"

namespace tessera {

namespace {

constexpr DWORD kSearchFlags = LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

HMODULE loadLibrary(const char* name, DWORD flags) {
    HMODULE module = LoadLibraryExA(name, nullptr, flags);
    if (module == nullptr) {
        logLine("cannot load %s: error %lu", name, GetLastError());
        core::raiseError(core::kErrLoadingLibrary);
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
    if (drawModule_ != nullptr) return drawModule_;
    HMODULE bare = bareModule();
    drawModule_ = bare;
    if (isFile(kAbsolutePath)) {
        HMODULE absolute = loadLibrary(kAbsolutePath, LOAD_WITH_ALTERED_SEARCH_PATH);
        if (absolute != bare) {
            // A second copy of the library would draw views that sdllgetbmp never sees.
            logLine("%s is another copy of the engine than %s: drawing through the latter",
                    kAbsolutePath, kBareName);
            FreeLibrary(absolute);
        }
    }
    return drawModule_;
}

void* EngineBinding::find(Library library, const char* entry) {
    const bool draw = library == Library::kDrawPath;
    FARPROC symbol = GetProcAddress(draw ? drawModule() : bareModule(), entry);
    if (symbol == nullptr) {
        const char* name = draw ? kAbsolutePath : kBareName;
        logLine("entry point %s not found in %s", entry, name);
        core::raiseMissingEntryPoint(entry, name);
    }
    return reinterpret_cast<void*>(symbol);
}

std::string EngineBinding::folderArgument(const std::string& folder) {
    return ansi(folder);
}

}  // namespace tessera
