// service_host.h: the COM server's side of the request service: core::RequestService on Win32.
// It binds the engine, loads the console window, reads the system's clock and files, and tells
// the COM layer when the window is unloaded; myend ends the process at once.
#ifndef TESSERA_WIN_SERVICE_HOST_H
#define TESSERA_WIN_SERVICE_HOST_H

#include <tessera/core/request_service.h>

#include <functional>
#include <string>

#include "engine_binding.h"

namespace tessera {

class ServiceHost : public core::Host {
  public:
    // `appDir`: the folder of the program (UTF-8), without a trailing separator.
    // `onWindowUnloaded` runs after the window has been unloaded.
    ServiceHost(const std::string& appDir, core::Log& log, std::function<void()> onWindowUnloaded);
    ~ServiceHost() override;

    core::RequestService& service() { return service_; }
    EngineBinding& engine() { return engine_; }

    // The application's folders: AppDir\kgrid\ and AppDir\tmp\.
    static core::Folders folders(const std::string& appDir);

    // core::Host
    std::unique_ptr<core::Form> loadForm() override;
    void windowUnloaded() override;
    // Ends the process inside the call.
    [[noreturn]] void endRequested() override;

  private:
    core::Log& log_;
    std::function<void()> onWindowUnloaded_;
    EngineBinding engine_;
    core::SystemClock clock_;
    core::SystemFiles files_;
    core::RequestService service_;
};

}  // namespace tessera

#endif  // TESSERA_WIN_SERVICE_HOST_H
