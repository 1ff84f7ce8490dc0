// service_host.h: the D-Bus server's side of the request service: core::RequestService on
// Qt and the Linux drawing layer. It binds the engine, loads the console window as a Qt
// widget, reads the clock (or the test hooks' fixed time) and tells the bus layer when the
// window is unloaded and when myend ends the server. Knows nothing about the bus itself.
#ifndef TESSERA_SERVICE_HOST_H
#define TESSERA_SERVICE_HOST_H

#include <tessera/core/request_service.h>

#include <QObject>
#include <QPointer>

#include "console_window.h"
#include "engine_binding.h"
#include "settings.h"

namespace tessera {

class ServiceHost : public QObject, public core::Host, public core::Clock {
    Q_OBJECT
  public:
    // `log` receives the service's messages.
    ServiceHost(Settings settings, core::Log& log, QObject* parent = nullptr);
    ~ServiceHost() override;

    core::RequestService& service() { return service_; }
    EngineBinding& engine() { return engine_; }
    const Settings& settings() const { return settings_; }
    // The console window, loaded (hidden) when needed; raises the error that keeps it from
    // loading.
    ConsoleWindow& window();

    // core::Host
    std::unique_ptr<core::Form> loadForm() override;
    void windowUnloaded() override;
    void endRequested() override;
    // core::Clock: the local time, or the test hooks' fixed time.
    core::LocalTime now() override;

  signals:
    void windowUnloadedSignal();
    void endRequestedSignal();

  private:
    Settings settings_;
    core::Log& log_;
    EngineBinding engine_;
    core::SystemClock systemClock_;
    core::SystemFiles files_;
    core::RequestService service_;
};

}  // namespace tessera

#endif  // TESSERA_SERVICE_HOST_H
