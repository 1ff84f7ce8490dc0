// service_host.cpp: the request service on Win32.
#include "service_host.h"

#include <windows.h>

#include "console_window.h"

namespace tessera {

core::Folders ServiceHost::folders(const std::string& appDir) {
    return core::Folders{appDir + "\\kgrid\\", appDir + "\\tmp\\"};
}

ServiceHost::ServiceHost(const std::string& appDir, core::Log& log,
                         std::function<void()> onWindowUnloaded)
    : log_(log),
      onWindowUnloaded_(std::move(onWindowUnloaded)),
      service_(folders(appDir), core::FileNameRules::kWindows,
               core::Services{engine_, clock_, files_, log_, *this}) {}

ServiceHost::~ServiceHost() = default;

std::unique_ptr<core::Form> ServiceHost::loadForm() {
    return std::make_unique<ConsoleWindow>(engine_, log_, [this] { service_.unloadWindow(); });
}

void ServiceHost::windowUnloaded() {
    if (onWindowUnloaded_) onWindowUnloaded_();
}

void ServiceHost::endRequested() {
    ExitProcess(0);
}

}  // namespace tessera
