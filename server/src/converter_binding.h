// converter_binding.h: the GIF converter component, loaded at run time.
//
// The console window loads libkbmp2gif.so when it is created and makes one converter object;
// a missing library or entry point means the window cannot be loaded. draw calls member 1
// (convert) and reads member 3 (failure flag).
#ifndef TESSERA_CONVERTER_BINDING_H
#define TESSERA_CONVERTER_BINDING_H

#include <tessera/core/platform.h>

#include <QByteArray>

struct KBmp2Gif;

namespace tessera {

class ConverterBinding : public core::Converter {
  public:
    // Loads the library (by the bare name, or `path` when it is not empty) and creates a
    // converter. Raises error 48 when the library does not load or makes no converter, 453
    // when an entry point is missing.
    explicit ConverterBinding(const QByteArray& path);
    ~ConverterBinding() override;
    ConverterBinding(const ConverterBinding&) = delete;
    ConverterBinding& operator=(const ConverterBinding&) = delete;

    void convert(const std::string& bmpPath, const std::string& gifPath, bool flag) override;
    bool failed() override;
    std::string lastError() override;

    static constexpr const char* kBareName = "libkbmp2gif.so";

  private:
    KBmp2Gif* (*create_)() = nullptr;
    int (*convert_)(KBmp2Gif*, const char*, const char*, int) = nullptr;
    int (*failed_)(const KBmp2Gif*) = nullptr;
    const char* (*error_)(const KBmp2Gif*) = nullptr;
    void (*destroy_)(KBmp2Gif*) = nullptr;
    KBmp2Gif* converter_ = nullptr;
};

}  // namespace tessera

#endif  // TESSERA_CONVERTER_BINDING_H
