// registration.cpp: writing and removing the user's D-Bus activation file.
#include "registration.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include "bus_objects.h"

namespace tessera {

QString userServiceFile() {
    QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
    if (dataHome.isEmpty() || !QDir::isAbsolutePath(dataHome)) {
        dataHome = QDir::homePath() + QStringLiteral("/.local/share");
    }
    return dataHome + QStringLiteral("/dbus-1/services/") + QLatin1String(kServiceName) +
           QStringLiteral(".service");
}

QString serviceFileText(const QString& executable) {
    return QStringLiteral("[D-BUS Service]\nName=%1\nExec=%2\n")
        .arg(QLatin1String(kServiceName), executable);
}

QString registerServer(const QString& executable) {
    const QString path = userServiceFile();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        return QStringLiteral("cannot create the folder of ") + path;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) return file.errorString();
    file.write(serviceFileText(executable).toUtf8());
    if (!file.commit()) return file.errorString();
    return QString();
}

QString unregisterServer() {
    const QString path = userServiceFile();
    if (!QFileInfo::exists(path)) return QString();
    QFile file(path);
    if (!file.remove()) return file.errorString();
    return QString();
}

}  // namespace tessera
