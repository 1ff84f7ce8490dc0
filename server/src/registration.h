// registration.h: self-registration of the server for D-Bus activation for the current user.
#ifndef TESSERA_REGISTRATION_H
#define TESSERA_REGISTRATION_H

#include <QString>

namespace tessera {

// The activation file for the current user:
// $XDG_DATA_HOME/dbus-1/services/tessera.tesseraClass.service (XDG_DATA_HOME defaulting to
// ~/.local/share).
QString userServiceFile();

// The text of an activation file that starts `executable`.
QString serviceFileText(const QString& executable);

// Writes the user's activation file for `executable`. Returns "" on success, else why not.
QString registerServer(const QString& executable);
// Removes the user's activation file (no error when there is none). Returns "" or why not.
QString unregisterServer();

}  // namespace tessera

#endif  // TESSERA_REGISTRATION_H
