// engine_binding.cpp: run-time binding of the map engine's server entry points.
#include "engine_binding.h"

#include <dlfcn.h>
#include <link.h>

#include <QtGlobal>
#include <utility>

#include "run_time_error.h"

namespace tessera {

namespace {

// Opens a library, raising error 48 with the loader's reason in the log when it fails.
void* openLibrary(const char* name) {
    void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        qWarning("cannot load %s: %s", name, why != nullptr ? why : "unknown reason");
        raiseError(kErrLoadingLibrary);
    }
    return handle;
}

}  // namespace

EngineBinding::EngineBinding(QByteArray absolutePath) : absolutePath_(std::move(absolutePath)) {}

void* EngineBinding::bareHandle() {
    if (bare_ == nullptr) bare_ = openLibrary(kBareName);
    return bare_;
}

void* EngineBinding::absoluteHandle() {
    if (absolute_ == nullptr) absolute_ = openLibrary(absolutePath_.constData());
    return absolute_;
}

void* EngineBinding::bind(void* handle, const char* library, const char* entry) {
    dlerror();
    void* symbol = dlsym(handle, entry);
    if (symbol == nullptr) {
        qWarning("entry point %s not found in %s", entry, library);
        throw RunTimeError(kErrEntryPoint, QStringLiteral("Can't find DLL entry point %1 in %2")
                                               .arg(QLatin1String(entry), QLatin1String(library)));
    }
    return symbol;
}

int EngineBinding::sdllisinit() {
    if (isinit_ == nullptr) {
        isinit_ = reinterpret_cast<int (*)()>(bind(bareHandle(), kBareName, "sdllisinit"));
    }
    return isinit_();
}

int EngineBinding::sdllinit(const QByteArray& dataDir, const QByteArray& tmpDir) {
    if (init_ == nullptr) {
        init_ = reinterpret_cast<int (*)(const char*, const char*)>(
            bind(bareHandle(), kBareName, "sdllinit"));
    }
    ++initCalls_;
    return init_(dataDir.constData(), tmpDir.constData());
}

int EngineBinding::sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                            const char* layers) {
    if (draw_ == nullptr) {
        draw_ = reinterpret_cast<int (*)(HDC, int, int, int, int, double, const char*)>(
            bind(absoluteHandle(), absolutePath_.constData(), "sdlldraw"));
    }
    return draw_(hdc, left, top, width, height, scale, layers);
}

int EngineBinding::sdllgetbmp(unsigned char* buffer) {
    if (getbmp_ == nullptr) {
        getbmp_ =
            reinterpret_cast<int (*)(unsigned char*)>(bind(bareHandle(), kBareName, "sdllgetbmp"));
    }
    return getbmp_(buffer);
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
