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

#include <string>

namespace tessera {

class ConverterBinding {
  public:
    ConverterBinding();
    ~ConverterBinding();
    ConverterBinding(const ConverterBinding&) = delete;
    ConverterBinding& operator=(const ConverterBinding&) = delete;

    // Member 1: convert the BMP file to the GIF file with the flag. Raises the error the
    // control reports for a failing call.
    void convert(const std::wstring& bmpPath, const std::wstring& gifPath, bool flag);
    // Member 3: true when the last conversion failed.
    bool failed();

  private:
    IDispatch* control_ = nullptr;
    HMODULE module_ = nullptr;
};

}  // namespace tessera

#endif  // TESSERA_WIN_CONVERTER_BINDING_H
