// service_host.cpp: the request service on Qt.
#include "service_host.h"

#include <QFile>

namespace tessera {

namespace {

core::Folders foldersOf(const Settings& settings) {
    return core::Folders{QFile::encodeName(settings.dataDir()).toStdString(),
                         QFile::encodeName(settings.tmpDir()).toStdString()};
}

}  // namespace

ServiceHost::ServiceHost(Settings settings, core::Log& log, QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      log_(log),
      engine_(settings_.enginePath),
      service_(foldersOf(settings_), core::FileNameRules::kPosix,
               core::Services{engine_, *this, files_, log_, *this}) {}

ServiceHost::~ServiceHost() = default;

ConsoleWindow& ServiceHost::window() {
    return static_cast<ConsoleWindow&>(service_.window());
}

std::unique_ptr<core::Form> ServiceHost::loadForm() {
    auto window = std::make_unique<ConsoleWindow>(engine_, log_, settings_.converterPath);
    // Unload after the close event has been handled.
    connect(
        window.get(), &ConsoleWindow::closeRequested, this, [this] { service_.unloadWindow(); },
        Qt::QueuedConnection);
    return window;
}

void ServiceHost::windowUnloaded() {
    emit windowUnloadedSignal();
}

void ServiceHost::endRequested() {
    emit endRequestedSignal();
}

core::LocalTime ServiceHost::now() {
    if (!settings_.fakeTime) return systemClock_.now();
    const QDateTime& t = *settings_.fakeTime;
    return core::LocalTime{t.date().year(),   t.date().month(),  t.date().day(), t.time().hour(),
                           t.time().minute(), t.time().second(), t.time().msec()};
}

}  // namespace tessera
