// engine_binding.h: run-time binding of the map engine's server entry points.
//
// sdllisinit, sdllinit and sdllgetbmp are bound through the library's bare name
// "libkestrel.so" (found through the normal library search: the server's run path), sdlldraw
// through an absolute path fixed when the server is built. Each entry point is bound on its
// first call and the binding is kept for the life of the process. The dynamic loader returns
// the one loaded instance for both names when they lead to the same file, so the data set,
// the drawn view and the export share the engine's process-global state.
#ifndef TESSERA_ENGINE_BINDING_H
#define TESSERA_ENGINE_BINDING_H

#include <kgdi.h>

#include <QByteArray>
#include <QString>

namespace tessera {

class EngineBinding {
  public:
    // `absolutePath` is the file that sdlldraw is bound from.
    explicit EngineBinding(QByteArray absolutePath);
    EngineBinding(const EngineBinding&) = delete;
    EngineBinding& operator=(const EngineBinding&) = delete;

    // The entry points. Each raises error 48 (Error in loading DLL) when the library does not
    // load and error 453 (Can't find DLL entry point) when the entry point is missing.
    int sdllisinit();
    int sdllinit(const QByteArray& dataDir, const QByteArray& tmpDir);
    int sdlldraw(HDC hdc, int left, int top, int width, int height, double scale,
                 const char* layers);
    int sdllgetbmp(unsigned char* buffer);

    // Number of sdllinit calls made by this process.
    int initCalls() const { return initCalls_; }
    // True when every library handle opened so far is the same one (or none is open yet).
    bool sameInstance() const;
    // The file the bare name resolved to, "" before the first bare-name binding.
    QString loadedFrom() const;

    // The library's bare name.
    static constexpr const char* kBareName = "libkestrel.so";

  private:
    void* bareHandle();
    void* absoluteHandle();
    void* bind(void* handle, const char* library, const char* entry);

    QByteArray absolutePath_;
    void* bare_ = nullptr;
    void* absolute_ = nullptr;
    int (*isinit_)() = nullptr;
    int (*init_)(const char*, const char*) = nullptr;
    int (*draw_)(HDC, int, int, int, int, double, const char*) = nullptr;
    int (*getbmp_)(unsigned char*) = nullptr;
    int initCalls_ = 0;
};

}  // namespace tessera

#endif  // TESSERA_ENGINE_BINDING_H
