// request_service.h: the methods of tesseraClass and the state all objects share: the
// console window, the request counter and the engine binding.
//
// Errors are RunTimeError exceptions; the automation layer turns them into exceptions for the
// client. Only draw traps its errors, turning each into "err.gif".
#ifndef TESSERA_WIN_REQUEST_SERVICE_H
#define TESSERA_WIN_REQUEST_SERVICE_H

#include <windows.h>
// after windows.h
#include <oaidl.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "console_window.h"
#include "engine_binding.h"

namespace tessera {

class RequestService {
  public:
    static constexpr int kBmpHeaderBytes = 1078;
    static constexpr int kDraw3BufferBytes = 500001;
    static constexpr const wchar_t* kErrorGif = L"err.gif";

    // `appDir`: the folder of the program, without a trailing separator. `onWindowUnloaded`
    // runs after the operator's close has unloaded the window.
    RequestService(std::wstring appDir, std::function<void()> onWindowUnloaded);
    ~RequestService();

    // The initialisation of each new object: loads the data set once per process.
    void initialise();

    int32_t test(int32_t a, int32_t b);
    int32_t show();
    // Unloads the window and ends the process; does not return.
    [[noreturn]] void myend();
    // `b`: the client's array, filled from element 0 on.
    int32_t draw2(int32_t xc, int32_t yc, double mp, SAFEARRAY* b);
    // The whole BMP file in a byte array with lower bound 0.
    SAFEARRAY* draw3(int32_t xc, int32_t yc, double mp);
    std::wstring draw(int32_t xc, int32_t yc, double mp, const std::wstring& id, int16_t mapWidth,
                      int16_t mapHeight);

    bool windowLoaded() const { return window_ != nullptr; }
    EngineBinding& engine() { return engine_; }

    // A request identifier that names a plain file in the temporary folder.
    static bool isPlainFileName(const std::wstring& id);

  private:
    ConsoleWindow& window();
    void unloadWindow();
    void setDone(ConsoleWindow& window);
    int32_t drawInto(ConsoleWindow& window, int32_t xc, int32_t yc, double mp);
    int64_t exportRoom();
    std::wstring drawSteps(int32_t xc, int32_t yc, double mp, const std::wstring& id,
                           int16_t mapWidth, int16_t mapHeight);
    std::wstring dataDir() const { return appDir_ + L"\\kgrid\\"; }
    std::wstring tmpDir() const { return appDir_ + L"\\tmp\\"; }

    std::wstring appDir_;
    std::function<void()> onWindowUnloaded_;
    EngineBinding engine_;
    std::unique_ptr<ConsoleWindow> window_;
    int32_t counter_ = 0;
    int64_t lastViewPixels_ = 0;
};

// 8-bit text in the system code page.
std::string toAnsi(const std::wstring& text);

}  // namespace tessera

#endif  // TESSERA_WIN_REQUEST_SERVICE_H
