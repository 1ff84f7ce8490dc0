// request_service.h: the work of tesseraClass, shared by all its instances: the request
// counter, the console window, the engine binding and the methods myend, show, test, draw2,
// draw3 and draw. Knows nothing about the bus: methods raise RunTimeError, and the bus layer
// turns those into error replies.
#ifndef TESSERA_REQUEST_SERVICE_H
#define TESSERA_REQUEST_SERVICE_H

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <cstdint>

#include "engine_binding.h"
#include "settings.h"

namespace tessera {

class ConsoleWindow;

class RequestService : public QObject {
    Q_OBJECT
  public:
    static constexpr int kBmpHeaderBytes = 1078;      // file, info header, 256-colour table
    static constexpr int kDraw3BufferBytes = 500001;  // draw3's buffer, indexes 0 to 500000
    static constexpr const char* kErrorGif = "err.gif";
    // The longest request identifier, in bytes of its UTF-8 file-name form: the file names
    // made from it (ID.bmp and the drawing layer's ID.bmp.partPID, ID MS.gif and the
    // converter's ID MS.gif.XXXXXX) then stay below the 255 bytes a file name may hold,
    // whatever the process id and the clock.
    static constexpr int kMaxIdBytes = 200;

    explicit RequestService(Settings settings, QObject* parent = nullptr);
    ~RequestService() override;

    // The class initialisation run for each new instance: sdllisinit, and sdllinit with the
    // data and temporary folders when it returned -1. Raises the engine's binding errors.
    void initialise();

    // Adds 1 to the request counter and returns a + b + counter; error 6 when any addition
    // leaves the int32 range (the counter keeps its new value when the increment succeeded).
    int32_t test(int32_t a, int32_t b);
    // Loads the window when needed and shows it; returns 0.
    int32_t show();
    // Unloads the window and asks the owner to end the process (endRequested).
    void myend();
    // Draws the view at the current size of P and fills `b` with the 8-bit RLE8 BMP; returns
    // the number of image bytes. Error 9 when `b` is empty or shorter than 1078 + W x H.
    int32_t draw2(int32_t xc, int32_t yc, double mp, QByteArray& b);
    // Draws the view at the current size of P and returns the whole 8-bit RLE8 BMP file.
    // Error 9 when W x H exceeds the 500,001-byte buffer's room; error 5 when the engine
    // refuses the export.
    QByteArray draw3(int32_t xc, int32_t yc, double mp);
    // Draws the view at MapW x MapH (outer size of P), converts it to AppDir/tmp/ID MS.gif and
    // returns that file name, or "err.gif" on any failure (never an error). A size that P
    // refuses leaves P as it was.
    QString draw(int32_t xc, int32_t yc, double mp, const QString& id, int16_t mapWidth,
                 int16_t mapHeight);

    bool windowLoaded() const { return !window_.isNull(); }
    // The window, loaded (hidden) when needed. Raises the error that stops it from loading.
    ConsoleWindow& window();
    // Deletes the window if loaded and emits windowUnloaded.
    void unloadWindow();

    EngineBinding& engine() { return engine_; }
    const Settings& settings() const { return settings_; }
    int32_t counter() const { return counter_; }

    // True when `id` can name a file in the temporary folder: not empty, not "." or "..", no
    // path separator ('/' or '\'), no NUL or other control character, no unpaired surrogate,
    // and at most kMaxIdBytes bytes in UTF-8.
    static bool isPlainFileName(const QString& id);

  signals:
    void windowUnloaded();
    void endRequested();

  private:
    void setBusy(ConsoleWindow& window);
    void setDone(ConsoleWindow& window);
    int32_t drawInto(ConsoleWindow& window, int32_t xc, int32_t yc, double mp);
    int64_t exportRoom();
    QString drawSteps(int32_t xc, int32_t yc, double mp, const QString& id, int16_t mapWidth,
                      int16_t mapHeight);

    Settings settings_;
    EngineBinding engine_;
    QPointer<ConsoleWindow> window_;
    int32_t counter_ = 0;
    int64_t lastViewPixels_ = 0;  // W x H of the last view the engine accepted
};

}  // namespace tessera

#endif  // TESSERA_REQUEST_SERVICE_H
