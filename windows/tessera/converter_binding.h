// converter_binding.h: the console window's instance BMP2GIF1 of the GIF converter control.
//
// Created when the window loads: from the registered class BMP2GIFLib.BMP2GIF, or, when the
// class is not registered, from BMP2GIF.OCX in the application folder. Without either the
// window cannot load (error 48). draw calls member 1 and reads member 3, late-bound.
#ifndef TESSERA_WIN_CONVERTER_BINDING_H
#define TESSERA_WIN_CONVERTER_BINDING_H

#include <windows.h>
// after windows.h
#include <oaidl.h>
#include <tessera/core/platform.h>

#include <string>

namespace tessera {

class ConverterBinding : public core::Converter {
  public:
    ConverterBinding();
    ~ConverterBinding() override;
    ConverterBinding(const ConverterBinding&) = delete;
    ConverterBinding& operator=(const ConverterBinding&) = delete;

    // Member 1: convert the BMP file to the GIF file with the flag. Raises error 5 when the
    // call fails.
    void convert(const std::string& bmpPath, const std::string& gifPath, bool flag) override;
    // Member 3: true when the last conversion failed; error 13 when its value is no Boolean.
    bool failed() override;

  private:
    IDispatch* control_ = nullptr;
    HMODULE module_ = nullptr;
};

}  // namespace tessera

#endif  // TESSERA_WIN_CONVERTER_BINDING_H
