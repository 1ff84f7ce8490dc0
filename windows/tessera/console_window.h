// console_window.h: the console window tesseraForm in plain Win32.
//
// Created hidden by the first request that needs it. Its controls are those of
// core::kControls, at their design positions (twips, 15 to a pixel, from the top-left corner
// of the client area), with their Big5 captions. The picture box P is the drawing surface of
// every request; BMP2GIF1 is the GIF converter control that draw calls. Closing the window
// asks the owner to unload it.
#ifndef TESSERA_WIN_CONSOLE_WINDOW_H
#define TESSERA_WIN_CONSOLE_WINDOW_H

#include <tessera/core/form.h>
#include <windows.h>

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "converter_binding.h"
#include "picture_box.h"

namespace tessera {

class ConsoleWindow : public core::Form {
  public:
    // Loads the window, hidden, and runs its load handler. Raises error 48 when the converter
    // control cannot be created and error 7 when the window cannot be made. `onClose` runs when
    // the operator closes it; `log` receives the errors of the operator's buttons.
    ConsoleWindow(core::Engine& engine, core::Log& log, std::function<void()> onClose);
    ~ConsoleWindow() override;
    ConsoleWindow(const ConsoleWindow&) = delete;
    ConsoleWindow& operator=(const ConsoleWindow&) = delete;

    HWND hwnd() const { return hwnd_; }
    std::string text(core::Control control) const override;
    void setText(core::Control control, std::string_view text) override;
    void show() override;
    void showError(const std::string& message) override;

    static void registerClass(HINSTANCE instance);

  private:
    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void destroy();

    core::Engine& engine_;
    core::Log& log_;
    std::function<void()> onClose_;
    HWND hwnd_ = nullptr;
    HFONT font_ = nullptr;
    std::array<HWND, std::size(core::kControls)> controls_{};
    std::unique_ptr<PictureBox> picture_;
    std::unique_ptr<ConverterBinding> converter_;
};

}  // namespace tessera

#endif  // TESSERA_WIN_CONSOLE_WINDOW_H
