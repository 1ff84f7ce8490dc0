// main.cpp: the tessera request server: command line, logging, display choice and the bus.
#include <QApplication>
#include <QDBusConnection>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bus_objects.h"
#include "kcommon/cli.h"
#include "registration.h"
#include "server_log.h"
#include "service_host.h"
#include "settings.h"
#include "tessera_contract.h"

namespace {

constexpr const char* kUsage =
    "Usage: tessera [--regserver | --unregserver | --help | --version]\n"
    "\n"
    "The road-map request server. It offers the automation class tesseraClass on the session\n"
    "bus under the name tessera.tesseraClass and is normally started by the bus on first use.\n";

constexpr const char* kNotes =
    "Without an option the server starts: it takes the bus name, draws map views from the data\n"
    "set in <folder of this program>/kgrid/ and writes files into <folder>/tmp/. It logs to\n"
    "<folder>/tmp/tessera.log, at most 1 MiB before it is renamed to tessera.log.1 (standard\n"
    "error when that folder is missing). With no DISPLAY and no WAYLAND_DISPLAY it runs with\n"
    "Qt's offscreen platform.\n";

// What the command line asks for.
enum class Action { kServe, kRegister, kUnregister };

// Opens the log file in AppDir/tmp/ (stderr stays the log when that fails).
void openLog(const tessera::Settings& settings) {
    if (!QFileInfo(settings.tmpDir()).isDir()) return;
    tessera::serverLog().file().open(
        QFile::encodeName(settings.tmpDir() + QStringLiteral("tessera.log")).toStdString());
}

// With no display to talk to, the window lives on Qt's offscreen platform.
void chooseDisplay() {
    const char* display = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    const bool noDisplay =
        (display == nullptr || *display == '\0') && (wayland == nullptr || *wayland == '\0');
    if (noDisplay && std::getenv("QT_QPA_PLATFORM") == nullptr) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
}

// The absolute path of this executable.
QString executablePath() {
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

// Writes or removes the activation file. Returns the exit status.
int registration(Action action) {
    const bool add = action == Action::kRegister;
    const QString why =
        add ? tessera::registerServer(executablePath()) : tessera::unregisterServer();
    if (!why.isEmpty()) {
        std::fprintf(stderr, "tessera: cannot %s: %s\n", add ? "register" : "unregister",
                     qPrintable(why));
        return 1;
    }
    std::printf("%s: %s\n", add ? "registered" : "unregistered",
                qPrintable(tessera::userServiceFile()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Action action = Action::kServe;
    int actions = 0;
    auto choose = [&](Action a) -> kcli::Handler {
        return [&action, &actions, a](const std::string&) {
            action = a;
            ++actions;
            return std::string();
        };
    };
    const kcli::Program program{
        .name = "tessera",
        .usage = kUsage,
        .options = {{.name = "--regserver",
                     .help = "write the activation file for the current user "
                             "($XDG_DATA_HOME/dbus-1/services/tessera.tesseraClass.service)",
                     .handle = choose(Action::kRegister)},
                    {.name = "--unregserver",
                     .help = "remove that activation file",
                     .handle = choose(Action::kUnregister)}},
        .notes = kNotes,
        .version = std::string("tessera 1.00 (type library ") + tessera::contract::kVersion + ")"};
    if (const auto end = kcli::parse(program, argc, argv)) return *end;
    if (actions > 1) return kcli::refuse(program, "give one option at most");
    if (action != Action::kServe) return registration(action);

    tessera::Settings settings = tessera::Settings::fromEnvironment(tessera::kBuiltInEnginePath);
    openLog(settings);
    tessera::installQtLog();
    chooseDisplay();

    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setStyle(QStringLiteral("Fusion"));
    qInfo("starting in %s (engine %s, platform %s%s)", qPrintable(settings.appDir),
          settings.enginePath.constData(), qPrintable(QApplication::platformName()),
          settings.testHooks ? ", test hooks on" : "");

    tessera::ServiceHost service(settings, tessera::serverLog());
    tessera::ServerBus bus(service, QDBusConnection::sessionBus());
    const QString why = bus.start(settings.testHooks);
    if (!why.isEmpty()) {
        qCritical("cannot start: %s", qPrintable(why));
        if (tessera::serverLog().file().isOpen()) {
            std::fprintf(stderr, "tessera: cannot start: %s\n", qPrintable(why));
        }
        return 1;
    }
    const int status = QApplication::exec();
    qInfo("ended");
    return status;
}
