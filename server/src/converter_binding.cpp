// converter_binding.cpp: loading the GIF converter component and calling its members.
#include "converter_binding.h"

#include <tessera/core/errors.h>

#include "engine_binding.h"

namespace tessera {

ConverterBinding::ConverterBinding(const QByteArray& path) {
    const QByteArray library = path.isEmpty() ? QByteArray(kBareName) : path;
    const char* name = library.constData();
    // The library stays loaded for the life of the process, like the engine.
    void* handle = openLibrary(name, "the GIF converter ");
    create_ = findEntry<decltype(create_)>(handle, name, "kbmp2gif_create");
    convert_ = findEntry<decltype(convert_)>(handle, name, "kbmp2gif_convert");
    failed_ = findEntry<decltype(failed_)>(handle, name, "kbmp2gif_failed");
    error_ = findEntry<decltype(error_)>(handle, name, "kbmp2gif_error");
    destroy_ = findEntry<decltype(destroy_)>(handle, name, "kbmp2gif_destroy");
    converter_ = create_();
    if (converter_ == nullptr) core::raiseError(core::kErrLoadingLibrary);
}

ConverterBinding::~ConverterBinding() {
    destroy_(converter_);
}

void ConverterBinding::convert(const std::string& bmpPath, const std::string& gifPath, bool flag) {
    convert_(converter_, bmpPath.c_str(), gifPath.c_str(), flag ? 1 : 0);
}

bool ConverterBinding::failed() {
    return failed_(converter_) != 0;
}

std::string ConverterBinding::lastError() {
    const char* text = error_(converter_);
    return text != nullptr ? text : "";
}

}  // namespace tessera
