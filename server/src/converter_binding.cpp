// converter_binding.cpp: loading the GIF converter component and calling its members.
#include "converter_binding.h"

#include <dlfcn.h>

#include <QtGlobal>

#include "run_time_error.h"

namespace tessera {

namespace {

// Looks up one entry point of the converter, raising error 453 when it is missing.
void* entry(void* handle, const char* library, const char* name) {
    void* symbol = dlsym(handle, name);
    if (symbol == nullptr) {
        qWarning("entry point %s not found in %s", name, library);
        throw RunTimeError(kErrEntryPoint, QStringLiteral("Can't find DLL entry point %1 in %2")
                                               .arg(QLatin1String(name), QLatin1String(library)));
    }
    return symbol;
}

}  // namespace

ConverterBinding::ConverterBinding(const QByteArray& path) {
    const QByteArray library = path.isEmpty() ? QByteArray(kBareName) : path;
    // The library stays loaded for the life of the process, like the engine.
    void* handle = dlopen(library.constData(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
        const char* why = dlerror();
        qWarning("cannot load the GIF converter %s: %s", library.constData(),
                 why != nullptr ? why : "unknown reason");
        raiseError(kErrLoadingLibrary);
    }
    const char* name = library.constData();
    create_ = reinterpret_cast<KBmp2Gif* (*)()>(entry(handle, name, "kbmp2gif_create"));
    convert_ = reinterpret_cast<int (*)(KBmp2Gif*, const char*, const char*, int)>(
        entry(handle, name, "kbmp2gif_convert"));
    failed_ = reinterpret_cast<int (*)(const KBmp2Gif*)>(entry(handle, name, "kbmp2gif_failed"));
    error_ =
        reinterpret_cast<const char* (*)(const KBmp2Gif*)>(entry(handle, name, "kbmp2gif_error"));
    destroy_ = reinterpret_cast<void (*)(KBmp2Gif*)>(entry(handle, name, "kbmp2gif_destroy"));
    converter_ = create_();
    if (converter_ == nullptr) raiseError(kErrLoadingLibrary);
}

ConverterBinding::~ConverterBinding() {
    destroy_(converter_);
}

void ConverterBinding::convert(const QByteArray& bmpPath, const QByteArray& gifPath, bool flag) {
    convert_(converter_, bmpPath.constData(), gifPath.constData(), flag ? 1 : 0);
}

bool ConverterBinding::failed() const {
    return failed_(converter_) != 0;
}

QString ConverterBinding::lastError() const {
    return QString::fromUtf8(error_(converter_));
}

}  // namespace tessera
