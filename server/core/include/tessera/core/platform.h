// tessera/core/platform.h: what the request service needs from the system it runs on, as
// small interfaces: the map engine's server entry points, the GIF converter, the clock, files
// and the log. The D-Bus server (Qt, the Linux drawing layer, dlopen) and the COM server
// (Win32, GDI, LoadLibrary, COM) each implement them; the core's tests use fakes.
//
// Paths and texts are UTF-8 throughout; an implementation converts them to what its system
// takes (a Windows path to UTF-16, the engine's folders to the ANSI code page).
#ifndef TESSERA_CORE_PLATFORM_H
#define TESSERA_CORE_PLATFORM_H

#include <cstdint>
#include <string>
#include <string_view>

namespace tessera::core {

// The device context the engine draws into: an HDC of the platform's drawing layer, opaque
// to the core.
using DeviceContext = void*;

// The map engine's entry points the server calls. Each raises error 48 when the library does
// not load and 453 when the entry point is missing; the binding of each is made on its first
// call and kept.
class Engine {
  public:
    virtual ~Engine() = default;
    // -1 while no data set is loaded.
    virtual int sdllisinit() = 0;
    // Loads the data set of `dataDir`, with `tmpDir` for the engine's own files; both end in
    // the platform's folder separator.
    virtual int sdllinit(const std::string& dataDir, const std::string& tmpDir) = 0;
    // Draws the view with its top-left corner at (left, top) in world metres into `dc`.
    // 0 when drawn, -1 when the engine refused (a scale outside its range).
    virtual int sdlldraw(DeviceContext dc, int left, int top, int width, int height, double scale,
                         const char* layers) = 0;
    // Writes the last view drawn as an 8-bit RLE8 BMP file into `buffer`; the number of image
    // bytes after the 1078-byte header, or a negative number when it refused.
    virtual int sdllgetbmp(unsigned char* buffer) = 0;
};

// The calling convention of the engine's exports (KESTREL_CALL of kestrel.h): standard call
// on Windows, the platform's C convention elsewhere.
#if defined(_WIN32)
#define TESSERA_ENGINE_CALL __stdcall
#else
#define TESSERA_ENGINE_CALL
#endif

// The engine's entry points bound on their first call and kept for the life of the process,
// over a platform's library loader. sdlldraw may come from another path than the others; all
// must reach one loaded instance of the library, whose state they share.
class BoundEngine : public Engine {
  public:
    int sdllisinit() override;
    int sdllinit(const std::string& dataDir, const std::string& tmpDir) override;
    int sdlldraw(DeviceContext dc, int left, int top, int width, int height, double scale,
                 const char* layers) override;
    int sdllgetbmp(unsigned char* buffer) override;

    // Number of sdllinit calls made through this binding.
    int initCalls() const { return initCalls_; }

  protected:
    // The library an entry point is looked up in.
    enum class Library {
        kBareName,  // sdllisinit, sdllinit, sdllgetbmp
        kDrawPath,  // sdlldraw
    };
    // The address of `entry` in `library`. Raises error 48 when the library does not load and
    // 453 (raiseMissingEntryPoint) when the entry point is missing.
    virtual void* find(Library library, const char* entry) = 0;
    // A folder as sdllinit takes it (the platform's narrow encoding); UTF-8 by default.
    virtual std::string folderArgument(const std::string& folder) { return folder; }

  private:
    // `slot`, bound to `name` in `library` on the first call.
    template <typename Function>
    Function entry(Function& slot, Library library, const char* name) {
        if (slot == nullptr) slot = reinterpret_cast<Function>(find(library, name));
        return slot;
    }

    int(TESSERA_ENGINE_CALL* isinit_)() = nullptr;
    int(TESSERA_ENGINE_CALL* init_)(const char*, const char*) = nullptr;
    int(TESSERA_ENGINE_CALL* draw_)(void*, int, int, int, int, double, const char*) = nullptr;
    int(TESSERA_ENGINE_CALL* getbmp_)(unsigned char*) = nullptr;
    int initCalls_ = 0;
};

// The GIF converter of the console window (BMP2GIF1): member 1 converts, member 3 tells
// whether the last conversion failed.
class Converter {
  public:
    virtual ~Converter() = default;
    // Member 1. Raises the error the control reports for a call that fails.
    virtual void convert(const std::string& bmpPath, const std::string& gifPath, bool flag) = 0;
    // Member 3.
    virtual bool failed() = 0;
    // The converter's reason for the last failure, for the log ("" when it gives none).
    virtual std::string lastError() { return {}; }
};

// A local date and time.
struct LocalTime {
    int year = 0, month = 0, day = 0;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalTime now() = 0;
};

// The clock of the system (local time).
class SystemClock : public Clock {
  public:
    LocalTime now() override;
};

class Files {
  public:
    virtual ~Files() = default;
    virtual bool isFolder(const std::string& path) = 0;
    // Removes a file; false when it was not removed.
    virtual bool remove(const std::string& path) = 0;
};

// Files of the system, through the C++ library's file system (UTF-8 paths on every platform).
class SystemFiles : public Files {
  public:
    bool isFolder(const std::string& path) override;
    bool remove(const std::string& path) override;
};

enum class LogLevel { kDebug, kInfo, kWarning, kCritical, kFatal };

// Where the service's messages go. A message is one line; text that came from a client is
// escaped before it is part of one (logText).
class Log {
  public:
    virtual ~Log() = default;
    virtual void write(LogLevel level, std::string_view message) = 0;
    void info(std::string_view message) { write(LogLevel::kInfo, message); }
    void warning(std::string_view message) { write(LogLevel::kWarning, message); }
};

}  // namespace tessera::core

#endif  // TESSERA_CORE_PLATFORM_H
