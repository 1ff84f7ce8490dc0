// console_window.h: the console window tesseraForm.
//
// Created hidden by the first request that needs it. Its controls sit where the design puts
// them (twips, 15 to a pixel, from the top-left corner of the client area), with their Big5
// captions. The picture box P is the drawing surface of every request; BMP2GIF1 is the GIF
// converter control that draw calls. Closing the window asks the owner to unload it.
#ifndef TESSERA_WIN_CONSOLE_WINDOW_H
#define TESSERA_WIN_CONSOLE_WINDOW_H

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "converter_binding.h"
#include "picture_box.h"

namespace tessera {

class EngineBinding;

class ConsoleWindow {
  public:
    static constexpr int kTwipsPerPixel = 15;

    // Loads the window, hidden. Raises error 48 when the converter control cannot be created
    // and error 7 when the window cannot be made. `onClose` runs when the operator closes it.
    ConsoleWindow(EngineBinding& engine, std::function<void()> onClose);
    ~ConsoleWindow();
    ConsoleWindow(const ConsoleWindow&) = delete;
    ConsoleWindow& operator=(const ConsoleWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    PictureBox& picture() { return *picture_; }
    ConverterBinding& converter() { return *converter_; }

    void show();
    // Sets a label's caption and repaints it at once.
    void setLabel1(const std::wstring& text);
    void setLabel4(const std::wstring& text);

    static void registerClass(HINSTANCE instance);

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void onCommand(int id);
    std::wstring text(HWND control) const;

    EngineBinding& engine_;
    std::function<void()> onClose_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    HWND text1_ = nullptr, text2_ = nullptr, text3_ = nullptr, text4_ = nullptr, text5_ = nullptr;
    HWND label1_ = nullptr, label4_ = nullptr;
    std::unique_ptr<PictureBox> picture_;
    std::unique_ptr<ConverterBinding> converter_;
};

// Text in the Big5 code page, as the captions are stored, in UTF-16.
std::wstring fromBig5(const char* text);

}  // namespace tessera

#endif  // TESSERA_WIN_CONSOLE_WINDOW_H
