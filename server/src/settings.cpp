// settings.cpp: reading the AppDir and the test hooks.
#include "settings.h"

#include <QFileInfo>
#include <QtGlobal>

namespace tessera {

Settings Settings::fromEnvironment(const QByteArray& builtInEnginePath) {
    Settings settings;
    settings.appDir = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalPath();
    settings.enginePath = builtInEnginePath;
    settings.testHooks = qEnvironmentVariable("TESSERA_TEST_HOOKS") == QLatin1String("1");
    if (!settings.testHooks) return settings;

    const QString fake = qEnvironmentVariable("TESSERA_FAKE_TIME");
    if (!fake.isEmpty()) {
        QDateTime time = QDateTime::fromString(fake, Qt::ISODate);
        if (time.isValid()) {
            settings.fakeTime = time;
        } else {
            qWarning("TESSERA_FAKE_TIME is not YYYY-MM-DDTHH:MM:SS: %s", qPrintable(fake));
        }
    }
    const QByteArray engine = qgetenv("TESSERA_ENGINE_PATH");
    if (!engine.isEmpty()) settings.enginePath = engine;
    settings.converterPath = qgetenv("TESSERA_CONVERTER_PATH");
    return settings;
}

}  // namespace tessera
