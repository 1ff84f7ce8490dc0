// engine_binding.h: the map engine's server entry points, loaded with dlopen.
//
// sdllisinit, sdllinit and sdllgetbmp are bound through the library's bare name
// "libkestrel.so" (found through the normal library search: the server's run path), sdlldraw
// through an absolute path fixed when the server is built. The dynamic loader returns the one
// loaded instance for both names when they lead to the same file, so the data set, the drawn
// view and the export share the engine's process-global state. Binding on first use is
// core::BoundEngine's.
#ifndef TESSERA_ENGINE_BINDING_H
#define TESSERA_ENGINE_BINDING_H

#include <tessera/core/platform.h>

#include <QByteArray>
#include <QString>

namespace tessera {

class EngineBinding : public core::BoundEngine {
  public:
    // `absolutePath` is the file that sdlldraw is bound from.
    explicit EngineBinding(QByteArray absolutePath);
    EngineBinding(const EngineBinding&) = delete;
    EngineBinding& operator=(const EngineBinding&) = delete;

    // True when every library handle opened so far is the same one (or none is open yet).
    bool sameInstance() const;
    // The file the bare name resolved to, "" before the first bare-name binding.
    QString loadedFrom() const;

    // The library's bare name.
    static constexpr const char* kBareName = "libkestrel.so";

  protected:
    void* find(Library library, const char* entry) override;

  private:
    QByteArray absolutePath_;
    void* bare_ = nullptr;
    void* absolute_ = nullptr;
};

// dlopen and dlsym with the server's errors: openLibrary raises error 48 (with the loader's
// reason in the log) when the library does not load, findSymbol error 453 when the entry
// point is missing. Shared by the engine and the converter bindings.
void* openLibrary(const char* name, const char* what);
void* findSymbol(void* handle, const char* library, const char* entry);
template <typename Function>
Function findEntry(void* handle, const char* library, const char* entry) {
    return reinterpret_cast<Function>(findSymbol(handle, library, entry));
}

}  // namespace tessera

#endif  // TESSERA_ENGINE_BINDING_H
