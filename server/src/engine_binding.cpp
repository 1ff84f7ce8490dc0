// engine_binding.cpp: loading the map engine with dlopen.
#include "engine_binding.h"

#include <dlfcn.h>
#include <link.h>
#include <tessera/core/errors.h>

#include <QtGlobal>
#include <utility>

namespace tessera {

void* openLibrary(const char* name, const char* what) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        qWarning("cannot load %s%s: %s", what, name, why != nullptr ? why : "unknown reason");
        core::raiseError(core::kErrLoadingLibrary);
    }
    return handle;
}

void* findSymbol(void* handle, const char* library, const char* entry) {
    dlerror();
    void* symbol = dlsym(handle, entry);
    if (symbol == nullptr) {
        qWarning("entry point %s not found in %s", entry, library);
        core::raiseMissingEntryPoint(entry, library);
    }
    return symbol;
}

EngineBinding::EngineBinding(QByteArray absolutePath) : absolutePath_(std::move(absolutePath)) {}

void* EngineBinding::find(Library library, const char* entry) {
    if (library == Library::kDrawPath) {
        if (absolute_ == nullptr) absolute_ = openLibrary(absolutePath_.constData(), "");
        return findSymbol(absolute_, absolutePath_.constData(), entry);
    }
    if (bare_ == nullptr) bare_ = openLibrary(kBareName, "");
    return findSymbol(bare_, kBareName, entry);
}

bool EngineBinding::sameInstance() const {
    return bare_ == nullptr || absolute_ == nullptr || bare_ == absolute_;
}

QString EngineBinding::loadedFrom() const {
    if (bare_ == nullptr) return QString();
    link_map* map = nullptr;
    if (dlinfo(bare_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr) return QString();
    return QString::fromLocal8Bit(map->l_name);
}

}  // namespace tessera
