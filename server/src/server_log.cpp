// server_log.cpp: Qt's messages into the server's log.
#include "server_log.h"

#include <unistd.h>

#include <QtGlobal>

namespace tessera {

QString logSafe(QStringView text, int maxChars) {
    const std::u16string_view units(text.utf16(), static_cast<size_t>(text.size()));
    return QString::fromStdString(core::logText(units, maxChars));
}

core::LogWriter& serverLog() {
    // Never destroyed: Qt may still log while the program's statics are torn down.
    static core::LogWriter& log = *new core::LogWriter(static_cast<unsigned long>(getpid()));
    return log;
}

namespace {

core::LogLevel levelOf(QtMsgType type) {
    switch (type) {
        case QtDebugMsg:
            return core::LogLevel::kDebug;
        case QtWarningMsg:
            return core::LogLevel::kWarning;
        case QtCriticalMsg:
            return core::LogLevel::kCritical;
        case QtFatalMsg:
            return core::LogLevel::kFatal;
        case QtInfoMsg:
            break;
    }
    return core::LogLevel::kInfo;
}

void logMessage(QtMsgType type, const QMessageLogContext&, const QString& message) {
    serverLog().write(levelOf(type), message.toStdString());
}

}  // namespace

void installQtLog() {
    qInstallMessageHandler(logMessage);
}

}  // namespace tessera
