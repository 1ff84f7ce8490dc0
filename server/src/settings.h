// settings.h: what the server takes from its surroundings at startup: the AppDir, the engine's
// absolute path, and the test hooks.
//
// Test hooks are honoured only when TESSERA_TEST_HOOKS=1 is set:
//   TESSERA_FAKE_TIME=YYYY-MM-DDTHH:MM:SS  the clock stands still at that local time;
//   TESSERA_ENGINE_PATH=/abs/libkestrel.so the file sdlldraw is bound from (so that a test can
//                                          put libkestrelsrv.so in libkestrel.so's place
//                                          together with LD_LIBRARY_PATH);
//   TESSERA_CONVERTER_PATH=/abs/lib.so     the GIF converter library to load;
//   and the debug object /tessera/debug (interface tessera.Debug).
#ifndef TESSERA_SETTINGS_H
#define TESSERA_SETTINGS_H

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <optional>

namespace tessera {

struct Settings {
    QString appDir;            // directory of the executable, no trailing '/'
    QByteArray enginePath;     // absolute path that sdlldraw is bound from
    QByteArray converterPath;  // empty: the converter's bare name
    std::optional<QDateTime> fakeTime;
    bool testHooks = false;

    // AppDir/kgrid/ and AppDir/tmp/, with the trailing '/'.
    QString dataDir() const { return appDir + QStringLiteral("/kgrid/"); }
    QString tmpDir() const { return appDir + QStringLiteral("/tmp/"); }

    // Reads the executable's directory and the environment. `builtInEnginePath` is the
    // absolute path fixed at build time.
    static Settings fromEnvironment(const QByteArray& builtInEnginePath);
};

// The absolute engine path fixed when this executable was built (defined per executable).
extern const char* const kBuiltInEnginePath;

}  // namespace tessera

#endif  // TESSERA_SETTINGS_H
