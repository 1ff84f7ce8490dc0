// tessera/core/request_service.h: the work of tesseraClass, shared by all its instances and
// by both servers: the request counter, the console window, and the methods myend, show, test,
// draw2, draw3 and draw.
//
// It knows nothing about D-Bus or COM: methods raise RunTimeError, which the adaptors hand to
// their clients; only draw traps its errors, each becoming "err.gif". Everything it needs from
// its system comes through the interfaces of platform.h and form.h.
#ifndef TESSERA_CORE_REQUEST_SERVICE_H
#define TESSERA_CORE_REQUEST_SERVICE_H

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "tessera/core/form.h"
#include "tessera/core/names.h"
#include "tessera/core/platform.h"

namespace tessera::core {

// The folders of the application: the data set (AppDir/kgrid/) and the temporary folder
// (AppDir/tmp/), UTF-8, each ending in the platform's separator.
struct Folders {
    std::string data;
    std::string tmp;
};

// What the service runs on.
struct Services {
    Engine& engine;
    Clock& clock;
    Files& files;
    Log& log;
    Host& host;
};

class RequestService {
  public:
    RequestService(Folders folders, FileNameRules fileNames, Services services);
    ~RequestService();
    RequestService(const RequestService&) = delete;
    RequestService& operator=(const RequestService&) = delete;

    // The class initialisation run for each new instance: sdllisinit, and sdllinit with the
    // data and temporary folders when it returned -1. Raises the engine's binding errors.
    void initialise();

    // Adds 1 to the request counter and returns a + b + counter; error 6 when any addition
    // leaves the int32 range (the counter keeps its new value when the increment succeeded).
    int32_t test(int32_t a, int32_t b);
    // Loads the window when needed and shows it; returns 0.
    int32_t show();
    // Unloads the window and asks the host to end the server.
    void myend();
    // Draws the view at the current size of P and fills `b` (the caller's array from its
    // element 0 on; empty for an array that is not allocated or has no element 0) with the
    // 8-bit RLE8 BMP; returns the number of image bytes, or the export's negative result when
    // it refused. Error 9 when `b` is empty or shorter than 1078 + W x H bytes, W x H being the
    // export's room (exportRoom).
    int32_t draw2(int32_t xc, int32_t yc, double mp, std::span<unsigned char> b);
    // Draws the view at the current size of P and returns the whole 8-bit RLE8 BMP file. Error
    // 9 when 1078 + W x H exceeds the 500,001-byte buffer; error 5 when the engine refuses the
    // export.
    std::vector<unsigned char> draw3(int32_t xc, int32_t yc, double mp);
    // Sets the outer size of P to mapWidth x mapHeight (both sides at once: a refused size
    // leaves P as it was), draws, saves tmp/ID.bmp, converts it to tmp/ID MS.gif, deletes the
    // BMP and returns the GIF's name (UTF-8), or "err.gif" on any failure: an identifier that
    // is not a plain file name (nothing is written then), a window that does not load, a
    // refused size, an overflow of the view window, a missing tmp/, a failed conversion (the
    // BMP is deleted) or a BMP that cannot be deleted. Never raises a run-time error.
    std::string draw(int32_t xc, int32_t yc, double mp, std::u16string_view id, int16_t mapWidth,
                     int16_t mapHeight);

    bool windowLoaded() const { return window_ != nullptr; }
    // The window, loaded (hidden) when needed. Raises the error that keeps it from loading.
    Form& window();
    // Deletes the window if it is loaded and tells the host.
    void unloadWindow();

    // The room the export may fill after the header: W x H of the view it reads, the larger
    // of the picture box's inner size and the last view the engine accepted (after a refused
    // scale the export still reads the earlier view).
    int64_t exportRoom() const;

    Engine& engine() { return services_.engine; }
    const Folders& folders() const { return folders_; }
    FileNameRules fileNames() const { return fileNames_; }
    int32_t counter() const { return counter_; }

  private:
    void setBusy(Form& form);
    void setDone(Form& form);
    void drawInto(Form& form, int32_t xc, int32_t yc, double mp);
    std::string drawSteps(int32_t xc, int32_t yc, double mp, const std::string& id,
                          int16_t mapWidth, int16_t mapHeight);

    Folders folders_;
    FileNameRules fileNames_;
    Services services_;
    std::unique_ptr<Form> window_;
    int32_t counter_ = 0;
    int64_t lastViewPixels_ = 0;  // W x H of the last view the engine accepted
};

}  // namespace tessera::core

#endif  // TESSERA_CORE_REQUEST_SERVICE_H
